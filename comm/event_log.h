#pragma once
// The tool's own running event log: dated text files "Quillmar_YYYY-MM-DD_HH-MM.txt" in the
// temporary folder, one line per call, shared by every thread of the process.
//
// Lines read "HH:MM:SS.ms\t<Level>\t<thread id>\t<message>" with unpadded milliseconds. The
// files keep the text-mode line endings the log readers expect: every LF written is stored as
// CR LF, so a level line (message trimmed, CR LF appended) ends in CR CR LF.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

// Level lines: the message is formatted, trimmed of blanks, tabs, CR and LF at both ends, and
// written as one line.
void LogInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Appends text as it is (no prefix, LF stored as CR LF); used for the exit banner.
void WriteLogText(const std::string& text);
// Closes the current file; a later line opens the remembered file again.
void CloseLog();

// One line "<Month_DD_YYYY_HH_MM_SS>\t Err: <text>\r\n" appended to "Quillmar_Err_log.txt" in
// the executable's folder; a file that cannot be opened loses the line.
void WriteTrace(const std::string& text);

namespace eventlog {

inline constexpr const char* kFilePrefix = "Quillmar_";
inline constexpr uint64_t kRotateBytes = 10'000'000;
inline constexpr int kKeepFiles = 7;
inline constexpr int64_t kMaxAgeSeconds = 864'000;  // 10 days

// "Quillmar_YYYY-MM-DD_HH-MM.txt" for the given local time.
std::string LogFileName(std::chrono::system_clock::time_point localTime);

// Deletes "<prefix>*.txt" files in `folder` (a path ending in '/') whose last write is more
// than ten days before `now`, visiting them in name order (which is date order), while more
// than `keep` files would remain. Never changes the current directory. Returns the number of
// files deleted; -1 when the folder cannot be read.
int PruneLogFiles(const std::string& folder, const std::string& prefix,
                  std::chrono::system_clock::time_point now, int keep = kKeepFiles);

// Path of the file the next line goes to; empty before the first line.
std::string CurrentLogPath();

// Hooks for tests: where the files go, what time it is, when to rotate. Each Set* also forgets
// the current file (the log is closed first). Reset() restores the real folder, clock and limit.
namespace testing {
void SetTempFolder(const std::string& folderWithSlash);
void SetExecutableFolder(const std::string& folderWithSlash);
void SetClock(std::function<std::chrono::system_clock::time_point()> now);
void SetRotateBytes(uint64_t bytes);
void Reset();
}  // namespace testing

}  // namespace eventlog
