#include "cli_support.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/format.h"
#include "cli_command.h"
#include "comm/blocking_socket.h"
#include "comm/event_log.h"
#include "discovery/connect_inventory_link.h"
#include "discovery/mreg_app.h"
#include "params/display_items.h"
#include "platform/socket_errors.h"

namespace cli {

std::string HelpFooter() {
  return "Numbers are decimal everywhere (010 is ten); a register value may also be written as "
         "0x-hex.\n"
         "TARGET is a node number 1..236 (address: the network's first three bytes and node + "
         "19, the network from --net or the profile's \"Default Net\"), an IPv4 address, or "
         "sn:SERIAL (found by a discovery).\n"
         "--json and --yes may stand before or after the command. --yes answers every question "
         "with Yes or OK (Cancel or Abort where a question has neither) and, when several "
         "adapters carry modules, takes the one whose network holds the target.\n"
         "Every change made to a module and every failure is written to the event log "
         "($TMPDIR, or /tmp when that is missing or not writable).\n"
         "Exit status: 0 done; 1 failed (no connection, no capture device, a module that did "
         "not answer or refused, a value refused by its check; what was done before is "
         "reported); 2 command line, target, number or field refused, nothing sent; 3 several "
         "adapters carry modules and none could be chosen; 128 + signal when ended by SIGHUP, "
         "SIGINT, SIGTERM or a closed output (SIGPIPE).";
}

namespace {
std::string Who(const std::string& command) {
  return command.empty() ? "quillmar-cli" : "quillmar-cli " + command;
}
}  // namespace

void ReportFailure(const std::string& command, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", Who(command).c_str(), text.c_str());
  LogError("%s: %s", Who(command).c_str(), text.c_str());
}

void LogChange(const std::string& command, const std::string& text) {
  LogInfo("%s: %s", Who(command).c_str(), text.c_str());
}

namespace {

// "192.168.202.0" of the --net text or the profile's "Default Net".
std::optional<params::Ipv4Bytes> NetworkBytes(CliContext& context, const std::string& command,
                                              const std::string& network) {
  const std::string text =
      network.empty()
          ? context.profile.GetString("Settings", params::kDefaultNetKey, params::kDefaultNet)
          : network;
  std::string refusal;
  const auto bytes = params::ParseDottedAddress(text, &refusal);
  if (!bytes) ReportFailure(command, "the network " + refusal + "; nothing was sent");
  return bytes;
}

bool NetworkHolds(const platform::Ipv4Entry& entry, uint32_t addressNetworkOrder) {
  return entry.mask != 0 && entry.address != 0 &&
         (entry.address & entry.mask) == (addressNetworkOrder & entry.mask);
}

}  // namespace

ResolvedTarget ResolveTarget(CliContext& context, const std::string& command,
                             const std::string& text, const std::string& network) {
  ResolvedTarget resolved;
  const params::ModuleTarget target = params::ParseTarget(text);
  if (target.Refused()) {
    ReportFailure(command, target.refusal + "; nothing was sent");
    resolved.exitCode = kExitUsage;
    return resolved;
  }
  switch (target.kind) {
    case params::ModuleTarget::Kind::Node: {
      const auto net = NetworkBytes(context, command, network);
      if (!net) {
        resolved.exitCode = kExitUsage;
        return resolved;
      }
      const params::Ipv4Bytes address = params::NodeAddress(*net, target.node);
      resolved.address = params::AddressText(address);
      resolved.node = std::to_string(target.node);
      context.chooser.SetTargetAddress(address);
      return resolved;
    }
    case params::ModuleTarget::Kind::Address:
      resolved.address = params::AddressText(target.address);
      resolved.node = resolved.address;
      context.chooser.SetTargetAddress(target.address);
      return resolved;
    case params::ModuleTarget::Kind::Serial:
      break;
  }
  // A serial number: a discovery over every adapter finds its module.
  context.chooser.SetTargetSerial(target.serial);
  context.app.discoverDone = 0;
  if (context.app.Discover(true, nullptr) != 1) {
    ReportFailure(command, "no capture device could be opened to find the serial number");
    resolved.exitCode = kExitFailed;
    return resolved;
  }
  if (context.chooser.ChoiceRefused()) {
    ReportFailure(
        command,
        "several adapters carry modules and none could be chosen; the command was not carried out");
    resolved.exitCode = kExitChooseAdapter;
    return resolved;
  }
  for (const AdapterPtr& adapter : context.app.AdaptersSnapshot()) {
    std::lock_guard guard(adapter->lock);
    for (const auto& node : adapter->nodes) {
      if (node->serialNumber != target.serial) continue;
      resolved.address = node->ipText;
      resolved.node = node->ipText;
      uint32_t value = node->ipAddress;
      params::Ipv4Bytes bytes{};
      std::memcpy(bytes.data(), &value, 4);
      context.chooser.SetTargetAddress(bytes);
      return resolved;
    }
  }
  ReportFailure(command, base::Format("no module with the serial number %u answered the discovery",
                                      target.serial));
  resolved.exitCode = kExitFailed;
  return resolved;
}

int SocketErrorOf(const CBlockingSocketException& error) {
  const int number = error.Number();
  if (number > 1 && number != 16) return number;
  const std::string& text = error.Text();
  const size_t hash = text.find("(#");
  if (hash != std::string::npos) {
    const int parsed = std::atoi(text.c_str() + hash + 2);
    if (parsed > 0) return parsed;
  }
  if (text.find("timeout") != std::string::npos || text.find("TimeOut") != std::string::npos) {
    return platform::kWsaEtimedout;
  }
  if (text.find("was broken") != std::string::npos) return platform::kWsaEnotconn;
  return 0;
}

std::string DescribeSocketFailure(const CBlockingSocketException& error) {
  std::string message = error.GetErrorMessage();
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  const int number = SocketErrorOf(error);
  const char* words = platform::SocketErrorWords(number);
  if (number == 0 || *words == '\0') return message;
  return message + base::Format(" (%s, error %d)", words, number);
}

int ModbusExceptionOf(const CBlockingSocketException& error) {
  if (error.Number() != 1) return 0;
  const std::string& text = error.Text();
  const size_t at = text.find("errCode:#0x");
  if (at == std::string::npos) return 0;
  return static_cast<int>(std::strtol(text.c_str() + at + 11, nullptr, 16));
}

std::string ModbusExceptionWords(int code) {
  switch (code) {
    case 1:
      return "the module does not support this request (exception 1)";
    case 2:
      return "the module has no such register (exception 2)";
    case 3:
      return "the module refused the value (exception 3)";
    case 4:
      return "the module failed to carry out the request (exception 4)";
    default:
      return base::Format("the module refused the request (exception %d)", code);
  }
}

// ---- the adapter chooser's rule ----------------------------------------------------------

ChoosingPrompt::ChoosingPrompt(base::Prompt& terminal, CMRegApp& app)
    : terminal_(terminal), app_(app) {}

base::PromptAnswer ChoosingPrompt::Ask(const std::string& text, const std::string& caption,
                                       base::PromptButtons buttons, base::PromptIcon icon) {
  return terminal_.Ask(text, caption, buttons, icon);
}

void ChoosingPrompt::Beep() {
  terminal_.Beep();
}

int ChoosingPrompt::ChooseAdapter(const std::vector<std::string>& entries) {
  shown_ = true;
  // The adapters as listed (their listIndex is the entry's line) that hold the target.
  std::vector<int> holding;
  std::vector<std::string> names;
  for (const AdapterPtr& adapter : app_.AdaptersSnapshot()) {
    if (adapter->listIndex < 0) continue;
    std::lock_guard guard(adapter->lock);
    bool holds = false;
    if (address_) {
      uint32_t value = 0;
      std::memcpy(&value, address_->data(), 4);
      for (const platform::Ipv4Entry& entry : adapter->info.addresses) {
        holds = holds || NetworkHolds(entry, value);
      }
      if (adapter->info.addresses.empty()) {
        holds = NetworkHolds({adapter->info.ipAddress, adapter->info.mask}, value);
      }
    }
    if (serial_) {
      for (const auto& node : adapter->nodes) holds = holds || node->serialNumber == *serial_;
    }
    if (holds) {
      holding.push_back(adapter->listIndex);
      names.push_back(adapter->name);
    }
  }
  int chosen = -1;
  if (holding.size() == 1 || (yes_ && !holding.empty())) {
    chosen = holding.front();
    std::fprintf(stderr, "quillmar-cli: several adapters carry modules; %s holds the target: %s\n",
                 names.front().c_str(),
                 static_cast<size_t>(chosen) < entries.size() ? entries[chosen].c_str() : "");
    LogInfo("quillmar-cli: adapter chosen for the target: %s",
            static_cast<size_t>(chosen) < entries.size() ? entries[chosen].c_str() : "");
  } else if (yes_) {
    std::fprintf(stderr, "quillmar-cli: several adapters carry modules:\n");
    for (const std::string& entry : entries) std::fprintf(stderr, "  %s\n", entry.c_str());
    std::fprintf(stderr, "%s\n",
                 address_ || serial_ ? "quillmar-cli: none of them holds the target"
                                     : "quillmar-cli: --yes chooses by the target, and there is "
                                       "none");
  } else {
    chosen = terminal_.ChooseAdapter(entries);
  }
  if (chosen < 0 || static_cast<size_t>(chosen) >= entries.size()) {
    refused_ = true;
    LogError("quillmar-cli: no adapter was chosen among %zu adapters with modules", entries.size());
    return -1;
  }
  return chosen;
}

int SelectNamedAdapter(CliContext& context, const std::string& command, const std::string& name) {
  if (name.empty()) return kExitDone;
  CMRegApp& app = context.app;
  const platform::CaptureDeviceList devices = app.captureDriver().ListDevices();
  bool known = false;
  for (const auto& device : devices.devices) known = known || device.name == name;
  if (devices.ok && !known) {
    std::string names;
    for (const auto& device : devices.devices) names += " " + device.name;
    ReportFailure(command,
                  base::Format("no adapter \"%s\"; adapters:%s", name.c_str(), names.c_str()));
    return kExitUsage;
  }
  app.SetSelectedAdapter(name);
  return kExitDone;
}

TerminalProgress::TerminalProgress(base::CancelToken& cancel) : cancel_(cancel) {
  shown_ = isatty(STDERR_FILENO) == 1;
}

void TerminalProgress::SetRange(int total) {
  std::lock_guard guard(mutex_);
  total_ = total > 0 ? total : 1;
  remaining_.Restart();
}

void TerminalProgress::SetPosition(int done) {
  if (cancel_.IsCancelled()) Cancel().Cancel();
  std::lock_guard guard(mutex_);
  position_ = done;
  Draw();
}

void TerminalProgress::SetText(const std::string& text) {
  if (cancel_.IsCancelled()) Cancel().Cancel();
  std::lock_guard guard(mutex_);
  text_ = text;
  Draw();
}

void TerminalProgress::Finish() {
  std::lock_guard guard(mutex_);
  if (shown_ && drawn_) std::fprintf(stderr, "\n");
  drawn_ = false;
}

void TerminalProgress::Draw() {
  if (!shown_) return;
  const int width = 30;
  const int position = std::clamp(position_, 0, total_);
  const int filled = position * width / total_;
  const std::optional<uint32_t> left = remaining_.SecondsLeft(position, total_);
  const std::string leftText = left ? " " + base::RemainingTime::Text(*left) + " left" : "";
  std::fprintf(stderr, "\r[%s%s] %3d%%%s %.60s\033[K", std::string(filled, '#').c_str(),
               std::string(width - filled, ' ').c_str(), position * 100 / total_, leftText.c_str(),
               text_.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void PrintSummary(std::FILE* out, const std::vector<ModuleOutcome>& modules) {
  if (modules.empty()) return;
  size_t width = 6;
  for (const ModuleOutcome& m : modules) width = std::max(width, m.module.size());
  size_t failed = 0;
  std::fprintf(out, "%-*s  %-6s  %8s  %s\n", static_cast<int>(width), "module", "result", "time",
               "");
  for (const ModuleOutcome& m : modules) {
    failed += m.ok ? 0 : 1;
    std::fprintf(out, "%-*s  %-6s  %6u.%01us  %s\n", static_cast<int>(width), m.module.c_str(),
                 m.ok ? "ok" : "FAILED", m.ms / 1000, m.ms % 1000 / 100, m.result.c_str());
  }
  std::fprintf(out, "%zu of %zu modules done%s\n", modules.size() - failed, modules.size(),
               failed ? base::Format(", %zu failed", failed).c_str() : "");
}

nlohmann::json SummaryJson(const std::vector<ModuleOutcome>& modules) {
  nlohmann::json rows = nlohmann::json::array();
  for (const ModuleOutcome& m : modules)
    rows.push_back({{"module", m.module}, {"ok", m.ok}, {"result", m.result}, {"ms", m.ms}});
  return rows;
}

std::shared_ptr<TargetArguments> AddTargetArgument(CLI::App& sub) {
  auto arguments = std::make_shared<TargetArguments>();
  sub.add_option("target", arguments->target,
                 "Node number (1..236, decimal), the module's IPv4 address, or sn:SERIAL")
      ->required();
  return arguments;
}

void AddNetOption(CLI::App& sub, TargetArguments& arguments) {
  sub.add_option("--net", arguments.network,
                 "Network of node numbers (default: the profile's \"Default Net\")");
}

int RunOnTarget(CliContext& context, const std::string& command, const TargetArguments& arguments,
                const std::function<int(const ResolvedTarget&)>& run) {
  discovery::ScopedConnectInventory inventoryLink(context.app);
  const ResolvedTarget target =
      ResolveTarget(context, command, arguments.target, arguments.network);
  if (target.exitCode != kExitDone) return target.exitCode;
  return run(target);
}

int PrepareInventory(CliContext& context, const std::string& command, const std::string& notDone) {
  if (context.app.discoverDone.load() == 0 || context.app.SelectedAdapterName().empty()) {
    context.app.discoverDone = 0;
    if (context.app.Discover(true, nullptr) != 1) {
      ReportFailure(command, "no capture device could be opened");
      return kExitFailed;
    }
  }
  if (context.chooser.ChoiceRefused()) {
    ReportFailure(command, "several adapters carry modules and none could be chosen; " + notDone);
    return kExitChooseAdapter;
  }
  return kExitDone;
}

}  // namespace cli
