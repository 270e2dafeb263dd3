// quillmar-cli tftp / plc: files and PLC programs on modules.
//
//   tftp put TARGET LOCAL [REMOTE]      upload (the module receives the data and 2 CRC bytes)
//   tftp get TARGET REMOTE LOCAL        download into a local file
//   plc upload TARGET FILE [--family NAME]   checks the program against the module, uploads it
//   plc delete TARGET                   removes the module's PLC program
//   plc lock TARGET on|off              sets the PLC lock and shows the state the module reports
//   plc name TARGET                     the name of the PLC program the module holds
//
// TARGET is a node number 1..236 (in --net or the profile's "Default Net"), an IPv4 address, or
// a serial number (a number above 236, or "sn:NUMBER"), found by a discovery of every adapter.
// Exit status: 0 done, 1 the operation failed, 2 the arguments or the target were refused.
#include <arpa/inet.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "base/format.h"
#include "cli_command.h"
#include "cli_support.h"
#include "comm/blocking_socket.h"
#include "comm/tftp_client.h"
#include "config/plc_program.h"
#include "discovery/connect_inventory_link.h"
#include "discovery/inventory.h"
#include "params/display_items.h"
#include "params/units.h"

namespace {

using nlohmann::json;

using cli::kExitFailed;
constexpr int kExitRefused = cli::kExitUsage;

void PrintTftpError(const std::string& text) {
  std::fprintf(stderr, "quillmar-cli: %s\n", text.c_str());
}

// The module's address for a TARGET (the one target syntax of every command); empty when it
// was refused or not found, with the reason printed and logged.
std::string ResolveTarget(CliContext& context, const std::string& text, const std::string& net) {
  const cli::ResolvedTarget target = cli::ResolveTarget(context, "tftp", text, net);
  return target.exitCode == cli::kExitDone ? target.address : std::string();
}

using cli::TerminalProgress;

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct TransferArguments {
  std::string target;
  std::string first;   // put: LOCAL; get: REMOTE
  std::string second;  // put: REMOTE; get: LOCAL
  std::string net;
  bool json = false;
  uint16_t port = config::kTftpPort;
};

json Counters(const CTFTPClient& client) {
  return {{"readTimeouts", client.GetReadTimeouts()},
          {"retransmissions", client.GetRetransmissions()},
          {"socketErrors", client.GetSocketErrors()}};
}

int RunTransfer(CliContext& context, const TransferArguments& arguments, bool put) {
  const std::string ip = ResolveTarget(context, arguments.target, arguments.net);
  if (ip.empty()) return kExitRefused;
  const std::string local = put ? arguments.first : arguments.second;
  const std::string remote =
      put ? (arguments.second.empty() ? FileNameOf(arguments.first) : arguments.second)
          : arguments.first;
  CTFTPClient client;
  TerminalProgress progress(context.cancel);
  const auto start = std::chrono::steady_clock::now();
  int result = put ? client.Put(local, remote, ip, arguments.port)
                   : client.Get(local, remote, ip, arguments.port);
  const uint32_t total = put ? client.GetUploadLength() : 0;
  progress.SetRange(put && total ? static_cast<int>(total) : 100);
  bool cancelled = false;
  while (result == CTFTPClient::kGoOn) {
    if (context.cancel.IsCancelled()) {
      cancelled = true;
      break;
    }
    result = put ? client.ContinuePut() : client.ContinueGet();
    if (put) {
      progress.SetPosition(static_cast<int>(client.GetBytesDone()));
    } else {
      progress.SetText(base::Format("%u bytes", client.GetBytesDone()));
    }
  }
  progress.Finish();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  const bool ok = result == CTFTPClient::kDone;
  const std::string error = cancelled ? "aborted" : ok ? "" : client.GetLastError();
  if (arguments.json || context.json) {
    json out = {{"ok", ok},         {"operation", put ? "put" : "get"},
                {"module", ip},     {"local", local},
                {"remote", remote}, {"bytes", client.GetBytesDone()},
                {"ms", ms},         {"counters", Counters(client)}};
    if (!ok) out["error"] = error;
    std::fprintf(context.out, "%s\n", out.dump().c_str());
  } else if (ok) {
    std::fprintf(context.out,
                 "%s %s %s %s as \"%s\": %u bytes%s in %lld ms (time-outs %u, retransmissions %u, "
                 "socket errors %u)\n",
                 put ? "put" : "got", local.c_str(), put ? "to" : "from", ip.c_str(),
                 remote.c_str(), client.GetBytesDone(), put ? " with the 2 check bytes" : "",
                 static_cast<long long>(ms), client.GetReadTimeouts(), client.GetRetransmissions(),
                 client.GetSocketErrors());
  }
  if (!ok) {
    PrintTftpError(base::Format(
        "%s %s failed: %s (time-outs %u, retransmissions %u, socket errors %u)",
        put ? "put to" : "get from", ip.c_str(), error.c_str(), client.GetReadTimeouts(),
        client.GetRetransmissions(), client.GetSocketErrors()));
  }
  return ok ? 0 : kExitFailed;
}

// ---- plc ----

struct PlcTransferArguments {
  std::string target;
  std::string file;
  std::string family;
  std::string state;  // lock: on / off
  std::string net;
  bool json = false;
};

// Register 6 of the module (its device-type code and family nibble); nullopt with the reason
// printed when it cannot be read.
std::optional<uint16_t> ReadRegister6(CliContext& context, const std::string& ip) {
  discovery::ScopedConnectInventory inventoryLink(context.app);
  CBlockingSocket client;
  try {
    client._Connect(ip, CBlockingSocket::kModbusPort, true);
    uint16_t words[2] = {0, 0};
    if (client.ReadMultiplyRegisters(6, 1, words) == 1) return ntohs(words[0]);
    PrintTftpError(base::Format("reading register 6 of %s failed", ip.c_str()));
  } catch (const CBlockingSocketException& e) {
    PrintTftpError(base::Format("Verbindung zu Modul IP %s nicht möglich. (%s)", ip.c_str(),
                                e.GetErrorMessage().c_str()));
  }
  return std::nullopt;
}

// The family a program must name for a module, from its family nibble (register 6 bits 4..7).
std::string ExpectedFamilyFor(uint16_t register6) {
  switch ((register6 >> 4) & 0x0F) {
    case 0x2:
      return "Draskufel";
    case 0xC:
      return "Brevantrix-IO";
    default:
      return "Brevantrix";
  }
}

int PrintUpload(CliContext& context, const PlcTransferArguments& arguments, const std::string& ip,
                const config::PlcUploadResult& result, const char* operation) {
  if (arguments.json || context.json) {
    json out = {{"ok", result.result == 1},
                {"operation", operation},
                {"module", ip},
                {"text", result.text},
                {"counters",
                 {{"readTimeouts", result.readTimeouts},
                  {"retransmissions", result.retransmissions},
                  {"socketErrors", result.socketErrors}}}};
    std::fprintf(context.out, "%s\n", out.dump().c_str());
  } else if (result.result == 1) {
    std::fprintf(context.out, "%s\n", result.text.c_str());
  }
  if (result.result != 1) PrintTftpError(result.text);
  return result.result == 1 ? 0 : kExitFailed;
}

int RunPlcUpload(CliContext& context, const PlcTransferArguments& arguments) {
  const std::string ip = ResolveTarget(context, arguments.target, arguments.net);
  if (ip.empty()) return kExitRefused;
  const auto register6 = ReadRegister6(context, ip);
  if (!register6) return kExitFailed;
  const config::PlcFileCheck check = config::CheckPlcFileForModule(
      arguments.file, config::ModuleFamilyCode(*register6), context.prompt);
  if (!check.ok) return kExitRefused;
  if (check.noProgram) {
    PrintTftpError("FILE is empty");
    return kExitRefused;
  }
  const std::string family =
      arguments.family.empty() ? ExpectedFamilyFor(*register6) : arguments.family;
  TerminalProgress progress(context.cancel);
  const auto result =
      config::UploadPLCProgram(ip, progress, family, arguments.file, false, context.prompt);
  progress.Finish();
  return PrintUpload(context, arguments, ip, result, "upload");
}

int RunPlcDelete(CliContext& context, const PlcTransferArguments& arguments) {
  const std::string ip = ResolveTarget(context, arguments.target, arguments.net);
  if (ip.empty()) return kExitRefused;
  TerminalProgress progress(context.cancel);
  const auto result = config::UploadPLCProgram(ip, progress, "", "", true, context.prompt);
  progress.Finish();
  return PrintUpload(context, arguments, ip, result, "delete");
}

int RunPlcLock(CliContext& context, const PlcTransferArguments& arguments) {
  uint32_t value = 0;
  if (arguments.state == "on") {
    value = 1;
  } else if (arguments.state != "off") {
    PrintTftpError("the lock is \"on\" or \"off\"");
    return kExitRefused;
  }
  const std::string ip = ResolveTarget(context, arguments.target, arguments.net);
  if (ip.empty()) return kExitRefused;
  const int state = config::_ReadLock(context.app, config::LockPacket(value), ip);
  const bool ok = state == static_cast<int>(value);
  if (arguments.json || context.json) {
    std::fprintf(
        context.out, "%s\n",
        json{{"ok", ok}, {"module", ip}, {"requested", value}, {"lock", state}}.dump().c_str());
  } else if (ok) {
    std::fprintf(context.out, "PLC lock of %s: %s\n", ip.c_str(), state ? "on" : "off");
  }
  if (state < 0) {
    PrintTftpError(base::Format("no lock answer from %s", ip.c_str()));
  } else if (!ok) {
    PrintTftpError(base::Format("the module %s reports lock %d", ip.c_str(), state));
  }
  return ok ? 0 : kExitFailed;
}

int RunPlcName(CliContext& context, const PlcTransferArguments& arguments) {
  const std::string ip = ResolveTarget(context, arguments.target, arguments.net);
  if (ip.empty()) return kExitRefused;
  const std::string name = config::ReadPlcProgramName(ip);
  if (arguments.json || context.json) {
    std::fprintf(
        context.out, "%s\n",
        json{{"module", ip}, {"name", name.empty() ? json(nullptr) : json(name)}}.dump().c_str());
  } else {
    std::fprintf(context.out, "%s\n", name.empty() ? "(no PLC program name)" : name.c_str());
  }
  return 0;
}

void AddCommon(CLI::App& sub, std::string& target, std::string& net, bool& asJson) {
  sub.add_option("target", target,
                 "Node number, IPv4 address or serial number (a number above 236, or sn:NUMBER)")
      ->required();
  sub.add_option("--net", net, "Network of node numbers (default: the profile's \"Default Net\")");
  sub.add_flag("--json", asJson, "Machine-readable output (JSON) on stdout");
}

const CliCommandRegistrar kTftpCommand(
    "tftp", "Upload (put) or download (get) a file on a module by TFTP",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      sub.require_subcommand(1);
      sub.footer("Exit status: 0 done, 1 the transfer failed, 2 arguments or target refused.");
      auto putArgs = std::make_shared<TransferArguments>();
      auto getArgs = std::make_shared<TransferArguments>();
      CLI::App* put = sub.add_subcommand(
          "put", "Upload LOCAL as REMOTE (default: its file name), with the 2 CRC bytes appended");
      AddCommon(*put, putArgs->target, putArgs->net, putArgs->json);
      put->add_option("local", putArgs->first, "Local file")->required();
      put->add_option("remote", putArgs->second, "Name on the module");
      CLI::App* get = sub.add_subcommand("get", "Download REMOTE into LOCAL");
      AddCommon(*get, getArgs->target, getArgs->net, getArgs->json);
      get->add_option("remote", getArgs->first, "Name on the module")->required();
      get->add_option("local", getArgs->second, "Local file")->required();
      // Tests talk to a server on another port; modules always use 69.
      put->add_option("--port", putArgs->port, "TFTP port (69)")->group("");
      get->add_option("--port", getArgs->port, "TFTP port (69)")->group("");
      return [&context, put, putArgs, getArgs] {
        return put->parsed() ? RunTransfer(context, *putArgs, true)
                             : RunTransfer(context, *getArgs, false);
      };
    });

