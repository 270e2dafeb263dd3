// The per-module backup and restore jobs against a scripted module: the chunk plans, the result
// code of each module behaviour, and a restore that writes back what a backup read.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "backup/backup_job.h"
#include "comm/blocking_socket.h"
#include "fixtures/fake_module_link.h"
#include "fixtures/temp_log.h"

namespace {

using namespace backup;
using test::FakeLink;
using test::FakeModule;
using test::Quick;

struct Ran {
  int32_t state;
  uint32_t result;
  CNode_DataBackup record;
  std::vector<std::pair<uint16_t, uint16_t>> reads;
  int steps;
  std::vector<std::string> log;
};

Ran Backup(FakeModule& module) {
  fixtures::ScopedTempLog log;
  FakeLink link(module);
  BackupJob job;
  job.record.serialNumber = module.serial;
  job.record.ipText = "10.0.0.20";
  job.record.moduleFamily = module.family;
  job.record.firmwareVersion = module.firmware;
  job.registerCount = RegisterSlotsFor(module.firmware);
  int steps = 0;
  job.onProgress = [&steps](int units) { steps += units / kProgressStep; };
  BackupTh(job, link, Quick(), false);
  return {job.state.load(), job.result, job.record, link.reads, steps, log.Messages()};
}

// How often a thread of this process has gone to sleep so far.
long VoluntarySwitches(pid_t thread) {
  std::ifstream status("/proc/self/task/" + std::to_string(thread) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stol(line.substr(24));
  }
  return -1;
}

// A finished job waits for the owner's stop asleep, not waking to look: hundreds of them wait
// at the end of a large backup.
TEST(BackupTh, AFinishedJobSleepsUntilTheOwnerStopsIt) {
  fixtures::ScopedTempLog log;
  FakeModule module;
  FakeLink link(module);
  BackupJob job;
  job.record.serialNumber = module.serial;
  job.record.ipText = "10.0.0.20";
  job.record.moduleFamily = module.family;
  job.record.firmwareVersion = module.firmware;
  job.registerCount = RegisterSlotsFor(module.firmware);
  std::atomic<pid_t> thread{0};
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    thread.store(gettid());
    BackupTh(job, link, Quick(), true);
    returned.store(true);
  });
  for (int waited = 0; job.state.load() != kJobDone && waited < 20000; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(job.state.load(), kJobDone);
  const long before = VoluntarySwitches(thread.load());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the window watched
  const long after = VoluntarySwitches(thread.load());
  EXPECT_FALSE(returned.load()) << "it did not wait for the stop";
  job.state.store(kJobStop);
  job.state.notify_all();
  worker.join();
  ASSERT_GE(before, 0);
  // Asleep it wakes at most for a stray notification; polling would wake about 200 times.
  EXPECT_LE(after - before, 3);
}

TEST(BackupChunkPlan, ChunksOf25AndALastChunkUpToTheSlotCount) {
  struct Case {
    uint16_t slots;
    bool extended;
    size_t chunks;
    ReadChunk last;
  };
  const Case cases[] = {
      {364, false, 15, {351, 13, 351, false}},  // 14 x 25 + 13 = 363 registers
      {384, false, 16, {376, 8, 376, false}},   // 15 x 25 + 8 = 383
      {513, false, 21, {501, 12, 501, false}},  // 20 x 25 + 12 = 512
      {513, true, 23, {10100, 36, 100, true}},  // two extended blocks of 36 after them
  };
  for (const Case& c : cases) {
    const auto plan = BackupChunkPlan(c.slots, c.extended);
    ASSERT_EQ(plan.size(), c.chunks) << c.slots;
    EXPECT_EQ(plan.back(), c.last) << c.slots;
    int registers = 0;
    uint16_t next = 1;
    for (const auto& chunk : plan) {
      if (chunk.extended) continue;
      EXPECT_EQ(chunk.first, next);
      next = static_cast<uint16_t>(next + chunk.count);
      registers += chunk.count;
    }
    EXPECT_EQ(registers, c.slots - 1);
  }
  EXPECT_EQ(BackupChunkPlan(513, true)[21], (ReadChunk{10000, 36, 0, true}));
}

