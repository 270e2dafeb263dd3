// quillmar-cli read / write / image: holding registers of one module over the register client.
//
//   read TARGET FIRST [COUNT]          registers in host order, decimal and hex, one per line
//   write TARGET REG=VALUE... [--save] function 6 (single) or 16 (runs of consecutive registers)
//   image TARGET                       one full refresh as the node screen does it
//
// TARGET is parsed by the one target parser (params/target.h): a node number (address = the
// network's first three bytes and node + 19; the network from --net or the profile's "Default
// Net"), an IPv4 address or sn:SERIAL. Every number is decimal. Registers are the module's own
// numbers: the mirror map of reversed modules is not applied to read and write.
#include <arpa/inet.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/numbers.h"
#include "cli_command.h"
#include "comm/blocking_socket.h"
#include "comm/event_log.h"
#include "discovery/connect_inventory_link.h"
#include "params/display_items.h"
#include "params/register_map.h"
#include "params/units.h"

namespace registercli {

using cli::ResolvedTarget;
using nlohmann::json;

constexpr uint16_t kMaxReadCount = CBlockingSocket::kMaxReadRegisters;

// Connects; on failure reports the node screen's text with the cause.
bool Connect(CBlockingSocket& client, const ResolvedTarget& target, const std::string& command) {
  try {
    client._Connect(target.address, CBlockingSocket::kModbusPort, true);
    return true;
  } catch (const CBlockingSocketException& e) {
    cli::ReportFailure(command,
                       base::Format("Verbindung zu Modul IP %s (IP: \"%s\") nicht möglich. (%s)",
                                    target.node.c_str(), target.address.c_str(),
                                    cli::DescribeSocketFailure(e).c_str()));
    return false;
  }
}

// The connection stands, but the adapter chooser found no adapter for the target: no write or
// read of the command goes out on a guess.
bool ChoiceRefused(CliContext& context, const std::string& command) {
  if (!context.chooser.ChoiceRefused()) return false;
  cli::ReportFailure(
      command,
      "several adapters carry modules and none could be chosen; the command was not carried out");
  return true;
}

// A connection that failed after the chooser found no adapter ends with the chooser's status.
int FailedConnectStatus(CliContext& context) {
  return context.chooser.ChoiceRefused() ? cli::kExitChooseAdapter : cli::kExitFailed;
}

std::string LostText(const CBlockingSocket& client, const ResolvedTarget& target) {
  if (client.IsOpen()) return std::string();
  return base::Format(" Connection to the module \"%s\" is lost !", target.address.c_str());
}

int RunRead(CliContext& context, const ResolvedTarget& target, const std::string& firstText,
            const std::string& countText) {
  const std::string command = "read";
  const base::ParsedNumber first = base::ParseWholeNumber(firstText, 1, 65535);
  if (!first.value) {
    cli::ReportFailure(command, "FIRST must be a register number from 1 to 65535: " +
                                    first.refusal + "; nothing was sent");
    return cli::kExitUsage;
  }
  const base::ParsedNumber count = base::ParseWholeNumber(countText, 1, kMaxReadCount);
  if (!count.value || *first.value + *count.value - 1 > 65535) {
    cli::ReportFailure(
        command,
        base::Format("COUNT must be from 1 to %u and stay below register 65536", kMaxReadCount) +
            (count.value ? std::string() : ": " + count.refusal) + "; nothing was sent");
    return cli::kExitUsage;
  }
  CBlockingSocket client;
  if (!Connect(client, target, command)) return FailedConnectStatus(context);
  if (ChoiceRefused(context, command)) return cli::kExitChooseAdapter;
  std::vector<uint16_t> words(*count.value, 0);
  const auto f = static_cast<uint16_t>(*first.value);
  const auto c = static_cast<uint16_t>(*count.value);
  try {
    if (client.ReadMultiplyRegisters(f, c, words.data()) != 1) {
      cli::ReportFailure(command, base::Format("module %s: ReadMultiplyRegisters(%d, %d) Error! "
                                               "(the answer did not match the request)",
                                               target.address.c_str(), f, c) +
                                      LostText(client, target));
      return cli::kExitFailed;
    }
  } catch (const CBlockingSocketException& e) {
    const int code = cli::ModbusExceptionOf(e);
    cli::ReportFailure(
        command, base::Format("module %s: ReadMultiplyRegisters(%d, %d) Error! ",
                              target.address.c_str(), f, c) +
                     (code != 0 ? cli::ModbusExceptionWords(code) : cli::DescribeSocketFailure(e)) +
                     LostText(client, target));
    return cli::kExitFailed;
  }
  for (uint16_t& word : words) word = ntohs(word);
  if (context.json) {
    json result{{"ip", target.address}, {"first", *first.value}, {"values", words}};
    std::fprintf(context.out, "%s\n", result.dump().c_str());
  } else {
    for (size_t k = 0; k < words.size(); ++k) {
      std::fprintf(context.out, "%llu = %u (0x%04X)\n",
                   static_cast<unsigned long long>(*first.value + k), words[k], words[k]);
    }
  }
  return cli::kExitDone;
}

struct Assignment {
  uint16_t reg;
  uint16_t value;
};

// "REG=VALUE" with REG 1..65535 (decimal) and VALUE 0..65535 (decimal or 0x-hex); a value
// that does not fit 16 bits is refused before anything is sent.
std::optional<Assignment> ParseAssignment(const std::string& text, std::string* error) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos) {
    *error = base::QuotedInput(text) + " is not REG=VALUE";
    return std::nullopt;
  }
  const base::ParsedNumber reg = base::ParseWholeNumber(text.substr(0, equals), 1, 65535);
  if (!reg.value) {
    *error = base::QuotedInput(text) + ": the register must be a decimal number from 1 to 65535 (" +
             reg.refusal + ")";
    return std::nullopt;
  }
  const base::ParsedNumber value =
      base::ParseWholeNumber(text.substr(equals + 1), 0, 65535, base::NumberBase::DecimalOrHex);
  if (!value.value) {
    *error = base::QuotedInput(text) +
             (value.outOfRange ? ": the value does not fit a 16-bit register (0 to 65535)"
                               : ": the value must be a decimal number from 0 to 65535, or "
                                 "0x-hex (" +
                                     value.refusal + ")");
    return std::nullopt;
  }
  return Assignment{static_cast<uint16_t>(*reg.value), static_cast<uint16_t>(*value.value)};
}

