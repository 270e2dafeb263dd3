#pragma once
// "Linienwache": the line watch in a window. The user chooses the line's as-built record and,
// for restores, its backup file, and starts the watch; the window draws the record with each
// module's state, lists the watch's events and, for a replaced module, asks whether the backup
// of the module it replaces is to be restored onto it (Yes: the watch restores; No: nothing is
// written). The watch runs on its own thread and hands its events and snapshots over as
// queued calls; stopping and closing only ask the watch to stop and never wait for it.
#include <QDialog>
#include <QString>
#include <QStringList>
#include <memory>
#include <set>
#include <vector>

#include "watch/line_watch.h"
#include "watch/ui/watch_control.h"

class CMRegApp;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;
class QTreeWidget;
class QWidget;

namespace watch::ui {

class CWatchLineView;

class CLineWatchDlg : public QDialog {
  Q_OBJECT
 public:
  // The event list keeps this many lines (the oldest go first): the window may stay open for
  // weeks.
  static constexpr int kMaxEventLines = 5000;

  // `app` must outlive the window: a watch still ending when the window has gone is joined by
  // the program's end. `factory` makes the watch (default: the real one through `app`).
  explicit CLineWatchDlg(CMRegApp& app, QWidget* parent = nullptr, WatchFactory factory = {});
  ~CLineWatchDlg() override;

  // The one open window, or null.
  static CLineWatchDlg* Current();

  void SetRecordPath(const QString& path);
  void SetBackupPath(const QString& path);
  QString RecordPath() const;
  QString BackupPath() const;

  bool Running() const { return running_; }
  bool Stopping() const { return stopping_; }
  CWatchLineView* View() const { return view_; }
  QTreeWidget* EventList() const { return events_; }
  // The restore question shown now (empty when none) and the new module it is about.
  QString QuestionText() const;
  uint32_t QuestionSerial() const { return asked_; }
  QString StatusText() const;

  // What the watch hands over, on the GUI thread (the watch's sinks queue them here).
  void ShowEvent(const WatchEvent& event);
  void ShowSnapshot(const LineSnapshot& snapshot);

  // An event's texts as the list shows them: time, event, serial, address, position, detail.
  static QStringList EventColumns(const WatchEvent& event);

 public slots:
  void StartWatch();
  void StopWatch();
  void AnswerYes();
  void AnswerNo();

 signals:
  void stopped();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  struct Mailbox;
  struct Session;
  static void Retire(std::shared_ptr<Session> session);

  void BuildWindow();
  void Drain(Mailbox& box);
  void OnStopped();
  void AskNext();
  void Answer(bool restore);
  void EndWatch(bool windowGoes);
  void SetStatus(const QString& text, bool failure);
  void UpdateButtons();
  void ChooseRecord();
  void ChooseBackup();

  CMRegApp& app_;
  WatchFactory factory_;
  std::shared_ptr<Session> session_;  // while a watch runs
  std::shared_ptr<Mailbox> mailbox_;
  bool running_ = false;
  bool stopping_ = false;

  LineSnapshot snapshot_;
  bool haveSnapshot_ = false;
  // Replaced modules (new serials) waiting for the question, in the order they came.
  std::vector<uint32_t> waiting_;
  // Answered, until a snapshot shows that the watch no longer waits for them.
  std::set<uint32_t> answered_;
  uint32_t asked_ = 0;
  uint32_t askedFor_ = 0;  // the recorded module the asked one replaces

  QLineEdit* record_ = nullptr;
  QLineEdit* backup_ = nullptr;
  QPushButton* chooseRecord_ = nullptr;
  QPushButton* chooseBackup_ = nullptr;
  QSpinBox* interval_ = nullptr;
  QPushButton* start_ = nullptr;
  QPushButton* stop_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* unrecorded_ = nullptr;
  CWatchLineView* view_ = nullptr;
  QTreeWidget* events_ = nullptr;
  QWidget* question_ = nullptr;
  QLabel* questionText_ = nullptr;
  QPushButton* yes_ = nullptr;
  QPushButton* no_ = nullptr;
  QTimer* clock_ = nullptr;
};

// Opens (or raises) the line watch window; it deletes itself when closed.
CLineWatchDlg* OpenLineWatchWindow(CMRegApp& app, QWidget* parent);

}  // namespace watch::ui
