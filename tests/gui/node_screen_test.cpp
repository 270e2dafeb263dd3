// The node screen (CMRegDlg) against linesim in a lab: the test process makes the lab and
// starts linesim, then runs the Qt tests in a child that has entered the lab's PC namespace.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>

#include "base/format.h"
#include "base/prompt.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/qt_lab.h"
#include "gui/runner/gui_tests.h"
#include "params/display_items.h"
#include "params/ui/cmreg_dlg.h"
#include "platform/profile.h"
#include "ui/ctab_dlg.h"
#include "ui/language_setup.h"
#include "ui/qt_prompt.h"

namespace {

constexpr uint32_t kScreenNode1 = 3100101;  // family 0x09, speed in m/s
constexpr uint32_t kScreenNode2 = 3100102;  // the same kind
constexpr uint32_t kNode4 = 3100104;        // family 0x03, module type 3 (transport), reversed
constexpr uint32_t kNode5 = 3100105;
constexpr int kNodeScreenWaitMs = 15000;
constexpr const char* kNodeRefusal =
    "Falsche Module Nummer. Nur Nummern von 1 bis 236 sind gültig.";

class NodeScreenGuiTest : public QObject {
  Q_OBJECT
 public:
  NodeScreenGuiTest(const test::Linesim& line, std::string pcAddress)
      : line_(line), pcAddress_(std::move(pcAddress)) {}

