#include "backup/backup_job.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "base/format.h"
#include "base/language.h"
#include "comm/blocking_socket.h"
#include "comm/event_log.h"
#include "comm/tftp_packet.h"
#include "platform/tick.h"

namespace backup {

namespace {

constexpr uint16_t kLastRegister = 512;
constexpr int kConnectAttempts = 3;
constexpr int kPingsPerAttempt = 3;
constexpr int kGeneralErrorCode = 1;
constexpr uint16_t kFlagRegister = 12;
constexpr uint16_t kFirmwareRegister = 25;
constexpr uint16_t kSerialLowRegister = 28;
constexpr uint16_t kSerialHighRegister = 29;
constexpr uint16_t kTypeRegister = 6;
constexpr uint16_t kCommandRegister = 251;
constexpr uint16_t kSaveCommand = 3;
constexpr size_t kErrorTextMax = 255;
// TFTP blocks are numbered in 16 bits: no program a module sends can be longer.
constexpr uint32_t kMaxPlcProgram = 65535u * 512u;

bool StopRequested(const BackupJob& job) {
  return job.state.load() == kJobStop;
}

void Step(BackupJob& job) {
  if (job.onProgress) job.onProgress(kProgressStep);
}

void SetError(BackupJob& job, const std::string& text) {
  job.errorText = text.substr(0, kErrorTextMax);
}

std::string ExceptionText(const CBlockingSocketException& e) {
  return e.GetErrorMessage();
}

// Sleeps in short slices so that a stop request is seen; false when one came.
bool Pause(const BackupJob& job, uint32_t ms) {
  const uint32_t start = platform::GetTickCount();
  while (platform::TicksSince(start) < ms) {
    if (StopRequested(job)) return false;
    platform::SleepMs(std::min<uint32_t>(ms - platform::TicksSince(start), 5));
  }
  return !StopRequested(job);
}

// Up to 3 attempts, each up to 3 pings and then the register connection, 1500 ms apart.
// True once connected.
bool ConnectJob(BackupJob& job, ModuleLink& link, const JobTiming& timing) {
  for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
    if (attempt > 0 && !Pause(job, timing.connectRetryMs)) return false;
    if (StopRequested(job)) return false;
    bool answered = false;
    for (int ping = 0; ping < kPingsPerAttempt && !answered; ++ping) answered = link.Ping();
    if (!answered) continue;
    job.pingAnswered = true;
    try {
      link.Connect();
      if (link.Connected()) return true;
    } catch (const CBlockingSocketException& e) {
      SetError(job, ExceptionText(e));
    }
  }
  return false;
}

// After a failed request: the register client connects again (once more after 500 ms).
bool Reconnect(ModuleLink& link, const JobTiming& timing, std::string* error) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt > 0) platform::SleepMs(timing.reconnectPauseMs);
    try {
      link.Close();
      link.Connect();
      if (link.Connected()) return true;
    } catch (const CBlockingSocketException& e) {
      if (error) *error = e.GetErrorMessage();
    }
  }
  return false;
}

uint16_t WireValue(const std::vector<uint16_t>& words, uint16_t reg) {
  return reg < words.size() ? RegisterValue(words[reg]) : 0;
}

bool Covers(const ReadChunk& chunk, uint16_t reg) {
  return !chunk.extended && reg >= chunk.first && reg < chunk.first + chunk.count;
}

// Splits a text into lines at LF, dropping a CR before it; the piece after the last LF counts
// only when it is not empty.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    at = end + 1;
  }
  return lines;
}

template <typename T>
bool ParseDecimal(const std::string& text, T& value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

}  // namespace

ReadChunk NextBackupChunk(uint16_t r, uint16_t slots) {
  ReadChunk chunk;
  chunk.first = r;
  chunk.slot = r;
  if (r >= slots) return chunk;
  if (r + kBackupChunk >= slots && r <= kLastRegister) {
    chunk.count = static_cast<uint16_t>(slots - r);
  } else {
    chunk.count = kBackupChunk;
  }
  return chunk;
}