// One step of a write command and how it ended.
struct StepResult {
  bool ok = false;
  std::string reason;  // why it failed, in words
};

// Writes a run of consecutive registers (function 6 for one, 16 for more). A failed
// connection gets one reconnect and one more try, as the register client's writes do; a
// refusal by the module is final.
StepResult WriteRun(CBlockingSocket& client, const ResolvedTarget& target, uint16_t first,
                    const std::vector<uint16_t>& values) {
  std::vector<uint16_t> wire;
  for (uint16_t value : values) wire.push_back(htons(value));
  const auto count = static_cast<uint16_t>(values.size());
  StepResult result;
  for (int round = 0; round < 2; ++round) {
    try {
      uint16_t echo = 0;
      if (client.WriteMultiplyRegisters(first, count, wire.data(), &echo) == 1) {
        result.ok = true;
        return result;
      }
      result.reason =
          "the module's answer did not match the request; the value may have been "
          "written";
      return result;
    } catch (const CBlockingSocketException& e) {
      if (const int code = cli::ModbusExceptionOf(e)) {
        result.reason = cli::ModbusExceptionWords(code);
        return result;
      }
      result.reason = "the module did not answer; the value may have been written (" +
                      cli::DescribeSocketFailure(e) + ")";
    }
    if (round == 1) break;
    try {
      client._Connect(target.address, CBlockingSocket::kModbusPort, true);
    } catch (const CBlockingSocketException& e) {
      result.reason += "; reconnecting failed: " + cli::DescribeSocketFailure(e);
      return result;
    }
  }
  return result;
}

