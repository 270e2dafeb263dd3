#include "sim/simulator.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>

#include "base/format.h"
#include "sim/control.h"
#include "sim/flash_image.h"
#include "sim/modbus_server.h"
#include "sim/plc_data.h"
#include "sim/service_port.h"
#include "sim/tftp_server.h"

namespace sim {

using nlohmann::json;

Simulator::Simulator(LineSetup line, SimulatorOptions options)
    : line_(std::move(line)),
      options_(std::move(options)),
      random_(line_.seed),
      addresses_(options_.ifname),
      udp_(modules_, line_.timing, line_.seed + 1),
      nodeCommands_(modules_, udp_, line_.timing),
      management_(modules_, udp_) {
  for (const auto& chain : line_.chains) {
    for (const auto& setup : chain) modules_.push_back(std::make_unique<SimModule>(setup));
  }
  generation_.assign(modules_.size(), 0);
  addressAdded_.assign(modules_.size(), false);
  ownAddress_.resize(modules_.size());
  for (size_t i = 0; i < modules_.size(); ++i) ownAddress_[i] = modules_[i]->Address();
  udp_.OnSetNetwork([this](size_t index, uint32_t address, uint32_t mask, uint32_t gateway) {
    TakeSetNodeIp(index, address, mask, gateway);
  });
}

void Simulator::TakeSetNodeIp(size_t index, uint32_t address, uint32_t mask, uint32_t gateway) {
  // The module takes what it is given. An address another module has makes two modules answer
  // on it (the line's problem, which discovery shows); one that cannot be a module's address
  // leaves the module unreachable until its address is set again.
  ChangeNetwork(index, address, mask, gateway);
}

Simulator::~Simulator() {
  captureStop_ = true;
  if (captureThread_.joinable()) captureThread_.join();
  control_.reset();
  tftp_.reset();
  service_.reset();
  flashImage_.reset();
  plcData_.reset();
  modbus_.reset();
  addresses_.RemoveAll();
}

std::string Simulator::CaptureError() const {
  std::lock_guard<std::mutex> lock(captureErrorMutex_);
  return captureError_;
}

uint16_t Simulator::ModbusPort() const {
  return modbus_ ? modbus_->Port() : 0;
}
uint16_t Simulator::TftpPort() const {
  return tftp_ ? tftp_->Port() : 0;
}
uint16_t Simulator::ServicePort() const {
  return service_ ? service_->Port() : 0;
}
uint16_t Simulator::FlashImagePort() const {
  return flashImage_ ? flashImage_->Port() : 0;
}
uint16_t Simulator::PlcDataPort() const {
  return plcData_ ? plcData_->Port() : 0;
}

bool Simulator::Start(std::string* error) {
  if (!addresses_.Open(error)) return false;
  // A shared-address fault given in the line file takes the other module's address.
  for (size_t i = 0; i < modules_.size(); ++i) {
    if (modules_[i]->ModuleFaults().sharesAddressOf) SetFaults(i, modules_[i]->ModuleFaults());
  }
  for (size_t i = 0; i < modules_.size(); ++i) {
    if (modules_[i]->Reachable()) AddAddress(i);
  }
  modbus_ = std::make_unique<ModbusServer>(loop_, *this);
  if (!modbus_->Listen(options_.modbusBindAddress, options_.modbusPort, error)) return false;
  tftp_ = std::make_unique<TftpServer>(loop_, *this);
  if (!tftp_->Listen(options_.modbusBindAddress, options_.tftpPort, error)) return false;
  service_ = std::make_unique<ServicePortServer>(loop_, *this);
  if (!service_->Listen(options_.modbusBindAddress, options_.servicePort, error)) return false;
  flashImage_ = std::make_unique<FlashImageServer>(loop_, *this);
  if (!flashImage_->Listen(options_.modbusBindAddress, options_.flashImagePort, error))
    return false;
  plcData_ = std::make_unique<PlcDataServer>(loop_, *this);
  if (!plcData_->Listen(options_.modbusBindAddress, options_.plcDataPort, error)) return false;
  if (!options_.ifname.empty()) {
    if (!options_.captureDriver) {
      if (error) *error = "no capture driver";
      return false;
    }
    std::string reason;
    captureHandle_ = options_.captureDriver->Open(options_.ifname, 65536, true, &reason);
    if (captureHandle_)
      sendHandle_ = options_.captureDriver->Open(options_.ifname, 128, false, &reason);
    if (!captureHandle_ || !sendHandle_) {
      if (error) *error = "capture on " + options_.ifname + ": " + reason;
      return false;
    }
    captureThread_ = std::thread([this] { CaptureLoop(); });
  }
  if (!options_.controlPath.empty()) {
    control_ = std::make_unique<ControlServer>(
        loop_, [this](const json& request) { return HandleControl(request); });
    if (!control_->Listen(options_.controlPath, error)) return false;
  }
  return true;
}

void Simulator::CaptureLoop() {
  std::vector<uint8_t> frame;
  while (!captureStop_) {
    if (!captureHandle_->Read(frame, 100)) {
      const std::string error = captureHandle_->LastError();
      if (!error.empty()) {
        // The interface went away (the lab is being removed): nothing more to simulate.
        {
          std::lock_guard<std::mutex> lock(captureErrorMutex_);
          captureError_ = error;
        }
        loop_.Stop();
        return;
      }
      continue;
    }
    // Only frames for the modules' UDP port go to the loop; the rest (Modbus traffic, ARP,
    // our own answers) is dropped here.
    if (IsNodeCommandFrame(frame.data(), frame.size())) {
      loop_.Post([this, copy = frame] { OnNodeCommandFrame(copy); });
      continue;
    }
    const auto udp = ParseUdpFrame(frame.data(), frame.size());
    if (!udp || udp->destinationPort != kModulePort || udp->sourcePort == kModulePort) continue;
    if (const auto header = ParsePacketHeader(udp->payload, udp->payloadLength);
        header && IsManagementCode(header->code)) {
      loop_.Post([this, copy = frame] { OnManagementFrame(copy); });
      continue;
    }
    loop_.Post([this, copy = frame] { OnCapturedFrame(copy); });
  }
}

void Simulator::OnManagementFrame(const std::vector<uint8_t>& frame) {
  ManagementResult result = management_.OnFrame(frame.data(), frame.size());
  for (const NetworkChange& change : result.changes) {
    ChangeNetwork(change.module, change.address, change.mask, change.gateway);
    if (change.serial) modules_[change.module]->SetSerial(*change.serial);
  }
  for (auto& item : result.frames) {
    const size_t index = item.module;
    auto send = [this, index, bytes = std::move(item.bytes)] {
      if (modules_[index]->Reachable() && sendHandle_)
        sendHandle_->Send(bytes.data(), bytes.size());
    };
    loop_.After(item.delayMs, std::move(send));
  }
  for (const size_t index : result.restarts) Reboot(index, line_.timing.rebootMs);
}

void Simulator::OnCapturedFrame(const std::vector<uint8_t>& frame) {
  auto outgoing = udp_.OnFrame(frame.data(), frame.size());
  for (auto& item : outgoing) {
    const size_t index = item.module;
    const uint64_t generation = generation_[index];
    auto send = [this, index, generation, bytes = std::move(item.bytes)] {
      if (generation_[index] != generation || !modules_[index]->Reachable() || !sendHandle_) return;
      if (sendHandle_->Send(bytes.data(), bytes.size()))
        ++modules_[index]->Counters().discoverAnswers;
    };
    loop_.After(item.delayMs, std::move(send));
  }
}

void Simulator::OnNodeCommandFrame(const std::vector<uint8_t>& frame) {
  NodeCommandResult result = nodeCommands_.OnFrame(frame.data(), frame.size());
  for (auto& item : result.frames) {
    const size_t index = item.module;
    auto send = [this, index, bytes = std::move(item.bytes)] {
      if (modules_[index]->Reachable() && sendHandle_)
        sendHandle_->Send(bytes.data(), bytes.size());
    };
    loop_.After(item.delayMs, std::move(send));
  }
  if (!result.apply) return;
  loop_.After(result.applyAfterMs, [this, touched = result.touched, apply = result.apply] {
    // Addresses may move: the old ones go before the new ones are added.
    for (const size_t index : touched) RemoveAddress(index);
    apply();
    for (const size_t index : touched) {
      if (modules_[index]->Reachable()) AddAddress(index);
    }
  });
}

void Simulator::AddAddress(size_t index) {
  if (addressAdded_[index]) return;
  const SimModule& module = *modules_[index];
  // A module set to 0.0.0.0 (or to any address no host can have) has no address to answer on.
  if (!IsContiguousMask(module.Setup().mask) ||
      ModuleAddressProblem(module.Address(), module.Setup().mask))
    return;
  if (addresses_.Add(module.Address(), PrefixLength(module.Setup().mask)))
    addressAdded_[index] = true;
}

void Simulator::RemoveAddress(size_t index) {
  if (!addressAdded_[index]) return;
  const SimModule& module = *modules_[index];
  addresses_.Remove(module.Address(), PrefixLength(module.Setup().mask));
  addressAdded_[index] = false;
}

SimModule* Simulator::ReachableModuleAt(uint32_t localAddress, size_t* index) {
  for (size_t i = 0; i < modules_.size(); ++i) {
    if (modules_[i]->Reachable() && modules_[i]->Address() == localAddress) {
      if (index) *index = i;
      return modules_[i].get();
    }
  }
  return nullptr;
}

void Simulator::RunCommand(size_t index, const ModuleCommand& command) {
  const uint64_t generation = generation_[index];
  switch (command.kind) {
    case CommandKind::kSave:
      if (modules_[index]->ModuleFaults().saveUnconfirmed) break;  // 253 never reads 0
      loop_.After(line_.timing.flashWriteMs, [this, index, generation, command] {
        if (generation_[index] == generation)
          modules_[index]->FinishSave(command.first, command.count);
      });
      break;
    case CommandKind::kFormat:
      loop_.After(line_.timing.formatMs, [this, index, generation] {
        if (generation_[index] == generation) modules_[index]->FinishFormat();
      });
      break;
    case CommandKind::kRestart:
      Reboot(index, line_.timing.rebootMs);
      break;
  }
}

void Simulator::Kill(size_t index) {
  ++generation_[index];
  SimModule& module = *modules_[index];
  module.SetAlive(false);
  module.SetRebooting(false);
  // The address goes first so that nothing more leaves the module.
  RemoveAddress(index);
  if (modbus_) modbus_->CloseModuleConnections(index, false);
  if (service_) service_->CloseModuleConnections(index);
}

void Simulator::Revive(size_t index) {
  SimModule& module = *modules_[index];
  if (module.Alive() && !module.Rebooting()) return;
  ++generation_[index];
  module.SetAlive(true);
  module.SetRebooting(false);
  module.Restart();  // power comes back: registers from flash
  AddAddress(index);
}

// A firmware file received by TFTP becomes the running firmware at the restart.
static void ActivateStagedFirmware(SimModule& module) {
  auto& staged = module.Files().staged;
  if (!staged) return;
  if (const auto version = FirmwareVersionFromName(staged->name)) {
    module.SetFirmware(static_cast<uint8_t>(version->major), static_cast<uint8_t>(version->minor));
  }
  staged.reset();
}

void Simulator::Reboot(size_t index, uint32_t ms, bool silentAtOnce) {
  SimModule& module = *modules_[index];
  if (!module.Alive()) return;
  const uint64_t generation = ++generation_[index];
  module.SetRebooting(true);
  // Closing first would let a client that sees the close connect again before the address is
  // gone: the kernel completes that handshake, which a restarting module never does.
  if (silentAtOnce) RemoveAddress(index);
  if (modbus_) modbus_->CloseModuleConnections(index, true);
  if (service_) service_->CloseModuleConnections(index);
  RemoveAddress(index);
  loop_.After(ms, [this, index, generation] {
    if (generation_[index] != generation) return;
    SimModule& rebooted = *modules_[index];
    ActivateStagedFirmware(rebooted);
    rebooted.Restart();
    rebooted.SetRebooting(false);
    AddAddress(index);
  });
}

void Simulator::ChangeNetwork(size_t index, uint32_t address, uint32_t mask, uint32_t gateway) {
  const bool had = addressAdded_[index];
  RemoveAddress(index);
  if (modbus_) modbus_->CloseModuleConnections(index, true);
  modules_[index]->SetNetwork(address, mask, gateway);
  ownAddress_[index] = address;
  if (had || modules_[index]->Reachable()) AddAddress(index);
}

void Simulator::SetFaults(size_t index, const Faults& faults) {
  SimModule& module = *modules_[index];
  module.ModuleFaults() = faults;
  uint32_t wanted = ownAddress_[index];
  if (faults.sharesAddressOf) {
    for (size_t i = 0; i < modules_.size(); ++i) {
      if (modules_[i]->Serial() == *faults.sharesAddressOf && i != index) wanted = ownAddress_[i];
    }
  }
  if (wanted != module.Address()) {
    const bool had = addressAdded_[index];
    RemoveAddress(index);
    if (modbus_) modbus_->CloseModuleConnections(index, true);
    const uint32_t own = ownAddress_[index];
    module.SetNetwork(wanted, module.Setup().mask, module.Setup().gateway);
    ownAddress_[index] = own;  // the module's own address comes back when the fault is cleared
    if (had) AddAddress(index);
  }
}

json Simulator::ModuleJson(size_t index) const {
  const SimModule& module = *modules_[index];
  json result = ModuleToJson(module.Setup());
  result["index"] = index;
  result["chain"] = module.Setup().chain;
  result["position"] = module.Setup().position;
  result["rebooting"] = module.Rebooting();
  result["routing"] = module.Routing();
  result["reachable"] = module.Reachable();
  result["firmwareRegister"] = ReportedFirmware(module.Setup());
  result["faults"] = FaultsToJson(const_cast<SimModule&>(module).ModuleFaults());
  // The wiring: the neighbour towards the PC sits on the port that faces the PC.
  const auto& chain = line_.chains[module.Setup().chain];
  const int position = module.Setup().position;
  auto neighbour = [&](int at) -> json {
    if (at < 0 || at >= static_cast<int>(chain.size())) return nullptr;
    const ModuleSetup& other = chain[at];
    // The other module's port that faces this one: its PC-side port when it sits further
    // out, its far port when it sits nearer the PC. Left (2) faces the PC for direction 0.
    const bool otherIsFurtherOut = at > position;
    const bool otherLeftFacesPc = other.direction == 0;
    const int port = otherIsFurtherOut == otherLeftFacesPc ? 2 : 1;
    return json{{"serial", other.serial}, {"mac", MacString(other.mac)}, {"port", port}};
  };
  const json towardsPc = neighbour(position - 1);
  const json awayFromPc = neighbour(position + 1);
  const bool leftFacesPc = module.Setup().direction == 0;
  result["left"] = leftFacesPc ? towardsPc : awayFromPc;
  result["right"] = leftFacesPc ? awayFromPc : towardsPc;
  result["onPcSwitch"] = position == 0;
  return result;
}

size_t Simulator::FindModule(const json& key) const {
  if (key.is_number_unsigned() || key.is_number_integer()) {
    const uint64_t serial = key.get<uint64_t>();
    for (size_t i = 0; i < modules_.size(); ++i) {
      if (modules_[i]->Serial() == serial) return i;
    }
    throw LineError(
        base::Format("no module with serial %llu", static_cast<unsigned long long>(serial)));
  }
  if (key.is_string()) {
    const std::string text = key.get<std::string>();
    if (auto address = ParseIpv4(text)) {
      for (size_t i = 0; i < modules_.size(); ++i) {
        if (ownAddress_[i] == *address) return i;
      }
      for (size_t i = 0; i < modules_.size(); ++i) {
        if (modules_[i]->Address() == *address) return i;
      }
      throw LineError("no module at " + text);
    }
    // A serial as text: digits only ("3100101abc" is no module, not 3100101).
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos)
      throw LineError("\"module\" must be a serial number or an address, not \"" + text + "\"");
    return FindModule(json(std::stoull(text)));
  }
  throw LineError("\"module\" must be a serial number or an address");
}

