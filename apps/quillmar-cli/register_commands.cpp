// quillmar-cli read / write / image: holding registers of one module over the register client.
//
//   read TARGET FIRST [COUNT]          registers in host order, decimal and hex, one per line
//   write TARGET REG=VALUE... [--save] function 6 (single) or 16 (runs of consecutive registers)
//   image TARGET                       one full refresh as the node screen does it
//
// TARGET is a node number (address = the network's first three bytes and node + 19; the
// network from --net or the profile's "Default Net") or an IPv4 address. Registers are the
// module's own numbers: the mirror map of reversed modules is not applied to read and write.
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
#include "cli_command.h"
#include "comm/blocking_socket.h"
#include "discovery/connect_inventory_link.h"
#include "params/display_items.h"
#include "params/register_map.h"
#include "params/units.h"

namespace registercli {

using nlohmann::json;

constexpr uint16_t kMaxReadCount = CBlockingSocket::kMaxReadRegisters;

struct Target {
  std::string address;  // dotted IPv4
  std::string node;     // node number text, or the address when given as one
  std::string error;    // why the target was refused
};

// A whole decimal or 0x-hex number of at most maxValue; nothing else.
std::optional<unsigned long> ParseNumber(const std::string& text, unsigned long maxValue) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0' || value > maxValue) return std::nullopt;
  return value;
}

Target ResolveTarget(const std::string& text, const std::string& network) {
  Target target;
  in_addr address{};
  if (text.find('.') != std::string::npos) {
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) {
      target.error = base::Format("\"%s\" is not an IPv4 address", text.c_str());
      return target;
    }
    target.address = text;
    target.node = text;
    return target;
  }
  const auto node = ParseNumber(text, 100000);
  if (!node) {
    target.error =
        base::Format("\"%s\" is neither a node number nor an IPv4 address", text.c_str());
    return target;
  }
  if (const auto refusal = params::CheckNodeNumber(static_cast<int>(*node))) {
    target.error = *refusal;
    return target;
  }
  if (inet_pton(AF_INET, network.c_str(), &address) != 1) {
    target.error = base::Format("the network \"%s\" is not an IPv4 address", network.c_str());
    return target;
  }
  uint8_t bytes[4];
  std::memcpy(bytes, &address, 4);
  target.address = base::Format("%u.%u.%u.%d", bytes[0], bytes[1], bytes[2],
                                params::NodeHostByte(static_cast<int>(*node)));
  target.node = std::to_string(*node);
  return target;
}

void PrintError(const std::string& text) {
  std::fprintf(stderr, "quillmar-cli: %s\n", text.c_str());
}

// Connects; on failure prints the node screen's text with the reason.
bool Connect(CBlockingSocket& client, const Target& target) {
  try {
    client._Connect(target.address, CBlockingSocket::kModbusPort, true);
    return true;
  } catch (const CBlockingSocketException& e) {
    PrintError(base::Format("Verbindung zu Modul IP %s (IP: \"%s\") nicht möglich. (%s)",
                            target.node.c_str(), target.address.c_str(),
                            e.GetErrorMessage().c_str()));
    return false;
  }
}

// The reason of a failed operation: the client's last error, and the lost connection.
std::string Reason(const CBlockingSocket& client, const Target& target, const std::string& what) {
  std::string text = what;
  std::string last = client.lastError();
  while (!last.empty() && (last.back() == '\n' || last.back() == ' ')) last.pop_back();
  if (!last.empty()) text += " " + last;
  if (!client.IsOpen()) {
    text += base::Format(" Connection to the module \"%s\" is lost !", target.address.c_str());
  }
  return text;
}