TEST(BackupTh, ResultCodeOfEachModuleBehaviour) {
  struct Case {
    const char* behaviour;
    std::function<void(FakeModule&)> make;
    int32_t state;
    uint32_t result;
    const char* logged = "";
  };
  const Case cases[] = {
      {"answers everything", [](FakeModule&) {}, kJobDone, 0, "LAST got Reg.No."},
      {"no ping", [](FakeModule& m) { m.pingAnswers = false; }, kJobFailed, kBackupNoConnection,
       "Unable to connect to node"},
      {"refuses the connection", [](FakeModule& m) { m.connects = false; }, kJobFailed,
       kBackupNoConnection},
      {"another module on its address", [](FakeModule& m) { m.answersSerial = 99; }, kJobFailed,
       kBackupDuplicateIp, "with SN = 4711, and SN = 99 !!!"},
      {"a chunk times out twice", [](FakeModule& m) { m.readFailuresAt = 200; }, kJobFailed,
       kBackupRegisters, "RegsRead = 176 from 512"},
      {"a general socket error",
       [](FakeModule& m) {
         m.readFailuresAt = 30;
         m.generalErrorAt = true;
       },
       kJobFailed, kBackupRegisters, "General socket exception"},
      {"no flash image", [](FakeModule& m) { m.flashImage = false; }, kJobFailed, kBackupFlashImage,
       "Didn't receive UDP flash data"},
      {"PLC mode (register 12 bit 0)",
       [](FakeModule& m) {
         m.register12 = 1;
         m.flashImage = false;
       },
       kJobDone, kBackupFlashSkipped},
      {"old firmware 2.2",
       [](FakeModule& m) {
         m.firmware = 0x0202;
         m.family = 0x00;
         m.flashImage = false;
       },
       kJobFailed, 0},
      {"dead service port", [](FakeModule& m) { m.serviceConnects = false; }, kJobFailed,
       kBackupServicePort, "Unable to connect to telnet socket"},
      {"no welcome", [](FakeModule& m) { m.welcome = false; }, kJobFailed, kBackupServicePort,
       "welcome msg"},
      {"totals answered Err:", [](FakeModule& m) { m.totalsAnswer = "Err: busy"; }, kJobFailed,
       kBackupServiceParse, "Unable to parse 1,2 or 3"},
      {"no answer to p", [](FakeModule& m) { m.plcAnswers = false; }, kJobFailed,
       kBackupServiceParse},
      {"negative program length", [](FakeModule& m) { m.plcAnswer = "My:-4,"; }, kJobFailed,
       kBackupServiceParse},
      {"program download fails", [](FakeModule& m) { m.tftpWorks = false; }, kJobFailed,
       kBackupPlcProgram, "TFTP failed during JOB_PLCPROGRAM"},
      {"flash image one register short", [](FakeModule& m) { m.flashImageWords = 511; }, kJobFailed,
       kBackupFlashImage, "Didn't receive UDP flash data"},
      {"program shorter than announced", [](FakeModule& m) { m.plcAnswer = "My:10,"; }, kJobFailed,
       kBackupPlcProgram, "TFTP failed during JOB_PLCPROGRAM"},
  };
  for (const Case& c : cases) {
    FakeModule module;
    c.make(module);
    const Ran ran = Backup(module);
    EXPECT_EQ(ran.state, c.state) << c.behaviour;
    EXPECT_EQ(ran.result, c.result) << c.behaviour;
    if (ran.state == kJobFailed && ran.result != 0) {
      EXPECT_TRUE(ran.record.plcProgram.empty()) << c.behaviour;
    }
    if (*c.logged) {
      const bool found = std::any_of(ran.log.begin(), ran.log.end(), [&c](const std::string& line) {
        return line.find(c.logged) != std::string::npos;
      });
      EXPECT_TRUE(found) << c.behaviour;
    }
  }
}

