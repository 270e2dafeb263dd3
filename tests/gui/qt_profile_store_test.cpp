// The profile entries live in the user's settings file of the maker and program.
#include <QtTest>

#include "fixtures/temp_log.h"
#include "gui/runner/gui_tests.h"
#include "ui/qt_profile_store.h"

class QtProfileStoreTest : public QObject {
  Q_OBJECT

 private slots:
  void entriesGoToTheMakersSettingsFile() {
    fixtures::TempFolder config;
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.path()));
    ui::QtProfileStore store;
    QCOMPARE(store.GetString("Settings", "Default Net", "192.168.202.20"),
             std::string("192.168.202.20"));
    store.SetString("Settings", "Default Net", "10.1.2.20");
    store.SetInt("Settings", "Count", 42);
    QCOMPARE(store.GetString("Settings", "Default Net", ""), std::string("10.1.2.20"));
    QCOMPARE(store.GetInt("Settings", "Count", 0), 42);

    // Another store (as the next run) reads what was written.
    ui::QtProfileStore next;
    QCOMPARE(next.GetString("Settings", "Default Net", ""), std::string("10.1.2.20"));
    const std::string file = fixtures::ReadFile(config.path() + "Corvenna/Quillmar.conf");
    QVERIFY2(file.find("10.1.2.20") != std::string::npos, file.c_str());
  }
};

const test::GuiTest kQtProfileStoreTestRegistered(
    "qt_profile_store_test", test::RunQtTestObject<QCoreApplication, QtProfileStoreTest>);
#include "qt_profile_store_test.moc"
