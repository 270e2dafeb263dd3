// The discovered-modules page (CUDPServerDlg) and the upgrade page (CYarq_UploaderDlg) against
// linesim's demo line in a lab: the list with its line format, the subnet filter and count line,
// Select ALL, the page staying live while it discovers, and an upload run with its lines. The
// test process makes the lab and starts linesim; the Qt tests run in a child inside the lab's
// PC namespace.
#include <QApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "backup/ui/udp_server_dlg.h"
#include "base/prompt.h"
#include "config/ui/yarq_uploader_dlg.h"
#include "discovery/connect_inventory_link.h"
#include "discovery/mreg_app.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/qt_lab.h"
#include "gui/runner/gui_tests.h"
#include "platform/profile.h"

namespace {

bool Shown(const base::ScriptedPrompt& prompt, const std::string& text) {
  const auto texts = prompt.Texts();
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

constexpr int kModulesPageWaitMs = 30000;

class ModulesPageTest : public QObject {
  Q_OBJECT
 public:
  explicit ModulesPageTest(const test::Linesim& line) : line_(line) {}

 private slots:
  void ListFilterAndCountLine() {
    base::ScriptedPrompt prompt;
    platform::MemoryProfileStore profile;
    CMRegApp app(&prompt, &profile);
    backup::CUDPServerDlg page(app, prompt);
    page.show();
    QSignalSpy finished(&page, &backup::CUDPServerDlg::operationFinished);
    // The GUI thread keeps running its timers while the discovery runs on the worker.
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&] { ticks += page.Busy() ? 1 : 0; });
    timer.start(20);
    page.Discover();
    QVERIFY(page.Busy());
    QVERIFY(finished.wait(kModulesPageWaitMs));
    QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
    const QStringList lines = page.ListLines();
    QCOMPARE(lines.size(), 12);
    QVERIFY(lines.contains("192.168.202.20, 3100101, 4.14 {Brevantrix UX, First}"));
    QVERIFY(lines.contains("192.168.202.22, 3100103, 4.12 {Brevantrix}"));
    QCOMPARE(page.SubnetEntries(), QStringList({"<<< Alle Netzwerke >>>", "192.168.202.0"}));
    QCOMPARE(page.CountText(), QString("Entdeckt = 12, Geschützt = 0, Angezeigt = 12"));
    page.ShowSubnet("192.168.202.0");
    QCOMPARE(page.ListLines().size(), 12);
    page.SelectAll(true);
    QCOMPARE(page.SelectedIps().size(), size_t{12});
    page.SelectAll(false);
    QVERIFY(page.SelectedIps().empty());
    // Upgrade without a selection says so and opens nothing.
    bool opened = false;
    backup::CUDPServerDlg::Hooks hooks;
    hooks.upgrade = [&](const std::vector<std::string>&) { opened = true; };
    page.SetHooks(hooks);
    page.findChild<QPushButton*>("upgrade")->click();
    QVERIFY(!opened);
    QVERIFY(Shown(prompt, "no selection"));
  }

  void UploaderRunsOnAWorkerAndReportsLines() {
    base::ScriptedPrompt prompt;
    platform::MemoryProfileStore profile;
    CMRegApp app(&prompt, &profile);
    discovery::ScopedConnectInventory link(app);
    config::CYarq_UploaderDlg window(app, prompt);
    config::UpgradeOptions options;
    options.resetWaitMs = 100;
    options.restartWaitMs = 2000;
    window.SetOptions(options);
    window.SetModules({"192.168.202.22"});
    // A refused file is named and nothing can start.
    QVERIFY(!window.ChooseFile("/nonexistent/Brevantrix_4_1.bin"));
    QVERIFY(Shown(prompt, "Die Datei\"/nonexistent/Brevantrix_4_1.bin\" Existiert nicht."));
    QVERIFY(!window.StartUpload(true));

    const std::string folder = QDir::tempPath().toStdString() + "/uploader";
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/Brevantrix_4_16.bin";
    {
      std::string bytes(20000, 'x');
      const uint32_t word = 0xE59FF018u;
      bytes.replace(0, 4, reinterpret_cast<const char*>(&word), 4);
      std::ofstream(path, std::ios::binary) << bytes;
    }
    QVERIFY(window.ChooseFile(path));
    QSignalSpy finished(&window, &config::CYarq_UploaderDlg::runFinished);
    QVERIFY(window.StartUpload(true));
    QVERIFY(window.Running());
    QVERIFY(finished.wait(kModulesPageWaitMs));
    const QStringList lines = window.OutputLines();
    QVERIFY2(lines.contains("Start uploading at 192.168.202.22"), qPrintable(lines.join('\n')));
    QVERIFY2(lines.contains("... FTP upload OK. "), qPrintable(lines.join('\n')));
    QVERIFY2(lines.contains("Upgrading 192.168.202.22 with FW file Brevantrix_4_16.bin revision "
                            "4.16 - Done."),
             qPrintable(lines.join('\n')));
    QCOMPARE(line_.Read(3100103, 25)[0], uint16_t{0x0410});
  }

 private:
  const test::Linesim& line_;
};

int RunModulesPageTest(int argc, char** argv) {
  return test::RunQtTestsInLab(
      argc, argv, test::SourceFile("sim/lines/demo.json"),
      [](const test::Lab&, const test::Linesim& line) {
        return std::make_unique<ModulesPageTest>(line);
      },
      600000);
}
const test::GuiTest kModulesPageTestRegistered("modules_page_test", RunModulesPageTest);
}  // namespace

#include "modules_page_test.moc"
