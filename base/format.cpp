#include "base/format.h"

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace base {

std::string FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  const int needed = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (needed < 0) return std::string();
  if (static_cast<size_t>(needed) < sizeof small) return std::string(small, needed);
  std::vector<char> large(static_cast<size_t>(needed) + 1);
  std::vsnprintf(large.data(), large.size(), format, args);
  return std::string(large.data(), static_cast<size_t>(needed));
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  return text;
}

std::string Ipv4Text(uint32_t addressNetworkOrder) {
  const auto* b = reinterpret_cast<const unsigned char*>(&addressNetworkOrder);
  return Format("%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
}

std::string MacText(const unsigned char* mac) {
  return Format("%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
}

}  // namespace base
