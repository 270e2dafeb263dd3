#include "report/ui/report_dlg.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "discovery/mreg_app.h"
#include "report/line_report.h"
#include "report/report_writer.h"
#include "ui/time_left.h"

namespace report {
namespace {

// Carries the collection's progress to the window as queued calls, and its Stop back.
class QueuedProgress : public base::Progress {
 public:
  QueuedProgress(QPointer<CReportDlg> window, std::shared_ptr<std::atomic<bool>> cancel,
                 std::function<void(int, int)> post)
      : window_(window), cancel_(std::move(cancel)), post_(std::move(post)) {}
  void SetRange(int total) override {
    total_ = total;
    Forward(0);
  }
  void SetPosition(int done) override { Forward(done); }

 private:
  void Forward(int done) {
    if (*cancel_) Cancel().Cancel();
    post_(done, total_);
  }
  QPointer<CReportDlg> window_;
  std::shared_ptr<std::atomic<bool>> cancel_;
  std::function<void(int, int)> post_;
  int total_ = 0;
};

}  // namespace

CReportDlg::CReportDlg(CMRegApp& app, QWidget* parent) : QDialog(parent), app_(app) {
  setWindowTitle(tr("Übergabebericht"));
  setObjectName(QStringLiteral("reportDialog"));
  auto* root = new QVBoxLayout(this);
  auto* intro =
      new QLabel(tr("Topologie, Parameter, Verbindungen, SPS Programm und Zustand aller Module "
                    "des gewählten Netzwerkadapters als HTML- und CSV-Dateien."),
                 this);
  intro->setWordWrap(true);
  root->addWidget(intro);

  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(new QLabel(tr("Ordner:"), this));
  folder_ = new QLineEdit(QDir::home().filePath(QStringLiteral("quillmar-report")), this);
  folder_->setObjectName(QStringLiteral("folder"));
  folderRow->addWidget(folder_, 1);
  browse_ = new QPushButton(tr("Durchsuchen..."), this);
  folderRow->addWidget(browse_);
  root->addLayout(folderRow);
  connect(browse_, &QPushButton::clicked, this, [this] {
    const QString chosen = QFileDialog::getExistingDirectory(this, windowTitle(), FolderText());
    if (!chosen.isEmpty()) folder_->setText(chosen);
  });

  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progress"));
  progress_->setRange(0, 1);
  progress_->setValue(0);
  ui::ShowTimeLeft(progress_);
  root->addWidget(progress_);
  state_ = new QLabel(this);
  state_->setObjectName(QStringLiteral("state"));
  root->addWidget(state_);
  modules_ = new QListWidget(this);
  modules_->setObjectName(QStringLiteral("modules"));
  modules_->setMinimumSize(520, 220);
  root->addWidget(modules_, 1);

  auto* buttons = new QHBoxLayout;
  create_ = new QPushButton(tr("Erstellen"), this);
  create_->setObjectName(QStringLiteral("create"));
  stop_ = new QPushButton(tr("STOP"), this);
  stop_->setObjectName(QStringLiteral("stop"));
  stop_->setEnabled(false);
  open_ = new QPushButton(tr("Bericht öffnen"), this);
  open_->setObjectName(QStringLiteral("open"));
  open_->setEnabled(false);
  auto* close = new QPushButton(tr("Schließen"), this);
  buttons->addWidget(create_);
  buttons->addWidget(stop_);
  buttons->addWidget(open_);
  buttons->addStretch(1);
  buttons->addWidget(close);
  root->addLayout(buttons);
  connect(create_, &QPushButton::clicked, this, &CReportDlg::Start);
  connect(stop_, &QPushButton::clicked, this, [this] {
    if (cancel_) *cancel_ = true;
    state_->setText(tr("Wird angehalten..."));
  });
  connect(open_, &QPushButton::clicked, this, [this] {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QDir(FolderText()).filePath("report.html")));
  });
  connect(close, &QPushButton::clicked, this, &CReportDlg::reject);
}

CReportDlg::~CReportDlg() {
  if (cancel_) *cancel_ = true;
  if (worker_.joinable()) worker_.join();
}

