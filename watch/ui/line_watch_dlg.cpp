#include "watch/ui/line_watch_dlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

#include "base/language.h"
#include "discovery/mreg_app.h"
#include "watch/ui/watch_line_view.h"

namespace watch::ui {

namespace {

CLineWatchDlg* g_current = nullptr;

const QColor kBadEvent(0xC6, 0x28, 0x28);
const QColor kGoodEvent(0x2E, 0x7D, 0x32);

}  // namespace

// What the watch's thread hands to the window: the events in order, the latest snapshot only
// and the end of the watch. One queued call drains it, however much came meanwhile. The window
// pointer is cleared under the lock before the window goes, so nothing is queued to it after.
struct CLineWatchDlg::Mailbox : std::enable_shared_from_this<Mailbox> {
  std::mutex lock;
  CLineWatchDlg* window = nullptr;
  std::vector<WatchEvent> events;
  std::optional<LineSnapshot> snapshot;
  bool stopped = false;
  bool posted = false;

  template <typename Put>
  void Deliver(Put put) {
    std::lock_guard hold(lock);
    if (window == nullptr) return;
    put();
    if (posted) return;
    posted = true;
    QMetaObject::invokeMethod(
        window, [target = window, box = shared_from_this()] { target->Drain(*box); },
        Qt::QueuedConnection);
  }
  void Detach() {
    std::lock_guard hold(lock);
    window = nullptr;
  }
};

// A running watch, and once it is asked to stop, the thread that waits for its end. The
// program's end joins that thread (or stops a watch still running) before the inventory goes.
struct CLineWatchDlg::Session {
  std::shared_ptr<WatchControl> control;
  std::thread ending;
  std::shared_ptr<std::atomic<bool>> ended = std::make_shared<std::atomic<bool>>(false);
  CMRegApp* app = nullptr;
  int workerId = -1;

  ~Session() {
    if (ending.joinable()) ending.join();
  }
};

namespace {

std::vector<std::shared_ptr<void>>& RetiredSessions() {
  static std::vector<std::shared_ptr<void>> retired;  // GUI thread only
  return retired;
}

}  // namespace

void CLineWatchDlg::Retire(std::shared_ptr<Session> session) {
  RetiredSessions().push_back(session);
  static QPointer<QTimer> reaper;
  if (!reaper) {
    reaper = new QTimer(qApp);
    reaper->setInterval(100);
    QObject::connect(reaper, &QTimer::timeout, [] {
      std::erase_if(RetiredSessions(), [](const std::shared_ptr<void>& held) {
        auto* session = static_cast<Session*>(held.get());
        if (!session->ended->load()) return false;
        session->ending.join();  // its work is done: returns at once
        session->app->UnregisterWorker(session->workerId);
        return true;
      });
      if (RetiredSessions().empty() && reaper) reaper->stop();
    });
  }
  reaper->start();
}

CLineWatchDlg::CLineWatchDlg(CMRegApp& app, QWidget* parent, WatchFactory factory)
    : QDialog(parent), app_(app), factory_(factory ? std::move(factory) : LineWatchFactory(app)) {
  g_current = this;
  setObjectName(QStringLiteral("CLineWatchDlg"));
  setWindowTitle(tr("Linienwache"));
  BuildWindow();
  UpdateButtons();
}

CLineWatchDlg::~CLineWatchDlg() {
  EndWatch(true);
  if (mailbox_) mailbox_->Detach();
  if (g_current == this) g_current = nullptr;
}

CLineWatchDlg* CLineWatchDlg::Current() {
  return g_current;
}

void CLineWatchDlg::BuildWindow() {
  auto* layout = new QVBoxLayout(this);

  auto* files = new QGridLayout;
  record_ = new QLineEdit(this);
  record_->setObjectName(QStringLiteral("record"));
  backup_ = new QLineEdit(this);
  backup_->setObjectName(QStringLiteral("backup"));
  chooseRecord_ = new QPushButton(QStringLiteral("..."), this);
  chooseRecord_->setObjectName(QStringLiteral("chooseRecord"));
  chooseBackup_ = new QPushButton(QStringLiteral("..."), this);
  chooseBackup_->setObjectName(QStringLiteral("chooseBackup"));
  files->addWidget(new QLabel(tr("Linienplan:"), this), 0, 0);
  files->addWidget(record_, 0, 1);
  files->addWidget(chooseRecord_, 0, 2);
  files->addWidget(new QLabel(tr("Sicherung:"), this), 1, 0);
  files->addWidget(backup_, 1, 1);
  files->addWidget(chooseBackup_, 1, 2);
  layout->addLayout(files);

  auto* controls = new QHBoxLayout;
  interval_ = new QSpinBox(this);
  interval_->setObjectName(QStringLiteral("interval"));
  interval_->setRange(1, 3600);
  interval_->setValue(10);
  interval_->setSuffix(QStringLiteral(" s"));
  start_ = new QPushButton(tr("Starten"), this);
  start_->setObjectName(QStringLiteral("start"));
  stop_ = new QPushButton(tr("Anhalten"), this);
  stop_->setObjectName(QStringLiteral("stop"));
  controls->addWidget(new QLabel(tr("Intervall:"), this));
  controls->addWidget(interval_);
  controls->addStretch();
  controls->addWidget(start_);
  controls->addWidget(stop_);
  layout->addLayout(controls);

  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("status"));
  status_->setWordWrap(true);
  layout->addWidget(status_);

