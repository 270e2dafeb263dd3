// The parsers of the service text port's answers (b, l, m, r, t, g, i, f) and the last-reset
// text over any bytes: every result must come from the bytes given, never from past them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "diag/statistics.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The answer lies in its own exactly sized buffer so that any overread is seen.
  const std::vector<char> buffer(data, data + size);
  const std::string_view answer(buffer.data(), buffer.size());

  const auto load = diag::ParseCpuLoad(answer);
  if (load) {
    if (load->samples <= 0 || static_cast<size_t>(load->samples) * 3 > size) __builtin_trap();
    if (load->minimum < 0 || load->maximum > 99 || load->minimum > load->maximum) __builtin_trap();
    if (load->average < load->minimum || load->average > load->maximum) __builtin_trap();
  }
  const std::string memory = diag::ParseFreeMemory(answer);
  if (memory != "---" && answer.find(memory) == std::string_view::npos) __builtin_trap();
  const std::string list = diag::ParseListAnswer(answer);
  if (list.size() != (size > 2 ? size - 2 : 0)) __builtin_trap();
  if (diag::ParseFirmwareRevision(answer) != answer) __builtin_trap();
  (void)diag::ParseFlashSaveCounters(answer);
  const auto module = diag::ParseModuleNumber(answer);
  if (module && (*module < 1 || *module > 236)) __builtin_trap();

  if (size >= 4) {
    const uint16_t reason = static_cast<uint16_t>(data[0] << 8 | data[1]);
    const uint16_t hardware = static_cast<uint16_t>(data[2] << 8 | data[3]);
    (void)diag::LastResetText(reason, hardware);
  }
  diag::ModuleStatistics statistics;
  statistics.address = "192.168.202.20";
  statistics.flashCounters = std::string(answer);
  statistics.cpuLoad = load;
  statistics.freeMemory = memory;
  statistics.tasks = list;
  if (diag::StatisticsText(statistics).size() < size) __builtin_trap();
  return 0;
}
