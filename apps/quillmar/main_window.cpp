#include "main_window.h"

#include <QDialog>
#include <QLabel>
#include <QVBoxLayout>

#ifndef QM_VERSION
#define QM_VERSION "0.1"
#endif

QString MainWindowTitle() {
  return QString("%1 Version %2").arg(CMRegApp::kProductTitle, QM_VERSION);
}

std::unique_ptr<QWidget> CreateMainWindow(MainWindowContext& context) {
  (void)context;
  // Placeholder until the node screen is installed here: it must not touch the network.
  auto window = std::make_unique<QDialog>();
  window->setWindowTitle(MainWindowTitle());
  auto* layout = new QVBoxLayout(window.get());
  layout->addWidget(new QLabel(QStringLiteral("Quillmar"), window.get()));
  window->resize(480, 320);
  return window;
}
