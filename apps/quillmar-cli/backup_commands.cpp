// quillmar-cli backup / restore: a line's configuration into one file and back.
//
//   backup [TARGETS...|--all] -o FILE.backup   one job per module, all at once; the file is
//                                              written only when every module succeeded
//   backup show FILE [--json]                  the records of a file
//   backup diff FILE [TARGETS...]              the registers in which each live module differs
//                                              from its record
//   restore FILE [--by-ip] [TARGETS...|--all]  the records back onto the modules (matched by IP
//                                              text, or by serial number with --by-ip, which
//                                              moves modules back to their recorded addresses)
//
// A progress bar on a terminal, then a table: module, result, time, with a row for every
// selected module. Every failed module is named and the exit status is 1 when any module was
// not restored or not fully backed up (a backup without flash image is still written, but
// cannot be restored). Questions need --yes off a terminal.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "backup/backup_file.h"
#include "backup/backup_run.h"
#include "backup/line_operations.h"
#include "backup/module_link.h"
#include "base/format.h"
#include "cli_command.h"
#include "comm/blocking_socket.h"
#include "discovery/connect_inventory_link.h"
#include "params/display_items.h"
#include "params/image_view.h"

namespace {

using nlohmann::json;

constexpr char kLocationKey[] = "BackUp_Location";

struct BackupArguments {
  std::vector<std::string> targets;
  std::string network;
  std::string file;
  bool all = false;
  std::string showFile;
  std::string diffFile;
  std::vector<std::string> diffTargets;
};

struct RestoreArguments {
  std::string file;
  std::vector<std::string> targets;
  std::string network;
  bool all = false;
  bool byIp = false;
};

// The shared bar; SIGINT and friends stop the run like STOP does, also between reports.
class WatchedTerminalProgress : public cli::TerminalProgress {
 public:
  explicit WatchedTerminalProgress(base::CancelToken& signal) : cli::TerminalProgress(signal) {
    watcher_ = std::thread([this, &signal] {
      while (!done_.load()) {
        if (signal.IsCancelled()) Cancel().Cancel();
        usleep(20000);
      }
    });
  }
  ~WatchedTerminalProgress() override {
    done_.store(true);
    watcher_.join();
  }

