#include "sim/module.h"

#include <arpa/inet.h>

#include <algorithm>

#include "base/bytes.h"
#include "platform/tick.h"
#include "sim/tftp_server.h"

namespace sim {
namespace {

// The drive type catalogue as the modules know it: the values a drive of that type has in
// its current limit, drive class, constant, maximum current, drive parameter and drive code
// registers. -1 = not set by that row.
struct DriveRow {
  int rated, flag, constant, maximum, parameter, code;
};
constexpr DriveRow kDrives[35] = {
    {0, 0, 0, 0, 0, 0},
    {2200, 0, 180, 4000, 120, 0},
    {3000, 0, 160, 5000, 120, 0},
    {2600, 1, 260, 2600, 120, 0},
    {3200, 1, 430, 4000, 120, 0},
    {2700, 1, 110, 3500, 120, 0},
    {4000, 1, 140, 4000, 120, 0},
    {4000, 1, 140, 7000, 120, 0},
    {300, 1, 190, 1500, 120, 0},
    {2800, 1, 483, 3000, 105, 0},
    {3600, 1, 350, 5000, 105, 0},
    {3600, 1, 350, 8000, 105, 0},
    {3600, 1, 483, 5000, 105, 30},
    {3600, 1, 483, 8000, 105, 30},
    {2400, 1, 187, 4000, 120, 0},
    {2400, 1, 187, 5000, 120, 0},
    {2600, 1, 260, 4000, 120, 0},
    {2000, 1, 170, 4000, 120, 0},
    {0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0},
    {2700, 1, 110, 2500, 120, 0},
    {4000, 1, 140, 3000, 120, 0},
    {2210, 0, 147, 4000, 100, 10},
    {2200, 0, 147, 4000, 100, 10},
    {2200, 0, 148, 4000, 100, 10},
    {3000, 0, 149, 4000, 100, 10},
    {3000, 0, 150, 4000, 100, 10},
    {3000, 0, 180, 4000, 120, 0},
    {4200, 0, 160, 5000, 120, 0},
    {3600, 1, 255, 8000, 105, 30},
    {4100, 1, 483, 4100, 105, 29},
    {2800, 1, 483, 2800, 105, 26},
    {3000, -1, -1, 3500, -1, -1},
    {5000, -1, -1, 7000, -1, -1},
    {7200, -1, -1, 9000, -1, -1},
};

void SetIf(uint16_t& slot, int value) {
  if (value >= 0) slot = static_cast<uint16_t>(value);
}

}  // namespace

uint16_t ReportedFirmware(const ModuleSetup& setup) {
  const bool plus100 = setup.family == 0x03 || setup.family == 0x09 || setup.family == 0x0C;
  const int major = setup.firmwareMajor + (plus100 ? 100 : 0);
  return static_cast<uint16_t>((major << 8) | setup.firmwareMinor);
}

uint32_t RegisterCountOf(uint16_t firmwareRegister) {
  const unsigned major = firmwareRegister >> 8;
  const unsigned minor = firmwareRegister & 0xFF;
  if (major > 4 || (major == 4 && minor != 0)) return 512;
  if (major > 3 || (major == 3 && minor >= 19)) return 383;
  return 363;
}

uint32_t SimModule::RegisterCount() const {
  return RegisterCountOf(ReportedFirmware(setup_));
}

bool SimModule::Exists(uint32_t number) const {
  if (number >= 1 && number <= kRegisterCount) return number <= RegisterCount();
  return Slot(ram_, number) != nullptr;
}

SimModule::SimModule(const ModuleSetup& setup)
    : setup_(setup), clock_([] { return platform::GetTickCount(); }) {
  FillFactory();
  // The line file gives the program as the tool sends it; the module keeps it as an upload
  // leaves it, with the CRC-16/MODBUS of the rest in its last two bytes (low byte first).
  files_.plcProgram = setup.plcProgram;
  if (!files_.plcProgram.empty()) {
    const uint16_t crc = tftp::Crc16Modbus(files_.plcProgram.data(), files_.plcProgram.size());
    files_.plcProgram.push_back(static_cast<uint8_t>(crc));
    files_.plcProgram.push_back(static_cast<uint8_t>(crc >> 8));
  }
  for (const auto& [offset, bytes] : setup.plcData) {
    // The line file's check keeps each run inside the area; the copy is bounded again.
    const size_t room = offset < files_.plcData.size() ? files_.plcData.size() - offset : 0;
    std::copy_n(bytes.begin(), std::min(room, bytes.size()), files_.plcData.begin() + offset);
  }
  ram_ = factory_;
  flash_ = factory_;
  // A few events from before the start, oldest first so that the newest ends up in front.
  const uint32_t salt = setup_.serial % 97;
  if (HasLog(1)) {
    AddLogEvent(1, 6, 21, 1, 7200000 + salt * 13000);  // right sensor attached
    AddLogEvent(1, 2, 11, 2, 3600000 + salt * 7000);   // motor B undervoltage
    AddLogEvent(1, 1, 3, 0, 90000 + salt * 1000);      // motor A CPU overheated
  }
  AddLogEvent(2, 4, 1, 0, 86400000 + salt * 60000);  // EtherNet/IP forward open
  AddLogEvent(2, 5, 2, 1, 60000 + salt * 500);       // Modbus read of a missing register
}

bool SimModule::AddLogEvent(int log, uint8_t category, uint8_t code, uint16_t parameter,
                            uint32_t ageMs) {
  if (!HasLog(log)) return false;
  std::vector<LogEvent>& events = log == 1 ? log1_ : log2_;
  events.insert(events.begin(), LogEvent{category, code, parameter, clock_() - ageMs});
  if (events.size() > static_cast<size_t>(kDiagnosticLogEntries)) events.pop_back();
  return true;
}

std::vector<uint16_t> SimModule::LogWords(int log) const {
  std::vector<uint16_t> words(kDiagnosticLogSize, 0);
  if (!HasLog(log)) return words;
  const std::vector<LogEvent>& events = log == 1 ? log1_ : log2_;
  const uint32_t now = clock_();
  for (size_t k = 0; k < events.size(); ++k) {
    const LogEvent& event = events[k];
    // At least 1 ms old: an entry of four zero words would end the log for the reader.
    const uint32_t age = std::max<uint32_t>(now - event.tick, 1);
    words[4 * k] = static_cast<uint16_t>(event.category | (event.code << 8));
    words[4 * k + 1] = event.parameter;
    words[4 * k + 2] = static_cast<uint16_t>(age & 0xFFFF);
    words[4 * k + 3] = static_cast<uint16_t>(age >> 16);
  }
  return words;
}

void SimModule::WriteIdentity(Bank& bank) const {
  auto& r = bank.main;
  // The high byte (the device-type code of the PLC program check) comes from the line file.
  r[6] = static_cast<uint16_t>((r[6] & 0xFF00) | ((setup_.family & 0x0F) << 4) |
                               (setup_.variant & 0x0F));
  uint16_t twelve = setup_.plcMode ? 1 : 0;
  if (setup_.family == 0x09 || setup_.family == 0x0C)
    twelve |= static_cast<uint16_t>(setup_.firmwarePatch << 8);
  r[12] = static_cast<uint16_t>((r[12] & 0x00FE) | twelve);
  r[17] = static_cast<uint16_t>((setup_.family << 8) | setup_.hardwareRevision);
  r[25] = ReportedFirmware(setup_);
  uint8_t address[4];
  base::Ipv4ToBytes(setup_.address, address);
  r[26] = base::GetBE16(address);
  r[27] = base::GetBE16(address + 2);
  r[28] = static_cast<uint16_t>(setup_.serial & 0xFFFF);
  r[29] = static_cast<uint16_t>(setup_.serial >> 16);
  r[30] = base::GetBE16(setup_.mac.data());
  r[31] = base::GetBE16(setup_.mac.data() + 2);
  r[32] = base::GetBE16(setup_.mac.data() + 4);
}

void SimModule::FillFactory() {
  Bank& bank = factory_;
  auto& r = bank.main;
  r.fill(0);
  r[18] = setup_.moduleType;
  WriteIdentity(bank);
  r[23] = 2;  // resets after undervoltage
  const bool metric = setup_.family == 0x09 || setup_.family == 0x03 || setup_.family == 0x02;
  const DriveRow& drive = kDrives[std::clamp(setup_.driveType, 0, 34)];
  for (int side = 0; side < 2; ++side) {
    const int b = side == 0 ? 40 : 64;  // drive block A / B
    r[b + 0] = metric ? static_cast<uint16_t>(500 + 100 * side)
                      : static_cast<uint16_t>(800);  // m/s x 1000 or % x 10
    SetIf(r[b + 1], drive.rated);
    SetIf(r[b + 2], drive.constant);
    r[b + 3] = 250;  // acceleration ms
    r[b + 4] = 150;  // deceleration ms
    SetIf(r[b + 5], drive.flag);
    r[b + 6] = 0;                            // closed loop off
    r[b + 7] = 1;                            // brake method
    r[b + 8] = static_cast<uint16_t>(side);  // direction
    r[b + 10] = 5;
    r[b + 11] = 0xFFFF;
    SetIf(r[b + 12], drive.parameter);
    r[b + 13] =
        static_cast<uint16_t>(1200 + (setup_.serial % 1000) + 17 * side);  // operating minutes
    r[b + 15] = 0;                                                         // drive current (idle)
    r[b + 16] = 0;                                                         // real speed (idle)
    r[b + 17] = static_cast<uint16_t>((31 + side) << 8 | 27);  // drive 31 °C, module 27 °C
    r[b + 18] = 0;                                             // no drive error
    SetIf(r[b + 19], drive.maximum);
    SetIf(r[side == 0 ? 490 : 492], drive.code);
  }
  for (int side = 0; side < 2; ++side) {
    const int z = side == 0 ? 90 : 170;  // zone block upstream / downstream
    r[z + 0] = 1;                        // zone used
    r[z + 1] = 1;                        // ZPA singulation
    r[z + 4] = 0x0001;
    r[z + 6] = static_cast<uint16_t>(side);
    r[z + 9] = 400;                                              // induct time
    r[z + 11] = 2000;                                            // accept time
    r[z + 12] = static_cast<uint16_t>((45 << 8) | 5);            // current thresholds 4.5 A / 0.5 A
    r[z + 13] = 0;                                               // GAP timer
    r[z + 16] = static_cast<uint16_t>(40 + setup_.serial % 60);  // arrival counter
    r[z + 23] = static_cast<uint16_t>(setup_.driveType);
  }
  r[254] = setup_.plcMode ? 0 : 1;
  r[265] = 1;
  r[275] = 1;
  r[280] = 0;
  r[284] = static_cast<uint16_t>(setup_.serial % 3);
  r[286] = 1;
  r[290] = 0x0003;  // both link ports up
  if (setup_.family == 0x09) {
    r[500] = 2;
    r[503] = 2;
  }
  const bool plus = setup_.family == 0x09;
  bank.blockA.fill(0);
  bank.blockB.fill(0);
  // Speed unit (low byte, 0 = m/s) and roller code (high byte) of each drive.
  bank.blockA[1] = plus ? 0x0100 : 0;
  bank.blockA[2] = plus ? 0x0200 : 0;
  bank.blockB[1] = plus ? 0x0100 : 0;
  bank.blockB[2] = plus ? 0x0200 : 0;
  for (const auto& [number, value] : setup_.registers) {
    if (uint16_t* slot = Slot(bank, number)) *slot = value;
  }
}

bool SimModule::IsPseudoRegister(uint32_t number) const {
  return number == 10001 || number == 10002 || number == 10101 || number == 10102;
}

bool SimModule::IsIdentityRegister(uint32_t number) const {
  return number == 6 || number == 17 || (number >= 25 && number <= 32);
}

uint16_t* SimModule::Slot(Bank& bank, uint32_t number) const {
  return const_cast<uint16_t*>(Slot(static_cast<const Bank&>(bank), number));
}

const uint16_t* SimModule::Slot(const Bank& bank, uint32_t number) const {
  if (number >= 1 && number <= kRegisterCount) return &bank.main[number];
  const bool extended = HasExtendedBlocks() || IsPseudoRegister(number);
  if (!extended) return nullptr;
  if (number >= kExtendedBlockA && number < kExtendedBlockA + kExtendedBlockSize) {
    return &bank.blockA[number - kExtendedBlockA];
  }
  if (number >= kExtendedBlockB && number < kExtendedBlockB + kExtendedBlockSize) {
    return &bank.blockB[number - kExtendedBlockB];
  }
  return nullptr;
}

uint8_t SimModule::Read(uint32_t first, uint32_t count, uint16_t* out) const {
  // The diagnostic logs are read as windows that start inside them.
  int log = 0;
  uint32_t logStart = 0;
  if (first >= kDiagnosticLog1 && first < kDiagnosticLog2 && HasLog(1)) {
    log = 1;
    logStart = kDiagnosticLog1;
  } else if (first >= kDiagnosticLog2 && first < kDiagnosticLog2 + kDiagnosticLogSize) {
    log = 2;
    logStart = kDiagnosticLog2;
  }
  if (log) {
    const uint32_t offset = first - logStart;
    if (offset + count > kDiagnosticLogSize) return kIllegalDataAddress;
    const std::vector<uint16_t> words = LogWords(log);
    std::copy_n(words.begin() + offset, count, out);
    return 0;
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (!Exists(first + i)) return kIllegalDataAddress;
  }
  for (uint32_t i = 0; i < count; ++i) out[i] = *Slot(ram_, first + i);
  return 0;
}

uint8_t SimModule::Write(uint32_t first, uint32_t count, const uint16_t* values) {
  for (uint32_t i = 0; i < count; ++i) {
    if (!Exists(first + i)) return kIllegalDataAddress;
  }
  bool commandWritten = false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t number = first + i;
    if (IsIdentityRegister(number)) continue;  // set by the hardware and Set NodeIP only
    *Slot(ram_, number) = values[i];
    if (number == kCommandRegister && values[i] != 0) commandWritten = true;
    // A jam clear command clears the jam error at once.
    if (number == 109 && values[i] != 0) ram_.main[108] = 0;
    if (number == 189 && values[i] != 0) ram_.main[188] = 0;
    // Service commands: 0x3000 / 0xC000 reset the left / right drive's operating time, 1
    // clears the latched drive short-circuit bits; the command register reads 0 again.
    if (number == kServiceCommandRegister && values[i] != 0) {
      if (values[i] == 0x3000) ram_.main[53] = 0;
      if (values[i] == 0xC000) ram_.main[77] = 0;
      if (values[i] == 1) {
        ram_.main[58] = static_cast<uint16_t>(ram_.main[58] & ~kShortCircuitBit);
        ram_.main[82] = static_cast<uint16_t>(ram_.main[82] & ~kShortCircuitBit);
      }
      ram_.main[kServiceCommandRegister] = 0;
    }
  }
  if (commandWritten) {
    const auto& r = ram_.main;
    if (r[251] == 3) {
      pendingCommand_ = ModuleCommand{CommandKind::kSave, r[252], r[253]};
    } else if (r[251] == 100) {
      pendingCommand_ = ModuleCommand{CommandKind::kFormat, 0, 0};
    } else if (r[251] == 300 && r[252] == 333 && r[253] == 666) {
      pendingCommand_ = ModuleCommand{CommandKind::kRestart, 0, 0};
    }
  }
  return 0;
}

