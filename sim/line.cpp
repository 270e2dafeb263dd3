#include "sim/line.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>

#include "base/format.h"
#include "sim/module.h"

namespace sim {
namespace {

using nlohmann::json;

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw LineError(where + ": " + what);
}

// A number given as a JSON integer or as a text ("0x09", "12").
uint64_t Number(const json& value, const std::string& where, uint64_t max) {
  uint64_t result = 0;
  if (value.is_number_unsigned() || (value.is_number_integer() && value.get<int64_t>() >= 0)) {
    result = value.get<uint64_t>();
  } else if (value.is_string()) {
    const std::string text = value.get<std::string>();
    size_t used = 0;
    try {
      result = std::stoull(text, &used, 0);
    } catch (const std::exception&) {
      Fail(where, "\"" + text + "\" is not a number");
    }
    if (used != text.size() || text.empty() || text[0] == '-')
      Fail(where, "\"" + text + "\" is not a number");
  } else {
    Fail(where, "expected a number");
  }
  if (result > max)
    Fail(where, base::Format("%llu is above %llu", static_cast<unsigned long long>(result),
                             static_cast<unsigned long long>(max)));
  return result;
}

uint32_t Address(const json& value, const std::string& where) {
  if (!value.is_string()) Fail(where, "expected an IPv4 address text");
  auto parsed = ParseIpv4(value.get<std::string>());
  if (!parsed) Fail(where, "\"" + value.get<std::string>() + "\" is not an IPv4 address");
  return *parsed;
}

bool Flag(const json& value, const std::string& where) {
  if (!value.is_boolean()) Fail(where, "expected true or false");
  return value.get<bool>();
}

void ParseFirmware(const json& value, const std::string& where, ModuleSetup& module) {
  if (!value.is_string()) Fail(where, "expected a version text such as \"4.12\"");
  const std::string text = value.get<std::string>();
  unsigned major = 0, minor = 0, patch = 0;
  char tail = 0;
  // Parts of at most three digits: sscanf would take "4.4294967308" as 4.12.
  bool plain = !text.empty();
  size_t run = 0;
  for (const char c : text) {
    run = c == '.' ? 0 : run + 1;
    plain = plain && (c == '.' || (c >= '0' && c <= '9')) && run <= 3;
  }
  const int parts =
      plain ? std::sscanf(text.c_str(), "%u.%u.%u%c", &major, &minor, &patch, &tail) : 0;
  if (parts < 2 || parts > 3 || major > 155 || minor > 255 || patch > 255) {
    Fail(where, "\"" + text + "\" is not a version MAJOR.MINOR[.PATCH] (major at most 155)");
  }
  module.firmwareMajor = static_cast<uint8_t>(major);
  module.firmwareMinor = static_cast<uint8_t>(minor);
  module.firmwarePatch = static_cast<uint8_t>(parts == 3 ? patch : 0);
}

std::string IpText(uint32_t address) {
  return base::Ipv4Text(address);
}

// The key a module's address came from, with its place: "chains[0][1].address" or ".node".
std::string AddressPlace(const json& value, const std::string& where) {
  return where + (value.contains("address") ? ".address" : ".node");
}

// A register some module can have: an override anywhere else would be silently lost.
bool IsRegisterNumber(uint32_t number) {
  return (number >= 1 && number <= static_cast<uint32_t>(kRegisterCount)) ||
         (number >= kExtendedBlockA && number < kExtendedBlockA + kExtendedBlockSize) ||
         (number >= kExtendedBlockB && number < kExtendedBlockB + kExtendedBlockSize);
}

const std::set<std::string> kModuleKeys = {
    "serial",    "mac",         "address",      "node",
    "mask",      "gateway",     "family",       "hardwareRevision",
    "firmware",  "type",        "variant",      "reversed",
    "direction", "packetFlags", "recordLength", "linePosition",
    "plcMode",   "alive",       "driveType",    "registers",
    "faults",    "drives",      "comment",      "plc"};

// The drive history of a module: up to 32 drives, each with a serial number that is not 0
// (the tool shows no row for a record without one).
std::vector<DriveRecord> ParseDrives(const json& value, const std::string& where) {
  if (!value.is_array()) Fail(where, "expected [{\"serial\": N, ...}, ...]");
  if (value.size() > kMaxDriveRecords)
    Fail(where, base::Format("a module keeps at most %zu drives", kMaxDriveRecords));
  static const std::set<std::string> keys = {"serial",    "date",         "lock",
                                             "operating", "currentLimit", "overheat",
                                             "cycles",    "overVoltage",  "underVoltage"};
  std::vector<DriveRecord> drives;
  for (size_t i = 0; i < value.size(); ++i) {
    const json& item = value[i];
    const std::string place = where + "[" + std::to_string(i) + "]";
    if (!item.is_object()) Fail(place, "expected an object");
    for (const auto& [key, unused] : item.items()) {
      if (!keys.count(key)) Fail(place, "unknown key \"" + key + "\"");
    }
    auto field = [&](const char* key, uint32_t fallback) {
      if (!item.contains(key)) return fallback;
      return static_cast<uint32_t>(Number(item[key], place + "." + key, 0xFFFFFFFFu));
    };
    DriveRecord drive;
    drive.serial = field("serial", 0);
    if (drive.serial == 0) Fail(place + ".serial", "a drive needs a serial number other than 0");
    drive.date = field("date", 0);
    drive.lock = field("lock", 1);
    drive.operating = field("operating", 0);
    drive.currentLimit = field("currentLimit", 0);
    drive.overheat = field("overheat", 0);
    drive.cycles = field("cycles", 0);
    drive.overVoltage = field("overVoltage", 0);
    drive.underVoltage = field("underVoltage", 0);
    drives.push_back(drive);
  }
  return drives;
}

// Bytes given as hex digits ("0A1B..."); spaces are allowed between bytes.
std::vector<uint8_t> HexBytes(const json& value, const std::string& where, size_t limit) {
  if (!value.is_string()) Fail(where, "expected hex digits as a text");
  std::string digits;
  for (const char c : value.get<std::string>()) {
    if (c == ' ') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) Fail(where, "expected hex digits");
    digits.push_back(c);
  }
  if (digits.size() % 2) Fail(where, "an odd number of hex digits");
  if (digits.size() / 2 > limit) Fail(where, base::Format("more than %zu bytes", limit));
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < digits.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return bytes;
}

