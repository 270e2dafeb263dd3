#pragma once
// The "*.backup" file: a header and one record per module. Versions 1 to 8 are read; version 8
// is written. A file is loaded whole or not at all: every count and length is checked against
// the bytes left and the record's register count before it is used, and anything that does not
// add up makes the file corrupt.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "backup/backup_record.h"

namespace backup {

inline constexpr uint16_t kBackupFileVersion = 8;
inline constexpr char kBackupProgramName[] = "Quillmar";

inline constexpr char kOpenFailedText[] = "Operation FAILED! Unable to open file: \"%s\".";
inline constexpr char kNewerVersionText[] =
    "Unable to use this Backup file! It is created with a newest version of %s. Update your "
    "%sand then try again!";
inline constexpr char kOtherFamilyText[] =
    "Unable to use this Backup file! It is created for Orvo modules family. Choose valid backup "
    "file (created with %s) and then try again!";

enum class LoadStatus { kLoaded, kCannotOpen, kCorrupt, kNewerVersion, kOtherFamily };

struct LoadResult {
  LoadStatus status = LoadStatus::kCorrupt;
  uint16_t version = 0;
  std::vector<CNode_DataBackup> records;  // empty unless loaded
};

// The file's bytes as written: version 8, family flag 0.
std::vector<uint8_t> BackupFileBytes(const std::vector<CNode_DataBackup>& records);

// Empty when the record can be written so that it loads back the same; else why not.
std::string RecordProblem(const CNode_DataBackup& record);

LoadResult ParseBackupFile(std::span<const uint8_t> bytes);
LoadResult LoadBackupFile(const std::string& path);

// The text to show for a failed load (a corrupt file is shown as one that cannot be opened);
// empty when loaded.
std::string LoadMessage(const LoadResult& result, const std::string& path);

// The file operations a save uses, replaceable so that tests can make one fail.
struct FileOps {
  long (*write)(int fd, const void* data, unsigned long size);
  int (*fsync)(int fd);
  int (*rename)(const char* from, const char* to);
};
const FileOps& RealFileOps();

struct SaveResult {
  bool ok = false;
  std::string error;  // what failed and why, when not ok
};

// Writes the file beside its target under a temporary name, flushes it to the disk and renames
// it over the target, so that the target is either the old file or the whole new one.
SaveResult SaveBackupFile(const std::string& path, const std::vector<CNode_DataBackup>& records,
                          const FileOps& ops = RealFileOps());

}  // namespace backup
