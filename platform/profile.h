#pragma once
// The user's profile entries: the desktop program keeps them with QSettings("Corvenna",
// "Quillmar"); the CLI reads and writes the same file with IniProfileStore, without Qt.
#include <map>
#include <mutex>
#include <string>
#include <vector>

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

// The per-user settings file of the maker and program, in the INI form the desktop program's
// settings use: <config>/Corvenna/Quillmar.conf, where <config> is $XDG_CONFIG_HOME when it is
// an absolute path, else $HOME/.config. An entry missing there is looked up, in this order, in
// the maker's file (<config>/Corvenna.conf) and in the same two files under /etc/xdg, as the
// desktop program does. Every call reads the file again, so that entries the desktop program
// wrote meanwhile are seen; a write replaces the file whole (a new file renamed over it) under
// the same lock file the desktop program takes, and keeps every other entry as it was.
class IniProfileStore : public ProfileStore {
 public:
  static constexpr const char* kOrganization = "Corvenna";
  static constexpr const char* kApplication = "Quillmar";

  IniProfileStore();
  // The files of another maker/program, or under other folders (tests).
  IniProfileStore(std::string userFolder, std::string systemFolder, std::string organization,
                  std::string application);

  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& defaultValue) override;
  void SetString(const std::string& section, const std::string& key,
                 const std::string& value) override;

  // The file that SetString writes.
  const std::string& FilePath() const { return files_.front(); }
  // Why the last SetString could not write the file; empty after a write that succeeded.
  std::string LastWriteError();

 private:
  std::mutex mutex_;
  std::vector<std::string> files_;  // in lookup order; the first is the one written
  std::string lastWriteError_;
};

// The user's settings folder: $XDG_CONFIG_HOME when absolute, else $HOME/.config (with '/').
std::string UserConfigFolder();

}  // namespace platform
