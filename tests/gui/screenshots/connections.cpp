// The "Verbindungen" and "Erweiterungen" pages of the advanced window on demo module 6, and the
// connections page with its PLC program controls shown (Shift+Alt+E) and PLC I/O ticked.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>

#include "config/ui/dlg_connections.h"
#include "params/ui/cmreg_dlg.h"
#include "shots.h"

namespace {

int RenderConnections(shots::Context& context) {
  int failures = 0;
  params::CMRegDlg screen(params::MakeSocketNodeLink(), context.prompt, context.profile);
  ui::CTabDlg::Pages pages;
  config::CDlgConnections::Hooks hooks;
  hooks.maskFor = [](const std::string&) { return std::string("255.255.255.0"); };
  config::InstallConnectionPages(screen, pages, hooks);
  screen.SetAdvancedPages(pages);
  screen.show();
  shots::WaitFor([&] { return screen.ShownView().fieldsSerial > 0; }, 5000);
  screen.findChild<QLineEdit*>(QStringLiteral("from"))->setText(QStringLiteral("6"));
  screen.Refresh();
  if (!shots::WaitFor([&] { return screen.ShownView().connected; }, 20000)) {
    std::printf("node 6 did not connect\n");
    ++failures;
  }
  screen.OpenAdvanced();
  shots::WaitFor([&] { return screen.AdvancedWindow() && screen.AdvancedWindow()->isVisible(); },
                 5000);
  QDialog* advanced = screen.AdvancedWindow();
  auto* tabs =
      advanced ? advanced->findChild<QTabWidget*>(QStringLiteral("CMRegTabCtrl")) : nullptr;
  if (!tabs) return failures + 1;

  tabs->setCurrentIndex(2);
  auto* connections = advanced->findChild<config::CDlgConnections*>();
  if (!connections || !shots::WaitFor([&] { return connections->Shown().read; }, 10000))
    return failures + 1;
  failures += !shots::Save(advanced, context.folder, QStringLiteral("connections.png"));
  connections->ShowPlcControls();
  connections->findChild<QCheckBox*>(QStringLiteral("ctl1188"))->click();
  connections->findChild<QComboBox*>(QStringLiteral("ctl1361"))->setCurrentIndex(1);
  failures += !shots::Save(advanced, context.folder, QStringLiteral("connections_plc.png"));

  tabs->setCurrentIndex(8);
  auto* extension = advanced->findChild<config::CDlgExtension*>();
  shots::WaitFor([&] { return false; }, 300);  // its module read
  if (!extension) return failures + 1;
  extension->findChild<QComboBox*>(QStringLiteral("ctl1389"))->setCurrentIndex(0);
  failures += !shots::Save(advanced, context.folder, QStringLiteral("extension.png"));
  advanced->close();
  return failures;
}

const shots::Registrar connectionsPart("5_connections", RenderConnections);

}  // namespace