// "plc": {"program": HEX, "data": [{"offset": N, "hex": HEX}, ...]}: the program the module
// holds and the first contents of its PLC data area (10,000 bytes).
void ParsePlc(const json& value, const std::string& where, ModuleSetup& module) {
  if (!value.is_object()) Fail(where, "expected {\"program\": HEX, \"data\": [...]}");
  for (const auto& [key, unused] : value.items()) {
    if (key != "program" && key != "data") Fail(where, "unknown key \"" + key + "\"");
  }
  if (value.contains("program"))
    module.plcProgram = HexBytes(value["program"], where + ".program", 1u << 20);
  if (!value.contains("data")) return;
  const json& data = value["data"];
  if (!data.is_array()) Fail(where + ".data", "expected [{\"offset\": N, \"hex\": HEX}, ...]");
  for (size_t i = 0; i < data.size(); ++i) {
    const std::string place = where + ".data[" + std::to_string(i) + "]";
    if (!data[i].is_object() || !data[i].contains("offset") || !data[i].contains("hex"))
      Fail(place, "expected {\"offset\": N, \"hex\": HEX}");
    const auto offset = static_cast<uint16_t>(Number(data[i]["offset"], place + ".offset", 9999));
    auto bytes = HexBytes(data[i]["hex"], place + ".hex", 10000u - offset);
    module.plcData.emplace_back(offset, std::move(bytes));
  }
}

