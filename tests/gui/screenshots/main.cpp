// gui_screenshots DIR: renders the windows to PNG files, for review. It makes its own lab,
// starts linesim with the demo line and runs every registered part (shots.h); this file holds
// the node screen connected to a module of each family and disconnected, the adapter chooser
// and the advanced functions window.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/prompt.h"
#include "discovery/discover.h"
#include "discovery/ui/choose_nic_dialog.h"
#include "environment/test_folders.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "params/ui/cmreg_dlg.h"
#include "platform/profile.h"
#include "shots.h"
#include "text_checks.h"
#include "ui/ctab_dlg.h"
#include "ui/language_setup.h"

namespace shots {

// Qt Test's wait handles the events as they come and sleeps between looks at the condition (the
// workers change what it reads without an event).
bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  return QTest::qWaitFor(done, timeoutMs);
}

TextChecks& ActiveTextChecks() {
  static TextChecks checks;
  return checks;
}

namespace {
// The problems of the window's texts, printed; true when there are none.
bool TextsPass(QWidget* widget, const QString& name) {
  const TextChecks& checks = ActiveTextChecks();
  if (!checks.on) return true;
  QList<TextProblem> problems = CutTexts(widget);
  if (checks.english) problems += GermanTexts(widget, checks.germanSources, checks.userTexts);
  bool pass = true;
  for (const TextProblem& problem : problems) {
    std::printf("%s: %s \"%s\": %s\n", qPrintable(name), qPrintable(problem.widget),
                qPrintable(problem.text), qPrintable(problem.what));
    pass = pass && !problem.fails;
  }
  std::fflush(stdout);
  return pass;
}
}  // namespace

bool Save(QWidget* widget, const QString& folder, const QString& name) {
  QCoreApplication::processEvents();
  if (!TextsPass(widget, name)) return false;
  const QString path = QDir(folder).filePath(name);

  const bool saved = widget->grab().save(path, "PNG");
  std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
  std::fflush(stdout);  // the lab child ends with _exit
  return saved;
}

namespace {
std::map<std::string, ShotFunction>& Parts() {
  static std::map<std::string, ShotFunction> parts;  // filled during static initialisation
  return parts;
}
}  // namespace

Registrar::Registrar(const char* name, ShotFunction function) {
  Parts()[name] = std::move(function);
}

}  // namespace shots

namespace {

using shots::Save;
using shots::WaitFor;

struct Shot {
  int node;
  const char* file;
};

int RenderNodeScreens(shots::Context& context) {
  const QString& folder = context.folder;
  base::Prompt& prompt = context.prompt;
  platform::ProfileStore& profile = context.profile;
  int failures = 0;

  // Disconnected: the window as it opens.
  {
    params::CMRegDlg dialog(params::MakeSocketNodeLink(), prompt, profile);
    dialog.show();
    WaitFor([&] { return dialog.ShownView().fieldsSerial > 0; }, 5000);
    failures += !Save(&dialog, folder, QStringLiteral("node_screen_disconnected.png"));
  }

  // One module of each family of the demo line, and the valve module.
  const std::vector<Shot> shots = {{1, "node_screen_family09.png"},
                                   {3, "node_screen_family00.png"},
                                   {4, "node_screen_family03_transport_reversed.png"},
                                   {5, "node_screen_family02_drive_controller.png"},
                                   {8, "node_screen_family0C_io.png"},
                                   {11, "node_screen_type4_valves.png"}};
  params::CMRegDlg dialog(params::MakeSocketNodeLink(), prompt, profile);
  dialog.show();
  WaitFor([&] { return dialog.ShownView().fieldsSerial > 0; }, 5000);
  for (const Shot& shot : shots) {
    dialog.findChild<QLineEdit*>(QStringLiteral("from"))->setText(QString::number(shot.node));
    dialog.Refresh();
    const bool connected = WaitFor(
        [&] { return dialog.ShownView().connected && dialog.ShownView().node == shot.node; },
        20000);
    const uint64_t passes = dialog.ShownView().passes;
    // A few passes so that every rotating group has been read once.
    WaitFor([&] { return dialog.ShownView().passes >= passes + 4; }, 20000);
    if (!connected) std::printf("node %d did not connect\n", shot.node);
    std::fflush(stdout);
    failures += !connected;
    failures += !Save(&dialog, folder, QString::fromLatin1(shot.file));
  }

  // The advanced functions window.
  dialog.OpenAdvanced();
  WaitFor([&] { return dialog.AdvancedWindow() && dialog.AdvancedWindow()->isVisible(); }, 5000);
  if (dialog.AdvancedWindow()) {
    failures += !Save(dialog.AdvancedWindow(), folder, QStringLiteral("advanced_functions.png"));
    dialog.AdvancedWindow()->close();
  } else {
    ++failures;
  }

  // The adapter chooser.
  {
    CDlg_ChooseNIC chooser;
    chooser.SetEntries(
        {discovery::AdapterEntry("q-pc1 (192.168.202.10)", 12, base::CurrentLanguage()),
         discovery::AdapterEntry("q-pc2 (192.168.203.10)", 3, base::CurrentLanguage())});
    chooser.show();
    failures += !Save(&chooser, folder, QStringLiteral("chooser.png"));
  }
  return failures;
}

const shots::Registrar nodeScreens("0_node_screens", RenderNodeScreens);

int RenderAll(const QString& folder, const test::Linesim& line) {
  base::SilentPrompt prompt;
  platform::MemoryProfileStore profile;
  shots::Context context{folder, prompt, profile, line};
  int failures = 0;
  for (const auto& [name, render] : shots::Parts()) failures += render(context);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // gui_screenshots [--lang de|en] [--check] [DIR]: the windows in German (the default) or
  // English; --check also checks every window's texts, and without DIR the pictures go to a
  // temporary folder (the language tests).
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  bool missingLang = false;
  const std::optional<std::string> lang = ui::LangOption(arguments, &missingLang);
  const std::optional<base::Language> language =
      lang ? base::ParseLanguage(*lang) : std::optional(base::Language::German);
  shots::TextChecks& checks = shots::ActiveTextChecks();
  QString folderArgument;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == QLatin1String("--check")) {
      checks.on = true;
    } else if (arguments[i] == QLatin1String("--lang")) {
      ++i;
    } else if (!arguments[i].startsWith(QLatin1String("--"))) {
      folderArgument = arguments[i];
    }
  }
  if (missingLang || !language || (folderArgument.isEmpty() && !checks.on)) {
    std::fprintf(stderr, "usage: gui_screenshots [--lang de|en] [--check] [DIR]\n");
    return 2;
  }
  checks.english = *language == base::Language::English;
  if (checks.english) {
    checks.germanSources =
        shots::GermanSourceTexts(QString::fromStdString(test::SourceFile("translations")));
  }
  QTemporaryDir temporary(QString::fromStdString(fixtures::TestRunFolder() + "shots-XXXXXX"));
  const QString folder =
      folderArgument.isEmpty() ? temporary.path() : QDir().absoluteFilePath(folderArgument);
  QDir().mkpath(folder);

  const std::string reason = test::LabUnavailableReason();
  if (!reason.empty()) {
    std::fprintf(stderr, "gui_screenshots needs a lab: %s\n", reason.c_str());
    return checks.on ? 77 : 1;  // as a test: skipped where no lab can be made
  }
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  const int result = lab.RunInNamespace(
      "pc",
      [&] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        int qtArgc = 1;
        QApplication app(qtArgc, argv);
        ui::InstallTranslators(*language);

        return RenderAll(folder, line);
      },
      300000);
  return result == 0 ? 0 : 1;
}
