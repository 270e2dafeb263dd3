#include <algorithm>
#include <map>
#include <mutex>
#include <string_view>

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

std::string AskedCliCommand(const std::vector<CliCommandInfo>& commands, int argc,
                            const char* const* argv) {
  for (int k = 1; k < argc; ++k) {
    if (argv[k] == nullptr) continue;
    const std::string word = argv[k];
    if (word == "--") break;  // what follows is positional, never the command
    for (const auto& command : commands) {
      if (command.name == word) return word;
    }
  }
  return "";
}

bool AsksForHelp(int argc, const char* const* argv) {
  for (int k = 1; k < argc; ++k) {
    if (argv[k] == nullptr) continue;
    const std::string_view word = argv[k];
    if (word == "--") break;
    if (word == "--help") return true;
    // A group of short flags; a value that happens to hold an 'h' only costs the full list.
    if (word.size() >= 2 && word[0] == '-' && word[1] != '-' &&
        word.find('h') != std::string_view::npos) {
      return true;
    }
  }
  return false;
}
