// The diagnostic windows against linesim in a lab: the statistics dialog reads a module and
// steps the node screen to the next, shows "---" for a dead one and saves a range file; the
// diagnostic screen follows the node screen's module and its live changes; the diagnostic log
// and the drive history list what the module keeps. The test process makes the lab and starts
// linesim, then runs the Qt tests in a child inside the lab's PC namespace.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>
#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>

#include "base/prompt.h"
#include "diag/ui/diagnostic_log_dlg.h"
#include "diag/ui/diagnostic_screen_window.h"
#include "diag/ui/diagnostic_screens.h"
#include "diag/ui/drive_history_dlg.h"
#include "diag/ui/statistics_dlg.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/qt_lab.h"
#include "fixtures/temp_log.h"
#include "gui/runner/gui_tests.h"
#include "params/ui/cmreg_dlg.h"
#include "params/ui/module_picture.h"
#include "platform/profile.h"

namespace {

using nlohmann::json;

constexpr uint32_t kDiagnosticsNode1 = 6100101;  // 192.168.202.20, three drives in its history
constexpr uint32_t kDiagnosticsNode2 = 6100102;  // 192.168.202.21
constexpr uint32_t kDiagnosticsNode3 = 6100103;  // 192.168.202.22
constexpr int kDiagnosticsWaitMs = 20000;

json Drive(uint32_t serial, uint32_t lock) {
  return {{"serial", serial}, {"date", 0x0A0B0C}, {"lock", lock}, {"operating", 77}};
}

std::string WriteLine(const fixtures::TempFolder& folder) {
  const json line = {
      {"network", "192.168.202.0"},
      {"chains",
       {{{{"serial", kDiagnosticsNode1},
          {"node", 1},
          {"drives", {Drive((2u << 10) | 3, 1), Drive((0u << 10) | 4, 2), Drive(5, 1)}}},
         {{"serial", kDiagnosticsNode2}, {"node", 2}},
         {{"serial", kDiagnosticsNode3}, {"node", 3}}}}}};
  const std::string path = folder.path() + "line.json";
  std::ofstream(path) << line.dump(2);
  return path;
}

class DiagnosticsGuiTest : public QObject {
  Q_OBJECT
 public:
  explicit DiagnosticsGuiTest(const test::Linesim& line) : line_(line) {}

 private:
  template <typename T>
  static T* Find(QWidget* parent, const QString& name) {
    T* widget = parent->findChild<T*>(name);
    if (!widget) qFatal("no widget %s", qPrintable(name));
    return widget;
  }
  static QString Text(QWidget* parent, const QString& name) {
    return Find<QLabel>(parent, name)->text();
  }
  void ChangeTo(int node) {
    Find<QLineEdit>(screen_.get(), QStringLiteral("from"))->setText(QString::number(node));
    screen_->Refresh();
    QTRY_VERIFY_WITH_TIMEOUT(screen_->ShownView().connected && screen_->ShownView().node == node,
                             kDiagnosticsWaitMs);
  }
  template <typename Window>
  Window* Opened() {
    Window* window = screen_->findChild<Window*>();
    if (!window) qFatal("the window did not open");
    return window;
  }

  const test::Linesim& line_;
  base::SilentPrompt prompt_;
  platform::MemoryProfileStore profile_;
  std::unique_ptr<params::CMRegDlg> screen_;
  params::CMRegDlg::Screens screens_;

 private slots:
  void init() {
    screen_ = std::make_unique<params::CMRegDlg>(params::MakeSocketNodeLink(), prompt_, profile_);
    screens_ = diag::WithDiagnosticScreens(*screen_);
    screen_->SetScreens(screens_);
    screen_->show();
    QTRY_VERIFY_WITH_TIMEOUT(screen_->ShownView().fieldsSerial > 0, kDiagnosticsWaitMs);
  }
  void cleanup() {
    screen_.reset();
    line_.Revive(kDiagnosticsNode3);
    for (const uint32_t node : {kDiagnosticsNode1, kDiagnosticsNode2}) line_.Write(node, 58, {0});
  }

