// quillmar-cli upgrade FILE [TARGETS...|--all] [--plc]: firmware (or a PLC program) onto
// modules, one upload thread per module, with the upgrade dialog's version tests, intermediate
// image, reset request and verification. Output lines as the dialog shows them, a progress bar
// on a terminal (stderr), then a table per module: module, result, time.
//
// The intermediate images come from the data folder (--data-dir, else $QUILLMAR_FIRMWARE_DIR,
// else share/quillmar/firmware next to the program).
//
// Exit status: 0 every module that was not skipped reports the file's version; 1 a module
// failed, the run was refused (the refusal is printed) or aborted; 2 the arguments or a target
// were refused (nothing was sent).
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/format.h"
#include "base/remaining_time.h"
#include "cli_command.h"
#include "comm/event_log.h"
#include "config/firmware_upgrade.h"
#include "discovery/connect_inventory_link.h"
#include "discovery/inventory.h"
#include "platform/tick.h"

namespace {

using nlohmann::json;

struct UpgradeArguments {
  std::string file;
  std::vector<std::string> targets;
  bool all = false;
  bool plc = false;
  std::string network;
  std::string dataFolder;
  uint32_t resetWaitMs = 6000;
  uint32_t restartWaitMs = 15000;
};

// Lines on stdout (unless --json), a bar over all bytes on stderr when it is a terminal.
class CliUpgradeListener : public config::UpgradeListener {
 public:
  CliUpgradeListener(std::FILE* out, bool printLines)
      : out_(out), printLines_(printLines), bar_(isatty(STDERR_FILENO) == 1) {}
  ~CliUpgradeListener() override { ClearBar(); }

  void Line(int listIndex, const std::string& text) override {
    std::lock_guard guard(mutex_);
    lines_.push_back({{"module", listIndex}, {"text", text}});
    LogInfo("quillmar-cli upgrade: %s", text.c_str());
    if (!printLines_) return;
    ClearBarLocked();
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
    DrawLocked();
  }
  void Progress(int listIndex, uint32_t done, uint32_t size) override {
    std::lock_guard guard(mutex_);
    progress_[listIndex] = {done, size};
    const uint32_t now = platform::GetTickCount();
    if (platform::TicksSince(lastDraw_, now) < 100) return;
    lastDraw_ = now;
    DrawLocked();
  }
  void Stage(const std::string& text) override {
    std::lock_guard guard(mutex_);
    stage_ = text;
    if (text == "upload" || text == "second run") {
      progress_.clear();
      remaining_.Restart();
    }
    DrawLocked();
  }
  json Lines() const {
    std::lock_guard guard(mutex_);
    return lines_;
  }
  void ClearBar() {
    std::lock_guard guard(mutex_);
    ClearBarLocked();
  }

 private:
  void ClearBarLocked() {
    if (bar_ && drawn_) std::fprintf(stderr, "\r\033[K");
    drawn_ = false;
  }
  void DrawLocked() {
    if (!bar_) return;
    uint64_t done = 0, total = 0;
    for (const auto& [index, figures] : progress_) {
      done += figures.first;
      total += figures.second;
    }
    const int width = 30;
    const int percent = total ? static_cast<int>(done * 100 / total) : 0;
    const int filled = std::clamp(percent * width / 100, 0, width);
    // Per mille, so that the estimate fits an int whatever the line's total.
    const int permille = total ? static_cast<int>(done * 1000 / total) : 0;
    const std::optional<uint32_t> left = remaining_.SecondsLeft(permille, 1000);
    const std::string leftText = left ? " " + base::RemainingTime::Text(*left) + " left" : "";
    std::fprintf(stderr, "\r[%s%s] %3d%%%s %s\033[K", std::string(filled, '#').c_str(),
                 std::string(width - filled, ' ').c_str(), percent, leftText.c_str(),
                 stage_.c_str());
    std::fflush(stderr);
    drawn_ = true;
  }

