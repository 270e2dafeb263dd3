// quillmar-cli report [TARGETS...|--all] -o DIR [--adapter NAME]: the hand-over report of the
// line. A full discovery and the topology procedure as the topology window runs them, then per
// module (all of them, or the targets given) the node screen's read, the connections, the PLC
// program and the health figures, in parallel. DIR receives report.html (self-contained,
// printable on A4), modules.csv and fields.csv. Modules that could not be read are in the
// report as such.
//
// Exit status (the program's table): 0 every module read and the files written; 1 no module
// found, a module not readable (the report is written all the same) or a file not written;
// 2 a target refused; 3 an adapter must be chosen.
#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/language.h"
#include "cli_command.h"
#include "discovery/connect_inventory_link.h"
#include "discovery/mreg_app.h"
#include "report/line_report.h"
#include "report/report_writer.h"

namespace {

using nlohmann::json;

constexpr const char* kReportCommandName = "report";

struct ReportArguments {
  std::vector<std::string> targets;
  bool all = false;
  std::string folder;
  std::string adapter;
  std::string net;
};

int RunReport(CliContext& context, const ReportArguments& arguments) {
  if (arguments.all == !arguments.targets.empty()) {
    cli::ReportFailure(kReportCommandName, "give the modules (TARGETS...) or --all, not both");
    return cli::kExitUsage;
  }
  std::vector<std::string> addresses;
  for (const std::string& text : arguments.targets) {
    const cli::ResolvedTarget target =
        cli::ResolveTarget(context, kReportCommandName, text, arguments.net);
    if (target.exitCode != cli::kExitDone) return target.exitCode;
    addresses.push_back(target.address);
  }
  CMRegApp& app = context.app;
  if (const int refused = cli::SelectNamedAdapter(context, kReportCommandName, arguments.adapter);
      refused != cli::kExitDone) {
    return refused;
  }
  discovery::ScopedConnectInventory inventoryLink(app);
  app.discoverDone = 1;  // the full discovery, as the topology window runs it
  if (app.Discover(arguments.adapter.empty(), nullptr) != 1) {
    cli::ReportFailure(kReportCommandName, "no capture device could be opened");
    return cli::kExitFailed;
  }
  if (!app.SelectedAdapter()) {
    if (context.chooser.ChoiceRefused() || context.chooser.ChooserShown()) {
      cli::ReportFailure(kReportCommandName,
                         "several adapters carry modules and none was chosen (--adapter NAME)");
      return cli::kExitChooseAdapter;
    }
    cli::ReportFailure(kReportCommandName, "no module was found on any adapter");
    return cli::kExitFailed;
  }
  app.GetTopology();

  cli::TerminalProgress progress(context.cancel);
  progress.SetText("reading the modules");
  const auto started = std::chrono::steady_clock::now();
  const report::LineReport line = report::CollectLineReport(app, addresses, progress);
  progress.Finish();
  const uint32_t ms = static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                std::chrono::steady_clock::now() - started)
                                                .count());

  std::string error;
  // An interrupted run has modules it never read: it leaves a report already in the folder as
  // it is instead of replacing it with an incomplete one.
  const bool interrupted = context.cancel.IsCancelled();
  const bool written =
      !interrupted && report::WriteReport(line, arguments.folder, &error, base::CurrentLanguage());
  if (interrupted) error = "interrupted before every module was read; nothing was written";
  std::vector<cli::ModuleOutcome> outcomes;
  for (const report::ModuleReport& m : line.modules) {
    outcomes.push_back({m.ip.empty() ? base::Format("SN %u", m.serial) : m.ip, m.readable,
                        m.readable ? "read" : "not readable: " + m.failure, ms});
  }
  size_t unreadable = 0;
  for (const report::ModuleReport& m : line.modules) {
    if (m.readable) continue;
    ++unreadable;
    cli::ReportFailure(kReportCommandName, base::Format("module %s (SN %u) not readable: %s",
                                                        m.ip.c_str(), m.serial, m.failure.c_str()));
  }
  if (!written) cli::ReportFailure(kReportCommandName, "the report could not be written: " + error);
  if (context.json) {
    json out{{"folder", arguments.folder},           {"written", written},  {"date", line.date},
             {"adapter", line.adapterName},          {"found", line.found}, {"drawn", line.drawn},
             {"modules", cli::SummaryJson(outcomes)}};
    std::fprintf(context.out, "%s\n", out.dump().c_str());
  } else {
    cli::PrintSummary(context.out, outcomes);
    if (written) std::fprintf(context.out, "report: %s/report.html\n", arguments.folder.c_str());
  }
  if (line.modules.empty()) {
    cli::ReportFailure(kReportCommandName, "no module to report");
    return cli::kExitFailed;
  }
  return written && unreadable == 0 ? cli::kExitDone : cli::kExitFailed;
}

const CliCommandRegistrar kReportCommand(
    kReportCommandName,
    "The line's hand-over report: topology, every module's fields, connections, PLC program and "
    "health as HTML and CSV (REPORT TARGETS... | --all -o DIR)",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto arguments = std::make_shared<ReportArguments>();
      sub.add_option("targets", arguments->targets,
                     "Modules: node numbers (1..236), IPv4 addresses or sn:SERIAL");
      sub.add_flag("--all", arguments->all, "Every module of the line");
      sub.add_option("-o,--output", arguments->folder,
                     "Folder for report.html, modules.csv and fields.csv (made when missing)")
          ->required();
      sub.add_option("--adapter", arguments->adapter, "Only this adapter (its name)");
      sub.add_option("--net", arguments->net,
                     "Network of node numbers (default: the profile's \"Default Net\")");
      return [&context, arguments] { return RunReport(context, *arguments); };
    });

}  // namespace
