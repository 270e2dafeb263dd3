// The fault table: every line operation of quillmar-cli over a line of three modules, with one
// module (the middle one) showing one fault that linesim injects. Each row asserts that the
// faulty module is named as failed with the fault's cause, that the other two come out right
// (in the tool's report and in what the modules keep), and that the exit status is 1.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "fixtures/integration_helpers.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/temp_log.h"

namespace {

using nlohmann::json;
using ::testing::HasSubstr;

constexpr uint32_t kSerials[3] = {7001, 7002, 7003};
constexpr const char* kAddresses[3] = {"192.168.202.20", "192.168.202.21", "192.168.202.22"};
constexpr size_t kFaulty = 1;  // the middle module
using test::kNet;
// What the backup keeps of each module: register 40 (the left drive's set speed) commissioned.
constexpr uint16_t kCommissioned[3] = {1111, 2222, 3333};

// Short timings: saves, restarts and answers as fast as a module may be.
constexpr const char* kLine = R"({
  "network": "192.168.202.0", "gateway": "192.168.202.1",
  "timing": {"flashWriteMs": 20, "rebootMs": 600, "answerDelayMinMs": 1, "answerDelayMaxMs": 5},
  "chains": [[
    {"serial": 7001, "node": 1, "registers": {"21": 1}, "plc": {"program": "50524F4752414D2D41"}},
    {"serial": 7002, "node": 2, "registers": {"21": 1}, "plc": {"program": "50524F4752414D2D4242"}},
    {"serial": 7003, "node": 3, "registers": {"21": 1}, "plc": {"program": "50524F4752414D2D434343"}}
  ]]})";

enum class Operation {
  kBackup,
  kRestore,
  kRestoreByIp,
  kUpgrade,
  kConnectionsRange,
  kSensorsSetAll,
  kFlexZone,
  kModulesSet,
};

struct Row {
  const char* name;
  Operation operation;
  json fault;         // set on the middle module just before the operation
  const char* cause;  // what the faulty module's outcome must say (a regular expression)
  // The operation's own retries outlive the fault: every module, the faulty one too, must come
  // out right (and keep what it was told), and the run succeeds.
  bool recovers = false;
  friend void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }
};

// One module's outcome as the tool reported it.
struct Outcome {
  bool ok = false;
  std::string text;
};

// The lab, the line file and the files the rows share: made once per test program.
class Shared {
 public:
  static Shared& Get() {
    static Shared shared;
    return shared;
  }
  const test::Lab& Lab() {
    if (!lab_) lab_ = std::make_unique<test::Lab>();
    return *lab_;
  }
  const std::string& Folder() const { return folder_.path(); }
  const std::string& LineFile() const { return lineFile_; }
  // A backup of the line with register 40 commissioned, made without faults.
  const std::string& BackupFile();
  // A firmware file of the modules' family for 4.14 (they run 4.12).
  std::string FirmwareFile();

 private:
  Shared() {
    lineFile_ = folder_.path() + "line.json";
    std::ofstream(lineFile_) << kLine;
  }
  fixtures::TempFolder folder_;
  std::string lineFile_;
  std::string backupFile_;
  std::unique_ptr<test::Lab> lab_;
};

test::RunResult SharedLabCli(const std::vector<std::string>& args, uint32_t timeoutMs = 150000) {
  std::vector<std::string> argv{test::BuiltProgram("apps/quillmar-cli")};
  argv.insert(argv.end(), args.begin(), args.end());
  return Shared::Get().Lab().Exec("pc", argv, timeoutMs);
}

void Commission(const test::Linesim& line) {
  for (size_t i = 0; i < 3; ++i) {
    line.Write(kSerials[i], 40, {kCommissioned[i]});
    line.Write(kSerials[i], 40, {kCommissioned[i]}, true);
  }
}

const std::string& Shared::BackupFile() {
  if (!backupFile_.empty()) return backupFile_;
  test::Linesim line(Lab(), lineFile_);
  Commission(line);
  const std::string path = folder_.path() + "line.backup";
  const auto run = SharedLabCli({"backup", "--all", "-o", path});
  if (run.exitCode != 0)
    throw std::runtime_error("the backup for the restore rows failed:\n" + run.out + run.err);
  backupFile_ = path;
  return backupFile_;
}

std::string Shared::FirmwareFile() {
  const std::string path = folder_.path() + "Brevantrix_4_14.bin";
  if (!std::filesystem::exists(path)) {
    std::vector<char> bytes(6000, '\x5A');
    const uint32_t header = 0xE59FF018u;  // the base family's image header
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(header >> (8 * i));
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
  }
  return path;
}

