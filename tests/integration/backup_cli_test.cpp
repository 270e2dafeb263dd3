// quillmar-cli backup and restore against linesim lines inside a lab: a backup of the demo line
// restored onto a line of new modules with the same serials and factory registers gives them
// the original registers, flash and PLC programs; a module that restarts during the restore is
// named; a process killed while it writes the file leaves the previous backup whole. Faults of
// one module (stale Modbus answers, PLC mode, no record, settings not taken, a spoilt record)
// name that module and end with exit status 1.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "backup/backup_file.h"
#include "base/format.h"
#include "fixtures/integration_helpers.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/program_bytes.h"
#include "fixtures/temp_log.h"

namespace {

using nlohmann::json;
using ::testing::HasSubstr;

constexpr uint32_t kExtendedBlocksModule = 3100101;  // node 1, family 0x09 (extended blocks)
constexpr uint32_t kFamily0Module = 3100103;         // node 3, family 0x00
constexpr uint32_t kOld319 = 3100105;  // node 5, firmware 3.19: 383 registers

using test::WithCrc;

// What a module keeps: its saved registers (but the command block, which the save clears),
// the extended blocks, and the hash of its PLC program.
struct Kept {
  std::vector<uint16_t> flash;
  std::vector<uint16_t> extended;
  std::string plcHash;
  int plcLength = 0;
  bool operator==(const Kept&) const = default;
  friend void PrintTo(const Kept& k, std::ostream* out) {
    *out << "plc " << k.plcLength << " " << k.plcHash << ", extended[5] "
         << (k.extended.size() > 5 ? k.extended[5] : 0) << ", flash";
    for (size_t i = 0; i < k.flash.size(); ++i) {
      if (k.flash[i]) *out << " " << (i + 1) << "=" << k.flash[i];
    }
  }
};
Kept KeptBy(const test::Linesim& line, uint32_t serial, uint16_t registers) {
  Kept kept;
  kept.flash = line.Read(serial, 1, registers, true);
  for (uint16_t r = 251; r <= 253 && r <= registers; ++r) kept.flash[r - 1] = 0;
  if (line.Module(serial).family == 0x09) kept.extended = line.Read(serial, 10000, 36);
  const json files = line.Ok({{"cmd", "files"}, {"module", serial}})["files"];
  kept.plcHash = files["plcHash"].is_string() ? files["plcHash"].get<std::string>() : "";
  kept.plcLength = files["plcLength"].get<int>();
  return kept;
}

class BackupCli : public ::testing::Test {
 protected:
  test::RunResult Cli(const test::Lab& lab, const std::vector<std::string>& args,
                      uint32_t timeoutMs = 120000) {
    std::vector<std::string> argv{test::BuiltProgram("apps/quillmar-cli")};
    argv.insert(argv.end(), args.begin(), args.end());
    return lab.Exec("pc", argv, timeoutMs);
  }
  fixtures::TempFolder folder_;
};

TEST_F(BackupCli, BackupOfTheDemoLineRestoredOntoNewModules) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  const std::string file = folder_.path() + "demo.backup";
  std::map<uint32_t, Kept> original;
  std::map<uint32_t, uint16_t> registerCounts;
  {
    test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
    // Commissioned settings that differ from the factory's, in RAM and flash alike.
    for (const uint32_t serial : test::SerialsOf(line)) {
      const std::vector<uint16_t> settings = {static_cast<uint16_t>(serial % 977), 1234, 7};
      line.Write(serial, 40, settings);
      line.Write(serial, 40, settings, true);
      line.Write(serial, 310, {static_cast<uint16_t>(serial % 50)});
      line.Write(serial, 310, {static_cast<uint16_t>(serial % 50)}, true);
    }
    line.Write(kExtendedBlocksModule, 10005, {4242});
    line.Write(kExtendedBlocksModule, 10005, {4242}, true);
    // Two modules with PLC programs of their own.
    std::vector<uint8_t> program(700);
    for (size_t i = 0; i < program.size(); ++i) program[i] = static_cast<uint8_t>(i * 13 + 5);
    test::WriteBytes(folder_.path() + "program.bin", program);
    for (const char* ip : {"192.168.202.20", "192.168.202.22"}) {
      const auto put =
          Cli(lab, {"tftp", "put", ip, folder_.path() + "program.bin", "PlcData_.bin"});
      ASSERT_EQ(put.exitCode, 0) << put.err;
    }
    const auto run = Cli(lab, {"backup", "--all", "-o", file});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("192.168.202.31"));
    EXPECT_THAT(run.out, HasSubstr("done"));
    for (const auto& m : line.List()) {
      const uint16_t registers = m.serial == kOld319 || m.serial == 3100204 ? 383 : 512;
      registerCounts[m.serial] = registers;
      original[m.serial] = KeptBy(line, m.serial, registers);
    }
    EXPECT_EQ(original[kExtendedBlocksModule].plcLength, 702);  // kept with its two check bytes
  }
  const backup::LoadResult loaded = backup::LoadBackupFile(file);
  ASSERT_EQ(loaded.status, backup::LoadStatus::kLoaded);
  ASSERT_EQ(loaded.records.size(), 12u);

  const auto show = Cli(lab, {"backup", "show", file, "--json"});
  ASSERT_EQ(show.exitCode, 0) << show.err;
  const json shown = json::parse(show.out);
  EXPECT_EQ(shown["records"].size(), 12u);

  // New modules: the same serials and addresses, factory registers, no programs.
  test::Linesim fresh(lab, test::SourceFile("sim/lines/demo.json"));
  EXPECT_NE(KeptBy(fresh, kFamily0Module, 512), original[kFamily0Module]);
  const auto diff = Cli(lab, {"backup", "diff", file, "192.168.202.22"});
  EXPECT_EQ(diff.exitCode, 0) << diff.err;
  EXPECT_THAT(diff.out, HasSubstr("register 40"));

  const auto restore = Cli(lab, {"--yes", "restore", file, "--all"}, 180000);
  ASSERT_EQ(restore.exitCode, 0) << restore.out << restore.err;
  for (const auto& [serial, kept] : original) {
    EXPECT_EQ(KeptBy(fresh, serial, registerCounts[serial]), kept) << serial;
    // The RAM the register client reads holds the same values.
    EXPECT_EQ(fresh.Read(serial, 40, 3),
              std::vector<uint16_t>(kept.flash.begin() + 39, kept.flash.begin() + 42))
        << serial;
  }
  // The program comes back by TFTP as the module kept it after the upload.
  const std::string back = folder_.path() + "back.bin";
  const auto get = Cli(lab, {"tftp", "get", "192.168.202.22", "PlcData_.bin", back});
  ASSERT_EQ(get.exitCode, 0) << get.err;
  EXPECT_EQ(test::ReadBytes(back), WithCrc(test::ReadBytes(folder_.path() + "program.bin")));
}