std::vector<ReadChunk> BackupChunkPlan(uint16_t slots, bool extendedType) {
  std::vector<ReadChunk> plan;
  uint16_t r = 1;
  for (;;) {
    const ReadChunk chunk = NextBackupChunk(r, slots);
    if (chunk.count == 0) break;
    plan.push_back(chunk);
    r = static_cast<uint16_t>(r + chunk.count);
    if (r >= slots) break;
  }
  if (extendedType) {
    plan.push_back({kExtendedFirstA, kExtendedChunk, 0, true});
    plan.push_back({kExtendedFirstB, kExtendedChunk, kExtendedWordB, true});
  }
  return plan;
}

std::vector<WriteChunk> RestoreChunkPlan(uint16_t slots) {
  std::vector<WriteChunk> plan;
  uint16_t r = kRestoreFirst;
  while (r < slots) {
    uint16_t count = kBackupChunk;
    if (r == 292) count = 14;  // up to the connection descriptors
    count = static_cast<uint16_t>(std::min<int>(count, slots - r));
    if (count == 0) break;  // an empty chunk is never sent
    plan.push_back({r, count});
    r = static_cast<uint16_t>(r + count);
    if (r == 306) r = 363;  // the descriptors go separately, after the rest
  }
  return plan;
}

std::optional<uint64_t> ParseServiceTotals(const std::string& answer) {
  if (answer.rfind("Err:", 0) == 0) return std::nullopt;
  const std::vector<std::string> lines = Lines(answer);
  uint64_t total = 0;
  for (size_t i = 2; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.empty()) continue;
    const size_t marker = line.find(":0x");
    if (marker == std::string::npos) return std::nullopt;
    const size_t close = line.find(']', marker + 3);
    if (close == std::string::npos || line.compare(close, 2, "] ") != 0) return std::nullopt;
    uint32_t entry = 0;
    if (!ParseDecimal(line.substr(marker + 3, close - marker - 3), entry)) return std::nullopt;
    const size_t tab = line.find('\t', close + 2);
    if (tab == std::string::npos) return std::nullopt;
    uint64_t value = 0;
    if (!ParseDecimal(line.substr(tab + 1), value)) return std::nullopt;
    if (entry == 6 || entry == 7) {
      if (value > UINT64_MAX - total) return std::nullopt;
      total += value;
    }
  }
  return total;
}

std::optional<uint32_t> ParsePlcLength(const std::string& answer) {
  const size_t at = answer.find("My:");
  if (at == std::string::npos) return std::nullopt;
  size_t end = answer.find(',', at + 3);
  if (end == std::string::npos) end = answer.size();
  uint32_t length = 0;
  if (!ParseDecimal(answer.substr(at + 3, end - at - 3), length)) return std::nullopt;
  if (length > kMaxPlcProgram) return std::nullopt;
  return length;
}

