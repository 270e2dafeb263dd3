// quillmar-cli stats / health: a module's statistics and the health of a line.
//
//   stats TARGET [-o FILE]            the statistics text of one module (registers 23, 265,
//                                     275 with 17, 286, 287 and the service port's figures);
//                                     -o also saves it as a statistics file
//   stats --range FROM-TO [-o FILE]   modules FROM to TO (node numbers) into one range file,
//                                     "Read Error!" for a module that cannot be read
//   stats TARGET --reset undervoltage|others
//                                     clears the undervoltage counter, or every other counter,
//                                     and saves them to the module's flash
//   health [TARGETS...|--all]         per module the figures that mean trouble, worst first;
//                                     the modules are read in parallel
//
// TARGET is parsed by the one target parser (params/target.h). --json prints one object.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "base/format.h"
#include "cli_command.h"
#include "comm/blocking_socket.h"
#include "diag/line_health.h"
#include "diag/statistics.h"
#include "diag/statistics_reader.h"
#include "discovery/connect_inventory_link.h"
#include "params/register_map.h"

namespace {

using nlohmann::json;

// Modules read at once by health: enough for a long line, few enough for the PC.
constexpr unsigned kHealthThreads = 16;

struct StatsArguments {
  std::string target;
  std::string network;
  std::string range;
  std::string file;
  std::string reset;
};

struct HealthArguments {
  std::vector<std::string> targets;
  std::string network;
  bool all = false;
};

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

void ToBytes(const std::string& address, uint8_t (&bytes)[4]) {
  const params::ModuleTarget parsed = params::ParseTarget(address);
  for (size_t k = 0; k < 4; ++k) bytes[k] = parsed.address[k];
}

// The text as a terminal shows it: the files' "\r\n" line ends become "\n".
std::string TerminalText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t k = 0; k < text.size(); ++k) {
    if (text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n') continue;
    out += text[k];
  }
  return out;
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file << text;
  file.close();
  return static_cast<bool>(file);
}

json OptionalJson(const std::optional<uint16_t>& value) {
  return value ? json(*value) : json(nullptr);
}

json StatisticsJson(const diag::ModuleStatistics& s) {
  const diag::FlashSaveCounters flash = diag::ParseFlashSaveCounters(s.flashCounters);
  auto number = [](const std::optional<uint32_t>& v) { return v ? json(*v) : json(nullptr); };
  json cpu = nullptr;
  if (s.cpuLoad) {
    cpu = {{"min", s.cpuLoad->minimum},
           {"max", s.cpuLoad->maximum},
           {"average", diag::AverageText(s.cpuLoad->average)}};
  }
  return {{"ip", s.address},
          {"undervoltage_resets", OptionalJson(s.undervoltageResets)},
          {"resets_without_voltage_drop", OptionalJson(s.plainResets)},
          {"last_reset", s.lastReset ? json(*s.lastReset) : json(nullptr)},
          {"reconnects", OptionalJson(s.reconnects)},
          {"response_timeouts", OptionalJson(s.responseTimeouts)},
          {"flash_saves",
           {{"numSavedL", number(flash.numSavedL)},
            {"numSavedH", number(flash.numSavedH)},
            {"bValidCRC_L", number(flash.validCrcL)},
            {"bValidCRC_H", number(flash.validCrcH)}}},
          {"cpu_load", cpu},
          {"free_memory", s.freeMemory},
          {"firmware", s.firmwareRevision},
          {"text", diag::StatisticsText(s)}};
}

int RunOne(CliContext& context, const StatsArguments& arguments) {
  const cli::ResolvedTarget target =
      cli::ResolveTarget(context, "stats", arguments.target, arguments.network);
  if (target.exitCode != cli::kExitDone) return target.exitCode;
  if (const int prepared = cli::PrepareInventory(context, "stats"); prepared != cli::kExitDone) {
    return prepared;
  }
  const std::optional<diag::ModuleStatistics> statistics =
      diag::ReadModuleStatistics(target.address);
  if (!statistics) {
    cli::ReportFailure("stats", base::Format("module %s: Read Error! (neither the register "
                                             "client nor the service port answered)",
                                             target.address.c_str()));
    return cli::kExitFailed;
  }
  const std::string text = diag::StatisticsText(*statistics);
  if (!arguments.file.empty()) {
    if (!WriteFile(arguments.file, diag::StatisticsTimeLine(LocalNow()) + text)) {
      cli::ReportFailure("stats", base::Format("Can't create file %s!", arguments.file.c_str()));
      return cli::kExitFailed;
    }
  }
  if (context.json) {
    json result = StatisticsJson(*statistics);
    if (!arguments.file.empty()) result["file"] = arguments.file;
    std::fprintf(context.out, "%s\n", result.dump().c_str());
  } else {
    std::fprintf(context.out, "%s", TerminalText(text).c_str());
    if (!arguments.file.empty()) {
      std::fprintf(context.out, "Saved to %s\n", arguments.file.c_str());
    }
  }
  return cli::kExitDone;
}

