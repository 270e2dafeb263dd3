#pragma once
// The user's profile entries in QSettings("Corvenna", "Quillmar"): the per-user settings file
// of the maker and program. Needs only QtCore, so the CLI uses it too.
#include <QSettings>
#include <QString>
#include <mutex>
#include <string>

#include "platform/profile.h"

namespace ui {

class QtProfileStore : public platform::ProfileStore {
 public:
  static constexpr const char* kOrganization = "Corvenna";
  static constexpr const char* kApplication = "Quillmar";

  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& defaultValue) override {
    std::lock_guard guard(mutex_);
    QSettings settings(kOrganization, kApplication);
    return settings.value(Key(section, key), QString::fromStdString(defaultValue))
        .toString()
        .toStdString();
  }

  void SetString(const std::string& section, const std::string& key,
                 const std::string& value) override {
    std::lock_guard guard(mutex_);
    QSettings settings(kOrganization, kApplication);
    settings.setValue(Key(section, key), QString::fromStdString(value));
    settings.sync();
  }

 private:
  static QString Key(const std::string& section, const std::string& key) {
    return QString::fromStdString(section) + '/' + QString::fromStdString(key);
  }
  std::mutex mutex_;  // one QSettings at a time: a shared instance is not thread-safe
};

}  // namespace ui