namespace {

// The failing end of a backup job: result, state 1.
void FailBackup(BackupJob& job, uint32_t result) {
  job.result = result;
  job.state.store(kJobFailed);
}

// Reads the registers (and the extended blocks); true when they are complete (state 16).
bool ReadRegisters(BackupJob& job, ModuleLink& link, const JobTiming& timing, bool* oldFirmware,
                   uint16_t* flagWord) {
  CNode_DataBackup& record = job.record;
  const char* ip = record.ipText.c_str();
  const uint16_t slots = job.registerCount;
  bool extendedPhase = false;
  int extendedStep = 0;
  for (;;) {
    if (StopRequested(job)) return false;
    ReadChunk chunk;
    bool lastNormal = false;
    if (!extendedPhase) {
      chunk = NextBackupChunk(job.nextRegister, slots);
      if (chunk.count == 0) return true;
      lastNormal = job.nextRegister + kBackupChunk >= slots && job.nextRegister <= kLastRegister;
      if (lastNormal) {
        const bool extended = IsExtendedType(WireValue(record.registers, kTypeRegister));
        record.extendedRegisterCount = extended ? kExtendedRegisterCount : 0;
        record.extendedRegisters.assign(extended ? kExtendedRegisterCount : 0, 0);
      }
    } else {
      chunk = extendedStep == 0 ? ReadChunk{kExtendedFirstA, kExtendedChunk, 0, true}
                                : ReadChunk{kExtendedFirstB, kExtendedChunk, kExtendedWordB, true};
    }
    uint16_t* target = chunk.extended ? record.extendedRegisters.data() + chunk.slot
                                      : record.registers.data() + chunk.slot;
    bool read = false;
    for (int attempt = 0; attempt < 2 && !read; ++attempt) {
      try {
        link.Read(chunk.first, chunk.count, target);
        read = true;
      } catch (const CBlockingSocketException& e) {
        SetError(job, ExceptionText(e));
        if (e.Number() == kGeneralErrorCode) {
          ::LogError(
              "BackupTh.%u General socket exception during reading all registers from node "
              "\"%s\", excep.desc: %s",
              job.index, ip, e.GetErrorMessage().c_str());
          FailBackup(job, kBackupRegisters);
          return false;
        }
        if (attempt == 0) {
          Reconnect(link, timing, nullptr);
          platform::SleepMs(timing.chunkRetryMs);
        }
      }
    }
    if (!read) {
      ::LogError(
          "BackupTh.%u were Unable to read all registers from node \"%s\", RegsRead = %u from "
          "512 !?!",
          job.index, ip, job.nextRegister);
      FailBackup(job, kBackupRegisters);
      return false;
    }
    if (Covers(chunk, kFlagRegister)) *flagWord = WireValue(record.registers, kFlagRegister);
    if (Covers(chunk, kSerialLowRegister) && Covers(chunk, kSerialHighRegister)) {
      const uint32_t serial =
          WireValue(record.registers, kSerialLowRegister) |
          (static_cast<uint32_t>(WireValue(record.registers, kSerialHighRegister)) << 16);
      if (serial != record.serialNumber) {
        ::LogError(
            "BackupTh.%u detected Duplicated IPs for address \"%s\", at least two nodes exist - "
            "with SN = %u, and SN = %u !!!",
            job.index, ip, record.serialNumber, serial);
        FailBackup(job, kBackupDuplicateIp);
        return false;
      }
    }
    if (Covers(chunk, kFirmwareRegister))
      *oldFirmware =
          IsOldFirmware(record.moduleFamily, WireValue(record.registers, kFirmwareRegister));
    if (extendedPhase) {
      if (++extendedStep == 2) return true;
    } else {
      job.nextRegister = static_cast<uint16_t>(job.nextRegister + chunk.count);
      if (job.nextRegister == 126 || job.nextRegister == 251 || job.nextRegister == 376) Step(job);
      if (lastNormal) {
        if (record.extendedRegisterCount == 0) return true;
        extendedPhase = true;
      }
    }
    if (timing.loopMs) platform::SleepMs(timing.loopMs);
  }
}

// The flash image into record.flashImage; false when the job failed or was stopped.
bool FetchFlashImage(BackupJob& job, ModuleLink& link, const JobTiming& timing) {
  CNode_DataBackup& record = job.record;
  const char* ip = record.ipText.c_str();
  job.state.store(kJobWaitingFlash);
  // A socket or bind failure uses up one of the connection attempts.
  for (int attempt = 0;; ++attempt) {
    bool bindFailed = false;
    if (link.OpenFlashSocket(&bindFailed)) break;
    if (bindFailed) {
      ::LogError(
          "BackupTh.%u were Unable to Bind on port %u, in order to receive UDP falsh data !?! "
          "(node \"%s\")",
          job.index, 0u, ip);
    } else {
      ::LogError("BackupTh.%u were Unable to Create UDP socket (node \"%s\")", job.index, ip);
    }
    if (attempt + 1 >= kConnectAttempts) {
      FailBackup(job, kBackupFlashImage);
      return false;
    }
    if (!Pause(job, timing.connectRetryMs)) return false;
  }
  const bool whole = link.SendFlashRequest();
  platform::SleepMs(timing.flashResendMs);
  if (!whole) platform::SleepMs(timing.flashShortSendMs);
  link.SendFlashRequest();
  const size_t slots = job.registerCount;
  std::optional<std::vector<uint16_t>> image;
  size_t shortWords = 0;  // the last image that came without every register
  const uint32_t start = platform::GetTickCount();
  while (!image) {
    if (StopRequested(job)) {
      link.CloseFlashSocket();
      return false;
    }
    image = link.PollFlashImage(timing.flashPollMs, slots - 1);
    Step(job);
    // An image without every register would restore the missing ones as zeros: it does not
    // count, whatever else it carries.
    if (image && image->size() < slots - 1) {
      shortWords = image->size();
      image.reset();
    }
    if (!image && platform::TicksSince(start) >= timing.flashWaitMs) break;
  }
  link.CloseFlashSocket();
  if (!image) {
    if (shortWords > 0) {
      SetError(job,
               base::Format("flash image of %zu registers, %zu expected", shortWords, slots - 1));
    }
    ::LogError("BackupTh.%u Didn't receive UDP flash data from node \"%s\" !?!", job.index, ip);
    FailBackup(job, kBackupFlashImage);
    return false;
  }
  // Slot k holds register k in wire order; slot 0 stays 0.
  record.flashImage.assign(slots, 0);
  const size_t words = std::min(image->size(), slots - 1);
  for (size_t k = 0; k < words; ++k) record.flashImage[k + 1] = WireWord((*image)[k]);
  if (!record.registers.empty()) record.registers[0] = 0;
  job.state.store(kJobFlashReceived);
  return true;
}

// The service figures and the PLC program; false when the job failed or was stopped.
bool ReadServicePort(BackupJob& job, ModuleLink& link) {
  CNode_DataBackup& record = job.record;
  const char* ip = record.ipText.c_str();
  if (!link.ServiceConnect()) {
    ::LogError("BackupTh.%u Unable to connect to telnet socket (node \"%s\") !?!", job.index, ip);
    FailBackup(job, kBackupServicePort);
    return false;
  }
  if (!link.ServiceWelcome()) {
    ::LogError("BackupTh.%u Didn't receive socket welcome msg in 3 sec. !?! (node \"%s\")",
               job.index, ip);
    FailBackup(job, kBackupServicePort);
    return false;
  }
  for (int table = 0; table < 3; ++table) {
    if (StopRequested(job)) return false;
    std::optional<uint64_t> total;
    if (link.ServiceSend(static_cast<char>('1' + table))) {
      if (const auto answer = link.ServiceReceive()) total = ParseServiceTotals(*answer);
    }
    if (!total) {
      ::LogError("BackupTh.%u Unable to parse 1,2 or 3 telnet cmds (node \"%s\") !?!", job.index,
                 ip);
      FailBackup(job, kBackupServiceParse);
      return false;
    }
    record.serviceFigures[static_cast<size_t>(table)] = *total;
  }
  if (!link.ServiceSend('p')) {
    ::LogError("BackupTh.%u cann't send \"p\" telnet cmd to node \"%s\" !?!", job.index, ip);
    FailBackup(job, kBackupServicePort);
    return false;
  }
  const auto answer = link.ServiceReceive();
  if (!answer) {
    ::LogError("BackupTh.%u Didn't receive socket 'p' cmd response in 3 sec. !?! (node \"%s\")",
               job.index, ip);
    FailBackup(job, kBackupServiceParse);
    return false;
  }
  const auto length = ParsePlcLength(*answer);
  if (!length) {
    ::LogError(
        "BackupTh.%u Unable to parse \"p\" telnet cmd response from node \"%s\", response = "
        "\"%s\" !?!",
        job.index, ip, answer->c_str());
    FailBackup(job, kBackupServiceParse);
    return false;
  }
  link.ServiceClose();
  record.plcProgram.assign(*length, 0);
  if (*length == 0) return true;
  std::string error;
  bool whole = link.GetPlcProgram(record.plcProgram, job.state, &error);
  // A program shorter than the module announced is not the module's program.
  if (whole && record.plcProgram.size() != *length) {
    error =
        base::Format("PLC program of %zu bytes, %u announced", record.plcProgram.size(), *length);
    whole = false;
  }
  if (!whole) {
    if (StopRequested(job)) return false;
    SetError(job, error);
    ::LogError("BackupTh.%u TFTP failed during JOB_PLCPROGRAM (node \"%s\") TFTP_RESULT = %u !?!",
               job.index, ip, 1u);
    FailBackup(job, kBackupPlcProgram);
    return false;
  }
  return true;
}

}  // namespace

