// quillmar-cli diaglog / history: a module's diagnostic event logs and its drive history.
//
//   diaglog TARGET   both logs (registers 10200 and 10300, 600 each) as the diagnostic log lists
//                    them: age, cause, description, value
//   history TARGET   the drive history the module's service text port answers to "7"
//
// TARGET is parsed by the one target parser (params/target.h). --json prints one object.
#include <arpa/inet.h>

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/language.h"
#include "cli_command.h"
#include "comm/blocking_socket.h"
#include "diag/diagnostic_log.h"
#include "diag/drive_history.h"
#include "discovery/connect_inventory_link.h"

namespace {

using nlohmann::json;

// The target and its --net option, both right after the command's name in the help.
std::shared_ptr<cli::TargetArguments> AddTargetArguments(CLI::App& sub) {
  auto arguments = cli::AddTargetArgument(sub);
  cli::AddNetOption(sub, *arguments);
  return arguments;
}

// Reads `count` registers from `first` in host order; false (reported) when the read fails.
bool ReadWords(CBlockingSocket& client, const cli::ResolvedTarget& target, uint16_t first,
               uint16_t count, std::vector<uint16_t>& words) {
  words.assign(count, 0);
  std::string cause;
  try {
    if (client.ReadMultiplyRegisters(first, count, words.data()) == 1) {
      for (uint16_t& word : words) word = ntohs(word);
      return true;
    }
    cause = "the answer did not match the request";
  } catch (const CBlockingSocketException& e) {
    const int code = cli::ModbusExceptionOf(e);
    cause = code != 0 ? cli::ModbusExceptionWords(code) : cli::DescribeSocketFailure(e);
  }
  cli::ReportFailure("diaglog", base::Format("module %s: ReadMultiplyRegisters(%d, %d) Error! %s",
                                             target.address.c_str(), first, count, cause.c_str()));
  words.clear();
  return false;
}

struct ReadLog {
  std::string name;
  std::vector<diag::LogEntry> entries;
};

int RunDiagLog(CliContext& context, const cli::ResolvedTarget& target) {
  CBlockingSocket client;
  try {
    client._Connect(target.address, CBlockingSocket::kModbusPort, true);
  } catch (const CBlockingSocketException& e) {
    cli::ReportFailure("diaglog",
                       base::Format("Verbindung zu Modul IP %s (IP: \"%s\") nicht möglich. (%s)",
                                    target.node.c_str(), target.address.c_str(),
                                    cli::DescribeSocketFailure(e).c_str()));
    return context.chooser.ChoiceRefused() ? cli::kExitChooseAdapter : cli::kExitFailed;
  }
  // The connection stands, but no adapter was chosen for the target: nothing is read on a guess.
  if (context.chooser.ChoiceRefused()) {
    cli::ReportFailure("diaglog",
                       "several adapters carry modules and none could be chosen; the command was "
                       "not carried out");
    return cli::kExitChooseAdapter;
  }
  bool complete = true;
  std::vector<uint16_t> words;
  // Log 1 is kept only by modules whose register 17 does not name the family 0x0C; when
  // register 17 cannot be read, log 1 is tried all the same.
  const bool firstLog = !ReadWords(client, target, 17, 1, words) || diag::HasFirstLog(words[0]);
  if (words.empty()) complete = false;
  std::vector<ReadLog> logs;
  if (firstLog) logs.push_back({"Log 1", {}});
  logs.push_back({"Log 2", {}});
  for (ReadLog& log : logs) {
    const uint16_t first = log.name == "Log 1" ? diag::kFirstLogRegister : diag::kSecondLogRegister;
    // A log that cannot be read is shown empty; the other is still shown.
    if (ReadWords(client, target, first, diag::kLogRegisters, words)) {
      log.entries = diag::DecodeLogEntries(words);
    } else {
      complete = false;
    }
  }
  if (context.json) {
    json result{{"ip", target.address}, {"logs", json::array()}};
    for (const ReadLog& log : logs) {
      json entries = json::array();
      for (const diag::LogEntry& entry : log.entries) {
        const diag::LogRow row = diag::LogRowOf(entry);
        entries.push_back({{"time_ms", entry.timeMs},
                           {"time", row.time},
                           {"category", row.cause},
                           {"code", entry.code},
                           {"text", row.description},
                           {"value", row.value}});
      }
      result["logs"].push_back({{"name", log.name}, {"entries", entries}});
    }
    std::fprintf(context.out, "%s\n", result.dump().c_str());
  } else {
    for (const ReadLog& log : logs) {
      std::fprintf(context.out, "%s of %s: %zu entries\n", log.name.c_str(), target.address.c_str(),
                   log.entries.size());
      std::fprintf(context.out, "%-20s  %-14s  %-48s  %s\n",
                   std::string(diag::kLogColumns[0].title).c_str(),
                   std::string(diag::kLogColumns[1].title).c_str(),
                   std::string(diag::kLogColumns[2].title).c_str(),
                   std::string(diag::kLogColumns[3].title).c_str());
      for (const diag::LogEntry& entry : log.entries) {
        const diag::LogRow row = diag::LogRowOf(entry);
        std::fprintf(context.out, "%-20s  %-14s  %-48s  %s\n", row.time.c_str(), row.cause.c_str(),
                     row.description.c_str(), row.value.c_str());
      }
    }
  }
  return complete ? cli::kExitDone : cli::kExitFailed;
}

int RunHistory(CliContext& context, const cli::ResolvedTarget& target) {
  CCommandSocket port;
  if (port.Create() != comm::kStatusOk || !port.ConnectTelnet(target.address)) {
    cli::ReportFailure("history",
                       base::Format("module %s: no welcome on the service port (TCP %u)",
                                    target.address.c_str(), CCommandSocket::kTelnetPort));
    return cli::kExitFailed;
  }
  if (port.Send(diag::kHistoryCommand, 1, 1000) != 1) {
    cli::ReportFailure("history", base::Format("module %s: the command \"7\" could not be sent",
                                               target.address.c_str()));
    return cli::kExitFailed;
  }
  // Up to 31 receives of 2048 bytes, 1 s each; a second without data ends the answer early.
  std::string answer;
  char buffer[2048];
  for (int k = 0; k < 31; ++k) {
    const int got = port.Receive(buffer, sizeof buffer, 1000);
    if (got <= 0) break;
    answer.append(buffer, static_cast<size_t>(got));
  }
  port.Cleanup();
  if (answer.empty()) {
    cli::ReportFailure("history",
                       base::Format("module %s: no answer to \"7\"", target.address.c_str()));
    return cli::kExitFailed;
  }
  const auto records = diag::ParseHistory(answer);
  const auto rows = diag::HistoryRows(records);
  if (context.json) {
    json drives = json::array();
    for (const diag::HistoryRow& row : rows) {
      const diag::HistoryRecord& record = records[static_cast<size_t>(row.record - 1)];
      drives.push_back({{"record", row.record},
                        {"serial", record.number[diag::kHistorySerial]},
                        {"date", record.number[diag::kHistoryDate]},
                        {"serial_text", row.columns[1]},
                        {"motor", row.columns[2]},
                        {"operating", row.columns[3]},
                        {"current_limit", row.columns[4]},
                        {"overheat", row.columns[5]},
                        {"on_off_cycles", row.columns[6]},
                        {"over_voltage", row.columns[7]},
                        {"under_voltage", row.columns[8]}});
    }
    std::fprintf(context.out, "%s\n",
                 json{{"ip", target.address}, {"drives", drives}}.dump().c_str());
    return cli::kExitDone;
  }
  std::fprintf(context.out, "Drive history of %s: %zu drives\n", target.address.c_str(),
               rows.size());
  // The titles of the history's columns in the chosen language ("Motor" is this list's own).
  // A copy: without a translation the lookup hands back the source text it was given.
  const auto title = [](size_t column) -> std::string {
    const std::string source(diag::kHistoryColumns[column].title);
    return base::Translate("DriveHistory", source.c_str());
  };
  std::fprintf(context.out, "%-4s %-22s %-14s %-14s %-16s %-12s %-18s %-13s %s\n", title(0).c_str(),
               title(1).c_str(), "Motor", title(3).c_str(), title(4).c_str(), title(5).c_str(),
               title(6).c_str(), title(7).c_str(), title(8).c_str());
  for (const diag::HistoryRow& row : rows) {
    std::fprintf(context.out, "%-4s %-22s %-14s %-14s %-16s %-12s %-18s %-13s %s\n",
                 row.columns[0].c_str(), row.columns[1].c_str(), row.columns[2].c_str(),
                 row.columns[3].c_str(), row.columns[4].c_str(), row.columns[5].c_str(),
                 row.columns[6].c_str(), row.columns[7].c_str(), row.columns[8].c_str());
  }
  return cli::kExitDone;
}

const CliCommandRegistrar kDiagLogCommand(
    "diaglog", "List a module's two diagnostic event logs (DIAGLOG TARGET)",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto arguments = AddTargetArguments(sub);
      return [&context, arguments] {
        return cli::RunOnTarget(
            context, "diaglog", *arguments,
            [&context](const cli::ResolvedTarget& target) { return RunDiagLog(context, target); });
      };
    });

const CliCommandRegistrar kHistoryCommand("history",
                                          "List the drive history a module keeps (HISTORY TARGET)",
                                          [](CLI::App& sub, CliContext& context) -> CliRun {
                                            auto arguments = AddTargetArguments(sub);
                                            return [&context, arguments] {
                                              return cli::RunOnTarget(
                                                  context, "history", *arguments,
                                                  [&context](const cli::ResolvedTarget& target) {
                                                    return RunHistory(context, target);
                                                  });
                                            };
                                          });

}  // namespace