TEST(BackupTh, FillsRegistersFlashImageServiceFiguresAndProgram) {
  FakeModule module;
  const Ran ran = Backup(module);
  ASSERT_EQ(ran.state, kJobDone);
  const CNode_DataBackup& r = ran.record;
  ASSERT_EQ(r.registers.size(), 513u);
  EXPECT_EQ(r.registers[0], 0);
  EXPECT_EQ(RegisterValue(r.registers[100]), 301);
  EXPECT_EQ(RegisterValue(r.registers[512]), 512 * 3 + 1);
  ASSERT_EQ(r.flashImage.size(), 513u);
  EXPECT_EQ(r.flashImage[0], 0);
  EXPECT_EQ(RegisterValue(r.flashImage[1]), 0xF001);  // word k - 1 is register k
  EXPECT_EQ(RegisterValue(r.flashImage[512]), 0xF000 + 512);
  EXPECT_EQ(r.serviceFigures[0], 320u);  // entries 6 and 7 only
  EXPECT_EQ(r.plcProgram, module.program);
  EXPECT_EQ(r.extendedRegisterCount, 0);
  EXPECT_GE(ran.steps, 6);  // connect, 126, 251, 376, a poll, LAST
}

TEST(BackupTh, ExtendedTypeReadsBothExtendedBlocks) {
  FakeModule module;
  module.register6 = 0x0190;
  module.ram[10000] = 7;
  module.ram[10135] = 9;
  const Ran ran = Backup(module);
  ASSERT_EQ(ran.state, kJobDone);
  EXPECT_EQ(ran.record.extendedRegisterCount, 200);
  ASSERT_EQ(ran.record.extendedRegisters.size(), 200u);
  EXPECT_EQ(RegisterValue(ran.record.extendedRegisters[0]), 7);
  EXPECT_EQ(RegisterValue(ran.record.extendedRegisters[135]), 9);
  EXPECT_EQ(ran.reads.back(), (std::pair<uint16_t, uint16_t>{10100, 36}));
}

TEST(ServiceParsers, TotalsAndProgramLength) {
  EXPECT_EQ(ParseServiceTotals("x\r\ny\r\n:0x6] a\t5\r\n:0x7] b\t6\r\n:0x8] c\t100\r\n"), 11u);
  EXPECT_FALSE(ParseServiceTotals("x\r\ny\r\n:0x6] a 5\r\n"));    // no tab
  EXPECT_FALSE(ParseServiceTotals("x\r\ny\r\n0x6] a\t5\r\n"));    // no ":0x"
  EXPECT_FALSE(ParseServiceTotals("x\r\ny\r\n:0x6] a\t5x\r\n"));  // not a number
  EXPECT_FALSE(ParseServiceTotals("Err: no"));
  EXPECT_EQ(ParsePlcLength("x My:1234, y"), 1234u);
  EXPECT_FALSE(ParsePlcLength("My:-1,"));
  EXPECT_FALSE(ParsePlcLength("length 5"));
  EXPECT_FALSE(ParsePlcLength("My:4294967295,"));  // more than TFTP can carry
}

TEST(RestoreProgram, OnlyTheProgramsOwnCrcIsDropped) {
  EXPECT_EQ(ProgramBodyLength(test::WithCrc({9, 8, 7})), 3u);
  EXPECT_EQ(ProgramBodyLength({9, 8, 7, 0, 0}), 5u);  // no CRC of its own: nothing is lost
  EXPECT_EQ(ProgramBodyLength({}), 0u);
}

