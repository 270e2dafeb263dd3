// The hand-over report window after a run over the demo line.
#include <QSignalSpy>
#include <QTemporaryDir>

#include "discovery/mreg_app.h"
#include "report/ui/report_dlg.h"
#include "shots.h"

namespace {

int RenderReport(shots::Context& context) {
  CMRegApp app(&context.prompt);
  QTemporaryDir folder;
  report::CReportDlg dialog(app);
  dialog.SetFolderText(folder.path() + QStringLiteral("/report"));
  dialog.show();
  QSignalSpy finished(&dialog, &report::CReportDlg::finished);
  dialog.Start();
  const bool done = shots::WaitFor([&] { return !finished.isEmpty(); }, 180000);
  return (done ? 0 : 1) + (shots::Save(&dialog, context.folder, "report_dialog.png") ? 0 : 1);
}

const shots::Registrar reportShot("report", RenderReport);

}  // namespace