void BackupTh(BackupJob& job, ModuleLink& link, const JobTiming& timing, bool waitForStop) {
  job.running.store(true);
  job.startTick = platform::GetTickCount();
  CNode_DataBackup& record = job.record;
  const uint16_t slots = job.registerCount;
  record.registerCount = slots;
  record.registers.assign(slots, 0);
  record.flashImage.assign(slots, 0);
  record.plcProgram.clear();
  job.nextRegister = 1;
  bool ok = false;
  do {
    if (job.state.load() < kJobBackup) break;
    if (!ConnectJob(job, link, timing)) {
      if (StopRequested(job)) break;
      ::LogError("BackupTh.%u Unable to connect to node \"%s\" !!!", job.index,
                 record.ipText.c_str());
      FailBackup(job, kBackupNoConnection);
      break;
    }
    Step(job);
    bool oldFirmware = false;
    uint16_t flagWord = 0;
    if (!ReadRegisters(job, link, timing, &oldFirmware, &flagWord)) break;
    job.state.store(kJobRegistersRead);
    if ((flagWord & 1) || oldFirmware) {
      if (oldFirmware) {
        // Registers only: not a failure, and the owner keeps the record as it is.
        job.result = 0;
        job.state.store(kJobFailed);
        break;
      }
      job.result = kBackupFlashSkipped;
      job.state.store(kJobFlashReceived);
    } else if (!FetchFlashImage(job, link, timing)) {
      break;
    }
    ::LogInfo("BackupTh.%u LAST got Reg.No. from node \"%s\" was %i !!!", job.index,
              record.ipText.c_str(), job.nextRegister - 1);
    Step(job);
    if (!ReadServicePort(job, link)) break;
    ok = true;
  } while (false);
  link.ServiceClose();
  link.Close();
  job.endTick = platform::GetTickCount();
  if (ok) {
    int32_t expected = kJobFlashReceived;
    job.state.compare_exchange_strong(expected, kJobDone);
    // Asleep until the owner's stop (it notifies): at the end of a large backup hundreds of
    // finished jobs wait, and waking every millisecond to look took most of the run's CPU.
    for (int32_t state = job.state.load(); waitForStop && state != kJobStop;
         state = job.state.load()) {
      job.state.wait(state);
    }
  } else {
    record.plcProgram.clear();  // a job that did not finish keeps no program
  }
  job.running.store(false);
}