ModuleSetup ParseModule(const json& value, const std::string& where, const LineSetup& line) {
  if (!value.is_object()) Fail(where, "expected an object");
  for (const auto& [key, unused] : value.items()) {
    if (!kModuleKeys.count(key)) Fail(where, "unknown key \"" + key + "\"");
  }
  ModuleSetup module;
  if (!value.contains("serial")) Fail(where, "a module needs a \"serial\"");
  module.serial = static_cast<uint32_t>(Number(value["serial"], where + ".serial", 0xFFFFFFFFu));
  module.mac = MacFromSerial(module.serial);
  if (value.contains("mac")) {
    if (!value["mac"].is_string()) Fail(where + ".mac", "expected \"AA:BB:CC:DD:EE:FF\"");
    auto mac = ParseMac(value["mac"].get<std::string>());
    if (!mac) Fail(where + ".mac", "expected \"AA:BB:CC:DD:EE:FF\"");
    module.mac = *mac;
  }
  module.mask = line.mask;
  module.gateway = line.gateway;
  if (value.contains("address")) {
    module.address = Address(value["address"], where + ".address");
  } else if (value.contains("node")) {
    const auto node = Number(value["node"], where + ".node", 236);
    if (node < 1) Fail(where + ".node", "node numbers are 1..236");
    const uint32_t host = ntohl(line.network) + static_cast<uint32_t>(node) + 19;
    module.address = htonl(host);
  } else {
    Fail(where, "a module needs an \"address\" or a \"node\"");
  }
  if (value.contains("mask")) {
    module.mask = Address(value["mask"], where + ".mask");
    if (!IsContiguousMask(module.mask))
      Fail(where + ".mask", IpText(module.mask) + " is not a contiguous network mask");
  }
  if (auto problem = ModuleAddressProblem(module.address, module.mask))
    Fail(AddressPlace(value, where), *problem);
  if (value.contains("gateway")) module.gateway = Address(value["gateway"], where + ".gateway");
  if (value.contains("family")) {
    const auto family = Number(value["family"], where + ".family", 0xFF);
    if (family != 0x00 && family != 0x02 && family != 0x03 && family != 0x09 && family != 0x0C) {
      Fail(where + ".family", "families are 0x00, 0x02, 0x03, 0x09 and 0x0C");
    }
    module.family = static_cast<uint8_t>(family);
  }
  if (value.contains("hardwareRevision")) {
    module.hardwareRevision =
        static_cast<uint8_t>(Number(value["hardwareRevision"], where + ".hardwareRevision", 0xFF));
  }
  if (value.contains("firmware")) ParseFirmware(value["firmware"], where + ".firmware", module);
  if (value.contains("type"))
    module.moduleType = static_cast<uint16_t>(Number(value["type"], where + ".type", 0xFFFF));
  if (value.contains("variant"))
    module.variant = static_cast<uint8_t>(Number(value["variant"], where + ".variant", 15));
  if (value.contains("reversed") && Flag(value["reversed"], where + ".reversed"))
    module.variant = 4;
  if (value.contains("direction"))
    module.direction = static_cast<uint8_t>(Number(value["direction"], where + ".direction", 1));
  module.packetFlags = module.direction == 0 ? 0x10 : 0x00;
  if (value.contains("packetFlags")) {
    module.packetFlags =
        static_cast<uint8_t>(Number(value["packetFlags"], where + ".packetFlags", 0xFF));
  }
  if (value.contains("recordLength")) {
    const auto length = Number(value["recordLength"], where + ".recordLength", 28);
    if (length != 8 && length != 16 && length != 20 && length != 28) {
      Fail(where + ".recordLength", "record lengths are 8, 16, 20 and 28");
    }
    module.recordLength = static_cast<uint8_t>(length);
  }
  if (value.contains("linePosition")) {
    module.linePosition =
        static_cast<uint8_t>(Number(value["linePosition"], where + ".linePosition", 0xFF));
  }
  if (value.contains("plcMode")) module.plcMode = Flag(value["plcMode"], where + ".plcMode");
  if (value.contains("alive")) module.alive = Flag(value["alive"], where + ".alive");
  if (value.contains("driveType"))
    module.driveType = static_cast<int>(Number(value["driveType"], where + ".driveType", 34));
  if (value.contains("registers")) {
    const json& registers = value["registers"];
    if (!registers.is_object()) Fail(where + ".registers", "expected {\"REGISTER\": VALUE, ...}");
    for (const auto& [key, registerValue] : registers.items()) {
      const auto number = Number(json(key), where + ".registers", 0xFFFF);
      if (!IsRegisterNumber(static_cast<uint32_t>(number))) {
        Fail(where + ".registers",
             base::Format("register %u does not exist (registers are 1..%d, %u..%u and %u..%u)",
                          static_cast<unsigned>(number), kRegisterCount, kExtendedBlockA,
                          kExtendedBlockA + kExtendedBlockSize - 1, kExtendedBlockB,
                          kExtendedBlockB + kExtendedBlockSize - 1));
      }
      module.registers[static_cast<uint32_t>(number)] =
          static_cast<uint16_t>(Number(registerValue, where + ".registers." + key, 0xFFFF));
    }
  }
  if (value.contains("drives")) module.drives = ParseDrives(value["drives"], where + ".drives");
  if (value.contains("plc")) ParsePlc(value["plc"], where + ".plc", module);
  if (value.contains("faults")) {
    try {
      ApplyFaults(value["faults"], module.faults);
    } catch (const LineError& error) {
      Fail(where + ".faults", error.what());
    }
  }
  return module;
}