TEST_F(BackupCli, AModuleThatRestartsDuringTheRestoreIsNamed) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  const std::string description = R"({"network": "192.168.202.0", "timing": {"rebootMs": 30000},
      "chains": [[{"serial": 5001, "node": 1}, {"serial": 5002, "node": 2}]]})";
  const std::string lineFile = folder_.path() + "line.json";
  test::WriteBytes(lineFile, std::vector<uint8_t>(description.begin(), description.end()));
  test::Linesim line(lab, lineFile);
  const std::string file = folder_.path() + "two.backup";
  const auto run = Cli(lab, {"backup", "1", "2", "--net", "192.168.202.0", "-o", file});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  line.SetFault(5002, {{"rebootOnWrite", 100}});
  const auto restore = Cli(lab, {"--yes", "restore", file, "--all"}, 180000);
  EXPECT_EQ(restore.exitCode, 1);
  EXPECT_THAT(restore.err, HasSubstr("module 192.168.202.21 (serial 5002) failed"));
  EXPECT_THAT(restore.err, ::testing::Not(HasSubstr("192.168.202.20 (serial 5001) failed")));
  EXPECT_TRUE(line.Module(5002).rebooting);  // still away: its restore could not go on
}

TEST_F(BackupCli, RestoreByIpMovesModulesBackToTheirRecordedAddresses) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  const std::string description = R"({"network": "192.168.202.0", "gateway": "192.168.202.1",
      "chains": [[{"serial": 6001, "node": 1}, {"serial": 6002, "node": 2}]]})";
  const std::string lineFile = folder_.path() + "line.json";
  test::WriteBytes(lineFile, std::vector<uint8_t>(description.begin(), description.end()));
  test::Linesim line(lab, lineFile);
  const std::string file = folder_.path() + "two.backup";
  const auto run = Cli(lab, {"backup", "--all", "-o", file});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  line.Write(6002, 40, {4321}, true);  // changed since, and moved away
  line.SetNetwork(6002, "192.168.202.77", "255.255.255.0", "192.168.202.1");

  const auto restore = Cli(lab, {"--yes", "restore", file, "--by-ip", "--all"}, 180000);
  ASSERT_EQ(restore.exitCode, 0) << restore.out << restore.err;
  EXPECT_EQ(line.Module(6002).address, "192.168.202.21");
  EXPECT_EQ(line.Module(6001).address, "192.168.202.20");
  EXPECT_NE(line.Read(6002, 40, 1, true)[0], 4321);  // its registers came back too
}

