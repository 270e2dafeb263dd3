// The desktop program (QSettings through ui::QtProfileStore) and the CLI
// (platform::IniProfileStore) share one settings file: what one writes, the other reads, and
// neither loses what the other keeps there.
#include <QSettings>
#include <QStringList>
#include <QtTest>
#include <cstdio>
#include <string>
#include <vector>

#include "fixtures/temp_log.h"
#include "gui/runner/gui_tests.h"
#include "platform/profile.h"
#include "ui/qt_profile_store.h"

namespace {

// Values that need every rule of the file: quoting, escapes, UTF-8, a leading '@', a NUL.
std::vector<std::string> TrickyValues() {
  return {"10.1.2.20",
          "",
          " leading and trailing ",
          "a;b,c=d",
          "say \"hi\" \\ back",
          "two\nlines\tand\rmore",
          std::string("\x01") + "ab\x1f" + "9",
          std::string("nul\0inside", 10),
          "@home",
          "@@twice",
          "@Invalid()",
          "Gr\xC3\xB6\xC3\x9F"
          "e \xE2\x82\xAC \xF0\x9F\x99\x82",
          "/srv/backups/Linie 3, Halle 2"};
}

// Shown in full when a comparison fails (a NUL included).
QString Text(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Section and key names with characters that are escaped in the file.
const std::vector<std::pair<std::string, std::string>> kNames = {{"Settings", "Default Net"},
                                                                 {"General", "k"},
                                                                 {"Last Window", "a/b"},
                                                                 {"Stra\xC3\x9F"
                                                                  "e",
                                                                  "\xE2\x82\xAC"}};

}  // namespace

class ProfileFileTest : public QObject {
  Q_OBJECT

 private slots:
  // The desktop program's settings find the user's folder once per process: one folder for
  // every test here, emptied before each.
  void initTestCase() {
    config_ = std::make_unique<fixtures::TempFolder>();
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config_->path()));
  }
  void init() { std::remove((config_->path() + "Corvenna/Quillmar.conf").c_str()); }
  void cleanupTestCase() { config_.reset(); }

  void theCliReadsWhatTheDesktopProgramWrote() {
    ui::QtProfileStore desktop;
    const std::vector<std::string> values = TrickyValues();
    for (size_t i = 0; i < values.size(); ++i) {
      for (const auto& [section, key] : kNames) {
        desktop.SetString(section, key + std::to_string(i), values[i]);
      }
    }
    platform::IniProfileStore cli;
    QCOMPARE(cli.FilePath(), config_->path() + "Corvenna/Quillmar.conf");
    for (size_t i = 0; i < values.size(); ++i) {
      for (const auto& [section, key] : kNames) {
        QCOMPARE(Text(cli.GetString(section, key + std::to_string(i), "missing")), Text(values[i]));
      }
    }
  }

  void theDesktopProgramReadsWhatTheCliWrote() {
    platform::IniProfileStore cli;
    const std::vector<std::string> values = TrickyValues();
    for (size_t i = 0; i < values.size(); ++i) {
      for (const auto& [section, key] : kNames) {
        cli.SetString(section, key + std::to_string(i), values[i]);
      }
    }
    QCOMPARE(cli.LastWriteError(), std::string());
    ui::QtProfileStore desktop;
    for (size_t i = 0; i < values.size(); ++i) {
      for (const auto& [section, key] : kNames) {
        QCOMPARE(Text(desktop.GetString(section, key + std::to_string(i), "missing")),
                 Text(values[i]));
      }
    }
  }

  // The desktop program keeps entries of other types (a window's geometry, lists); a write by
  // the CLI leaves them as they were, and the CLI reads them as the desktop program would.
  void entriesOfOtherTypesSurviveTheCliAndReadTheSame() {
    const QByteArray geometry("\x01\xd9\xd0\xcb\x00\x03 =;,\"", 12);
    const QStringList recent = {"a", "b;c", " d "};
    {
      QSettings settings(ui::QtProfileStore::kOrganization, ui::QtProfileStore::kApplication);
      settings.setValue("geometry", geometry);
      settings.setValue("Settings/Recent", recent);
      settings.setValue("Settings/Size", QSize(800, 600));
      settings.setValue("Settings/Nothing", QVariant());
      settings.setValue("Settings/Text", QByteArray("plain bytes"));
      settings.setValue("Settings/Count", 42);
    }
    platform::IniProfileStore cli;
    ui::QtProfileStore desktop;
    for (const char* key : {"Recent", "Size", "Nothing", "Text", "Count"}) {
      QCOMPARE(Text(cli.GetString("Settings", key, "missing")),
               Text(desktop.GetString("Settings", key, "missing")));
    }
    cli.SetString("Settings", "Default Net", "10.1.2.20");
    cli.SetString("Settings", "Count", "43");
    QSettings settings(ui::QtProfileStore::kOrganization, ui::QtProfileStore::kApplication);
    QCOMPARE(settings.value("geometry").toByteArray(), geometry);
    QCOMPARE(settings.value("Settings/Recent").toStringList(), recent);
    QCOMPARE(settings.value("Settings/Size").toSize(), QSize(800, 600));
    QCOMPARE(settings.value("Settings/Text").toByteArray(), QByteArray("plain bytes"));
    QCOMPARE(settings.value("Settings/Default Net").toString(), QString("10.1.2.20"));
    QCOMPARE(settings.value("Settings/Count").toInt(), 43);
    QCOMPARE(settings.status(), QSettings::NoError);
  }

 private:
  std::unique_ptr<fixtures::TempFolder> config_;
};

const test::GuiTest kProfileFileTestRegistered(
    "profile_file_test", test::RunQtTestObject<QCoreApplication, ProfileFileTest>);
#include "profile_file_test.moc"