std::optional<ModuleCommand> SimModule::TakeCommand() {
  auto command = pendingCommand_;
  pendingCommand_.reset();
  return command;
}

bool SimModule::Peek(uint32_t first, uint32_t count, bool flash, std::vector<uint16_t>& out) const {
  out.assign(count, 0);
  if (count == 0) return true;
  // The diagnostic logs as a read gives them; registers beyond the module's count are still
  // shown (the control socket looks at the store, not through Modbus).
  if (!flash && first >= kDiagnosticLog1) return Read(first, count, out.data()) == 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint16_t* slot = Slot(flash ? flash_ : ram_, first + i);
    if (!slot) return false;
    out[i] = *slot;
  }
  return true;
}

bool SimModule::Poke(uint32_t first, const std::vector<uint16_t>& values, bool flash) {
  Bank& bank = flash ? flash_ : ram_;
  for (uint32_t i = 0; i < values.size(); ++i) {
    if (!Slot(bank, first + i)) return false;
  }
  for (uint32_t i = 0; i < values.size(); ++i) *Slot(bank, first + i) = values[i];
  return true;
}

void SimModule::FinishSave(uint16_t first, uint16_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t number = uint32_t{first} + i;
    const uint16_t* from = Slot(ram_, number);
    uint16_t* to = Slot(flash_, number);
    if (from && to) *to = *from;
  }
  ram_.main[253] = 0;
  ++counters_.saves;
  counters_.lastSaveFirst = first;
  counters_.lastSaveCount = count;
}

