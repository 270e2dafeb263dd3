// The backup file loader over any bytes: a file loads whole or not at all, whatever loads can
// be written again, and what is written loads back the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "backup/archive.h"
#include "backup/backup_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The file lies in its own exactly sized buffer so that any overread is seen.
  const std::vector<uint8_t> file(data, data + size);
  const backup::LoadResult loaded = backup::ParseBackupFile(file);
  if (loaded.status != backup::LoadStatus::kLoaded) {
    if (!loaded.records.empty()) __builtin_trap();
  } else {
    if (loaded.version < 1 || loaded.version > backup::kBackupFileVersion) __builtin_trap();
    for (const backup::CNode_DataBackup& record : loaded.records) {
      if (!backup::RecordProblem(record).empty()) __builtin_trap();
      if (record.moduleFamily != 1) __builtin_trap();
      if (record.plcProgram.size() > size) __builtin_trap();
    }
    const std::vector<uint8_t> written = backup::BackupFileBytes(loaded.records);
    const backup::LoadResult again = backup::ParseBackupFile(written);
    if (again.status != backup::LoadStatus::kLoaded || again.records != loaded.records) {
      __builtin_trap();
    }
  }

  // The archive's own reads, one after the other until one fails.
  backup::ArchiveReader in(file);
  std::string text;
  std::vector<uint16_t> words;
  std::vector<uint8_t> bytes;
  while (in.Text(text) && in.Words(600, words) && in.Bytes(70, bytes)) {
    if (text.size() > size || words.size() > 600 || bytes.size() > 70) __builtin_trap();
  }
  if (!in.Failed() || in.Left() != 0) __builtin_trap();
  return 0;
}