namespace {

void FailRestore(BackupJob& job, uint32_t result) {
  job.result = result;
  job.state.store(kJobFailed);
}

// One write tried twice; throws the second failure. A general error ends it at once.
void WriteTwice(ModuleLink& link, uint16_t first, uint16_t count, const uint16_t* values) {
  try {
    link.Write(first, count, values);
  } catch (const CBlockingSocketException& e) {
    if (e.Number() == kGeneralErrorCode) throw;
    link.Write(first, count, values);
  }
}

// Save to flash as SaveToFlashGroup does: [3, first, count], then 253 until it reads 0. 0 on
// success, else the result code.
uint32_t SaveGroup(BackupJob& job, ModuleLink& link, const JobTiming& timing, uint16_t first,
                   uint16_t count) {
  const uint16_t block[3] = {WireWord(kSaveCommand), WireWord(first), WireWord(count)};
  uint32_t commandTick = 0;
  try {
    link.Write(kCommandRegister, 3, block);
    commandTick = platform::GetTickCount();
  } catch (const CBlockingSocketException& e) {
    SetError(job, e.GetErrorMessage());
    return kRestoreFlashCommand;
  }
  try {
    for (;;) {
      platform::SleepMs(timing.flashCommandPollMs);
      uint16_t value = 0xFFFF;
      link.Read(kCommandRegister + 2, 1, &value);
      if (value == 0) return 0;
      if (platform::TicksSince(commandTick) >= timing.flashCommandLimitMs) return kRestoreWrite;
    }
  } catch (const CBlockingSocketException& e) {
    SetError(job, e.GetErrorMessage());
    return kRestoreWrite;
  }
}

// The register sequence; 0 on success, else the result code.
uint32_t WriteRegisters(BackupJob& job, ModuleLink& link, const JobTiming& timing,
                        const std::vector<uint16_t>& source) {
  const uint16_t slots = job.registerCount;
  const std::vector<WriteChunk> plan = RestoreChunkPlan(slots);
  auto at = [&](uint16_t reg) { return source.data() + reg; };
  for (int restart = 0;; ++restart) {
    bool failed = false;
    try {
      const uint16_t zero = 0;
      for (const uint16_t reg : kLinkRegisters) {
        if (reg < slots) WriteTwice(link, reg, 1, &zero);
      }
      for (const WriteChunk& chunk : plan) {
        if (StopRequested(job)) return kRestoreWrite;
        try {
          WriteTwice(link, chunk.first, chunk.count, at(chunk.first));
        } catch (const CBlockingSocketException& e) {
          if (e.Number() == kGeneralErrorCode) throw;
          SetError(job, e.GetErrorMessage());
          failed = true;
          break;
        }
        job.nextRegister = static_cast<uint16_t>(chunk.first + chunk.count);
        if (chunk.first == 142 || chunk.first == 267) Step(job);
        if (timing.loopMs) platform::SleepMs(timing.loopMs);
      }
    } catch (const CBlockingSocketException& e) {
      SetError(job, e.GetErrorMessage());
      return kRestoreCommunication;
    }
    if (!failed) break;
    if (restart + 1 >= 3) return kRestoreWrite;
    std::string error;
    if (!Reconnect(link, timing, &error)) {
      SetError(job, error);
      return kRestoreCommunication;
    }
  }
  try {
    for (uint16_t first = 307; first + 7 <= 362 && first + 7 <= slots; first += 8)
      WriteTwice(link, first, 7, at(first));
    WriteTwice(link, 1, 16, at(1));
    for (const uint16_t reg : kLinkRegisters) {
      if (reg < slots) WriteTwice(link, reg, 1, at(reg));
    }
  } catch (const CBlockingSocketException& e) {
    SetError(job, e.GetErrorMessage());
    return kRestoreCommunication;
  }
  if (const uint32_t result = SaveGroup(job, link, timing, 1, static_cast<uint16_t>(slots - 1)))
    return result;
  // The extended blocks the backup kept go back too, each saved as a group of its own.
  const auto& extended = job.record.extendedRegisters;
  if (job.record.extendedRegisterCount == kExtendedRegisterCount &&
      extended.size() >= kExtendedRegisterCount) {
    for (const uint16_t word : {uint16_t{0}, kExtendedWordB}) {
      const auto first = static_cast<uint16_t>(word == 0 ? kExtendedFirstA : kExtendedFirstB);
      try {
        WriteTwice(link, first, kExtendedChunk, extended.data() + word);
      } catch (const CBlockingSocketException& e) {
        SetError(job, e.GetErrorMessage());
        return kRestoreCommunication;
      }
      if (const uint32_t result = SaveGroup(job, link, timing, first, kExtendedChunk))
        return result;
    }
  }
  Step(job);
  return 0;
}

}  // namespace

