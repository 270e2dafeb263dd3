#include <algorithm>
#include <map>
#include <mutex>

#include "cli_command.h"

namespace {
std::map<std::string, CliCommandInfo>& Registry() {
  static std::map<std::string, CliCommandInfo> registry;  // built during static initialisation
  return registry;
}
}  // namespace

void RegisterCliCommand(std::string name, std::string description, CliSetup setup) {
  auto& registry = Registry();
  const std::string key = name;
  registry[key] = CliCommandInfo{std::move(name), std::move(description), std::move(setup)};
}

std::vector<CliCommandInfo> RegisteredCliCommands() {
  std::vector<CliCommandInfo> commands;
  for (const auto& [name, info] : Registry()) commands.push_back(info);
  return commands;
}