StepResult SaveRun(CBlockingSocket& client, uint16_t first, uint16_t count) {
  StepResult result;
  if (client.SaveToFlashGroup(first, count) == 1) {
    result.ok = true;
    return result;
  }
  std::string last = client.lastError();
  while (!last.empty() && (last.back() == '\n' || last.back() == ' ')) last.pop_back();
  result.reason =
      "the module did not confirm the save to flash within 3 s; the registers are "
      "written but may not be in flash";
  if (!last.empty()) result.reason += " (" + last + ")";
  return result;
}

std::string ValuesText(const std::vector<Assignment>& assignments, size_t from, size_t to) {
  std::string text;
  for (size_t i = from; i < to; ++i) {
    if (!text.empty()) text += ", ";
    text += base::Format("%u=%u", assignments[i].reg, assignments[i].value);
  }
  return text;
}

int RunWrite(CliContext& context, const ResolvedTarget& target,
             const std::vector<std::string>& assignmentTexts, bool save) {
  const std::string command = "write";
  std::vector<Assignment> assignments;
  for (const std::string& text : assignmentTexts) {
    std::string error;
    const auto assignment = ParseAssignment(text, &error);
    if (!assignment) {
      cli::ReportFailure(command, error + "; nothing was written");
      return cli::kExitUsage;
    }
    assignments.push_back(*assignment);
  }
  if (assignments.empty()) {
    cli::ReportFailure(command, "nothing to write");
    return cli::kExitUsage;
  }
  CBlockingSocket client;
  if (!Connect(client, target, command)) return FailedConnectStatus(context);
  if (ChoiceRefused(context, command)) return cli::kExitChooseAdapter;
  json done = json::array();
  json failed = nullptr;
  // Runs of consecutive registers in the order given: one register by function 6, more by
  // function 16 in writes of at most 127 registers; with --save each run is saved after it is
  // written. The first failure ends the command; what was done before it is reported.
  size_t k = 0;
  while (k < assignments.size() && failed.is_null()) {
    size_t end = k + 1;
    while (end < assignments.size() && end - k < CBlockingSocket::kMaxWriteRegisters &&
           assignments[end].reg == assignments[end - 1].reg + 1) {
      ++end;
    }
    const uint16_t first = assignments[k].reg;
    const auto count = static_cast<uint16_t>(end - k);
    std::vector<uint16_t> values;
    for (size_t i = k; i < end; ++i) values.push_back(assignments[i].value);
    const std::string operation =
        count == 1 ? base::Format("WriteRegister(%d, %d)", first, values[0])
                   : base::Format("WriteMultipleRegisters(%d, %d)", first, count);
    const StepResult written = WriteRun(client, target, first, values);
    if (!written.ok) {
      failed = {{"step", "write"}, {"operation", operation}, {"register", first},
                {"count", count},  {"values", values},       {"reason", written.reason}};
      cli::ReportFailure(
          command,
          base::Format("module %s: %s Error! %s: %s", target.address.c_str(), operation.c_str(),
                       ValuesText(assignments, k, end).c_str(), written.reason.c_str()) +
              LostText(client, target));
      break;
    }
    cli::LogChange(command,
                   base::Format("module %s: %s done: %s", target.address.c_str(), operation.c_str(),
                                ValuesText(assignments, k, end).c_str()));
    StepResult saved;
    if (save) {
      saved = SaveRun(client, first, count);
      const std::string saveOperation = base::Format("SaveToFlashGroup(%d, %d)", first, count);
      if (saved.ok) {
        cli::LogChange(command, base::Format("module %s: %s done", target.address.c_str(),
                                             saveOperation.c_str()));
      } else {
        failed = {{"step", "save"}, {"operation", saveOperation}, {"register", first},
                  {"count", count}, {"values", values},           {"reason", saved.reason}};
        cli::ReportFailure(
            command, base::Format("module %s: %s Error! after writing %s: %s",
                                  target.address.c_str(), saveOperation.c_str(),
                                  ValuesText(assignments, k, end).c_str(), saved.reason.c_str()) +
                         LostText(client, target));
      }
    }
    for (size_t i = k; i < end; ++i) {
      done.push_back({{"register", assignments[i].reg},
                      {"value", assignments[i].value},
                      {"saved", save && saved.ok}});
      if (!context.json) {
        std::fprintf(context.out, "%u = %u (0x%04X)%s\n", assignments[i].reg, assignments[i].value,
                     assignments[i].value,
                     save ? (saved.ok ? " saved" : " written, not saved") : "");
      }
    }
    k = end;
  }
  if (!failed.is_null()) {
    // k is the first assignment the failed step did not finish (a failed save's registers are
    // written and already listed).
    json notDone = json::array();
    for (size_t i = k; i < assignments.size(); ++i) {
      notDone.push_back({{"register", assignments[i].reg}, {"value", assignments[i].value}});
    }
    if (!context.json && k < assignments.size()) {
      std::fprintf(stderr, "quillmar-cli write: not written: %s\n",
                   ValuesText(assignments, k, assignments.size()).c_str());
    }
    failed["notWritten"] = notDone;
  }
  if (context.json) {
    json result{{"ip", target.address}, {"saved", save}, {"written", done}};
    result["ok"] = failed.is_null();
    if (!failed.is_null()) result["failed"] = failed;
    std::fprintf(context.out, "%s\n", result.dump().c_str());
  }
  return failed.is_null() ? cli::kExitDone : cli::kExitFailed;
}