// "FROM-TO" of two module numbers, FROM not above TO.
std::optional<std::pair<int, int>> ParseRange(const std::string& text) {
  const size_t dash = text.find('-');
  if (dash == std::string::npos) return std::nullopt;
  const auto from = diag::ParseModuleNumber(std::string_view(text).substr(0, dash));
  const auto to = diag::ParseModuleNumber(std::string_view(text).substr(dash + 1));
  if (!from || !to || *from > *to) return std::nullopt;
  return std::make_pair(*from, *to);
}

int RunRange(CliContext& context, const StatsArguments& arguments) {
  const auto range = ParseRange(arguments.range);
  if (!range) {
    cli::ReportFailure("stats", base::Format("--range \"%s\" is not FROM-TO with module numbers "
                                             "1 to 236, FROM not above TO; nothing was sent",
                                             arguments.range.c_str()));
    return cli::kExitUsage;
  }
  std::vector<std::string> addresses;
  for (int module = range->first; module <= range->second; ++module) {
    const cli::ResolvedTarget target =
        cli::ResolveTarget(context, "stats", std::to_string(module), arguments.network);
    if (target.exitCode != cli::kExitDone) return target.exitCode;
    addresses.push_back(target.address);
  }
  if (const int prepared = cli::PrepareInventory(context, "stats"); prepared != cli::kExitDone) {
    return prepared;
  }
  const std::tm now = LocalNow();
  std::string path = arguments.file;
  if (path.empty()) {
    uint8_t first[4];
    uint8_t last[4];
    ToBytes(addresses.front(), first);
    ToBytes(addresses.back(), last);
    path = diag::StatisticsRangeFileName("", first, last, now);
  }
  // One module after the other, as the dialog does; one that cannot be read is noted and the
  // range goes on.
  std::vector<std::optional<std::string>> texts;
  std::vector<std::string> unread;
  for (const std::string& address : addresses) {
    // A range file that silently stops short would pass for the whole range: none is written.
    if (context.cancel.IsCancelled()) {
      cli::ReportFailure("stats", "cancelled before the range was read; no file was written");
      return cli::kExitFailed;
    }
    texts.push_back(diag::ReadStatisticsText(address));
    if (!texts.back()) unread.push_back(address);
  }
  if (!WriteFile(path, diag::StatisticsRangeText(now, texts))) {
    cli::ReportFailure("stats", base::Format("Can't create file %s!", path.c_str()));
    return cli::kExitFailed;
  }
  if (context.json) {
    json modules = json::array();
    for (size_t k = 0; k < texts.size(); ++k) {
      modules.push_back({{"ip", addresses[k]}, {"read", texts[k].has_value()}});
    }
    std::fprintf(context.out, "%s\n", json{{"file", path}, {"modules", modules}}.dump().c_str());
  } else {
    std::fprintf(context.out, "Statistics of %zu modules saved to %s\n", texts.size(),
                 path.c_str());
  }
  for (const std::string& address : unread) {
    cli::ReportFailure("stats", base::Format("module %s: Read Error!", address.c_str()));
  }
  return unread.empty() ? cli::kExitDone : cli::kExitFailed;
}

