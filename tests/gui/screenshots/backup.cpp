// The backup run window on the demo line: a backup of three modules that went through, and one
// in which a module that does not answer is named.
#include <QDir>

#include "backup/ui/backup_run_window.h"
#include "base/format.h"
#include "shots.h"

namespace {

backup::ModuleInfo DemoModule(uint32_t serial, int node, uint16_t firmware, uint8_t family) {
  backup::ModuleInfo m;
  m.serial = serial;
  m.ipText = base::Format("192.168.202.%d", node + 19);
  m.maskText = "255.255.255.0";
  m.gatewayText = "192.168.202.1";
  m.firmwareVersion = firmware;
  m.familyByte = family;
  return m;
}

int RenderBackupRuns(shots::Context& context) {
  int failures = 0;
  const QString folder = QDir::temp().filePath("qm-shots-backup");
  QDir().mkpath(folder);
  {
    backup::BackupRunWindow::Setup setup;
    setup.modules = {DemoModule(3100101, 1, 0x680E, 0x90), DemoModule(3100102, 2, 0x680E, 0x90),
                     DemoModule(3100103, 3, 0x040C, 0x00)};
    backup::BackupRunWindow window(setup, context.prompt, context.profile);
    window.SetSavePathChooser(
        [&](const QString&) { return QDir(folder).filePath("Quillmar.backup"); });
    window.show();
    window.Start();
    shots::WaitFor([&] { return window.Finished(); }, 30000);
    failures += !shots::Save(&window, context.folder, "backup_run_done.png");
  }
  {
    backup::BackupRunWindow::Setup setup;
    setup.modules = {DemoModule(3100104, 4, 0x680A, 0x30), DemoModule(9999, 200, 0x040C, 0x00)};
    backup::BackupRunWindow window(setup, context.prompt, context.profile);
    window.show();
    window.Start();
    shots::WaitFor([&] { return window.Finished(); }, 60000);
    failures += !shots::Save(&window, context.folder, "backup_run_failed.png");
  }
  QDir(folder).removeRecursively();
  return failures;
}

const shots::Registrar kBackupRuns("backup_runs", RenderBackupRuns);

}  // namespace
