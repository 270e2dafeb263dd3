// quillmar-cli connections and extension against linesim modules inside a lab: a switch to PLC
// I/O mode leaves the registers and the program in flash and survives the restart; Apply All
// over five modules with one dead names exactly that one; links written as descriptors; an
// extension set up twice keeps one entry in its master's table.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "fixtures/integration_helpers.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/temp_log.h"

namespace {

using nlohmann::json;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Nodes 1..6 (192.168.202.20 .. .25), serials 5100 .. 5105, each with two motors.
constexpr uint32_t kFirstSerial = 5100;

class ConnectionsCli : public ::testing::Test {
 protected:
  void SetUp() override {
    json chain = json::array();
    for (uint32_t node = 1; node <= 6; ++node) {
      chain.push_back({{"serial", kFirstSerial + node - 1},
                       {"node", node},
                       {"type", 0},
                       {"family", "0x09"},
                       {"registers", {{"6", "0x0900"}, {"90", "1"}, {"170", "1"}}}});
    }
    const json line = {{"network", "192.168.202.0"},
                       {"timing", {{"rebootMs", 1500}}},
                       {"chains", json::array({chain})}};
    const std::string description = line.dump();
    lineFile_ = test::WriteBytes(folder_.path() + "line.json",
                                 std::vector<uint8_t>(description.begin(), description.end()));
  }
  test::RunResult Cli(const test::Lab& lab, const std::vector<std::string>& args,
                      uint32_t timeoutMs = 120000) {
    std::vector<std::string> argv{test::BuiltProgram("apps/quillmar-cli")};
    argv.insert(argv.end(), args.begin(), args.end());
    return lab.Exec("pc", argv, timeoutMs);
  }

