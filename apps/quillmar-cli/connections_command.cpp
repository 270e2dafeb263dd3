// quillmar-cli connections / extension: links between modules and to a PLC, and extension
// (slave) modules.
//
//   connections TARGET                 both connection descriptors, the mode and what the
//                                      outputs do when the PLC connection is lost
//   connections TARGET [--upstream N|IP] [--downstream N|IP] [--clear]
//                                      Apply on the module: its links (a side not given keeps
//                                      its link; --clear removes both)
//   connections TARGET --mode plc-io|hardware|slave [--transparent] [--clear]
//       [--outputs unchanged|off] [--plc FILE] [--lock]
//                                      Apply with a mode switch (the outputs, program and lock
//                                      only with plc-io)
//   connections TARGET --range FROM-TO --mode plc-io|hardware|slave [--transparent]
//       [--outputs unchanged|off] [--plc FILE]
//                                      Apply All over the nodes FROM..TO of TARGET's network:
//                                      one line per module (result, time), every failure named
//
// A choice that the module's Apply would leave undone is refused before anything is written
// (exit 2), so that "done" always means every option given took effect.
//   extension TARGET --master preceding|following
//                                      the module becomes an extension of that neighbour
//
// Questions (the mode switch, Apply All) are answered by --yes when there is no terminal.
// Exit status: 0 done; 1 a module failed (or did not answer); 2 arguments, target or a check
// refused the command before anything was written.
#include <unistd.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "base/format.h"
#include "cli_command.h"
#include "config/connections.h"
#include "config/extension.h"
#include "config/plc_program.h"