  question_ = new QWidget(this);
  question_->setObjectName(QStringLiteral("question"));
  question_->setAutoFillBackground(true);
  QPalette questionColours = question_->palette();
  questionColours.setColor(QPalette::Window, QColor(0xFF, 0xF3, 0xD6));
  question_->setPalette(questionColours);
  auto* questionLayout = new QHBoxLayout(question_);
  questionText_ = new QLabel(question_);
  questionText_->setObjectName(QStringLiteral("questionText"));
  questionText_->setWordWrap(true);
  yes_ = new QPushButton(tr("Ja"), question_);
  yes_->setObjectName(QStringLiteral("restoreYes"));
  no_ = new QPushButton(tr("Nein"), question_);
  no_->setObjectName(QStringLiteral("restoreNo"));
  questionLayout->addWidget(questionText_, 1);
  questionLayout->addWidget(yes_);
  questionLayout->addWidget(no_);
  question_->hide();
  layout->addWidget(question_);

  auto* split = new QSplitter(Qt::Vertical, this);
  auto* scroll = new QScrollArea(split);
  view_ = new CWatchLineView(scroll);
  scroll->setWidget(view_);
  scroll->setWidgetResizable(false);
  scroll->setMinimumHeight(160);
  events_ = new QTreeWidget(split);
  events_->setObjectName(QStringLiteral("events"));
  events_->setRootIsDecorated(false);
  events_->setUniformRowHeights(true);
  events_->setHeaderLabels(
      {tr("Zeit"), tr("Ereignis"), tr("Seriennr."), tr("Adresse"), tr("Position"), tr("Detail")});
  events_->header()->setStretchLastSection(true);
  const int widths[] = {150, 190, 80, 115, 130};
  for (int column = 0; column < 5; ++column) events_->setColumnWidth(column, widths[column]);
  split->addWidget(scroll);
  split->addWidget(events_);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  layout->addWidget(split, 1);

  unrecorded_ = new QLabel(this);
  unrecorded_->setObjectName(QStringLiteral("unrecorded"));
  unrecorded_->setWordWrap(true);
  unrecorded_->hide();
  layout->addWidget(unrecorded_);

  // The time since a module went keeps counting between rounds.
  clock_ = new QTimer(this);
  clock_->setInterval(1000);
  connect(clock_, &QTimer::timeout, this, [this] {
    if (view_->AnyTimeShown()) view_->RefreshStates(Clock::now());
  });
  clock_->start();

  connect(chooseRecord_, &QPushButton::clicked, this, &CLineWatchDlg::ChooseRecord);
  connect(chooseBackup_, &QPushButton::clicked, this, &CLineWatchDlg::ChooseBackup);
  connect(start_, &QPushButton::clicked, this, &CLineWatchDlg::StartWatch);
  connect(stop_, &QPushButton::clicked, this, &CLineWatchDlg::StopWatch);
  connect(yes_, &QPushButton::clicked, this, &CLineWatchDlg::AnswerYes);
  connect(no_, &QPushButton::clicked, this, &CLineWatchDlg::AnswerNo);
  resize(900, 640);
}

void CLineWatchDlg::SetRecordPath(const QString& path) {
  record_->setText(path);
}
void CLineWatchDlg::SetBackupPath(const QString& path) {
  backup_->setText(path);
}
QString CLineWatchDlg::RecordPath() const {
  return record_->text().trimmed();
}
QString CLineWatchDlg::BackupPath() const {
  return backup_->text().trimmed();
}

