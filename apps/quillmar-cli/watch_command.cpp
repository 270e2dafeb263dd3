// quillmar-cli watch --record FILE [--backup FILE] [--interval S] [--events FILE] [--adapter
// NAME]: the line watch. Every interval a discovery of the adapter (and, every few rounds or
// when the discovery shows a change, the topology procedure) held against the as-built record
// of topology --save and, when given, the backup file. One line per event on stdout (--json:
// one JSON object per line); --events FILE appends the JSON lines to FILE as well. On a
// terminal a status line on stderr shows the modules present and the last round.
//
// A module replaced by a factory-fresh one is restored from the backup record of the module it
// replaces only after a Yes: --yes, or the answer typed on a terminal. Off a terminal without
// --yes the restore is declined (nothing is written).
//
// Exit status: 130 (or 143, 129) when ended by SIGINT (SIGTERM, SIGHUP), the program's table
// otherwise: 1 the record or the backup file cannot be read, or --events cannot be opened;
// 2 unknown adapter or a refused number.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "base/format.h"
#include "cli_command.h"
#include "watch/line_watch.h"

namespace {

constexpr const char* kWatchCommandName = "watch";

struct WatchArguments {
  std::string adapter;
  std::string record;
  std::string backup;
  std::string events;
  double intervalSeconds = 10;
};

// What the watch's worker hands to the command's thread.
struct Inbox {
  std::mutex lock;
  std::condition_variable wake;
  std::deque<watch::WatchEvent> events;
  std::optional<watch::LineSnapshot> snapshot;
};

std::string StatusLine(const watch::LineSnapshot& snapshot) {
  std::string last = "none yet";
  if (snapshot.lastRound) {
    const std::time_t seconds = watch::Clock::to_time_t(*snapshot.lastRound);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    last = text;
  }
  return base::Format("modules %zu/%zu present, %zu not recorded, round %llu at %s%s",
                      snapshot.present, snapshot.expected, snapshot.unrecorded.size(),
                      static_cast<unsigned long long>(snapshot.round), last.c_str(),
                      snapshot.lastRoundFailed ? " (failed)" : "");
}

int RunWatch(CliContext& context, const WatchArguments& arguments) {
  if (!(arguments.intervalSeconds >= 0.2 && arguments.intervalSeconds <= 86400)) {
    cli::ReportFailure(kWatchCommandName, "--interval is 0.2 to 86400 seconds");
    return cli::kExitUsage;
  }
  watch::WatchOptions options;
  options.adapter = arguments.adapter;
  options.recordPath = arguments.record;
  options.backupPath = arguments.backup;
  options.interval =
      std::chrono::milliseconds(static_cast<long long>(arguments.intervalSeconds * 1000.0 + 0.5));

  // The files first: nothing is asked of the line with a record that cannot be used.
  watch::LineWatch lineWatch(context.app, options);
  std::string error;
  if (!lineWatch.Load(&error)) {
    cli::ReportFailure(kWatchCommandName, error);
    return cli::kExitFailed;
  }
  std::FILE* eventsFile = nullptr;
  if (!arguments.events.empty()) {
    eventsFile = std::fopen(arguments.events.c_str(), "ae");
    if (eventsFile == nullptr) {
      cli::ReportFailure(
          kWatchCommandName,
          base::Format("cannot open \"%s\": %s", arguments.events.c_str(), std::strerror(errno)));
      return cli::kExitFailed;
    }
  }
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> closeEvents(
      eventsFile, [](std::FILE* f) { return f != nullptr ? std::fclose(f) : 0; });
  if (const int refused = cli::SelectNamedAdapter(context, kWatchCommandName, arguments.adapter);
      refused != cli::kExitDone) {
    return refused;
  }

  auto inbox = std::make_shared<Inbox>();
  lineWatch.OnEvent([inbox](const watch::WatchEvent& event) {
    std::lock_guard<std::mutex> hold(inbox->lock);
    inbox->events.push_back(event);
    inbox->wake.notify_all();
  });
  lineWatch.OnSnapshot([inbox](const watch::LineSnapshot& snapshot) {
    std::lock_guard<std::mutex> hold(inbox->lock);
    inbox->snapshot = snapshot;
    inbox->wake.notify_all();
  });
  const bool terminal = ::isatty(STDERR_FILENO) != 0;
  const bool canAsk = ::isatty(STDIN_FILENO) != 0 && terminal;
  if (!lineWatch.Start()) {
    cli::ReportFailure(kWatchCommandName, "the watch could not be started");
    return cli::kExitFailed;
  }
  cli::LogChange(kWatchCommandName,
                 base::Format("watching the line of \"%s\" every %.1f s", arguments.record.c_str(),
                              arguments.intervalSeconds));
  bool statusShown = false;
  while (!context.cancel.IsCancelled()) {
    std::deque<watch::WatchEvent> events;
    std::optional<watch::LineSnapshot> snapshot;
    {
      std::unique_lock<std::mutex> hold(inbox->lock);
      inbox->wake.wait_for(hold, std::chrono::milliseconds(200),
                           [&] { return !inbox->events.empty() || inbox->snapshot.has_value(); });
      events.swap(inbox->events);
      snapshot.swap(inbox->snapshot);
    }
    if (statusShown && (!events.empty() || snapshot)) {
      std::fprintf(stderr, "\r\033[K");
      statusShown = false;
    }
    for (const watch::WatchEvent& event : events) {
      const std::string json = watch::EventJson(event);
      std::fprintf(context.out, "%s\n",
                   context.json ? json.c_str() : watch::EventText(event).c_str());
      std::fflush(context.out);
      if (eventsFile != nullptr) {
        std::fprintf(eventsFile, "%s\n", json.c_str());
        std::fflush(eventsFile);
      }
      if (event.kind != watch::EventKind::Replaced) continue;
      const std::vector<uint32_t> pending = lineWatch.PendingRestores();
      if (std::find(pending.begin(), pending.end(), event.serial) == pending.end()) continue;
      // Never a restore by default: --yes, or a Yes typed on the terminal.
      bool restore = context.yes;
      if (!restore && canAsk) {
        const std::string question = base::Format(
            "SN %u replaces SN %u. Restore the backup record of SN %u onto SN %u (address, "
            "registers, flash, PLC program)?",
            event.serial, event.replacedSerial, event.replacedSerial, event.serial);
        restore = context.prompt.Ask(question, "Quillmar", base::PromptButtons::YesNo,
                                     base::PromptIcon::Question) == base::PromptAnswer::Yes;
      }
      if (restore) {
        lineWatch.ConfirmRestore(event.serial);
      } else {
        if (!canAsk && !context.yes)
          std::fprintf(stderr, "quillmar-cli watch: not restored without --yes off a terminal\n");
        lineWatch.DeclineRestore(event.serial);
      }
    }
    if (terminal && snapshot) {
      std::fprintf(stderr, "%s", StatusLine(*snapshot).c_str());
      std::fflush(stderr);
      statusShown = true;
    }
  }
  // The program ends next: the worker's last network step is waited for.
  lineWatch.StopAndWait();
  if (statusShown) std::fprintf(stderr, "\n");
  // Events of the last round before the stop are still written.
  std::lock_guard<std::mutex> hold(inbox->lock);
  for (const watch::WatchEvent& event : inbox->events) {
    const std::string json = watch::EventJson(event);
    std::fprintf(context.out, "%s\n",
                 context.json ? json.c_str() : watch::EventText(event).c_str());
    if (eventsFile != nullptr) std::fprintf(eventsFile, "%s\n", json.c_str());
  }
  return cli::kExitDone;
}

}  // namespace

static CliCommandRegistrar watchCommand(
    "watch",
    "Watch the line against its as-built record (and backup): modules gone, back, moved, "
    "replaced",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto arguments = std::make_shared<WatchArguments>();
      sub.add_option("--record", arguments->record,
                     "The as-built record written by topology --save")
          ->required();
      sub.add_option("--backup", arguments->backup,
                     "The line's backup file: a replaced module is restored from it (after a "
                     "confirmation)");
      sub.add_option("--interval", arguments->intervalSeconds,
                     "Seconds from one round to the next (default 10)");
      sub.add_option("--events", arguments->events, "Append every event as a JSON line to FILE");
      sub.add_option("--adapter", arguments->adapter, "Only this adapter (its interface name)");
      sub.footer(
          "Runs until SIGINT, SIGTERM or SIGHUP. A restore needs --yes or a Yes typed on a "
          "terminal; off a terminal without --yes nothing is written to any module.\nExit "
          "status: 130/143/129 ended by SIGINT/SIGTERM/SIGHUP, 1 the record or backup cannot be "
          "read or --events cannot be opened, 2 unknown adapter or --interval out of range.");
      return [&context, arguments] { return RunWatch(context, *arguments); };
    });
