// quillmar-cli autoconfig FIRST [LAST], replace NODE, factory-reset NODE and
// set-ip NODE --ip A [--mask M] [--gateway G] [--autoconfig]: the topology window's commands on
// its modules, with the window's checks, questions and texts. The line is discovered and drawn
// first (the checks look at the drawing: the line's ends, directions, neighbours); a question
// is asked on a terminal and needs --yes otherwise. After a sent command the line is drawn
// again, as the window redraws it.
//
// NODE is a serial number ("3100101" or "sn:3100101") or an IPv4 address.
//
// Exit status: 0 the command was sent and the modules' time has passed (set-ip: the module took
// the new settings); 1 a check refused it, a question was declined, the module did not answer
// or did not acknowledge, or it could not be sent; 2 a NODE or address that is none, or an
// unknown adapter; 3 several adapters carry modules and none was chosen.
#include <unistd.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "base/format.h"
#include "cli_command.h"
#include "discovery/topology_walk.h"
#include "line_drawing.h"
#include "params/target.h"
#include "topology/node_command.h"
#include "topology/set_address.h"

namespace {

using nlohmann::json;

struct NodeKey {
  std::optional<uint32_t> serial;
  params::Ipv4Bytes address{};
};

// A serial number (plain decimal or "sn:N") or a dotted address; nullopt (reported) otherwise.
std::optional<NodeKey> ParseNodeKey(const std::string& command, const std::string& text) {
  std::string digits = text.rfind("sn:", 0) == 0 ? text.substr(3) : text;
  if (!digits.empty() && digits.size() <= 10 &&
      digits.find_first_not_of("0123456789") == std::string::npos) {
    const unsigned long long value = std::stoull(digits);
    if (value > 0 && value <= 0xFFFFFFFFull) return NodeKey{static_cast<uint32_t>(value), {}};
  }
  std::string refusal;
  if (const auto address = params::ParseDottedAddress(text, &refusal)) {
    return NodeKey{std::nullopt, *address};
  }
  cli::ReportFailure(command, base::Format("\"%s\" is neither a serial number (1..4294967295, "
                                           "also as sn:N) nor an IPv4 address; nothing was sent",
                                           text.c_str()));
  return std::nullopt;
}

NodePtr FindNode(CNAdapter& adapter, const NodeKey& key) {
  std::lock_guard guard(adapter.lock);
  for (const NodePtr& node : adapter.nodes) {
    if (key.serial) {
      if (node->serialNumber == *key.serial) return node;
    } else {
      uint32_t value = 0;
      std::memcpy(&value, key.address.data(), 4);
      if (node->ipAddress == value) return node;
    }
  }
  return nullptr;
}

std::string KeyText(const NodeKey& key) {
  return key.serial ? base::Format("serial number %u", *key.serial)
                    : "address " + params::AddressText(key.address);
}

// The window's part of the procedure: the direction test on the network, the redraw request.
class CliWindow : public topology::NodeCommandWindow, public discovery::TopologyViewLink {
 public:
  CliWindow(CMRegApp& app, topology::DeviceArray& view, base::CancelToken& cancel)
      : app_(app), view_(view), cancel_(cancel) {}

  bool redrawRequested = false;

  void RequestRedraw() override { redrawRequested = true; }
  int DetermineDirection(const NodePtr& node) override {
    return discovery::_determineNode_Direction(app_, *this, node);
  }

  std::mutex& TempNodesLock() override { return tempLock_; }
  NodeList& TempNodes() override { return temp_; }
  void CountPcSwitchNode() override {}
  bool Closing() const override { return cancel_.IsCancelled(); }
  std::optional<uint16_t> DeviceColumn(uint32_t serial) override {
    const int index = view_.FindDeviceBySerial(serial);
    if (index < 0) return std::nullopt;
    return view_.devices[static_cast<size_t>(index)].column;
  }

