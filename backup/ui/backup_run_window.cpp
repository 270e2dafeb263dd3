#include "backup/ui/backup_run_window.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "backup/backup_file.h"
#include "backup/module_link.h"
#include "base/format.h"
#include "base/language.h"
#include "platform/folders.h"
#include "ui/time_left.h"

namespace backup {

namespace {

constexpr char kLocationKey[] = "BackUp_Location";
constexpr char kSettings[] = "Settings";

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

QString FileFilter() {
  return QCoreApplication::translate("backup::BackupRunWindow", "%1 Backup File  (*.backup)")
      .arg(QString::fromUtf8(kBackupProgramName));
}

// The outcome a job's last state and result tell (kJobDone or kJobFailed).
ModuleOutcome JobOutcome(int32_t state, uint32_t result, bool restore) {
  ModuleOutcome outcome;
  outcome.failed = state == kJobFailed && (restore || result != 0);
  outcome.result = result;
  return outcome;
}

// Kept with a module's row: its job has ended without failing.
constexpr int kEndedWellRole = Qt::UserRole;

QString StateName(int32_t state, uint32_t result, bool restore) {
  switch (state) {
    case kJobBackup:
      return QCoreApplication::translate("backup::BackupRunWindow", "connecting");
    case kJobRestore:
      return QCoreApplication::translate("backup::BackupRunWindow", "restoring");
    case kJobRegistersRead:
      return QCoreApplication::translate("backup::BackupRunWindow", "registers read");
    case kJobWaitingFlash:
      return QCoreApplication::translate("backup::BackupRunWindow", "waiting for the flash image");
    case kJobFlashReceived:
      return QCoreApplication::translate("backup::BackupRunWindow", "service port and PLC program");
    case kJobDone:
    case kJobFailed: {
      return Q(JobOutcome(state, result, restore).Describe(restore, base::CurrentLanguage()));
    }
    case kJobStop:
      return QCoreApplication::translate("backup::BackupRunWindow", "stopped");
    default:
      return QCoreApplication::translate("backup::BackupRunWindow", "waiting");
  }
}

}  // namespace

// Progress of the run, carried to the window's thread.
class BackupRunWindow::WindowProgress : public base::Progress {
 public:
  explicit WindowProgress(BackupRunWindow* window) : window_(window) {}
  void SetRange(int total) override {
    Post([total](BackupRunWindow& w) { w.bar_->setRange(0, total); });
  }
  void SetPosition(int done) override {
    Post([done](BackupRunWindow& w) { w.bar_->setValue(done); });
  }
  void SetText(const std::string& text) override {
    Post([text](BackupRunWindow& w) { w.status_->setText(Q(text)); });
  }

 private:
  // Queued to the window: a call still waiting when the window goes is dropped with it.
  void Post(std::function<void(BackupRunWindow&)> work) {
    BackupRunWindow* window = window_;
    QMetaObject::invokeMethod(
        window, [window, work] { work(*window); }, Qt::QueuedConnection);
  }
  BackupRunWindow* window_;
};

BackupRunWindow::BackupRunWindow(Setup setup, base::Prompt& prompt, platform::ProfileStore& profile,
                                 QWidget* parent)
    : QDialog(parent), setup_(std::move(setup)), prompt_(prompt), profile_(profile) {
  const bool restore = setup_.mode != Mode::kBackup;
  setWindowTitle(setup_.mode == Mode::kBackup    ? tr("Backup")
                 : setup_.mode == Mode::kRestore ? tr("Wiederherstellen")
                                                 : tr("Restore by IP"));
  auto* layout = new QVBoxLayout(this);
  list_ = new QTreeWidget(this);
  list_->setRootIsDecorated(false);
  list_->setHeaderLabels({tr("Module"), tr("Serial Number"), tr("State"), tr("Time")});
  for (const ModuleInfo& module : setup_.modules) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(0, Q(module.ipText));
    item->setText(1, QString::number(module.serial));
    item->setText(2, tr("waiting"));
  }
  list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  layout->addWidget(list_);
  auto* row = new QHBoxLayout();
  bar_ = new QProgressBar(this);
  bar_->setRange(0, 100);
  bar_->setValue(0);
  ui::ShowTimeLeft(bar_);
  row->addWidget(bar_, 1);
  stop_ = new QPushButton(tr("STOP"), this);
  row->addWidget(stop_);
  layout->addLayout(row);
  status_ = new QLabel(this);
  layout->addWidget(status_);
  report_ = new QPlainTextEdit(this);
  report_->setReadOnly(true);
  report_->setMaximumBlockCount(1000);
  layout->addWidget(report_);
  connect(stop_, &QPushButton::clicked, this, &BackupRunWindow::OnStop);
  progress_ = std::make_unique<WindowProgress>(this);
  if (!setup_.links) setup_.links = [](const std::string& ip) { return MakeModuleLink(ip); };
  (void)restore;
  resize(560, 420);
}