 private:
  std::atomic<bool> done_{false};
  std::thread watcher_;
};

// The modules named (or every module found with --all), as discovery knows them.
int SelectModules(CliContext& context, const std::string& command,
                  const std::vector<std::string>& targets, bool all, const std::string& network,
                  std::vector<backup::ModuleInfo>& modules) {
  if (all == !targets.empty()) {
    cli::ReportFailure(command, "give either TARGETS or --all; nothing was sent");
    return cli::kExitUsage;
  }
  std::vector<std::string> addresses;
  std::set<std::string> seen;
  for (const std::string& text : targets) {
    const cli::ResolvedTarget target = cli::ResolveTarget(context, command, text, network);
    if (target.exitCode != cli::kExitDone) return target.exitCode;
    if (seen.insert(target.address).second) addresses.push_back(target.address);
  }
  context.app.discoverDone = 0;  // the line as it is now
  if (const int prepared = cli::PrepareInventory(context, command); prepared != cli::kExitDone)
    return prepared;
  const AdapterPtr adapter = context.app.SelectedAdapter();
  if (!adapter) {
    cli::ReportFailure(command, "no module was found");
    return cli::kExitFailed;
  }
  std::lock_guard guard(adapter->lock);
  if (all) {
    for (const auto& node : adapter->nodes) modules.push_back(backup::ModuleFromNode(*node));
  } else {
    for (const std::string& address : addresses) {
      const auto node = std::find_if(adapter->nodes.begin(), adapter->nodes.end(),
                                     [&](const auto& n) { return n->ipText == address; });
      if (node == adapter->nodes.end()) {
        cli::ReportFailure(command,
                           "module " + address + " did not answer the discovery; nothing was sent");
        return cli::kExitFailed;
      }
      modules.push_back(backup::ModuleFromNode(**node));
    }
  }
  if (modules.empty()) {
    cli::ReportFailure(command, "no module was found");
    return cli::kExitFailed;
  }
  return cli::kExitDone;
}

int PrintOutcomes(CliContext& context, const std::string& command,
                  const std::vector<backup::ModuleOutcome>& outcomes, bool restore,
                  bool succeeded) {
  size_t failed = 0;
  for (const auto& outcome : outcomes) failed += outcome.failed || outcome.incomplete ? 1 : 0;
  const auto describe = [restore](const backup::ModuleOutcome& o) {
    std::string text = o.Describe(restore);
    if (o.incomplete) text += std::string(" - ") + backup::kIncompleteOutcomeNote;
    return text;
  };
  if (context.json) {
    json rows = json::array();
    for (const auto& o : outcomes) {
      rows.push_back({{"module", o.ipText},
                      {"serial", o.serial},
                      {"result", describe(o)},
                      {"code", o.result},
                      {"failed", o.failed},
                      {"complete", !o.failed && !o.incomplete},
                      {"ms", o.elapsedMs}});
    }
    std::fprintf(context.out, "%s\n", json{{"modules", rows}, {"done", succeeded}}.dump().c_str());
  } else {
    std::vector<cli::ModuleOutcome> rows;
    for (const auto& o : outcomes) {
      rows.push_back({o.ipText, !o.failed && !o.incomplete,
                      base::Format("SN %u: %s", o.serial, describe(o).c_str()),
                      static_cast<uint32_t>(o.elapsedMs)});
    }
    cli::PrintSummary(context.out, rows);
  }
  for (const auto& o : outcomes) {
    if (o.failed) {
      cli::ReportFailure(command, base::Format("module %s (serial %u) failed: %s", o.ipText.c_str(),
                                               o.serial, o.Describe(restore).c_str()));
    } else if (o.incomplete) {
      cli::ReportFailure(command,
                         base::Format("module %s (serial %u) %s: %s", o.ipText.c_str(), o.serial,
                                      backup::kIncompleteOutcomeNote, o.Describe(restore).c_str()));
    }
  }
  return failed == 0 && succeeded ? cli::kExitDone : cli::kExitFailed;
}

void RememberFolder(CliContext& context, const std::string& path) {
  const std::filesystem::path folder = std::filesystem::absolute(path).parent_path();
  context.profile.SetString("Settings", kLocationKey, folder.string());
}

int RunBackupCommand(CliContext& context, const BackupArguments& arguments) {
  discovery::ScopedConnectInventory inventoryLink(context.app);
  if (arguments.file.empty()) {
    cli::ReportFailure("backup", "give the file to write with -o FILE.backup; nothing was sent");
    return cli::kExitUsage;
  }
  std::vector<backup::ModuleInfo> modules;
  if (const int selected = SelectModules(context, "backup", arguments.targets, arguments.all,
                                         arguments.network, modules);
      selected != cli::kExitDone)
    return selected;
  backup::BackupRunResult run;
  {
    WatchedTerminalProgress progress(context.cancel);
    run = backup::RunBackup(
        modules, [](const std::string& ip) { return backup::MakeModuleLink(ip); }, context.prompt,
        progress, {}, {}, backup::MakeReachabilityCheck(context.app));
  }
  bool written = false;
  if (run.writeFile) {
    written = backup::SaveBackupRun(run, arguments.file, context.prompt);
    if (written) RememberFolder(context, arguments.file);
  } else if (run.cancelled) {
    cli::ReportFailure("backup", "stopped; no file was written");
  } else {
    cli::ReportFailure("backup", "no file was written");
  }
  return PrintOutcomes(context, "backup", run.outcomes, false, written);
}

int LoadFile(const std::string& command, const std::string& path, backup::LoadResult& loaded) {
  loaded = backup::LoadBackupFile(path);
  if (loaded.status != backup::LoadStatus::kLoaded) {
    cli::ReportFailure(command, backup::LoadMessage(loaded, path));
    return cli::kExitFailed;
  }
  return cli::kExitDone;
}

std::string PositionText(uint8_t position) {
  switch (position) {
    case 0:
      return "middle";
    case 1:
      return "first";
    case 2:
      return "last";
    case 3:
      return "first and last";
    case 0xFF:
      return "unknown";
    default:
      return base::Format("%u", position);
  }
}

int RunShow(CliContext& context, const std::string& path) {
  backup::LoadResult loaded;
  if (const int status = LoadFile("backup show", path, loaded); status != cli::kExitDone)
    return status;
  if (context.json) {
    json rows = json::array();
    for (const auto& r : loaded.records) {
      rows.push_back(
          {{"serial", r.serialNumber},
           {"ip", r.ipText},
           {"mask", r.maskText},
           {"gateway", r.gatewayText},
           {"position", r.linePosition},
           {"firmware", base::Format("%u.%02u", r.firmwareVersion >> 8, r.firmwareVersion & 0xFF)},
           {"registers", r.registerCount},
           {"extended_registers", r.extendedRegisterCount},
           {"plc_program_length", r.plcProgram.size()},
           {"service_figures", r.serviceFigures}});
    }
    std::fprintf(context.out, "%s\n",
                 json{{"version", loaded.version}, {"records", rows}}.dump().c_str());
    return cli::kExitDone;
  }
  std::fprintf(context.out, "File version %u, %zu records\n", loaded.version,
               loaded.records.size());
  std::fprintf(context.out, "%-10s %-16s %-16s %-16s %-15s %-8s %-9s %-8s %s\n", "Serial", "IP",
               "Mask", "Gateway", "Position", "Firmware", "Registers", "PLC", "Service figures");
  for (const auto& r : loaded.records) {
    std::fprintf(context.out, "%-10u %-16s %-16s %-16s %-15s %-8s %-9u %-8zu %llu %llu %llu\n",
                 r.serialNumber, r.ipText.c_str(), r.maskText.c_str(), r.gatewayText.c_str(),
                 PositionText(r.linePosition).c_str(),
                 base::Format("%u.%02u", r.firmwareVersion >> 8, r.firmwareVersion & 0xFF).c_str(),
                 static_cast<unsigned>(r.registerCount ? r.registerCount - 1 : 0),
                 r.plcProgram.size(), static_cast<unsigned long long>(r.serviceFigures[0]),
                 static_cast<unsigned long long>(r.serviceFigures[1]),
                 static_cast<unsigned long long>(r.serviceFigures[2]));
  }
  return cli::kExitDone;
}

// The node screen's name of a register (with its unit), or "register N".
std::string RegisterName(int reg, const params::ImageView& image, uint16_t moduleType) {
  for (const auto& item : params::kDisplayItems) {
    for (const params::Side side : {params::Side::A, params::Side::B}) {
      if (!item.HasSides() && side == params::Side::B) continue;
      if (item.RegisterFor(side, moduleType) != reg) continue;
      std::string name = item.LabelFor(side, moduleType);
      const char* sideKey = params::SideKey(item.group, side);
      if (*sideKey) name += base::Format(" (%s)", sideKey);
      const std::string unit = params::UnitTextOf(item, side, image);
      if (!unit.empty()) name += " [" + unit + "]";
      return base::Format("register %d, %s", reg, name.c_str());
    }
  }
  return base::Format("register %d", reg);
}

int RunDiff(CliContext& context, const BackupArguments& arguments) {
  discovery::ScopedConnectInventory inventoryLink(context.app);
  backup::LoadResult loaded;
  if (const int status = LoadFile("backup diff", arguments.diffFile, loaded);
      status != cli::kExitDone)
    return status;
  std::vector<const backup::CNode_DataBackup*> chosen;
  if (arguments.diffTargets.empty()) {
    for (const auto& r : loaded.records) chosen.push_back(&r);
  } else {
    for (const std::string& text : arguments.diffTargets) {
      const cli::ResolvedTarget target =
          cli::ResolveTarget(context, "backup diff", text, arguments.network);
      if (target.exitCode != cli::kExitDone) return target.exitCode;
      const auto it = std::find_if(loaded.records.begin(), loaded.records.end(),
                                   [&](const auto& r) { return r.ipText == target.address; });
      if (it == loaded.records.end()) {
        cli::ReportFailure("backup diff", "the file holds no record of " + target.address);
        return cli::kExitFailed;
      }
      chosen.push_back(&*it);
    }
  }
  json rows = json::array();
  int status = cli::kExitDone;
  for (const backup::CNode_DataBackup* record : chosen) {
    const uint16_t slots = record->registerCount;
    std::vector<uint16_t> live(slots, 0);
    try {
      CBlockingSocket client;
      client._Connect(record->ipText, CBlockingSocket::kModbusPort, false);
      for (uint16_t first = 1; first < slots; first += 100) {
        const uint16_t count = static_cast<uint16_t>(std::min<int>(100, slots - first));
        client.ReadMultiplyRegisters(first, count, live.data() + first);
      }
    } catch (const CBlockingSocketException& e) {
      cli::ReportFailure("backup diff", base::Format("module %s: %s", record->ipText.c_str(),
                                                     cli::DescribeSocketFailure(e).c_str()));
      status = cli::kExitFailed;
      continue;
    }
    std::array<uint16_t, params::kImageWords> values{};
    for (uint16_t r = 1; r < slots && r < params::kImageWords; ++r)
      values[r] = backup::RegisterValue(live[r]);
    const params::ImageView image{params::ImageSpan(values)};
    const uint16_t moduleType = values[18];
    size_t differences = 0;
    for (uint16_t r = 1; r < slots && r < record->registers.size(); ++r) {
      const uint16_t was = backup::RegisterValue(record->registers[r]);
      const uint16_t now = values[r];
      if (was == now) continue;
      ++differences;
      const std::string name = RegisterName(r, image, moduleType);
      if (context.json) {
        rows.push_back({{"module", record->ipText},
                        {"register", r},
                        {"name", name},
                        {"backup", was},
                        {"now", now}});
      } else {
        std::fprintf(context.out, "%-16s %-60s backup %5u  now %5u\n", record->ipText.c_str(),
                     name.c_str(), was, now);
      }
    }
    if (!context.json && differences == 0)
      std::fprintf(context.out, "%-16s no register differs\n", record->ipText.c_str());
  }
  if (context.json) std::fprintf(context.out, "%s\n", json{{"differences", rows}}.dump().c_str());
  return status;
}

int RunRestoreCommand(CliContext& context, const RestoreArguments& arguments) {
  discovery::ScopedConnectInventory inventoryLink(context.app);
  backup::LoadResult loaded;
  if (const int status = LoadFile("restore", arguments.file, loaded); status != cli::kExitDone)
    return status;
  RememberFolder(context, arguments.file);
  std::vector<backup::ModuleInfo> modules;
  if (const int selected = SelectModules(context, "restore", arguments.targets, arguments.all,
                                         arguments.network, modules);
      selected != cli::kExitDone)
    return selected;
  backup::RestoreOptions options;
  options.byIp = arguments.byIp;
  options.fileName = arguments.file;
  auto line = backup::MakeLineOperations(context.app);
  backup::RestoreRunResult result;
  {
    WatchedTerminalProgress progress(context.cancel);
    result = backup::RunRestore(
        std::move(loaded.records), modules,
        [](const std::string& ip) { return backup::MakeModuleLink(ip); }, *line, context.prompt,
        progress, options);
  }
  if (!result.done && result.outcomes.empty()) {
    cli::ReportFailure("restore", result.cancelled ? "not carried out" : result.message);
    return cli::kExitFailed;
  }
  return PrintOutcomes(context, "restore", result.outcomes, true, result.done);
}

const CliCommandRegistrar kBackupCommand(
    "backup",
    "A line's configuration into one file (BACKUP TARGETS...|--all -o FILE.backup), the records "
    "of a file (BACKUP SHOW FILE) or what changed since (BACKUP DIFF FILE [TARGETS...])",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto arguments = std::make_shared<BackupArguments>();
      sub.add_option("targets", arguments->targets,
                     "Node numbers, IPv4 addresses or sn:SERIAL of the modules");
      sub.add_flag("--all", arguments->all, "Every module a discovery finds");
      sub.add_option("-o,--output", arguments->file, "Backup file to write (*.backup)");
      sub.add_option("--net", arguments->network,
                     "Network of node numbers (default: the profile's \"Default Net\")");
      CLI::App* show = sub.add_subcommand("show", "The records of a backup file");
      show->add_option("file", arguments->showFile, "Backup file")->required();
      CLI::App* diff = sub.add_subcommand(
          "diff", "The registers in which each live module differs from its record");
      diff->add_option("file", arguments->diffFile, "Backup file")->required();
      diff->add_option("targets", arguments->diffTargets,
                       "Modules to compare (default: every record of the file)");
      diff->add_option("--net", arguments->network, "Network of node numbers");
      return [&context, arguments, show, diff] {
        if (show->parsed()) return RunShow(context, arguments->showFile);
        if (diff->parsed()) return RunDiff(context, *arguments);
        return RunBackupCommand(context, *arguments);
      };
    });

const CliCommandRegistrar kRestoreCommand(
    "restore",
    "The records of a backup file back onto the modules (RESTORE FILE [--by-ip] "
    "TARGETS...|--all)",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto arguments = std::make_shared<RestoreArguments>();
      sub.add_option("file", arguments->file, "Backup file")->required();
      sub.add_option("targets", arguments->targets,
                     "Node numbers, IPv4 addresses or sn:SERIAL of the modules");
      sub.add_flag("--all", arguments->all, "Every module a discovery finds");
      sub.add_flag("--by-ip", arguments->byIp,
                   "Match records by serial number and move modules to their recorded addresses");
      sub.add_option("--net", arguments->network,
                     "Network of node numbers (default: the profile's \"Default Net\")");
      return [&context, arguments] { return RunRestoreCommand(context, *arguments); };
    });

}  // namespace
