// The node screen (CMRegDlg) against linesim in a lab: the test process makes the lab and
// starts linesim, then runs the Qt tests in a child that has entered the lab's PC namespace.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>
#include <cstdio>

#include "base/format.h"
#include "base/prompt.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "params/display_items.h"
#include "params/ui/cmreg_dlg.h"
#include "params/ui/ctab_dlg.h"
#include "platform/profile.h"

namespace {

constexpr uint32_t kNode1 = 3100101;  // family 0x09, speed in m/s
constexpr int kWaitMs = 15000;
constexpr const char* kNodeRefusal =
    "Falsche Module Nummer. Nur Nummern von 1 bis 236 sind gültig.";

class NodeScreenGuiTest : public QObject {
  Q_OBJECT
 public:
  explicit NodeScreenGuiTest(const test::Linesim& line) : line_(line) {}

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
  size_t PromptCount() { return prompt_->Texts().size(); }

  const test::Linesim& line_;
  std::unique_ptr<base::ScriptedPrompt> prompt_;  // fresh for every test
  platform::MemoryProfileStore profile_;
  std::unique_ptr<params::CMRegDlg> dialog_;

 private slots:
  void init() {
    prompt_ = std::make_unique<base::ScriptedPrompt>();
    dialog_ = std::make_unique<params::CMRegDlg>(params::MakeSocketNodeLink(), *prompt_, profile_);
    dialog_->show();
    dialog_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog_.get()));
    QTRY_COMPARE_WITH_TIMEOUT(Find<QLineEdit>(QStringLiteral("network"))->text(),
                              QStringLiteral("192.168.202.20"), kWaitMs);
  }
  void cleanup() { dialog_.reset(); }

  void nodeOneConnectsAndShowsItsValues() {
    ChangeTo(QStringLiteral("1"));
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().connected, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().passes >= 2, kWaitMs);
    QCOMPARE(Text(QStringLiteral("item48_A")), QStringLiteral("3100101"));
    QCOMPARE(Text(QStringLiteral("item49_A")), QStringLiteral("4.14.2"));
    const uint16_t speed = line_.Read(kNode1, 40).at(0);
    QCOMPARE(Find<QLineEdit>(QStringLiteral("item3_A"))->text(),
             QString::fromStdString(base::Format("%.3f", speed / 1000.0)));
    QVERIFY(
        dialog_->windowTitle().endsWith(QStringLiteral("Angezeigte Moduladresse: 192.168.202.20")));
    QVERIFY(dialog_->windowTitle().startsWith(QStringLiteral("Quillmar Version")));
    QCOMPARE(PromptCount(), size_t{0});
  }

  void setOfASpeedWritesAndSavesIt() {
    ChangeTo(QStringLiteral("1"));
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().connected, kWaitMs);
    Settle();
    const uint64_t savesBefore = line_.Counters(kNode1).saves;
    TypeAndSet(params::item::kSpeed, QStringLiteral("0.5"));
    QTRY_COMPARE_WITH_TIMEOUT(line_.Read(kNode1, 40, 1, true).at(0), uint16_t{500}, kWaitMs);
    QCOMPARE(line_.Read(kNode1, 40).at(0), uint16_t{500});
    QTRY_COMPARE_WITH_TIMEOUT(line_.Counters(kNode1).saves, savesBefore + 1, kWaitMs);
    const test::LinesimCounters counters = line_.Counters(kNode1);
    QCOMPARE(counters.lastSaveFirst, uint16_t{40});
    QCOMPARE(counters.lastSaveCount, uint16_t{1});
    QTRY_COMPARE_WITH_TIMEOUT(Find<QLineEdit>(QStringLiteral("item3_A"))->text(),
                              QStringLiteral("0.500"), kWaitMs);
    QCOMPARE(PromptCount(), size_t{0});
  }

  void refusedValueShowsItsMessageAndWritesNothing() {
    ChangeTo(QStringLiteral("1"));
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().connected, kWaitMs);
    Settle();
    const uint16_t before = line_.Read(kNode1, 40).at(0);
    line_.ResetCounters();
    TypeAndSet(params::item::kSpeed, QStringLiteral("0.0149"));
    QTRY_COMPARE_WITH_TIMEOUT(PromptCount(), size_t{1}, kWaitMs);
    QCOMPARE(QString::fromStdString(prompt_->Texts().at(0)),
             QStringLiteral("Ungültige Geschwindigkeit. Es sind nur Werte von 0.015 bis 6.20 m/s "
                            "gültig."));
    Settle();
    const test::LinesimCounters counters = line_.Counters(kNode1);
    QCOMPARE(counters.writeSingles, uint64_t{0});
    QCOMPARE(counters.writeMultiples, uint64_t{0});
    QCOMPARE(counters.saves, uint64_t{0});
    QCOMPARE(line_.Read(kNode1, 40).at(0), before);
  }

  void nodesOutsideTheRangeAreRefused() {
    for (const QString& node : {QStringLiteral("237"), QStringLiteral("0")}) {
      const size_t before = PromptCount();
      line_.ResetCounters();
      ChangeTo(node);
      QTRY_COMPARE_WITH_TIMEOUT(PromptCount(), before + 1, kWaitMs);
      QCOMPARE(QString::fromStdString(prompt_->Texts().back()), QString::fromUtf8(kNodeRefusal));
      Settle();
      QVERIFY(!dialog_->ShownView().connected);
      QCOMPARE(line_.Counters(kNode1).connections, uint64_t{0});
    }
  }

  void enterAppliesTheFocusedFieldAndLampsRepaintOnlyOnChange() {
    ChangeTo(QStringLiteral("1"));
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().connected, kWaitMs);
    Settle();
    auto* lamp = Find<params::IndicatorLamp>(QStringLiteral("item13_A"));
    const int repaints = lamp->Repaints();
    auto* edit = Find<QLineEdit>(QStringLiteral("item5_A"));  // acceleration, mm here
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("321"));
    QTest::keyClick(edit, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(line_.Read(kNode1, 43).at(0), uint16_t{321}, kWaitMs);
    QVERIFY(dialog_->isVisible());  // Enter never closes the window
    const uint64_t passes = dialog_->ShownView().passes;
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().passes >= passes + 2, kWaitMs);
    QCOMPARE(lamp->Repaints(), repaints);  // the overheat bits did not change
    line_.Write(kNode1, 58, {0x0010});     // overheat on the left drive
    QTRY_COMPARE_WITH_TIMEOUT(lamp->Colour(), params::IndicatorColour::Red, kWaitMs);
    QCOMPARE(lamp->Repaints(), repaints + 1);
    line_.Write(kNode1, 58, {0});
  }

  void arrowKeysChangeNodeOutsideTextFields() {
    ChangeTo(QStringLiteral("1"));
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().connected, kWaitMs);
    Settle();
    auto* refresh = Find<QPushButton>(QStringLiteral("refresh"));
    refresh->setFocus();
    QTest::keyClick(dialog_.get(), Qt::Key_Left);  // node 1 has no previous node
    Settle();
    QCOMPARE(dialog_->ShownView().node, 1);
    QTest::keyClick(dialog_.get(), Qt::Key_Right);
    QTRY_COMPARE_WITH_TIMEOUT(dialog_->ShownView().node, 2, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().connected, kWaitMs);
    QCOMPARE(Find<QLineEdit>(QStringLiteral("from"))->text(), QStringLiteral("2"));
    QCOMPARE(Text(QStringLiteral("item48_A")), QStringLiteral("3100102"));
    // In a text field the arrows move the cursor.
    auto* speed = Find<QLineEdit>(QStringLiteral("item3_A"));
    speed->setFocus();
    QTest::keyClick(speed, Qt::Key_Left);
    Settle();
    QCOMPARE(dialog_->ShownView().node, 2);
    QCOMPARE(PromptCount(), size_t{0});
  }

  void f2OpensTheAdvancedWindowWithItsNineTabs() {
    QTest::keyClick(dialog_.get(), Qt::Key_F2);
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->AdvancedWindow() != nullptr, kWaitMs);
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
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->AdvancedWindow() == nullptr, kWaitMs);
    dialog_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog_.get()));
    QTest::keyClick(dialog_.get(), Qt::Key_U, Qt::ControlModifier | Qt::ShiftModifier);
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->AdvancedWindow() != nullptr, kWaitMs);
  }

  void readErrorStopsTheCycleAndRefreshStartsAgainWithAFullRead() {
    ChangeTo(QStringLiteral("1"));
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().connected, kWaitMs);
    Settle();
    QVERIFY(Find<QComboBox>(QStringLiteral("item23_B"))->isVisible());
    line_.Kill(kNode1);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog_->ShownView().connected, kWaitMs);
    QVERIFY(QString::fromStdString(dialog_->ShownView().errorText).startsWith("Read Reg Group"));
    Settle();
    const uint64_t passes = dialog_->ShownView().passes;
    line_.Revive(kNode1);
    QTRY_VERIFY_WITH_TIMEOUT(line_.Module(kNode1).reachable, kWaitMs);
    // Behind the screen's back the downstream zone is taken out of use; only a full read
    // decides the layout again.
    line_.Write(kNode1, 170, {0});
    Settle();
    QCOMPARE(dialog_->ShownView().passes, passes);  // no timer while disconnected
    ChangeTo(QStringLiteral("1"));
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().connected, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(dialog_->ShownView().passes >= passes + 3, kWaitMs);
    QVERIFY(!Find<QComboBox>(QStringLiteral("item23_B"))->isVisible());
    QVERIFY(Find<QComboBox>(QStringLiteral("item23_A"))->isVisible());
    QCOMPARE(dialog_->ShownView().errorText, std::string());
    line_.Write(kNode1, 170, {1});
  }
};

}  // namespace

int main(int argc, char** argv) {
  const std::string reason = test::LabUnavailableReason();
  if (!reason.empty()) {
    std::printf("SKIP: %s\n", reason.c_str());
    return 0;
  }
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  const int result = lab.RunInNamespace(
      "pc",
      [&] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        NodeScreenGuiTest tests(line);
        return QTest::qExec(&tests, argc, argv);
      },
      600000);
  if (result == test::Lab::kRunFailed) {
    std::fprintf(stderr, "the tests inside the lab did not finish\n");
    return 1;
  }
  return result;
}

#include "node_screen_test.moc"
