// linesim's parser of TFTP requests (RRQ / WRQ with options): names and options must come
// from inside the datagram only.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/tftp_server.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exactly sized copy, so that any read past the datagram is seen.
  const std::vector<uint8_t> datagram(data, data + size);
  if (const auto request = sim::tftp::ParseRequest(datagram.data(), datagram.size())) {
    if (request->file.size() + request->mode.size() + 4 > size) __builtin_trap();
    if (request->file.empty()) __builtin_trap();
  }
  return 0;
}
