#include "platform/profile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace platform {
namespace {

// Section and key joined by a character that neither contains.
std::string EntryKey(const std::string& section, const std::string& key) {
  return section + '\x1f' + key;
}

}  // namespace

int ProfileStore::GetInt(const std::string& section, const std::string& key, int defaultValue) {
  const std::string text = GetString(section, key, std::string());
  if (text.empty()) return defaultValue;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  // Not a number, or one that does not fit: the entry does not count.
  if (end == text.c_str() || errno == ERANGE || value < INT_MIN || value > INT_MAX) {
    return defaultValue;
  }
  return static_cast<int>(value);
}

void ProfileStore::SetInt(const std::string& section, const std::string& key, int value) {
  SetString(section, key, std::to_string(value));
}

std::string MemoryProfileStore::GetString(const std::string& section, const std::string& key,
                                          const std::string& defaultValue) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = values_.find(EntryKey(section, key));
  return found == values_.end() ? defaultValue : found->second;
}

void MemoryProfileStore::SetString(const std::string& section, const std::string& key,
                                   const std::string& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  values_[EntryKey(section, key)] = value;
}

}  // namespace platform