BackupRunWindow::~BackupRunWindow() {
  if (progress_) progress_->Cancel().Cancel();
  if (worker_.joinable()) worker_.join();
}

void BackupRunWindow::Start() {
  if (worker_.joinable() || finished_) return;
  running_.store(true);
  stop_->setText(tr("STOP"));
  BackupRunWindow* self = this;  // queued calls to it are dropped when it goes
  auto observer = [self](size_t job, int32_t state, uint32_t result) {
    QMetaObject::invokeMethod(
        self, [self, job, state, result] { self->SetState(job, state, result); },
        Qt::QueuedConnection);
  };
  worker_ = std::thread([this, self, observer] {
    if (setup_.mode == Mode::kBackup) {
      backupResult_ = RunBackup(setup_.modules, setup_.links, prompt_, *progress_, setup_.timing,
                                observer, setup_.reachable);
    } else {
      RestoreOptions options;
      options.byIp = setup_.mode == Mode::kRestoreByIp;
      options.fileName = setup_.fileName;
      options.timing = setup_.timing;
      options.observer = observer;
      options.onJobs = [self](const std::vector<size_t>& modules) {
        QMetaObject::invokeMethod(
            self, [self, modules] { self->jobModules_ = modules; }, Qt::QueuedConnection);
      };
      auto line = setup_.line ? setup_.line() : nullptr;
      if (!line) {
        restoreResult_.message = "no adapter for the restore";
      } else {
        restoreResult_ = RunRestore(setup_.records, setup_.modules, setup_.links, *line, prompt_,
                                    *progress_, options);
      }
    }
    running_.store(false);
    QMetaObject::invokeMethod(
        self, [self] { self->OnFinished(); }, Qt::QueuedConnection);
  });
}

void BackupRunWindow::OnStop() {
  if (running_.load()) {
    progress_->Cancel().Cancel();
    stop_->setEnabled(false);
    status_->setText(tr("STOP ..."));
    return;
  }
  accept();
}

void BackupRunWindow::reject() {
  if (running_.load()) {
    OnStop();
    return;
  }
  QDialog::reject();
}

void BackupRunWindow::SetState(size_t job, int32_t state, uint32_t result) {
  const bool restore = setup_.mode != Mode::kBackup;
  size_t module = job;
  if (restore) {
    if (job >= jobModules_.size()) return;
    module = jobModules_[job];
  }
  QTreeWidgetItem* item = list_->topLevelItem(static_cast<int>(module));
  if (!item) return;
  // A finished backup job is told to end: it stays "done".
  if (state == kJobStop && item->data(2, kEndedWellRole).toBool()) return;
  const bool ended = state == kJobDone || state == kJobFailed;
  item->setData(2, kEndedWellRole, ended && !JobOutcome(state, result, restore).failed);
  item->setText(2, StateName(state, result, restore));
}