// A module's place in the description, for messages about two modules.
struct Placed {
  std::string where;         // "chains[0][1]"
  std::string addressWhere;  // "chains[0][1].address" or ".node"
  const ModuleSetup* module;
};

// A second module on an address is a fault one asks for (sharesAddressOf), never an accident:
// modules may share an address only when they all share it with the same module.
void CheckAddressesAndSharing(const std::vector<Placed>& modules) {
  std::map<uint32_t, const Placed*> bySerial;
  for (const Placed& placed : modules) bySerial[placed.module->serial] = &placed;
  for (const Placed& placed : modules) {
    const auto& shares = placed.module->faults.sharesAddressOf;
    if (!shares) continue;
    const std::string where = placed.where + ".faults.sharesAddressOf";
    if (*shares == placed.module->serial) Fail(where, "a module cannot share its own address");
    if (!bySerial.count(*shares)) Fail(where, base::Format("no module with serial %u", *shares));
  }
  auto owner = [](const ModuleSetup& module) {
    return module.faults.sharesAddressOf ? *module.faults.sharesAddressOf : module.serial;
  };
  std::map<uint32_t, const Placed*> byAddress;
  for (const Placed& placed : modules) {
    const auto [found, added] = byAddress.emplace(placed.module->address, &placed);
    if (added) continue;
    const Placed& first = *found->second;
    if (owner(*first.module) == owner(*placed.module)) continue;
    Fail(placed.addressWhere,
         base::Format("%s is also the address of %s (serial %u); a duplicate address is the "
                      "fault \"sharesAddressOf\"",
                      IpText(placed.module->address).c_str(), first.where.c_str(),
                      first.module->serial));
  }
}

}  // namespace

size_t LineSetup::ModuleCount() const {
  size_t count = 0;
  for (const auto& chain : chains) count += chain.size();
  return count;
}

std::optional<uint32_t> ParseIpv4(const std::string& text) {
  // By hand: sscanf's %u would take "4294967297" as 1 and "+1" or " 1" as 1.
  uint32_t result = 0;
  size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at >= text.size() || text[at] != '.') return std::nullopt;
      ++at;
    }
    unsigned value = 0;
    size_t digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
      value = value * 10 + static_cast<unsigned>(text[at] - '0');
      ++at;
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
    result = (result << 8) | value;
  }
  if (at != text.size()) return std::nullopt;
  return htonl(result);
}

bool IsContiguousMask(uint32_t mask) {
  const uint32_t host = ~ntohl(mask);
  return (host & (host + 1)) == 0;
}

std::optional<std::string> ModuleAddressProblem(uint32_t address, uint32_t mask) {
  const uint32_t host = ntohl(address);
  const std::string text = IpText(address);
  if ((host >> 24) == 0) return text + " is not a module address (0.0.0.0/8 is \"this network\")";
  if ((host >> 28) == 0xE) return text + " is a multicast address";
  if (host == 0xFFFFFFFFu) return text + " is the broadcast address";
  if ((host >> 28) == 0xF) return text + " is a reserved address (240.0.0.0/4)";
  const int prefix = PrefixLength(mask);
  if (IsContiguousMask(mask) && prefix <= 30) {
    const uint32_t hostBits = ~ntohl(mask);
    const std::string network =
        base::Format("%s/%d", IpText(htonl(host & ~hostBits)).c_str(), prefix);
    if ((host & hostBits) == hostBits) return text + " is the broadcast address of " + network;
    if ((host & hostBits) == 0) return text + " is the address of the network " + network;
  }
  return std::nullopt;
}