  void statisticsReadsAModuleAndStepsToTheNext() {
    line_.Write(kDiagnosticsNode1, 23, {4});
    line_.Write(kDiagnosticsNode1, 286, {7});
    line_.Write(kDiagnosticsNode2, 23, {9});
    line_.Write(kDiagnosticsNode2, 286, {11});
    ChangeTo(1);
    screens_.statistics();
    auto* dialog = Opened<diag::CDlgDiagnostic>();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->ReadsShown() >= 1, kDiagnosticsWaitMs);
    QCOMPARE(dialog->Module(), 1);
    QCOMPARE(Text(dialog, QStringLiteral("network")), QStringLiteral("192.168.202.XX"));
    QCOMPARE(Text(dialog, QStringLiteral("undervoltageResets")), QStringLiteral("4"));
    QCOMPARE(Text(dialog, QStringLiteral("reconnects")), QStringLiteral("7"));
    // The text port's figures came too.
    QVERIFY(Text(dialog, QStringLiteral("cpuAverage")) != QStringLiteral("---"));
    QVERIFY(Text(dialog, QStringLiteral("freeMemory")) != QStringLiteral("---"));
    QVERIFY(Find<QPlainTextEdit>(dialog, QStringLiteral("text"))
                ->toPlainText()
                .startsWith(QStringLiteral("IP Address: 192.168.202.20")));

