#pragma once
// The modules' own diagnostic event logs, as `CDiagnosticLog` lists them: each log is read as
// 600 holding registers of up to 150 entries and every entry becomes one row of four texts.
// Pure functions over the register words; reading the registers is the dialog's business.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace diag {

// Where the two logs start, how many registers each read takes, how many entries fit.
inline constexpr uint16_t kFirstLogRegister = 10200;
inline constexpr uint16_t kSecondLogRegister = 10300;
inline constexpr int kLogRegisters = 600;
inline constexpr int kLogEntryRegisters = 4;
inline constexpr int kLogEntries = kLogRegisters / kLogEntryRegisters;

// Source categories as the module numbers them (low byte of an entry's first register).
enum LogCategory : uint8_t {
  kCategoryUnknown = 0,
  kCategoryMotorA = 1,
  kCategoryMotorB = 2,
  kCategoryProfinet = 3,
  kCategoryEthernetIp = 4,
  kCategoryModbus = 5,
  kCategorySensors = 6,
  kCategoryMax = 7,
};

// One entry as the module stores it.
struct LogEntry {
  uint8_t category = 0;    // low byte of register 4k
  uint8_t code = 0;        // high byte of register 4k
  uint16_t parameter = 0;  // register 4k + 1
  uint32_t timeMs = 0;     // registers 4k + 2 (low word) and 4k + 3 (high word)
};

// One row of a log list: "Event happend before", "Event Caused by", "Event Description", "Value".
struct LogRow {
  std::string time;
  std::string cause;
  std::string description;
  std::string value;

  bool operator==(const LogRow&) const = default;
};

// The dialog's columns with their widths.
struct LogColumn {
  std::string_view title;
  int width;
};
inline constexpr LogColumn kLogColumns[] = {{"Event happend before", 140},
                                            {"Event Caused by", 140},
                                            {"Event Description", 250},
                                            {"Value", 40}};

// The code tables. Each returns an empty text for a code or parameter outside its table.
std::string_view CategoryText(unsigned category);
std::string_view DriveEventText(unsigned code);
std::string_view EthernetIpEventText(unsigned code);
std::string_view ModbusEventText(unsigned code, unsigned parameter);
std::string_view SensorEventText(unsigned code, unsigned parameter);

// "%dTage, %02d:%02d:%02d.%03d" from one day on, else "%02d:%02d:%02d.%03d".
std::string EventAgeText(uint32_t ms);

// The entries of one log in order, up to the first all-zero entry and to the 150th; only whole
// entries of the words given count, so a short read yields fewer entries and never more.
std::vector<LogEntry> DecodeLogEntries(std::span<const uint16_t> words);
// The row that one entry shows: categories 1 to 6 fill every column, any other only the time.
LogRow LogRowOf(const LogEntry& entry);
// The rows of one log as read from its registers.
std::vector<LogRow> DecodeLog(std::span<const uint16_t> words);

// Log 1 is kept only by modules whose register 17 does not carry the family 0x0C; for those it
// is taken as empty and not read.
bool HasFirstLog(uint16_t register17);
// The dialog hides the first list and its caption when the node's type byte has the high nibble
// 0xC.
bool HidesFirstList(uint8_t nodeTypeByte);

}  // namespace diag
