#include "main_window.h"

#include <QCoreApplication>
#include <QPointer>
#include <QStringList>

#include "config/plc_program.h"
#include "discovery/pc_address.h"
#include "params/node_screen_controller.h"
#include "params/range_operations.h"
#include "params/ui/cmreg_dlg.h"
#include "plc/ui/dlg_plc_cfg.h"

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
  // The PLC data view of a module in PLC mode: one at a time (one request manager serves it).
  params::CMRegDlg* node = screen.get();
  node->SetPlcDataScreen([node, &prompt = context.prompt](const std::string& address) {
    static QPointer<plc::CDlgPLC_CFG> open;
    if (open) {
      open->SetAddress(address);
      open->raise();
      return;
    }
    open = new plc::CDlgPLC_CFG(address, std::string(), prompt, node);
    open->setAttribute(Qt::WA_DeleteOnClose);
    open->show();
  });
  return screen;
}
