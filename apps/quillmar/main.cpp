// quillmar: the desktop tool. Start: one copy per user, the start line of the event log, the
// main window; end: the exit banner, the log closed and the inventory freed, also on SIGINT
// and SIGTERM.
#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "discovery/connect_inventory_link.h"
#include "discovery/mreg_app.h"
#include "discovery/ui/choose_nic_dialog.h"
#include "main_window.h"
#include "single_instance.h"
#include "ui/language_setup.h"
#include "ui/qt_profile_store.h"
#include "ui/qt_prompt.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnTerminationSignal(int signalNumber) {
  const char byte = static_cast<char>(signalNumber);
  [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM become a close of the main window on the GUI thread.
bool InstallSignalPipe() {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return false;
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  return true;
}

void CloseWindow(QWidget* window) {
  if (auto* dialog = qobject_cast<QDialog*>(window)) {
    dialog->reject();
  } else {
    window->close();
  }
}

// --help and --version answer on the terminal, before any window, display or network.
bool AnswerInformationOption(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("quillmar %s\n", QM_VERSION);
      return true;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf(
          "Quillmar: commissioning, configuration and diagnosis of Brevantrix conveyor modules\n"
          "Usage: quillmar [--help] [--version] [--lang de|en]\n\n"
          "Options:\n"
          "  -h,--help       Print this help message and exit\n"
          "  --version       Print the version and exit\n"
          "  --lang de|en    The language of the windows: German or English. Without it, the\n"
          "                  profile's Settings/Language (de or en), else the locale\n"
          "                  (LC_ALL, LC_MESSAGES, LANG): German where it starts with \"de\",\n"
          "                  else English\n\n"
          "The window finds the modules on the PC's network adapters by raw-frame broadcast,\n"
          "draws the line's order, reads and writes the modules' parameters, uploads PLC\n"
          "programs and firmware, backs up and restores lines and shows diagnostics. Only one\n"
          "copy runs per user; a second start raises the first window.\n"
          "Sending and capturing raw frames needs the capture rights: run it as root or as a\n"
          "member of the group quillmar (the package sets this up).\n"
          "The event log is written to $TMPDIR, or /tmp when that is missing or not writable.\n"
          "The same functions for scripts: quillmar-cli(1).\n");
      return true;
    }
  }
  return false;
}

// The value of --lang, checked before any window: nothing when not given, exits on a bad one.
std::optional<std::string> LangOptionOrExit(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  bool missingValue = false;
  std::optional<std::string> option = ui::LangOption(arguments, &missingValue);
  if (missingValue || (option && !base::ParseLanguage(*option))) {
    std::fprintf(stderr, "quillmar: --lang takes de or en\n");
    std::exit(2);
  }
  return option;
}

}  // namespace

int main(int argc, char** argv) {
  if (AnswerInformationOption(argc, argv)) return 0;
  const std::optional<std::string> langOption = LangOptionOrExit(argc, argv);
  QApplication qapp(argc, argv);
  // Texts formatted with printf and strftime use the C locale whatever the user's locale.
  std::setlocale(LC_NUMERIC, "C");
  std::setlocale(LC_TIME, "C");
  QApplication::setApplicationName(CMRegApp::kProductTitle);
  QApplication::setOrganizationName(CMRegApp::kRegistryKey);

  const bool hasCommandLine = qapp.arguments().size() > 1;
  SingleInstance instance(SingleInstance::DefaultSocketPath());
  if (instance.Claim(hasCommandLine) == SingleInstance::Outcome::OtherRaised) return 0;

  ui::QtProfileStore profile;
  ui::InstallTranslators(ui::ChooseStartLanguage(langOption, profile));

  ui::QtPrompt prompt;
  prompt.SetAdapterChooser(&ChooseAdapterWithDialog);
  CMRegApp app(&prompt, &profile);
  // Register connections report the modules they meet to this application's inventory.
  discovery::ScopedConnectInventory connectInventory(app);
  app.StartSequence();

  MainWindowContext context{app, prompt, profile};
  std::unique_ptr<QWidget> window = CreateMainWindow(context);
  prompt.SetParentWidget(window.get());

  QObject::connect(&instance, &SingleInstance::raiseRequested, window.get(), [&] {
    window->showNormal();
    window->raise();
    window->activateWindow();
  });
  QObject::connect(&instance, &SingleInstance::closeRequested, window.get(),
                   [&] { CloseWindow(window.get()); });

  std::unique_ptr<QSocketNotifier> signalNotifier;
  if (InstallSignalPipe()) {
    signalNotifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, window.get(), [&] {
      char byte;
      [[maybe_unused]] const ssize_t got = ::read(signalPipe[0], &byte, 1);
      CloseWindow(window.get());
    });
  }

  if (auto* dialog = qobject_cast<QDialog*>(window.get())) {
    QObject::connect(dialog, &QDialog::finished, &qapp, &QCoreApplication::quit);
  }
  window->show();
  const int result = qapp.exec();

  // Workers may be waiting on a dialog; let them go before they are joined.
  prompt.ReleaseWaiters();
  signalNotifier.reset();
  window.reset();
  app.EndSequence();
  return result;
}
