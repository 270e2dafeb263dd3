#include "main_window.h"

#include <QCoreApplication>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include "config/plc_program.h"
#include "config/ui/dlg_connections.h"
#include "diag/ui/diagnostic_screens.h"
#include "discovery/inventory.h"
#include "discovery/pc_address.h"
#include "pages/ui/advanced_pages.h"
#include "params/node_screen_controller.h"
#include "params/range_operations.h"
#include "params/ui/cmreg_dlg.h"
#include "plc/ui/dlg_plc_cfg.h"
#include "report/ui/report_dlg.h"
#include "topology/ui/autoconfig_to_dlg.h"
#include "topology/ui/cpl_dlg.h"
#include "upgrade_pages.h"
#include "watch/ui/line_watch_dlg.h"

#ifndef QM_VERSION
#define QM_VERSION "0.1"
#endif

QString MainWindowTitle() {
  return QString("%1 Version %2").arg(CMRegApp::kProductTitle, QM_VERSION);
}

std::unique_ptr<QWidget> CreateMainWindow(MainWindowContext& context) {
  // The node screen; a module address given on the command line is shown at once.
  const QStringList arguments = QCoreApplication::arguments();
  const std::string startAddress =
      arguments.size() > 1 ? arguments.at(1).trimmed().toStdString() : std::string();
  // Debugging sends the modules the address of the selected adapter that fits them.
  params::ScreenRangeHooks ranges;
  ranges.pcAddressFor = [&app = context.app](const std::string& module) {
    return discovery::PcAddressFor(app, module);
  };
  auto screen = std::make_unique<params::CMRegDlg>(
      params::MakeSocketNodeLink(
          [](const std::string& ip) { return config::ReadPlcProgramName(ip); }),
      context.prompt, context.profile, startAddress, nullptr, std::move(ranges));
  // The advanced window's "Verbindungen" and "Erweiterungen" pages.
  ui::CTabDlg::Pages pages;
  config::CDlgConnections::Hooks hooks;
  hooks.readLock = [&app = context.app](const std::string& ip, bool lock) {
    return config::_ReadLock(app, config::LockPacket(lock ? 1 : 0), ip);
  };
  hooks.maskFor = [&app = context.app](const std::string& ip) {
    AdapterPtr adapter = app.SelectedAdapter();
    if (!adapter) return std::string();
    std::lock_guard guard(adapter->lock);
    NodePtr node = FindNodeByIp(ip, nullptr, adapter->nodes);
    return node ? node->maskText : std::string();
  };
  config::InstallConnectionPages(*screen, pages, std::move(hooks));
  // "Upgrade" and "Netzwerk Einstellungen" (the discovered modules).
  InstallUpgradePages(pages, context);
  // The advanced pages; the flex zone page lists the selected adapter's modules.
  pages::InstallAdvancedPages(pages, [&app = context.app] {
    std::vector<std::shared_ptr<CNode_Data>> nodes;
    std::vector<pages::ListedModule> modules;
    if (app.Discover(false, &nodes) != 1) return modules;
    for (const auto& node : nodes) modules.push_back({node->ipText, node->serialNumber});
    return modules;
  });
  screen->SetAdvancedPages(pages);
  // Statistics, diagnostic log, drive history and the diagnostic screen; the line's topology
  // window (Ctrl+Shift+T), whose "change of IP" item opens CDlg_AutoConfigTo.
  params::CMRegDlg::Screens screens = diag::WithDiagnosticScreens(*screen);
  const topology::ui::CPLDlg::ChangeIpOpener changeIp =
      [&app = context.app, &prompt = context.prompt](const topology::CPLViewDevice& device,
                                                     QWidget* parent) {
        CDlg_AutoConfigTo dialog(app, prompt, device.node, parent);
        return dialog.exec() == QDialog::Accepted;
      };
  screens.topology = [&app = context.app, &prompt = context.prompt, window = screen.get(),
                      changeIp] {
    topology::ui::OpenTopologyWindow(app, prompt, window, false, changeIp);
  };
  // The hand-over report, from the advanced window.
  screens.report = [&app = context.app, window = screen.get()] {
    // Owned by the advanced window while it is open, so that its modality does not block it.
    QWidget* owner = window->AdvancedWindow() ? static_cast<QWidget*>(window->AdvancedWindow())
                                              : static_cast<QWidget*>(window);
    auto* dialog = new report::CReportDlg(app, owner);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
  };
  // The line watch, from the advanced window too (owned by it while it is open, like the report).
  screens.lineWatch = [&app = context.app, window = screen.get()] {
    QWidget* owner = window->AdvancedWindow() ? static_cast<QWidget*>(window->AdvancedWindow())
                                              : static_cast<QWidget*>(window);
    watch::ui::OpenLineWatchWindow(app, owner);
  };
  screen->SetScreens(screens);
  // QM_SHOW_TOPOLOGY=1 opens the topology window with the node screen (the demo does).
  if (qEnvironmentVariable("QM_SHOW_TOPOLOGY") == QLatin1String("1")) {
    QTimer::singleShot(
        0, screen.get(),
        [&app = context.app, &prompt = context.prompt, window = screen.get(), changeIp] {
          topology::ui::OpenTopologyWindow(app, prompt, window, false, changeIp);
        });
  }
  // The PLC data view of a module in PLC mode: one at a time (one request manager serves it).
  params::CMRegDlg* node = screen.get();
  node->SetPlcDataScreen([node, &prompt = context.prompt](const std::string& address) {
    static QPointer<plc::CDlgPLC_CFG> open;
    if (open) {
      open->SetAddress(address);
      open->raise();
      return;
    }
    // The view writes only into a module that runs the program its tags describe.
    const plc::ModuleProgramReader readProgram = [](const std::string& ip) {
      const config::PlcProgramOnModule found = config::ReadPlcProgramOnModule(ip);
      return plc::ModuleProgram{found.read, found.length > 0, found.name, found.failure};
    };
    open = new plc::CDlgPLC_CFG(address, std::string(), prompt, readProgram, node);
    open->setAttribute(Qt::WA_DeleteOnClose);
    open->show();
  });
  return screen;
}