void SimModule::FinishFormat() {
  ram_ = factory_;
  WriteIdentity(ram_);
  flash_ = ram_;
  ram_.main[251] = 0;
  ++counters_.formats;
}

void SimModule::SetFirmware(uint8_t major, uint8_t minor) {
  setup_.firmwareMajor = major;
  setup_.firmwareMinor = minor;
  WriteIdentity(ram_);
  WriteIdentity(flash_);
  WriteIdentity(factory_);
}

void SimModule::Restart() {
  ram_ = flash_;
  WriteIdentity(ram_);
  ram_.main[251] = ram_.main[252] = ram_.main[253] = 0;
  ram_.main[108] = ram_.main[188] = 0;
  pendingCommand_.reset();
  routing_ = false;  // a module starts in NORMAL mode
  ++counters_.restarts;
}

void SimModule::SetNetwork(uint32_t address, uint32_t mask, uint32_t gateway) {
  setup_.address = address;
  setup_.mask = mask;
  setup_.gateway = gateway;
  // The module keeps its network settings in flash at once.
  WriteIdentity(ram_);
  WriteIdentity(flash_);
  WriteIdentity(factory_);
}

void SimModule::SetSerial(uint32_t serial) {
  setup_.serial = serial;
  WriteIdentity(ram_);
  WriteIdentity(flash_);
  WriteIdentity(factory_);
}

std::vector<uint8_t> SimModule::NodeRecord(size_t minimumLength) const {
  std::vector<uint8_t> record(28, 0);
  base::PutBE32(record.data(), setup_.serial);
  base::Ipv4ToBytes(setup_.address, record.data() + 4);
  base::Ipv4ToBytes(setup_.mask, record.data() + 8);
  base::Ipv4ToBytes(setup_.gateway, record.data() + 12);
  record[16] = setup_.linePosition;
  record[17] = static_cast<uint8_t>(ram_.main[6] & 0xF0);
  const uint16_t firmware = ReportedFirmware(setup_);
  record[18] = static_cast<uint8_t>(firmware >> 8);
  record[19] = static_cast<uint8_t>(firmware);
  record.resize(std::max<size_t>(setup_.recordLength, minimumLength));
  return record;
}

}  // namespace sim
