// The PLC data view (CDlgPLC_CFG) against linesim in a lab: values written through linesim's
// control socket appear in the view's controls, and the controls write the module's PLC data
// area. The test process makes the lab and starts linesim, then runs the Qt tests in a child
// that has entered the lab's PC namespace.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <atomic>
#include <cstdio>
#include <memory>

#include "base/prompt.h"
#include "config/plc_program.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/qt_lab.h"
#include "gui/runner/gui_tests.h"
#include "params/node_screen_controller.h"
#include "params/ui/cmreg_dlg.h"
#include "platform/profile.h"
#include "plc/ui/dlg_plc_cfg.h"

namespace {

constexpr uint32_t kPlcModule = 3100301;
constexpr const char* kPlcAddress = "192.168.202.20";
constexpr uint32_t kOtherModule = 3100302;  // node 2: runs another program ("PLCDATA_Mixer")
constexpr const char* kOtherAddress = "192.168.202.21";
constexpr int kPlcDataWaitMs = 20000;
// The tags of sim/lines/plc.tags.json, by row.
const QString kStoerung = QStringLiteral("tag2");   // bit 31 of the word at 0
const QString kStauLinks = QStringLiteral("tag1");  // bit 3 of the word at 0
const QString kWeg = QStringLiteral("tag3");        // 16 bits at 4, 0..2000 mm
const QString kModus = QStringLiteral("tag4");      // 8 bits at 6, combo
const QString kZaehler = QStringLiteral("tag6");    // 16 bits at 2004

class PlcDataViewTest : public QObject {
  Q_OBJECT
 public:
  explicit PlcDataViewTest(const test::Linesim& line) : line_(line) {}

 private:
  template <typename T>
  T* Find(const QString& name) {
    T* widget = view_->findChild<T*>(name);
    if (!widget) qFatal("no widget %s", qPrintable(name));
    return widget;
  }
  std::string Area(uint32_t offset, uint32_t count, uint32_t module = kPlcModule) {
    return line_.Ok({{"cmd", "plc-read"}, {"module", module}, {"offset", offset}, {"count", count}})
        .at("hex");
  }
  // The module's program as the view asks for it; `swapped_` makes it claim another one.
  plc::ModuleProgram ReadProgram(const std::string& address) {
    if (swapped_) return {true, true, "PLCDATA_Mixer.bin", ""};
    const config::PlcProgramOnModule found = config::ReadPlcProgramOnModule(address);
    return {found.read, found.length > 0, found.name, found.failure};
  }
  // Writes "Hand" (1) through the mode combo and waits until the module holds it. Writes go
  // out in the order they were made: once this one has arrived, an earlier one would have too.
  // Returns the module's mode to "Automatik" (2) afterwards.
  bool WriteModeAndWaitForIt() {
    auto* modus = Find<QComboBox>(kModus);
    modus->setCurrentIndex(1);
    emit modus->activated(1);
    const bool arrived = QTest::qWaitFor([&] { return Area(6, 1) == "01"; }, kPlcDataWaitMs);
    WriteArea(6, 2, 1);
    return arrived;
  }
  void WriteArea(uint32_t offset, uint32_t value, uint32_t size) {
    line_.Ok({{"cmd", "plc-write"},
              {"module", kPlcModule},
              {"offset", offset},
              {"value", value},
              {"size", size}});
  }

 private slots:
  void init() {
    swapped_ = false;
    view_ =
        new plc::CDlgPLC_CFG(kPlcAddress, test::SourceFile("sim/lines/plc.tags.json"), prompt_,
                             [this](const std::string& address) { return ReadProgram(address); });
    view_->show();
    QTRY_VERIFY_WITH_TIMEOUT(view_->Refreshes() > 0, kPlcDataWaitMs);
  }
  void cleanup() {
    delete view_;
    view_ = nullptr;
  }