void BackupRunWindow::OnFinished() {
  if (worker_.joinable()) worker_.join();
  finished_ = true;
  const bool restore = setup_.mode != Mode::kBackup;
  const auto& outcomes = restore ? restoreResult_.outcomes : backupResult_.outcomes;
  // One outcome per module of the list, in its order (a restore names those it left out too).
  for (size_t i = 0; i < outcomes.size(); ++i) {
    if (QTreeWidgetItem* item = list_->topLevelItem(static_cast<int>(i))) {
      std::string text = outcomes[i].Describe(restore, base::CurrentLanguage());
      if (outcomes[i].incomplete)
        text += std::string(" - ") + base::Translate(kOutcomeContext, kIncompleteOutcomeNote);
      item->setText(2, Q(text));
      item->setText(3, QString::number(outcomes[i].elapsedMs / 1000.0, 'f', 1) + " s");
    }
  }
  QString text;
  if (restore) {
    text = Q(restoreResult_.message);
  } else if (backupResult_.writeFile) {
    const QString proposed = ProposedBackupPath(profile_);
    const QString path =
        chooseSavePath_ ? chooseSavePath_(proposed)
                        : QFileDialog::getSaveFileName(this, tr("Backup"), proposed, FileFilter());
    if (!path.isEmpty()) {
      if (SaveBackupRun(backupResult_, path.toStdString(), prompt_)) {
        savedPath_ = path.toStdString();
        profile_.SetString(kSettings, kLocationKey, QFileInfo(path).absolutePath().toStdString());
        // Modules not fully backed up: the file is written, but the report says it is not
        // fit for a restore, as the message box does.
        text = backupResult_.warningEntries.empty()
                   ? Q(base::Format(kBackupDoneText, static_cast<int>(backupResult_.records.size()),
                                    static_cast<int>(backupResult_.elapsedMs), savedPath_.c_str()))
                   : Q(base::Format(kBackupWarningsText, backupResult_.warningEntries.c_str()));
      } else {
        text = tr("The backup file was not written.");
      }
    } else {
      text = tr("No file was chosen; nothing was written.");
    }
  } else {
    text =
        backupResult_.cancelled ? tr("STOP: no file was written.") : Q(backupResult_.failureText);
  }
  report_->setPlainText(QString(text).replace("\r\n", "\n"));
  stop_->setText(tr("Close"));
  stop_->setEnabled(true);
}

QString BackupRunWindow::Report() const {
  return report_->toPlainText();
}

QString BackupRunWindow::StateText(int module) const {
  const QTreeWidgetItem* item = list_->topLevelItem(module);
  return item ? item->text(2) : QString();
}

int BackupRunWindow::ProgressValue() const {
  return bar_->value();
}

int BackupRunWindow::ProgressMaximum() const {
  return bar_->maximum();
}

QString BackupRunWindow::ProposedBackupPath(platform::ProfileStore& profile) {
  std::string folder = profile.GetString(kSettings, kLocationKey, "");
  if (folder.empty()) folder = platform::DesktopFolder();
  return QDir(Q(folder)).filePath(Q(std::string(kBackupProgramName) + ".backup"));
}

std::optional<std::pair<std::vector<CNode_DataBackup>, std::string>>
BackupRunWindow::LoadBackupFile(QWidget* parent, platform::ProfileStore& profile,
                                base::Prompt& prompt) {
  std::string folder = profile.GetString(kSettings, kLocationKey, "");
  if (folder.empty()) folder = platform::DesktopFolder();
  const QString path =
      QFileDialog::getOpenFileName(parent, tr("Select a backup file"), Q(folder), FileFilter());
  if (path.isEmpty()) return std::nullopt;
  LoadResult loaded = backup::LoadBackupFile(path.toStdString());
  if (loaded.status != LoadStatus::kLoaded) {
    prompt.Tell(LoadMessage(loaded, path.toStdString()), "Quillmar", base::PromptIcon::Error);
    return std::nullopt;
  }
  profile.SetString(kSettings, kLocationKey, QFileInfo(path).absolutePath().toStdString());
  return std::make_pair(std::move(loaded.records), path.toStdString());
}

}  // namespace backup