// The per-module outcomes of an operation whose --json output lists them.
std::map<std::string, Outcome> ModuleRows(const json& rows, const char* okKey,
                                          const std::function<bool(const json&)>& ok) {
  std::map<std::string, Outcome> outcomes;
  for (const json& row : rows) {
    Outcome outcome;
    outcome.ok = ok(row);
    outcome.text = row.dump();
    outcomes[row.at(okKey).get<std::string>()] = outcome;
  }
  return outcomes;
}

// Outcomes from the lists of addresses written and failed (the pages' Set All).
std::map<std::string, Outcome> ListedRows(const json& written, const json& failed,
                                          const std::string& err) {
  std::map<std::string, Outcome> outcomes;
  for (const json& address : written) outcomes[address.get<std::string>()] = {true, ""};
  for (const json& address : failed) outcomes[address.get<std::string>()] = {false, err};
  return outcomes;
}

json ParseJson(const std::string& out) {
  // The JSON document is the last line that starts with '{'.
  size_t at = out.rfind("\n{");
  const std::string text = at == std::string::npos ? out : out.substr(at + 1);
  return json::parse(text, nullptr, false);
}

class FaultTable : public ::testing::TestWithParam<Row> {};

TEST_P(FaultTable, TheFaultyModuleIsNamedAndTheOthersComeOutRight) {
  const Row& row = GetParam();
  QM_SKIP_WITHOUT_LAB();
  Shared& shared = Shared::Get();
  const std::string backupFile =
      row.operation == Operation::kRestore || row.operation == Operation::kRestoreByIp
          ? shared.BackupFile()
          : "";
  test::Linesim line(shared.Lab(), shared.LineFile());
  const std::string faulty = kAddresses[kFaulty];
  if (row.operation == Operation::kRestoreByIp) {
    // The faulty module was moved since the backup: the restore moves it back first.
    line.SetNetwork(kSerials[kFaulty], "192.168.202.77", "255.255.255.0", "192.168.202.1");
  }
  line.SetFault(kSerials[kFaulty], row.fault);

  test::RunResult run;
  std::map<std::string, Outcome> outcomes;
  const std::string output = shared.Folder() + "out.backup";
  std::filesystem::remove(output);
  switch (row.operation) {
    case Operation::kBackup: {
      run = SharedLabCli({"--json", "backup", "--all", "-o", output});
      const json out = ParseJson(run.out);
      if (out.is_object())
        outcomes = ModuleRows(out["modules"], "module", [](const json& r) { return !r["failed"]; });
      // A failed module ends the run without a file.
      EXPECT_FALSE(std::filesystem::exists(output));
      break;
    }
    case Operation::kRestore:
    case Operation::kRestoreByIp: {
      std::vector<std::string> args{"--yes", "--json", "restore", backupFile};
      if (row.operation == Operation::kRestoreByIp) args.push_back("--by-ip");
      args.push_back("--all");
      run = SharedLabCli(args, 240000);
      const json out = ParseJson(run.out);
      if (out.is_object())
        outcomes = ModuleRows(out["modules"], "module", [](const json& r) { return !r["failed"]; });
      for (size_t i = 0; i < 3; ++i) {
        if (i == kFaulty) continue;
        EXPECT_EQ(line.Read(kSerials[i], 40, 1, true)[0], kCommissioned[i]) << kAddresses[i];
      }
      break;
    }
    case Operation::kUpgrade: {
      run = SharedLabCli({"--json", "upgrade", shared.FirmwareFile(), "--all", "--reset-wait-ms",
                          "200", "--restart-wait-ms", "1500"});
      const json out = ParseJson(run.out);
      if (out.is_object()) {
        outcomes = ModuleRows(out["modules"], "module",
                              [](const json& r) { return r["result"] == "Done"; });
      }
      for (size_t i = 0; i < 3; ++i) {
        if (i == kFaulty) continue;
        EXPECT_EQ(line.Module(kSerials[i]).firmwareRegister, (4 << 8) | 14) << kAddresses[i];
      }
      break;
    }
    case Operation::kConnectionsRange: {
      run = SharedLabCli({"--yes", "--json", "connections", "1", "--net", kNet, "--range", "1-3",
                          "--mode", "plc-io"});
      const json out = ParseJson(run.out);
      if (out.is_object()) {
        outcomes = ModuleRows(out["modules"], "module",
                              [](const json& r) { return r["result"] == "done"; });
        for (auto& [address, outcome] : outcomes) outcome.text += run.err;
      }
      for (size_t i = 0; i < 3; ++i) {
        if (i == kFaulty) continue;
        EXPECT_EQ(line.Read(kSerials[i], 18, 1, true)[0], 2) << kAddresses[i];
      }
      break;
    }
    case Operation::kSensorsSetAll: {
      run = SharedLabCli({"--yes", "--json", "sensors", "1", "--net", kNet, "--blocked-left",
                          "inverted", "--all", "1-3"});
      const json out = ParseJson(run.out);
      if (out.is_object() && out.contains("written"))
        outcomes = ListedRows(out["written"], out["failed"], run.err);
      const uint16_t blockedLeft = line.Read(kSerials[0], 34, 1, true)[0];
      EXPECT_NE(blockedLeft, 0);
      EXPECT_EQ(line.Read(kSerials[2], 34, 1, true)[0], blockedLeft);
      // A module reported written keeps the setting in flash.
      if (outcomes.count(faulty) && outcomes[faulty].ok) {
        EXPECT_EQ(line.Read(kSerials[kFaulty], 34, 1, true)[0], blockedLeft);
      }
      break;
    }
    case Operation::kFlexZone: {
      run = SharedLabCli({"--yes", "--json", "flexzone", kNet, "--enable"});
      const json out = ParseJson(run.out);
      if (out.is_object()) {
        outcomes = ListedRows(json::array(), out["failed"], run.err + out.dump());
        for (size_t i = 0; i < 3; ++i) {
          if (!outcomes.count(kAddresses[i])) outcomes[kAddresses[i]] = {true, ""};
        }
      }
      for (size_t i = 0; i < 3; ++i) {
        if (i == kFaulty) continue;
        EXPECT_EQ(line.Read(kSerials[i], 21, 1, true)[0], 0) << kAddresses[i];  // was 1
      }
      break;
    }
    case Operation::kModulesSet: {
      run = SharedLabCli({"--yes", "modules", "set", "2", "--net", kNet, "--ip", "192.168.202.30"});
      outcomes[faulty] = {run.exitCode == 0, run.err};
      // The others keep their addresses.
      for (size_t i = 0; i < 3; ++i) {
        if (i == kFaulty) continue;
        EXPECT_EQ(line.Module(kSerials[i]).address, kAddresses[i]);
        outcomes[kAddresses[i]] = {true, ""};
      }
      break;
    }
  }
  const std::string all =
      "exit " + std::to_string(run.exitCode) + "\nout:\n" + run.out + "\nerr:\n" + run.err;
  EXPECT_EQ(run.exitCode, row.recovers ? 0 : 1) << all;
  ASSERT_EQ(outcomes.size(), 3u) << all;
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(outcomes.count(kAddresses[i])) << kAddresses[i] << "\n" << all;
    const Outcome& outcome = outcomes[kAddresses[i]];
    if (i == kFaulty && !row.recovers) {
      EXPECT_FALSE(outcome.ok) << all;
      EXPECT_TRUE(std::regex_search(outcome.text, std::regex(row.cause)))
          << "cause /" << row.cause << "/ not in: " << outcome.text;
      EXPECT_THAT(run.err + run.out, HasSubstr(kAddresses[i]));  // named in the report
    } else {
      EXPECT_TRUE(outcome.ok) << kAddresses[i] << ": " << outcome.text << "\n" << all;
    }
  }
}

