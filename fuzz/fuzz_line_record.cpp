// The as-built record that quillmar-cli topology --compare reads: any bytes, split at the first
// NUL into a record and a drawing. Whatever passes the record check is compared both ways and
// every change described; nothing may throw or read outside the documents.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "topology/line_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const size_t split = text.find('\0');
  const std::string first = text.substr(0, split);
  const std::string second = split == std::string::npos ? first : text.substr(split + 1);
  const auto record = nlohmann::json::parse(first, nullptr, false);
  const auto now = nlohmann::json::parse(second, nullptr, false);
  std::string reason;
  if (record.is_discarded() || now.is_discarded() || !topology::IsLineRecord(record, &reason) ||
      !topology::IsLineRecord(now, &reason)) {
    return 0;
  }
  for (const auto& change : topology::CompareLine(record, now)) {
    if (change.changes.empty()) __builtin_trap();
    (void)topology::DescribeChange(change);
  }
  // A record compared with itself has no change.
  if (!topology::CompareLine(record, record).empty()) __builtin_trap();
  return 0;
}
