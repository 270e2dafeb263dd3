// quillmar-cli: the tool's core without a window. Every command is registered by its own file
// (cli_command.h). A run writes the same start line and exit banner to the event log as the
// desktop program, also when it is ended by SIGINT or SIGTERM.
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

#include "cli_command.h"
#include "comm/event_log.h"
#include "terminal_prompt.h"

#ifdef QM_HAVE_QT
#include "ui/qt_profile_store.h"
#endif

namespace {

// How long a command may take to wind down after SIGINT/SIGTERM before the run is ended
// without it (the banner is still written).
constexpr auto kWindDown = std::chrono::seconds(5);

struct RunState {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
};

// Waits for SIGINT/SIGTERM on its own thread (the signals are blocked in every other thread).
void WatchSignals(sigset_t stopSignals, CMRegApp* app, base::CancelToken* cancel,
                  std::shared_ptr<RunState> state) {
  int signalNumber = 0;
  if (sigwait(&stopSignals, &signalNumber) != 0) return;
  cancel->Cancel();
  std::unique_lock lock(state->mutex);
  if (state->finished.wait_for(lock, kWindDown, [&] { return state->done; })) return;
  // The command did not end in time: end the run here, banner first.
  app->EndSequence();
  _exit(128 + signalNumber);
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "C");

  TerminalPrompt prompt;
#ifdef QM_HAVE_QT
  ui::QtProfileStore profile;
#else
  platform::MemoryProfileStore profile;
#endif
  base::CancelToken cancel;
  CMRegApp app(&prompt, &profile);
  CliContext context{app, prompt, profile, false, false, cancel, stdout};

  CLI::App cli{"Quillmar command line: commissioning and diagnosis of Brevantrix conveyor modules",
               "quillmar-cli"};
  cli.add_flag("--json", context.json, "Machine-readable output (JSON) on stdout");
  cli.add_flag("-y,--yes", context.yes, "Answer every question with its first button");
  cli.require_subcommand(1);
  std::map<CLI::App*, CliRun> runs;
  for (const auto& command : RegisteredCliCommands()) {
    CLI::App* sub = cli.add_subcommand(command.name, command.description);
    runs[sub] = command.setup(*sub, context);
  }
  CLI11_PARSE(cli, argc, argv);
  prompt.SetAssumeYes(context.yes);

  CliRun run;
  for (CLI::App* sub : cli.get_subcommands()) {
    if (runs.count(sub)) run = runs[sub];
  }
  if (!run) return 2;

  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  auto state = std::make_shared<RunState>();
  std::thread(WatchSignals, stopSignals, &app, &cancel, state).detach();

  app.StartSequence();
  int result = 1;
  try {
    result = run();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quillmar-cli: %s\n", error.what());
    result = 1;
  }
  app.EndSequence();
  {
    std::lock_guard lock(state->mutex);
    state->done = true;
  }
  state->finished.notify_all();
  if (cancel.IsCancelled() && result == 0) result = 130;
  return result;
}