void RestoreTh(BackupJob& job, ModuleLink& link, const JobTiming& timing) {
  job.running.store(true);
  job.startTick = platform::GetTickCount();
  const CNode_DataBackup& record = job.record;
  job.registerCount = record.registerCount;
  job.nextRegister = kRestoreFirst;
  const std::vector<uint16_t>& source =
      !record.flashImage.empty() ? record.flashImage : record.registers;
  do {
    if (source.size() < job.registerCount || job.registerCount <= kRestoreFirst) {
      SetError(job, "record without registers");
      FailRestore(job, kRestoreWrite);
      break;
    }
    if (!ConnectJob(job, link, timing)) {
      if (StopRequested(job)) break;
      FailRestore(job, job.pingAnswered ? kRestoreNoConnection : kRestoreNoPing);
      break;
    }
    Step(job);
    if (const uint32_t result = WriteRegisters(job, link, timing, source)) {
      FailRestore(job, result);
      break;
    }
    // The program only after the registers are written and saved.
    std::string error;
    const size_t length = record.plcProgram.size();
    if (length >= kPlcCrcSize) {
      const auto body = static_cast<uint32_t>(ProgramBodyLength(record.plcProgram));
      if (!link.PutPlcProgram(record.plcProgram.data(), body, false, &error)) {
        SetError(job, error);
        FailRestore(job, kRestoreUpload);
        break;
      }
    } else if (!link.PutPlcProgram(nullptr, 0, true, &error)) {
      SetError(job, error);
      FailRestore(job, kRestoreClear);
      break;
    }
    job.state.store(kJobDone);
  } while (false);
  link.Close();
  job.endTick = platform::GetTickCount();
  job.running.store(false);
}

