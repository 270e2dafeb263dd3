#include "platform/folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace platform {
namespace {

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string HomeFolder() {
  std::string home = Environment("HOME");
  if (!home.empty()) return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* result = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
      result->pw_dir) {
    return result->pw_dir;
  }
  return "/";
}

// XDG_DESKTOP_DIR from the user-dirs file: a quoted path, absolute or starting with $HOME.
std::string XdgDesktopFolder(const std::string& home) {
  std::string config = Environment("XDG_CONFIG_HOME");
  if (config.empty()) config = home + "/.config";
  std::ifstream file(config + "/user-dirs.dirs");
  std::string line;
  const std::string prefix = "XDG_DESKTOP_DIR=";
  while (std::getline(file, line)) {
    if (line.compare(0, prefix.size(), prefix) != 0) continue;
    std::string value = line.substr(prefix.size());
    if (value.size() < 2 || value.front() != '"') return std::string();
    const size_t close = value.find('"', 1);
    if (close == std::string::npos) return std::string();
    value = value.substr(1, close - 1);
    if (value.compare(0, 5, "$HOME") == 0) return home + value.substr(5);
    if (!value.empty() && value.front() == '/') return value;
    return std::string();
  }
  return std::string();
}

}  // namespace

std::string TempFolder() {
  // A TMPDIR that is missing, not a folder or not writable would lose every log line: /tmp
  // takes its place, as for an unset TMPDIR.
  const std::string tmp = Environment("TMPDIR");
  if (tmp.empty() || !IsFolder(tmp) || ::access(tmp.c_str(), W_OK | X_OK) != 0) return "/tmp/";
  return WithSlash(tmp);
}

std::string ExecutableFolder() {
  std::vector<char> buffer(4096);
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return CurrentFolder();
  const std::string path(buffer.data(), static_cast<size_t>(length));
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return CurrentFolder();
  return path.substr(0, slash + 1);
}

std::string DesktopFolder() {
  const std::string home = HomeFolder();
  const std::string xdg = XdgDesktopFolder(home);
  if (IsFolder(xdg)) return WithSlash(xdg);
  if (IsFolder(home + "/Desktop")) return WithSlash(home + "/Desktop");
  return WithSlash(home);
}

std::string CurrentFolder() {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() > (1u << 20)) return "./";
    buffer.resize(buffer.size() * 2);
  }
  return WithSlash(buffer.data());
}

}  // namespace platform