  void showsTheModulesValues() {
    QCOMPARE(Find<QLineEdit>(kZaehler)->text(), QStringLiteral("42"));
    QCOMPARE(Find<QLineEdit>(kWeg)->text(), QStringLiteral("500"));
    QVERIFY(Find<QCheckBox>(kStoerung)->isChecked());
    QVERIFY(Find<QCheckBox>(kStauLinks)->isChecked());
    QCOMPARE(Find<QComboBox>(kModus)->currentText(), QStringLiteral("Automatik"));
  }

  void showsAValueWrittenThroughTheControlSocket() {
    WriteArea(2004, 1234, 2);
    WriteArea(0, 0x00000001, 4);
    QTRY_COMPARE_WITH_TIMEOUT(Find<QLineEdit>(kZaehler)->text(), QStringLiteral("1234"),
                              kPlcDataWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!Find<QCheckBox>(kStoerung)->isChecked(), kPlcDataWaitMs);
    QVERIFY(!Find<QCheckBox>(kStauLinks)->isChecked());
    WriteArea(0, 0x80000009u, 4);
    WriteArea(2004, 42, 2);
  }

  void controlsWriteTheArea() {
    auto* weg = Find<QLineEdit>(kWeg);
    weg->setText(QStringLiteral("750"));
    QTest::mouseClick(Find<QPushButton>(kWeg + QStringLiteral("_apply")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Area(4, 2), std::string("EE02"), kPlcDataWaitMs);
    Find<QCheckBox>(kStauLinks)->click();
    QTRY_COMPARE_WITH_TIMEOUT(Area(0, 4), std::string("01000080"), kPlcDataWaitMs);
    Find<QComboBox>(kModus)->setCurrentIndex(1);
    emit Find<QComboBox>(kModus)->activated(1);
    QTRY_COMPARE_WITH_TIMEOUT(Area(6, 1), std::string("01"), kPlcDataWaitMs);
    WriteArea(0, 0x80000009u, 4);
    WriteArea(4, 500, 2);
    WriteArea(6, 2, 1);
  }

  void refusesAnEditOutsideItsRange() {
    const size_t shown = prompt_.CountOf("ask");
    for (const char* text : {"2001", "abc"}) {
      Find<QLineEdit>(kWeg)->setText(QString::fromLatin1(text));
      QTest::mouseClick(Find<QPushButton>(kWeg + QStringLiteral("_apply")), Qt::LeftButton);
    }
    QCOMPARE(prompt_.CountOf("ask"), shown + 2);
    const auto last = prompt_.History().back();
    QCOMPARE(last.caption, std::string("Achtung"));
    QCOMPARE(last.text, std::string("Ungültige Wegeinstellung. Es sind nur Werte von 0 bis 2000 "
                                    "mm gültig von Weg."));
    QVERIFY(WriteModeAndWaitForIt());
    QCOMPARE(Area(4, 2), std::string("F401"));
  }

  // Pointed at a module that runs another program, the view drops the first module's tags and
  // image and writes nothing there: not through a control still on screen, not at all.
  void aChangeOfModuleWritesNothingIntoAnotherProgram() {
    const std::string before = Area(0, 8, kOtherModule);
    auto* weg = Find<QLineEdit>(kWeg);
    auto* apply = Find<QPushButton>(kWeg + QStringLiteral("_apply"));
    weg->setText(QStringLiteral("750"));
    view_->SetAddress(kOtherAddress);
    // A click that was already on its way when the module changed.
    if (view_->findChild<QPushButton*>(kWeg + QStringLiteral("_apply")) == apply)
      QTest::mouseClick(apply, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(
        Find<QLabel>(QStringLiteral("status"))
            ->text()
            .contains(QStringLiteral("runs the PLC program \"PLCDATA_Mixer\"")),
        kPlcDataWaitMs);
    QVERIFY(!view_->TagsShown());
    QVERIFY(!view_->findChild<QLineEdit*>(kWeg));
    QCOMPARE(view_->Model().Image()[4], uint8_t{0});  // the first module's image is gone
    // Back on the first module the tags are checked again and shown.
    view_->SetAddress(kPlcAddress);
    QTRY_VERIFY_WITH_TIMEOUT(view_->TagsShown(), kPlcDataWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(Find<QLineEdit>(kWeg)->text(), QStringLiteral("500"), kPlcDataWaitMs);
    // A write made now arrives after anything the click could have sent.
    QVERIFY(WriteModeAndWaitForIt());
    QCOMPARE(Area(0, 8, kOtherModule), before);
    QCOMPARE(Area(4, 2), std::string("F401"));
  }

  // The module is asked again at every write: one that now runs another program gets nothing.
  void aWriteIsRefusedWhenTheModuleRunsAnotherProgramNow() {
    swapped_ = true;
    const size_t told = prompt_.CountOf("ask");
    Find<QLineEdit>(kWeg)->setText(QStringLiteral("750"));
    QTest::mouseClick(Find<QPushButton>(kWeg + QStringLiteral("_apply")), Qt::LeftButton);
    Find<QCheckBox>(kStauLinks)->click();
    QTRY_COMPARE_WITH_TIMEOUT(prompt_.CountOf("ask"), told + 2, kPlcDataWaitMs);
    QCOMPARE(prompt_.History().back().text,
             std::string("Nothing written: module 192.168.202.20 runs the PLC program "
                         "\"PLCDATA_Mixer.bin\"; the tags are for \"Sorter\"."));
    swapped_ = false;
    QVERIFY(WriteModeAndWaitForIt());
    QCOMPARE(Area(4, 2), std::string("F401"));
    QCOMPARE(Area(0, 4), std::string("09000080"));
  }

  void theNodeScreenOffersTheViewForAModuleInPlcMode() {
    platform::MemoryProfileStore profile;
    base::SilentPrompt prompt;
    params::CMRegDlg node(params::MakeSocketNodeLink(), prompt, profile, kPlcAddress);
    std::string opened;
    node.SetPlcDataScreen([&opened](const std::string& address) { opened = address; });
    node.show();
    auto* button = node.findChild<QPushButton*>(QStringLiteral("plcData"));
    QVERIFY(button);
    QTRY_VERIFY_WITH_TIMEOUT(node.ShownView().connected && node.ShownView().passes >= 1,
                             kPlcDataWaitMs);
    QVERIFY(node.ShownView().plcMode);
    QVERIFY(button->isVisible());
    button->click();
    QCOMPARE(opened, std::string(kPlcAddress));
    // Node 3 of the PLC data line does not run a program.
    node.findChild<QLineEdit*>(QStringLiteral("from"))->setText(QStringLiteral("3"));
    node.Refresh();
    QTRY_VERIFY_WITH_TIMEOUT(node.ShownView().connected && node.ShownView().node == 3,
                             kPlcDataWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!button->isVisible(), kPlcDataWaitMs);
  }

  void tellsWhenTheModuleIsSilent() {
    line_.SetFault(kPlcModule, {{"plcSilent", true}});
    QTRY_VERIFY_WITH_TIMEOUT(
        Find<QLabel>(QStringLiteral("status"))->text().contains(QStringLiteral("no answer")),
        kPlcDataWaitMs);
    line_.ClearFaults(kPlcModule);
    QTRY_VERIFY_WITH_TIMEOUT(Find<QLabel>(QStringLiteral("status"))->text().isEmpty(),
                             kPlcDataWaitMs);
  }

 private:
  const test::Linesim& line_;
  base::ScriptedPrompt prompt_;
  std::atomic<bool> swapped_{false};
  plc::CDlgPLC_CFG* view_ = nullptr;
};

int RunPlcdataViewTest(int argc, char** argv) {
  return test::RunQtTestsInLab(
      argc, argv, test::SourceFile("sim/lines/plc.json"),
      [](const test::Lab&, const test::Linesim& line) {
        return std::make_unique<PlcDataViewTest>(line);
      },
      600000);
}
const test::GuiTest kPlcdataViewTestRegistered("plcdata_view_test", RunPlcdataViewTest);
}  // namespace

#include "plcdata_view_test.moc"
