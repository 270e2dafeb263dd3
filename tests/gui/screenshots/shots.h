// The screenshot program's parts: each screen's file registers a function that renders its
// windows to PNG files. main.cpp makes the lab, starts linesim with the demo line and runs every
// registered function in the PC's namespace, in the order of their names.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>

#include "base/prompt.h"
#include "fixtures/linesim_fixture.h"
#include "platform/profile.h"

namespace shots {

struct Context {
  QString folder;                   // where the PNG files go
  base::Prompt& prompt;             // answers every question silently
  platform::ProfileStore& profile;  // a profile in memory
  const test::Linesim& line;        // the demo line, for injected faults
};

// Returns the number of failures (a file not written, a window that did not come up).
using ShotFunction = std::function<int(Context&)>;

struct Registrar {
  Registrar(const char* name, ShotFunction function);
};

// Processes events until `done` holds or timeoutMs passed.
bool WaitFor(const std::function<bool()>& done, int timeoutMs);

// Grabs the widget into folder/name; prints the outcome. With the text checks on (--check),
// first checks the window's texts (text_checks.h): a problem fails the save.
bool Save(QWidget* widget, const QString& folder, const QString& name);

// The checks Save runs (none by default).
struct TextChecks {
  bool on = false;
  bool english = false;       // also: no German text left
  QStringList germanSources;  // GermanSourceTexts() of the translation files
  QStringList userTexts;      // the user's own data the windows show now (GermanTexts())
};
TextChecks& ActiveTextChecks();

}  // namespace shots
