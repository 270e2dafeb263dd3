// Typed IPv4 texts: ParseAddress never reads past the text, and whatever it accepts prints
// back as the same four bytes.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/format.h"
#include "discovery/inventory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::array<uint8_t, 4> bytes{};
  if (!ParseAddress(text, bytes)) return 0;
  const std::string printed = base::Format("%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
  std::array<uint8_t, 4> again{};
  if (!ParseAddress(printed, again) || again != bytes) std::abort();
  return 0;
}