size_t ProgramBodyLength(const std::vector<uint8_t>& program) {
  if (program.size() < kPlcCrcSize) return program.size();
  const size_t body = program.size() - kPlcCrcSize;
  const uint16_t crc = tftp::Crc16Modbus(program.data(), body);
  const bool ownCrc = program[body] == static_cast<uint8_t>(crc) &&
                      program[body + 1] == static_cast<uint8_t>(crc >> 8);
  return ownCrc ? body : program.size();
}

std::string BackupResultName(uint32_t result) {
  switch (result) {
    case 0:
      return QM_TRANSLATE_NOOP("backup::ModuleOutcome", "done");
    case kBackupDuplicateIp:
      return QM_TRANSLATE_NOOP("backup::ModuleOutcome", "duplicate IP address");
    case kBackupRegisters:
      return QM_TRANSLATE_NOOP("backup::ModuleOutcome", "registers not read");
    case kBackupNoConnection:
      return QM_TRANSLATE_NOOP("backup::ModuleOutcome", "no connection");
    case kBackupFlashImage:
      return QM_TRANSLATE_NOOP("backup::ModuleOutcome", "no flash image");
    case kBackupServicePort:
      return QM_TRANSLATE_NOOP("backup::ModuleOutcome", "service port failed");
    case kBackupPlcProgram:
      return QM_TRANSLATE_NOOP("backup::ModuleOutcome", "PLC program not read");
    case kBackupFlashSkipped:
      return QM_TRANSLATE_NOOP("backup::ModuleOutcome", "flash image skipped (PLC mode)");
    case kBackupServiceParse:
      return QM_TRANSLATE_NOOP("backup::ModuleOutcome", "service answers not understood");
    default:
      return base::Format("result %u", result);
  }
}

std::string RestoreResultName(uint32_t result) {
  switch (result) {
    case 0:
      return QM_TRANSLATE_NOOP("backup::ModuleOutcome", "done");
    case kRestoreFlashCommand:
      return QM_TRANSLATE_NOOP("backup::ModuleOutcome", "save to flash refused");
    case kRestoreCommunication:
      return QM_TRANSLATE_NOOP("backup::ModuleOutcome", "connection lost");
    case kRestoreWrite:
      return QM_TRANSLATE_NOOP("backup::ModuleOutcome", "registers not written or saved");
    case kRestoreUpload:
      return QM_TRANSLATE_NOOP("backup::ModuleOutcome", "PLC program not uploaded");
    case kRestoreClear:
      return QM_TRANSLATE_NOOP("backup::ModuleOutcome", "PLC program not cleared");
    case kRestoreNoPing:
      return QM_TRANSLATE_NOOP("backup::ModuleOutcome", "no answer to ping");
    case kRestoreNoConnection:
      return QM_TRANSLATE_NOOP("backup::ModuleOutcome", "no connection");
    default:
      return base::Format("result %u", result);
  }
}

}  // namespace backup
