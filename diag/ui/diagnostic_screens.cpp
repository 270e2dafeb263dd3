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

// The window a diagnostic window belongs to: the advanced window while it is open (it is modal
// to the node screen, and would block a window of the node screen's own), else the node screen.
QWidget* OwnerOf(params::CMRegDlg* node) {
  if (QDialog* advanced = node->AdvancedWindow(); advanced && advanced->isVisible()) {
    return advanced;
  }
  return node;
}

// Shows the window held in `slot`, making it first when there is none.
template <typename Window, typename Make>
void OpenOnce(QPointer<Window>& slot, QWidget* owner, Make make) {
  if (!slot) {
    slot = make(owner);
    slot->setAttribute(Qt::WA_DeleteOnClose);
  } else if (slot->parentWidget() != owner) {
    slot->setParent(owner, slot->windowFlags());
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
    OpenOnce(open->screen, OwnerOf(node),
             [node](QWidget* owner) { return new DiagnosticScreen(*node, owner); });
  };
  others.diagnosticLog = [open, node] {
    OpenOnce(open->log, OwnerOf(node),
             [node](QWidget* owner) { return new CDiagnosticLog(*node, owner); });
  };
  others.driveHistory = [open, node] {
    OpenOnce(open->history, OwnerOf(node), [node](QWidget* owner) {
      return new UxMtrHistory([node] { return node->ShownView().moduleAddress; }, owner);
    });
  };
  others.statistics = [open, node] {
    OpenOnce(open->statistics, OwnerOf(node), [node](QWidget* owner) {
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
      return new CDlgDiagnostic(std::move(host), owner);
    });
  };
  return others;
}

}  // namespace diag
