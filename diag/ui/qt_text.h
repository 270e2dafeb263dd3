#pragma once
// The diagnostic windows' texts (UTF-8, from the core's tables) as Qt strings.
#include <QString>
#include <string_view>

namespace diag {

inline QString Utf8ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace diag