  fixtures::TempFolder folder_;
  std::string lineFile_;
};

TEST_F(ConnectionsCli, PlcIoSwitchLeavesRegistersAndProgramAfterTheRestart) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, lineFile_);
  const uint32_t serial = kFirstSerial + 1;  // 192.168.202.21
  std::vector<uint8_t> program(1000, 0x5A);
  std::fill(program.begin() + 24, program.begin() + 44, 0);
  const std::string family = "BrevantrixUx";
  std::copy(family.begin(), family.end(), program.begin() + 24);
  const std::string path = test::WriteBytes(folder_.path() + "PLCDATA_Belt.bin", program);
  line.Write(serial, 316, std::vector<uint16_t>(16, 7), true);  // an old transparent block

  const auto run = Cli(lab, {"--yes", "connections", "192.168.202.21", "--mode", "plc-io",
                             "--outputs", "off", "--plc", path, "--lock"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_THAT(run.out, HasSubstr("Connections of 192.168.202.21: done"));
  EXPECT_GE(line.Counters(serial).restarts, 1u);
  // After the restart the module runs on what it saved.
  for (bool flash : {true, false}) {
    EXPECT_THAT(line.Read(serial, 18, 1, flash), ElementsAre(2)) << flash;
    EXPECT_THAT(line.Read(serial, 255, 2, flash), ElementsAre(0x5555, 0x5555)) << flash;
    EXPECT_EQ(line.Read(serial, 316, 16, flash), std::vector<uint16_t>(16, 0)) << flash;
  }
  const json files = line.Ok({{"cmd", "files"}, {"module", serial}})["files"];
  EXPECT_EQ(files["plcLength"], 1002);  // kept with its two check bytes
  EXPECT_EQ(files["plcLock"], 1);

  // The module is in PLC I/O mode now: leaving it without a mode is refused, nothing written.
  line.ResetCounters();
  const auto back = Cli(lab, {"--yes", "connections", "192.168.202.21", "--upstream", "1"});
  EXPECT_EQ(back.exitCode, 2);
  EXPECT_THAT(back.out + back.err,
              HasSubstr("Es ist nicht möglich von SPS I/O Modus in ZPA Modus zur wechseln."));
  EXPECT_EQ(line.Counters(serial).writeSingles + line.Counters(serial).writeMultiples, 0u);
}

TEST_F(ConnectionsCli, LinksAreWrittenAsDescriptorsAndShown) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, lineFile_);
  const uint32_t serial = kFirstSerial + 2;  // node 3, 192.168.202.22
  for (bool flash : {false, true}) line.Write(kFirstSerial + 1, 18, {6}, flash);  // mode 6
  // Both linked modules are read for their mode: the address choice names one that answers.
  const auto run = Cli(lab, {"connections", "3", "--net", "192.168.202.0", "--upstream", "2",
                             "--downstream", "192.168.202.24"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_THAT(line.Read(serial, 300, 16, true), ElementsAre(0xC0A8, 0xCA15, 1, 116, 243, 7, 1, 0,
                                                            0xC0A8, 0xCA18, 1, 196, 134, 15, 1, 0));
  EXPECT_EQ(line.Read(serial, 300, 16), line.Read(serial, 300, 16, true));
  const auto shown = Cli(lab, {"connections", "192.168.202.22", "--json"});
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  const json view = json::parse(shown.out);
  EXPECT_EQ(view["upstream"]["module"], "192.168.202.21");
  EXPECT_EQ(view["downstream"]["module"], "192.168.202.24");

  // A linked module that does not answer stops the change before anything is written: its
  // mode decides the descriptor's words.
  line.Kill(kFirstSerial + 4);  // 192.168.202.24
  line.ResetCounters();
  const auto lost = Cli(
      lab, {"connections", "3", "--net", "192.168.202.0", "--upstream", "2", "--downstream", "5"});
  EXPECT_EQ(lost.exitCode, 1) << lost.out << lost.err;
  EXPECT_THAT(lost.out + lost.err,
              HasSubstr("Connection to the module \"192.168.202.24\" is lost !"));
  EXPECT_EQ(line.Counters(serial).writeSingles + line.Counters(serial).writeMultiples, 0u);
  EXPECT_EQ(line.Read(serial, 308, 2, true), std::vector<uint16_t>({0xC0A8, 0xCA18}));
  EXPECT_EQ(view["outputsName"], "Unverändert");
}

TEST_F(ConnectionsCli, ApplyAllOverFiveModulesNamesTheDeadOne) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, lineFile_);
  line.Kill(kFirstSerial + 2);  // 192.168.202.22
  const auto run = Cli(lab, {"--yes", "connections", "1", "--net", "192.168.202.0", "--range",
                             "1-5", "--mode", "plc-io", "--json"});
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  const json out = json::parse(run.out);
  ASSERT_EQ(out["modules"].size(), 5u);
  for (const json& module : out["modules"]) {
    const bool dead = module["module"] == "192.168.202.22";
    EXPECT_EQ(module["result"], dead ? "failed" : "done") << module.dump();
  }
  EXPECT_THAT(run.err, HasSubstr("192.168.202.22: Connection to the module \"192.168.202.22\" "
                                 "is lost !"));
  EXPECT_THAT(run.err, ::testing::Not(HasSubstr("192.168.202.21:")));
  for (uint32_t serial : {kFirstSerial, kFirstSerial + 1, kFirstSerial + 3, kFirstSerial + 4}) {
    EXPECT_THAT(line.Read(serial, 18, 1, true), ElementsAre(2)) << serial;
    EXPECT_GE(line.Counters(serial).restarts, 1u) << serial;
  }
  EXPECT_THAT(line.Read(kFirstSerial + 5, 18, 1, true), ElementsAre(0));  // outside the range
}

