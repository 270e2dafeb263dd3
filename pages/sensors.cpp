#include "pages/sensors.h"

#include <optional>

#include "comm/event_log.h"
#include "params/mirror_map.h"
#include "params/register_map.h"

namespace pages {

uint16_t SensorMask(SensorSetting setting, bool reversed) {
  switch (setting) {
    case SensorSetting::BlockedLeft:
      return reversed ? 0x40 : 0x10;
    case SensorSetting::BlockedRight:
      return reversed ? 0x10 : 0x40;
    case SensorSetting::ErrorLeft:
      return reversed ? 0x04 : 0x01;
    case SensorSetting::ErrorRight:
      break;
  }
  return reversed ? 0x01 : 0x04;
}

const char* SensorSettingName(SensorSetting setting) {
  switch (setting) {
    case SensorSetting::BlockedLeft:
      return "blocked left";
    case SensorSetting::BlockedRight:
      return "blocked right";
    case SensorSetting::ErrorLeft:
      return "error left";
    case SensorSetting::ErrorRight:
      break;
  }
  return "error right";
}

bool BoardHasErrorPolarity(uint16_t register17) {
  const unsigned board = register17 >> 8;
  return board != 0x03 && board != 0x09;
}

uint16_t SensorSetAllValue(uint16_t source, uint16_t target, bool sourceHasErrorPolarity) {
  uint16_t value =
      static_cast<uint16_t>((target & ~kSensorBlockedBits) | (source & kSensorBlockedBits));
  if (sourceHasErrorPolarity)
    value = static_cast<uint16_t>((value & ~kSensorErrorBits) | (source & kSensorErrorBits));
  return value;
}

SensorsView Sensors::Refresh(const std::string& shownAddress) {
  const bool errorShown = view_.errorShown;
  shown_ = shownAddress;
  view_ = SensorsView{};
  view_.errorShown = errorShown;
  if (shownAddress.empty()) return view_;
  if (!registers_.Connect(shownAddress)) return view_;
  const auto r34 = registers_.ReadOne(kSensorRegister);
  std::vector<uint16_t> identity;  // registers 6..17
  if (!r34 || !registers_.ReadBlock(params::reg::kVariant, 12, &identity)) {
    registers_.Disconnect();
    return view_;
  }
  view_.register34 = *r34;
  view_.reversed = params::MirrorMap::ReversedVariant(identity[0]);
  for (SensorSetting setting : kSensorSettings) {
    const uint16_t mask = SensorMask(setting, view_.reversed);
    view_.current[static_cast<size_t>(setting)] = (*r34 & mask) ? mask : 0;
  }
  view_.errorShown = BoardHasErrorPolarity(identity[11]);
  const auto type = registers_.ReadOne(params::reg::kModuleType);
  if (type && *type == 2) {
    view_.locked = true;
    for (uint16_t& value : view_.current) value = static_cast<uint16_t>(value + kSensorLocked);
  }
  registers_.Disconnect();
  view_.connected = true;
  return view_;
}

SensorsView Sensors::Write(SensorSetting setting, int how) {
  if (!view_.connected) return view_;
  std::string label = SensorSettingName(setting);
  // Every way out below but the confirmed save tells why the setting is not in flash.
  auto failed = [this, &label](std::optional<uint16_t> written) {
    Refresh(shown_);
    const bool inModule = written && view_.connected && view_.register34 == *written;
    view_.writeFailure = NotSavedText(shown_, label, inModule);
    return view_;
  };
  if (!registers_.Connect(shown_)) {
    LogError("CSensors - Connect to \"%s\" ERROR !", shown_.c_str());
    if (how >= 0) label += how ? " inverted" : " normal";
    return failed(std::nullopt);
  }
  const uint16_t mask = SensorMask(setting, view_.reversed);
  const auto read = registers_.ReadOne(kSensorRegister);
  if (!read) {
    // Nothing is written on a value that was not read.
    LogError("CSensors - Read Reg [34] of \"%s\" ERROR !", shown_.c_str());
    registers_.Disconnect();
    if (how >= 0) label += how ? " inverted" : " normal";
    return failed(std::nullopt);
  }
  uint16_t value = *read;
  const uint16_t current = view_.current[static_cast<size_t>(setting)];
  if (how == 1 || (how < 0 && current == 0)) value = static_cast<uint16_t>(value | mask);
  if (how == 0 || (how < 0 && current == mask)) value = static_cast<uint16_t>(value & ~mask);
  // A locked value (mask + 0x100) matches neither: register 34 goes back unchanged.
  const bool saved = registers_.SaveToFlash(kSensorRegister, value);
  registers_.Disconnect();
  if (!saved) {
    // The module may show the value in RAM although its flash keeps the old one: the refresh
    // alone would make it look taken.
    LogError("CSensors - SaveToFlash(34, 0x%04X) on \"%s\" ERROR !", value, shown_.c_str());
    label += (value & mask) ? " inverted" : " normal";
    return failed(value);
  }
  return Refresh(shown_);
}

SensorsView Sensors::Toggle(SensorSetting setting) {
  return Write(setting, -1);
}

SensorsView Sensors::SetBit(SensorSetting setting, bool set) {
  return Write(setting, set ? 1 : 0);
}

SensorsSetAllOutcome Sensors::SetAll(const std::vector<std::string>& range, const Report& report) {
  SensorsSetAllOutcome outcome;
  if (!view_.connected || range.empty()) return outcome;
  if (!registers_.Connect(shown_)) return outcome;
  const auto source = registers_.ReadOne(kSensorRegister);
  const auto board = registers_.ReadOne(params::reg::kHardwareRevision);
  registers_.Disconnect();
  if (!source || !board) {
    LogError("CSensors::OnSetAll - Read of \"%s\" ERROR !", shown_.c_str());
    return outcome;
  }
  const bool errorPolarity = BoardHasErrorPolarity(*board);
  outcome.ran = true;
  for (const std::string& address : range) {
    view_.progressText = address;
    if (report) report(view_);
    bool ok = registers_.Connect(address);
    const auto target = ok ? registers_.ReadOne(kSensorRegister) : std::nullopt;
    // A target that could not be read is left alone rather than written from nothing.
    ok = target && registers_.SaveToFlash(kSensorRegister,
                                          SensorSetAllValue(*source, *target, errorPolarity));
    registers_.Disconnect();
    (ok ? outcome.written : outcome.failed).push_back(address);
    if (!ok) LogError("CSensors::OnSetAll - \"%s\" ERROR !", address.c_str());
  }
  view_.progressText.clear();
  if (report) report(view_);
  return outcome;
}

}  // namespace pages
