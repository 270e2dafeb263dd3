#include "comm/event_log.h"

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include "base/format.h"
#include "platform/folders.h"

namespace {

using Clock = std::chrono::system_clock;

struct LogState {
  std::mutex lock;  // every open, rotation and write
  int fd = -1;
  std::string path;
  // Test hooks; empty / null means the real thing.
  std::string tempFolder;
  std::string executableFolder;
  std::function<Clock::time_point()> clock;
  uint64_t rotateBytes = eventlog::kRotateBytes;
  bool openFailureTold = false;  // a log that cannot be opened is said once on stderr
};

LogState& State() {
  static LogState state;
  return state;
}

std::mutex& TraceLock() {
  static std::mutex lock;
  return lock;
}

Clock::time_point Now(const LogState& state) {
  return state.clock ? state.clock() : Clock::now();
}

tm LocalTime(Clock::time_point when) {
  const time_t seconds = Clock::to_time_t(when);
  tm local{};
  localtime_r(&seconds, &local);
  return local;
}

std::string TempFolderOf(const LogState& state) {
  return state.tempFolder.empty() ? platform::TempFolder() : state.tempFolder;
}

// Text-mode output: every LF is stored as CR LF.
std::string TextMode(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16 + 2);
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

// Opens the log file for appending; creates it when missing (*created then true).
int OpenLogFile(const std::string& path, bool* created) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd >= 0) return fd;
  fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd >= 0) *created = true;
  return fd;
}

void WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // write errors are ignored
    done += static_cast<size_t>(n);
  }
}

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r\n";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

void LogLevelLine(const char* level, const char* format, va_list args) {
  const std::string message = Trim(base::FormatV(format, args)) + "\r\n";
  Clock::time_point now;
  {
    std::lock_guard guard(State().lock);
    now = Now(State());
  }
  const tm local = LocalTime(now);
  const int ms = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  const unsigned threadId = static_cast<unsigned>(::gettid());
  WriteLogText(base::Format("%02d:%02d:%02d.%d\t%s\t%u\t%s", local.tm_hour, local.tm_min,
                            local.tm_sec, ms, level, threadId, message.c_str()));
}

}  // namespace

void LogInfo(const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogLevelLine("Info", format, args);
  va_end(args);
}

void LogWarning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogLevelLine("Warning", format, args);
  va_end(args);
}

void LogError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogLevelLine("ERROR", format, args);
  va_end(args);
}

void WriteLogText(const std::string& text) {
  LogState& state = State();
  bool created = false;
  std::string folder;
  Clock::time_point now;
  {
    std::lock_guard guard(state.lock);
    folder = TempFolderOf(state);
    now = Now(state);
    if (state.fd < 0) {
      if (state.path.empty()) state.path = folder + eventlog::LogFileName(now);
      state.fd = OpenLogFile(state.path, &created);
      if (state.fd < 0) {
        // The line is lost and the next one tries again; the user hears of it once, since
        // the log is the record of what was changed on the modules.
        if (!state.openFailureTold) {
          state.openFailureTold = true;
          std::fprintf(stderr, "Quillmar: the event log %s cannot be written (%s)\n",
                       state.path.c_str(), std::strerror(errno));
        }
        return;
      }
    }
    struct stat info {};
    if (::fstat(state.fd, &info) == 0 && static_cast<uint64_t>(info.st_size) > state.rotateBytes) {
      ::close(state.fd);
      state.path = folder + eventlog::LogFileName(now);
      state.fd = OpenLogFile(state.path, &created);
      if (state.fd < 0) return;
    }
    WriteAll(state.fd, TextMode(text));
  }
  if (created) eventlog::PruneLogFiles(folder, eventlog::kFilePrefix, now, eventlog::kKeepFiles);
}

void CloseLog() {
  LogState& state = State();
  std::lock_guard guard(state.lock);
  if (state.fd >= 0) ::close(state.fd);
  state.fd = -1;
}

void WriteTrace(const std::string& text) {
  LogState& state = State();
  std::string folder;
  Clock::time_point now;
  {
    std::lock_guard guard(state.lock);
    folder = state.executableFolder.empty() ? platform::ExecutableFolder() : state.executableFolder;
    now = Now(state);
  }
  // Month names in English whatever the user's locale.
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  const tm local = LocalTime(now);
  char stamp[64] = {0};
  strftime_l(stamp, sizeof stamp, "%B_%d_%Y_%H_%M_%S", &local, cLocale);
  const std::string line = std::string(stamp) + "\t Err: " + text + "\r\n";

  std::lock_guard guard(TraceLock());
  const std::string path = folder + "Quillmar_Err_log.txt";
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return;
  WriteAll(fd, line);
  ::close(fd);
}

namespace eventlog {

std::string LogFileName(std::chrono::system_clock::time_point localTime) {
  const tm local = LocalTime(localTime);
  return base::Format("%s%d-%02d-%02d_%02d-%02d.txt", kFilePrefix, local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min);
}

int PruneLogFiles(const std::string& folder, const std::string& prefix,
                  std::chrono::system_clock::time_point now, int keep) {
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return -1;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() >= prefix.size() + 4 && name.compare(0, prefix.size(), prefix) == 0 &&
        name.compare(name.size() - 4, 4, ".txt") == 0) {
      names.push_back(name);
    }
  }
  ::closedir(dir);
  const int count = static_cast<int>(names.size());
  if (count < keep) return 0;
  std::sort(names.begin(), names.end());

  const int64_t nowSeconds =
      std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
  int deleted = 0;
  for (const std::string& name : names) {
    if (keep + deleted >= count) break;
    const std::string path = folder + name;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    if (static_cast<int64_t>(info.st_mtime) + kMaxAgeSeconds < nowSeconds) {
      if (::unlink(path.c_str()) == 0) ++deleted;
    }
  }
  return deleted;
}

std::string CurrentLogPath() {
  LogState& state = State();
  std::lock_guard guard(state.lock);
  return state.path;
}

namespace testing {

namespace {
void Forget(LogState& state) {
  if (state.fd >= 0) ::close(state.fd);
  state.fd = -1;
  state.path.clear();
}
}  // namespace

void SetTempFolder(const std::string& folderWithSlash) {
  LogState& state = State();
  std::lock_guard guard(state.lock);
  Forget(state);
  state.tempFolder = folderWithSlash;
}

void SetExecutableFolder(const std::string& folderWithSlash) {
  LogState& state = State();
  std::lock_guard guard(state.lock);
  Forget(state);
  state.executableFolder = folderWithSlash;
}

void SetClock(std::function<std::chrono::system_clock::time_point()> now) {
  LogState& state = State();
  std::lock_guard guard(state.lock);
  Forget(state);
  state.clock = std::move(now);
}

void SetRotateBytes(uint64_t bytes) {
  LogState& state = State();
  std::lock_guard guard(state.lock);
  Forget(state);
  state.rotateBytes = bytes;
}

void Reset() {
  LogState& state = State();
  std::lock_guard guard(state.lock);
  Forget(state);
  state.tempFolder.clear();
  state.executableFolder.clear();
  state.clock = nullptr;
  state.rotateBytes = kRotateBytes;
}

}  // namespace testing
}  // namespace eventlog
