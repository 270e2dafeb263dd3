#include "params/register_map.h"

#include <arpa/inet.h>

#include <vector>

#include "comm/blocking_socket.h"
#include "comm/event_log.h"
#include "platform/tick.h"

namespace params {

// ---------------------------------------------------------------------------------------------
// Access

void RegisterAccess::Pause(uint32_t ms) {
  platform::SleepMs(ms);
}

bool ClientRegisterAccess::ReadRegisters(uint16_t first, uint16_t count, uint16_t* hostValues) {
  if (client_.ReadMultiplyRegisters(first, count, hostValues) != 1) return false;
  for (uint16_t k = 0; k < count; ++k) hostValues[k] = ntohs(hostValues[k]);
  return true;
}

bool ClientRegisterAccess::WriteRegister(uint16_t reg, uint16_t hostValue) {
  return client_.WriteRegister(reg, hostValue) == 1;
}

bool ClientRegisterAccess::WriteRegisters(uint16_t first, uint16_t count,
                                          const uint16_t* hostValues) {
  std::vector<uint16_t> wire(hostValues, hostValues + count);
  for (uint16_t& word : wire) word = htons(word);
  return client_.WriteMultipleRegisters(first, count, wire.data()) == 1;
}

bool ClientRegisterAccess::SaveToFlash(uint16_t reg, uint16_t hostValue) {
  return client_.SaveToFlash(reg, hostValue) == 1;
}

bool ClientRegisterAccess::SaveToFlashGroup(uint16_t first, uint16_t count) {
  return client_.SaveToFlashGroup(first, count) == 1;
}

// ---------------------------------------------------------------------------------------------
// Groups

std::optional<ReadGroup> GroupRegisters(int group) {
  switch (group) {
    case 1:
      return ReadGroup{1, 40, 25};
    case 2:
      return ReadGroup{2, 64, 25};
    case 3:
      return ReadGroup{3, 90, 28};
    case 4:
      return ReadGroup{4, 170, 28};
    case 5:
      return ReadGroup{5, 17, 20};
    case 8:
      return ReadGroup{8, 279, 16};
    default:
      return std::nullopt;
  }
}

// ---------------------------------------------------------------------------------------------
// Image and mirror map

void RegisterMap::SetImagePresent(bool present) {
  imagePresent_ = present;
  if (!present) {
    image_.Clear();
    readSlots_.reset();
  }
}

void RegisterMap::ForgetModule() {
  image_.Clear();
  readSlots_.reset();
  extendedFailures_ = 0;
}

bool RegisterMap::MirrorInForce() const {
  return imagePresent_ && MirrorMap::ReversedVariant(image_.Get(reg::kVariant));
}

uint16_t RegisterMap::ToModule(uint16_t reg) const {
  return MirrorInForce() ? static_cast<uint16_t>(MirrorMap::Map(reg)) : reg;
}

uint16_t RegisterMap::Value(uint16_t reg) const {
  const auto slot = RegisterImage::SlotOf(ToModule(reg));
  return slot ? image_.Get(*slot) : 0;
}

// ---------------------------------------------------------------------------------------------
// Register operations

bool RegisterMap::ReadBlock(uint16_t first, uint16_t count) {
  const uint16_t sent = MirrorMap::BlockReadUnmapped(first, count) ? first : ToModule(first);
  std::vector<uint16_t> values(count, 0);
  if (!access_.ReadRegisters(sent, count, values.data())) return false;
  image_.StoreBlock(sent, values.data(), count);
  MarkRead(sent, count);
  return true;
}

void RegisterMap::MarkRead(uint16_t first, uint16_t count) {
  for (uint32_t k = 0; k < count; ++k) {
    if (const auto slot = RegisterImage::SlotOf(first + k))
      readSlots_.set(static_cast<size_t>(*slot));
  }
}

std::optional<uint16_t> RegisterMap::ReadOne(uint16_t reg) {
  const uint16_t sent = ToModule(reg);
  uint16_t value = 0;
  if (!access_.ReadRegisters(sent, 1, &value)) return std::nullopt;
  image_.StoreBlock(sent, &value, 1);
  MarkRead(sent, 1);
  return value;
}

bool RegisterMap::WriteOne(uint16_t reg, uint16_t value) {
  const uint16_t sent = ToModule(reg);
  const bool ok = access_.WriteRegister(sent, value);
  image_.StoreBlock(sent, &value, 1);
  return ok;
}

bool RegisterMap::WriteBlock(uint16_t first, uint16_t count, const uint16_t* values) {
  return access_.WriteRegisters(ToModule(first), count, values);
}

bool RegisterMap::SaveToFlash(uint16_t reg, uint16_t value) {
  const uint16_t sent = ToModule(reg);
  const bool ok = access_.SaveToFlash(sent, value);
  image_.StoreBlock(sent, &value, 1);
  return ok;
}

bool RegisterMap::SaveToFlashGroup(uint16_t first, uint16_t count) {
  return access_.SaveToFlashGroup(ToModule(first), count);
}

// ---------------------------------------------------------------------------------------------
// Reads of a refresh

bool RegisterMap::ReadStep(uint16_t first, uint16_t count) {
  try {
    return ReadBlock(first, count);
  } catch (const CBlockingSocketException&) {
    return false;
  }
}

void RegisterMap::CountExtendedFailure() {
  if (extendedFailures_ < kMaxExtendedFailures) ++extendedFailures_;
}

void RegisterMap::ExtendedRead(bool leftDrive) {
  const uint8_t family = Family();
  auto finish = [&] {
    if (family == 0x02) {
      image_.Set(490, 0);
      image_.Set(492, 0);
    }
  };
  if (!ReadStep(362, 24)) {
    CountExtendedFailure();
    return finish();
  }
  const uint16_t firmware = Value(reg::kFirmware);
  if (extendedFailures_ < kExtendedFailureLimit && firmware >= 1025 && firmware != 33685 &&
      firmware != 33686 && firmware != 33687) {
    access_.Pause(50);
    if (family != 0x02 && !ReadStep(490, 20)) {
      CountExtendedFailure();
      return finish();
    }
    if (family == 0x09) {
      if (!ReadStep(507, 5) || !ReadStep(leftDrive ? reg::kPseudoLeft : reg::kPseudoRight, 1)) {
        CountExtendedFailure();
        return finish();
      }
    } else {
      image_.Set(507, 0);
      image_.Set(508, 0);
    }
  }
  finish();
}

RegisterMap::ReadOutcome RegisterMap::ReadGroupWithSteps(int group) {
  ReadOutcome outcome;
  const auto registers = GroupRegisters(group);
  if (!registers || !ReadStep(registers->first, registers->count)) {
    outcome.ok = false;
    outcome.error = "Read Reg Group " + std::to_string(group) + " Error";
    return outcome;
  }
  const uint16_t type = ModuleType();
  switch (group) {
    case 1:
      ExtendedRead(true);
      break;
    case 2:
      ExtendedRead(false);
      access_.Pause(50);
      if (!ReadStep(reg::kPlcLink, 1)) {
        outcome.ok = false;
        outcome.error = "Read Reg [254]";
      }
      break;
    case 3:
      if (type == 2 || type == 5) image_.Set(reg::kZoneUseA, 0);
      break;
    case 4:
      if (type == 2 || type == 5) image_.Set(reg::kZoneUseB, 0);
      break;
    default:
      break;
  }
  return outcome;
}

RegisterMap::ReadOutcome RegisterMap::FullRead() {
  for (int group : {5, 1, 2, 3, 4}) {
    ReadOutcome outcome = ReadGroupWithSteps(group);
    if (!outcome.ok) {
      LogError("%s", outcome.error.c_str());
      return outcome;
    }
  }
  if (!ReadStep(6, 7)) {
    LogError("Read Reg [6] - [12]");
    return {false, "Read Reg [6] - [12]"};
  }
  if (Family() == 0x02 && !ReadStep(reg::kPlcLink, 1)) {
    LogError("Read Reg [254]");
    return {false, "Read Reg [254]"};
  }
  return {};
}

RegisterMap::ReadOutcome RegisterMap::RotatingRead(int rotatingGroup) {
  ReadOutcome outcome = ReadGroupWithSteps(rotatingGroup);
  if (!outcome.ok) {
    LogError("%s", outcome.error.c_str());
    return outcome;
  }
  if (!ReadStep(17, 20)) {
    LogError("Read Reg Group 5");
    return {false, "Read Reg Group 5"};
  }
  access_.Pause(50);
  if (!ReadStep(279, 16)) {
    LogError("Read Reg Group 8");
    return {false, "Read Reg Group 8"};
  }
  access_.Pause(50);
  return {};
}

// ---------------------------------------------------------------------------------------------
// Command block

bool RegisterMap::FormatFlash(uint32_t limitMs) {
  if (!WriteOne(reg::kCommand, reg::kFormatCommand)) return false;
  const uint32_t start = platform::GetTickCount();
  for (;;) {
    try {
      const auto value = ReadOne(reg::kCommand);
      if (value && *value == 0) return true;
    } catch (const CBlockingSocketException&) {
      // the module may be busy writing its flash; keep asking until the limit
    }
    if (platform::TicksSince(start) >= limitMs) {
      LogError("Format Flash: register 251 did not return to 0 within %u ms", limitMs);
      return false;
    }
    access_.Pause(kFormatPollMs);
  }
}

bool SaveRegisterPairStandalone(const std::string& ipText, uint16_t r1, uint16_t v1, uint16_t r2,
                                uint16_t v2, bool reversed, uint16_t port) {
  auto map = [reversed](uint16_t reg) {
    return reversed ? static_cast<uint16_t>(MirrorMap::Map(reg)) : reg;
  };
  CBlockingSocket client;
  client.SetTimeoutMs(3000);
  try {
    client._Connect(ipText, port, false);
  } catch (const CBlockingSocketException&) {
    return false;
  }
  // A value that did not arrive must not be saved: stop at the first unconfirmed write.
  const bool ok = client.WriteRegister(map(r1), v1) == 1 &&
                  client.WriteRegister(map(r2), v2) == 1 &&
                  client.WriteRegister(reg::kCommandFirst, map(r1)) == 1 &&
                  client.WriteRegister(reg::kCommandCount, 2) == 1 &&
                  client.WriteRegister(reg::kCommand, reg::kSaveCommand) == 1;
  platform::SleepMs(500);
  client.Cleanup();
  return ok;
}

}  // namespace params