std::pair<int, int> ParseGenerateOption(const std::string& text) {
  // Digits only (at most 6), so that "5,abc" or "5x" is never read as 5.
  auto number = [&text](const std::string& part) {
    if (part.empty() || part.size() > 6 ||
        part.find_first_not_of("0123456789") != std::string::npos) {
      throw LineError("--generate expects N[,NETWORKS], not \"" + text + "\"");
    }
    return std::stoi(part);
  };
  const size_t comma = text.find(',');
  if (comma == std::string::npos) return {number(text), 1};
  return {number(text.substr(0, comma)), number(text.substr(comma + 1))};
}

std::optional<Mac> ParseMac(const std::string& text) {
  unsigned bytes[6];
  char tail = 0;
  if (text.size() != 17 ||
      std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &bytes[0], &bytes[1], &bytes[2],
                  &bytes[3], &bytes[4], &bytes[5], &tail) != 6) {
    return std::nullopt;
  }
  Mac mac;
  for (int i = 0; i < 6; ++i) mac[i] = static_cast<uint8_t>(bytes[i]);
  return mac;
}

std::string MacString(const Mac& mac) {
  return base::MacText(mac.data());
}

Mac MacFromSerial(uint32_t serial) {
  // 0x02 marks a locally administered address; the rest is the serial, so MACs stay unique.
  return Mac{0x02,
             0x51,
             static_cast<uint8_t>(serial >> 24),
             static_cast<uint8_t>(serial >> 16),
             static_cast<uint8_t>(serial >> 8),
             static_cast<uint8_t>(serial)};
}

int PrefixLength(uint32_t mask) {
  return __builtin_popcount(mask);
}