TEST_F(BackupCli, AProcessKilledWhileWritingLeavesThePreviousBackupWhole) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  const std::string file = folder_.path() + "line.backup";
  const auto first = Cli(lab, {"backup", "--all", "-o", file});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  const std::vector<uint8_t> previous = test::ReadBytes(file);
  ASSERT_FALSE(previous.empty());
  line.Write(3100102, 40, {999});  // the next backup differs

  // The second backup is killed the moment anything appears in the folder for it.
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, folder_.path().c_str(), IN_CREATE | IN_MOVED_TO | IN_MODIFY),
            0);
  test::BackgroundProcess second =
      lab.Start("pc", {test::BuiltProgram("apps/quillmar-cli"), "backup", "--all", "-o", file});
  bool killed = false;
  for (int waited = 0; waited < 60000 && !killed; waited += 5) {
    pollfd item{watch, POLLIN, 0};
    if (poll(&item, 1, 5) > 0) {
      second.Signal(SIGKILL);
      killed = true;
    }
    if (!second.Running()) break;
  }
  close(watch);
  second.Wait(10000);
  ASSERT_TRUE(killed) << second.Stderr();
  // The file is the previous backup, or (when the kill came after the rename) the whole new one.
  const std::vector<uint8_t> now = test::ReadBytes(file);
  const backup::LoadResult loaded = backup::ParseBackupFile(now);
  ASSERT_EQ(loaded.status, backup::LoadStatus::kLoaded);
  EXPECT_EQ(loaded.records.size(), 12u);
  if (now != previous) {
    const auto& record = *std::find_if(loaded.records.begin(), loaded.records.end(),
                                       [](const auto& r) { return r.serialNumber == 3100102; });
    EXPECT_EQ(backup::RegisterValue(record.registers[40]), 999);
  }
}

// A line of two modules, serials base + 1 and base + 2 at nodes 1 and 2; `second` adds JSON
// members to the second module.
std::string TwoModules(uint32_t base, const std::string& second = "") {
  return base::Format(R"({"network": "192.168.202.0", "gateway": "192.168.202.1", "chains": [[)"
                      R"({"serial": %u, "node": 1}, {"serial": %u, "node": 2%s}]]})",
                      base + 1, base + 2, second.empty() ? "" : (", " + second).c_str());
}

TEST_F(BackupCli, StaleModbusAnswersFailTheModuleAsRegistersNotRead) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  const std::string lineFile = folder_.path() + "line.json";
  const std::string description = TwoModules(7000);
  test::WriteBytes(lineFile, std::vector<uint8_t>(description.begin(), description.end()));
  test::Linesim line(lab, lineFile);
  line.SetFault(7002, {{"staleSequence", true}, {"discovery", false}});
  const std::string file = folder_.path() + "two.backup";
  const auto run = Cli(lab, {"backup", "--all", "-o", file});
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  EXPECT_THAT(run.err, HasSubstr("module 192.168.202.21 (serial 7002) failed: registers not read"));
  EXPECT_THAT(run.out + run.err, ::testing::Not(HasSubstr("duplicate IP address")));
  EXPECT_THAT(run.err, ::testing::Not(HasSubstr("(serial 7001) failed")));
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(BackupCli, AModuleInPlcModeIsNotFullyBackedUp) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  const std::string lineFile = folder_.path() + "line.json";
  const std::string description = TwoModules(7100, R"("registers": {"12": 1})");
  test::WriteBytes(lineFile, std::vector<uint8_t>(description.begin(), description.end()));
  test::Linesim line(lab, lineFile);
  const std::string file = folder_.path() + "two.backup";
  const auto run = Cli(lab, {"backup", "--all", "-o", file});
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  EXPECT_THAT(run.err, HasSubstr("module 192.168.202.21 (serial 7102) not fully backed up"));
  EXPECT_THAT(run.err, ::testing::Not(HasSubstr("(serial 7101)")));
  // The file is still written, with the warning that it is not fit for a restore.
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_THAT(run.out + run.err,
              HasSubstr("Das erstellte backup soll nicht für Wiederherstellung"));
}

