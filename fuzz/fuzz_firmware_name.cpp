// The upgrade's firmware name rules and header words: any name (and its bytes as a header).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/firmware_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string name(reinterpret_cast<const char*>(data), size);
  for (const bool plc : {false, true}) {
    const auto examined = config::ExamineFirmwareName(name, plc);
    if (examined.ok && examined.remoteName.empty()) __builtin_trap();
  }
  if (const auto version = config::VersionFromFileName(name)) {
    if (version->major < 1 || version->major > 255 || version->minor < 0 || version->minor > 255)
      __builtin_trap();
  }
  const std::vector<uint8_t> header(data, data + size);  // exactly `size` bytes
  for (size_t index = 0; index < 8; ++index) {
    const auto word = config::HeaderWord(header.data(), header.size(), index);
    if (word.has_value() != (header.size() >= index * 4 + 4)) __builtin_trap();
  }
  return 0;
}