namespace {

json CountersJson(const ModuleCounters& c) {
  return json{{"requests",
               {{"3", c.readRequests},
                {"6", c.writeSingleRequests},
                {"16", c.writeMultipleRequests},
                {"other", c.otherRequests}}},
              {"exceptions", c.exceptions},
              {"malformed", c.malformed},
              {"connections", c.connections},
              {"saves", c.saves},
              {"lastSave", {c.lastSaveFirst, c.lastSaveCount}},
              {"formats", c.formats},
              {"restarts", c.restarts},
              {"discoverRequests", c.discoverRequests},
              {"discoverAnswers", c.discoverAnswers}};
}

// FNV-1a (64 bit) of a file's bytes as 16 hex digits: lets tests compare contents cheaply.
std::string ContentHash(const std::vector<uint8_t>& bytes) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (uint8_t byte : bytes) hash = (hash ^ byte) * 0x100000001b3ull;
  return base::Format("%016llx", static_cast<unsigned long long>(hash));
}

// The PLC program, lock, staged firmware and TFTP counters of a module.
json FilesJson(const ModuleFiles& files) {
  json staged = nullptr;
  if (files.staged) {
    staged = {{"name", files.staged->name},
              {"length", files.staged->bytes.size()},
              {"hash", ContentHash(files.staged->bytes)}};
  }
  const TftpCounters& t = files.tftp;
  return json{{"plcLength", files.plcProgram.size()},
              {"plcHash", ContentHash(files.plcProgram)},
              {"plcLock", files.plcLock},
              {"lockRequests", files.lockRequests},
              {"managementRequests", files.managementRequests},
              {"dhcp", files.dhcp},
              {"fieldbusName", files.fieldbusName},
              {"staged", staged},
              {"tftp",
               {{"requests", t.requests},
                {"completed", t.completed},
                {"failed", t.failed},
                {"duplicates", t.duplicates},
                {"resends", t.resends},
                {"crcErrors", t.crcErrors}}}};
}