int RunRead(std::FILE* out, const Target& target, const std::string& firstText,
            const std::string& countText, bool asJson) {
  const auto first = ParseNumber(firstText, 65535);
  const auto count = ParseNumber(countText, kMaxReadCount);
  if (!first || *first == 0) {
    PrintError("FIRST must be a register number from 1 to 65535");
    return 2;
  }
  if (!count || *count == 0 || *first + *count - 1 > 65535) {
    PrintError(
        base::Format("COUNT must be from 1 to %u and stay below register 65536", kMaxReadCount));
    return 2;
  }
  CBlockingSocket client;
  if (!Connect(client, target)) return 1;
  std::vector<uint16_t> words(*count, 0);
  const auto f = static_cast<uint16_t>(*first);
  const auto c = static_cast<uint16_t>(*count);
  try {
    if (client.ReadMultiplyRegisters(f, c, words.data()) != 1) {
      PrintError(
          Reason(client, target, base::Format("ReadMultiplyRegisters(%d, %d) Error!", f, c)) +
          " (the answer did not match the request)");
      return 1;
    }
  } catch (const CBlockingSocketException& e) {
    PrintError(
        base::Format("ReadMultiplyRegisters(%d, %d) Error! %s", f, c, e.GetErrorMessage().c_str()) +
        (client.IsOpen()
             ? std::string()
             : base::Format(" Connection to the module \"%s\" is lost !", target.address.c_str())));
    return 1;
  }
  for (uint16_t& word : words) word = ntohs(word);
  if (asJson) {
    json result{{"ip", target.address}, {"first", *first}, {"values", words}};
    std::fprintf(out, "%s\n", result.dump().c_str());
  } else {
    for (size_t k = 0; k < words.size(); ++k) {
      std::fprintf(out, "%lu = %u (0x%04X)\n", *first + k, words[k], words[k]);
    }
  }
  return 0;
}

struct Assignment {
  uint16_t reg;
  uint16_t value;
};

// "REG=VALUE" with REG 1..65535 and VALUE 0..65535 (decimal or 0x-hex); a value that does not
// fit 16 bits is refused before anything is sent.
std::optional<Assignment> ParseAssignment(const std::string& text, std::string* error) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos) {
    *error = base::Format("\"%s\" is not REG=VALUE", text.c_str());
    return std::nullopt;
  }
  const auto reg = ParseNumber(text.substr(0, equals), 65535);
  if (!reg || *reg == 0) {
    *error = base::Format("\"%s\": the register must be a number from 1 to 65535", text.c_str());
    return std::nullopt;
  }
  const auto value = ParseNumber(text.substr(equals + 1), 0xFFFFFFFFul);
  if (!value || *value > 65535) {
    *error =
        base::Format("\"%s\": the value does not fit a 16-bit register (0 to 65535)", text.c_str());
    return std::nullopt;
  }
  return Assignment{static_cast<uint16_t>(*reg), static_cast<uint16_t>(*value)};
}

