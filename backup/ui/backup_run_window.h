#pragma once
// The window of one backup or restore run over the modules handed to it (the discovered-modules
// page opens it for its Backup, Restore and Restore by IP buttons): the module list with each
// module's state, a progress bar, STOP, and the report. The run goes on a worker thread; the
// window only paints what the run reports, so it stays live throughout.
#include <QDialog>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "backup/backup_run.h"
#include "base/progress.h"
#include "base/prompt.h"
#include "platform/profile.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace backup {

class BackupRunWindow : public QDialog {
  Q_OBJECT

 public:
  enum class Mode { kBackup, kRestore, kRestoreByIp };

  struct Setup {
    Mode mode = Mode::kBackup;
    std::vector<ModuleInfo> modules;
    LinkFactory links;                                      // default: the real modules
    std::function<std::unique_ptr<LineOperations>()> line;  // restore only
    std::vector<CNode_DataBackup> records;                  // restore only
    std::string fileName;                                   // restore: the file loaded
    ReachabilityCheck reachable;  // backup: the adapter check (MakeReachabilityCheck)
    JobTiming timing;
  };

  BackupRunWindow(Setup setup, base::Prompt& prompt, platform::ProfileStore& profile,
                  QWidget* parent = nullptr);
  ~BackupRunWindow() override;

  // Starts the run (once).
  void Start();
  bool Running() const { return running_.load(); }
  bool Finished() const { return finished_; }
  // What the run's end showed, and the state text of each module.
  QString Report() const;
  QString StateText(int module) const;
  int ProgressValue() const;
  int ProgressMaximum() const;
  QPushButton* StopButton() const { return stop_; }
  // The backup file written, empty when none.
  const std::string& SavedPath() const { return savedPath_; }
  // Save dialog stand-in for tests: returns the path to write ("" = the user cancelled).
  void SetSavePathChooser(std::function<QString(const QString& proposed)> chooser) {
    chooseSavePath_ = std::move(chooser);
  }

  // The file-open dialog "Select a backup file" in the folder of "BackUp_Location"; loads the
  // file and remembers its folder. nullopt when cancelled or refused (the refusal is shown).
  static std::optional<std::pair<std::vector<CNode_DataBackup>, std::string>> LoadBackupFile(
      QWidget* parent, platform::ProfileStore& profile, base::Prompt& prompt);
  // The file name proposed for a new backup.
  static QString ProposedBackupPath(platform::ProfileStore& profile);

 protected:
  void reject() override;  // closing while running stops the run first

 private:
  class WindowProgress;
  void OnStop();
  void SetState(size_t job, int32_t state, uint32_t result);
  void OnFinished();

  Setup setup_;
  base::Prompt& prompt_;
  platform::ProfileStore& profile_;
  QTreeWidget* list_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QLabel* status_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPlainTextEdit* report_ = nullptr;
  std::unique_ptr<WindowProgress> progress_;
  std::thread worker_;
  std::atomic<bool> running_{false};
  bool finished_ = false;
  std::vector<size_t> jobModules_;  // restore: the module each job serves
  BackupRunResult backupResult_;
  RestoreRunResult restoreResult_;
  std::string savedPath_;
  std::function<QString(const QString&)> chooseSavePath_;
};

}  // namespace backup
