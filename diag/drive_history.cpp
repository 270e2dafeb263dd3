#include "diag/drive_history.h"

#include "base/format.h"

namespace diag {

const std::array<HistoryMarkers, kHistoryFields> kHistoryMarkers = {{
    {"\r\nMDR [ ", "];Serial      "},
    {"];Serial      ", ";Date                   "},
    {";Date                   ", ",Lock  "},
    {",Lock  ", "\r\n\r       Operating      "},
    {"\r\n\r       Operating      ", "; Current Limit         "},
    {"; Current Limit         ", "; OverHeat       "},
    {"; OverHeat       ", "\r\n\r   ON-OFF Cycles      "},
    {"\r\n\r   ON-OFF Cycles      ", "; OverVoltage           "},
    {"; OverVoltage           ", "; UnderVoltage   "},
    {"; UnderVoltage   ", "\r\r\n"},
}};

std::array<HistoryRecord, kHistoryRecords> ParseHistory(std::string_view answer) {
  std::array<HistoryRecord, kHistoryRecords> records;
  std::string_view rest = answer;
  for (HistoryRecord& record : records) {
    for (int f = 0; f < kHistoryFields; ++f) {
      const HistoryMarkers& markers = kHistoryMarkers[static_cast<size_t>(f)];
      const size_t start = rest.find(markers.start);
      if (start == std::string_view::npos) return records;
      const size_t from = start + markers.start.size();
      // The end marker is looked for after the start marker, so that a field is never cut
      // from text before it.
      const size_t end = rest.find(markers.end, from);
      if (end == std::string_view::npos) return records;
      const std::string_view text = rest.substr(from, end - from);
      record.text[static_cast<size_t>(f)] = std::string(text);
      record.number[static_cast<size_t>(f)] = HistoryNumber(text);
      // The next field's start marker is often this field's end marker: go on from it.
      rest = rest.substr(end);
    }
  }
  return records;
}

uint32_t HistoryNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    if (value > UINT32_MAX) return UINT32_MAX;
  }
  return static_cast<uint32_t>(value);
}

std::string HistorySerialText(uint32_t serial, uint32_t date) {
  static constexpr const char* kRegions[4] = {"EU ", "JP ", "USA ", ""};
  return base::Format("SN: %s%02d.%02d.%02d-%d", kRegions[serial >> 10 & 3],
                      static_cast<int>(date >> 16 & 0xFF), static_cast<int>(date >> 8 & 0xFF),
                      static_cast<int>(date & 0xFF), static_cast<int>(serial & 0x3FF));
}

std::string HistoryMotorText(std::string_view lockField) {
  if (!lockField.empty() && lockField[0] == '1') return kLeftMotorText;
  if (!lockField.empty() && lockField[0] == '2') return kRightMotorText;
  return "-";
}

std::vector<HistoryRow> HistoryRows(const std::array<HistoryRecord, kHistoryRecords>& records) {
  std::vector<HistoryRow> rows;
  for (size_t r = 0; r < records.size(); ++r) {
    const HistoryRecord& record = records[r];
    if (record.number[kHistorySerial] == 0) continue;
    HistoryRow row;
    row.record = static_cast<int>(r) + 1;
    row.columns[0] = base::Format("%d", row.record);
    row.columns[1] = HistorySerialText(record.number[kHistorySerial], record.number[kHistoryDate]);
    row.columns[2] = HistoryMotorText(record.text[kHistoryLock]);
    for (int f = kHistoryOperatingTime; f <= kHistoryUnderVoltage; ++f) {
      row.columns[static_cast<size_t>(f - kHistoryOperatingTime + 3)] =
          record.text[static_cast<size_t>(f)];
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace diag