TEST(RestoreChunkPlan, SkipsTheDescriptorsAndNeverSendsAnEmptyChunk) {
  for (const uint16_t slots : {uint16_t{364}, uint16_t{384}, uint16_t{513}}) {
    const auto plan = RestoreChunkPlan(slots);
    std::vector<bool> covered(slots, false);
    for (const auto& chunk : plan) {
      EXPECT_GT(chunk.count, 0);
      EXPECT_LE(chunk.count, 25);
      for (int r = chunk.first; r < chunk.first + chunk.count; ++r) covered[r] = true;
    }
    EXPECT_EQ(plan.front(), (WriteChunk{17, 25}));
    EXPECT_EQ(plan[11], (WriteChunk{292, 14}));
    EXPECT_EQ(plan[12].first, 363);
    for (int r = 1; r < slots; ++r) EXPECT_EQ(covered[r], (r >= 17 && r < 306) || r >= 363) << r;
  }
  EXPECT_EQ(RestoreChunkPlan(364).back(), (WriteChunk{363, 1}));
  EXPECT_EQ(RestoreChunkPlan(384).back(), (WriteChunk{363, 21}));
  EXPECT_EQ(RestoreChunkPlan(513).back(), (WriteChunk{488, 25}));
}

TEST(RestoreTh, WritesTheFlashImageBackSavesAndUploadsTheProgram) {
  fixtures::ScopedTempLog log;
  FakeModule source;
  const Ran backed = Backup(source);
  ASSERT_EQ(backed.state, kJobDone);
  FakeModule target;
  FakeLink link(target);
  BackupJob job;
  job.record = backed.record;
  job.state.store(kJobRestore);
  RestoreTh(job, link, Quick());
  ASSERT_EQ(job.state.load(), kJobDone) << job.errorText;
  for (uint32_t r = 1; r < 513; ++r) {
    if (r >= 251 && r <= 253) continue;  // the save command block
    EXPECT_EQ(target.ram[r], static_cast<uint16_t>(0xF000 + r)) << r;
  }
  // The connection descriptors go to 0 first and get their values last.
  EXPECT_EQ(target.writes.front(), (std::pair<uint16_t, uint16_t>{306, 1}));
  EXPECT_EQ(target.writes[target.writes.size() - 2], (std::pair<uint16_t, uint16_t>{362, 1}));
  EXPECT_EQ(target.writes.back(), (std::pair<uint16_t, uint16_t>{251, 3}));
  EXPECT_EQ(target.ram[252], 1);
  EXPECT_EQ(target.ram[253], 0);
  // The program without its own two CRC bytes (the upload appends a new one).
  EXPECT_EQ(target.programWritten, (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST(RestoreTh, ResultOfEachFailure) {
  fixtures::ScopedTempLog log;
  FakeModule source;
  const Ran backed = Backup(source);
  struct Case {
    const char* behaviour;
    std::function<void(FakeModule&, CNode_DataBackup&)> make;
    uint32_t result;
  };
  const Case cases[] = {
      {"no ping", [](FakeModule& m, CNode_DataBackup&) { m.pingAnswers = false; }, kRestoreNoPing},
      {"ping but no connection", [](FakeModule& m, CNode_DataBackup&) { m.connects = false; },
       kRestoreNoConnection},
      {"a chunk never goes through", [](FakeModule& m, CNode_DataBackup&) { m.failWritesAt = 100; },
       kRestoreWrite},
      {"save block refused", [](FakeModule& m, CNode_DataBackup&) { m.refuseSave = true; },
       kRestoreFlashCommand},
      {"no program: the module's is cleared",
       [](FakeModule&, CNode_DataBackup& r) { r.plcProgram.clear(); }, 0},
  };
  for (const Case& c : cases) {
    FakeModule target;
    BackupJob job;
    job.record = backed.record;
    c.make(target, job.record);
    FakeLink link(target);
    job.state.store(kJobRestore);
    RestoreTh(job, link, Quick());
    EXPECT_EQ(job.result, c.result) << c.behaviour;
    EXPECT_EQ(job.state.load(), c.result ? kJobFailed : kJobDone) << c.behaviour;
  }
  FakeModule cleared;
  FakeLink link(cleared);
  BackupJob job;
  job.record = backed.record;
  job.record.plcProgram.clear();
  RestoreTh(job, link, Quick());
  EXPECT_TRUE(cleared.programCleared);
}

}  // namespace