 private:
  CMRegApp& app_;
  topology::DeviceArray& view_;
  base::CancelToken& cancel_;
  std::mutex tempLock_;
  NodeList temp_;
};

// The wait texts on stderr, the countdown of remaining seconds on a terminal; a signal ends
// the wait early.
class CountdownProgress : public base::Progress {
 public:
  explicit CountdownProgress(base::CancelToken& cancel)
      : cancel_(cancel), terminal_(::isatty(STDERR_FILENO) == 1) {}
  ~CountdownProgress() override {
    if (drawn_) std::fprintf(stderr, "\n");
  }
  void SetText(const std::string& text) override {
    if (drawn_) std::fprintf(stderr, "\n");
    drawn_ = false;
    std::string shown = text;
    for (size_t at = shown.find("\r\n"); at != std::string::npos; at = shown.find("\r\n", at))
      shown.erase(at, 1);
    std::fprintf(stderr, "%s\n", shown.c_str());
  }
  void SetPosition(int remaining) override {
    if (cancel_.IsCancelled()) Cancel().Cancel();
    if (!terminal_) return;
    std::fprintf(stderr, "\r%d s\033[K", remaining);
    std::fflush(stderr);
    drawn_ = true;
  }

 private:
  base::CancelToken& cancel_;
  bool terminal_;
  bool drawn_ = false;
};

// The line as the command found it: the adapter and the drawing's device array.
struct Line {
  AdapterPtr adapter;
  topology::DeviceArray view;
  size_t listed = 0;
};

int PrepareLine(CliContext& context, const std::string& command, const std::string& adapterName,
                const NodeKey& key, Line* line) {
  if (key.serial) {
    context.chooser.SetTargetSerial(*key.serial);
  } else {
    context.chooser.SetTargetAddress(key.address);
  }
  if (const int failed = cli::DiscoverLine(context, command, adapterName, &line->adapter);
      failed != cli::kExitDone) {
    return failed;
  }
  cli::LineDrawing drawing;
  cli::DrawLine(*line->adapter, drawing, &line->view);
  if (!drawing.duplicates.empty()) {
    // The window draws nothing then, so none of its commands can be reached.
    cli::ReportFailure(command, drawing.duplicates);
    return cli::kExitFailed;
  }
  std::lock_guard guard(line->adapter->lock);
  line->listed = line->adapter->nodes.size();
  return cli::kExitDone;
}

NodePtr NodeOnLine(const std::string& command, const Line& line, const NodeKey& key) {
  NodePtr node = FindNode(*line.adapter, key);
  if (!node) {
    cli::ReportFailure(command, base::Format("no module with %s on adapter %s; nothing was sent",
                                             KeyText(key).c_str(), line.adapter->name.c_str()));
  }
  return node;
}

// After a sent command: the window re-reads the inventory and draws the line again.
json Redraw(CliContext& context, const std::string& command, const std::string& adapterName) {
  AdapterPtr adapter;
  if (cli::DiscoverLine(context, command, adapterName, &adapter) != cli::kExitDone) return nullptr;
  cli::LineDrawing drawing;
  cli::DrawLine(*adapter, drawing);
  if (!context.json) {
    if (drawing.duplicates.empty()) {
      cli::PrintDrawing(context.out, drawing);
    } else {
      std::fprintf(stderr, "%s\n", drawing.duplicates.c_str());
    }
  }
  return cli::DrawingJson(drawing);
}

int RunCommandOn(CliContext& context, const std::string& command, Line& line, uint16_t code,
                 const NodePtr& first, const NodePtr& last, const std::string& adapterName,
                 json* report) {
  CliWindow window(context.app, line.view, context.cancel);
  CountdownProgress progress(context.cancel);
  topology::NodeCommandContext run{context.app, context.prompt, progress,
                                   window,      &line.view,     line.listed};
  const int result = topology::RunNodeCommand(run, {code, first, last});
  (*report)["sent"] = window.redrawRequested;
  if (result == 0 || !window.redrawRequested) {
    cli::ReportFailure(command, result == 0 ? "refused; nothing was sent"
                                            : "the command did not reach its end (see above)");
    return cli::kExitFailed;
  }
  cli::LogChange(command,
                 base::Format("sent to the module with serial number %u", first->serialNumber));
  (*report)["line"] = Redraw(context, command, adapterName);
  return cli::kExitDone;
}

void PrintReport(CliContext& context, const json& report) {
  if (context.json) std::fprintf(context.out, "%s\n", report.dump().c_str());
}

struct NodeCommandOptions {
  std::string node;
  std::string last;
  std::string adapter;
};

int RunNodeCommand(CliContext& context, const std::string& command, uint16_t code,
                   const NodeCommandOptions& options) {
  const auto key = ParseNodeKey(command, options.node);
  if (!key) return cli::kExitUsage;
  std::optional<NodeKey> lastKey;
  if (!options.last.empty()) {
    lastKey = ParseNodeKey(command, options.last);
    if (!lastKey) return cli::kExitUsage;
  }
  Line line;
  if (const int failed = PrepareLine(context, command, options.adapter, *key, &line);
      failed != cli::kExitDone) {
    return failed;
  }
  const NodePtr first = NodeOnLine(command, line, *key);
  if (!first) return cli::kExitFailed;
  NodePtr last;
  if (lastKey) {
    last = NodeOnLine(command, line, *lastKey);
    if (!last) return cli::kExitFailed;
    if (last == first) last.reset();  // a range of one module has no last module
  }
  json report{{"command", command},
              {"serial", first->serialNumber},
              {"last", last ? json(last->serialNumber) : json(nullptr)}};
  const int status =
      RunCommandOn(context, command, line, code, first, last, options.adapter, &report);
  PrintReport(context, report);
  return status;
}

struct SetIpOptions {
  std::string node;
  std::string ip;
  std::string mask;
  std::string gateway;
  bool autoconfig = false;
  std::string adapter;
};

const char* FieldName(topology::AddressField field) {
  switch (field) {
    case topology::AddressField::Ip:
      return "--ip";
    case topology::AddressField::Mask:
      return "--mask";
    case topology::AddressField::Gateway:
      return "--gateway";
    default:
      return "";
  }
}

int RunSetIp(CliContext& context, const SetIpOptions& options) {
  const char* command = "set-ip";
  const auto key = ParseNodeKey(command, options.node);
  if (!key) return cli::kExitUsage;
  Line line;
  if (const int failed = PrepareLine(context, command, options.adapter, *key, &line);
      failed != cli::kExitDone) {
    return failed;
  }
  const NodePtr node = NodeOnLine(command, line, *key);
  if (!node) return cli::kExitFailed;

  // The dialog opens with the module's settings, its gateway box ticked when the gateway
  // differs from the address; a --gateway ticks it with that gateway.
  topology::SetAddressRequest request{options.ip, options.mask, false, options.gateway};
  {
    std::lock_guard guard(line.adapter->lock);
    request.gatewayBox = !options.gateway.empty() || node->gatewayText != node->ipText;
  }
  topology::SetAddressSequence sequence;
  topology::SetAddressContext run{context.app, context.prompt, sequence};
  topology::CheckedAddresses checked;
  const topology::SetAddressResult result =
      topology::ChangeNodeAddress(run, node, request, &checked);
  json report{{"command", command}, {"serial", node->serialNumber}};
  if (result == topology::SetAddressResult::Refused) {
    cli::ReportFailure(command, base::Format("%s: %s; nothing was sent", FieldName(checked.refused),
                                             checked.reason.c_str()));
    return cli::kExitUsage;
  }
  if (result != topology::SetAddressResult::Ok) {
    report["result"] = "cancel";
    PrintReport(context, report);
    cli::ReportFailure(command, "the module's settings were not changed as asked");
    return cli::kExitFailed;
  }
  std::string ip, mask, gateway;
  {
    std::lock_guard guard(line.adapter->lock);
    ip = node->ipText;
    mask = node->maskText;
    gateway = node->gatewayText;
  }
  cli::LogChange(command,
                 base::Format("module %u now has IP %s, mask %s, gateway %s", node->serialNumber,
                              ip.c_str(), mask.c_str(), gateway.c_str()));
  report["result"] = "ok";
  report["ip"] = ip;
  report["mask"] = mask;
  report["gateway"] = gateway;
  if (!context.json) {
    std::fprintf(context.out, "SN %u: IP %s, mask %s, gateway %s\n", node->serialNumber, ip.c_str(),
                 mask.c_str(), gateway.c_str());
  }
  int status = cli::kExitDone;
  if (options.autoconfig) {
    // The window then starts AutoConfig from the module, with its checks and warning.
    json autoconfig{{"command", "autoconfig"}, {"serial", node->serialNumber}, {"last", nullptr}};
    status = RunCommandOn(context, command, line, topology::kCommandAutoConfig, node, nullptr,
                          options.adapter, &autoconfig);
    report["autoconfig"] = autoconfig;
  }
  PrintReport(context, report);
  return status;
}

constexpr const char* kNodeFooter =
    "NODE is a serial number (3100101 or sn:3100101) or an IPv4 address. A question is asked "
    "on a terminal; otherwise it needs --yes. Exit status: 0 sent and waited for, 1 refused, "
    "declined, not answered or not sent, 2 a bad NODE or address or an unknown adapter, 3 "
    "several adapters carry modules and none was chosen.";

CliSetup NodeCommandSetup(const std::string& command, uint16_t code, bool withLast) {
  return [command, code, withLast](CLI::App& sub, CliContext& context) -> CliRun {
    auto options = std::make_shared<NodeCommandOptions>();
    sub.add_option(withLast ? "FIRST" : "NODE", options->node,
                   withLast ? "The module the AutoConfig starts from" : "The module")
        ->required();
    if (withLast) {
      sub.add_option("LAST", options->last, "The other end of the range (optional)");
    }
    sub.add_option("--adapter", options->adapter, "Only this adapter (its interface name)");
    sub.footer(kNodeFooter);
    return [&context, options, command, code] {
      return RunNodeCommand(context, command, code, *options);
    };
  };
}

}  // namespace

