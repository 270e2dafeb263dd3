#include "diag/ui/diagnostic_screens.h"

#include <QLineEdit>
#include <QPointer>
#include <memory>

#include "diag/ui/diagnostic_log_dlg.h"
#include "diag/ui/diagnostic_screen_window.h"
#include "diag/ui/drive_history_dlg.h"
#include "diag/ui/statistics_dlg.h"

namespace diag {

namespace {

// Shows the window held in `slot`, making it first when there is none.
template <typename Window, typename Make>
void OpenOnce(QPointer<Window>& slot, Make make) {
  if (!slot) {
    slot = make();
    slot->setAttribute(Qt::WA_DeleteOnClose);
  }
  slot->show();
  slot->raise();
  slot->activateWindow();
}

struct OpenWindows {
  QPointer<CDlgDiagnostic> statistics;
  QPointer<CDiagnosticLog> log;
  QPointer<UxMtrHistory> history;
  QPointer<DiagnosticScreen> screen;
};

}  // namespace

params::CMRegDlg::Screens WithDiagnosticScreens(params::CMRegDlg& screen,
                                                params::CMRegDlg::Screens others) {
  auto open = std::make_shared<OpenWindows>();
  params::CMRegDlg* node = &screen;
  others.diagnosticScreen = [open, node] {
    OpenOnce(open->screen, [node] { return new DiagnosticScreen(*node, node); });
  };
  others.diagnosticLog = [open, node] {
    OpenOnce(open->log, [node] { return new CDiagnosticLog(*node, node); });
  };
  others.driveHistory = [open, node] {
    OpenOnce(open->history, [node] {
      return new UxMtrHistory([node] { return node->ShownView().moduleAddress; }, node);
    });
  };
  others.statistics = [open, node] {
    OpenOnce(open->statistics, [node] {
      CDlgDiagnostic::Host host;
      host.network = [node] { return node->ShownView().networkText; };
      host.module = [node] { return node->ShownView().node; };
      // The node screen moves along as the user typed it: its From field and Einlesen.
      host.readdress = [node](int module) {
        if (auto* from = node->findChild<QLineEdit*>(QStringLiteral("from"))) {
          from->setText(QString::number(module));
          node->Refresh();
        }
      };
      return new CDlgDiagnostic(std::move(host), node);
    });
  };
  return others;
}

}  // namespace diag