void ApplyFaults(const nlohmann::json& value, Faults& faults) {
  if (!value.is_object()) Fail("faults", "expected an object");
  for (const auto& [key, item] : value.items()) {
    if (key == "drop") {
      if (!item.is_number() || item.get<double>() < 0 || item.get<double>() > 1)
        Fail("drop", "expected 0..1");
      faults.dropFraction = item.get<double>();
    } else if (key == "delayMs") {
      faults.delayMs = static_cast<uint32_t>(Number(item, "delayMs", 600000));
    } else if (key == "duplicate") {
      faults.duplicate = Flag(item, "duplicate");
    } else if (key == "staleSequence") {
      faults.staleSequence = Flag(item, "staleSequence");
    } else if (key == "sharesAddressOf") {
      if (item.is_null()) {
        faults.sharesAddressOf.reset();
      } else {
        faults.sharesAddressOf =
            static_cast<uint32_t>(Number(item, "sharesAddressOf", 0xFFFFFFFFu));
      }
    } else if (key == "discovery") {
      faults.affectsDiscovery = Flag(item, "discovery");
    } else if (key == "modbus") {
      faults.affectsModbus = Flag(item, "modbus");
    } else if (key == "tftpLose") {
      faults.tftpLoseBlock = static_cast<uint32_t>(Number(item, "tftpLose", 65535));
    } else if (key == "tftpDuplicateAck") {
      faults.tftpDuplicateAck = Flag(item, "tftpDuplicateAck");
    } else if (key == "tftpError") {
      faults.tftpErrorBlock = static_cast<uint32_t>(Number(item, "tftpError", 65535));
    } else if (key == "tftpDie") {
      faults.tftpDieBlock = static_cast<uint32_t>(Number(item, "tftpDie", 65535));
    } else if (key == "noTopology") {
      faults.noTopology = Flag(item, "noTopology");
    } else if (key == "miswired") {
      faults.miswired = Flag(item, "miswired");
    } else if (key == "noFlashImage") {
      faults.noFlashImage = Flag(item, "noFlashImage");
    } else if (key == "serviceDead") {
      faults.serviceDead = Flag(item, "serviceDead");
    } else if (key == "rebootOnWrite") {
      faults.rebootOnWrite = static_cast<uint32_t>(Number(item, "rebootOnWrite", 65535));
    } else if (key == "keepsNetwork") {
      faults.keepsNetwork = Flag(item, "keepsNetwork");
    } else if (key == "plcSilent") {
      faults.plcSilent = Flag(item, "plcSilent");
    } else if (key == "plcDuplicate") {
      faults.plcDuplicate = Flag(item, "plcDuplicate");
    } else if (key == "plcError") {
      faults.plcErrorCode = static_cast<uint8_t>(Number(item, "plcError", 0x7F));
    } else if (key == "refuse") {
      // A register, [first, last], or null (off).
      if (item.is_null()) {
        faults.refuseFirst = faults.refuseLast = 0;
      } else if (item.is_array()) {
        if (item.size() != 2) Fail("refuse", "expected REGISTER or [FIRST, LAST]");
        faults.refuseFirst = static_cast<uint32_t>(Number(item[0], "refuse", 0xFFFF));
        faults.refuseLast = static_cast<uint32_t>(Number(item[1], "refuse", 0xFFFF));
        if (faults.refuseFirst == 0 || faults.refuseLast < faults.refuseFirst)
          Fail("refuse", "expected 1 <= FIRST <= LAST");
      } else {
        faults.refuseFirst = faults.refuseLast =
            static_cast<uint32_t>(Number(item, "refuse", 0xFFFF));
      }
    } else if (key == "shortModbus") {
      faults.shortModbus = Flag(item, "shortModbus");
    } else if (key == "shortFlashImage") {
      faults.shortFlashImage = Flag(item, "shortFlashImage");
    } else if (key == "shortTftp") {
      faults.shortTftp = Flag(item, "shortTftp");
    } else if (key == "saveUnconfirmed") {
      faults.saveUnconfirmed = Flag(item, "saveUnconfirmed");
    } else if (key == "tftpReboot") {
      faults.tftpRebootBlock = static_cast<uint32_t>(Number(item, "tftpReboot", 65535));
    } else if (key == "tftpRepeatNewPort") {
      faults.tftpRepeatNewPort = Flag(item, "tftpRepeatNewPort");
    } else if (key == "silentSetNodeIp") {
      faults.silentSetNodeIp = Flag(item, "silentSetNodeIp");
    } else if (key == "tftpDuplicate") {
      faults.tftpDuplicate = Flag(item, "tftpDuplicate");
    } else {
      Fail("faults", "unknown fault \"" + key + "\"");
    }
  }
}

nlohmann::json FaultsToJson(const Faults& faults) {
  json result = {{"drop", faults.dropFraction},          {"delayMs", faults.delayMs},
                 {"duplicate", faults.duplicate},        {"staleSequence", faults.staleSequence},
                 {"discovery", faults.affectsDiscovery}, {"modbus", faults.affectsModbus},
                 {"noTopology", faults.noTopology},      {"miswired", faults.miswired}};
  result["sharesAddressOf"] =
      faults.sharesAddressOf ? json(*faults.sharesAddressOf) : json(nullptr);
  result["tftpLose"] = faults.tftpLoseBlock;
  result["tftpDuplicateAck"] = faults.tftpDuplicateAck;
  result["tftpError"] = faults.tftpErrorBlock;
  result["tftpDie"] = faults.tftpDieBlock;
  result["noFlashImage"] = faults.noFlashImage;
  result["serviceDead"] = faults.serviceDead;
  result["rebootOnWrite"] = faults.rebootOnWrite;
  result["keepsNetwork"] = faults.keepsNetwork;
  result["plcSilent"] = faults.plcSilent;
  result["plcDuplicate"] = faults.plcDuplicate;
  result["plcError"] = faults.plcErrorCode;
  result["refuse"] =
      faults.refuseFirst ? json::array({faults.refuseFirst, faults.refuseLast}) : json(nullptr);
  result["shortModbus"] = faults.shortModbus;
  result["shortFlashImage"] = faults.shortFlashImage;
  result["shortTftp"] = faults.shortTftp;
  result["saveUnconfirmed"] = faults.saveUnconfirmed;
  result["tftpReboot"] = faults.tftpRebootBlock;
  result["tftpRepeatNewPort"] = faults.tftpRepeatNewPort;
  result["tftpDuplicate"] = faults.tftpDuplicate;
  result["silentSetNodeIp"] = faults.silentSetNodeIp;
  return result;
}

