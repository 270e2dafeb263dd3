// "Verbindungen" opened from the node screen's advanced window on a linesim module inside a
// lab: the exclusion rules of its boxes, Shift+Alt+E, and an Apply that writes the upstream link,
// restarts the module and reads it again while the window stays live.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>
#include <cstdio>
#include <memory>

#include "base/prompt.h"
#include "config/ui/dlg_connections.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/qt_lab.h"
#include "gui/runner/gui_tests.h"
#include "params/ui/cmreg_dlg.h"
#include "platform/profile.h"
#include "ui/ctab_dlg.h"

namespace {

constexpr uint32_t kNode6 = 3100106;  // family 0x09, module type 8 (neither slave nor PLC)
constexpr int kConnectionWaitMs = 15000;
class ConnectionsGuiTest : public QObject {
  Q_OBJECT
 public:
  explicit ConnectionsGuiTest(const test::Linesim& line) : line_(line) {}

 private:
  template <typename T>
  T* Find(QWidget* parent, const QString& name) {
    T* widget = parent->findChild<T*>(name);
    if (!widget) qFatal("no widget %s", qPrintable(name));
    return widget;
  }

  const test::Linesim& line_;
  base::ScriptedPrompt prompt_;
  platform::MemoryProfileStore profile_;

 private slots:
  void applyFromTheNodeScreenWritesTheLinkAndRestarts() {
    params::CMRegDlg screen(params::MakeSocketNodeLink(), prompt_, profile_);
    ui::CTabDlg::Pages pages;
    int locks = 0;
    config::CDlgConnections::Hooks hooks;
    hooks.readLock = [&locks](const std::string&, bool) {
      ++locks;
      return 0;
    };
    hooks.maskFor = [](const std::string& ip) {
      return ip == "192.168.202.25" ? "255.255.255.0" : "?";
    };
    config::InstallConnectionPages(screen, pages, hooks);
    screen.SetAdvancedPages(pages);
    screen.show();
    QTRY_COMPARE_WITH_TIMEOUT(Find<QLineEdit>(&screen, QStringLiteral("network"))->text(),
                              QStringLiteral("192.168.202.20"), kConnectionWaitMs);
    Find<QLineEdit>(&screen, QStringLiteral("from"))->setText(QStringLiteral("6"));
    QTest::mouseClick(Find<QPushButton>(&screen, QStringLiteral("refresh")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(screen.ShownView().connected, kConnectionWaitMs);

    screen.OpenAdvanced();
    QTRY_VERIFY_WITH_TIMEOUT(screen.AdvancedWindow() != nullptr, kConnectionWaitMs);
    auto* tabs = screen.AdvancedWindow()->findChild<QTabWidget*>(QStringLiteral("CMRegTabCtrl"));
    QVERIFY(tabs);
    tabs->setCurrentIndex(2);
    auto* dialog = screen.AdvancedWindow()->findChild<config::CDlgConnections*>();
    QVERIFY(dialog);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->Shown().read, kConnectionWaitMs);
    QCOMPARE(dialog->Shown().address, std::string("192.168.202.25"));
    QCOMPARE(Find<QLabel>(dialog, QStringLiteral("ctl1037"))->text(), QStringLiteral("6"));
    QCOMPARE(Find<QLabel>(dialog, QStringLiteral("ctl1187"))->text(),
             QStringLiteral("255.255.255.0"));

    // The mode boxes exclude each other; PLC I/O enables the PLC controls.
    auto* plcIo = Find<QCheckBox>(dialog, QStringLiteral("ctl1188"));
    auto* hardware = Find<QCheckBox>(dialog, QStringLiteral("ctl1194"));
    auto* outputs = Find<QComboBox>(dialog, QStringLiteral("ctl1361"));
    QVERIFY(!outputs->isEnabled());
    plcIo->click();
    QVERIFY(outputs->isEnabled());
    hardware->click();
    QVERIFY(!plcIo->isChecked());
    QVERIFY(!outputs->isEnabled());
    hardware->click();
    QVERIFY(!hardware->isChecked());
    // Shift+Alt+E shows the PLC program controls.
    auto* plcFile = Find<QLineEdit>(dialog, QStringLiteral("ctl1533"));
    QVERIFY(plcFile->isHidden());
    dialog->ShowPlcControls();
    QVERIFY(!plcFile->isHidden());
    QCOMPARE(Find<QCheckBox>(dialog, QStringLiteral("ctl1201"))->toolTip().isEmpty(), false);

    // Upstream: node 5; Apply runs on the worker while the window answers.
    Find<QComboBox>(dialog, QStringLiteral("ctl1035"))->setCurrentIndex(5);
    QTest::mouseClick(Find<QPushButton>(dialog, QStringLiteral("ctl1178")), Qt::LeftButton);
    QVERIFY(dialog->Busy());
    QVERIFY(!Find<QPushButton>(dialog, QStringLiteral("ctl1178"))->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(line_.Counters(kNode6).restarts >= 1, kConnectionWaitMs);
    QVERIFY(dialog->Busy());  // the 10 s after the restart: the GUI thread keeps running
    QTRY_VERIFY_WITH_TIMEOUT(!dialog->Busy(), 30000);
    const std::vector<uint16_t> upstream = line_.Read(kNode6, 300, 8, true);
    QCOMPARE(upstream, (std::vector<uint16_t>{0xC0A8, 0xCA18, 1, 116, 232, 15, 1, 0}));
    QCOMPARE(line_.Read(kNode6, 300, 8), upstream);  // running on what it saved
    QVERIFY(dialog->Shown().read);
    QCOMPARE(dialog->Shown().upstream[1], uint16_t{0xCA18});
    QCOMPARE(Find<QComboBox>(dialog, QStringLiteral("ctl1035"))->currentIndex(), 5);
    QCOMPARE(locks, 0);
    for (const std::string& text : prompt_.Texts())
      QVERIFY2(text.find("lost") == std::string::npos, text.c_str());
    screen.AdvancedWindow()->close();
  }
};

int RunConnectionsTest(int argc, char** argv) {
  return test::RunQtTestsInLab(
      argc, argv, test::SourceFile("sim/lines/demo.json"),
      [](const test::Lab&, const test::Linesim& line) {
        return std::make_unique<ConnectionsGuiTest>(line);
      },
      600000);
}
const test::GuiTest kConnectionsTestRegistered("connections_test", RunConnectionsTest);
}  // namespace

#include "connections_test.moc"