QString CReportDlg::FolderText() const {
  return folder_->text().trimmed();
}
void CReportDlg::SetFolderText(const QString& folder) {
  folder_->setText(folder);
}

void CReportDlg::reject() {
  // The window stays while the run goes on; STOP ends it after the modules under way.
  if (running_) {
    state_->setText(tr("Bitte zuerst STOP drücken und das Ende abwarten."));
    return;
  }
  QDialog::reject();
}

void CReportDlg::Start() {
  if (running_) return;
  if (FolderText().isEmpty()) {
    state_->setText(tr("Bitte einen Ordner angeben."));
    return;
  }
  if (worker_.joinable()) worker_.join();  // the last run has ended already
  running_ = true;
  create_->setEnabled(false);
  browse_->setEnabled(false);
  folder_->setEnabled(false);
  open_->setEnabled(false);
  stop_->setEnabled(true);
  modules_->clear();
  progress_->setRange(0, 0);  // busy until the modules are known
  state_->setText(tr("Suche Module und Topologie..."));
  cancel_ = std::make_shared<std::atomic<bool>>(false);
  const std::string folder = FolderText().toStdString();
  QPointer<CReportDlg> self(this);
  auto cancel = cancel_;
  worker_ = std::thread([this, self, cancel, folder] {
    QueuedProgress progress(self, cancel, [self](int done, int total) {
      QMetaObject::invokeMethod(
          self,
          [self, done, total] {
            if (self) self->OnProgress(done, total);
          },
          Qt::QueuedConnection);
    });
    auto line = std::make_shared<LineReport>();
    bool written = false;
    std::string error;
    app_.discoverDone = 1;
    if (app_.Discover(false, nullptr) == 1 && app_.SelectedAdapter()) {
      app_.GetTopology();
      *line = CollectLineReport(app_, {}, progress);
      // A stopped run leaves modules unread: it must not replace a complete report in the
      // folder, so it writes nothing.
      if (*cancel) {
        error = tr("Angehalten, nichts geschrieben (ein früherer Bericht im Ordner bleibt).")
                    .toStdString();
      } else {
        // The report follows the language of the windows.
        written = WriteReport(*line, folder, &error, base::CurrentLanguage());
      }
    } else {
      error = tr("Keine Module gefunden.").toStdString();
    }
    const QString errorText = QString::fromStdString(error);
    QMetaObject::invokeMethod(
        self,
        [self, line, written, errorText] {
          if (self) self->OnDone(line, written, errorText);
        },
        Qt::QueuedConnection);
  });
}

void CReportDlg::OnProgress(int done, int total) {
  if (total <= 0) return;
  if (progress_->maximum() != total) progress_->setRange(0, total);
  progress_->setValue(done);
  state_->setText(tr("Module gelesen: %1 von %2").arg(done).arg(total));
}

void CReportDlg::OnDone(std::shared_ptr<LineReport> line, bool written, QString error) {
  running_ = false;
  create_->setEnabled(true);
  browse_->setEnabled(true);
  folder_->setEnabled(true);
  stop_->setEnabled(false);
  progress_->setRange(0, 1);
  progress_->setValue(1);
  size_t unreadable = 0;
  for (const ModuleReport& m : line->modules) {
    auto* item = new QListWidgetItem(
        m.readable ? tr("%1  SN %2  gelesen").arg(QString::fromStdString(m.ip)).arg(m.serial)
                   : tr("%1  SN %2  nicht lesbar: %3")
                         .arg(QString::fromStdString(m.ip))
                         .arg(m.serial)
                         .arg(QString::fromStdString(m.failure)),
        modules_);
    if (!m.readable) {
      item->setForeground(Qt::red);
      ++unreadable;
    }
  }
  if (!written) {
    state_->setText(tr("Bericht nicht geschrieben: %1").arg(error));
  } else {
    state_->setText(tr("Bericht geschrieben: %1 Module, %2 nicht lesbar")
                        .arg(line->modules.size())
                        .arg(unreadable));
    open_->setEnabled(true);
  }
  emit finished(written);
}

}  // namespace report