nlohmann::json ModuleToJson(const ModuleSetup& module) {
  json result = {{"serial", module.serial},
                 {"mac", MacString(module.mac)},
                 {"address", IpText(module.address)},
                 {"mask", IpText(module.mask)},
                 {"gateway", IpText(module.gateway)},
                 {"family", module.family},
                 {"hardwareRevision", module.hardwareRevision},
                 {"firmware", base::Format("%u.%u.%u", module.firmwareMajor, module.firmwareMinor,
                                           module.firmwarePatch)},
                 {"type", module.moduleType},
                 {"variant", module.variant},
                 {"direction", module.direction},
                 {"packetFlags", module.packetFlags},
                 {"recordLength", module.recordLength},
                 {"linePosition", module.linePosition},
                 {"plcMode", module.plcMode},
                 {"alive", module.alive},
                 {"driveType", module.driveType}};
  if (!module.drives.empty()) {
    json drives = json::array();
    for (const DriveRecord& drive : module.drives) {
      drives.push_back({{"serial", drive.serial},
                        {"date", drive.date},
                        {"lock", drive.lock},
                        {"operating", drive.operating},
                        {"currentLimit", drive.currentLimit},
                        {"overheat", drive.overheat},
                        {"cycles", drive.cycles},
                        {"overVoltage", drive.overVoltage},
                        {"underVoltage", drive.underVoltage}});
    }
    result["drives"] = drives;
  }
  return result;
}

LineSetup ParseLine(const nlohmann::json& value) {
  if (!value.is_object()) Fail("line", "expected an object");
  for (const auto& [key, unused] : value.items()) {
    if (key != "network" && key != "mask" && key != "gateway" && key != "timing" && key != "seed" &&
        key != "chains" && key != "comment") {
      Fail("line", "unknown key \"" + key + "\"");
    }
  }
  LineSetup line;
  line.network = value.contains("network") ? Address(value["network"], "network")
                                           : *ParseIpv4("192.168.202.0");
  line.mask = value.contains("mask") ? Address(value["mask"], "mask") : *ParseIpv4("255.255.255.0");
  if (!IsContiguousMask(line.mask))
    Fail("mask", IpText(line.mask) + " is not a contiguous network mask");
  line.gateway = value.contains("gateway") ? Address(value["gateway"], "gateway") : 0;
  if (value.contains("seed"))
    line.seed = static_cast<uint32_t>(Number(value["seed"], "seed", 0xFFFFFFFFu));
  if (value.contains("timing")) {
    const json& timing = value["timing"];
    if (!timing.is_object()) Fail("timing", "expected an object");
    for (const auto& [key, item] : timing.items()) {
      const auto ms = static_cast<uint32_t>(Number(item, "timing." + key, 600000));
      if (key == "flashWriteMs")
        line.timing.flashWriteMs = ms;
      else if (key == "formatMs")
        line.timing.formatMs = ms;
      else if (key == "rebootMs")
        line.timing.rebootMs = ms;
      else if (key == "answerDelayMinMs")
        line.timing.answerDelayMinMs = ms;
      else if (key == "answerDelayMaxMs")
        line.timing.answerDelayMaxMs = ms;
      else if (key == "autoConfigMs")
        line.timing.autoConfigMs = ms;
      else if (key == "resetAckMs")  // a module acknowledges within 100 ms
        line.timing.resetAckMs = std::min<uint32_t>(ms, 100);
      else
        Fail("timing", "unknown key \"" + key + "\"");
    }
    if (line.timing.answerDelayMinMs > line.timing.answerDelayMaxMs) {
      Fail("timing", "answerDelayMinMs is above answerDelayMaxMs");
    }
  }
  if (!value.contains("chains") || !value["chains"].is_array())
    Fail("line", "expected \"chains\": [[module, ...], ...]");
  std::set<uint32_t> serials;
  std::set<Mac> macs;
  std::vector<std::pair<std::string, std::string>> places;  // per module, in order
  int chainIndex = 0;
  for (const json& chainValue : value["chains"]) {
    const std::string chainWhere = base::Format("chains[%d]", chainIndex);
    const json* modules = &chainValue;
    if (chainValue.is_object() && chainValue.contains("modules")) modules = &chainValue["modules"];
    if (!modules->is_array()) Fail(chainWhere, "expected an array of modules");
    std::vector<ModuleSetup> chain;
    int position = 0;
    for (const json& moduleValue : *modules) {
      const std::string where = base::Format("%s[%d]", chainWhere.c_str(), position);
      ModuleSetup module = ParseModule(moduleValue, where, line);
      if (!serials.insert(module.serial).second)
        Fail(where, base::Format("serial %u appears twice", module.serial));
      if (!macs.insert(module.mac).second)
        Fail(where, "MAC " + MacString(module.mac) + " appears twice");
      module.chain = chainIndex;
      module.position = position++;
      places.emplace_back(where, AddressPlace(moduleValue, where));
      chain.push_back(std::move(module));
    }
    line.chains.push_back(std::move(chain));
    ++chainIndex;
  }
  std::vector<Placed> placed;
  for (const auto& chain : line.chains) {
    for (const ModuleSetup& module : chain) {
      const auto& [where, addressWhere] = places[placed.size()];
      placed.push_back(Placed{where, addressWhere, &module});
    }
  }
  CheckAddressesAndSharing(placed);
  return line;
}