std::string FirmwareText(uint16_t r25, uint16_t r12, uint8_t family) {
  const int high = r25 >> 8;
  const int low = r25 & 0xFF;
  if (family == 0x09 || family == 0x0C)
    return base::Format("%d.%02d.%d", high - 100, low, r12 >> 8);
  if (family == 0x03) return base::Format("%d.%02d", high - 100, low);
  return base::Format("%d.%02d", high, low);
}

// The number a slot was read from: the pseudo-registers for slots 1..4, else the slot.
uint32_t RegisterOfSlot(int slot) {
  switch (slot) {
    case 1:
      return 10002;
    case 2:
      return 10102;
    case 3:
      return 10001;
    case 4:
      return 10101;
    default:
      return static_cast<uint32_t>(slot);
  }
}

int RunImage(CliContext& context, const ResolvedTarget& target) {
  const std::string command = "image";
  std::FILE* out = context.out;
  const bool asJson = context.json;
  CBlockingSocket client;
  if (!Connect(client, target, command)) return FailedConnectStatus(context);
  if (ChoiceRefused(context, command)) return cli::kExitChooseAdapter;
  params::ClientRegisterAccess access(client);
  params::RegisterMap map(access);
  const params::RegisterMap::ReadOutcome outcome = map.FullRead();
  if (!outcome.ok) {
    std::string last = client.lastError();
    while (!last.empty() && (last.back() == '\n' || last.back() == ' ')) last.pop_back();
    cli::ReportFailure(
        command, base::Format("module %s: %s", target.address.c_str(), outcome.error.c_str()) +
                     (last.empty() ? std::string() : " " + last) + LostText(client, target));
    return cli::kExitFailed;
  }
  const params::RegisterImage& image = map.image();
  const uint8_t family = static_cast<uint8_t>(image.Get(17) >> 8);
  const uint32_t serial = uint32_t{image.Get(29)} * 65536u + image.Get(28);
  const std::string mac = base::Format(
      "%02X:%02X:%02X:%02X:%02X:%02X", image.Get(30) >> 8, image.Get(30) & 0xFF, image.Get(31) >> 8,
      image.Get(31) & 0xFF, image.Get(32) >> 8, image.Get(32) & 0xFF);
  const std::string address = base::Format("%d.%d.%d.%d", image.Get(26) >> 8, image.Get(26) & 0xFF,
                                           image.Get(27) >> 8, image.Get(27) & 0xFF);
  const std::string firmware = FirmwareText(image.Get(25), image.Get(12), family);
  const bool mirrored = map.MirrorInForce();
  if (asJson) {
    nlohmann::ordered_json registers = nlohmann::ordered_json::object();  // register order
    for (int slot = 0; slot < params::RegisterImage::kSize; ++slot) {
      if (map.ReadSlots().test(static_cast<size_t>(slot))) {
        registers[std::to_string(RegisterOfSlot(slot))] = image.Get(slot);
      }
    }
    nlohmann::ordered_json result{{"ip", target.address},
                                  {"serial", serial},
                                  {"mac", mac},
                                  {"address", address},
                                  {"firmware", firmware},
                                  {"family", base::Format("0x%02X", family)},
                                  {"type", image.Get(18)},
                                  {"variant", image.Get(6)},
                                  {"mirrored", mirrored},
                                  {"extendedReadFailures", map.extendedFailures()},
                                  {"registers", registers}};
    std::fprintf(out, "%s\n", result.dump().c_str());
    return 0;
  }
  std::fprintf(out,
               "module %s: serial %u, MAC %s, address %s, firmware %s, family 0x%02X, type %u%s\n",
               target.address.c_str(), serial, mac.c_str(), address.c_str(), firmware.c_str(),
               family, image.Get(18), mirrored ? ", mounted reversed (sides exchanged)" : "");
  for (int slot = 0; slot < params::RegisterImage::kSize; ++slot) {
    if (!map.ReadSlots().test(static_cast<size_t>(slot))) continue;
    std::fprintf(out, "%u = %u (0x%04X)\n", RegisterOfSlot(slot), image.Get(slot), image.Get(slot));
  }
  return 0;
}

}  // namespace registercli

