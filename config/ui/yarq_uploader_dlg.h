#pragma once
// "Upgrade": firmware or a PLC program onto the listed modules. The run (version tests, one
// upload thread per module, reset and verification) goes on a worker; the window stays live
// with its output list, a progress bar and "Abort Uploading".
#include <QWidget>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/prompt.h"
#include "config/firmware_upgrade.h"

class CMRegApp;
class QCheckBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace config {

class CYarq_UploaderDlg : public QWidget {
  Q_OBJECT
 public:
  CYarq_UploaderDlg(CMRegApp& app, base::Prompt& prompt, QWidget* parent = nullptr);
  ~CYarq_UploaderDlg() override;  // aborts a run and waits for it

  // The modules of the list (the discovered-modules page hands over its selection).
  void SetModules(const std::vector<std::string>& ips);
  void SetOptions(const UpgradeOptions& options) { options_ = options; }
  // The chosen file, tested as "Browse" tests it; false (and the refusal shown) when refused.
  bool ChooseFile(const std::string& path);
  // Upload One (the selected module) / Upload All; false when nothing was started.
  bool StartUpload(bool all);
  bool Running() const { return worker_.joinable() && !finished_; }
  QStringList OutputLines() const;

 signals:
  void runFinished();

 private slots:
  void Browse();
  void AddLine(int module, const QString& text);
  void ShowProgress(int module, quint32 done, quint32 size);
  void Finish();

 private:
  class Listener;
  void UpdateButtons();

  CMRegApp& app_;
  base::Prompt& prompt_;
  UpgradeOptions options_;
  std::string path_;
  std::vector<std::string> modules_;
  std::unique_ptr<Listener> listener_;
  std::unique_ptr<FirmwareUploader> uploader_;
  UpgradeOutcome outcome_;
  std::thread worker_;
  std::atomic<bool> finished_{true};
  std::vector<std::pair<quint32, quint32>> progress_;

  QListWidget* moduleList_ = nullptr;
  QListWidget* output_ = nullptr;
  QLabel* fileLabel_ = nullptr;
  QLabel* stageLabel_ = nullptr;
  QCheckBox* plcMode_ = nullptr;
  QPushButton* browse_ = nullptr;
  QPushButton* uploadOne_ = nullptr;
  QPushButton* uploadAll_ = nullptr;
  QPushButton* abort_ = nullptr;
  QProgressBar* bar_ = nullptr;
};

}  // namespace config
