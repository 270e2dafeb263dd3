#pragma once
// Commands of quillmar-cli register themselves: a command is one .cpp file in this folder with
//
//   static CliCommandRegistrar discover("discover", "Find the modules on every adapter",
//       [](CLI::App& sub, CliContext& context) -> CliRun {
//         auto all = std::make_shared<bool>(false);
//         sub.add_flag("--all", *all, "every adapter");
//         return [&context, all] { ...; return 0; };   // the exit code
//       });
//
// The setup function declares the sub-command's options; the function it returns runs the
// command after the start sequence (start line in the event log) and before the end sequence
// (exit banner). Options live as long as the returned function: capture shared state by value.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/progress.h"
#include "base/prompt.h"
#include "cli_support.h"
#include "discovery/mreg_app.h"
#include "platform/profile.h"

struct CliContext {
  CMRegApp& app;
  base::Prompt& prompt;  // the chooser below, questions go on to the terminal
  platform::ProfileStore& profile;
  bool json = false;  // --json: machine-readable output on stdout (before or after the command)
  bool yes = false;   // --yes: every question answered with Yes or OK (before or after)
  // Set on SIGINT/SIGTERM/SIGHUP; long commands poll it and end early.
  base::CancelToken& cancel;
  // The application's prompt: the adapter chooser's rule for the command's target.
  cli::ChoosingPrompt& chooser;
  std::FILE* out = stdout;  // results; questions and progress go to stderr
};

using CliRun = std::function<int()>;
using CliSetup = std::function<CliRun(CLI::App& sub, CliContext& context)>;

struct CliCommandInfo {
  std::string name;
  std::string description;
  CliSetup setup;
};

void RegisterCliCommand(std::string name, std::string description, CliSetup setup);
// Every registered command, in name order.
std::vector<CliCommandInfo> RegisteredCliCommands();
// The command a command line asks for: its first word that names one of `commands` (the
// program's own options may stand before it); empty when none does.
std::string AskedCliCommand(const std::vector<CliCommandInfo>& commands, int argc,
                            const char* const* argv);
// Whether a command line asks for help (-h or --help, alone or in a group of short flags such
// as -yh, before any "--"): the help lists every command, so all of them must be known then.
bool AsksForHelp(int argc, const char* const* argv);

struct CliCommandRegistrar {
  CliCommandRegistrar(std::string name, std::string description, CliSetup setup) {
    RegisterCliCommand(std::move(name), std::move(description), std::move(setup));
  }
};

namespace cli {

// The target argument and the --net option of a command on one module.
struct TargetArguments {
  std::string target;
  std::string network;
};

// Adds the required target argument; --net is added by AddNetOption after the command's own
// options, where the help lists it.
std::shared_ptr<TargetArguments> AddTargetArgument(CLI::App& sub);
void AddNetOption(CLI::App& sub, TargetArguments& arguments);

// Resolves the target and runs `run` on it with the inventory link installed; the resolver's
// status (its message printed and logged) when the target is refused.
int RunOnTarget(CliContext& context, const std::string& command, const TargetArguments& arguments,
                const std::function<int(const ResolvedTarget&)>& run);

}  // namespace cli
