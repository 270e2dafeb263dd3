// linesim's PLC data requests: every request is answered from inside the area and the datagram
// only, and the area keeps its size.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/plc_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> datagram(data, data + size);
  std::vector<uint8_t> area(sim::plcdata::kAreaSize, 0x5A);
  const auto answer = sim::plcdata::Handle(area, datagram.data(), datagram.size());
  if (area.size() != sim::plcdata::kAreaSize) __builtin_trap();
  if (size < 12 && !answer.empty()) __builtin_trap();
  if (!answer.empty() && answer.size() > 8 + sim::plcdata::kMaxRead) __builtin_trap();
  return 0;
}
