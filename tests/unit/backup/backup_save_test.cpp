// Saving a backup file: the target is either the old file or the whole new one, whatever fails
// on the way, and no temporary file is left behind.
#include <errno.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "backup/backup_file.h"
#include "fixtures/temp_log.h"

namespace {

using Bytes = std::vector<uint8_t>;
using backup::CNode_DataBackup;

CNode_DataBackup Record(uint32_t serial, uint16_t slots) {
  CNode_DataBackup r;
  r.serialNumber = serial;
  r.ipText = "10.1.2." + std::to_string(serial % 200);
  r.maskText = "255.255.255.0";
  r.gatewayText = "10.1.2.1";
  r.firmwareVersion = 0x0401;
  r.registerCount = slots;
  r.registers.assign(slots, 0x0102);
  r.flashImage.assign(slots, 0x0304);
  r.plcProgram.assign(5000, 0x77);
  r.serviceFigures = {1, 2, 3};
  return r;
}

Bytes Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Write(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

size_t FilesIn(const std::string& folder) {
  size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    n += entry.is_regular_file();
  return n;
}

// Seams that fail one step of the save.
long FullAfter100(int fd, const void* data, unsigned long size) {
  static thread_local int calls = 0;
  // The first call writes part of the file, the next finds the disk full.
  if (calls++ % 2 == 0) return backup::RealFileOps().write(fd, data, size < 100 ? size : 100);
  errno = ENOSPC;
  return -1;
}
long WritesNothing(int, const void*, unsigned long) {
  return 0;
}
int FsyncFails(int) {
  errno = EIO;
  return -1;
}
int RenameFails(const char*, const char*) {
  errno = EXDEV;
  return -1;
}

TEST(BackupSave, WritesTheFileAndLoadsItBack) {
  fixtures::TempFolder folder;
  const std::string path = folder.path() + "Quillmar.backup";
  const std::vector<CNode_DataBackup> records = {Record(101, 513), Record(102, 384)};
  const backup::SaveResult saved = backup::SaveBackupFile(path, records);
  ASSERT_TRUE(saved.ok) << saved.error;
  EXPECT_EQ(FilesIn(folder.path()), 1u);
  const Bytes bytes = Contents(path);
  ASSERT_GE(bytes.size(), 10u);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 10),
            (Bytes{0x00, 0x00, 0x08, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00}));
  const backup::LoadResult loaded = backup::LoadBackupFile(path);
  ASSERT_EQ(loaded.status, backup::LoadStatus::kLoaded);
  EXPECT_EQ(loaded.records, records);
}

TEST(BackupSave, ReplacesTheOldFileAndKeepsItsPermissions) {
  fixtures::TempFolder folder;
  const std::string path = folder.path() + "line.backup";
  Write(path, Bytes(20000, 0xEE));
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(backup::SaveBackupFile(path, {Record(7, 364)}).ok);
  EXPECT_EQ(Contents(path), backup::BackupFileBytes({Record(7, 364)}));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(FilesIn(folder.path()), 1u);
}

TEST(BackupSave, AFailedSaveLeavesTheOldFileIntact) {
  struct Case {
    const char* name;
    backup::FileOps ops;
    const char* error;
  };
  const backup::FileOps& real = backup::RealFileOps();
  const Case cases[] = {
      {"disk full after part of the file",
       {FullAfter100, real.fsync, real.rename},
       "Unable to write"},
      {"write that writes nothing", {WritesNothing, real.fsync, real.rename}, "Unable to write"},
      {"flush to the disk fails", {real.write, FsyncFails, real.rename}, "Unable to write"},
      {"rename fails", {real.write, real.fsync, RenameFails}, "Unable to replace"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fixtures::TempFolder folder;
    const std::string path = folder.path() + "line.backup";
    const Bytes old = backup::BackupFileBytes({Record(1, 364)});
    Write(path, old);
    const backup::SaveResult saved =
        backup::SaveBackupFile(path, {Record(2, 513), Record(3, 513)}, c.ops);
    EXPECT_FALSE(saved.ok);
    EXPECT_EQ(saved.error.rfind(c.error, 0), 0u) << saved.error;
    EXPECT_NE(saved.error.find(path), std::string::npos) << saved.error;
    EXPECT_EQ(Contents(path), old);
    EXPECT_EQ(FilesIn(folder.path()), 1u);  // no temporary file left
  }
}

TEST(BackupSave, AFolderThatCannotTakeTheFileIsReported) {
  fixtures::TempFolder folder;
  const std::string path = folder.path() + "missing/line.backup";
  const backup::SaveResult saved = backup::SaveBackupFile(path, {Record(1, 364)});
  EXPECT_FALSE(saved.ok);
  EXPECT_NE(saved.error.find("No such file or directory"), std::string::npos) << saved.error;
  EXPECT_EQ(FilesIn(folder.path()), 0u);
}

TEST(BackupSave, ARecordThatWouldNotLoadBackIsNotWritten) {
  struct Case {
    const char* name;
    void (*change)(CNode_DataBackup&);
  };
  const Case cases[] = {
      {"registers shorter than the count", [](CNode_DataBackup& r) { r.registers.pop_back(); }},
      {"register count 514",
       [](CNode_DataBackup& r) {
         r.registerCount = 514;
         r.registers.resize(514);
       }},
      {"PLC program of 1 byte", [](CNode_DataBackup& r) { r.plcProgram = {0x01}; }},
      {"extended count 100", [](CNode_DataBackup& r) { r.extendedRegisterCount = 100; }},
      {"256 legacy items", [](CNode_DataBackup& r) { r.legacyList.resize(256); }},
      {"a comment", [](CNode_DataBackup& r) { r.comment = "x"; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fixtures::TempFolder folder;
    const std::string path = folder.path() + "line.backup";
    const Bytes old = {0x01, 0x02, 0x03};
    Write(path, old);
    CNode_DataBackup bad = Record(9, 364);
    c.change(bad);
    EXPECT_FALSE(backup::RecordProblem(bad).empty());
    const backup::SaveResult saved = backup::SaveBackupFile(path, {Record(8, 364), bad});
    EXPECT_FALSE(saved.ok);
    EXPECT_EQ(Contents(path), old);
  }
}

}  // namespace
