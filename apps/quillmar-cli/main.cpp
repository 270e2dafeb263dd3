// quillmar-cli: the tool's core without a window. Every command is registered by its own file
// (cli_command.h). A run writes the same start line and exit banner to the event log as the
// desktop program, also when it is ended by SIGINT, SIGTERM, SIGHUP or a closed output.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "base/language.h"
#include "cli_command.h"
#include "comm/event_log.h"
#include "platform/profile.h"
#include "terminal_prompt.h"

namespace {

// How long a command may take to wind down after SIGINT/SIGTERM before the run is ended
// without it (the banner is still written).
constexpr auto kWindDown = std::chrono::seconds(5);

struct RunState {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::atomic<int> signalNumber{0};  // the stop signal that arrived, 0 while none
};

// Waits for SIGINT/SIGTERM/SIGHUP on its own thread (the signals are blocked in every other
// thread).
void WatchSignals(sigset_t stopSignals, CMRegApp* app, base::CancelToken* cancel,
                  std::shared_ptr<RunState> state) {
  int signalNumber = 0;
  if (sigwait(&stopSignals, &signalNumber) != 0) return;
  state->signalNumber.store(signalNumber);
  cancel->Cancel();
  std::unique_lock lock(state->mutex);
  if (state->finished.wait_for(lock, kWindDown, [&] { return state->done; })) return;
  // The command did not end in time: end the run here, banner first.
  LogWarning("quillmar-cli: ended by signal %d before the command finished", signalNumber);
  app->EndSequence();
  _exit(128 + signalNumber);
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "C");

  // A closed stdout or stderr must not kill the run before its exit banner: writes then fail
  // with EPIPE, and the run ends as on SIGINT (below).
  ::signal(SIGPIPE, SIG_IGN);

  TerminalPrompt terminal;
  // The desktop program's settings file, read and written without loading Qt.
  platform::IniProfileStore profile;
  base::CancelToken cancel;
  CMRegApp app(&terminal, &profile);
  cli::ChoosingPrompt chooser(terminal, app);
  app.SetPrompt(&chooser);
  CliContext context{app, chooser, profile, false, false, cancel, chooser, stdout};

  CLI::App cli{"Quillmar command line: commissioning and diagnosis of Brevantrix conveyor modules",
               "quillmar-cli"};
  cli.add_flag("--json", context.json, "Machine-readable output (JSON) on stdout");
  cli.add_flag("-y,--yes", context.yes,
               "Answer every question with Yes or OK; choose the adapter that holds the target");
  std::string language;
  cli.add_option("--lang", language,
                 "Language of the texts shown: de or en (default: the profile's \"Language\", "
                 "else the locale: LC_ALL, LC_MESSAGES, LANG; German where it starts with \"de\")")
      ->check(CLI::IsMember({"de", "en"}));
  cli.footer(cli::HelpFooter());
  cli.require_subcommand(1);
  // --json, --yes and --lang are the program's own options: a command passes them up, so that they
  // may stand before or after it.
  cli.fallthrough();
  // Only the command the line asks for gets its options, and the parser knows the other
  // commands only when the line asks for the help that lists them: each command costs the
  // parser a sub-command of its own, and setting them all up took most of the program's start.
  // The parser's messages for a line without a known command name none of them.
  const std::vector<CliCommandInfo> commands = RegisteredCliCommands();
  const std::string asked = AskedCliCommand(commands, argc, argv);
  const bool listEveryCommand = AsksForHelp(argc, argv);
  std::map<CLI::App*, CliRun> runs;
  for (const auto& command : commands) {
    if (command.name != asked && !listEveryCommand) continue;
    CLI::App* sub = cli.add_subcommand(command.name, command.description);
    if (command.name == asked) runs[sub] = command.setup(*sub, context);
  }
  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // --help is a "parse error" that exits 0; every real one has the usage status.
    return cli.exit(error) == 0 ? cli::kExitDone : cli::kExitUsage;
  }
  // Only what is shown follows the language: the event log and --json keep their own texts.
  const std::string profileLanguage =
      profile.GetString(base::kLanguageSection, base::kLanguageKey, "");
  base::SetLanguage(base::ChooseLanguage(
      language.empty() ? std::nullopt : std::optional<std::string_view>(language),
      profileLanguage.empty() ? std::nullopt : std::optional<std::string_view>(profileLanguage)));
  terminal.SetAssumeYes(context.yes);
  chooser.SetAssumeYes(context.yes);

  CliRun run;
  for (CLI::App* sub : cli.get_subcommands()) {
    if (runs.count(sub)) run = runs[sub];
  }
  if (!run) return cli::kExitUsage;

  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  auto state = std::make_shared<RunState>();
  std::thread(WatchSignals, stopSignals, &app, &cancel, state).detach();

  app.StartSequence();
  int result = cli::kExitFailed;
  try {
    result = run();
  } catch (const std::exception& error) {
    cli::ReportFailure("", error.what());
    result = cli::kExitFailed;
  }
  // Output that could not be written (the reader closed the pipe) ends the run like a
  // signal: the banner is written, and the status says so.
  const bool outputLost = std::fflush(stdout) != 0 || std::ferror(stdout) != 0 ||
                          std::fflush(stderr) != 0 || std::ferror(stderr) != 0;
  if (outputLost) {
    LogWarning("quillmar-cli: the output was closed before the command ended");
    if (result == cli::kExitDone) result = cli::kExitSignalBase + SIGPIPE;
  }
  const int stoppedBy = state->signalNumber.load();
  if (stoppedBy != 0) LogWarning("quillmar-cli: ended by signal %d", stoppedBy);
  app.EndSequence();
  {
    std::lock_guard lock(state->mutex);
    state->done = true;
  }
  state->finished.notify_all();
  if (stoppedBy != 0 && result == cli::kExitDone) result = cli::kExitSignalBase + stoppedBy;
  return result;
}
