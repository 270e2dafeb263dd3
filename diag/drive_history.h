#pragma once
// The drive history that a module of the Ux family keeps about the drives once connected to it,
// as its service text port answers the command "7", and the rows `UxMtrHistory` lists.
// Pure functions over the answer text; the text port traffic is the dialog's business.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/language.h"

namespace diag {

inline constexpr char kHistoryCommand[] = "7";
inline constexpr int kHistoryRecords = 32;
inline constexpr int kHistoryFields = 10;

// The fields of one record, in the order the module writes them.
enum HistoryField {
  kHistoryIndex = 0,
  kHistorySerial,
  kHistoryDate,
  kHistoryLock,
  kHistoryOperatingTime,
  kHistoryCurrentLimit,
  kHistoryOverheat,
  kHistoryOnOffCycles,
  kHistoryOverVoltage,
  kHistoryUnderVoltage,
};

// Each field lies between its start marker and its end marker, blanks included.
struct HistoryMarkers {
  std::string_view start;
  std::string_view end;
};
extern const std::array<HistoryMarkers, kHistoryFields> kHistoryMarkers;

// One record: each field as text and as the decimal number its text starts with.
struct HistoryRecord {
  std::array<std::string, kHistoryFields> text;
  std::array<uint32_t, kHistoryFields> number{};
};

// The 32 record slots of an answer. A field whose start or end marker is missing is left empty
// (number 0), and so is every field after it.
std::array<HistoryRecord, kHistoryRecords> ParseHistory(std::string_view answer);

// The decimal value at the start of a field text: leading blanks skipped, then digits; 0 when
// the text does not start with a number; a value beyond 32 bits stays at 4294967295.
uint32_t HistoryNumber(std::string_view text);

// "SN: %s%02d.%02d.%02d-%d": region of serial bits 10..11 ("EU ", "JP ", "USA ", none), the date's
// bytes from high to low (bits 16..23, 8..15, 0..7), serial bits 0..9.
std::string HistorySerialText(uint32_t serial, uint32_t date);

// Which motor port the drive was on: a lock field starting with 1 or 2, else a hyphen.
inline constexpr char kLeftMotorText[] = "Linker Motor";
inline constexpr char kRightMotorText[] = "Rechter Motor";
std::string HistoryMotorText(std::string_view lockField);

// The list's columns with their widths. The motor column's title is the dialog's own text, its
// "\r" included. The titles are marked for translation in the context "DriveHistory".
struct HistoryColumn {
  std::string_view title;
  int width;
};
inline constexpr HistoryColumn kHistoryColumns[] = {
    {QM_TRANSLATE_NOOP("DriveHistory", "No:"), 30},
    {QM_TRANSLATE_NOOP("DriveHistory", "Seriennummer"), 117},
    {QM_TRANSLATE_NOOP("DriveHistory", "Linker\rechter Motor"), 111},
    {QM_TRANSLATE_NOOP("DriveHistory", "Einschaltzeit"), 72},
    {QM_TRANSLATE_NOOP("DriveHistory", "Strombegrenzung"), 98},
    {QM_TRANSLATE_NOOP("DriveHistory", "Überhitzung"), 72},
    {QM_TRANSLATE_NOOP("DriveHistory", "Anzahl Schaltungen"), 108},
    {QM_TRANSLATE_NOOP("DriveHistory", "Überspannung"), 82},
    {QM_TRANSLATE_NOOP("DriveHistory", "Unterspannung"), 88}};

// One row of the list: the record's number (1 to 32) and the nine column texts.
struct HistoryRow {
  int record = 0;
  std::array<std::string, 9> columns;
};
// One row per record whose serial number is not 0, in record order.
std::vector<HistoryRow> HistoryRows(const std::array<HistoryRecord, kHistoryRecords>& records);

}  // namespace diag