static CliCommandRegistrar autoconfigCommand(
    "autoconfig", "Start the modules' AutoConfig from a module at a line's end (or over a range)",
    NodeCommandSetup("autoconfig", topology::kCommandAutoConfig, true));
static CliCommandRegistrar replaceCommand("replace",
                                          "Give a replacing module its predecessor's configuration",
                                          NodeCommandSetup("replace", topology::kCommandReplace,
                                                           false));
static CliCommandRegistrar factoryResetCommand(
    "factory-reset", "Set a module back to its factory settings",
    NodeCommandSetup("factory-reset", topology::kCommandFactoryReset, false));

static CliCommandRegistrar setIpCommand(
    "set-ip", "Change a module's IP address, mask and gateway (then AutoConfig from it)",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto options = std::make_shared<SetIpOptions>();
      sub.add_option("NODE", options->node, "The module")->required();
      sub.add_option("--ip", options->ip, "The new IP address")->required();
      sub.add_option("--mask", options->mask, "The new subnet mask (default: the module's)");
      sub.add_option("--gateway", options->gateway,
                     "The new gateway (default: the module's own when it has one apart from its "
                     "address, else the new IP address)");
      sub.add_flag("--autoconfig", options->autoconfig,
                   "Then start AutoConfig from the module (its checks and warning)");
      sub.add_option("--adapter", options->adapter, "Only this adapter (its interface name)");
      sub.footer(kNodeFooter);
      return [&context, options] { return RunSetIp(context, *options); };
    });
