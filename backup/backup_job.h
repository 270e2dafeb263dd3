#pragma once
// The per-module work of a backup (`BackupTh`) and of a restore: one job block per module, run
// on a thread of its own, talking to the module through a ModuleLink (registers, flash image,
// service text port, PLC program). The owner reads the job's state while it runs and its
// result code and error text afterwards. Toolkit-free.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "backup/backup_record.h"

namespace backup {

// Job states.
enum JobState : int32_t {
  kJobFailed = 1,
  kJobDone = 2,
  kJobStop = 3,  // requested by the owner
  kJobBackup = 4,
  kJobRestore = 5,
  kJobRegistersRead = 16,
  kJobWaitingFlash = 17,
  kJobFlashReceived = 18,
};

// Backup result codes (0 when none).
enum BackupResult : uint32_t {
  kBackupDuplicateIp = 2,
  kBackupRegisters = 5,
  kBackupNoConnection = 10,
  kBackupFlashImage = 11,
  kBackupServicePort = 12,
  kBackupPlcProgram = 13,
  kBackupFlashSkipped = 14,  // a warning: the job still succeeds
  kBackupServiceParse = 15,
};

// Restore result codes (0 when none).
enum RestoreResult : uint32_t {
  kRestoreFlashCommand = 3,
  kRestoreCommunication = 4,
  kRestoreWrite = 6,
  kRestoreUpload = 7,
  kRestoreClear = 8,
  kRestoreNoPing = 9,
  kRestoreNoConnection = 10,
};

inline constexpr uint16_t kBackupChunk = 25;
inline constexpr uint16_t kExtendedChunk = 36;
inline constexpr uint16_t kExtendedFirstA = 10000;
inline constexpr uint16_t kExtendedFirstB = 10100;
inline constexpr uint16_t kExtendedWordB = 100;  // block B's place in the extended words
inline constexpr int kProgressStep = 25;         // units per progress message
inline constexpr uint16_t kRestoreFirst = 17;

// One register request of a backup: `count` registers from `first`, stored from `slot` of the
// registers (or, when extended, of the extended words).
struct ReadChunk {
  uint16_t first = 0;
  uint16_t count = 0;
  uint16_t slot = 0;
  bool extended = false;
  bool operator==(const ReadChunk&) const = default;
};

// The request a backup makes with next register r of `slots` slots: 25 registers, or the last
// chunk (N - r registers) once r + 25 reaches N. Nothing (count 0) once r has reached N.
ReadChunk NextBackupChunk(uint16_t r, uint16_t slots);
// Every request of a backup in order, with the two extended blocks for the extended type.
std::vector<ReadChunk> BackupChunkPlan(uint16_t slots, bool extendedType);
// Register 6 of the extended type: bits 4..7 equal 9.
inline bool IsExtendedType(uint16_t register6) {
  return (register6 & 0xF0) == 0x90;
}
// Old firmware (family nibble 0 only): register 25 below 2.3.
inline bool IsOldFirmware(uint8_t familyByte, uint16_t register25) {
  return (familyByte & 0xF0) == 0 && register25 < 0x0203;
}

// One write of a restore's register sequence: registers first..first+count-1.
struct WriteChunk {
  uint16_t first = 0;
  uint16_t count = 0;
  bool operator==(const WriteChunk&) const = default;
};
// The chunks of 25 from register 17 (the chunk at 292 is 14 long, then 363 on, the last chunk
// up to the last slot); no empty chunk.
std::vector<WriteChunk> RestoreChunkPlan(uint16_t slots);
// The connection descriptors' first registers, cleared before and written back after.
inline constexpr uint16_t kLinkRegisters[] = {306, 314, 322, 330, 338, 346, 354, 362};

// The totals of the answers to "1", "2" and "3": the sum of entries 6 and 7; nullopt when the
// answer cannot be parsed.
std::optional<uint64_t> ParseServiceTotals(const std::string& answer);
// The PLC program length of the answer to "p"; nullopt when "My:" is missing or negative.
std::optional<uint32_t> ParsePlcLength(const std::string& answer);

// What a job does with one module. Register words travel in wire order. Register operations
// throw CBlockingSocketException.
class ModuleLink {
 public:
  virtual ~ModuleLink() = default;
  // One ICMP echo (32 bytes, TTL 10, 700 ms).
  virtual bool Ping() = 0;
  // The register client: connect to port 502 (throws on failure), close, state.
  virtual void Connect() = 0;
  virtual void Close() = 0;
  virtual bool Connected() const = 0;
  virtual void Read(uint16_t first, uint16_t count, uint16_t* wireOut) = 0;
  virtual void Write(uint16_t first, uint16_t count, const uint16_t* wireValues) = 0;
  // The flash image: open a UDP socket (false: *bindFailed tells which step failed), send the
  // request, and poll for the answer; only a datagram from the module counts. The image's
  // little-endian words come back, at most maxWords of them.
  virtual bool OpenFlashSocket(bool* bindFailed) = 0;
  virtual bool SendFlashRequest() = 0;
  virtual std::optional<std::vector<uint16_t>> PollFlashImage(uint32_t waitMs, size_t maxWords) = 0;
  virtual void CloseFlashSocket() = 0;
  // The service text port: connect, welcome (3 s), one command out and its answer (3 s each).
  virtual bool ServiceConnect() = 0;
  virtual bool ServiceWelcome() = 0;
  virtual bool ServiceSend(char command) = 0;
  virtual std::optional<std::string> ServiceReceive() = 0;
  virtual void ServiceClose() = 0;
  // "PlcData_.bin" by TFTP into `program` (its size is the length asked for); `stop` ends it.
  // On success `program` is cut to the bytes really received. False with *error on failure.
  virtual bool GetPlcProgram(std::vector<uint8_t>& program, const std::atomic<int32_t>& state,
                             std::string* error) = 0;
  // Writes "PlcData_.bin": `length` bytes (a CRC is appended), or the probe that clears it.
  virtual bool PutPlcProgram(const uint8_t* data, uint32_t length, bool probe,
                             std::string* error) = 0;
};

// The waits of a job; tests shorten them.
struct JobTiming {
  uint32_t loopMs = 5;
  uint32_t connectRetryMs = 1500;
  uint32_t reconnectPauseMs = 500;
  uint32_t chunkRetryMs = 50;
  uint32_t flashResendMs = 5;
  uint32_t flashShortSendMs = 20;
  uint32_t flashPollMs = 5;
  uint32_t flashWaitMs = 900;
  uint32_t flashCommandPollMs = 30;
  uint32_t flashCommandLimitMs = 3000;
};

// The job block of one module (backup or restore).
struct BackupJob {
  uint8_t index = 0;  // printed as the thread number in log lines
  uint16_t nextRegister = 1;
  uint16_t registerCount = 0;  // the slot count
  std::atomic<int32_t> state{kJobBackup};
  std::atomic<bool> running{false};
  uint32_t startTick = 0;
  uint32_t endTick = 0;
  std::atomic<uint32_t> result{0};
  std::string errorText;  // at most 255 characters
  bool pingAnswered = false;
  CNode_DataBackup record;
  // Called with 25 on every progress step (from the job's thread).
  std::function<void(int)> onProgress;
};

// Runs a backup job to its end (state 2 waits for the owner's 3 before it returns, unless
// waitForStop is false; the owner calls job.state.notify_all() after setting 3). Fills job.record
// from the module.
void BackupTh(BackupJob& job, ModuleLink& link, const JobTiming& timing = {},
              bool waitForStop = true);
// Runs a restore job from job.record to its end (state 2 or 1).
void RestoreTh(BackupJob& job, ModuleLink& link, const JobTiming& timing = {});

// The part of a PLC program that a restore uploads (the upload appends a new CRC): without its
// last two bytes when they are the program's own CRC-16/MODBUS, else the whole program, so that
// a program kept without its CRC loses nothing.
size_t ProgramBodyLength(const std::vector<uint8_t>& program);

// The text of the backup result code (for tables and the CLI).
std::string BackupResultName(uint32_t result);
std::string RestoreResultName(uint32_t result);

}  // namespace backup
