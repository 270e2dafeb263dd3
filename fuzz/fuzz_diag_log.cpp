// The diagnostic log decoder over any register words (two input bytes each, high byte first):
// it must never read past the words given, nor yield more rows than whole entries or than 150.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "diag/diagnostic_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The words lie in their own exactly sized buffer so that any overread is seen.
  std::vector<uint16_t> words(size / 2);
  for (size_t k = 0; k < words.size(); ++k) {
    words[k] = static_cast<uint16_t>(data[2 * k] << 8 | data[2 * k + 1]);
  }
  const std::vector<diag::LogEntry> entries = diag::DecodeLogEntries(words);
  const std::vector<diag::LogRow> rows = diag::DecodeLog(words);
  if (rows.size() != entries.size()) __builtin_trap();
  if (rows.size() > words.size() / 4 || rows.size() > static_cast<size_t>(diag::kLogEntries)) {
    __builtin_trap();
  }
  for (size_t k = 0; k < rows.size(); ++k) {
    const diag::LogEntry& e = entries[k];
    if (e.category == 0 && e.code == 0 && e.parameter == 0 && e.timeMs == 0) __builtin_trap();
    if (rows[k].time.empty() || rows[k].time.size() > 24) __builtin_trap();
    // Categories 1 to 6 fill the value column; any other shows its time only.
    if (e.category >= 1 && e.category <= 6 && rows[k].value.empty()) __builtin_trap();
    if ((e.category == 0 || e.category >= 7) &&
        !(rows[k].value.empty() && rows[k].cause.empty() && rows[k].description.empty())) {
      __builtin_trap();
    }
  }
  return 0;
}
