#include "backup/backup_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "backup/archive.h"
#include "base/bytes.h"
#include "base/format.h"

namespace backup {

namespace {

constexpr size_t kMaxRecords = 0xFFFF;
constexpr size_t kMaxLegacyItems = 0xFF;

void WriteRecord(ArchiveWriter& out, const CNode_DataBackup& r) {
  out.U32(r.serialNumber);
  out.Text(r.ipText);
  out.Text(r.maskText);
  out.Text(r.gatewayText);
  uint8_t address[4];
  base::Ipv4ToBytes(r.ipAddress, address);
  out.Raw(address);
  out.U8(r.linePosition);
  out.U16(r.firmwareVersion);
  out.U16(r.registerCount);
  out.Count(r.nodeBlock.size());
  out.Raw(r.nodeBlock);
  out.Words(r.registers);
  out.U8(r.legacyByte);
  out.U32(r.legacyWord);
  out.U8(static_cast<uint8_t>(r.legacyList.size()));
  for (uint32_t item : r.legacyList) out.U32(item);
  out.U32(static_cast<uint32_t>(r.plcProgram.size()));
  out.Raw(r.plcProgram);
  out.Words(r.flashImage);
  out.U16(r.extendedRegisterCount);
  out.Words(r.extendedRegisters);
  for (uint64_t figure : r.serviceFigures) out.U64(figure);
}

// One record of a file of the given version, or false when it does not add up.
bool ReadRecord(ArchiveReader& in, uint16_t version, CNode_DataBackup& r) {
  r = CNode_DataBackup{};
  r.moduleFamily = 1;
  uint8_t address[4] = {};
  if (!in.U32(r.serialNumber) || !in.Text(r.ipText) || !in.Text(r.maskText) ||
      !in.Text(r.gatewayText) || !in.U8(address[0]) || !in.U8(address[1]) || !in.U8(address[2]) ||
      !in.U8(address[3]) || !in.U8(r.linePosition)) {
    return false;
  }
  r.ipAddress = base::Ipv4FromBytes(address);
  r.registerCount = kVersion1RegisterCount;
  if (version > 1 && (!in.U16(r.firmwareVersion) || !in.U16(r.registerCount))) return false;
  if (r.registerCount == 0 || r.registerCount > kMaxRegisterSlots) return false;

  std::vector<uint8_t> block;
  if (!in.Bytes(kNodeBlockSize, block)) return false;
  std::copy(block.begin(), block.end(), r.nodeBlock.begin());

  std::vector<uint16_t> words;
  if (!in.Words(r.registerCount, words)) return false;
  r.registers.assign(r.registerCount, 0);
  std::copy(words.begin(), words.end(), r.registers.begin());

  if (version >= 3) {
    uint8_t items = 0;
    if (!in.U8(r.legacyByte) || !in.U32(r.legacyWord) || !in.U8(items)) return false;
    if (items > in.Left() / 4) return false;
    r.legacyList.resize(items);
    for (uint32_t& item : r.legacyList) in.U32(item);
  }
  if (version > 3) {
    uint32_t length = 0;
    if (!in.U32(length)) return false;
    // Shorter than its own CRC: the restore would send a negative length.
    if (length == 1 || length > in.Left()) return false;
    r.plcProgram.resize(length);
    for (uint8_t& byte : r.plcProgram) in.U8(byte);
  }
  if (version > 4) {
    if (!in.Words(r.registerCount, r.flashImage)) return false;
  } else {
    r.flashImage = r.registers;
  }
  if (version > 6) {
    if (!in.U16(r.extendedRegisterCount)) return false;
    if (r.extendedRegisterCount != 0 && r.extendedRegisterCount != kExtendedRegisterCount) {
      return false;
    }
    if (!in.Words(kExtendedRegisterCount, r.extendedRegisters)) return false;
  }
  if (version > 7) {
    for (uint64_t& figure : r.serviceFigures) {
      if (!in.U64(figure)) return false;
    }
  }
  return !in.Failed();
}

}  // namespace

std::string RecordProblem(const CNode_DataBackup& r) {
  if (r.registerCount == 0 || r.registerCount > kMaxRegisterSlots) {
    return base::Format("register count %u is not 1 to %u", r.registerCount, kMaxRegisterSlots);
  }
  if (r.registers.size() != r.registerCount) return "registers do not match the register count";
  if (r.flashImage.size() > r.registerCount) return "flash image longer than the register count";
  if (r.extendedRegisterCount != 0 && r.extendedRegisterCount != kExtendedRegisterCount) {
    return "extended register count is neither 0 nor 200";
  }
  if (r.extendedRegisters.size() > kExtendedRegisterCount) return "too many extended registers";
  if (r.legacyList.size() > kMaxLegacyItems) return "legacy list too long";
  if (r.plcProgram.size() == 1 || r.plcProgram.size() > 0xFFFFFFFFu) {
    return "PLC program length cannot be stored";
  }
  if (!r.comment.empty()) return "comments are not written in this file version";
  return {};
}

std::vector<uint8_t> BackupFileBytes(const std::vector<CNode_DataBackup>& records) {
  ArchiveWriter out;
  out.U16(0);
  out.U16(kBackupFileVersion);
  out.U16(static_cast<uint16_t>(records.size()));
  out.U16(0);  // module family flag
  out.U16(0);
  for (const CNode_DataBackup& record : records) WriteRecord(out, record);
  return out.Data();
}

LoadResult ParseBackupFile(std::span<const uint8_t> bytes) {
  LoadResult result;
  ArchiveReader in(bytes);
  uint16_t first = 0;
  if (!in.U16(first)) return result;
  uint16_t count = first;
  result.version = 1;
  if (first == 0) {
    if (!in.U16(result.version) || !in.U16(count)) return result;
    if (result.version == 0) return result;
    if (result.version > kBackupFileVersion) {
      result.status = LoadStatus::kNewerVersion;
      return result;
    }
    if (result.version > 6) {
      uint16_t family = 0;
      uint16_t reserved = 0;
      if (!in.U16(family) || !in.U16(reserved)) return result;
      if (family != 0) {
        result.status = LoadStatus::kOtherFamily;
        return result;
      }
    }
  }
  // Records are made as they are read, so that a count the bytes cannot hold costs nothing.
  std::vector<CNode_DataBackup> records;
  for (uint16_t k = 0; k < count; ++k) {
    CNode_DataBackup record;
    if (!ReadRecord(in, result.version, record)) return result;
    records.push_back(std::move(record));
  }
  // Bytes after the last record mean the count or a length was wrong.
  if (!in.AtEnd()) return result;
  result.status = LoadStatus::kLoaded;
  result.records = std::move(records);
  return result;
}

LoadResult LoadBackupFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    LoadResult result;
    result.status = LoadStatus::kCannotOpen;
    return result;
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                   std::istreambuf_iterator<char>());
  if (file.bad()) {
    LoadResult result;
    result.status = LoadStatus::kCannotOpen;
    return result;
  }
  return ParseBackupFile(bytes);
}