 private:
  template <typename T>
  T* Find(const QString& name) {
    T* widget = dialog_->findChild<T*>(name);
    if (!widget) qFatal("no widget %s", qPrintable(name));
    return widget;
  }
  QString Text(const QString& name) { return Find<QLabel>(name)->text(); }
  // Types into a field of the screen and presses its Set button.
  void TypeAndSet(int itemId, const QString& text) {
    auto* edit = Find<QLineEdit>(QStringLiteral("item%1_A").arg(itemId));
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
    QTest::mouseClick(Find<QPushButton>(QStringLiteral("set%1_A").arg(itemId)), Qt::LeftButton);
  }
  void ChangeTo(const QString& node) {
    auto* from = Find<QLineEdit>(QStringLiteral("from"));
    from->setText(node);
    QTest::mouseClick(Find<QPushButton>(QStringLiteral("refresh")), Qt::LeftButton);
  }
  // Lets the worker finish what was posted, then paints what it reported.
  void Settle() {
    dialog_->Worker().WaitIdle();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
  }
  // Gives `widget` the keyboard focus and waits until the application reports it there,
  // which needs the window to be active.
  bool FocusOn(QWidget* widget) {
    if (!QTest::qWaitFor([&] { return dialog_->isActiveWindow(); }, kNodeScreenWaitMs))
      return false;
    widget->setFocus(Qt::OtherFocusReason);
    return QTest::qWaitFor([&] { return QApplication::focusWidget() == widget; },
                           kNodeScreenWaitMs);
  }
  size_t PromptCount() { return prompt_->Texts().size(); }
  size_t Shown(const std::string& text) {
    const auto texts = prompt_->Texts();
    return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
  }
  // Connects to `from` and types `to` into the To field.
  void ShowRange(const QString& from, const QString& to) {
    ChangeTo(from);
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().connected, kNodeScreenWaitMs);
    Settle();
    Find<QLineEdit>(QStringLiteral("to"))->setText(to);
  }
  // A range operation has run to its end: the wait indication is gone and the From node is
  // shown again.
  void WaitRangeEnded(int from) {
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->Worker().JobsRun() > jobsBefore_, kNodeScreenWaitMs);
    Settle();
    QTRY_VERIFY_WITH_TIMEOUT(!dialog_->ShownView().busy, kNodeScreenWaitMs);
    QVERIFY(!Find<QPushButton>(QStringLiteral("cancelRange"))->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().connected, kNodeScreenWaitMs);
    QCOMPARE(dialog_->ShownView().node, from);
  }
  void NoWrites(uint32_t serial) {
    const test::LinesimCounters counters = line_.Counters(serial);
    QCOMPARE(counters.writeSingles, uint64_t{0});
    QCOMPARE(counters.writeMultiples, uint64_t{0});
    QCOMPARE(counters.saves, uint64_t{0});
  }

  const test::Linesim& line_;
  const std::string pcAddress_;
  uint64_t jobsBefore_ = 0;
  std::unique_ptr<base::ScriptedPrompt> prompt_;  // fresh for every test
  platform::MemoryProfileStore profile_;
  std::unique_ptr<params::CMRegDlg> dialog_;

 private slots:
  void init() {
    prompt_ = std::make_unique<base::ScriptedPrompt>();
    params::ScreenRangeHooks hooks;
    hooks.pcAddressFor = [pc = pcAddress_](const std::string&) { return std::optional(pc); };
    dialog_ = std::make_unique<params::CMRegDlg>(params::MakeSocketNodeLink(), *prompt_, profile_,
                                                 std::string(), nullptr, std::move(hooks));
    dialog_->show();
    dialog_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog_.get()));
    QTRY_COMPARE_WITH_TIMEOUT(Find<QLineEdit>(QStringLiteral("network"))->text(),
                              QStringLiteral("192.168.202.20"), kNodeScreenWaitMs);
  }
  void cleanup() {
    dialog_.reset();
    line_.ClearFaults(kScreenNode1);
    ui::InstallTranslators(base::Language::German);  // a test of English ends in German
  }

  void nodeOneConnectsAndShowsItsValues() {
    ChangeTo(QStringLiteral("1"));
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().connected, kNodeScreenWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().passes >= 2, kNodeScreenWaitMs);
    QCOMPARE(Text(QStringLiteral("item48_A")), QStringLiteral("3100101"));
    QCOMPARE(Text(QStringLiteral("item49_A")), QStringLiteral("4.14.2"));
    const uint16_t speed = line_.Read(kScreenNode1, 40).at(0);
    QCOMPARE(Find<QLineEdit>(QStringLiteral("item3_A"))->text(),
             QString::fromStdString(base::Format("%.3f", speed / 1000.0)));
    QVERIFY(
        dialog_->windowTitle().endsWith(QStringLiteral("Angezeigte Moduladresse: 192.168.202.20")));
    QVERIFY(dialog_->windowTitle().startsWith(QStringLiteral("Quillmar Version")));
    QCOMPARE(PromptCount(), size_t{0});
  }

  void setOfASpeedWritesAndSavesIt() {
    ChangeTo(QStringLiteral("1"));
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().connected, kNodeScreenWaitMs);
    Settle();
    const uint64_t savesBefore = line_.Counters(kScreenNode1).saves;
    TypeAndSet(params::item::kSpeed, QStringLiteral("0.5"));
    QTRY_COMPARE_WITH_TIMEOUT(line_.Read(kScreenNode1, 40, 1, true).at(0), uint16_t{500},
                              kNodeScreenWaitMs);
    QCOMPARE(line_.Read(kScreenNode1, 40).at(0), uint16_t{500});
    QTRY_COMPARE_WITH_TIMEOUT(line_.Counters(kScreenNode1).saves, savesBefore + 1,
                              kNodeScreenWaitMs);
    const test::LinesimCounters counters = line_.Counters(kScreenNode1);
    QCOMPARE(counters.lastSaveFirst, uint16_t{40});
    QCOMPARE(counters.lastSaveCount, uint16_t{1});
    QTRY_COMPARE_WITH_TIMEOUT(Find<QLineEdit>(QStringLiteral("item3_A"))->text(),
                              QStringLiteral("0.500"), kNodeScreenWaitMs);
    QCOMPARE(PromptCount(), size_t{0});
  }

  void refusedValueShowsItsMessageAndWritesNothing() {
    ChangeTo(QStringLiteral("1"));
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().connected, kNodeScreenWaitMs);
    Settle();
    const uint16_t before = line_.Read(kScreenNode1, 40).at(0);
    line_.ResetCounters();
    TypeAndSet(params::item::kSpeed, QStringLiteral("0.0149"));
    QTRY_COMPARE_WITH_TIMEOUT(PromptCount(), size_t{1}, kNodeScreenWaitMs);
    QCOMPARE(QString::fromStdString(prompt_->Texts().at(0)),
             QStringLiteral("Ungültige Geschwindigkeit. Es sind nur Werte von 0.015 bis 6.20 m/s "
                            "gültig."));
    Settle();
    const test::LinesimCounters counters = line_.Counters(kScreenNode1);
    QCOMPARE(counters.writeSingles, uint64_t{0});
    QCOMPARE(counters.writeMultiples, uint64_t{0});
    QCOMPARE(counters.saves, uint64_t{0});
    QCOMPARE(line_.Read(kScreenNode1, 40).at(0), before);
  }

  void nodesOutsideTheRangeAreRefused() {
    for (const QString& node : {QStringLiteral("237"), QStringLiteral("0")}) {
      const size_t before = PromptCount();
      line_.ResetCounters();
      ChangeTo(node);
      QTRY_COMPARE_WITH_TIMEOUT(PromptCount(), before + 1, kNodeScreenWaitMs);
      QCOMPARE(QString::fromStdString(prompt_->Texts().back()), QString::fromUtf8(kNodeRefusal));
      Settle();
      QVERIFY(!dialog_->ShownView().connected);
      QCOMPARE(line_.Counters(kScreenNode1).connections, uint64_t{0});
    }
  }

  void enterAppliesTheFocusedFieldAndLampsRepaintOnlyOnChange() {
    ChangeTo(QStringLiteral("1"));
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().connected, kNodeScreenWaitMs);
    Settle();
    auto* lamp = Find<params::IndicatorLamp>(QStringLiteral("item13_A"));
    const int repaints = lamp->Repaints();
    auto* edit = Find<QLineEdit>(QStringLiteral("item5_A"));  // acceleration, mm here
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("321"));
    QTest::keyClick(edit, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(line_.Read(kScreenNode1, 43).at(0), uint16_t{321}, kNodeScreenWaitMs);
    QVERIFY(dialog_->isVisible());  // Enter never closes the window
    const uint64_t passes = dialog_->ShownView().passes;
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().passes >= passes + 2, kNodeScreenWaitMs);
    QCOMPARE(lamp->Repaints(), repaints);     // the overheat bits did not change
    line_.Write(kScreenNode1, 58, {0x0010});  // overheat on the left drive
    QTRY_COMPARE_WITH_TIMEOUT(lamp->Colour(), params::IndicatorColour::Red, kNodeScreenWaitMs);
    QCOMPARE(lamp->Repaints(), repaints + 1);
    line_.Write(kScreenNode1, 58, {0});
  }

  void arrowKeysChangeNodeOutsideTextFields() {
    ChangeTo(QStringLiteral("1"));
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().connected, kNodeScreenWaitMs);
    Settle();
    // The keys go where a user's keys go: to the focus widget, from which the ones it does not
    // take pass to the window. Focus exists only in the active window, so wait for both
    // rather than assume them.
    auto* refresh = Find<QPushButton>(QStringLiteral("refresh"));
    QVERIFY(FocusOn(refresh));
    jobsBefore_ = dialog_->Worker().JobsRun();
    QTest::keyClick(refresh, Qt::Key_Left);  // node 1 has no previous node
    Settle();
    QCOMPARE(dialog_->ShownView().node, 1);
    QCOMPARE(dialog_->Worker().JobsRun(), jobsBefore_);
    QTest::keyClick(refresh, Qt::Key_Right);
    QTRY_COMPARE_WITH_TIMEOUT(dialog_->ShownView().node, 2, kNodeScreenWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().connected, kNodeScreenWaitMs);
    QCOMPARE(Find<QLineEdit>(QStringLiteral("from"))->text(), QStringLiteral("2"));
    QCOMPARE(Text(QStringLiteral("item48_A")), QStringLiteral("3100102"));
    // In a text field the arrows move the cursor and leave the node alone.
    auto* speed = Find<QLineEdit>(QStringLiteral("item3_A"));
    QTRY_VERIFY_WITH_TIMEOUT(speed->isEnabled() && !speed->text().isEmpty(), kNodeScreenWaitMs);
    QVERIFY(FocusOn(speed));
    speed->end(false);
    const int cursor = speed->cursorPosition();
    QTest::keyClick(speed, Qt::Key_Left);
    QCOMPARE(speed->cursorPosition(), cursor - 1);
    Settle();
    QCOMPARE(dialog_->ShownView().node, 2);
    QCOMPARE(dialog_->ShownView().moduleAddress, std::string("192.168.202.21"));
    QCOMPARE(PromptCount(), size_t{0});
  }

  void f2OpensTheAdvancedWindowWithItsNineTabs() {
    QTest::keyClick(dialog_.get(), Qt::Key_F2);
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->AdvancedWindow() != nullptr, kNodeScreenWaitMs);
    auto* tabs = dialog_->AdvancedWindow()->findChild<QTabWidget*>(QStringLiteral("CMRegTabCtrl"));
    QVERIFY(tabs);
    const QStringList expected = {"Vorausschau && Einstellung",
                                  "Upgrade",
                                  "Verbindungen",
                                  "Netzwerk Einstellungen",
                                  "Besondere Dienste",
                                  "Funktion Pin 2",
                                  "Flex Zone",
                                  "Sensoren",
                                  "Erweiterungen"};
    QStringList titles;
    for (int i = 0; i < tabs->count(); ++i) titles << tabs->tabText(i);
    QCOMPARE(titles, expected);
    QCOMPARE(dialog_->AdvancedWindow()->windowTitle(), QStringLiteral("Erweiterte Funktionen"));
    dialog_->AdvancedWindow()->close();
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->AdvancedWindow() == nullptr, kNodeScreenWaitMs);
    dialog_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog_.get()));
    QTest::keyClick(dialog_.get(), Qt::Key_U, Qt::ControlModifier | Qt::ShiftModifier);
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->AdvancedWindow() != nullptr, kNodeScreenWaitMs);
  }

  void setAllOnATransportModuleIsRefusedAndWritesNothing() {
    ShowRange(QStringLiteral("4"), QStringLiteral("5"));
    auto* setAll = Find<QPushButton>(QStringLiteral("setAllModule"));
    QCOMPARE(setAll->text(), QStringLiteral("Set Alle"));
    QTRY_VERIFY_WITH_TIMEOUT(setAll->isEnabled(), kNodeScreenWaitMs);
    line_.ResetCounters();
    jobsBefore_ = dialog_->Worker().JobsRun();
    QTest::mouseClick(setAll, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Shown(params::kTransportRefusal), size_t{1}, kNodeScreenWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->Worker().JobsRun() > jobsBefore_, kNodeScreenWaitMs);
    Settle();
    QCOMPARE(PromptCount(), size_t{1});
    QCOMPARE(prompt_->CountOf("beep"), size_t{1});
    NoWrites(kNode4);
    NoWrites(kNode5);
    QCOMPARE(line_.Counters(kNode5).connections, uint64_t{0});
  }

  void setAllOfASpeedOutOfRangeShowsTheMessageOnceAndTouchesNoNode() {
    ShowRange(QStringLiteral("1"), QStringLiteral("2"));
    auto* setAll = Find<QPushButton>(QStringLiteral("setall3_A"));
    QTRY_VERIFY_WITH_TIMEOUT(setAll->isEnabled(), kNodeScreenWaitMs);
    const uint16_t before1 = line_.Read(kScreenNode1, 40).at(0);
    const uint16_t before2 = line_.Read(kScreenNode2, 40).at(0);
    line_.ResetCounters();
    auto* edit = Find<QLineEdit>(QStringLiteral("item3_A"));
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("0.0149"));
    jobsBefore_ = dialog_->Worker().JobsRun();
    QTest::mouseClick(setAll, Qt::LeftButton);
    const std::string message =
        "Ungültige Geschwindigkeit. Es sind nur Werte von 0.015 bis 6.20 m/s gültig.";
    QTRY_COMPARE_WITH_TIMEOUT(Shown(message), size_t{1}, kNodeScreenWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->Worker().JobsRun() > jobsBefore_, kNodeScreenWaitMs);
    Settle();
    // The question with the range's module addresses, then the refusal, once.
    const auto texts = prompt_->Texts();
    QCOMPARE(texts.size(), size_t{2});
    QCOMPARE(QString::fromStdString(texts.at(0)),
             QStringLiteral("Soll diese Einstellung für all Module von 192.168.202.20 bis "
                            "192.168.202.21 übernommen werden?"));
    NoWrites(kScreenNode1);
    NoWrites(kScreenNode2);
    QCOMPARE(line_.Counters(kScreenNode2).connections, uint64_t{0});
    QCOMPARE(line_.Read(kScreenNode1, 40).at(0), before1);
    QCOMPARE(line_.Read(kScreenNode2, 40).at(0), before2);
  }

  void setAllOfAValidSpeedWritesAndSavesEveryNodeOfTheRange() {
    line_.Write(kScreenNode1, 40, {1000});
    line_.Write(kScreenNode2, 40, {1000});
    ShowRange(QStringLiteral("1"), QStringLiteral("2"));
    auto* setAll = Find<QPushButton>(QStringLiteral("setall3_A"));
    QTRY_VERIFY_WITH_TIMEOUT(setAll->isEnabled(), kNodeScreenWaitMs);
    line_.ResetCounters();
    auto* edit = Find<QLineEdit>(QStringLiteral("item3_A"));
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("0.7"));
    jobsBefore_ = dialog_->Worker().JobsRun();
    QTest::mouseClick(setAll, Qt::LeftButton);
    WaitRangeEnded(1);
    for (uint32_t serial : {kScreenNode1, kScreenNode2}) {
      QCOMPARE(line_.Read(serial, 40, 1, true).at(0), uint16_t{700});  // in flash
      QCOMPARE(line_.Read(serial, 40).at(0), uint16_t{700});
      const test::LinesimCounters counters = line_.Counters(serial);
      QCOMPARE(counters.saves, uint64_t{1});
      QCOMPARE(counters.lastSaveFirst, uint16_t{40});
      QCOMPARE(counters.lastSaveCount, uint16_t{1});
    }
    QCOMPARE(PromptCount(), size_t{1});  // only the question
    QTRY_COMPARE_WITH_TIMEOUT(Find<QLineEdit>(QStringLiteral("item3_A"))->text(),
                              QStringLiteral("0.700"), kNodeScreenWaitMs);
    line_.Write(kScreenNode1, 40, {1000});
    line_.Write(kScreenNode2, 40, {1000});
  }

  void cancelOnTheWaitIndicationEndsTheRangeAfterTheNodeUnderWay() {
    line_.Write(kScreenNode1, 40, {1000});
    line_.Write(kScreenNode2, 40, {1000});
    ShowRange(QStringLiteral("1"), QStringLiteral("2"));
    auto* setAll = Find<QPushButton>(QStringLiteral("setall3_A"));
    QTRY_VERIFY_WITH_TIMEOUT(setAll->isEnabled(), kNodeScreenWaitMs);
    auto* edit = Find<QLineEdit>(QStringLiteral("item3_A"));
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("0.7"));
    line_.ResetCounters();
    // Node 1 answers slowly, so that its work is surely under way when Cancel is pressed.
    line_.SetFault(kScreenNode1, {{"delayMs", 800}, {"discovery", false}, {"modbus", true}});
    jobsBefore_ = dialog_->Worker().JobsRun();
    QTest::mouseClick(setAll, Qt::LeftButton);
    auto* cancel = Find<QPushButton>(QStringLiteral("cancelRange"));
    QTRY_VERIFY_WITH_TIMEOUT(cancel->isVisible(), kNodeScreenWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(Text(QStringLiteral("status")), QStringLiteral("Node: 1"),
                              kNodeScreenWaitMs);
    QVERIFY(!setAll->isEnabled());  // no second operation while one runs
    QTest::mouseClick(cancel, Qt::LeftButton);
    line_.ClearFaults(kScreenNode1);
    WaitRangeEnded(1);
    QVERIFY(dialog_->Ranges().LastOutcome().cancelled);
    QCOMPARE(line_.Read(kScreenNode1, 40, 1, true).at(0), uint16_t{700});
    NoWrites(kScreenNode2);
    QCOMPARE(line_.Counters(kScreenNode2).connections, uint64_t{0});
    QCOMPARE(line_.Read(kScreenNode2, 40).at(0), uint16_t{1000});
    line_.Write(kScreenNode1, 40, {1000});
  }

  void closingTheWindowEndsARangeAfterTheNodeUnderWay() {
    // Flash too: an earlier test may have left 700 there.
    line_.Write(kScreenNode1, 40, {1000}, true);
    line_.Write(kScreenNode1, 40, {1000});
    line_.Write(kScreenNode2, 40, {1000});
    ShowRange(QStringLiteral("1"), QStringLiteral("2"));
    auto* setAll = Find<QPushButton>(QStringLiteral("setall3_A"));
    QTRY_VERIFY_WITH_TIMEOUT(setAll->isEnabled(), kNodeScreenWaitMs);
    auto* edit = Find<QLineEdit>(QStringLiteral("item3_A"));
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("0.7"));
    line_.ResetCounters();
    line_.SetFault(kScreenNode1, {{"delayMs", 800}, {"discovery", false}, {"modbus", true}});
    QTest::mouseClick(setAll, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Text(QStringLiteral("status")), QStringLiteral("Node: 1"),
                              kNodeScreenWaitMs);
    dialog_.reset();  // joins the worker
    line_.ClearFaults(kScreenNode1);
    // The node under way was finished: its value written and saved to flash.
    QCOMPARE(line_.Read(kScreenNode1, 40).at(0), uint16_t{700});
    QCOMPARE(line_.Read(kScreenNode1, 40, 1, true).at(0), uint16_t{700});
    QCOMPARE(line_.Counters(kScreenNode1).saves, uint64_t{1});
    NoWrites(kScreenNode2);
    QCOMPARE(line_.Counters(kScreenNode2).connections, uint64_t{0});
    line_.Write(kScreenNode1, 40, {1000}, true);
    line_.Write(kScreenNode1, 40, {1000});
  }

  // Quitting while "Clear and Save All …?" waits for its answer must not format the module.
  void quittingDuringTheFormatQuestionFormatsNothing() {
    dialog_.reset();
    ui::QtPrompt qtPrompt;
    params::ScreenRangeHooks hooks;
    dialog_ = std::make_unique<params::CMRegDlg>(params::MakeSocketNodeLink(), qtPrompt, profile_,
                                                 std::string(), nullptr, std::move(hooks));
    qtPrompt.SetParentWidget(dialog_.get());
    dialog_->show();
    dialog_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog_.get()));
    ShowRange(QStringLiteral("1"), QString());
    line_.ResetCounters();
    // The question is a real message box on this thread; the window is closed while it is up.
    bool closedDuringQuestion = false;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      poll.stop();
      QVERIFY(box->text().startsWith(QStringLiteral("Do You want to Clear and Save All")));
      QVERIFY(qtPrompt.Waiting() == 1);
      dialog_->close();  // releases the question and joins the worker
      closedDuringQuestion = true;
      box->reject();
    });
    poll.start(5);
    dialog_->FormatFlash();
    QTRY_VERIFY_WITH_TIMEOUT(closedDuringQuestion, kNodeScreenWaitMs);
    dialog_.reset();
    const test::LinesimCounters counters = line_.Counters(kScreenNode1);
    QCOMPARE(counters.writeSingles, uint64_t{0});
    QCOMPARE(counters.writeMultiples, uint64_t{0});
  }

  // While a range operation runs, keys and buttons queue nothing that would run after it.
  void theScreenTakesNoCommandsWhileARangeRuns() {
    ShowRange(QStringLiteral("1"), QStringLiteral("2"));
    QVERIFY(FocusOn(Find<QPushButton>(QStringLiteral("refresh"))));
    std::mutex mutex;
    std::condition_variable released;
    bool go = false;
    jobsBefore_ = dialog_->Worker().JobsRun();
    dialog_->Worker().Post(
        [&](params::NodeScreenController&) {
          std::unique_lock lock(mutex);
          released.wait(lock, [&] { return go; });
        },
        true);
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().busy, kNodeScreenWaitMs);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    QTest::keyClick(dialog_.get(), Qt::Key_F, Qt::ShiftModifier | Qt::AltModifier);
    QTest::keyClick(dialog_.get(), Qt::Key_D, Qt::ControlModifier | Qt::AltModifier);
    dialog_->Refresh();
    dialog_->SetAllModule();
    {
      std::lock_guard lock(mutex);
      go = true;
    }
    released.notify_all();
    Settle();
    QCOMPARE(dialog_->Worker().JobsRun(), jobsBefore_ + 1);
    QCOMPARE(dialog_->ShownView().node, 1);
    QCOMPARE(PromptCount(), size_t{0});
    QVERIFY(!dialog_->ShownView().busy);
  }

  void debuggingKeySwitchesTheRangeAndShowsItsNodes() {
    ShowRange(QStringLiteral("1"), QStringLiteral("2"));
    auto* flags = Find<QLabel>(QStringLiteral("debugFlags"));
    QVERIFY(!flags->isVisible());
    // Not while the advanced window is open.
    QTest::keyClick(dialog_.get(), Qt::Key_F2);
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->AdvancedWindow() != nullptr, kNodeScreenWaitMs);
    dialog_->Debugging();
    Settle();
    QCOMPARE(PromptCount(), size_t{0});
    dialog_->AdvancedWindow()->close();
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->AdvancedWindow() == nullptr, kNodeScreenWaitMs);
    dialog_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog_.get()));

    jobsBefore_ = dialog_->Worker().JobsRun();
    QTest::keyClick(dialog_.get(), Qt::Key_D, Qt::ControlModifier | Qt::AltModifier);
    WaitRangeEnded(1);
    QCOMPARE(prompt_->History().at(0).caption, std::string("Debugging"));
    for (uint32_t serial : {kScreenNode1, kScreenNode2}) {
      QCOMPARE(line_.Read(serial, 298, 2, true), (std::vector<uint16_t>{0xC0A8, 0xCA0A}));
    }
    QTRY_COMPARE_WITH_TIMEOUT(flags->text(), QStringLiteral("Debug: 1, 2"), kNodeScreenWaitMs);
    QVERIFY(flags->isVisible());

    // No switches it off again.
    prompt_->QueueAnswer(base::PromptAnswer::No);
    jobsBefore_ = dialog_->Worker().JobsRun();
    QTest::keyClick(dialog_.get(), Qt::Key_D, Qt::ControlModifier | Qt::AltModifier);
    WaitRangeEnded(1);
    for (uint32_t serial : {kScreenNode1, kScreenNode2}) {
      QCOMPARE(line_.Read(serial, 298, 2, true), (std::vector<uint16_t>{0, 0}));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!flags->isVisible(), kNodeScreenWaitMs);
  }

  // The brake and ZPA lists show their entries in English; what the screen hands on is the
  // entry's index or its own text, never the translation.
  void brakeAndZpaListsShowEnglishAndHandOnTheirOwnEntries() {
    QVERIFY(ui::InstallTranslators(base::Language::English));
    ChangeTo(QStringLiteral("1"));
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().connected, kNodeScreenWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().passes >= 2, kNodeScreenWaitMs);
    struct Case {
      int item;
      QString control;
      QStringList english;
      const char* const* german;
    };
    const Case cases[] = {
        {params::item::kBrake,
         QStringLiteral("item1_A"),
         {"Normal", "Free", "Servo Brake1", "Servo Brake2"},
         params::kBrakeMethods.data()},
        {params::item::kZpaMode,
         QStringLiteral("item23_A"),
         {"Singulation", "Train", "GAP Train"},
         params::kZpaModes.data()},
    };
    for (const Case& c : cases) {
      auto* list = Find<QComboBox>(c.control);
      QStringList shown;
      for (int i = 0; i < list->count(); ++i) shown << list->itemText(i);
      QCOMPARE(shown, c.english);
      QVERIFY(list->currentIndex() >= 0);
      QCOMPARE(dialog_->FieldText(c.item, params::Side::A),
               std::string(c.german[list->currentIndex()]));
      QCOMPARE(dialog_->ListEntry(c.item, params::Side::A), list->currentIndex());
    }
  }

  void zpaDtaListIsClearedWhileNotConnected() {
    auto* list = Find<QComboBox>(QStringLiteral("zpaDta"));
    QStringList entries;
    for (int i = 0; i < list->count(); ++i) entries << list->itemText(i);
    QCOMPARE(entries, (QStringList{"ZPA", "DTA", "Make All DTA->ZPA", "Make All ZPA->DTA"}));
    QVERIFY(!dialog_->ShownView().connected);
    const uint64_t jobs = dialog_->Worker().JobsRun();
    list->setCurrentIndex(3);
    emit list->activated(3);
    QCOMPARE(list->currentIndex(), -1);
    Settle();
    QCOMPARE(dialog_->Worker().JobsRun(), jobs);
  }

  void readErrorStopsTheCycleAndRefreshStartsAgainWithAFullRead() {
    ChangeTo(QStringLiteral("1"));
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().connected, kNodeScreenWaitMs);
    Settle();
    QVERIFY(Find<QComboBox>(QStringLiteral("item23_B"))->isVisible());
    line_.Kill(kScreenNode1);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog_->ShownView().connected, kNodeScreenWaitMs);
    QVERIFY(QString::fromStdString(dialog_->ShownView().errorText).startsWith("Read Reg Group"));
    Settle();
    const uint64_t passes = dialog_->ShownView().passes;
    line_.Revive(kScreenNode1);
    QTRY_VERIFY_WITH_TIMEOUT(line_.Module(kScreenNode1).reachable, kNodeScreenWaitMs);
    // Behind the screen's back the downstream zone is taken out of use; only a full read
    // decides the layout again.
    line_.Write(kScreenNode1, 170, {0});
    Settle();
    QCOMPARE(dialog_->ShownView().passes, passes);  // no timer while disconnected
    ChangeTo(QStringLiteral("1"));
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().connected, kNodeScreenWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().passes >= passes + 3, kNodeScreenWaitMs);
    QVERIFY(!Find<QComboBox>(QStringLiteral("item23_B"))->isVisible());
    QVERIFY(Find<QComboBox>(QStringLiteral("item23_A"))->isVisible());
    QCOMPARE(dialog_->ShownView().errorText, std::string());
    line_.Write(kScreenNode1, 170, {1});
  }
};

int RunNodeScreenTest(int argc, char** argv) {
  return test::RunQtTestsInLab(
      argc, argv, test::SourceFile("sim/lines/demo.json"),
      [](const test::Lab& lab, const test::Linesim& line) {
        return std::make_unique<NodeScreenGuiTest>(line, lab.PcAddress());
      },
      600000);
}
const test::GuiTest kNodeScreenTestRegistered("node_screen_test", RunNodeScreenTest);
}  // namespace

#include "node_screen_test.moc"
