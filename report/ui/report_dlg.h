#pragma once
// "Übergabebericht": the hand-over report from the window. A fresh discovery and topology of
// the selected adapter, then every module read in parallel; the files go to a folder the user
// picks. The work runs on its own thread: the window shows the progress with the time left and
// each module's state as it comes, and can be stopped.
#include <QDialog>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>

class CMRegApp;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace report {

struct LineReport;

class CReportDlg : public QDialog {
  Q_OBJECT
 public:
  CReportDlg(CMRegApp& app, QWidget* parent = nullptr);
  ~CReportDlg() override;

  // Starts the run with the folder in the field (also the Create button).
  void Start();
  bool Running() const { return running_; }
  QString FolderText() const;
  void SetFolderText(const QString& folder);

 signals:
  void finished(bool written);

 public slots:
  // Close: refused with a hint while a run goes on.
  void reject() override;

 private:
  void OnProgress(int done, int total);
  void OnDone(std::shared_ptr<LineReport> line, bool written, QString error);

  CMRegApp& app_;
  QLineEdit* folder_ = nullptr;
  QPushButton* browse_ = nullptr;
  QPushButton* create_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* open_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* state_ = nullptr;
  QListWidget* modules_ = nullptr;
  bool running_ = false;
  std::shared_ptr<std::atomic<bool>> cancel_;
  std::thread worker_;
};

}  // namespace report