std::string LoadMessage(const LoadResult& result, const std::string& path) {
  switch (result.status) {
    case LoadStatus::kLoaded:
      return {};
    case LoadStatus::kNewerVersion:
      return base::Format(kNewerVersionText, kBackupProgramName, kBackupProgramName);
    case LoadStatus::kOtherFamily:
      return base::Format(kOtherFamilyText, kBackupProgramName);
    case LoadStatus::kCannotOpen:
    case LoadStatus::kCorrupt:
      break;
  }
  return base::Format(kOpenFailedText, path.c_str());
}

namespace {

long RealWrite(int fd, const void* data, unsigned long size) {
  return ::write(fd, data, size);
}

std::string Failure(const char* what, const std::string& path, int error) {
  return base::Format("%s \"%s\": %s", what, path.c_str(), std::strerror(error));
}

}  // namespace

const FileOps& RealFileOps() {
  static const FileOps ops{RealWrite, ::fsync, std::rename};
  return ops;
}

SaveResult SaveBackupFile(const std::string& path, const std::vector<CNode_DataBackup>& records,
                          const FileOps& ops) {
  SaveResult result;
  if (records.size() > kMaxRecords) {
    result.error = base::Format("%zu records do not fit one backup file", records.size());
    return result;
  }
  for (const CNode_DataBackup& record : records) {
    const std::string problem = RecordProblem(record);
    if (!problem.empty()) {
      result.error = "record of module " + record.ipText + ": " + problem;
      return result;
    }
  }
  const std::vector<uint8_t> bytes = BackupFileBytes(records);

  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    result.error = Failure("Unable to create a file beside", path, errno);
    return result;
  }
  // Keep the old file's permissions; a new file gets the usual ones for a document.
  struct stat old {};
  ::fchmod(fd, ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);

  size_t written = 0;
  int error = 0;
  while (written < bytes.size()) {
    const long n = ops.write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      break;
    }
    written += static_cast<size_t>(n);
  }
  const char* what = "Unable to write";
  if (error == 0 && ops.fsync(fd) != 0) error = errno;
  if (error == 0) what = "Unable to close";
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0) {
    what = "Unable to replace";
    if (ops.rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  }
  if (error != 0) {
    ::unlink(temporary.c_str());
    result.error = Failure(what, path, error);
    return result;
  }
  // The new name itself must reach the disk too.
  const size_t slash = path.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? std::string(1, '.') : path.substr(0, slash + 1);
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  result.ok = true;
  return result;
}

}  // namespace backup