TEST_F(ConnectionsCli, OptionsThatWouldTakeNoEffectAreRefusedBeforeAnythingIsWritten) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, lineFile_);
  // Nodes 1..3 are slaves: a range must never switch them to a mode nobody asked for.
  for (uint32_t serial = kFirstSerial; serial < kFirstSerial + 3; ++serial) {
    for (bool flash : {false, true}) line.Write(serial, 18, {1}, flash);
  }
  std::vector<uint8_t> program(300, 0x5A);
  std::fill(program.begin() + 24, program.begin() + 44, 0);
  const std::string family = "BrevantrixUx";
  std::copy(family.begin(), family.end(), program.begin() + 24);
  const std::string path = test::WriteBytes(folder_.path() + "PLCDATA_Refused.bin", program);
  const std::vector<std::vector<std::string>> cases = {
      {"1", "--range", "1-3", "--mode", "transparent"},
      {"1", "--range", "1-3", "--outputs", "off"},
      {"1", "--range", "1-3", "--mode", "plc-io", "--upstream", "2"},
      {"1", "--range", "1-3", "--mode", "plc-io", "--clear"},
      {"1", "--range", "1-3", "--mode", "plc-io", "--lock"},
      {"5", "--mode", "transparent"},
      {"5", "--transparent"},
      {"5", "--outputs", "off"},
      {"5", "--plc", path},
      {"5", "--lock"},
      {"5", "--mode", "hardware", "--lock"},
      {"5", "--mode", "slave", "--upstream", "4"},
      {"5", "--clear", "--downstream", "6"},
  };
  line.ResetCounters();
  for (const auto& options : cases) {
    std::vector<std::string> args = {"--yes", "connections", "--net", "192.168.202.0"};
    args.insert(args.end(), options.begin(), options.end());
    std::string what;
    for (const auto& option : options) what += option + " ";
    const auto run = Cli(lab, args);
    EXPECT_EQ(run.exitCode, 2) << what << run.out << run.err;
    EXPECT_THAT(run.err, HasSubstr("nothing was")) << what << run.err;
    EXPECT_THAT(run.out, ::testing::Not(HasSubstr(": done"))) << what << run.out;
  }
  for (uint32_t serial = kFirstSerial; serial < kFirstSerial + 6; ++serial) {
    const test::LinesimCounters counters = line.Counters(serial);
    EXPECT_EQ(counters.writeSingles + counters.writeMultiples, 0u) << serial;
    EXPECT_EQ(counters.restarts, 0u) << serial;
  }
  for (uint32_t serial = kFirstSerial; serial < kFirstSerial + 3; ++serial)
    EXPECT_THAT(line.Read(serial, 18, 1, true), ElementsAre(1)) << serial;
  EXPECT_EQ(line.Ok({{"cmd", "files"}, {"module", kFirstSerial + 4}})["files"]["lockRequests"], 0);
}

TEST_F(ConnectionsCli, APlcLockWithoutAnAnswerFailsTheSwitch) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, lineFile_);
  const uint32_t serial = kFirstSerial + 3;  // 192.168.202.23
  // The module's UDP-protocol answers (the lock answer among them) are lost; Modbus works.
  line.SetFault(serial, {{"drop", 1.0}, {"modbus", false}});
  const auto run =
      Cli(lab, {"--yes", "connections", "192.168.202.23", "--mode", "plc-io", "--lock"});
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  EXPECT_THAT(run.out, HasSubstr("Connections of 192.168.202.23: failed"));
  EXPECT_THAT(run.out + run.err,
              HasSubstr("The module \"192.168.202.23\" did not answer the PLC lock request !"));
  EXPECT_GE(line.Ok({{"cmd", "files"}, {"module", serial}})["files"]["lockRequests"], 1);
}

TEST_F(ConnectionsCli, ExtensionSetUpTwiceKeepsOneMasterEntry) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, lineFile_);
  const uint32_t master = kFirstSerial + 1;  // 192.168.202.21
  const uint32_t slave = kFirstSerial + 2;   // 192.168.202.22
  for (int round = 0; round < 2; ++round) {
    const auto run = Cli(lab, {"--yes", "extension", "192.168.202.22", "--master", "preceding"});
    ASSERT_EQ(run.exitCode, 0) << round << run.out << run.err;
  }
  const std::vector<uint16_t> table = line.Read(master, 332, 32, true);
  int entries = 0;
  for (int e = 0; e < 4; ++e) entries += table[e * 8] == 0xC0A8 && table[e * 8 + 1] == 0xCA16;
  EXPECT_EQ(entries, 1);
  EXPECT_THAT(std::vector<uint16_t>(table.begin(), table.begin() + 8),
              ElementsAre(0xC0A8, 0xCA16, 1, 196, 134, 8, 1, 0));
  EXPECT_THAT(line.Read(slave, 18, 1, true), ElementsAre(1));
  EXPECT_THAT(line.Read(slave, 114, 2, true), ElementsAre(0xC0A8, 0xCA15));
  EXPECT_THAT(line.Read(slave, 332, 8, true), ElementsAre(0xC0A8, 0xCA15, 276, 276, 1, 1, 1, 0));

  // The first module of the subnet has no preceding master; nothing is written.
  line.ResetCounters();
  const auto first = Cli(lab, {"--yes", "extension", "192.168.202.20", "--master", "preceding"});
  EXPECT_EQ(first.exitCode, 2);
  EXPECT_THAT(first.out + first.err, HasSubstr("Das Modul hat kein vorgelagertes Modul"));
  EXPECT_EQ(line.Counters(kFirstSerial).writeSingles + line.Counters(kFirstSerial).writeMultiples,
            0u);
}

}  // namespace
