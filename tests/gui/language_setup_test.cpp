// The desktop program's language: --lang, the profile entry and the locale in that order, and
// the translators that turn the screens English and back.
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include "base/prompt.h"
#include "discovery/ui/choose_nic_dialog.h"
#include "gui/runner/gui_tests.h"
#include "platform/profile.h"
#include "ui/ctab_dlg.h"
#include "ui/language_setup.h"

class LanguageSetupTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() { ui::InstallTranslators(base::Language::German); }

  void langOptionIsReadInBothForms_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");  // "-" for none
    QTest::addColumn<bool>("missing");
    QTest::newRow("none") << QStringList{"quillmar"} << "-" << false;
    QTest::newRow("separate") << QStringList{"quillmar", "--lang", "en"} << "en" << false;
    QTest::newRow("joined") << QStringList{"quillmar", "--lang=de"} << "de" << false;
    QTest::newRow("last wins") << QStringList{"quillmar", "--lang", "de", "--lang=en"} << "en"
                               << false;
    QTest::newRow("no value") << QStringList{"quillmar", "--lang"} << "-" << true;
    QTest::newRow("program name only") << QStringList{"--lang"} << "-" << false;
  }
  void langOptionIsReadInBothForms() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    QFETCH(bool, missing);
    bool missingValue = !missing;
    const std::optional<std::string> option = ui::LangOption(arguments, &missingValue);
    QCOMPARE(option ? QString::fromStdString(*option) : QStringLiteral("-"), expected);
    QCOMPARE(missingValue, missing);
  }

  void optionBeatsProfileAndProfileBeatsLocale() {
    qputenv("LANG", "de_DE.UTF-8");
    qunsetenv("LC_ALL");
    qunsetenv("LC_MESSAGES");
    platform::MemoryProfileStore profile;
    QCOMPARE(ui::ChooseStartLanguage(std::nullopt, profile), base::Language::German);
    profile.SetString(base::kLanguageSection, base::kLanguageKey, "en");
    QCOMPARE(ui::ChooseStartLanguage(std::nullopt, profile), base::Language::English);
    QCOMPARE(ui::ChooseStartLanguage(std::string("de"), profile), base::Language::German);
    profile.SetString(base::kLanguageSection, base::kLanguageKey, "");
    qputenv("LANG", "en_GB.UTF-8");
    QCOMPARE(ui::ChooseStartLanguage(std::nullopt, profile), base::Language::English);
    qputenv("LANG", "de_DE.UTF-8");
  }

  void englishTranslatesTheScreensAndGermanTakesItBack() {
    QVERIFY(ui::InstallTranslators(base::Language::English));
    QCOMPARE(base::CurrentLanguage(), base::Language::English);
    {
      CDlg_ChooseNIC chooser;
      QCOMPARE(chooser.windowTitle(), QStringLiteral("Please choose the network adapter to use"));
      QCOMPARE(chooser.cancelButton()->text(), QStringLiteral("Cancel"));
    }
    {
      base::SilentPrompt prompt;
      ui::AdvancedPageContext context{};
      context.prompt = &prompt;
      ui::CTabDlg tabs(context, ui::CTabDlg::Pages{});
      QCOMPARE(tabs.windowTitle(), QStringLiteral("Advanced functions"));
      auto* tabWidget = tabs.findChild<QTabWidget*>(QStringLiteral("CMRegTabCtrl"));
      QVERIFY(tabWidget);
      QCOMPARE(tabWidget->tabText(0), QStringLiteral("Preview && Settings"));
      QCOMPARE(tabWidget->tabText(7), QStringLiteral("Sensors"));
    }
    QVERIFY(ui::InstallTranslators(base::Language::German));
    QCOMPARE(base::CurrentLanguage(), base::Language::German);
    CDlg_ChooseNIC chooser;
    QCOMPARE(chooser.cancelButton()->text(), QStringLiteral("Abbruch"));
    QCOMPARE(chooser.windowTitle(),
             QString::fromUtf8("Bitte auswählen welcher Netzwerkadapter benutzt werden soll"));
  }

  // Every text of the screens has its English text: the .qm built from gui_en.ts answers each
  // source lupdate found with something else than nothing.
  void everyScreenTextHasAnEnglishText() {
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/translations/gui_en.qm")));
    QVERIFY(!translator.isEmpty());
    QCOMPARE(translator.translate("diag::CDlgDiagnostic", "Zähler"), QStringLiteral("Counters"));
    QCOMPARE(translator.translate("ui::TimeLeft", "%p% - noch %1"),
             QStringLiteral("%p% - %1 left"));
  }
};

const test::GuiTest kLanguageSetupTestRegistered(
    "language_setup_test", test::RunQtTestObject<QApplication, LanguageSetupTest>);
#include "language_setup_test.moc"