const json kModbusOnly = {{"discovery", false}};
json ModbusFault(json fault) {
  fault.update(kModbusOnly);
  return fault;
}

const Row kRows[] = {
    // Backup: the registers, the flash image, the service port and the PLC program.
    {"BackupRefusedRegister", Operation::kBackup, {{"refuse", 100}}, "registers not read"},
    {"BackupStaleTransactionId", Operation::kBackup, ModbusFault({{"staleSequence", true}}),
     "registers not read"},
    {"BackupShortModbusAnswer", Operation::kBackup, {{"shortModbus", true}}, "registers not read"},
    {"BackupShortFlashImage", Operation::kBackup, {{"shortFlashImage", true}}, "no flash image"},
    {"BackupShortProgramDownload",
     Operation::kBackup,
     {{"shortTftp", true}},
     "PLC program not read"},
    {"BackupNoAnswer", Operation::kBackup, ModbusFault({{"drop", 1}}),
     "registers not read|no connection"},
    {"BackupRebootDuringTheProgram",
     Operation::kBackup,
     {{"tftpReboot", 1}},
     "PLC program not read"},
    {"BackupTftpErrorBlock", Operation::kBackup, {{"tftpError", 1}}, "PLC program not read"},
    // Restore by IP text: register chunks, the save, the PLC program.
    {"RestoreRefusedRegister",
     Operation::kRestore,
     {{"refuse", 100}},
     "registers not written or saved|connection lost"},
    {"RestoreStaleTransactionId", Operation::kRestore, ModbusFault({{"staleSequence", true}}),
     "registers not written or saved|connection lost"},
    {"RestoreShortAnswerToTheSavePoll",
     Operation::kRestore,
     {{"shortModbus", true}},
     "registers not written or saved"},
    {"RestoreNoAnswer", Operation::kRestore, ModbusFault({{"drop", 1}}),
     "registers not written or saved|connection lost|no connection"},
    // (A restart during the register writes is outlived by the restore's own retries when the
    // module is back within them, as it should be; one during the program upload is not.)
    {"RestoreRebootDuringTheProgram",
     Operation::kRestore,
     {{"tftpReboot", 1}},
     "PLC program not uploaded"},
    {"RestoreFlashSaveNeverConfirmed",
     Operation::kRestore,
     {{"saveUnconfirmed", true}},
     "registers not written or saved"},
    {"RestoreTftpErrorBlock", Operation::kRestore, {{"tftpError", 1}}, "PLC program not uploaded"},
    // Restore by IP: the module moved since the backup is moved back, then restored.
    {"RestoreByIpRefusedRegister",
     Operation::kRestoreByIp,
     {{"refuse", 100}},
     "registers not written or saved|connection lost"},
    {"RestoreByIpFlashSaveNeverConfirmed",
     Operation::kRestoreByIp,
     {{"saveUnconfirmed", true}},
     "registers not written or saved"},
    // Firmware upgrade: the upload and the restart.
    {"UpgradeTftpErrorBlock", Operation::kUpgrade, {{"tftpError", 3}}, "Disk full|Error|Failed"},
    {"UpgradeRebootDuringTheUpload", Operation::kUpgrade, {{"tftpReboot", 3}}, "Error|Failed"},
    // Apply All of the connections page over a node range.
    {"ConnectionsRangeRefusedRegister",
     Operation::kConnectionsRange,
     {{"refuse", 18}},
     "is lost|SaveToFlash\\(18, 2\\) Error"},
    {"ConnectionsRangeFlashSaveNeverConfirmed",
     Operation::kConnectionsRange,
     {{"saveUnconfirmed", true}},
     "failed"},
    {"ConnectionsRangeNoAnswer", Operation::kConnectionsRange, ModbusFault({{"drop", 1}}),
     "is lost"},
    // Set All of the sensors page and the flex zone switch.
    {"SensorsSetAllRefusedRegister", Operation::kSensorsSetAll, {{"refuse", 34}}, "192.168.202.21"},
    {"SensorsSetAllStaleTransactionId", Operation::kSensorsSetAll,
     ModbusFault({{"staleSequence", true}}), "192.168.202.21"},
    {"SensorsSetAllShortAnswer",
     Operation::kSensorsSetAll,
     {{"shortModbus", true}},
     "192.168.202.21"},
    {"SensorsSetAllNoAnswer", Operation::kSensorsSetAll, ModbusFault({{"drop", 1}}),
     "192.168.202.21"},
    // The restart (600 ms) is over before the register client's next connect pass: the write
    // is sent again and taken.
    {"SensorsSetAllRebootMidWrite", Operation::kSensorsSetAll, {{"rebootOnWrite", 34}}, "", true},
    {"SensorsSetAllFlashSaveNeverConfirmed",
     Operation::kSensorsSetAll,
     {{"saveUnconfirmed", true}},
     "192.168.202.21"},
    {"FlexZoneRefusedRegister", Operation::kFlexZone, {{"refuse", 21}}, "192.168.202.21"},
    // (No answer on the flex zone: every register waits out its time-outs; the sensors row
    // covers a silent module on the pages.)
    {"FlexZoneFlashSaveNeverConfirmed",
     Operation::kFlexZone,
     {{"saveUnconfirmed", true}},
     "192.168.202.21"},
    // Set NodeIP of one module that does not answer it (discovery still finds the module).
    {"ModulesSetNoAnswer", Operation::kModulesSet, {{"silentSetNodeIp", true}}, "no answer"},
};

INSTANTIATE_TEST_SUITE_P(Rows, FaultTable, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