uint32_t JsonUint(const json& request, const char* key, uint32_t max) {
  if (!request.contains(key) || !request[key].is_number_unsigned()) {
    throw LineError(base::Format("\"%s\" must be a number", key));
  }
  const uint64_t value = request[key].get<uint64_t>();
  if (value > max) throw LineError(base::Format("\"%s\" is above %u", key, max));
  return static_cast<uint32_t>(value);
}

// The PLC data area through the control socket: "plc-read" gives "hex" (count bytes from
// offset); "plc-write" stores "hex" at offset, or "value" as a little-endian number of "size"
// (1, 2 or 4) bytes.
void HandlePlcControl(const std::string& command, const json& request, ModuleFiles& files,
                      json& answer) {
  const uint32_t offset = JsonUint(request, "offset", 9999);
  const size_t room = files.plcData.size() - offset;
  if (command == "plc-read") {
    const uint32_t count = request.contains("count") ? JsonUint(request, "count", 10000) : 1;
    if (count > room) throw LineError("the PLC data area ends at 10000");
    std::string hex;
    for (uint32_t i = 0; i < count; ++i) hex += base::Format("%02X", files.plcData[offset + i]);
    answer["hex"] = hex;
    answer["plcRequests"] = files.plcRequests;
    return;
  }
  std::vector<uint8_t> bytes;
  if (request.contains("hex")) {
    const json& text = request["hex"];
    if (!text.is_string() || text.get<std::string>().size() % 2)
      throw LineError("\"hex\" must be pairs of hex digits");
    const std::string digits = text.get<std::string>();
    for (size_t i = 0; i < digits.size(); i += 2) {
      if (!std::isxdigit(static_cast<unsigned char>(digits[i])) ||
          !std::isxdigit(static_cast<unsigned char>(digits[i + 1])))
        throw LineError("\"hex\" must be pairs of hex digits");
      bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
  } else {
    const uint32_t size = request.contains("size") ? JsonUint(request, "size", 4) : 4;
    if (size != 1 && size != 2 && size != 4) throw LineError("\"size\" is 1, 2 or 4");
    const uint32_t value = JsonUint(request, "value", 0xFFFFFFFFu);
    for (uint32_t i = 0; i < size; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
  if (bytes.empty() || bytes.size() > room) throw LineError("the PLC data area ends at 10000");
  std::copy(bytes.begin(), bytes.end(), files.plcData.begin() + offset);
}

}  // namespace

json Simulator::HandleControl(const json& request) {
  try {
    if (!request.is_object() || !request.contains("cmd") || !request["cmd"].is_string()) {
      throw LineError("a request is {\"cmd\": NAME, ...}");
    }
    const std::string command = request["cmd"].get<std::string>();
    json answer = {{"ok", true}};
    if (command == "ping") {
      answer["modules"] = modules_.size();
      answer["modbusPort"] = ModbusPort();
      return answer;
    }
    if (command == "list") {
      json list = json::array();
      for (size_t i = 0; i < modules_.size(); ++i) list.push_back(ModuleJson(i));
      answer["modules"] = list;
      return answer;
    }
    if (command == "counters" || command == "reset-counters") {
      std::vector<size_t> which;
      if (request.contains("module")) {
        which.push_back(FindModule(request["module"]));
      } else {
        for (size_t i = 0; i < modules_.size(); ++i) which.push_back(i);
      }
      json all = json::object();
      for (size_t i : which) {
        if (command == "reset-counters") modules_[i]->Counters() = ModuleCounters{};
        all[std::to_string(modules_[i]->Serial())] = CountersJson(modules_[i]->Counters());
      }
      if (request.contains("module")) {
        answer["counters"] = all.begin().value();
      } else {
        answer["counters"] = all;
      }
      return answer;
    }
    if (!request.contains("module")) throw LineError("\"module\" is missing");
    const size_t index = FindModule(request["module"]);
    SimModule& module = *modules_[index];
    answer["serial"] = module.Serial();
    if (command == "read") {
      const uint32_t first = JsonUint(request, "register", 0xFFFF);
      const uint32_t count = request.contains("count") ? JsonUint(request, "count", 1000) : 1;
      const bool flash = request.value("flash", false);
      std::vector<uint16_t> values;
      if (!module.Peek(first, count, flash, values))
        throw LineError("the module has no such registers");
      answer["values"] = values;
    } else if (command == "write") {
      const uint32_t first = JsonUint(request, "register", 0xFFFF);
      if (!request.contains("values") || !request["values"].is_array())
        throw LineError("\"values\" must be an array");
      std::vector<uint16_t> values;
      for (const auto& value : request["values"]) {
        if (!value.is_number_unsigned() || value.get<uint64_t>() > 0xFFFF)
          throw LineError("values are 0..65535");
        values.push_back(static_cast<uint16_t>(value.get<uint64_t>()));
      }
      if (!module.Poke(first, values, request.value("flash", false))) {
        throw LineError("the module has no such registers");
      }
    } else if (command == "event") {
      // A diagnostic event: drive and sensor events go to log 1 where the module keeps one,
      // everything else (and everything on family 0x0C) to log 2.
      const auto category = static_cast<uint8_t>(JsonUint(request, "category", 0xFF));
      const auto code = static_cast<uint8_t>(JsonUint(request, "code", 0xFF));
      const auto parameter = static_cast<uint16_t>(
          request.contains("parameter") ? JsonUint(request, "parameter", 0xFFFF) : 0);
      const uint32_t ageMs = request.contains("ageMs") ? JsonUint(request, "ageMs", 0xFFFFFFFF) : 0;
      const bool driveOrSensor = category == 1 || category == 2 || category == 6;
      const int log = request.contains("log")             ? JsonUint(request, "log", 2)
                      : driveOrSensor && module.HasLog(1) ? 1
                                                          : 2;
      if (log == 0) throw LineError("\"log\" is 1 or 2");
      if (category == 0 && code == 0 && parameter == 0)
        throw LineError("category, code and parameter 0 are no event");
      if (!module.AddLogEvent(log, category, code, parameter, ageMs))
        throw LineError("modules of family 0x0C keep no log 1");
      answer["log"] = log;
    } else if (command == "plc-read" || command == "plc-write") {
      HandlePlcControl(command, request, module.Files(), answer);
    } else if (command == "files") {
      answer["files"] = FilesJson(module.Files());
    } else if (command == "kill") {
      Kill(index);
    } else if (command == "revive") {
      Revive(index);
    } else if (command == "reboot") {
      const uint32_t ms =
          request.contains("ms") ? JsonUint(request, "ms", 600000) : line_.timing.rebootMs;
      if (!module.Alive()) throw LineError("a dead module does not reboot");
      Reboot(index, ms);
    } else if (command == "fault") {
      if (!request.contains("set")) throw LineError("\"set\" is missing");
      Faults faults = module.ModuleFaults();
      ApplyFaults(request["set"], faults);
      if (const auto& shares = faults.sharesAddressOf) {
        if (*shares == module.Serial())
          throw LineError("sharesAddressOf: a module cannot share its own address");
        bool known = false;
        for (const auto& other : modules_) known = known || other->Serial() == *shares;
        if (!known)
          throw LineError(base::Format("sharesAddressOf: no module with serial %u", *shares));
      }
      SetFaults(index, faults);
      answer["faults"] = FaultsToJson(module.ModuleFaults());
    } else if (command == "clear-faults") {
      SetFaults(index, Faults{});
      answer["faults"] = FaultsToJson(module.ModuleFaults());
    } else if (command == "network") {
      const auto text = [&request](const char* key) -> std::optional<std::string> {
        if (!request.contains(key) || !request.at(key).is_string()) return std::nullopt;
        return request.at(key).get<std::string>();
      };
      if (!request.contains("address") || !request["address"].is_string())
        throw LineError("\"address\" is missing");
      const std::optional<uint32_t> address = ParseIpv4(*text("address"));
      // Plain values and one flag: GCC 12 at -O3 takes optionals assigned twice here for
      // maybe-uninitialized.
      uint32_t mask = module.Setup().mask;
      uint32_t gateway = module.Setup().gateway;
      bool valid = address.has_value();
      for (const auto& [key, value] : {std::pair{"mask", &mask}, std::pair{"gateway", &gateway}}) {
        if (!request.contains(key)) continue;
        const std::optional<std::string> given = text(key);
        const std::optional<uint32_t> parsed = given ? ParseIpv4(*given) : std::nullopt;
        if (parsed) *value = *parsed;
        valid = valid && parsed.has_value();
      }
      if (!valid) throw LineError("bad address, mask or gateway");
      if (!IsContiguousMask(mask))
        throw LineError("mask: " + base::Ipv4Text(mask) + " is not a contiguous network mask");
      if (auto problem = ModuleAddressProblem(*address, mask))
        throw LineError("address: " + *problem);
      // Another module's address (its own, or the one it shares) is never taken by accident.
      for (size_t i = 0; i < modules_.size(); ++i) {
        if (i == index) continue;
        if (ownAddress_[i] == *address || modules_[i]->Address() == *address) {
          throw LineError(base::Format(
              "address: %s is the address of module %u; a duplicate address is the fault "
              "\"sharesAddressOf\"",
              base::Ipv4Text(*address).c_str(), modules_[i]->Serial()));
        }
      }
      ChangeNetwork(index, *address, mask, gateway);
    } else if (command == "swap") {
      // Two modules change places in the cabling (a repair that put them back the wrong way).
      if (!request.contains("with")) throw LineError("\"with\" is missing");
      const size_t other = FindModule(request["with"]);
      if (other == index) throw LineError("a module cannot be swapped with itself");
      SimModule& second = *modules_[other];
      const int chain = module.Setup().chain;
      const int position = module.Setup().position;
      std::swap(line_.chains[chain][position],
                line_.chains[second.Setup().chain][second.Setup().position]);
      module.SetPlace(second.Setup().chain, second.Setup().position);
      second.SetPlace(chain, position);
      for (SimModule* m : {&module, &second}) {
        ModuleSetup& entry = line_.chains[m->Setup().chain][m->Setup().position];
        entry.chain = m->Setup().chain;
        entry.position = m->Setup().position;
      }
      udp_.Recable();
      answer["with"] = ModuleJson(other);
    } else if (command == "replace") {
      // A factory-fresh module takes the place of this one: the same place, ports and
      // direction in the cabling and the same drives, but its own serial and MAC, factory
      // registers (configuration id 0) and no PLC program. It keeps the address unless one
      // is given.
      const uint32_t serial = JsonUint(request, "serial", 0xFFFFFFFF);
      if (serial == 0) throw LineError("\"serial\" must not be 0");
      for (const auto& other : modules_) {
        if (other->Serial() == serial)
          throw LineError(base::Format("serial %u is already on the line", serial));
      }
      ModuleSetup fresh = module.Setup();
      const uint32_t oldSerial = fresh.serial;
      fresh.serial = serial;
      fresh.mac = MacFromSerial(serial);
      fresh.registers.clear();
      fresh.plcProgram.clear();
      fresh.plcData.clear();
      fresh.faults = Faults{};
      fresh.alive = true;
      fresh.address = ownAddress_[index];
      if (request.contains("address")) {
        const std::optional<uint32_t> address =
            request["address"].is_string() ? ParseIpv4(request["address"].get<std::string>())
                                           : std::nullopt;
        if (!address) throw LineError("bad address");
        if (auto problem = ModuleAddressProblem(*address, fresh.mask))
          throw LineError("address: " + *problem);
        for (size_t i = 0; i < modules_.size(); ++i) {
          if (i != index && (ownAddress_[i] == *address || modules_[i]->Address() == *address))
            throw LineError(base::Format("address: %s is the address of module %u",
                                         base::Ipv4Text(*address).c_str(), modules_[i]->Serial()));
        }
        fresh.address = *address;
      }
      // The old module leaves as a dead one does: its address first, then its connections.
      Kill(index);
      *modules_[index] = SimModule(fresh);
      ++generation_[index];
      ownAddress_[index] = fresh.address;
      line_.chains[fresh.chain][fresh.position] = fresh;
      AddAddress(index);
      udp_.Recable();
      answer["replaced"] = oldSerial;
    } else if (command == "turn") {
      // The module is mounted the other way round: its other port faces the PC.
      module.Turn();
      ModuleSetup& entry = line_.chains[module.Setup().chain][module.Setup().position];
      entry.direction = module.Setup().direction;
      entry.packetFlags = module.Setup().packetFlags;
      udp_.Recable();
    } else {
      throw LineError("unknown command \"" + command + "\"");
    }
    answer["module"] = ModuleJson(index);
    return answer;
  } catch (const std::exception& error) {
    return json{{"ok", false}, {"error", error.what()}};
  }
}

}  // namespace sim