namespace {

using nlohmann::json;

using cli::kExitFailed;
using cli::kExitUsage;

struct ConnectionArguments {
  std::string target;
  std::string net;
  bool json = false;
  std::string upstream;
  std::string downstream;
  std::string mode;
  bool transparent = false;
  bool clear = false;
  std::string outputs;
  std::string plc;
  bool lock = false;
  std::string range;
  std::string master;
};

const char* ModeName(uint16_t value) {
  switch (value) {
    case config::mode::kZpa:
      return "ZPA";
    case config::mode::kSlave:
      return "slave";
    case config::mode::kPlcIo:
      return "PLC I/O";
    case config::mode::kAccumulation3:
    case config::mode::kAccumulation4:
      return "accumulation control";
    case config::mode::kHardware:
      return "hardware controlled";
    case config::mode::kPallet:
      return "pallet";
    default:
      return "other";
  }
}

json DescriptorJson(const config::Descriptor& words) {
  return {{"module", config::DescriptorAddress(words)},
          {"words", std::vector<uint16_t>(words.begin(), words.end())}};
}

std::string DescriptorText(const config::Descriptor& words) {
  std::string text = config::DescriptorAddress(words);
  if (text.empty()) text = "(none)";
  text += "  [";
  for (size_t i = 0; i < words.size(); ++i) text += base::Format(i ? " %u" : "%u", words[i]);
  return text + "]";
}

std::string OutputsText(uint16_t value) {
  if (value == 0) return "Unverändert";
  if (value == config::kAllOff) return "Alle abschalten";
  return base::Format("0x%04X", value);
}

// --upstream / --downstream: a node number (0 = none) or an address.
std::optional<config::LinkChoice> ParseLink(const std::string& text) {
  config::LinkChoice choice;
  if (text.find('.') != std::string::npos) {
    if (!config::ParseIpv4(text)) return std::nullopt;
    choice.byAddress = true;
    choice.address = text;
    return choice;
  }
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  choice.node = std::stoi(text);
  if (choice.node > 236) return std::nullopt;
  return choice;
}

// FROM-TO: node numbers 1..236, FROM not above TO.
bool ParseNodeRange(const std::string& text, int* from, int* to) {
  const size_t dash = text.find('-');
  if (dash == std::string::npos) return false;
  const auto first = ParseLink(text.substr(0, dash));
  const auto last = ParseLink(text.substr(dash + 1));
  if (!first || !last || first->byAddress || last->byAddress) return false;
  *from = first->node;
  *to = last->node;
  return *from >= 1 && *from <= *to;
}

int ShowConnections(CliContext& context, const ConnectionArguments& args, const std::string& ip) {
  const auto module = config::OpenModule(ip);
  const auto view = module ? config::ReadConnectionView(*module) : std::nullopt;
  if (!view) {
    cli::ReportFailure("connections", base::Format(config::kLostText, ip.c_str()));
    return kExitFailed;
  }
  if (args.json || context.json) {
    std::fprintf(context.out, "%s\n",
                 json{{"module", ip},
                      {"mode", view->mode},
                      {"modeName", ModeName(view->mode)},
                      {"upstream", DescriptorJson(view->upstream)},
                      {"downstream", DescriptorJson(view->downstream)},
                      {"outputs", {view->outputs, view->outputs2}},
                      {"outputsName", OutputsText(view->outputs)}}
                     .dump()
                     .c_str());
    return 0;
  }
  std::fprintf(context.out,
               "Module %s\nMode: %u (%s)\nUpstream: %s\nDownstream: %s\n"
               "Outputs on PLC disconnection: %s\n",
               ip.c_str(), view->mode, ModeName(view->mode), DescriptorText(view->upstream).c_str(),
               DescriptorText(view->downstream).c_str(), OutputsText(view->outputs).c_str());
  return 0;
}

// The settings of the command line; a side not given keeps the module's present link.
std::optional<config::ConnectionSettings> SettingsFrom(const ConnectionArguments& args,
                                                       const std::string& ip, bool range) {
  config::ConnectionSettings settings;
  const std::pair<const std::string*, config::LinkChoice*> sides[] = {
      {&args.upstream, &settings.upstream}, {&args.downstream, &settings.downstream}};
  std::optional<config::ConnectionView> present;
  for (const auto& [text, choice] : sides) {
    if (!text->empty()) {
      const auto parsed = ParseLink(*text);
      if (!parsed) {
        cli::ReportFailure("connections",
                           "--upstream and --downstream take a node number 0..236 or an IPv4 "
                           "address; nothing was sent");
        return std::nullopt;
      }
      *choice = *parsed;
    } else if (!range) {
      if (!present) {
        const auto module = config::OpenModule(ip);
        if (module) present = config::ReadConnectionView(*module);
        if (!present) {
          cli::ReportFailure("connections", base::Format(config::kLostText, ip.c_str()));
          return std::nullopt;
        }
      }
      const std::string now = config::DescriptorAddress(
          text == &args.upstream ? present->upstream : present->downstream);
      choice->byAddress = !now.empty();
      choice->address = now;
    }
  }
  if (args.mode == "plc-io") {
    settings.plcIo = true;
  } else if (args.mode == "hardware") {
    settings.hardware = true;
  } else if (args.mode == "slave") {
    settings.slave = true;
  } else if (args.mode == "transparent") {
    // The transparent block goes with a mode switch; alone it switched nothing.
    cli::ReportFailure("connections",
                       "--mode transparent switches no mode: give --transparent together with "
                       "--mode plc-io, hardware or slave; nothing was sent");
    return std::nullopt;
  } else if (!args.mode.empty()) {
    cli::ReportFailure("connections", "--mode is plc-io, hardware or slave; nothing was sent");
    return std::nullopt;
  }
  settings.transparent = args.transparent;
  const bool linksChosen = !args.upstream.empty() || !args.downstream.empty();
  if (args.clear && linksChosen) {
    cli::ReportFailure("connections",
                       "--clear removes both links and excludes --upstream and --downstream; "
                       "nothing was sent");
    return std::nullopt;
  }
  if (range) {
    // Apply All switches the mode of every module of the range and writes no links.
    if (args.mode.empty()) {
      cli::ReportFailure("connections",
                         "--range switches every module of the range: give --mode plc-io, "
                         "hardware or slave; nothing was sent");
      return std::nullopt;
    }
    if (linksChosen || args.clear || args.lock) {
      cli::ReportFailure("connections",
                         "--range writes no links and sets no lock: --upstream, --downstream, "
                         "--clear and --lock are for one module; nothing was sent");
      return std::nullopt;
    }
  }
  settings.refuseUnused = true;
  settings.linksChosen = linksChosen;
  if (args.clear && settings.transparent) {
    cli::ReportFailure("connections",
                       "--clear and --transparent exclude each other; nothing was sent");
    return std::nullopt;
  }
  settings.clear = args.clear;
  if (settings.clear) settings.upstream = settings.downstream = config::LinkChoice{};
  if (args.outputs == "off") {
    settings.outputs = 1;
  } else if (!args.outputs.empty() && args.outputs != "unchanged") {
    cli::ReportFailure("connections", "--outputs is unchanged or off; nothing was sent");
    return std::nullopt;
  }
  settings.plcFile = args.plc;
  settings.lockPlc = args.lock;
  return settings;
}

config::ConnectionServices ServicesFor(CliContext& context, base::Progress& progress) {
  config::ConnectionServices services;
  services.prompt = &context.prompt;
  services.progress = &progress;
  services.upload = [&context](const std::string& ip, const std::string& family,
                               const config::ConnectionSettings& settings, base::Progress& bar) {
    return config::UploadForSettings(ip, family, settings, bar, context.prompt);
  };
  services.readLock = [&context](const std::string& ip, bool lock) {
    return config::_ReadLock(context.app, config::LockPacket(lock ? 1 : 0), ip);
  };
  return services;
}

int ApplyRange(CliContext& context, const ConnectionArguments& args, const std::string& ip,
               const config::ConnectionSettings& settings) {
  int from = 0;
  int to = 0;
  if (!ParseNodeRange(args.range, &from, &to)) {
    cli::ReportFailure("connections",
                       "--range is FROM-TO with node numbers 1..236, FROM not above TO; nothing "
                       "was sent");
    return kExitUsage;
  }
  std::vector<std::string> ips;
  for (int node = from; node <= to; ++node) ips.push_back(config::NodeToAddress(ip, node));
  cli::TerminalProgress progress(context.cancel);
  config::ConnectionServices services = ServicesFor(context, progress);
  const config::ApplyAllResult result = config::ApplyAll(ips, settings, services);
  if (!result.started) {
    if (!result.message.empty()) cli::ReportFailure("connections", result.message);
    return result.message.empty() ? kExitUsage : kExitFailed;
  }
  json modules = json::array();
  std::vector<cli::ModuleOutcome> rows;
  for (const config::ApplyAllModule& module : result.modules) {
    const bool done = module.state == config::ApplyAllModule::State::kDone;
    modules.push_back({{"module", module.ip},
                       {"result", done ? "done" : "failed"},
                       {"ms", module.elapsedMs},
                       {"error", module.error}});
    rows.push_back({module.ip, done, done ? "done" : "failed: " + module.error,
                    static_cast<uint32_t>(module.elapsedMs)});
    if (!done) cli::ReportFailure("connections", module.ip + ": " + module.error);
  }
  if (!(args.json || context.json)) cli::PrintSummary(context.out, rows);
  if (args.json || context.json) {
    std::fprintf(context.out, "%s\n",
                 json{{"ok", result.AllDone()}, {"modules", modules}}.dump().c_str());
  } else if (result.AllDone()) {
    std::fprintf(context.out, "%s\n", config::kSwitchedText);
  }
  return result.AllDone() ? 0 : kExitFailed;
}

int RunConnections(CliContext& context, const ConnectionArguments& args) {
  const cli::ResolvedTarget target =
      cli::ResolveTarget(context, "connections", args.target, args.net);
  if (target.exitCode != cli::kExitDone) return target.exitCode;
  const std::string& ip = target.address;
  const bool change = !args.upstream.empty() || !args.downstream.empty() || !args.mode.empty() ||
                      args.transparent || args.clear || !args.outputs.empty() ||
                      !args.plc.empty() || args.lock || !args.range.empty();
  if (!change) return ShowConnections(context, args, ip);
  const bool range = !args.range.empty();
  const auto settings = SettingsFrom(args, ip, range);
  if (!settings) return kExitUsage;
  if (range) return ApplyRange(context, args, ip, *settings);

  const auto module = config::OpenModule(ip);
  if (!module) {
    cli::ReportFailure("connections", base::Format(config::kLostText, ip.c_str()));
    return kExitFailed;
  }
  cli::TerminalProgress progress(context.cancel);
  config::ConnectionServices services = ServicesFor(context, progress);
  const config::ApplyOutcome outcome = config::ApplyConnections(*module, ip, *settings, services);
  const char* result = outcome == config::ApplyOutcome::kDone      ? "done"
                       : outcome == config::ApplyOutcome::kRefused ? "refused"
                                                                   : "failed";
  if (args.json || context.json) {
    std::fprintf(context.out, "%s\n", json{{"module", ip}, {"result", result}}.dump().c_str());
  } else {
    std::fprintf(context.out, "Connections of %s: %s\n", ip.c_str(), result);
  }
  if (outcome == config::ApplyOutcome::kDone) {
    cli::LogChange("connections", base::Format("applied to %s", ip.c_str()));
    return 0;
  }
  return outcome == config::ApplyOutcome::kRefused ? kExitUsage : kExitFailed;
}

int RunExtension(CliContext& context, const ConnectionArguments& args) {
  config::MasterChoice choice = config::MasterChoice::kNone;
  if (args.master == "preceding") {
    choice = config::MasterChoice::kPreceding;
  } else if (args.master == "following") {
    choice = config::MasterChoice::kFollowing;
  } else {
    cli::ReportFailure("extension", "--master is preceding or following; nothing was sent");
    return kExitUsage;
  }
  const cli::ResolvedTarget target =
      cli::ResolveTarget(context, "extension", args.target, args.net);
  if (target.exitCode != cli::kExitDone) return target.exitCode;
  const std::string& ip = target.address;
  const auto module = config::OpenModule(ip);
  if (!module) {
    cli::ReportFailure("extension", base::Format(config::kLostText, ip.c_str()));
    return kExitFailed;
  }
  cli::TerminalProgress progress(context.cancel);
  config::ConnectionServices services = ServicesFor(context, progress);
  const config::ExtensionOutcome outcome = config::ApplyExtension(*module, ip, choice, services);
  const char* result = outcome == config::ExtensionOutcome::kDone      ? "done"
                       : outcome == config::ExtensionOutcome::kRefused ? "refused"
                                                                       : "failed";
  if (args.json || context.json) {
    std::fprintf(context.out, "%s\n",
                 json{{"module", ip}, {"master", args.master}, {"result", result}}.dump().c_str());
  } else {
    std::fprintf(context.out, "Extension of %s (%s master): %s\n", ip.c_str(), args.master.c_str(),
                 result);
  }
  if (outcome == config::ExtensionOutcome::kDone) {
    cli::LogChange("extension", base::Format("%s is an extension of its %s module", ip.c_str(),
                                             args.master.c_str()));
    return 0;
  }
  return outcome == config::ExtensionOutcome::kRefused ? kExitUsage : kExitFailed;
}

void AddTarget(CLI::App& sub, ConnectionArguments& args) {
  sub.add_option("target", args.target,
                 "Node number, IPv4 address or serial number (a number above 236, or sn:NUMBER)")
      ->required();
  sub.add_option("--net", args.net,
                 "Network of node numbers (default: the profile's \"Default Net\")");
  sub.add_flag("--json", args.json, "Machine-readable output (JSON) on stdout");
}

const CliCommandRegistrar kConnectionsCommand(
    "connections", "Show or set a module's links to its neighbours and to a PLC",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      sub.footer(
          "Without options the links are shown. A change writes, saves and restarts the module "
          "(about 12 s; a mode switch about 22 s). An option the module's Apply would leave "
          "undone is refused before anything is written.\nExit status: 0 done, 1 a module "
          "failed (also an unacknowledged PLC lock), 2 arguments, target or a check refused it "
          "(nothing written).");
      auto args = std::make_shared<ConnectionArguments>();
      AddTarget(sub, *args);
      sub.add_option("--upstream", args->upstream, "Upstream module: node number (0 none) or IP");
      sub.add_option("--downstream", args->downstream,
                     "Downstream module: node number (0 none) or IP");
      sub.add_option("--mode", args->mode, "Switch the mode: plc-io, hardware or slave");
      sub.add_flag("--transparent", args->transparent,
                   "With --mode: write the transparent block (registers 316..331)");
      sub.add_flag("--clear", args->clear, "Clear both connections");
      sub.add_option("--outputs", args->outputs,
                     "With --mode plc-io: outputs and motors on PLC disconnection, unchanged or "
                     "off");
      sub.add_option("--plc", args->plc,
                     "With --mode plc-io: PLC program file (PLCDATA_*.bin) to load");
      sub.add_flag("--lock", args->lock,
                   "With --mode plc-io: lock the PLC mode (the module must acknowledge it)");
      sub.add_option("--range", args->range,
                     "Apply All over the nodes FROM-TO of TARGET's network (needs --mode)");
      return [&context, args] { return RunConnections(context, *args); };
    });

const CliCommandRegistrar kExtensionCommand(
    "extension", "Make a module the extension (slave) of its preceding or following module",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      sub.footer(
          "Exit status: 0 done, 1 a module failed, 2 arguments, target or a check refused it.");
      auto args = std::make_shared<ConnectionArguments>();
      AddTarget(sub, *args);
      sub.add_option("--master", args->master, "preceding or following")->required();
      return [&context, args] { return RunExtension(context, *args); };
    });

}  // namespace
