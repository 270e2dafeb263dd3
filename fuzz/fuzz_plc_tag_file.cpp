// The tag description file: any text either loads tags that stay inside the data area or is
// refused with a reason.
#include <cstddef>
#include <cstdint>
#include <string>

#include "plc/tag_file.h"
#include "plc/tag_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto info = plc::ParseTagFile(text, &error);
  if (!info) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  for (const auto& tag : info->tags) {
    if (tag.offset + plc::TagValueSize(tag.type) > plc::kMaxDataSize) __builtin_trap();
    if (tag.bit > 31) __builtin_trap();
  }
  return 0;
}
