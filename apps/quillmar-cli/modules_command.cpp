// quillmar-cli modules: the discovered-modules page on the command line.
//
//   modules [--subnet NET] [--json]          the list lines, then the count line
//   modules set TARGET [--ip A] [--mask M] [--gateway G] [--serial N]
//   modules reorder NET...                   host numbers from 20 upwards per network
//   modules lock NET | modules unlock NET    lock or unlock every module of a network
//   modules reset-name TARGETS...            fieldbus name empty, address 0.0.0.0
//   modules dhcp-off TARGETS...
//
// Every command discovers the selected adapter first. Fields not given to `set` keep the
// module's own values; the page's checks and texts apply. Questions need --yes off a terminal.
// Exit status: 0 done; 1 a module did not answer; 2 refused by a check (nothing was sent).
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "backup/module_network.h"
#include "base/format.h"
#include "cli_command.h"
#include "comm/event_log.h"
#include "discovery/connect_inventory_link.h"
#include "discovery/inventory.h"

namespace {

using nlohmann::json;

struct ModulesArguments {
  std::string subnet;
  std::string target;
  std::vector<std::string> targets;
  std::vector<std::string> networks;
  std::string network;  // lock / unlock
  std::optional<std::string> ip, mask, gateway, serial;
  std::string net;  // node numbers
};

// A fresh discovery of the adapter; the nodes in list order (empty and reported on failure).
std::optional<NodeList> Discovered(CliContext& context, const std::string& command) {
  context.app.discoverDone = 0;
  if (context.app.Discover(true, nullptr) != 1) {
    cli::ReportFailure(command, "no capture device could be opened");
    return std::nullopt;
  }
  if (context.chooser.ChoiceRefused()) {
    cli::ReportFailure(command, "several adapters carry modules and none could be chosen");
    return std::nullopt;
  }
  NodeList nodes;
  if (const AdapterPtr adapter = context.app.SelectedAdapter()) {
    std::lock_guard guard(adapter->lock);
    for (const NodePtr& node : adapter->nodes) nodes.push_back(std::make_shared<CNode_Data>(*node));
  }
  return nodes;
}

NodePtr FindByIp(const NodeList& nodes, const std::string& ip) {
  for (const NodePtr& node : nodes) {
    if (node->ipText == ip) return node;
  }
  return nullptr;
}

int RunList(CliContext& context, const ModulesArguments& arguments) {
  const auto nodes = Discovered(context, "modules");
  if (!nodes) return cli::kExitFailed;
  const std::string filter = arguments.subnet.empty() ? backup::kAllNetworks : arguments.subnet;
  size_t locked = 0, shown = 0;
  json rows = json::array();
  for (const NodePtr& node : *nodes) {
    locked += node->lockState == 1 ? 1 : 0;
    if (!backup::InSubnet(*node, filter)) continue;
    ++shown;
    if (context.json) {
      rows.push_back({{"line", backup::ModuleListLine(*node)},
                      {"ip", node->ipText},
                      {"serial", node->serialNumber},
                      {"mask", node->maskText},
                      {"gateway", node->gatewayText},
                      {"revision", node->revision},
                      {"position", backup::PositionText(node->record[16], true)}});
    } else {
      std::fprintf(context.out, "%s\n", backup::ModuleListLine(*node).c_str());
    }
  }
  const std::string count = backup::CountLine(nodes->size(), locked, shown);
  if (context.json) {
    std::fprintf(
        context.out, "%s\n",
        json{{"subnets", backup::SubnetEntries(*nodes)}, {"modules", rows}, {"count", count}}
            .dump()
            .c_str());
  } else {
    std::fprintf(context.out, "%s\n", count.c_str());
  }
  return cli::kExitDone;
}

int RunSet(CliContext& context, const ModulesArguments& arguments) {
  const cli::ResolvedTarget target =
      cli::ResolveTarget(context, "modules set", arguments.target, arguments.net);
  if (target.exitCode != cli::kExitDone) return target.exitCode;
  const auto nodes = Discovered(context, "modules set");
  if (!nodes) return cli::kExitFailed;
  const NodePtr node = FindByIp(*nodes, target.address);
  backup::SettingsInput input;
  if (node) {
    input = {node->ipText, node->maskText, node->gatewayText, std::to_string(node->serialNumber)};
  }
  if (arguments.ip) input.ip = *arguments.ip;
  if (arguments.mask) input.mask = *arguments.mask;
  if (arguments.gateway) input.gateway = *arguments.gateway;
  if (arguments.serial) input.serial = *arguments.serial;
  const backup::SettingsCheck check = backup::CheckSettings(node.get(), input);
  switch (check.verdict) {
    case backup::SettingsVerdict::kBeep:
      cli::ReportFailure("modules set",
                         "the address must not begin or end with 0, the gateway must not begin "
                         "with 0 in its first two bytes, no byte may be 255 and the mask must be "
                         "a run of ones; nothing was sent");
      return cli::kExitUsage;
    case backup::SettingsVerdict::kRefused:
    case backup::SettingsVerdict::kNothingToChange:
      cli::ReportFailure("modules set", check.message);
      return cli::kExitUsage;
    case backup::SettingsVerdict::kSend:
      break;
  }
  std::string failure;
  const bool taken = backup::SendSetNodeIp(
      context.app, node->ipText,
      backup::SetNodeIpPacket(check.serial, check.ip, check.mask, check.gateway), &failure);
  const std::string change =
      base::Format("%s (serial %u) -> %s, mask %s, gateway %s, serial %s", node->ipText.c_str(),
                   node->serialNumber, input.ip.c_str(), input.mask.c_str(), input.gateway.c_str(),
                   input.serial.c_str());
  if (!taken) {
    cli::ReportFailure("modules set", failure + ": " + change);
    return cli::kExitFailed;
  }
  cli::LogChange("modules set", change);
  std::fprintf(context.out, "%s\n", change.c_str());
  return cli::kExitDone;
}

int RunReorder(CliContext& context, const ModulesArguments& arguments) {
  const auto nodes = Discovered(context, "modules reorder");
  if (!nodes) return cli::kExitFailed;
  NodeList selected;
  for (const NodePtr& node : *nodes) {
    for (const std::string& network : arguments.networks) {
      if (backup::InSubnet(*node, network) && network != backup::kAllNetworks) {
        selected.push_back(node);
        break;
      }
    }
  }
  if (selected.empty()) {
    cli::ReportFailure("modules reorder", "no module in the networks given; nothing was sent");
    return cli::kExitUsage;
  }
  const backup::ReorderPlan plan = backup::PlanReorder(selected);
  if (!plan.refusal.empty()) {
    cli::ReportFailure("modules reorder", plan.refusal);
    return cli::kExitUsage;
  }
  if (context.prompt.Ask(plan.question, "Warnung", base::PromptButtons::YesNo,
                         base::PromptIcon::Warning) != base::PromptAnswer::Yes) {
    cli::ReportFailure("modules reorder", "not confirmed; nothing was sent");
    return cli::kExitUsage;
  }
  std::vector<std::string> reasons;
  const auto failed = backup::ExecuteReorder(context.app, plan, &reasons);
  for (const auto& net : plan.networks) {
    for (const auto& move : net.moves) {
      const auto it = std::find(failed.begin(), failed.end(), move.from);
      const std::string outcome =
          it == failed.end() ? "done" : reasons[static_cast<size_t>(it - failed.begin())];
      std::fprintf(context.out, "%s -> %s %s\n", move.from.c_str(), move.to.c_str(),
                   outcome.c_str());
    }
  }
  return failed.empty() ? cli::kExitDone : cli::kExitFailed;
}

int RunLock(CliContext& context, const ModulesArguments& arguments, bool lock) {
  const std::string command = lock ? "modules lock" : "modules unlock";
  const auto nodes = Discovered(context, command);
  if (!nodes) return cli::kExitFailed;
  const backup::NetworkLockResult result =
      backup::LockNetwork(context.app, *nodes, arguments.network, lock, context.prompt);
  if (result.stopped) return cli::kExitUsage;
  std::fprintf(context.out, "%s %zu modules of %s\n", lock ? "locked" : "unlocked", result.changed,
               arguments.network.c_str());
  if (!result.failed.empty()) {
    std::string names;
    for (const auto& ip : result.failed) names += (names.empty() ? "" : ", ") + ip;
    cli::ReportFailure(command, "no answer from " + names);
    return cli::kExitFailed;
  }
  return cli::kExitDone;
}

// TARGETS resolved to addresses; empty with the failure reported.
std::optional<std::vector<std::string>> Addresses(CliContext& context, const std::string& command,
                                                  const ModulesArguments& arguments) {
  std::vector<std::string> ips;
  for (const std::string& text : arguments.targets) {
    const cli::ResolvedTarget target = cli::ResolveTarget(context, command, text, arguments.net);
    if (target.exitCode != cli::kExitDone) return std::nullopt;
    ips.push_back(target.address);
  }
  return ips;
}

int RunManagement(CliContext& context, const ModulesArguments& arguments, bool resetName) {
  const std::string command = resetName ? "modules reset-name" : "modules dhcp-off";
  const auto ips = Addresses(context, command, arguments);
  if (!ips) return cli::kExitUsage;
  if (!Discovered(context, command)) return cli::kExitFailed;
  std::vector<std::string> failed;
  if (resetName) {
    if (!backup::ResetNamesAndAddresses(context.app, *ips, context.prompt, &failed))
      return cli::kExitUsage;
  } else {
    failed = backup::SendManagement(context.app, *ips, backup::kCommandDhcpOff);
  }
  for (const auto& ip : *ips) {
    const bool ok = std::find(failed.begin(), failed.end(), ip) == failed.end();
    std::fprintf(context.out, "%s %s\n", ip.c_str(), ok ? "sent" : "not sent");
    if (ok) cli::LogChange(command, ip);
  }
  return failed.empty() ? cli::kExitDone : cli::kExitFailed;
}

const CliCommandRegistrar kModulesCommand(
    "modules",
    "The discovered modules: list, set address/mask/gateway/serial, reorder, lock, unlock, "
    "reset-name, dhcp-off",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto a = std::make_shared<ModulesArguments>();
      sub.add_option("--subnet", a->subnet, "Only the modules of this /24 network (a.b.c.0)");
      CLI::App* set =
          sub.add_subcommand("set", "Change a module's address, mask, gateway or serial");
      set->add_option("target", a->target, "Node number, IPv4 address or sn:SERIAL")->required();
      set->add_option("--ip", a->ip, "New IPv4 address");
      set->add_option("--mask", a->mask, "New subnet mask");
      set->add_option("--gateway", a->gateway, "New gateway");
      set->add_option("--serial", a->serial, "New serial number (with the address unchanged)");
      set->add_option("--net", a->net, "Network of node numbers");
      CLI::App* reorder =
          sub.add_subcommand("reorder", "Renumber the networks' modules from host 20 upwards");
      reorder->add_option("networks", a->networks, "Networks a.b.c.0")->required();
      CLI::App* lock = sub.add_subcommand("lock", "Lock every module of a network");
      lock->add_option("network", a->network, "Network a.b.c.0")->required();
      CLI::App* unlock = sub.add_subcommand("unlock", "Unlock every module of a network");
      unlock->add_option("network", a->network, "Network a.b.c.0")->required();
      CLI::App* resetName =
          sub.add_subcommand("reset-name", "Fieldbus name empty and address 0.0.0.0");
      resetName->add_option("targets", a->targets, "Modules")->required();
      resetName->add_option("--net", a->net, "Network of node numbers");
      CLI::App* dhcpOff = sub.add_subcommand("dhcp-off", "Turn DHCP off on the modules");
      dhcpOff->add_option("targets", a->targets, "Modules")->required();
      dhcpOff->add_option("--net", a->net, "Network of node numbers");
      return [&context, a, set, reorder, lock, unlock, resetName, dhcpOff] {
        discovery::ScopedConnectInventory inventoryLink(context.app);
        if (set->parsed()) return RunSet(context, *a);
        if (reorder->parsed()) return RunReorder(context, *a);
        if (lock->parsed()) return RunLock(context, *a, true);
        if (unlock->parsed()) return RunLock(context, *a, false);
        if (resetName->parsed()) return RunManagement(context, *a, true);
        if (dhcpOff->parsed()) return RunManagement(context, *a, false);
        return RunList(context, *a);
      };
    });

}  // namespace
