#include "diag/diagnostic_log.h"

#include <array>

#include "base/format.h"

namespace diag {

namespace {

// The module's vocabulary, exactly as its own tables spell it (trailing blanks included).
constexpr std::array<std::string_view, 8> kCategories = {"UNKNOWN",  " MOTOR A",      " MOTOR B",
                                                         "PROFINET", "ETHERNETIP",    "MODBUS",
                                                         "SENSORS",  "DIAG_CODES_MAX"};

constexpr std::array<std::string_view, 20> kDriveEvents = {
    "",
    "Leistungsgrenze Occur ",
    "Leistungsgrenze Over",
    "CPU überhitzt Occur",
    "CPU überhitzt Over",
    "Hitze Stopp Occur ",
    "Hitze Stopp Over",
    "Motorfehler Occur",
    "Motorfehler Over",
    "Kurzschluss Occur",
    "Kurzschluss Over",
    "Unterspannung Occur",
    "Unterspannung Over",
    "Überspannung Occur ",
    "Überspannung Over",
    "Motor blockiert Occur ",
    "Motor blockiert Over",
    "Überlast Occur",
    "Überlast Over",
    "Unterspannung",
};

constexpr std::array<std::string_view, 10> kEthernetIpEvents = {
    "",
    "Forward Open",
    "Forward Close",
    "Attribute All Error",
    "Common Services Error",
    "Reset Request Error",
    "Disconnect reason",
    "Register Session Error",
    "TCP Server Error",
    "UDP Server Error",
};

// Rows by event code, columns by parameter.
constexpr std::array<std::array<std::string_view, 7>, 3> kModbusEvents = {{
    {"", "", "", "", "", "", ""},
    {"", "Peer Verbindung fehlgeschlagen", "Peer wiederverbunden", "Server buffer error",
     "Server nichtunterstützte Funktion", "SPS verbindet", "SPS trennungen"},
    {"", "(Read function) Register existiert nicht", "(Write function) Register existiert nicht",
     "(Multi Write function) Register existiert nicht",
     "(Read/Write function) Register existiert nicht", "Nicht unterstützte Anzahl Register", ""},
}};

// Codes 20 to 23, parameters 0 and 1.
constexpr unsigned kFirstSensorCode = 20;
constexpr std::array<std::array<std::string_view, 2>, 4> kSensorEvents = {{
    {"Left Sensor disattached ", "Left Sensor attached "},
    {"Right Sensor disattached", "Right Sensor attached"},
    {"Left Sensor - Flicker counter was incremented", ""},
    {"Right Sensor - Flicker counter was incremented", ""},
}};

template <typename Table>
std::string_view Lookup(const Table& table, unsigned index) {
  return index < table.size() ? table[index] : std::string_view();
}

}  // namespace

std::string_view CategoryText(unsigned category) {
  return Lookup(kCategories, category);
}

std::string_view DriveEventText(unsigned code) {
  return Lookup(kDriveEvents, code);
}

std::string_view EthernetIpEventText(unsigned code) {
  return Lookup(kEthernetIpEvents, code);
}

std::string_view ModbusEventText(unsigned code, unsigned parameter) {
  if (code >= kModbusEvents.size()) return {};
  return Lookup(kModbusEvents[code], parameter);
}

std::string_view SensorEventText(unsigned code, unsigned parameter) {
  if (code < kFirstSensorCode) return {};
  const unsigned row = code - kFirstSensorCode;
  if (row >= kSensorEvents.size()) return {};
  return Lookup(kSensorEvents[row], parameter);
}

std::string EventAgeText(uint32_t ms) {
  constexpr uint32_t kDay = 24u * 60u * 60u * 1000u;
  // At most 49 days fit in 32 bits of milliseconds: every part fits an int.
  const int days = static_cast<int>(ms / kDay);
  const int hours = static_cast<int>(ms / 3600000u % 24u);
  const int minutes = static_cast<int>(ms / 60000u % 60u);
  const int seconds = static_cast<int>(ms / 1000u % 60u);
  const int millis = static_cast<int>(ms % 1000u);
  if (ms >= kDay) {
    return base::Format("%dTage, %02d:%02d:%02d.%03d", days, hours, minutes, seconds, millis);
  }
  return base::Format("%02d:%02d:%02d.%03d", hours, minutes, seconds, millis);
}

std::vector<LogEntry> DecodeLogEntries(std::span<const uint16_t> words) {
  std::vector<LogEntry> entries;
  const size_t whole = words.size() / kLogEntryRegisters;
  const size_t count = whole < static_cast<size_t>(kLogEntries) ? whole : kLogEntries;
  for (size_t k = 0; k < count; ++k) {
    const auto entry = words.subspan(k * kLogEntryRegisters, kLogEntryRegisters);
    if (entry[0] == 0 && entry[1] == 0 && entry[2] == 0 && entry[3] == 0) break;
    entries.push_back({.category = static_cast<uint8_t>(entry[0] & 0xFF),
                       .code = static_cast<uint8_t>(entry[0] >> 8),
                       .parameter = entry[1],
                       .timeMs = static_cast<uint32_t>(entry[3]) << 16 | entry[2]});
  }
  return entries;
}

LogRow LogRowOf(const LogEntry& entry) {
  LogRow row;
  row.time = EventAgeText(entry.timeMs);
  switch (entry.category) {
    case kCategoryMotorA:
    case kCategoryMotorB:
      row.description = DriveEventText(entry.code);
      row.value = base::Format("%d", entry.parameter);
      break;
    case kCategoryProfinet:
      row.description = base::Format("%d", entry.code);
      row.value = base::Format("%d/%d", entry.parameter & 0xFF, entry.parameter >> 8);
      break;
    case kCategoryEthernetIp:
      row.description = EthernetIpEventText(entry.code);
      row.value = base::Format("%d", entry.parameter);
      break;
    case kCategoryModbus:
      row.description = ModbusEventText(entry.code, entry.parameter);
      row.value.assign(1, '-');  // not "-": GCC 12 at -O3 warns (-Wrestrict) on it
      break;
    case kCategorySensors:
      row.description = SensorEventText(entry.code, entry.parameter);
      row.value.assign(1, '-');  // not "-": GCC 12 at -O3 warns (-Wrestrict) on it
      break;
    default:
      // Category 0, 7 and anything above: the time only.
      return row;
  }
  row.cause = CategoryText(entry.category);
  return row;
}

std::vector<LogRow> DecodeLog(std::span<const uint16_t> words) {
  std::vector<LogRow> rows;
  for (const LogEntry& entry : DecodeLogEntries(words)) rows.push_back(LogRowOf(entry));
  return rows;
}

bool HasFirstLog(uint16_t register17) {
  return (register17 >> 8) != 0x0C;
}

bool HidesFirstList(uint8_t nodeTypeByte) {
  return (nodeTypeByte & 0xF0) == 0xC0;
}

}  // namespace diag