  std::FILE* out_;
  bool printLines_;
  bool bar_;
  bool drawn_ = false;
  uint32_t lastDraw_ = 0;
  std::string stage_;
  base::RemainingTime remaining_;
  std::map<int, std::pair<uint32_t, uint32_t>> progress_;
  mutable std::mutex mutex_;
  json lines_ = json::array();
};

int RunUpgrade(CliContext& context, const UpgradeArguments& arguments) {
  discovery::ScopedConnectInventory inventoryLink(context.app);
  if (arguments.all == !arguments.targets.empty()) {
    cli::ReportFailure("upgrade", "give either TARGETS or --all; nothing was sent");
    return cli::kExitUsage;
  }
  // The file first: a refused file sends nothing at all.
  const config::FirmwareFileCheck check = config::CheckFirmwareFile(arguments.file, arguments.plc);
  if (!check.ok) {
    cli::ReportFailure("upgrade", check.title + ": " + check.message);
    return cli::kExitUsage;
  }
  std::vector<std::string> addresses;
  std::set<std::string> seen;
  for (const std::string& text : arguments.targets) {
    const cli::ResolvedTarget target =
        cli::ResolveTarget(context, "upgrade", text, arguments.network);
    if (target.exitCode != cli::kExitDone) return target.exitCode;
    if (seen.insert(target.address).second) addresses.push_back(target.address);
  }
  if (arguments.all) context.app.discoverDone = 0;
  if (const int prepared = cli::PrepareInventory(context, "upgrade", "nothing was uploaded");
      prepared != cli::kExitDone)
    return prepared;
  if (arguments.all) {
    if (const AdapterPtr adapter = context.app.SelectedAdapter()) {
      std::lock_guard guard(adapter->lock);
      for (const auto& node : adapter->nodes) {
        if (seen.insert(node->ipText).second) addresses.push_back(node->ipText);
      }
    }
    if (addresses.empty()) {
      cli::ReportFailure("upgrade", "no module was found");
      return cli::kExitFailed;
    }
  }
  config::UpgradeOptions options;
  options.plcMode = arguments.plc;
  options.dataFolder = arguments.dataFolder;
  options.resetWaitMs = arguments.resetWaitMs;
  options.restartWaitMs = arguments.restartWaitMs;
  CliUpgradeListener listener(context.out, !context.json);
  config::FirmwareUploader uploader(context.app, listener, options);
  std::atomic<bool> finished{false};
  std::thread watcher([&] {
    while (!finished.load()) {
      if (context.cancel.IsCancelled()) {
        uploader.Abort();
        return;
      }
      platform::SleepMs(20);
    }
  });
  const config::UpgradeOutcome outcome = uploader.Run(arguments.file, addresses);
  finished.store(true);
  watcher.join();
  listener.ClearBar();

  bool failed = !outcome.started || outcome.aborted;
  for (const auto& m : outcome.modules) failed |= m.result != "Done" && m.result != "SKIPPED";
  if (context.json) {
    json modules = json::array();
    for (const auto& m : outcome.modules) {
      modules.push_back(
          {{"module", m.ip}, {"result", m.result}, {"detail", m.detail}, {"ms", m.ms}});
    }
    json out = {{"ok", !failed},
                {"file", check.fileName},
                {"version", base::Format("%d.%02d", check.version.major, check.version.minor)},
                {"started", outcome.started},
                {"aborted", outcome.aborted},
                {"modules", modules},
                {"lines", listener.Lines()}};
    if (!outcome.abortText.empty()) out["refused"] = outcome.abortText;
    std::fprintf(context.out, "%s\n", out.dump().c_str());
  } else if (outcome.started) {
    std::vector<cli::ModuleOutcome> rows;
    for (const auto& m : outcome.modules) {
      rows.push_back({m.ip, m.result == "Done" || m.result == "SKIPPED",
                      m.detail.empty() ? m.result : m.result + ": " + m.detail,
                      static_cast<uint32_t>(m.ms)});
    }
    std::fprintf(context.out, "\n");
    cli::PrintSummary(context.out, rows);
  }
  if (!outcome.abortText.empty()) {
    std::string text = outcome.abortText;
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, "\n  ");
    cli::ReportFailure("upgrade", text);
  } else if (outcome.aborted) {
    cli::ReportFailure("upgrade", "aborted");
  } else if (failed) {
    cli::ReportFailure("upgrade", "not every module was upgraded (see the table)");
  }
  return failed ? cli::kExitFailed : cli::kExitDone;
}

const CliCommandRegistrar kUpgradeCommand(
    "upgrade",
    "Firmware or a PLC program onto modules, with version tests, reset and verification "
    "(UPGRADE FILE TARGETS... | FILE --all)",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto arguments = std::make_shared<UpgradeArguments>();
      sub.add_option("file", arguments->file, "Firmware file (.bin) or, with --plc, PLC program")
          ->required();
      sub.add_option("targets", arguments->targets,
                     "Node numbers, IPv4 addresses or sn:SERIAL of the modules");
      sub.add_flag("--all", arguments->all, "Every module a discovery finds");
      sub.add_flag("--plc", arguments->plc, "The file is a PLC program (PLCDATA*.bin)");
      sub.add_option("--net", arguments->network,
                     "Network of node numbers (default: the profile's \"Default Net\")");
      sub.add_option("--data-dir", arguments->dataFolder,
                     "Folder of the intermediate images (default: $QUILLMAR_FIRMWARE_DIR or "
                     "share/quillmar/firmware next to the program)");
      sub.add_option("--reset-wait-ms", arguments->resetWaitMs,
                     "Wait after the uploads before the reset request (default 6000)")
          ->check(CLI::Range(0u, 600000u));
      sub.add_option("--restart-wait-ms", arguments->restartWaitMs,
                     "Wait after the reset request before the verification (default 15000)")
          ->check(CLI::Range(0u, 600000u));
      return [&context, arguments] { return RunUpgrade(context, *arguments); };
    });

}  // namespace