int RunWrite(std::FILE* out, const Target& target, const std::vector<std::string>& assignmentTexts,
             bool save, bool asJson) {
  std::vector<Assignment> assignments;
  for (const std::string& text : assignmentTexts) {
    std::string error;
    const auto assignment = ParseAssignment(text, &error);
    if (!assignment) {
      PrintError(error + "; nothing was written");
      return 2;
    }
    assignments.push_back(*assignment);
  }
  if (assignments.empty()) {
    PrintError("nothing to write");
    return 2;
  }
  CBlockingSocket client;
  if (!Connect(client, target)) return 1;
  json done = json::array();
  // Runs of consecutive registers in the order given: one register by function 6, more by
  // function 16 in writes of at most 127 registers.
  size_t k = 0;
  while (k < assignments.size()) {
    size_t end = k + 1;
    while (end < assignments.size() && end - k < CBlockingSocket::kMaxWriteRegisters &&
           assignments[end].reg == assignments[end - 1].reg + 1) {
      ++end;
    }
    const uint16_t first = assignments[k].reg;
    const auto count = static_cast<uint16_t>(end - k);
    std::string failure;
    if (count == 1) {
      const uint16_t value = assignments[k].value;
      if (save) {
        if (client.SaveToFlash(first, value) != 1) {
          failure = base::Format("SaveToFlash(%d, %d) Error!", first, value) +
                    " (the module did not confirm the save)";
        }
      } else if (client.WriteRegister(first, value) != 1) {
        failure = base::Format("WriteMultipleRegisters(%d, %d) Error!", first, 1);
      }
    } else {
      std::vector<uint16_t> wire;
      for (size_t i = k; i < end; ++i) wire.push_back(htons(assignments[i].value));
      int written = 0;
      try {
        written = client.WriteMultipleRegisters(first, count, wire.data());
      } catch (const CBlockingSocketException& e) {
        failure = base::Format("WriteMultipleRegisters(%d, %d) Error! %s", first, count,
                               e.GetErrorMessage().c_str());
      }
      if (failure.empty() && written != 1) {
        failure = base::Format("WriteMultipleRegisters(%d, %d) Error!", first, count);
      } else if (failure.empty() && save && client.SaveToFlashGroup(first, count) != 1) {
        failure = base::Format("SaveToFlashGroup(%d, %d) Error!", first, count) +
                  " (the module did not confirm the save)";
      }
    }
    if (!failure.empty()) {
      PrintError(base::Format("module %s: ", target.address.c_str()) +
                 Reason(client, target, failure));
      return 1;
    }
    for (size_t i = k; i < end; ++i) {
      done.push_back({{"register", assignments[i].reg}, {"value", assignments[i].value}});
      if (!asJson) {
        std::fprintf(out, "%u = %u (0x%04X)%s\n", assignments[i].reg, assignments[i].value,
                     assignments[i].value, save ? " saved" : "");
      }
    }
    k = end;
  }
  if (asJson) {
    std::fprintf(out, "%s\n",
                 json{{"ip", target.address}, {"saved", save}, {"written", done}}.dump().c_str());
  }
  return 0;
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

int RunImage(std::FILE* out, const Target& target, bool asJson) {
  CBlockingSocket client;
  if (!Connect(client, target)) return 1;
  params::ClientRegisterAccess access(client);
  params::RegisterMap map(access);
  const params::RegisterMap::ReadOutcome outcome = map.FullRead();
  if (!outcome.ok) {
    PrintError(base::Format("module %s: ", target.address.c_str()) +
               Reason(client, target, outcome.error));
    return 1;
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

// The network of node numbers: --net, else the profile's "Default Net".
std::string NetworkFor(CliContext& context, const std::string& net) {
  if (!net.empty()) return net;
  return context.profile.GetString("Settings", params::kDefaultNetKey, params::kDefaultNet);
}

// The target argument and the --net option every register command takes; --net is added by
// AddNetOption after the command's own options, where the help lists it.
struct TargetArguments {
  std::string target;
  std::string network;
};

std::shared_ptr<TargetArguments> AddTargetArgument(CLI::App& sub) {
  auto arguments = std::make_shared<TargetArguments>();
  sub.add_option("target", arguments->target, "Node number or the module's IPv4 address")
      ->required();
  return arguments;
}

void AddNetOption(CLI::App& sub, TargetArguments& arguments) {
  sub.add_option("--net", arguments.network,
                 "Network of node numbers (default: the profile's \"Default Net\")");
}

// Resolves the target and runs `command` on it with the inventory link installed; 2 (message
// printed) when the target is refused.
int RunOnTarget(CliContext& context, const TargetArguments& arguments,
                const std::function<int(const registercli::Target&)>& command) {
  const registercli::Target target =
      registercli::ResolveTarget(arguments.target, NetworkFor(context, arguments.network));
  if (!target.error.empty()) {
    registercli::PrintError(target.error);
    return 2;
  }
  discovery::ScopedConnectInventory inventoryLink(context.app);
  return command(target);
}

const CliCommandRegistrar kReadCommand(
    "read", "Read holding registers of a module (READ TARGET FIRST [COUNT])",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto arguments = AddTargetArgument(sub);
      auto first = std::make_shared<std::string>();
      auto count = std::make_shared<std::string>("1");
      sub.add_option("first", *first, "First register (numbered from 1)")->required();
      sub.add_option("count", *count, "Number of registers (default 1)");
      AddNetOption(sub, *arguments);
      return [&context, arguments, first, count] {
        return RunOnTarget(context, *arguments, [&](const registercli::Target& target) {
          return registercli::RunRead(context.out, target, *first, *count, context.json);
        });
      };
    });

const CliCommandRegistrar kWriteCommand(
    "write", "Write holding registers of a module (REG=VALUE...; --save saves them to flash)",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto arguments = AddTargetArgument(sub);
      auto assignments = std::make_shared<std::vector<std::string>>();
      auto save = std::make_shared<bool>(false);
      sub.add_option("assignments", *assignments,
                     "REG=VALUE, value 0..65535 (decimal or 0x-hex); consecutive registers go "
                     "into one write")
          ->required();
      sub.add_flag("--save", *save, "Save the written registers to the module's flash");
      AddNetOption(sub, *arguments);
      return [&context, arguments, assignments, save] {
        return RunOnTarget(context, *arguments, [&](const registercli::Target& target) {
          return registercli::RunWrite(context.out, target, *assignments, *save, context.json);
        });
      };
    });

const CliCommandRegistrar kImageCommand(
    "image", "Read a module's register image as the node screen does (groups, extended reads)",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto arguments = AddTargetArgument(sub);
      AddNetOption(sub, *arguments);
      return [&context, arguments] {
        return RunOnTarget(context, *arguments, [&](const registercli::Target& target) {
          return registercli::RunImage(context.out, target, context.json);
        });
      };
    });

}  // namespace
