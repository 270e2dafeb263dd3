// The drive history parser over any answer text: every field must be a piece of the answer,
// and the rows at most the 32 record slots, each with a serial number.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "diag/drive_history.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The answer lies in its own exactly sized buffer so that any overread is seen.
  const std::vector<char> buffer(data, data + size);
  const std::string_view answer(buffer.data(), buffer.size());
  const auto records = diag::ParseHistory(answer);
  for (const diag::HistoryRecord& record : records) {
    for (size_t f = 0; f < record.text.size(); ++f) {
      if (record.text[f].size() > size) __builtin_trap();
      if (!record.text[f].empty() && answer.find(record.text[f]) == std::string_view::npos) {
        __builtin_trap();
      }
      if (record.number[f] != diag::HistoryNumber(record.text[f])) __builtin_trap();
    }
  }
  const std::vector<diag::HistoryRow> rows = diag::HistoryRows(records);
  if (rows.size() > static_cast<size_t>(diag::kHistoryRecords)) __builtin_trap();
  int previous = 0;
  for (const diag::HistoryRow& row : rows) {
    if (row.record <= previous || row.record > diag::kHistoryRecords) __builtin_trap();
    previous = row.record;
    const auto& record = records[static_cast<size_t>(row.record - 1)];
    if (record.number[diag::kHistorySerial] == 0) __builtin_trap();
    if (row.columns[1].compare(0, 4, "SN: ") != 0) __builtin_trap();
  }
  return 0;
}
