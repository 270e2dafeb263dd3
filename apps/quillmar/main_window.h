#pragma once
// The program's main window. Replace the body of CreateMainWindow to install another screen;
// nothing else in the start-up depends on what the window is.
#include <QWidget>
#include <memory>

#include "discovery/mreg_app.h"
#include "ui/qt_prompt.h"

struct MainWindowContext {
  CMRegApp& app;
  ui::QtPrompt& prompt;
  platform::ProfileStore& profile;
};

// Title of the main window; "Quillmar Version" begins it.
QString MainWindowTitle();

// Creates the main window (not yet shown). A QDialog ends the run when it finishes; any other
// window ends it when it is closed.
std::unique_ptr<QWidget> CreateMainWindow(MainWindowContext& context);
