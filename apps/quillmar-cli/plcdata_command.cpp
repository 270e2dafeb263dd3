// quillmar-cli plcdata: the PLC data area of a module in PLC mode (UDP 55559).
//
//   plcdata TARGET read OFFSET LENGTH [--json]    bytes, in 1000-byte requests
//   plcdata TARGET write OFFSET VALUE --size 1|2|4
//   plcdata TARGET set-bit|clear-bit OFFSET BIT
//   plcdata TARGET watch --tags FILE               the tags' values, refreshed on the PLC data
//                                                  view's cycle until interrupted; only for a
//                                                  module that runs the program the file names
//
// Every number is decimal (VALUE also 0x-hex or negative); everything is checked before the
// first request goes out.
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/numbers.h"
#include "cli_command.h"
#include "comm/event_log.h"
#include "config/plc_program.h"
#include "discovery/connect_inventory_link.h"
#include "platform/tick.h"
#include "plc/exchange.h"
#include "plc/plc_data_model.h"

namespace {

using nlohmann::json;

constexpr const char* kPlcDataCommandName = "plcdata";

struct PlcArguments {
  std::string target;
  std::string network;
  std::string action;
  std::vector<std::string> values;
  std::string size;
  std::string tags;
};

int Usage(const std::string& text) {
  cli::ReportFailure(kPlcDataCommandName, text + "; nothing was sent");
  return cli::kExitUsage;
}

// Why a request that ended did not do its work, or "" when it did.
std::string Failure(const plc::CTagRequest& r) {
  switch (r.state) {
    case plc::kStateAnswered:
      return "";
    case plc::kStateError:
      return base::Format("module %s refused the request (status 0x%02X)", r.address.c_str(),
                          r.AnswerStatus());
    case plc::kStateSendFailed:
      return base::Format("the request to %s could not be sent", r.address.c_str());
    default:
      return base::Format("module %s did not answer within %u ms", r.address.c_str(),
                          plc::kAnswerTimeoutMs);
  }
}

int RunRead(CliContext& context, const std::string& address, const PlcArguments& a) {
  if (a.values.size() != 2) return Usage("read needs OFFSET LENGTH");
  const auto offset = base::WholeNumber(a.values[0], 0, plc::kMaxDataSize - 1);
  const auto length = base::WholeNumber(a.values[1], 1, plc::kMaxDataSize);
  if (!offset || !length || *offset + *length > plc::kMaxDataSize)
    return Usage("OFFSET (0..9999) and LENGTH (1..10000) must stay inside the 10000 bytes");
  std::vector<uint8_t> bytes;
  for (uint64_t at = *offset; at < *offset + *length; at += plc::kBlockSize) {
    const auto count =
        static_cast<uint16_t>(std::min<uint64_t>(plc::kBlockSize, *offset + *length - at));
    const plc::CTagRequest r =
        plc::RunRequest(plc::ProcessRequestManager(),
                        plc::CTagRequest::Read(address, static_cast<uint16_t>(at), count));
    if (const std::string why = Failure(r); !why.empty()) {
      cli::ReportFailure(kPlcDataCommandName, why);
      return cli::kExitFailed;
    }
    if (r.AnswerDataLength() < count) {
      cli::ReportFailure(
          kPlcDataCommandName,
          base::Format("module %s answered %zu of %u bytes at %llu", address.c_str(),
                       r.AnswerDataLength(), count, static_cast<unsigned long long>(at)));
      return cli::kExitFailed;
    }
    bytes.insert(bytes.end(), r.AnswerData(), r.AnswerData() + count);
  }
  if (context.json) {
    std::string hex;
    for (const uint8_t b : bytes) hex += base::Format("%02X", b);
    const json result{{"ip", address}, {"offset", *offset}, {"length", *length}, {"hex", hex}};
    std::fprintf(context.out, "%s\n", result.dump().c_str());
    return cli::kExitDone;
  }
  for (size_t row = 0; row < bytes.size(); row += 16) {
    std::string line = base::Format("%5llu:", static_cast<unsigned long long>(*offset + row));
    for (size_t i = row; i < bytes.size() && i < row + 16; ++i)
      line += base::Format(" %02X", bytes[i]);
    std::fprintf(context.out, "%s\n", line.c_str());
  }
  return cli::kExitDone;
}

// VALUE of `size` bytes: decimal, 0x-hex or a negative decimal, within what the size holds.
std::optional<uint32_t> ParseValue(const std::string& text, uint16_t size) {
  const uint64_t top = size == 4 ? 0xFFFFFFFFull : (1ull << (8 * size)) - 1;
  if (!text.empty() && text[0] == '-') {
    const auto magnitude = base::WholeNumber(text.substr(1), 1, (top + 1) / 2);
    if (!magnitude) return std::nullopt;
    return static_cast<uint32_t>(-static_cast<int64_t>(*magnitude));
  }
  const auto value = base::WholeNumber(text, 0, top, base::NumberBase::DecimalOrHex);
  if (!value) return std::nullopt;
  return static_cast<uint32_t>(*value);
}

int Finish(CliContext& context, const std::string& address, const plc::CTagRequest& r,
           const std::string& done) {
  if (const std::string why = Failure(r); !why.empty()) {
    cli::ReportFailure(kPlcDataCommandName, why);
    return cli::kExitFailed;
  }
  cli::LogChange(kPlcDataCommandName, address + ": " + done);
  if (context.json) {
    std::fprintf(context.out, "%s\n", json{{"ip", address}, {"done", done}}.dump().c_str());
  } else {
    std::fprintf(context.out, "%s\n", done.c_str());
  }
  return cli::kExitDone;
}

int RunWrite(CliContext& context, const std::string& address, const PlcArguments& a) {
  if (a.values.size() != 2) return Usage("write needs OFFSET VALUE");
  const auto size = base::WholeNumber(a.size, 1, 4);
  if (a.size.empty() || !size || *size == 3) return Usage("--size must be 1, 2 or 4");
  const auto offset = base::WholeNumber(a.values[0], 0, plc::kMaxDataSize - *size);
  if (!offset)
    return Usage(base::Format("OFFSET must be from 0 to %llu",
                              static_cast<unsigned long long>(plc::kMaxDataSize - *size)));
  const auto value = ParseValue(a.values[1], static_cast<uint16_t>(*size));
  if (!value)
    return Usage(base::Format("VALUE %s does not fit %llu byte(s)", a.values[1].c_str(),
                              static_cast<unsigned long long>(*size)));
  const plc::CTagRequest r = plc::RunRequest(
      plc::ProcessRequestManager(), plc::CTagRequest::Write(address, static_cast<uint16_t>(*offset),
                                                            static_cast<uint16_t>(*size), *value));
  return Finish(context, address, r,
                base::Format("wrote %s (%llu byte(s)) at %llu", a.values[1].c_str(),
                             static_cast<unsigned long long>(*size),
                             static_cast<unsigned long long>(*offset)));
}

int RunBit(CliContext& context, const std::string& address, const PlcArguments& a, bool set) {
  if (a.values.size() != 2) return Usage(a.action + " needs OFFSET BIT");
  const auto offset = base::WholeNumber(a.values[0], 0, plc::kMaxDataSize - 4);
  const auto bit = base::WholeNumber(a.values[1], 0, 31);
  if (!offset || !bit) return Usage("OFFSET must be from 0 to 9996 and BIT from 0 to 31");
  const plc::CTagRequest r = plc::RunRequest(
      plc::ProcessRequestManager(), plc::CTagRequest::Bit(address, static_cast<uint16_t>(*offset),
                                                          static_cast<uint16_t>(*bit), set));
  return Finish(context, address, r,
                base::Format("%s bit %llu at %llu", set ? "set" : "cleared",
                             static_cast<unsigned long long>(*bit),
                             static_cast<unsigned long long>(*offset)));
}

int RunPlcDataWatch(CliContext& context, const std::string& address, const PlcArguments& a) {
  if (!a.values.empty()) return Usage("watch takes no further arguments");
  if (a.tags.empty()) return Usage("watch needs --tags FILE");
  std::string error;
  auto info = plc::LoadTagFile(a.tags, &error);
  if (!info) return Usage(error);
  // The tags' names mean something only in the program they were written for: another
  // program's data shown under them would be read as this one's.
  const config::PlcProgramOnModule found = config::ReadPlcProgramOnModule(address);
  const std::string mismatch = plc::ProgramMismatch(
      info->program, address,
      plc::ModuleProgram{found.read, found.length > 0, found.name, found.failure});
  if (!mismatch.empty()) {
    cli::ReportFailure(kPlcDataCommandName, "the tags are not shown: " + mismatch);
    return cli::kExitFailed;
  }
  plc::CPlcDataModel model;
  model.SetProgram(std::move(*info));
  model.SetAddress(address);
  plc::CRequestManager& manager = plc::ProcessRequestManager();
  int status = cli::kExitDone;
  while (!context.cancel.IsCancelled()) {
    const uint32_t start = platform::GetTickCount();
    // The view's cycle: every block submitted, the answers awaited, then one refresh.
    std::vector<plc::CTagRequest*> sent;
    for (plc::CTagRequest& r : model.BlockRequests(address)) {
      if (context.cancel.IsCancelled()) break;
      plc::CTagRequest* queued = manager.Queue().Append(std::move(r));
      manager.SubmitRequest(queued);
      sent.push_back(queued);
    }
    for (bool waiting = true; waiting && !context.cancel.IsCancelled();) {
      platform::SleepMs(5);
      std::lock_guard<std::mutex> lock(manager.Queue().Lock());
      waiting = false;
      for (const auto& item : manager.Queue().Items())
        waiting = waiting || item->state == plc::kStateQueued || item->state == plc::kStateSent;
    }
    const auto result = model.HandleAnswers(manager.Queue());
    for (const std::string& line : model.TakeFailures(manager.Queue())) {
      cli::ReportFailure(kPlcDataCommandName, line);
      status = cli::kExitFailed;
    }
    if (result.refreshed) {
      if (context.json) {
        json tags = json::array();
        for (const plc::PlcTag& tag : model.Program().tags)
          tags.push_back(
              {{"name", tag.name}, {"value", model.Value(tag)}, {"text", model.ValueText(tag)}});
        std::fprintf(context.out, "%s\n", json{{"ip", address}, {"tags", tags}}.dump().c_str());
      } else {
        for (const plc::PlcTag& tag : model.Program().tags) {
          std::fprintf(context.out, "%s = %s%s%s\n", tag.name.c_str(), model.ValueText(tag).c_str(),
                       tag.unit.empty() ? "" : " ", tag.unit.c_str());
        }
        std::fprintf(context.out, "\n");
      }
      std::fflush(context.out);
    }
    while (!context.cancel.IsCancelled() && platform::TicksSince(start) < plc::kReadCycleMs)
      platform::SleepMs(10);
  }
  {
    // Whatever is still queued belongs to this run only.
    std::lock_guard<std::mutex> lock(manager.Queue().Lock());
    manager.Queue().Items().clear();
  }
  return status;
}

int Run(CliContext& context, const PlcArguments& a) {
  const bool known = a.action == "read" || a.action == "write" || a.action == "set-bit" ||
                     a.action == "clear-bit" || a.action == "watch";
  if (!known)
    return Usage("ACTION must be read, write, set-bit, clear-bit or watch, not \"" + a.action +
                 "\"");
  discovery::ScopedConnectInventory inventoryLink(context.app);
  const cli::ResolvedTarget target =
      cli::ResolveTarget(context, kPlcDataCommandName, a.target, a.network);
  if (target.exitCode != cli::kExitDone) return target.exitCode;
  int status = cli::kExitDone;
  if (a.action == "read")
    status = RunRead(context, target.address, a);
  else if (a.action == "write")
    status = RunWrite(context, target.address, a);
  else if (a.action == "watch")
    status = RunPlcDataWatch(context, target.address, a);
  else
    status = RunBit(context, target.address, a, a.action == "set-bit");
  plc::StopRequestManager();
  return status;
}

const CliCommandRegistrar kPlcDataCommand(
    "plcdata",
    "The PLC data area of a module in PLC mode (read, write, set-bit, clear-bit, watch --tags)",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto a = std::make_shared<PlcArguments>();
      sub.add_option("target", a->target,
                     "Node number (1..236, decimal), the module's IPv4 address, or sn:SERIAL")
          ->required();
      sub.add_option("action", a->action, "read | write | set-bit | clear-bit | watch")->required();
      sub.add_option("values", a->values,
                     "read: OFFSET LENGTH; write: OFFSET VALUE; set-bit/clear-bit: OFFSET BIT");
      sub.add_option("--size", a->size, "write: the value's size in bytes (1, 2 or 4)");
      sub.add_option("--tags", a->tags, "watch: the tag description file (JSON)");
      sub.add_option("--net", a->network,
                     "Network of node numbers (default: the profile's \"Default Net\")");
      return [&context, a] { return Run(context, *a); };
    });

}  // namespace