int RunReset(CliContext& context, const StatsArguments& arguments) {
  diag::CounterReset which;
  if (arguments.reset == "undervoltage") {
    which = diag::CounterReset::kUndervoltage;
  } else if (arguments.reset == "others") {
    which = diag::CounterReset::kOthers;
  } else {
    cli::ReportFailure("stats", base::Format("--reset \"%s\" is neither undervoltage nor others; "
                                             "nothing was sent",
                                             arguments.reset.c_str()));
    return cli::kExitUsage;
  }
  const cli::ResolvedTarget target =
      cli::ResolveTarget(context, "stats", arguments.target, arguments.network);
  if (target.exitCode != cli::kExitDone) return target.exitCode;
  if (const int prepared = cli::PrepareInventory(context, "stats"); prepared != cli::kExitDone) {
    return prepared;
  }
  CBlockingSocket client;
  try {
    client._Connect(target.address, CBlockingSocket::kModbusPort, true);
  } catch (const CBlockingSocketException& e) {
    cli::ReportFailure("stats",
                       base::Format("Verbindung zu Modul IP %s (IP: \"%s\") nicht möglich. (%s)",
                                    target.node.c_str(), target.address.c_str(),
                                    cli::DescribeSocketFailure(e).c_str()));
    return cli::kExitFailed;
  }
  params::ClientRegisterAccess access(client);
  params::RegisterMap map(access);
  std::string registers;
  for (const uint16_t reg : diag::CounterResetRegisters(which)) {
    registers += (registers.empty() ? "" : ", ") + std::to_string(reg);
  }
  if (!diag::ResetCounters(map, which)) {
    cli::ReportFailure("stats", base::Format("module %s: the counters (%s) could not all be "
                                             "cleared and saved",
                                             target.address.c_str(), registers.c_str()));
    return cli::kExitFailed;
  }
  cli::LogChange("stats", base::Format("module %s: counters %s cleared and saved",
                                       target.address.c_str(), registers.c_str()));
  if (context.json) {
    std::fprintf(context.out, "%s\n",
                 json{{"ip", target.address},
                      {"reset", arguments.reset},
                      {"registers", diag::CounterResetRegisters(which)}}
                     .dump()
                     .c_str());
  } else {
    std::fprintf(context.out, "Counters %s of %s cleared and saved\n", registers.c_str(),
                 target.address.c_str());
  }
  return cli::kExitDone;
}

int RunStats(CliContext& context, const StatsArguments& arguments) {
  discovery::ScopedConnectInventory inventoryLink(context.app);
  if (!arguments.range.empty()) {
    if (!arguments.target.empty() || !arguments.reset.empty()) {
      cli::ReportFailure("stats", "--range takes no TARGET and no --reset; nothing was sent");
      return cli::kExitUsage;
    }
    return RunRange(context, arguments);
  }
  if (arguments.target.empty()) {
    cli::ReportFailure("stats", "a TARGET or --range FROM-TO is needed; nothing was sent");
    return cli::kExitUsage;
  }
  if (!arguments.reset.empty()) {
    if (!arguments.file.empty()) {
      cli::ReportFailure("stats", "--reset writes no file; nothing was sent");
      return cli::kExitUsage;
    }
    return RunReset(context, arguments);
  }
  return RunOne(context, arguments);
}

std::string Figure(const std::optional<uint16_t>& value) {
  return value ? std::to_string(*value) : std::string(diag::kNotRead);
}
std::string Figure(const std::optional<int>& value) {
  return value ? std::to_string(*value) : std::string(diag::kNotRead);
}