QString CLineWatchDlg::QuestionText() const {
  return asked_ != 0 ? questionText_->text() : QString();
}

QString CLineWatchDlg::StatusText() const {
  return status_->text();
}

void CLineWatchDlg::ChooseRecord() {
  const QString path = QFileDialog::getOpenFileName(this, tr("Linienplan wählen"), RecordPath(),
                                                    tr("Linienplan (*.json);;Alle Dateien (*)"));
  if (!path.isEmpty()) SetRecordPath(path);
}

void CLineWatchDlg::ChooseBackup() {
  const QString path = QFileDialog::getOpenFileName(this, tr("Sicherung wählen"), BackupPath(),
                                                    tr("Sicherung (*.backup);;Alle Dateien (*)"));
  if (!path.isEmpty()) SetBackupPath(path);
}

void CLineWatchDlg::SetStatus(const QString& text, bool failure) {
  status_->setText(text);
  status_->setStyleSheet(failure ? QStringLiteral("color: #C62828;") : QString());
}

void CLineWatchDlg::UpdateButtons() {
  const bool idle = !running_ && !stopping_;
  start_->setEnabled(idle);
  stop_->setEnabled(running_);
  for (QWidget* input : {static_cast<QWidget*>(record_), static_cast<QWidget*>(backup_),
                         static_cast<QWidget*>(chooseRecord_), static_cast<QWidget*>(chooseBackup_),
                         static_cast<QWidget*>(interval_)}) {
    input->setEnabled(idle);
  }
}

void CLineWatchDlg::StartWatch() {
  if (running_ || stopping_) return;
  if (RecordPath().isEmpty()) {
    SetStatus(tr("Bitte zuerst den Linienplan wählen (topology --save)."), true);
    return;
  }
  WatchOptions options;
  options.recordPath = RecordPath().toStdString();
  options.backupPath = BackupPath().toStdString();
  options.interval = std::chrono::seconds(interval_->value());
  if (const AdapterPtr adapter = app_.SelectedAdapter()) options.adapter = adapter->name;
  const std::shared_ptr<WatchControl> control = factory_(options);
  std::string error;
  if (!control || !control->Load(&error)) {
    SetStatus(tr("Die Linienwache kann nicht starten: %1").arg(QString::fromStdString(error)),
              true);
    return;
  }
  auto mailbox = std::make_shared<Mailbox>();
  mailbox->window = this;
  control->OnEvent([mailbox](const WatchEvent& event) {
    mailbox->Deliver([&] {
      mailbox->events.push_back(event);
      // The window keeps only its last lines: a stalled window cannot make this grow.
      if (mailbox->events.size() > static_cast<size_t>(kMaxEventLines)) {
        mailbox->events.erase(mailbox->events.begin());
      }
    });
  });
  control->OnSnapshot([mailbox](const LineSnapshot& snapshot) {
    mailbox->Deliver([&] { mailbox->snapshot = snapshot; });
  });
  if (!control->Start()) {
    mailbox->Detach();
    SetStatus(tr("Die Linienwache kann nicht starten."), true);
    return;
  }
  if (mailbox_) mailbox_->Detach();
  mailbox_ = std::move(mailbox);
  session_ = std::make_shared<Session>();
  session_->control = control;
  session_->app = &app_;
  session_->workerId = app_.RegisterWorker([weak = std::weak_ptr<Session>(session_)] {
    const std::shared_ptr<Session> session = weak.lock();
    if (!session) return;
    if (session->ending.joinable()) {
      session->ending.join();
    } else if (session->control) {
      session->control->Stop();
    }
    std::erase(RetiredSessions(), std::static_pointer_cast<void>(session));
  });
  running_ = true;
  waiting_.clear();
  answered_.clear();
  asked_ = askedFor_ = 0;
  question_->hide();
  SetStatus(tr("Die Linienwache läuft: die erste Runde wird ausgeführt ..."), false);
  UpdateButtons();
}

void CLineWatchDlg::StopWatch() {
  if (!running_) return;
  EndWatch(false);
  SetStatus(tr("Die Linienwache wird angehalten ..."), false);
}

