#include "config/ui/yarq_uploader_dlg.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "comm/event_log.h"
#include "ui/time_left.h"

namespace config {

// Carries the run's lines and progress from the upload threads to the window.
class CYarq_UploaderDlg::Listener : public UpgradeListener {
 public:
  explicit Listener(CYarq_UploaderDlg* window) : window_(window) {}
  void Line(int module, const std::string& text) override {
    QMetaObject::invokeMethod(window_, "AddLine", Qt::QueuedConnection, Q_ARG(int, module),
                              Q_ARG(QString, QString::fromStdString(text)));
  }
  void Progress(int module, uint32_t done, uint32_t size) override {
    QMetaObject::invokeMethod(window_, "ShowProgress", Qt::QueuedConnection, Q_ARG(int, module),
                              Q_ARG(quint32, done), Q_ARG(quint32, size));
  }
  void Stage(const std::string& text) override {
    QMetaObject::invokeMethod(
        window_, [w = window_, t = QString::fromStdString(text)] { w->stageLabel_->setText(t); },
        Qt::QueuedConnection);
  }

 private:
  CYarq_UploaderDlg* window_;
};

CYarq_UploaderDlg::CYarq_UploaderDlg(CMRegApp& app, base::Prompt& prompt, QWidget* parent)
    : QWidget(parent), app_(app), prompt_(prompt), listener_(std::make_unique<Listener>(this)) {
  setObjectName("CYarq_UploaderDlg");
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  moduleList_ = new QListWidget(this);
  moduleList_->setObjectName("modules");
  moduleList_->setMaximumWidth(180);
  top->addWidget(moduleList_);
  auto* side = new QVBoxLayout;
  browse_ = new QPushButton(tr("Browse"), this);
  browse_->setObjectName("browse");
  fileLabel_ = new QLabel(this);
  fileLabel_->setObjectName("file");
  plcMode_ = new QCheckBox(tr("PLC Upgrade"), this);
  plcMode_->setObjectName("plcMode");
  uploadOne_ = new QPushButton(tr("Upload One"), this);
  uploadOne_->setObjectName("uploadOne");
  uploadAll_ = new QPushButton(tr("Upload All"), this);
  uploadAll_->setObjectName("uploadAll");
  abort_ = new QPushButton(tr("Abort Uploading"), this);
  abort_->setObjectName("abort");
  stageLabel_ = new QLabel(this);
  stageLabel_->setObjectName("stage");
  for (QWidget* w : std::initializer_list<QWidget*>{browse_, fileLabel_, plcMode_, uploadOne_,
                                                    uploadAll_, abort_, stageLabel_})
    side->addWidget(w);
  side->addStretch();
  top->addLayout(side);
  layout->addLayout(top);
  output_ = new QListWidget(this);
  output_->setObjectName("output");
  layout->addWidget(output_, 1);
  bar_ = new QProgressBar(this);
  bar_->setObjectName("progress");
  bar_->setRange(0, 1000);
  ui::ShowTimeLeft(bar_);
  layout->addWidget(bar_);

  connect(browse_, &QPushButton::clicked, this, &CYarq_UploaderDlg::Browse);
  connect(uploadOne_, &QPushButton::clicked, this, [this] { StartUpload(false); });
  connect(uploadAll_, &QPushButton::clicked, this, [this] { StartUpload(true); });
  connect(abort_, &QPushButton::clicked, this, [this] {
    if (uploader_) uploader_->Abort();
  });
  connect(plcMode_, &QCheckBox::toggled, this, [this] {
    path_.clear();
    fileLabel_->clear();
    UpdateButtons();
  });
  UpdateButtons();
}

CYarq_UploaderDlg::~CYarq_UploaderDlg() {
  if (uploader_) uploader_->Abort();
  if (worker_.joinable()) worker_.join();
}

void CYarq_UploaderDlg::SetModules(const std::vector<std::string>& ips) {
  moduleList_->clear();
  for (const std::string& ip : ips) moduleList_->addItem(QString::fromStdString(ip));
  if (!ips.empty()) moduleList_->setCurrentRow(0);
  UpdateButtons();
}

bool CYarq_UploaderDlg::ChooseFile(const std::string& path) {
  const FirmwareFileCheck check = CheckFirmwareFile(path, plcMode_->isChecked());
  if (!check.ok) {
    prompt_.Tell(check.message, check.title, base::PromptIcon::Error);
    return false;
  }
  path_ = path;
  fileLabel_->setText(QString::fromStdString(check.fileName));
  UpdateButtons();
  return true;
}

void CYarq_UploaderDlg::Browse() {
  const QString path =
      QFileDialog::getOpenFileName(this, tr("Upgrade"), QString(), tr("BIN Files (*.bin)"));
  if (!path.isEmpty()) ChooseFile(path.toStdString());
}

bool CYarq_UploaderDlg::StartUpload(bool all) {
  if (Running() || path_.empty()) return false;
  if (worker_.joinable()) worker_.join();
  modules_.clear();
  for (int row = 0; row < moduleList_->count(); ++row) {
    if (all || row == moduleList_->currentRow())
      modules_.push_back(moduleList_->item(row)->text().toStdString());
  }
  if (modules_.empty()) return false;
  output_->clear();
  progress_.assign(modules_.size(), {0, 0});
  bar_->setValue(0);
  UpgradeOptions options = options_;
  options.plcMode = plcMode_->isChecked();
  uploader_ = std::make_unique<FirmwareUploader>(app_, *listener_, options);
  finished_ = false;
  UpdateButtons();
  worker_ = std::thread([this, path = path_, modules = modules_] {
    outcome_ = uploader_->Run(path, modules);
    finished_ = true;
    QMetaObject::invokeMethod(this, "Finish", Qt::QueuedConnection);
  });
  return true;
}

void CYarq_UploaderDlg::AddLine(int, const QString& text) {
  output_->addItem(text);
  output_->scrollToBottom();
}

void CYarq_UploaderDlg::ShowProgress(int module, quint32 done, quint32 size) {
  if (module < 0 || static_cast<size_t>(module) >= progress_.size()) return;
  progress_[static_cast<size_t>(module)] = {done, size};
  quint64 all = 0, total = 0;
  for (const auto& [d, s] : progress_) {
    all += d;
    total += s;
  }
  bar_->setValue(total ? static_cast<int>(all * 1000 / total) : 0);
}

void CYarq_UploaderDlg::Finish() {
  if (worker_.joinable()) worker_.join();
  stageLabel_->clear();
  UpdateButtons();
  if (!outcome_.abortText.empty()) {
    prompt_.Tell(outcome_.abortText, "Upgrade", base::PromptIcon::Warning);
  }
  emit runFinished();
}

QStringList CYarq_UploaderDlg::OutputLines() const {
  QStringList lines;
  for (int row = 0; row < output_->count(); ++row) lines << output_->item(row)->text();
  return lines;
}

void CYarq_UploaderDlg::UpdateButtons() {
  const bool running = Running();
  const bool ready = !running && !path_.empty() && moduleList_->count() > 0;
  uploadOne_->setEnabled(ready);
  uploadAll_->setEnabled(ready);
  abort_->setEnabled(running);
  browse_->setEnabled(!running);
  plcMode_->setEnabled(!running);
}

}  // namespace config