int RunHealth(CliContext& context, const HealthArguments& arguments) {
  discovery::ScopedConnectInventory inventoryLink(context.app);
  if (arguments.all == !arguments.targets.empty()) {
    cli::ReportFailure("health", "give either TARGETS or --all; nothing was sent");
    return cli::kExitUsage;
  }
  std::vector<std::string> addresses;
  std::set<std::string> seen;
  for (const std::string& text : arguments.targets) {
    const cli::ResolvedTarget target =
        cli::ResolveTarget(context, "health", text, arguments.network);
    if (target.exitCode != cli::kExitDone) return target.exitCode;
    if (seen.insert(target.address).second) addresses.push_back(target.address);
  }
  if (arguments.all) context.app.discoverDone = 0;  // --all lists the line as it is now
  if (const int prepared = cli::PrepareInventory(context, "health"); prepared != cli::kExitDone) {
    return prepared;
  }
  if (arguments.all) {
    if (const AdapterPtr adapter = context.app.SelectedAdapter()) {
      std::lock_guard guard(adapter->lock);
      for (const auto& node : adapter->nodes) {
        if (seen.insert(node->ipText).second) addresses.push_back(node->ipText);
      }
    }
    if (addresses.empty()) {
      cli::ReportFailure("health", "no module was found");
      return cli::kExitFailed;
    }
  }
  std::vector<diag::ModuleHealth> modules = diag::ForEachModule<diag::ModuleHealth>(
      addresses, kHealthThreads,
      [](const std::string& address) { return diag::ReadModuleHealth(address); });
  diag::SortWorstFirst(modules);
  size_t silent = 0;
  for (const auto& m : modules) silent += m.answered ? 0 : 1;
  if (context.json) {
    json rows = json::array();
    for (const auto& m : modules) {
      auto value = [](const auto& v) { return v ? json(*v) : json(nullptr); };
      rows.push_back({{"ip", m.address},
                      {"answered", m.answered},
                      {"score", m.answered ? json(diag::TroubleScore(m)) : json(nullptr)},
                      {"undervoltage_resets", value(m.undervoltageResets)},
                      {"resets_without_voltage_drop", value(m.plainResets)},
                      {"reconnects", value(m.reconnects)},
                      {"response_timeouts", value(m.responseTimeouts)},
                      {"events_24h", value(m.recentEvents)},
                      {"motor_faults", value(m.motorFaults)},
                      {"stopped_zones", value(m.stoppedZones)}});
    }
    std::fprintf(context.out, "%s\n", json{{"modules", rows}}.dump().c_str());
  } else {
    std::fprintf(context.out, "%-16s %6s %9s %7s %10s %8s %10s %12s %13s\n", "Module", "Score",
                 "Resets<18V", "Resets", "Reconnects", "Timeouts", "Events 24h", "Motor faults",
                 "Stopped zones");
    for (const auto& m : modules) {
      if (!m.answered) {
        std::fprintf(context.out, "%-16s %6s  no answer\n", m.address.c_str(), "-");
        continue;
      }
      std::fprintf(context.out, "%-16s %6d %9s %7s %10s %8s %10s %12s %13s\n", m.address.c_str(),
                   diag::TroubleScore(m), Figure(m.undervoltageResets).c_str(),
                   Figure(m.plainResets).c_str(), Figure(m.reconnects).c_str(),
                   Figure(m.responseTimeouts).c_str(), Figure(m.recentEvents).c_str(),
                   Figure(m.motorFaults).c_str(), Figure(m.stoppedZones).c_str());
    }
  }
  if (silent != 0) {
    cli::ReportFailure("health",
                       base::Format("%zu of %zu modules did not answer", silent, modules.size()));
    return cli::kExitFailed;
  }
  return cli::kExitDone;
}

const CliCommandRegistrar kStatsCommand(
    "stats",
    "A module's statistics, a range of them into a file, or a counter reset "
    "(STATS TARGET | --range FROM-TO -o FILE | TARGET --reset undervoltage|others)",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto arguments = std::make_shared<StatsArguments>();
      sub.add_option("target", arguments->target,
                     "Node number (1..236, decimal), the module's IPv4 address, or sn:SERIAL");
      sub.add_option("--net", arguments->network,
                     "Network of node numbers (default: the profile's \"Default Net\")");
      sub.add_option("--range", arguments->range, "Modules FROM-TO (node numbers) into one file");
      sub.add_option("-o,--output", arguments->file,
                     "Statistics file to write (a range: default "
                     "QuillmarStatisticsRange_<first>__<last>_<time>.txt here)");
      sub.add_option("--reset", arguments->reset,
                     "Clear the undervoltage counter (undervoltage) or every other counter "
                     "(others) and save to flash");
      return [&context, arguments] { return RunStats(context, *arguments); };
    });

const CliCommandRegistrar kHealthCommand(
    "health",
    "The figures that mean trouble for every module, worst first (HEALTH TARGETS... | --all)",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto arguments = std::make_shared<HealthArguments>();
      sub.add_option("targets", arguments->targets,
                     "Node numbers, IPv4 addresses or sn:SERIAL of the modules");
      sub.add_flag("--all", arguments->all, "Every module a discovery finds");
      sub.add_option("--net", arguments->network,
                     "Network of node numbers (default: the profile's \"Default Net\")");
      return [&context, arguments] { return RunHealth(context, *arguments); };
    });

}  // namespace