    // Up: the next module, and the node screen goes along.
    QTest::mouseClick(Find<QToolButton>(dialog, QStringLiteral("up")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->ReadsShown() >= 2, kDiagnosticsWaitMs);
    QCOMPARE(dialog->Module(), 2);
    QCOMPARE(Find<QLineEdit>(dialog, QStringLiteral("module"))->text(), QStringLiteral("2"));
    QCOMPARE(Text(dialog, QStringLiteral("undervoltageResets")), QStringLiteral("9"));
    QCOMPARE(Text(dialog, QStringLiteral("reconnects")), QStringLiteral("11"));
    QTRY_VERIFY_WITH_TIMEOUT(screen_->ShownView().connected && screen_->ShownView().node == 2,
                             kDiagnosticsWaitMs);

    // A module that does not answer shows "---" everywhere.
    line_.Kill(kDiagnosticsNode3);
    QTest::mouseClick(Find<QToolButton>(dialog, QStringLiteral("up")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->ReadsShown() >= 3, 60000);
    QCOMPARE(dialog->Module(), 3);
    QVERIFY(!dialog->Figures().has_value());
    for (const char* name : {"undervoltageResets", "lastReset", "reconnects", "cpuMin"}) {
      QCOMPARE(Text(dialog, QLatin1String(name)), QStringLiteral("---"));
    }

    // A typed number outside 1 to 236 is refused and the module stays.
    auto* module = Find<QLineEdit>(dialog, QStringLiteral("module"));
    module->setText(QStringLiteral("237"));
    dialog->ModuleTyped();
    QCOMPARE(dialog->Module(), 3);
    QCOMPARE(module->text(), QStringLiteral("3"));
  }

  void statisticsRangeFileMarksTheDeadModule() {
    fixtures::TempFolder folder;
    line_.Kill(kDiagnosticsNode3);
    ChangeTo(1);
    screens_.statistics();
    auto* dialog = Opened<diag::CDlgDiagnostic>();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->ReadsShown() >= 1, kDiagnosticsWaitMs);
    QString proposed;
    const QString path = QString::fromStdString(folder.path()) + QStringLiteral("range.txt");
    dialog->SetProposedFolder(QString::fromStdString(folder.path()).chopped(1));
    dialog->SetSaveNameChooser([&](QWidget*, const QString& name) {
      proposed = name;
      return path;
    });
    Find<QLineEdit>(dialog, QStringLiteral("from"))->setText(QStringLiteral("1"));
    Find<QLineEdit>(dialog, QStringLiteral("to"))->setText(QStringLiteral("3"));
    QSignalSpy saved(dialog, &diag::CDlgDiagnostic::fileSaved);
    QTest::mouseClick(Find<QPushButton>(dialog, QStringLiteral("saveRange")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, 60000);
    QVERIFY2(proposed.startsWith(QString::fromStdString(folder.path()) +
                                 QStringLiteral("QuillmarStatisticsRange_192_168_202_20__192_168_"
                                                "202_22_")),
             qPrintable(proposed));
    QCOMPARE(Text(dialog, QStringLiteral("lastRange")), path);
    const std::string file = fixtures::ReadFile(path.toStdString());
    QVERIFY(file.rfind("Statistics Time: ", 0) == 0);
    QVERIFY(file.find("IP Address: 192.168.202.20") != std::string::npos);
    QVERIFY(file.find("IP Address: 192.168.202.21") != std::string::npos);
    QVERIFY(file.find("IP Address: 192.168.202.22") == std::string::npos);
    // The dead module is the last of the three.
    const std::string tail = "\r\nRead Error!\r\n";
    QVERIFY(file.size() > tail.size() &&
            file.compare(file.size() - tail.size(), tail.size(), tail) == 0);
  }

  void statisticsResetsTheCountersItNamesAndSavesOneModule() {
    line_.Write(kDiagnosticsNode1, 23, {4});
    line_.Write(kDiagnosticsNode1, 265, {5});
    line_.Write(kDiagnosticsNode1, 286, {6});
    line_.Write(kDiagnosticsNode1, 287, {7});
    ChangeTo(1);
    screens_.statistics();
    auto* dialog = Opened<diag::CDlgDiagnostic>();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->ReadsShown() >= 1, kDiagnosticsWaitMs);
    QTest::mouseClick(Find<QPushButton>(dialog, QStringLiteral("resetUndervoltage")),
                      Qt::LeftButton);
    // The reset is read back at once.
    QTRY_VERIFY_WITH_TIMEOUT(dialog->ReadsShown() >= 2, kDiagnosticsWaitMs);
    QCOMPARE(Text(dialog, QStringLiteral("undervoltageResets")), QStringLiteral("0"));
    QCOMPARE(line_.Read(kDiagnosticsNode1, 23, 1, true).at(0), uint16_t{0});  // saved to flash
    QCOMPARE(Text(dialog, QStringLiteral("plainResets")), QStringLiteral("5"));
    QTest::mouseClick(Find<QPushButton>(dialog, QStringLiteral("resetOthers")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->ReadsShown() >= 3, kDiagnosticsWaitMs);
    QCOMPARE(line_.Read(kDiagnosticsNode1, 265, 1), std::vector<uint16_t>{0});
    QCOMPARE(line_.Read(kDiagnosticsNode1, 286, 2), (std::vector<uint16_t>{0, 0}));
    QCOMPARE(Text(dialog, QStringLiteral("timeouts")), QStringLiteral("0"));

    // Save to file: the proposed name, then the time line and the module's text.
    fixtures::TempFolder folder;
    const QString path = QString::fromStdString(folder.path()) + QStringLiteral("one.txt");
    QString proposed;
    dialog->SetProposedFolder(QString::fromStdString(folder.path()).chopped(1));
    dialog->SetSaveNameChooser([&](QWidget*, const QString& name) {
      proposed = name;
      return path;
    });
    QSignalSpy saved(dialog, &diag::CDlgDiagnostic::fileSaved);
    QTest::mouseClick(Find<QPushButton>(dialog, QStringLiteral("save")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, kDiagnosticsWaitMs);
    QVERIFY2(proposed.startsWith(QString::fromStdString(folder.path()) +
                                 QStringLiteral("QuillmarStatistics_192_168_202_20_")),
             qPrintable(proposed));
    QCOMPARE(Text(dialog, QStringLiteral("lastFile")), path);
    const std::string file = fixtures::ReadFile(path.toStdString());
    QVERIFY(file.rfind("Statistics Time: ", 0) == 0);
    QVERIFY(file.find("\r\nIP Address: 192.168.202.20\r\n") != std::string::npos);
    QVERIFY(file.find("Reset Counter after Voltage < 18V: 0\r\n") != std::string::npos);

    // A file that cannot be made is said so.
    dialog->SetSaveNameChooser(
        [&](QWidget*, const QString&) { return path + QStringLiteral("/none/x.txt"); });
    QSignalSpy failed(dialog, &diag::CDlgDiagnostic::saveFailed);
    QTest::mouseClick(Find<QPushButton>(dialog, QStringLiteral("save")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, kDiagnosticsWaitMs);
    QCOMPARE(failed.at(0).at(0).toString(),
             QStringLiteral("Can't create file %1/none/x.txt!").arg(path));
  }

  void diagnosticScreenFollowsTheNodeScreensModule() {
    line_.Write(kDiagnosticsNode1, 19, {0});
    line_.Write(kDiagnosticsNode2, 19, {0});
    line_.Write(kDiagnosticsNode1, 104, {0});
    line_.Write(kDiagnosticsNode2, 104, {0});
    line_.Write(kDiagnosticsNode1, 373, {3});
    line_.Write(kDiagnosticsNode2, 373, {8});
    ChangeTo(1);
    // A click on the node screen's module picture opens it.
    auto* picture = screen_->findChild<params::ModulePicture*>(QStringLiteral("picture"));
    QVERIFY(picture);
    QTest::mouseClick(picture, Qt::LeftButton);
    auto* view = Opened<diag::DiagnosticScreen>();
    QTRY_COMPARE_WITH_TIMEOUT(Text(view, QStringLiteral("upstreamReason")),
                              QStringLiteral("Behälter zwischen Zonen"), kDiagnosticsWaitMs);
    QVERIFY(
        view->windowTitle().endsWith(QStringLiteral("Angezeigte Moduladresse: 192.168.202.20")));
    QCOMPARE(view->Shown().address, std::string("192.168.202.20"));

    ChangeTo(2);
    QTRY_COMPARE_WITH_TIMEOUT(Text(view, QStringLiteral("upstreamReason")),
                              QStringLiteral("Sensor ausgesteckt"), kDiagnosticsWaitMs);
    QCOMPARE(view->Shown().address, std::string("192.168.202.21"));
    QVERIFY(view->windowTitle().endsWith(QStringLiteral("192.168.202.21")));

    // A fault that comes up while it is open shows on the next cycle.
    line_.Write(kDiagnosticsNode2, 58, {0x0A00});
    QTRY_COMPARE_WITH_TIMEOUT(Text(view, QStringLiteral("leftStatus")),
                              QStringLiteral("Motorverbindungsfehler\nÜberstrom"),
                              kDiagnosticsWaitMs);
    QVERIFY(Find<QLabel>(view, QStringLiteral("leftMissing"))->isVisible());
    QCOMPARE(Text(view, QStringLiteral("rightStatus")), QStringLiteral("OK"));

    // The emergency stop hides the reason code.
    line_.Write(kDiagnosticsNode2, 19, {1});
    QTRY_COMPARE_WITH_TIMEOUT(Text(view, QStringLiteral("upstreamReason")),
                              QStringLiteral("Marrowhalt"), kDiagnosticsWaitMs);
    line_.Write(kDiagnosticsNode2, 19, {0});

    // Opening it again brings the same window forward.
    screens_.diagnosticScreen();
    QCOMPARE(screen_->findChildren<diag::DiagnosticScreen*>().size(), qsizetype{1});

    // The node screen loses its module: the screen says so.
    line_.Kill(kDiagnosticsNode2);
    QTRY_VERIFY_WITH_TIMEOUT(!view->Shown().reachable, kDiagnosticsWaitMs);
    QCOMPARE(Text(view, QStringLiteral("unreachable")),
             QStringLiteral("Es kann keine Verbindung zu Modul mit IP: \"192.168.202.21 aufgebaut "
                            "werden"));
    line_.Revive(kDiagnosticsNode2);
  }

  void diagnosticLogListsTheInjectedEvents() {
    line_.Ok({{"cmd", "event"},
              {"module", kDiagnosticsNode1},
              {"category", 1},
              {"code", 11},
              {"parameter", 230},
              {"ageMs", 61001}});
    ChangeTo(1);
    screens_.diagnosticLog();
    auto* log = Opened<diag::CDiagnosticLog>();
    QTRY_VERIFY_WITH_TIMEOUT(log->ReadsShown() >= 1, kDiagnosticsWaitMs);
    QTreeWidget* first = log->List(0);
    QVERIFY(first->topLevelItemCount() >= 1);
    QTreeWidgetItem* entry = first->topLevelItem(0);
    QVERIFY(entry->text(0).startsWith(QStringLiteral("00:01:")));
    QCOMPARE(entry->text(1), QStringLiteral(" MOTOR A"));
    QCOMPARE(entry->text(2), QStringLiteral("Unterspannung Occur"));
    QCOMPARE(entry->text(3), QStringLiteral("230"));
    // It reads again by itself.
    const uint64_t reads = log->ReadsShown();
    QTRY_VERIFY_WITH_TIMEOUT(log->ReadsShown() > reads, kDiagnosticsWaitMs);
  }

  void windowsOpenedOverTheAdvancedWindowTakeInput() {
    ChangeTo(1);
    screen_->OpenAdvanced();
    QTRY_VERIFY_WITH_TIMEOUT(screen_->AdvancedWindow() && screen_->AdvancedWindow()->isVisible(),
                             kDiagnosticsWaitMs);
    screens_.statistics();
    auto* dialog = Opened<diag::CDlgDiagnostic>();
    // It belongs to the advanced window: that window is modal to the node screen and blocks
    // every window of the node screen's own (the offscreen platform does not enforce this, so
    // the owner is what is checked).
    QCOMPARE(dialog->parentWidget(), screen_->AdvancedWindow());
    QTRY_VERIFY_WITH_TIMEOUT(dialog->ReadsShown() >= 1, kDiagnosticsWaitMs);
    // It works as opened from the node screen.
    QTest::mouseClick(Find<QToolButton>(dialog, QStringLiteral("up")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->ReadsShown() >= 2, kDiagnosticsWaitMs);
    QCOMPARE(dialog->Module(), 2);
  }

  void driveHistoryListsTheDrives() {
    ChangeTo(1);
    screens_.driveHistory();
    auto* history = Opened<diag::UxMtrHistory>();
    QTRY_VERIFY_WITH_TIMEOUT(history->ReadsShown() >= 1, kDiagnosticsWaitMs);
    QTreeWidget* list = history->List();
    QCOMPARE(list->topLevelItemCount(), 3);
    QCOMPARE(list->topLevelItem(0)->text(1), QStringLiteral("SN: USA 10.11.12-3"));
    QCOMPARE(list->topLevelItem(1)->text(1), QStringLiteral("SN: EU 10.11.12-4"));
    QCOMPARE(list->topLevelItem(0)->text(3), QStringLiteral("77"));
    QVERIFY(list->topLevelItem(0)->text(2) != list->topLevelItem(1)->text(2));
  }
};

int RunDiagnosticsTest(int argc, char** argv) {
  fixtures::TempFolder folder;
  return test::RunQtTestsInLab(
      argc, argv, WriteLine(folder),
      [](const test::Lab&, const test::Linesim& line) {
        return std::make_unique<DiagnosticsGuiTest>(line);
      },
      600000);
}
const test::GuiTest kDiagnosticsTestRegistered("diagnostics_test", RunDiagnosticsTest);
}  // namespace

#include "diagnostics_test.moc"
