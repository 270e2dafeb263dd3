// The line watch window driven by a stand-in watch (no network): a replaced module is drawn
// with its state and its restore question; No declines and writes nothing, Yes asks the watch
// to restore, each question once; the drawing labels every state; stopping and closing ask the
// watch to stop and never wait for it.
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "backup/backup_file.h"
#include "base/prompt.h"
#include "discovery/mreg_app.h"
#include "fixtures/fake_node_link.h"
#include "fixtures/fake_watch_control.h"
#include "gui/runner/gui_tests.h"
#include "params/ui/cmreg_dlg.h"
#include "platform/profile.h"
#include "watch/line_tracker.h"
#include "watch/ui/line_watch_dlg.h"
#include "watch/ui/watch_line_view.h"

namespace {

using fixtures::FakeWatchControl;
using watch::Clock;
using watch::ModuleWatchState;
using watch::Presence;
using watch::ui::CLineWatchDlg;
using watch::ui::CWatchLineView;
using watch::ui::StateTone;

constexpr uint32_t kOld = 3100102;
constexpr uint32_t kNew = 3999002;
constexpr uint32_t kSecondOld = 3100202;
constexpr uint32_t kSecondNew = 3999202;

ModuleWatchState Recorded(uint32_t serial, int row, int column, std::optional<uint32_t> parent) {
  ModuleWatchState module;
  module.serial = serial;
  module.ip = "192.168.202." + std::to_string(20 + serial % 100 + 10 * row);
  module.firmware = "4.14";
  module.position = {row, column};
  module.direction = "left-to-right";
  module.parent = parent;
  return module;
}

// Two chains of the record: 3100101..3100103 in row 0, 3100201..3100202 in row 1.
watch::LineSnapshot Line() {
  watch::LineSnapshot line;
  line.modules = {Recorded(3100101, 0, 1, std::nullopt), Recorded(kOld, 0, 2, 3100101),
                  Recorded(3100103, 0, 3, kOld), Recorded(3100201, 1, 1, std::nullopt),
                  Recorded(kSecondOld, 1, 2, 3100201)};
  line.expected = line.modules.size();
  line.present = line.modules.size();
  line.round = 4;
  line.lastRound = Clock::now();
  return line;
}

ModuleWatchState& WatchStateOf(watch::LineSnapshot& line, uint32_t serial) {
  for (ModuleWatchState& module : line.modules) {
    if (module.serial == serial) return module;
  }
  qFatal("module %u is not in the line", serial);
}

void Replace(watch::LineSnapshot& line, uint32_t oldSerial, uint32_t newSerial, bool pending) {
  ModuleWatchState& module = WatchStateOf(line, oldSerial);
  module.presence = Presence::Replaced;
  module.goneSince = Clock::now() - std::chrono::seconds(40);
  module.replacementSerial = newSerial;
  module.restorePending = pending;
  --line.present;
}

// The watch itself over a scripted line (no network): 101 -- 102 in the record; from the
// second round on, 902 with factory registers answers in 102's place.
class ScriptedProbe : public watch::LineProbe {
 public:
  struct Shared {
    std::mutex lock;
    int rounds = 0;
    std::vector<std::string> restores;  // "902 10.0.0.99 102"
  };
  explicit ScriptedProbe(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

  watch::RoundView Discover() override {
    std::lock_guard hold(shared_->lock);
    ++shared_->rounds;
    const bool replaced = shared_->rounds >= 2;
    const bool restored = !shared_->restores.empty();
    modules_ = {Drawn(101, 1, std::nullopt, "10.0.0.1"),
                replaced ? Drawn(902, 2, 101, restored ? "10.0.0.2" : "10.0.0.99")
                         : Drawn(102, 2, 101, "10.0.0.2")};
    watch::RoundView view;
    for (const auto& m : modules_) view.answered.push_back({m.serial, m.ip, m.firmware});
    return view;
  }
  void DrawTopology(watch::RoundView& view) override { view.drawing = modules_; }
  std::optional<std::string> ConfigurationId(uint32_t, const std::string&) override {
    return std::string(watch::kFactoryConfigurationId);
  }
  std::string Restore(uint32_t serial, const std::string& ip, uint32_t recordSerial) override {
    std::lock_guard hold(shared_->lock);
    shared_->restores.push_back(std::to_string(serial) + " " + ip + " " +
                                std::to_string(recordSerial));
    return std::string();
  }

 private:
  static watch::DrawnModule Drawn(uint32_t serial, int column, std::optional<uint32_t> parent,
                                  const char* ip) {
    watch::DrawnModule m;
    m.serial = serial;
    m.ip = ip;
    m.firmware = "4.14";
    m.position = {0, column};
    m.direction = "left-to-right";
    m.parent = parent;
    return m;
  }
  std::shared_ptr<Shared> shared_;
  std::vector<watch::DrawnModule> modules_;
};

// The record of that line and a backup file that holds 102.
void WriteRecordAndBackup(const QString& recordPath, const QString& backupPath) {
  const nlohmann::json record{{"modules",
                               {{{"serial", 101},
                                 {"ip", "10.0.0.1"},
                                 {"firmware", "4.14"},
                                 {"column", 1},
                                 {"row", 0},
                                 {"direction", "left-to-right"},
                                 {"parent", nullptr}},
                                {{"serial", 102},
                                 {"ip", "10.0.0.2"},
                                 {"firmware", "4.14"},
                                 {"column", 2},
                                 {"row", 0},
                                 {"direction", "left-to-right"},
                                 {"parent", 101}}}}};
  std::ofstream(recordPath.toStdString()) << record.dump();
  backup::CNode_DataBackup saved;
  saved.serialNumber = 102;
  saved.ipText = "10.0.0.2";
  saved.maskText = "255.255.255.0";
  saved.gatewayText = "0.0.0.0";
  saved.registerCount = 363;
  saved.registers.assign(363, 0);
  const std::vector<uint8_t> bytes = backup::BackupFileBytes({saved});
  std::ofstream(backupPath.toStdString(), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

bool HasEvent(QTreeWidget* events, const QString& name, const QString& serial) {
  for (int k = 0; k < events->topLevelItemCount(); ++k) {
    const QTreeWidgetItem* row = events->topLevelItem(k);
    if (row->text(1) == name && row->text(2) == serial) return true;
  }
  return false;
}

class WatchWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<CMRegApp> app_;
  std::shared_ptr<FakeWatchControl::Record> record_;
  std::unique_ptr<CLineWatchDlg> window_;

  // The watch hands its snapshots and events over on its own thread.
  void Feed(const watch::LineSnapshot& line) {
    std::thread([&] { record_->snapshotSink(line); }).join();
  }
  void Feed(const watch::WatchEvent& event) {
    std::thread([&] { record_->eventSink(event); }).join();
  }
  QPushButton* Button(const char* name) { return window_->findChild<QPushButton*>(name); }
  void Start() {
    window_->SetRecordPath(QStringLiteral("/nonexistent/line.json"));
    window_->SetBackupPath(QStringLiteral("/nonexistent/line.backup"));
    QTest::mouseClick(Button("start"), Qt::LeftButton);
    QVERIFY(window_->Running());
    QVERIFY(record_->started);
    QVERIFY(record_->snapshotSink && record_->eventSink);
  }
  void HoldStop(bool hold) {
    std::lock_guard guard(record_->lock);
    record_->holdStop = hold;
    record_->changed.notify_all();
  }
  std::vector<uint32_t> Confirmed() {
    std::lock_guard hold(record_->lock);
    return record_->confirmed;
  }
  std::vector<uint32_t> Declined() {
    std::lock_guard hold(record_->lock);
    return record_->declined;
  }

 private slots:
  void init() {
    app_ = std::make_unique<CMRegApp>();
    record_ = std::make_shared<FakeWatchControl::Record>();
    window_ = std::make_unique<CLineWatchDlg>(*app_, nullptr, FakeWatchControl::Factory(record_));
    window_->show();
  }
  void cleanup() {
    HoldStop(false);
    window_.reset();
    app_.reset();  // joins a watch still ending
  }

  void replacedModuleIsDrawnAndAskedFor() {
    Start();
    QCOMPARE(record_->options.recordPath, std::string("/nonexistent/line.json"));
    QCOMPARE(record_->options.backupPath, std::string("/nonexistent/line.backup"));
    watch::LineSnapshot line = Line();
    Replace(line, kOld, kNew, true);
    Feed(line);
    watch::WatchEvent replaced;
    replaced.time = Clock::now();
    replaced.kind = watch::EventKind::Replaced;
    replaced.serial = kNew;
    replaced.ip = "192.168.202.22";
    replaced.position = watch::ModulePosition{0, 2};
    replaced.replacedSerial = kOld;
    Feed(replaced);

    QTRY_VERIFY(window_->QuestionSerial() == kNew);
    auto* question = window_->findChild<QWidget*>("question");
    QVERIFY(question->isVisible());
    const QString text = window_->QuestionText();
    QVERIFY2(text.contains(QString::number(kOld)) && text.contains(QString::number(kNew)),
             qPrintable(text));
    QVERIFY(Button("restoreYes")->isVisible() && Button("restoreNo")->isVisible());

    CWatchLineView* view = window_->View();
    QCOMPARE(view->StateTextOf(kOld), QStringLiteral("ersetzt: SN 3999002"));
    QCOMPARE(view->StateToneOf(kOld), StateTone::Bad);
    const int device = view->Drawing().FindDeviceBySerial(kOld);
    QVERIFY(device > 0);
    QVERIFY(view->Drawing().devices[static_cast<size_t>(device)].error != 0);
    QCOMPARE(view->StateTextOf(3100101), QStringLiteral("vorhanden"));

    QTreeWidget* events = window_->EventList();
    QCOMPARE(events->topLevelItemCount(), 1);
    const QTreeWidgetItem* row = events->topLevelItem(0);
    QCOMPARE(row->text(1), QStringLiteral("ersetzt"));
    QCOMPARE(row->text(2), QStringLiteral("3999002"));
    QCOMPARE(row->text(3), QStringLiteral("192.168.202.22"));
    QCOMPARE(row->text(4), QStringLiteral("Zeile 0, Spalte 2"));
    QVERIFY(row->text(5).contains(QStringLiteral("statt SN 3100102")));
    QVERIFY(window_->StatusText().contains(QStringLiteral("4 von 5 Modulen vorhanden")));
    // Nothing was answered for the user.
    QVERIFY(Confirmed().empty() && Declined().empty());
  }

  void noDeclinesAndIsNotAskedAgain() {
    Start();
    watch::LineSnapshot line = Line();
    Replace(line, kOld, kNew, true);
    Feed(line);
    QTRY_COMPARE(window_->QuestionSerial(), kNew);
    QTest::mouseClick(Button("restoreNo"), Qt::LeftButton);
    QCOMPARE(Declined(), std::vector<uint32_t>{kNew});
    QVERIFY(Confirmed().empty());
    QVERIFY(window_->QuestionText().isEmpty());
    QVERIFY(!window_->findChild<QWidget*>("question")->isVisible());
    // A snapshot from before the watch took the answer still shows it waiting: no second
    // question, no second answer.
    Feed(line);
    QTest::qWait(50);
    QCoreApplication::processEvents();
    QCOMPARE(window_->QuestionSerial(), 0u);
    QCOMPARE(Declined().size(), size_t{1});
    QVERIFY(Confirmed().empty());
  }

  void yesAsksTheWatchToRestoreEachReplacedModuleInTurn() {
    Start();
    watch::LineSnapshot line = Line();
    Replace(line, kOld, kNew, true);
    Replace(line, kSecondOld, kSecondNew, true);
    Feed(line);
    QTRY_COMPARE(window_->QuestionSerial(), kNew);
    QTest::mouseClick(Button("restoreYes"), Qt::LeftButton);
    QCOMPARE(Confirmed(), std::vector<uint32_t>{kNew});
    // The next replaced module's question follows at once.
    QCOMPARE(window_->QuestionSerial(), kSecondNew);
    QVERIFY(window_->QuestionText().contains(QString::number(kSecondOld)));
    QTest::mouseClick(Button("restoreNo"), Qt::LeftButton);
    QCOMPARE(Confirmed(), std::vector<uint32_t>{kNew});
    QCOMPARE(Declined(), std::vector<uint32_t>{kSecondNew});
    QCOMPARE(window_->QuestionSerial(), 0u);
    // A restore the watch no longer offers is not asked for.
    watch::LineSnapshot withoutBackup = Line();
    Replace(withoutBackup, kOld, 3999777, false);
    Feed(withoutBackup);
    QTest::qWait(50);
    QCoreApplication::processEvents();
    QCOMPARE(window_->QuestionSerial(), 0u);
  }

  void everyStateIsLabelled_data() {
    QTest::addColumn<int>("presence");
    QTest::addColumn<int>("goneForS");
    QTest::addColumn<bool>("moved");
    QTest::addColumn<bool>("turned");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("tone");
    const int present = static_cast<int>(Presence::Present);
    const int good = static_cast<int>(StateTone::Good);
    const int warning = static_cast<int>(StateTone::Warning);
    const int bad = static_cast<int>(StateTone::Bad);
    QTest::newRow("present") << present << -1 << false << false << "vorhanden" << good;
    QTest::newRow("moved") << present << -1 << true << false << "versetzt" << warning;
    QTest::newRow("moved and turned")
        << present << -1 << true << true << "versetzt, gedreht" << warning;
    QTest::newRow("not answering") << static_cast<int>(Presence::Missing) << 12 << false << false
                                   << "antwortet nicht seit 0:00:12" << warning;
    QTest::newRow("gone") << static_cast<int>(Presence::Gone) << 3723 << false << false
                          << "fehlt seit 1:02:03" << bad;
    QTest::newRow("gone for days") << static_cast<int>(Presence::Gone) << 2 * 86400 + 65 << false
                                   << false << "fehlt seit 2 d 0:01:05" << bad;
    QTest::newRow("replaced") << static_cast<int>(Presence::Replaced) << 30 << false << false
                              << "ersetzt: SN 3999002" << bad;
  }
  void everyStateIsLabelled() {
    QFETCH(int, presence);
    QFETCH(int, goneForS);
    QFETCH(bool, moved);
    QFETCH(bool, turned);
    QFETCH(QString, text);
    QFETCH(int, tone);
    const Clock::time_point now = Clock::now();
    ModuleWatchState module = Recorded(kOld, 0, 2, 3100101);
    module.presence = static_cast<Presence>(presence);
    if (goneForS >= 0) module.goneSince = now - std::chrono::seconds(goneForS);
    module.moved = moved;
    module.turned = turned;
    module.replacementSerial = module.presence == Presence::Replaced ? kNew : 0;
    const watch::ui::ModuleStateText state = CWatchLineView::StateOf(module, now);
    QCOMPARE(state.text, text);
    QCOMPARE(static_cast<int>(state.tone), tone);
  }

  void drawingFollowsTheRecord() {
    watch::LineSnapshot line = Line();
    WatchStateOf(line, 3100103).direction = "right-to-left";
    WatchStateOf(line, 3100103).firmware = "104.12";
    // A damaged record: a place far off the grid and a parent that is not recorded.
    // (13108 rows are 65540 grid units: past 16 bits they would wrap to the top of the drawing.)
    line.modules.push_back(Recorded(3100999, 13108, -5, 4242));
    const topology::DeviceArray drawing = watch::ui::RecordDrawing(line, Clock::now());
    QCOMPARE(drawing.ModuleCount(), line.modules.size());
    const auto device = [&](uint32_t serial) -> const topology::CPLViewDevice& {
      const int index = drawing.FindDeviceBySerial(serial);
      if (index < 1) qFatal("module %u is not drawn", serial);
      return drawing.devices[static_cast<size_t>(index)];
    };
    QCOMPARE(device(3100101).column, uint16_t{topology::kFirstModuleColumn});
    QCOMPARE(device(3100101).parent, 0);
    QCOMPARE(device(kOld).column, uint16_t{2 * topology::kGridStep});
    QCOMPARE(device(kOld).parent, drawing.FindDeviceBySerial(3100101));
    QCOMPARE(device(3100103).parent, drawing.FindDeviceBySerial(kOld));
    QCOMPARE(device(3100103).direction, topology::kRightToLeft);
    QCOMPARE(device(3100103).node->revision, uint16_t{(104 << 8) | 12});
    QCOMPARE(device(kSecondOld).row, uint16_t{topology::kGridStep});
    QCOMPARE(device(3100999).parent, 0);
    QCOMPARE(device(3100999).column, uint16_t{topology::kGridStep});
    QVERIFY(device(3100999).row > device(kSecondOld).row);
    QVERIFY(device(3100999).row < 0x8000);
  }

  void loadFailureIsShownAndNothingStarts() {
    record_->loadError = "cannot read /nonexistent/line.json";
    window_->SetRecordPath(QStringLiteral("/nonexistent/line.json"));
    QTest::mouseClick(Button("start"), Qt::LeftButton);
    QVERIFY(!window_->Running());
    QVERIFY(!record_->started);
    QVERIFY(window_->StatusText().contains(QStringLiteral("cannot read /nonexistent/line.json")));
    QVERIFY(Button("start")->isEnabled());
  }

  void stopAsksTheWatchAndTheWindowStaysLive() {
    Start();
    HoldStop(true);  // a round that waits for the network
    QSignalSpy stopped(window_.get(), &CLineWatchDlg::stopped);
    QTest::mouseClick(Button("stop"), Qt::LeftButton);
    {
      std::unique_lock hold(record_->lock);
      QVERIFY(record_->changed.wait_for(hold, std::chrono::seconds(10),
                                        [&] { return record_->stopEntered; }));
      QVERIFY(!record_->stopReturned);  // the click came back while the watch still stops
    }
    QVERIFY(window_->Stopping());
    QVERIFY(!Button("start")->isEnabled() && !Button("stop")->isEnabled());
    HoldStop(false);
    QVERIFY(stopped.wait(10000));
    QVERIFY(!window_->Stopping());
    QVERIFY(Button("start")->isEnabled());
    QTRY_VERIFY(record_->destroyed);  // the watch ended off the window's thread
  }

  void closingNeverWaitsForTheWatch() {
    Start();
    HoldStop(true);
    window_->close();
    // Closed, the window takes nothing more from the watch.
    watch::WatchEvent late;
    late.time = Clock::now();
    late.kind = watch::EventKind::Gone;
    late.serial = 3100101;
    Feed(late);
    QTest::qWait(50);
    QCOMPARE(window_->EventList()->topLevelItemCount(), 0);
    window_.reset();  // the window is gone while the watch still stops
    {
      std::unique_lock hold(record_->lock);
      QVERIFY(record_->changed.wait_for(hold, std::chrono::seconds(10),
                                        [&] { return record_->stopEntered; }));
      QVERIFY(!record_->stopReturned);
    }
    // What the watch hands over now goes nowhere.
    watch::LineSnapshot line = Line();
    Replace(line, kOld, kNew, true);
    Feed(line);
    QCoreApplication::processEvents();
    HoldStop(false);
    QTRY_VERIFY(record_->destroyed);
    QVERIFY(Confirmed().empty() && Declined().empty());
  }
  // The window over the watch itself: the replaced module's question comes from the watch's
  // own round; No writes nothing, however many rounds follow; Yes restores 102's record onto
  // 902 and the window tells of it.
  void withTheWatchItself_data() {
    QTest::addColumn<bool>("restore");
    QTest::newRow("no") << false;
    QTest::newRow("yes") << true;
  }
  void withTheWatchItself() {
    QFETCH(bool, restore);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString recordPath = folder.filePath(QStringLiteral("record.json"));
    const QString backupPath = folder.filePath(QStringLiteral("line.backup"));
    WriteRecordAndBackup(recordPath, backupPath);
    auto line = std::make_shared<ScriptedProbe::Shared>();
    window_ = std::make_unique<CLineWatchDlg>(
        *app_, nullptr, watch::ui::LineWatchFactory([line](const watch::WatchOptions&) {
          return std::make_unique<ScriptedProbe>(line);
        }));
    window_->show();
    window_->SetRecordPath(recordPath);
    window_->SetBackupPath(backupPath);
    window_->findChild<QSpinBox*>(QStringLiteral("interval"))->setValue(1);
    QTest::mouseClick(Button("start"), Qt::LeftButton);
    QVERIFY2(window_->Running(), qPrintable(window_->StatusText()));
    QTRY_COMPARE_WITH_TIMEOUT(window_->QuestionSerial(), 902u, 20000);
    QVERIFY(window_->QuestionText().contains(QStringLiteral("SN 102")));
    QCOMPARE(window_->View()->StateTextOf(102), QStringLiteral("ersetzt: SN 902"));
    QVERIFY(HasEvent(window_->EventList(), QStringLiteral("ersetzt"), QStringLiteral("902")));
    const auto restores = [&] {
      std::lock_guard hold(line->lock);
      return line->restores;
    };
    const auto rounds = [&] {
      std::lock_guard hold(line->lock);
      return line->rounds;
    };
    QVERIFY(restores().empty());  // nothing before the answer
    QTest::mouseClick(Button(restore ? "restoreYes" : "restoreNo"), Qt::LeftButton);
    if (restore) {
      QTRY_VERIFY_WITH_TIMEOUT(HasEvent(window_->EventList(), QStringLiteral("wiederhergestellt"),
                                        QStringLiteral("902")),
                               20000);
      QCOMPARE(restores(), std::vector<std::string>{"902 10.0.0.99 102"});
    } else {
      QTRY_VERIFY_WITH_TIMEOUT(
          HasEvent(window_->EventList(), QStringLiteral("Wiederherstellung abgelehnt"),
                   QStringLiteral("902")),
          20000);
      // Two more rounds: still nothing written, and no second question.
      const int answeredAt = rounds();
      QTRY_VERIFY_WITH_TIMEOUT(rounds() >= answeredAt + 2, 20000);
      QVERIFY(restores().empty());
      QCOMPARE(window_->QuestionSerial(), 0u);
    }
  }

  // The advanced window's "Linienwache..." opens the window over it, and a second click raises
  // the one already open.
  void advancedWindowOpensOneLineWatch() {
    fixtures::FakeModule module;
    base::SilentPrompt prompt;
    platform::MemoryProfileStore profile;
    params::CMRegDlg screen(std::make_unique<fixtures::FakeNodeLink>(module), prompt, profile);
    params::CMRegDlg::Screens screens;
    screens.lineWatch = [&] { watch::ui::OpenLineWatchWindow(*app_, screen.AdvancedWindow()); };
    screen.SetScreens(screens);
    screen.show();
    screen.OpenAdvanced();
    QTRY_VERIFY(screen.AdvancedWindow() && screen.AdvancedWindow()->isVisible());
    auto* open = screen.AdvancedWindow()->findChild<QPushButton*>(QStringLiteral("lineWatch"));
    QVERIFY(open);
    QCOMPARE(open->text(), QStringLiteral("Linienwache..."));
    window_.reset();  // the test's own window is not the one opened here
    QTest::mouseClick(open, Qt::LeftButton);
    CLineWatchDlg* opened = CLineWatchDlg::Current();
    QVERIFY(opened);
    QCOMPARE(opened->parentWidget(), screen.AdvancedWindow());
    QCOMPARE(opened->windowTitle(), QStringLiteral("Linienwache"));
    QTest::mouseClick(open, Qt::LeftButton);
    QCOMPARE(CLineWatchDlg::Current(), opened);
    QCOMPARE(screen.AdvancedWindow()->findChildren<CLineWatchDlg*>().size(), qsizetype{1});
    opened->close();  // deletes itself
    QTRY_VERIFY(CLineWatchDlg::Current() == nullptr);
  }
};

}  // namespace

const test::GuiTest kWatchWindowTestRegistered(
    "watch_window_test", test::RunQtTestObject<QApplication, WatchWindowTest>);
#include "watch_window_test.moc"
