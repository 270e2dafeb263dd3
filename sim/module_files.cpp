#include "sim/module_files.h"

#include <strings.h>

namespace sim {
namespace {

// Decimal digits from `at`; nullopt when none.
std::optional<int> Digits(const std::string& text, size_t at) {
  int value = 0;
  size_t end = at;
  while (end < text.size() && text[end] >= '0' && text[end] <= '9' && end - at < 6) {
    value = value * 10 + (text[end] - '0');
    ++end;
  }
  if (end == at) return std::nullopt;
  return value;
}

}  // namespace

std::optional<FileVersion> FirmwareVersionFromName(const std::string& name) {
  const size_t first = name.find('_');
  if (first == std::string::npos) return std::nullopt;
  // "TORMWEXALIN_V<major>_<minor>": the major follows the "_V".
  const size_t majorAt = strncasecmp(name.c_str(), "TORMWEXALIN_V", 13) == 0 ? 13 : first + 1;
  const auto major = Digits(name, majorAt);
  const size_t second = name.find('_', majorAt);
  if (!major || second == std::string::npos) return std::nullopt;
  const auto minor = Digits(name, second + 1);
  if (!minor || *major < 1) return std::nullopt;
  return FileVersion{*major > 99 ? *major - 100 : *major, *minor};
}

}  // namespace sim