// Asks the watch to stop on a thread of its own and goes on at once: the watch may be inside
// a round that waits for the network. When the window stays, it hears of the end.
void CLineWatchDlg::EndWatch(bool windowGoes) {
  waiting_.clear();
  asked_ = askedFor_ = 0;
  if (question_) question_->hide();
  if (!session_) return;
  std::shared_ptr<Session> session = std::move(session_);
  if (windowGoes && mailbox_) mailbox_->Detach();
  session->ending = std::thread([control = std::move(session->control), ended = session->ended,
                                 mailbox = mailbox_]() mutable {
    control->Stop();
    control.reset();  // the watch's own end runs here too
    ended->store(true);
    if (mailbox) mailbox->Deliver([&] { mailbox->stopped = true; });
  });
  running_ = false;
  stopping_ = !windowGoes;
  Retire(std::move(session));
  if (!windowGoes) UpdateButtons();
}

void CLineWatchDlg::Drain(Mailbox& box) {
  std::vector<WatchEvent> events;
  std::optional<LineSnapshot> snapshot;
  bool stopped = false;
  {
    std::lock_guard hold(box.lock);
    events.swap(box.events);
    snapshot.swap(box.snapshot);
    stopped = box.stopped;
    box.stopped = false;
    box.posted = false;
  }
  for (const WatchEvent& event : events) ShowEvent(event);
  if (snapshot) ShowSnapshot(*snapshot);
  if (stopped) OnStopped();
}

void CLineWatchDlg::OnStopped() {
  if (!stopping_) return;
  stopping_ = false;
  SetStatus(tr("Die Linienwache ist angehalten."), false);
  UpdateButtons();
  emit stopped();
}

QStringList CLineWatchDlg::EventColumns(const WatchEvent& event) {
  const qint64 ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(event.time.time_since_epoch()).count();
  const QString time =
      QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
  QString name;
  switch (event.kind) {
    case EventKind::Gone:
      name = tr("fehlt");
      break;
    case EventKind::Back:
      name = tr("wieder da");
      break;
    case EventKind::Moved:
      name = tr("versetzt");
      break;
    case EventKind::Turned:
      name = tr("gedreht");
      break;
    case EventKind::OtherAddress:
      name = tr("andere Adresse");
      break;
    case EventKind::OtherFirmware:
      name = tr("andere Firmware");
      break;
    case EventKind::Replaced:
      name = tr("ersetzt");
      break;
    case EventKind::NewModule:
      name = tr("neues Modul");
      break;
    case EventKind::DuplicateAddress:
      name = tr("doppelte Adresse");
      break;
    case EventKind::RestoreDone:
      name = tr("wiederhergestellt");
      break;
    case EventKind::RestoreFailed:
      name = tr("Wiederherstellung fehlgeschlagen");
      break;
    case EventKind::RestoreDeclined:
      name = tr("Wiederherstellung abgelehnt");
      break;
    case EventKind::RoundFailed:
      name = tr("Runde fehlgeschlagen");
      break;
    case EventKind::LineAsRecorded:
      name = tr("Linie wie geplant");
      break;
  }
  QStringList detail;
  if (event.outage) detail << tr("Ausfall %1").arg(DurationText(*event.outage));
  if (event.replacedSerial != 0) detail << tr("statt SN %1").arg(event.replacedSerial);
  // The core writes each detail in both languages; the English one is also the log's and JSON's.
  const bool german = base::CurrentLanguage() == base::Language::German;
  const std::string& shown =
      german && !event.germanDetail.empty() ? event.germanDetail : event.detail;
  if (!shown.empty()) detail << QString::fromStdString(shown);
  return {time,
          name,
          event.serial != 0 ? QString::number(event.serial) : QString(),
          QString::fromStdString(event.ip),
          event.position
              ? tr("Zeile %1, Spalte %2").arg(event.position->row).arg(event.position->column)
              : QString(),
          detail.join(QStringLiteral("; "))};
}

void CLineWatchDlg::ShowEvent(const WatchEvent& event) {
  QScrollBar* bar = events_->verticalScrollBar();
  const bool atEnd = bar->value() == bar->maximum();
  auto* item = new QTreeWidgetItem(EventColumns(event));
  switch (event.kind) {
    case EventKind::Gone:
    case EventKind::Replaced:
    case EventKind::DuplicateAddress:
    case EventKind::RestoreFailed:
    case EventKind::RoundFailed:
      for (int column = 0; column < item->columnCount(); ++column)
        item->setForeground(column, kBadEvent);
      break;
    case EventKind::Back:
    case EventKind::RestoreDone:
    case EventKind::LineAsRecorded:
      for (int column = 0; column < item->columnCount(); ++column)
        item->setForeground(column, kGoodEvent);
      break;
    default:
      break;
  }
  events_->addTopLevelItem(item);
  while (events_->topLevelItemCount() > kMaxEventLines) delete events_->takeTopLevelItem(0);
  if (atEnd) events_->scrollToBottom();
}

