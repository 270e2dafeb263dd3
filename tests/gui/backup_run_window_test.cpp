// The backup run window: per-module states, the progress bar and the report while the run goes
// on a worker thread, the file written at the end, and STOP ending a run that waits on a module.
#include <QDir>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>
#include <filesystem>
#include <map>

#include "backup/backup_file.h"
#include "backup/ui/backup_run_window.h"
#include "base/language.h"
#include "fixtures/fake_module_link.h"
#include "fixtures/temp_log.h"
#include "gui/runner/gui_tests.h"
#include "platform/profile.h"

namespace {

backup::ModuleInfo BackupModule(uint32_t serial, const std::string& ip) {
  backup::ModuleInfo m;
  m.serial = serial;
  m.ipText = ip;
  m.maskText = "255.255.255.0";
  m.gatewayText = "192.168.202.1";
  m.familyByte = 0x30;
  m.firmwareVersion = 0x040C;
  return m;
}

// A line that takes every request (a restore without address or position changes only resets).
class QuietLine : public backup::LineOperations {
 public:
  bool SetNodeIp(const backup::ModuleInfo&, const std::string&, const std::string&,
                 const std::string&) override {
    return true;
  }
  std::vector<backup::SettingsNotTaken> AwaitAnswers(uint32_t) override { return {}; }
  bool SetFirstLast(const backup::ModuleInfo&, uint8_t) override { return true; }
  bool BroadcastReset() override { return true; }
  std::vector<backup::ModuleInfo> Rediscover() override { return {}; }
  bool Wait(uint32_t, base::Progress&) override { return true; }
};

}  // namespace

Q_DECLARE_METATYPE(base::Language)

class BackupRunWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void backupShowsStatesAndWritesTheFile() {
    fixtures::ScopedTempLog log;
    fixtures::TempFolder folder;
    std::map<std::string, test::FakeModule> modules;
    modules["192.168.202.20"].serial = modules["192.168.202.20"].answersSerial = 1;
    modules["192.168.202.21"].serial = modules["192.168.202.21"].answersSerial = 2;
    backup::BackupRunWindow::Setup setup;
    setup.modules = {BackupModule(1, "192.168.202.20"), BackupModule(2, "192.168.202.21")};
    setup.links = [&modules](const std::string& ip) {
      return std::make_unique<test::FakeLink>(modules[ip]);
    };
    setup.timing = test::Quick();
    base::ScriptedPrompt prompt;
    platform::MemoryProfileStore profile;
    backup::BackupRunWindow window(setup, prompt, profile);
    const QString path = QString::fromStdString(folder.path() + "line.backup");
    window.SetSavePathChooser([&](const QString&) { return path; });
    window.show();
    window.Start();
    QTRY_VERIFY_WITH_TIMEOUT(window.Finished(), 10000);
    QCOMPARE(window.StateText(0), QString("done"));
    QCOMPARE(window.StateText(1), QString("done"));
    QCOMPARE(window.ProgressValue(), window.ProgressMaximum());
    QVERIFY(window.Report().contains("Backup von 2 Modulen wurde in"));
    QCOMPARE(window.SavedPath(), path.toStdString());
    const auto loaded = backup::LoadBackupFile(path.toStdString());
    QCOMPARE(loaded.records.size(), size_t(2));
    const std::string folderPath = folder.path().substr(0, folder.path().size() - 1);
    QCOMPARE(QString::fromStdString(profile.GetString("Settings", "BackUp_Location", "")),
             QDir::cleanPath(QString::fromStdString(folderPath)));
    QCOMPARE(window.StopButton()->text(), QString("Close"));
  }

  void aFailedModuleIsShownAndNoFileIsWritten() {
    fixtures::ScopedTempLog log;
    std::map<std::string, test::FakeModule> modules;
    modules["192.168.202.20"].serial = modules["192.168.202.20"].answersSerial = 1;
    modules["192.168.202.21"].pingAnswers = false;
    backup::BackupRunWindow::Setup setup;
    setup.modules = {BackupModule(1, "192.168.202.20"), BackupModule(2, "192.168.202.21")};
    setup.links = [&modules](const std::string& ip) {
      return std::make_unique<test::FakeLink>(modules[ip]);
    };
    setup.timing = test::Quick();
    base::ScriptedPrompt prompt;
    platform::MemoryProfileStore profile;
    backup::BackupRunWindow window(setup, prompt, profile);
    bool asked = false;
    window.SetSavePathChooser([&](const QString&) {
      asked = true;
      return QString();
    });
    window.Start();
    QTRY_VERIFY_WITH_TIMEOUT(window.Finished(), 10000);
    QCOMPARE(window.StateText(1), QString("no connection"));
    QVERIFY(window.Report().contains("192.168.202.21"));
    QVERIFY(!asked);
    QVERIFY(window.SavedPath().empty());
  }

  void aModuleNotFullyBackedUpIsShownSo() {
    fixtures::ScopedTempLog log;
    fixtures::TempFolder folder;
    std::map<std::string, test::FakeModule> modules;
    modules["192.168.202.20"].serial = modules["192.168.202.20"].answersSerial = 1;
    modules["192.168.202.20"].register12 = 1;  // PLC mode: no flash image
    backup::BackupRunWindow::Setup setup;
    setup.modules = {BackupModule(1, "192.168.202.20")};
    setup.links = [&modules](const std::string& ip) {
      return std::make_unique<test::FakeLink>(modules[ip]);
    };
    setup.timing = test::Quick();
    base::ScriptedPrompt prompt;
    platform::MemoryProfileStore profile;
    backup::BackupRunWindow window(setup, prompt, profile);
    const QString path = QString::fromStdString(folder.path() + "line.backup");
    window.SetSavePathChooser([&](const QString&) { return path; });
    window.Start();
    QTRY_VERIFY_WITH_TIMEOUT(window.Finished(), 10000);
    QVERIFY2(window.StateText(0).contains(backup::kIncompleteOutcomeNote),
             qPrintable(window.StateText(0)));
    QVERIFY2(window.Report().contains("soll nicht für Wiederherstellung benutzt werden"),
             qPrintable(window.Report()));
  }

  void everySelectedModuleOfARestoreShowsItsOutcome() {
    fixtures::ScopedTempLog log;
    std::map<std::string, test::FakeModule> modules;
    backup::CNode_DataBackup record;
    record.serialNumber = 2;
    record.ipText = "192.168.202.21";
    record.maskText = "255.255.255.0";
    record.gatewayText = "192.168.202.1";
    record.nodeBlock[17] = 0x30;
    record.registerCount = 513;
    record.registers.assign(513, backup::WireWord(5));
    record.flashImage.assign(513, backup::WireWord(7));
    backup::BackupRunWindow::Setup setup;
    setup.mode = backup::BackupRunWindow::Mode::kRestore;
    auto first = BackupModule(1, "192.168.202.20");  // no record in the file
    auto second = BackupModule(2, "192.168.202.21");
    first.nodeBlock[17] = second.nodeBlock[17] = 0x30;
    setup.modules = {first, second};
    setup.records = {record};
    setup.fileName = "line.backup";
    setup.links = [&modules](const std::string& ip) {
      return std::make_unique<test::FakeLink>(modules[ip]);
    };
    setup.line = [] { return std::make_unique<QuietLine>(); };
    setup.timing = test::Quick();
    base::ScriptedPrompt prompt;
    prompt.QueueAnswer(base::PromptAnswer::Yes);
    platform::MemoryProfileStore profile;
    backup::BackupRunWindow window(setup, prompt, profile);
    window.Start();
    QTRY_VERIFY_WITH_TIMEOUT(window.Finished(), 20000);
    QCOMPARE(window.StateText(0), QString(backup::kNoRecordOutcome));
    QCOMPARE(window.StateText(1), QString("done"));
  }

  // At the end of a backup every finished job is told to stop: its row keeps its outcome, in
  // either language, and never shows "stopped" on the way.
  void aFinishedModuleKeepsItsOutcomeWhenItsJobIsStopped_data() {
    QTest::addColumn<base::Language>("language");
    QTest::newRow("German") << base::Language::German;
    QTest::newRow("English") << base::Language::English;
  }
  void aFinishedModuleKeepsItsOutcomeWhenItsJobIsStopped() {
    QFETCH(base::Language, language);
    base::SetLanguage(language);
    fixtures::ScopedTempLog log;
    std::map<std::string, test::FakeModule> modules;
    modules["192.168.202.20"].serial = modules["192.168.202.20"].answersSerial = 1;
    backup::BackupRunWindow::Setup setup;
    setup.modules = {BackupModule(1, "192.168.202.20")};
    setup.links = [&modules](const std::string& ip) {
      return std::make_unique<test::FakeLink>(modules[ip]);
    };
    setup.timing = test::Quick();
    base::ScriptedPrompt prompt;
    platform::MemoryProfileStore profile;
    backup::BackupRunWindow window(setup, prompt, profile);
    window.SetSavePathChooser([](const QString&) { return QString(); });
    auto* list = window.findChild<QTreeWidget*>();
    QVERIFY(list);
    QStringList shown;
    connect(list, &QTreeWidget::itemChanged, this, [&shown](QTreeWidgetItem* item, int column) {
      if (column == 2 && (shown.isEmpty() || shown.back() != item->text(2))) shown << item->text(2);
    });
    window.Start();
    QTRY_VERIFY_WITH_TIMEOUT(window.Finished(), 10000);
    base::SetLanguage(base::Language::German);
    const QString done =
        QString::fromUtf8(base::Translate(language, backup::kOutcomeContext, "done"));
    QVERIFY2(shown.contains(done), qPrintable(shown.join(" | ")));
    QVERIFY2(shown.indexOf(QStringLiteral("stopped"), shown.indexOf(done)) < 0,
             qPrintable(shown.join(" | ")));
    QCOMPARE(window.StateText(0), done);
  }

  void stopEndsARunThatWaits() {
    fixtures::ScopedTempLog log;
    std::map<std::string, test::FakeModule> modules;
    modules["192.168.202.20"].pingAnswers = false;  // keeps retrying its connection
    backup::BackupRunWindow::Setup setup;
    setup.modules = {BackupModule(1, "192.168.202.20")};
    setup.links = [&modules](const std::string& ip) {
      return std::make_unique<test::FakeLink>(modules[ip]);
    };
    setup.timing = test::Quick();
    setup.timing.connectRetryMs = 60000;  // a minute between attempts: only STOP ends it soon
    base::ScriptedPrompt prompt;
    platform::MemoryProfileStore profile;
    backup::BackupRunWindow window(setup, prompt, profile);
    window.Start();
    QTRY_COMPARE(window.StateText(0), QString("connecting"));
    QVERIFY(window.Running());
    QTest::mouseClick(window.StopButton(), Qt::LeftButton);  // the GUI is live: STOP is taken
    QTRY_VERIFY_WITH_TIMEOUT(window.Finished(), 5000);
    QVERIFY(window.Report().contains("STOP"));
  }
};

const test::GuiTest kBackupRunWindowTestRegistered(
    "backup_run_window_test", test::RunQtTestObject<QApplication, BackupRunWindowTest>);
#include "backup_run_window_test.moc"