TEST_F(BackupCli, RestoreNamesEverySelectedModuleAndFailsForThoseNotRestored) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  const std::string lineFile = folder_.path() + "line.json";
  const std::string description = TwoModules(7200);
  test::WriteBytes(lineFile, std::vector<uint8_t>(description.begin(), description.end()));
  test::Linesim line(lab, lineFile);
  const std::string file = folder_.path() + "one.backup";
  const auto run = Cli(lab, {"backup", "1", "--net", "192.168.202.0", "-o", file});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;

  // Both modules selected, one record: the other module is in the table and fails the run.
  const auto restore = Cli(lab, {"--yes", "--json", "restore", file, "--all"}, 180000);
  EXPECT_EQ(restore.exitCode, 1) << restore.out << restore.err;
  const json out = json::parse(restore.out);
  ASSERT_EQ(out["modules"].size(), 2u) << restore.out;
  std::map<uint32_t, json> rows;
  for (const auto& row : out["modules"]) rows[row["serial"].get<uint32_t>()] = row;
  EXPECT_FALSE(rows[7201]["failed"].get<bool>());
  EXPECT_TRUE(rows[7202]["failed"].get<bool>());
  EXPECT_EQ(rows[7202]["result"], "not restored: no record in the backup file");
}

TEST_F(BackupCli, RestoreStopsOnSettingsNotTakenAndOnSpoiltRecords) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  const std::string lineFile = folder_.path() + "line.json";
  const std::string description = TwoModules(7300);
  test::WriteBytes(lineFile, std::vector<uint8_t>(description.begin(), description.end()));
  test::Linesim line(lab, lineFile);
  const std::string file = folder_.path() + "two.backup";
  const auto run = Cli(lab, {"backup", "--all", "-o", file});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  line.Write(7302, 40, {4321}, true);  // would be restored

  // By IP text: the gateway differs from the record's, and the module does not take the one
  // it is sent. Nothing is written.
  line.SetNetwork(7302, "192.168.202.21", "255.255.255.0", "192.168.202.2");
  line.SetFault(7302, {{"keepsNetwork", true}});
  const auto restore = Cli(lab, {"--yes", "restore", file, "--all"}, 180000);
  EXPECT_EQ(restore.exitCode, 1) << restore.out << restore.err;
  EXPECT_THAT(restore.out + restore.err,
              HasSubstr("did not take the subnet mask/gateway of their backup record"));
  EXPECT_THAT(restore.out + restore.err, HasSubstr("192.168.202.21 (SN 7302)"));
  EXPECT_EQ(line.Read(7302, 40, 1, true)[0], 4321);
  EXPECT_EQ(line.Module(7302).gateway, "192.168.202.2");

  // By serial, a record whose address text is spoilt: refused before anything is sent.
  line.ClearFaults(7302);
  line.SetNetwork(7302, "192.168.202.77", "255.255.255.0", "192.168.202.1");
  backup::LoadResult loaded = backup::LoadBackupFile(file);
  ASSERT_EQ(loaded.status, backup::LoadStatus::kLoaded);
  for (auto& record : loaded.records) {
    if (record.serialNumber == 7302) record.ipText = "192.168.202";
  }
  const std::string spoilt = folder_.path() + "spoilt.backup";
  ASSERT_TRUE(backup::SaveBackupFile(spoilt, loaded.records).ok);
  const auto byIp = Cli(lab, {"--yes", "restore", spoilt, "--by-ip", "--all"}, 180000);
  EXPECT_EQ(byIp.exitCode, 1) << byIp.out << byIp.err;
  EXPECT_THAT(byIp.out + byIp.err, HasSubstr("which is not an IPv4 address"));
  EXPECT_EQ(line.Module(7302).address, "192.168.202.77");
  EXPECT_EQ(line.Read(7302, 40, 1, true)[0], 4321);
}

}  // namespace