void CLineWatchDlg::ShowSnapshot(const LineSnapshot& snapshot) {
  snapshot_ = snapshot;
  haveSnapshot_ = true;
  const Clock::time_point now = Clock::now();
  view_->ShowSnapshot(snapshot, now);

  QString status = tr("%1 von %2 Modulen vorhanden, Runde %3")
                       .arg(snapshot.present)
                       .arg(snapshot.expected)
                       .arg(snapshot.round);
  if (snapshot.lastRound) {
    const qint64 ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                          snapshot.lastRound->time_since_epoch())
                          .count();
    status += tr(", letzte Runde %1")
                  .arg(QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("hh:mm:ss")));
  }
  if (snapshot.lastRoundFailed) status += tr(" (fehlgeschlagen)");
  if (running_ || stopping_) SetStatus(status, snapshot.lastRoundFailed);

  QStringList unrecorded;
  for (uint32_t serial : snapshot.unrecorded) unrecorded << tr("SN %1").arg(serial);
  unrecorded_->setText(tr("Nicht im Linienplan: %1").arg(unrecorded.join(QStringLiteral(", "))));
  unrecorded_->setVisible(!unrecorded.isEmpty());

  // The questions follow what the watch waits for: a new one is queued once, an answered one
  // is not asked again while a snapshot from before the answer still shows it waiting.
  std::set<uint32_t> pending;
  for (const ModuleWatchState& module : snapshot.modules) {
    if (module.presence == Presence::Replaced && module.restorePending &&
        module.replacementSerial != 0) {
      pending.insert(module.replacementSerial);
    }
  }
  std::erase_if(answered_, [&](uint32_t serial) { return !pending.contains(serial); });
  std::erase_if(waiting_, [&](uint32_t serial) { return !pending.contains(serial); });
  if (!running_) return;  // a stopping watch asks nothing more
  for (uint32_t serial : pending) {
    if (answered_.contains(serial) || serial == asked_ ||
        std::find(waiting_.begin(), waiting_.end(), serial) != waiting_.end()) {
      continue;
    }
    waiting_.push_back(serial);
  }
  if (asked_ != 0 && !pending.contains(asked_)) {
    asked_ = askedFor_ = 0;
    question_->hide();
  }
  if (asked_ == 0) AskNext();
}

void CLineWatchDlg::AskNext() {
  asked_ = askedFor_ = 0;
  while (!waiting_.empty() && asked_ == 0) {
    const uint32_t serial = waiting_.front();
    waiting_.erase(waiting_.begin());
    for (const ModuleWatchState& module : snapshot_.modules) {
      if (module.presence != Presence::Replaced || module.replacementSerial != serial) continue;
      asked_ = serial;
      askedFor_ = module.serial;
      questionText_->setText(
          tr("An der Stelle von SN %1 (%2, Zeile %3, Spalte %4) steht das neue Modul SN %5 mit "
             "Werkseinstellungen.\nDie Sicherung von SN %1 auf das neue Modul zurückspielen "
             "(Adresse, Register, Flash, PLC-Programm)?")
              .arg(module.serial)
              .arg(QString::fromStdString(module.ip))
              .arg(module.position.row)
              .arg(module.position.column)
              .arg(serial));
      break;
    }
  }
  question_->setVisible(asked_ != 0);
}

void CLineWatchDlg::AnswerYes() {
  Answer(true);
}

void CLineWatchDlg::AnswerNo() {
  Answer(false);
}

void CLineWatchDlg::Answer(bool restore) {
  if (asked_ == 0 || !session_ || !session_->control) return;
  const uint32_t serial = asked_;
  answered_.insert(serial);
  if (restore) {
    session_->control->ConfirmRestore(serial);
  } else {
    session_->control->DeclineRestore(serial);
  }
  AskNext();
}

void CLineWatchDlg::closeEvent(QCloseEvent* event) {
  EndWatch(true);
  QDialog::closeEvent(event);
}

void CLineWatchDlg::reject() {
  EndWatch(true);
  QDialog::reject();
}

CLineWatchDlg* OpenLineWatchWindow(CMRegApp& app, QWidget* parent) {
  if (CLineWatchDlg* open = CLineWatchDlg::Current()) {
    open->showNormal();
    open->raise();
    open->activateWindow();
    return open;
  }
  auto* dialog = new CLineWatchDlg(app, parent);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->show();
  return dialog;
}

}  // namespace watch::ui
