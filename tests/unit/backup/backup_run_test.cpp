// The backup run's report and the restore's matching, questions and report, against scripted
// modules and a scripted user.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "backup/backup_run.h"
#include "base/format.h"
#include "fixtures/fake_module_link.h"
#include "fixtures/temp_log.h"

namespace {

using namespace backup;
using test::FakeLink;
using test::FakeModule;

ModuleInfo Module(uint32_t serial, const std::string& ip, uint8_t family = 0x30,
                  uint8_t position = 0) {
  ModuleInfo m;
  m.serial = serial;
  m.ipText = ip;
  m.maskText = "255.255.255.0";
  m.gatewayText = "192.168.202.1";
  m.linePosition = position;
  m.familyByte = family;
  m.firmwareVersion = 0x040C;
  m.nodeBlock[17] = family;
  return m;
}

CNode_DataBackup Record(uint32_t serial, const std::string& ip, uint8_t family = 0x30,
                        uint8_t position = 0) {
  CNode_DataBackup r;
  r.serialNumber = serial;
  r.ipText = ip;
  r.maskText = "255.255.255.0";
  r.gatewayText = "192.168.202.1";
  r.linePosition = position;
  r.nodeBlock[17] = family;
  r.registerCount = 513;
  r.registers.assign(513, WireWord(5));
  r.flashImage.assign(513, WireWord(7));
  r.flashImage[0] = 0;
  return r;
}

TEST(RestoreMatch, ByIpTextTakesEachRecordOnce) {
  const std::vector<CNode_DataBackup> records = {Record(1, "192.168.202.20"),
                                                 Record(2, "192.168.202.21", 0x30, 1),
                                                 Record(3, "192.168.202.21")};
  auto masked = Module(9, "192.168.202.21");
  masked.maskText = "255.255.0.0";
  const std::vector<ModuleInfo> modules = {Module(8, "192.168.202.20"), masked,
                                           Module(7, "192.168.202.21"),
                                           Module(6, "192.168.202.40")};
  const RestoreMatch match = MatchByIpText(records, modules);
  ASSERT_EQ(match.pairs.size(), 3u);
  EXPECT_EQ(match.pairs[0].record, 0u);
  EXPECT_EQ(match.pairs[1].record, 1u);  // the first record of that IP text
  EXPECT_TRUE(match.pairs[1].positionChange);
  EXPECT_TRUE(match.pairs[1].settingsChange);
  EXPECT_EQ(match.pairs[2].record, 2u);  // the next one not taken yet
  EXPECT_FALSE(match.pairs[2].positionChange);
  EXPECT_EQ(match.withoutRecord, std::vector<size_t>{3});
  EXPECT_TRUE(match.typeMismatch.empty());
}

TEST(RestoreMatch, BySerialMarksAddressChangesAndFamilyMismatches) {
  const std::vector<CNode_DataBackup> records = {Record(1, "192.168.202.20"),
                                                 Record(2, "192.168.202.21", 0x90)};
  const std::vector<ModuleInfo> modules = {
      Module(2, "192.168.202.33", 0x30), Module(1, "192.168.202.20"), Module(5, "192.168.202.20")};
  const RestoreMatch match = MatchBySerial(records, modules);
  ASSERT_EQ(match.pairs.size(), 2u);
  EXPECT_EQ(match.pairs[0].record, 1u);
  EXPECT_TRUE(match.pairs[0].addressChange);
  EXPECT_FALSE(match.pairs[1].addressChange);
  EXPECT_EQ(match.withoutRecord, std::vector<size_t>{2});
  EXPECT_EQ(match.typeMismatch, std::vector<size_t>{0});  // 0x90 record on a 0x30 module
}

// The line as the restore sees it: the modules' answers to the line-wide requests.
class FakeLine : public LineOperations {
 public:
  std::vector<ModuleInfo> present;
  bool positionsAnswer = true;
  bool addressesMove = true;
  std::vector<std::string> sent;
  std::vector<uint32_t> asked;  // since the last wait for answers
  bool SetNodeIp(const ModuleInfo& module, const std::string& ip, const std::string& mask,
                 const std::string& gateway) override {
    sent.push_back(
        base::Format("ip %u %s %s %s", module.serial, ip.c_str(), mask.c_str(), gateway.c_str()));
    asked.push_back(module.serial);
    for (auto& m : present) {
      if (m.serial == module.serial && addressesMove) {
        m.ipText = ip;
        m.maskText = mask;
        m.gatewayText = gateway;
      }
    }
    return true;
  }
  // A module that keeps its settings answers with them: not what it was asked.
  std::vector<SettingsNotTaken> AwaitAnswers(uint32_t) override {
    std::vector<SettingsNotTaken> notTaken;
    if (!addressesMove) {
      for (const uint32_t serial : asked) notTaken.push_back({serial, "kept its mask"});
    }
    asked.clear();
    sent.push_back("wait");
    return notTaken;
  }
  bool SetFirstLast(const ModuleInfo& module, uint8_t position) override {
    sent.push_back(base::Format("position %u %u", module.serial, position));
    return positionsAnswer;
  }
  bool BroadcastReset() override {
    sent.push_back("reset");
    return true;
  }
  std::vector<ModuleInfo> Rediscover() override { return present; }
  bool Wait(uint32_t, base::Progress& progress) override { return !progress.Cancelled(); }
};

struct Restore {
  base::ScriptedPrompt prompt;
  base::NullProgress progress;
  FakeLine line;
  std::map<std::string, FakeModule> modules;  // by address
  RestoreOptions options;
  RestoreRunResult Run(const std::vector<CNode_DataBackup>& records,
                       const std::vector<ModuleInfo>& selected) {
    options.timing = test::Quick();
    options.fileName = "line.backup";
    LinkFactory links = [this](const std::string& ip) {
      return std::make_unique<FakeLink>(modules[ip]);
    };
    return RunRestore(records, selected, links, line, prompt, progress, options);
  }
  bool Shown(const std::string& text) const {
    for (const auto& shown : prompt.Texts()) {
      if (shown.find(text) != std::string::npos) return true;
    }
    return false;
  }
};

TEST(RunRestore, ByIpTextWritesAndResetsAndNamesModulesWithoutRecord) {
  fixtures::ScopedTempLog log;
  Restore restore;
  const auto result = restore.Run({Record(1, "192.168.202.20", 0x30, 1)},
                                  {Module(1, "192.168.202.20"), Module(2, "192.168.202.44")});
  EXPECT_TRUE(result.done) << result.message;
  EXPECT_TRUE(restore.Shown(base::Format(kWithoutRecordText, 1, 2, "192.168.202.44, ")));
  EXPECT_TRUE(restore.Shown(base::Format(kConfirmRestoreText, 1)));
  EXPECT_EQ(restore.line.sent, (std::vector<std::string>{"position 1 1", "reset"}));
  EXPECT_EQ(restore.modules["192.168.202.20"].ram[100], 7);
  EXPECT_TRUE(restore.Shown("Wiederherstellung von 1 Modulen wurde in"));
}

TEST(RunRestore, RefusalsAndQuestions) {
  fixtures::ScopedTempLog log;
  {
    Restore restore;  // no record for any selected module
    const auto result = restore.Run({Record(1, "192.168.202.20")}, {Module(2, "192.168.202.30")});
    EXPECT_FALSE(result.done);
    EXPECT_EQ(result.message, kNoMatchText);
  }
  {
    Restore restore;  // a record of another family
    const auto result =
        restore.Run({Record(1, "192.168.202.20", 0x90)}, {Module(1, "192.168.202.20", 0x30)});
    EXPECT_FALSE(result.done);
    EXPECT_TRUE(restore.Shown("There are type mismatching"));
    EXPECT_TRUE(restore.modules.empty());  // nothing was written
  }
  {
    Restore restore;  // the user says no
    restore.prompt.QueueAnswer(base::PromptAnswer::No);
    const auto result = restore.Run({Record(1, "192.168.202.20")}, {Module(1, "192.168.202.20")});
    EXPECT_FALSE(result.done);
    EXPECT_TRUE(restore.modules.empty());
  }
  {
    Restore restore;  // a record with an empty flash image is dropped after the question
    auto empty = Record(2, "192.168.202.21");
    std::fill(empty.flashImage.begin(), empty.flashImage.end(), 0);
    const auto result = restore.Run({Record(1, "192.168.202.20"), empty},
                                    {Module(1, "192.168.202.20"), Module(2, "192.168.202.21")});
    EXPECT_TRUE(result.done);
    EXPECT_TRUE(restore.Shown(std::string(kEmptyFlashText) + "192.168.202.21, "));
    EXPECT_EQ(restore.modules.count("192.168.202.21"), 0u);
  }
}

TEST(RunRestore, FailedModulesAreListedAndNothingIsReset) {
  fixtures::ScopedTempLog log;
  Restore restore;
  restore.modules["192.168.202.21"].pingAnswers = false;
  restore.modules["192.168.202.22"].failWritesAt = 100;
  const auto result = restore.Run(
      {Record(1, "192.168.202.20"), Record(2, "192.168.202.21"), Record(3, "192.168.202.22")},
      {Module(1, "192.168.202.20"), Module(2, "192.168.202.21"), Module(3, "192.168.202.22")});
  EXPECT_FALSE(result.done);
  // The first list by the order of the results (6 before 9), and every failed module named.
  EXPECT_EQ(result.message.find("Die Speicherung im Flash-Speicher"), 0u) << result.message;
  EXPECT_NE(result.message.find("192.168.202.21"), std::string::npos);
  EXPECT_NE(result.message.find("192.168.202.22"), std::string::npos);
  EXPECT_EQ(result.message.find("192.168.202.20,"), std::string::npos);
  EXPECT_TRUE(std::find(restore.line.sent.begin(), restore.line.sent.end(), "reset") ==
              restore.line.sent.end());
  ASSERT_EQ(result.outcomes.size(), 3u);
  EXPECT_FALSE(result.outcomes[0].failed);
  EXPECT_EQ(result.outcomes[1].result, kRestoreNoPing);
  EXPECT_EQ(result.outcomes[2].result, kRestoreWrite);
}

TEST(RunRestore, ByIpMovesModulesToTheirRecordedAddresses) {
  fixtures::ScopedTempLog log;
  Restore restore;
  restore.options.byIp = true;
  restore.line.present = {Module(1, "192.168.202.50"), Module(2, "192.168.202.21")};
  const auto result =
      restore.Run({Record(1, "192.168.202.20"), Record(2, "192.168.202.21")}, restore.line.present);
  EXPECT_TRUE(result.done) << result.message;
  EXPECT_TRUE(restore.Shown(base::Format(kConfirmAddressText, 1)));
  EXPECT_EQ(restore.line.sent.front(), "ip 1 192.168.202.20 255.255.255.0 192.168.202.1");
  // The registers went to the module at its new address.
  EXPECT_EQ(restore.modules["192.168.202.20"].ram[100], 7);
  EXPECT_EQ(restore.modules.count("192.168.202.50"), 0u);

  Restore stuck;  // a module that does not take its address is named after two passes
  stuck.options.byIp = true;
  stuck.line.addressesMove = false;
  stuck.line.present = {Module(1, "192.168.202.50")};
  const auto failed = stuck.Run({Record(1, "192.168.202.20")}, stuck.line.present);
  EXPECT_FALSE(failed.done);
  EXPECT_EQ(failed.message, base::Format(kAddressNotChangedText, "1, "));
  EXPECT_EQ(std::count_if(stuck.line.sent.begin(), stuck.line.sent.end(),
                          [](const std::string& s) { return s.rfind("ip ", 0) == 0; }),
            2);
}

TEST(RunRestore, ARecordWithAnUnreadableAddressTextIsRefusedBeforeAnythingIsSent) {
  fixtures::ScopedTempLog log;
  struct Case {
    const char* name;
    bool byIp;
    std::function<void(CNode_DataBackup&)> spoil;
    const char* field;
  };
  const Case cases[] = {
      {"by serial, address", true, [](CNode_DataBackup& r) { r.ipText = "192.168.202"; },
       "the IP address"},
      {"by serial, mask", true, [](CNode_DataBackup& r) { r.maskText = "255.255.255.0.0"; },
       "the subnet mask"},
      {"by IP text, gateway", false, [](CNode_DataBackup& r) { r.gatewayText = "gateway"; },
       "the gateway"},
      {"by IP text, mask", false, [](CNode_DataBackup& r) { r.maskText = "255.255.256.0"; },
       "the subnet mask"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Restore restore;
    restore.options.byIp = c.byIp;
    // By serial the module has moved (its address changes); by IP text its mask differs.
    auto module = Module(1, c.byIp ? "192.168.202.50" : "192.168.202.20");
    module.maskText = "255.255.0.0";
    restore.line.present = {module};
    auto record = Record(1, "192.168.202.20");
    c.spoil(record);
    const auto result = restore.Run({record}, {module});
    EXPECT_FALSE(result.done);
    EXPECT_NE(result.message.find(c.field), std::string::npos) << result.message;
    EXPECT_NE(result.message.find("not an IPv4 address"), std::string::npos) << result.message;
    EXPECT_TRUE(restore.line.sent.empty());  // no Set NodeIP, no position, no reset
    EXPECT_TRUE(restore.modules.empty());    // no register was written
  }
}

TEST(RunRestore, MaskAndGatewayChangesAreConfirmedByTheModulesAnswers) {
  fixtures::ScopedTempLog log;
  for (const bool taken : {true, false}) {
    SCOPED_TRACE(taken ? "taken" : "not taken");
    Restore restore;
    restore.line.addressesMove = taken;
    auto module = Module(1, "192.168.202.20");
    module.maskText = "255.255.0.0";
    restore.line.present = {module};
    const auto result = restore.Run({Record(1, "192.168.202.20")}, {module});
    EXPECT_EQ(restore.line.sent.front(), "ip 1 192.168.202.20 255.255.255.0 192.168.202.1");
    EXPECT_EQ(result.done, taken) << result.message;
    if (!taken) {
      EXPECT_EQ(result.message.find("Restore stopped before any register was written"), 0u)
          << result.message;
      EXPECT_NE(result.message.find("192.168.202.20 (SN 1)"), std::string::npos);
      EXPECT_TRUE(restore.modules.empty());  // no register was written
    }
  }
}

TEST(RunRestore, EverySelectedModuleHasItsOutcomeInTheOrderOfTheSelection) {
  fixtures::ScopedTempLog log;
  Restore restore;
  auto empty = Record(3, "192.168.202.22");
  std::fill(empty.flashImage.begin(), empty.flashImage.end(), 0);
  const auto result = restore.Run(
      {Record(2, "192.168.202.21"), empty},
      {Module(1, "192.168.202.20"), Module(2, "192.168.202.21"), Module(3, "192.168.202.22")});
  EXPECT_TRUE(result.done) << result.message;  // the module with a record was restored
  ASSERT_EQ(result.outcomes.size(), 3u);
  EXPECT_EQ(result.outcomes[0].serial, 1u);
  EXPECT_TRUE(result.outcomes[0].failed);
  EXPECT_EQ(result.outcomes[0].Describe(true), kNoRecordOutcome);
  EXPECT_EQ(result.outcomes[1].serial, 2u);
  EXPECT_FALSE(result.outcomes[1].failed);
  EXPECT_EQ(result.outcomes[1].Describe(true), "done");
  EXPECT_EQ(result.outcomes[2].ipText, "192.168.202.22");
  EXPECT_TRUE(result.outcomes[2].failed);
  EXPECT_EQ(result.outcomes[2].Describe(true), kEmptyFlashOutcome);
}

struct BackupRunner {
  base::ScriptedPrompt prompt;
  base::NullProgress progress;
  std::map<std::string, FakeModule> modules;
  BackupRunResult Run(const std::vector<ModuleInfo>& selected) {
    for (const auto& m : selected) {
      modules[m.ipText].serial = m.serial;
      modules[m.ipText].answersSerial = m.serial;
    }
    LinkFactory links = [this](const std::string& ip) {
      return std::make_unique<FakeLink>(modules[ip]);
    };
    return RunBackup(selected, links, prompt, progress, test::Quick());
  }
};

TEST(RunBackup, OneFailedModuleWritesNoFileAndIsNamed) {
  fixtures::ScopedTempLog log;
  BackupRunner run;
  run.modules["192.168.202.21"].pingAnswers = false;
  run.modules["192.168.202.22"].flashImage = false;
  const auto result = run.Run(
      {Module(1, "192.168.202.20"), Module(2, "192.168.202.21"), Module(3, "192.168.202.22")});
  EXPECT_FALSE(result.writeFile);
  EXPECT_TRUE(result.records.empty());
  EXPECT_NE(result.failureText.find(base::Format(kNoConnectionText, "\"192.168.202.21\", ")),
            std::string::npos);
  EXPECT_NE(result.failureText.find("(err# 11)"), std::string::npos);
  EXPECT_NE(result.failureText.find("\"192.168.202.22\""), std::string::npos);
  ASSERT_EQ(result.outcomes.size(), 3u);
  EXPECT_FALSE(result.outcomes[0].failed);
  EXPECT_TRUE(result.outcomes[1].failed);
  EXPECT_TRUE(result.outcomes[2].failed);
}

TEST(RunBackup, DuplicateSelectionAndWarnings) {
  fixtures::ScopedTempLog log;
  {
    BackupRunner run;
    const auto result = run.Run({Module(1, "192.168.202.20"), Module(2, "192.168.202.20")});
    EXPECT_EQ(result.failureText, base::Format(kDuplicateSelectedText, 1u, 2u, "192.168.202.20"));
    EXPECT_TRUE(result.outcomes.empty());
  }
  {
    BackupRunner run;
    run.modules["192.168.202.20"].register12 = 1;  // PLC mode: no flash image, a warning
    const auto result = run.Run({Module(1, "192.168.202.20")});
    EXPECT_TRUE(result.writeFile);
    EXPECT_EQ(result.warningEntries, "\"192.168.202.20\", ");
    ASSERT_EQ(result.records.size(), 1u);
    EXPECT_EQ(result.records[0].serialNumber, 1u);
    // Written, but not a full backup: the record has no flash image a restore could use.
    ASSERT_EQ(result.outcomes.size(), 1u);
    EXPECT_FALSE(result.outcomes[0].failed);
    EXPECT_TRUE(result.outcomes[0].incomplete);
  }
}

TEST(RunBackup, OldFirmwareKeepsItsRegistersAndIsNoted) {
  fixtures::ScopedTempLog log;
  BackupRunner run;
  auto old = Module(1, "192.168.202.20", 0x00);
  old.firmwareVersion = 0x0202;
  run.modules["192.168.202.20"].firmware = 0x0202;
  run.modules["192.168.202.20"].family = 0x00;
  const auto result = run.Run({old});
  ASSERT_TRUE(result.writeFile) << result.failureText;
  ASSERT_EQ(result.records.size(), 1u);
  EXPECT_EQ(RegisterValue(result.records[0].registers[100]), 301);
  EXPECT_TRUE(result.records[0].plcProgram.empty());
  EXPECT_EQ(result.outcomes[0].Describe(false), "done, old firmware: registers only");
  EXPECT_TRUE(result.outcomes[0].incomplete);
}

TEST(RunBackup, AModuleTheAdapterDoesNotReachIsAskedAbout) {
  fixtures::ScopedTempLog log;
  const auto check = [](const ModuleInfo& m) -> std::optional<Unreachable> {
    if (m.ipText == "10.1.1.5") return Unreachable{"eth1", "10.1.1.254"};
    return std::nullopt;
  };
  for (const auto answer : {base::PromptAnswer::Abort, base::PromptAnswer::Ignore}) {
    BackupRunner run;
    run.prompt.QueueAnswer(answer);
    run.modules["10.1.1.5"].serial = run.modules["10.1.1.5"].answersSerial = 2;
    LinkFactory links = [&run](const std::string& ip) {
      return std::make_unique<FakeLink>(run.modules[ip]);
    };
    const auto result = RunBackup({Module(2, "10.1.1.5")}, links, run.prompt, run.progress,
                                  test::Quick(), {}, check);
    ASSERT_FALSE(run.prompt.Texts().empty());
    EXPECT_EQ(run.prompt.Texts()[0],
              base::Format(kUnreachableText, "10.1.1.5", "eth1", "10.1.1.254"));
    EXPECT_EQ(result.writeFile, answer == base::PromptAnswer::Ignore);
    EXPECT_EQ(result.outcomes.empty(), answer == base::PromptAnswer::Abort);
  }
}

}  // namespace
