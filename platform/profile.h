#pragma once
// The user's profile entries (the apps put QSettings("Corvenna", "Quillmar") behind this).
#include <map>
#include <mutex>
#include <string>

namespace platform {

class ProfileStore {
 public:
  virtual ~ProfileStore() = default;
  virtual std::string GetString(const std::string& section, const std::string& key,
                                const std::string& defaultValue) = 0;
  virtual void SetString(const std::string& section, const std::string& key,
                         const std::string& value) = 0;
  int GetInt(const std::string& section, const std::string& key, int defaultValue);
  void SetInt(const std::string& section, const std::string& key, int value);
};

// In memory; for tests and for runs that must not touch the user's settings.
class MemoryProfileStore : public ProfileStore {
 public:
  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& defaultValue) override;
  void SetString(const std::string& section, const std::string& key,
                 const std::string& value) override;

 private:
  std::mutex mutex_;
  std::map<std::string, std::string> values_;
};

}  // namespace platform