LineSetup LoadLineFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw LineError("cannot open line file \"" + path + "\"");
  json value;
  try {
    value = json::parse(in);
  } catch (const json::exception& error) {
    throw LineError("line file \"" + path + "\": " + error.what());
  }
  return ParseLine(value);
}

nlohmann::json GenerateLine(int modules, int networks, int servedNetwork) {
  if (networks < 1 || networks > 16) throw LineError("--generate: networks must be 1..16");
  if (modules < 1 || modules > 236 * networks)
    throw LineError("--generate: at most 236 modules per network");
  if (servedNetwork < 0 || servedNetwork > networks)
    throw LineError(base::Format("--network: the generated line has networks 1..%d", networks));
  static const uint8_t kFamilies[] = {0x00, 0x09, 0x03, 0x02, 0x09, 0x0C, 0x00, 0x09};
  static const char* kFirmware[] = {"4.12",   "4.14.2", "4.10", "3.19",
                                    "4.20.1", "4.14",   "4.1",  "4.16.3"};
  json line = {
      {"network", "192.168.202.0"}, {"mask", "255.255.255.0"}, {"gateway", "192.168.202.1"}};
  json chains = json::array();
  int made = 0;
  for (int net = 0; net < networks && made < modules; ++net) {
    const int here = (modules - made + (networks - net) - 1) / (networks - net);
    json chain = json::array();
    for (int i = 0; i < here; ++i, ++made) {
      // Hosts .20 upwards (node i + 1); .255 is the /24's broadcast, so a 236th module goes to .11.
      int host = i + 20;
      if (host > 254) host = 11 + (host - 255);
      const uint8_t family = kFamilies[made % 8];
      json module = {{"serial", 1000001 + made},
                     {"address", base::Format("192.168.%d.%d", 202 + net, host)},
                     {"family", family},
                     {"firmware", kFirmware[made % 8]},
                     {"direction", (made % 5 == 4) ? 1 : 0}};
      if (net > 0) module["gateway"] = base::Format("192.168.%d.1", 202 + net);
      if (made % 11 == 7) module["reversed"] = true;
      chain.push_back(module);
      if (chain.size() == 12 || i == here - 1) {
        // Another process serves the other networks: their modules keep their serials here.
        if (servedNetwork == 0 || servedNetwork == net + 1) chains.push_back(chain);
        chain = json::array();
      }
    }
  }
  line["chains"] = chains;
  return line;
}

}  // namespace sim