const CliCommandRegistrar kPlcCommand(
    "plc", "PLC program of a module: upload, delete, lock, name",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      sub.require_subcommand(1);
      sub.footer(
          "Exit status: 0 done, 1 the operation failed, 2 arguments, file or target refused.");
      auto args = std::make_shared<PlcTransferArguments>();
      CLI::App* upload = sub.add_subcommand(
          "upload", "Check FILE (PLCDATA_*.bin) against the module's family and upload it");
      AddCommon(*upload, args->target, args->net, args->json);
      upload->add_option("file", args->file, "PLC program file")->required();
      upload->add_option("--family", args->family,
                         "Family name the file must carry (default: by the module's family: "
                         "Brevantrix, Draskufel or Brevantrix-IO)");
      CLI::App* remove = sub.add_subcommand("delete", "Remove the module's PLC program");
      AddCommon(*remove, args->target, args->net, args->json);
      CLI::App* lock = sub.add_subcommand("lock", "Set (on) or clear (off) the module's PLC lock");
      AddCommon(*lock, args->target, args->net, args->json);
      lock->add_option("state", args->state, "on or off")->required();
      CLI::App* name = sub.add_subcommand("name", "Name of the PLC program the module holds");
      AddCommon(*name, args->target, args->net, args->json);
      return [&context, args, upload, remove, lock] {
        if (upload->parsed()) return RunPlcUpload(context, *args);
        if (remove->parsed()) return RunPlcDelete(context, *args);
        if (lock->parsed()) return RunPlcLock(context, *args);
        return RunPlcName(context, *args);
      };
    });

}  // namespace