namespace {

const CliCommandRegistrar kReadCommand(
    "read", "Read holding registers of a module (READ TARGET FIRST [COUNT])",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto arguments = cli::AddTargetArgument(sub);
      auto first = std::make_shared<std::string>();
      auto count = std::make_shared<std::string>("1");
      sub.add_option("first", *first, "First register (numbered from 1)")->required();
      sub.add_option("count", *count, "Number of registers (default 1)");
      cli::AddNetOption(sub, *arguments);
      return [&context, arguments, first, count] {
        return cli::RunOnTarget(context, "read", *arguments,
                                [&](const cli::ResolvedTarget& target) {
                                  return registercli::RunRead(context, target, *first, *count);
                                });
      };
    });

const CliCommandRegistrar kWriteCommand(
    "write", "Write holding registers of a module (REG=VALUE...; --save saves them to flash)",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto arguments = cli::AddTargetArgument(sub);
      auto assignments = std::make_shared<std::vector<std::string>>();
      auto save = std::make_shared<bool>(false);
      sub.add_option("assignments", *assignments,
                     "REG=VALUE, register 1..65535 (decimal), value 0..65535 (decimal or "
                     "0x-hex); consecutive registers go into one write")
          ->required();
      sub.add_flag("--save", *save, "Save the written registers to the module's flash");
      cli::AddNetOption(sub, *arguments);
      return [&context, arguments, assignments, save] {
        return cli::RunOnTarget(
            context, "write", *arguments, [&](const cli::ResolvedTarget& target) {
              return registercli::RunWrite(context, target, *assignments, *save);
            });
      };
    });

const CliCommandRegistrar kImageCommand(
    "image", "Read a module's register image as the node screen does (groups, extended reads)",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto arguments = cli::AddTargetArgument(sub);
      cli::AddNetOption(sub, *arguments);
      return [&context, arguments] {
        return cli::RunOnTarget(context, "image", *arguments,
                                [&](const cli::ResolvedTarget& target) {
                                  return registercli::RunImage(context, target);
                                });
      };
    });

}  // namespace
