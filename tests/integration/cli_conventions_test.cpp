// quillmar-cli's conventions against linesim modules inside a lab: every number a user types is
// decimal and bounded, refused input touches no module, a failed multi-step command reports
// what it did before the failure (text and JSON, checked against the registers), every change
// and failure is a line of the event log, and the adapter chooser follows the target.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
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
using ::testing::HasSubstr;

using test::demo_line::kNode1;         // 192.168.202.20, family 0x09, firmware 4.14.2
using test::demo_line::kNode2;         // 192.168.202.21
constexpr uint32_t kNode8 = 3100202;   // 192.168.202.27
constexpr uint32_t kNode10 = 3100204;  // 192.168.202.29
using test::kNet;
constexpr const char* kNodeMessage =
    "Falsche Module Nummer. Nur Nummern von 1 bis 236 sind gültig.";

// Every level line of every log file in the folder, in file (time) order.
std::string LogOf(const std::string& folder) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  std::string log;
  for (const auto& file : files) log += fixtures::ReadFile(file);
  return log;
}

size_t CountLines(const std::string& log, const std::string& level, const std::string& text) {
  size_t count = 0;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(start, end - start);
    if (line.find("\t" + level + "\t") != std::string::npos &&
        line.find(text) != std::string::npos) {
      ++count;
    }
    start = end + 1;
  }
  return count;
}

TEST(CliConventions, RefusedNumbersAndTargetsTouchNoModule) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  fixtures::TempFolder logs;
  line.ResetCounters();

  struct Case {
    std::vector<std::string> args;
    std::string message;  // part of stderr
  };
  const std::string node = kNodeMessage;
  const Case cases[] = {
      // Node numbers: 2^32 + 1 is not node 1, and out of range everywhere gets the screen's text.
      {{"read", "4294967297", "40"}, node},
      {{"write", "4294967297", "300=1"}, node},
      {{"param", "4294967297", "gap.upstream=1.5"}, node},
      {{"image", "4294967297"}, node},
      {{"diaglog", "4294967297"}, node},
      {{"history", "237"}, node},
      {{"history", "192.168.202.256"}, "is not an IPv4 address"},
      {{"diaglog", "1", "--net", "192.168.202"}, "the network"},
      {{"diag", "237", "--watch"}, node},
      {{"diag", "4294967297"}, node},
      {{"param", "237"}, node},
      {{"write", "0", "300=1"}, node},
      {{"read", "000", "40"}, node},
      // Signs, blanks, exponents, hex, empty and non-ASCII digits are no node numbers.
      {{"read", "-1", "40"}, "neither a node number"},
      {{"read", "+1", "40"}, "neither a node number"},
      {{"read", " 1", "40"}, "neither a node number"},
      {{"read", "1e3", "40"}, "neither a node number"},
      {{"read", "0x1", "40"}, "neither a node number"},
      {{"write", "", "300=1"}, "neither a node number"},
      {{"write", "\xEF\xBC\x91", "300=1"}, "\\xEF\\xBC\\x91"},  // FULLWIDTH DIGIT ONE
      // Registers, counts and values.
      {{"write", "1", "0x12C=1"}, "the register must be a decimal number"},
      {{"write", "1", "4294967597=1"}, "the register must be a decimal number"},  // 2^32 + 301
      {{"write", "1", "300=-1"}, "the value must be a decimal number"},
      {{"write", "1", "300= 1"}, "the value must be a decimal number"},
      {{"write", "1", "300=1e3"}, "the value must be a decimal number"},
      {{"write", "1", "300=65536"}, "does not fit a 16-bit register"},
      {{"write", "1", "300=0x10000"}, "does not fit a 16-bit register"},
      {{"write", "1", "300=4294967297"}, "does not fit a 16-bit register"},
      {{"write", "1", "300=1", "301="}, "the value must be a decimal number"},
      {{"read", "1", "40", "0x2"}, "COUNT must be"},
      {{"read", "1", "40", "1e3"}, "COUNT must be"},
      {{"read", "1", "40", "-1"}, "COUNT must be"},
      {{"read", "1", "40", "1020"}, "COUNT must be"},
      {{"read", "1", "65535", "2"}, "COUNT must be"},
      {{"read", "1", "040x"}, "FIRST must be"},
      // Addresses and networks: four decimal parts 0..255, nothing wraps.
      {{"read", "192.168.202.256", "40"}, "is not an IPv4 address"},
      {{"read", "192.168.202.4294967316", "40"}, "is not an IPv4 address"},
      {{"read", "192.168.202.0x14", "40"}, "is not an IPv4 address"},
      {{"read", "192.168.202", "40"}, "is not an IPv4 address"},
      {{"read", "1", "40", "--net", "192.168.202.0x0"}, "the network"},
      {{"param", "1", "--net", "192.168.202"}, "the network"},
      // Statistics and health: refused before any module is asked.
      {{"stats", "237"}, node},
      {{"stats", "1", "--reset", "all"}, "neither undervoltage nor others"},
      {{"stats", "--range", "3-1"}, "--range \"3-1\""},
      {{"stats", "--range", "0-3"}, "--range \"0-3\""},
      {{"stats", "--range", "1-3", "2"}, "--range takes no TARGET"},
      {{"health", "1", "237"}, node},
      {{"health", "1", "--all"}, "either TARGETS or --all"},
      // Serial numbers.
      {{"write", "sn:0", "300=1"}, "a serial number is sn:"},
      {{"write", "sn:4294967296", "300=1"}, "a serial number is sn:"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    if (std::find(args.begin(), args.end(), "--net") == args.end()) {
      args.push_back("--net");
      args.push_back(kNet);
    }
    const test::RunResult run = test::RunCliWithTmpdir(lab, logs.path(), args);
    std::string shown;
    for (const std::string& a : c.args) shown += "[" + a + "] ";
    EXPECT_EQ(run.exitCode, 2) << shown << run.err;
    EXPECT_THAT(run.err, HasSubstr(c.message)) << shown;
  }
  for (const test::LinesimModule& module : line.List()) {
    const test::LinesimCounters counters = line.Counters(module.serial);
    EXPECT_EQ(counters.connections, 0u) << module.serial;
    EXPECT_EQ(counters.writeSingles + counters.writeMultiples + counters.saves, 0u)
        << module.serial;
  }
  // Each refusal is a failure of the session: one ERROR line per run.
  const std::string log = LogOf(logs.path());
  EXPECT_EQ(CountLines(log, "ERROR", "quillmar-cli "), std::size(cases)) << log;
}

TEST(CliConventions, NumbersAreDecimalInEveryCommand) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  fixtures::TempFolder logs;
  const uint16_t node8Before = line.Read(kNode8, 300).at(0);
  const uint16_t reg128Before = line.Read(kNode1, 128).at(0);

  // "010" is node 10 (192.168.202.29), not node 8.
  test::RunResult run =
      test::RunCliWithTmpdir(lab, logs.path(), {"write", "010", "300=123", "--net", kNet});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(line.Read(kNode10, 300).at(0), 123);
  EXPECT_EQ(line.Read(kNode8, 300).at(0), node8Before);

  // Register "0200" is 200 and value "010" is 10 (not register 128, not 8).
  run = test::RunCliWithTmpdir(lab, logs.path(), {"write", "1", "0200=010", "--net", kNet});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(line.Read(kNode1, 200).at(0), 10);
  EXPECT_EQ(line.Read(kNode1, 128).at(0), reg128Before);

  // Count "010" reads ten registers; --json after the command as before it.
  run =
      test::RunCliWithTmpdir(lab, logs.path(), {"read", "1", "1", "010", "--net", kNet, "--json"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(json::parse(run.out).at("values").size(), 10u);

  // param takes the same target: "010" is node 10; a decimal comma is the decimal point.
  run = test::RunCliWithTmpdir(lab, logs.path(), {"param", "010", "--net", kNet, "--json"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(json::parse(run.out).at("ip"), "192.168.202.29");
  run = test::RunCliWithTmpdir(lab, logs.path(), {"param", "1", "--net", kNet, "speed.left=0,5"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(line.Read(kNode1, 40, 1, true).at(0), 500);

  // A serial number finds its module by discovery.
  run = test::RunCliWithTmpdir(lab, logs.path(), {"--json", "read", "sn:3100102", "25"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(json::parse(run.out).at("ip"), "192.168.202.21");

  // Each write and save is an Info line of the log.
  const std::string log = LogOf(logs.path());
  EXPECT_EQ(CountLines(log, "Info", "module 192.168.202.29: WriteRegister(300, 123) done"), 1u)
      << log;
  EXPECT_EQ(CountLines(log, "Info", "module 192.168.202.20: WriteRegister(200, 10) done"), 1u);
  EXPECT_EQ(CountLines(log, "Info", "speed.left=0,5: save 40=500 done"), 1u) << log;
}

TEST(CliConventions, AFailedWriteReportsWhatWasWrittenBeforeIt) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  fixtures::TempFolder logs;
  line.Write(kNode1, 200, {0, 0});

  // Register 600 does not exist: 200 is written, and the JSON says so.
  test::RunResult run = test::RunCliWithTmpdir(
      lab, logs.path(), {"--json", "write", "1", "200=7", "600=1", "--net", kNet});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_EQ(line.Read(kNode1, 200).at(0), 7);
  const json out = json::parse(run.out);
  EXPECT_EQ(out.at("ok"), false);
  ASSERT_EQ(out.at("written").size(), 1u);
  EXPECT_EQ(out["written"][0].at("register"), 200);
  EXPECT_EQ(out["written"][0].at("value"), 7);
  EXPECT_EQ(out.at("failed").at("step"), "write");
  EXPECT_EQ(out["failed"].at("register"), 600);
  EXPECT_THAT(out["failed"].at("reason").get<std::string>(),
              HasSubstr("the module has no such register (exception 2)"));
  EXPECT_EQ(out["failed"].at("notWritten"), json::array({{{"register", 600}, {"value", 1}}}));

  // The same in text, with --save: 201 is written and saved, the refused write is named (not
  // the save), and what was not written is listed.
  run = test::RunCliWithTmpdir(lab, logs.path(),
                               {"write", "1", "201=8", "600=1", "202=9", "--save", "--net", kNet});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "201 = 8 (0x0008) saved\n");
  EXPECT_THAT(run.err, HasSubstr("WriteRegister(600, 1) Error! 600=1: the module has no such "
                                 "register (exception 2)"));
  EXPECT_THAT(run.err, HasSubstr("not written: 600=1, 202=9"));
  EXPECT_EQ(line.Read(kNode1, 201, 1, true).at(0), 8);
  EXPECT_EQ(line.Read(kNode1, 202).at(0), 0);

  // A module that does not answer: the write may have been applied, and the user is told so
  // with the cause in words.
  line.SetFault(kNode2, {{"drop", 1.0}, {"modbus", true}, {"discovery", false}});
  run = test::RunCliWithTmpdir(lab, logs.path(), {"write", "2", "200=5", "--net", kNet});
  EXPECT_NE(run.exitCode, 0);
  EXPECT_THAT(run.err, HasSubstr("timed out"));
  line.ClearFaults(kNode2);

  const std::string log = LogOf(logs.path());
  EXPECT_EQ(CountLines(log, "Info", "module 192.168.202.20: WriteRegister(200, 7) done"), 1u)
      << log;
  EXPECT_EQ(CountLines(log, "Info", "module 192.168.202.20: WriteRegister(201, 8) done"), 1u);
  EXPECT_EQ(CountLines(log, "Info", "module 192.168.202.20: SaveToFlashGroup(201, 1) done"), 1u);
  EXPECT_EQ(CountLines(log, "ERROR", "WriteRegister(600, 1) Error!"), 2u) << log;
  EXPECT_GE(CountLines(log, "ERROR", "quillmar-cli write: "), 3u) << log;
}

TEST(CliConventions, AParamThatFailsHalfwayReportsTheFieldsDone) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  fixtures::TempFolder logs;
  line.ResetCounters();
  // Slow answers leave time to stop the module between the first field's save and the second
  // field's write.
  line.SetFault(kNode1, {{"delayMs", 150}, {"modbus", true}, {"discovery", false}});
  test::BackgroundProcess run = lab.Start(
      "pc", {"env", "TMPDIR=" + logs.path(), test::BuiltProgram("apps/quillmar-cli"), "--json",
             "param", "1", "--net", kNet, "speed.left=0.5", "gap.upstream=1.5"});
  // The second field's write has reached the module: stop it before it answers.
  ASSERT_TRUE(
      test::Linesim::WaitUntil([&] { return line.Counters(kNode1).writeSingles >= 2; }, 90000));
  line.Kill(kNode1);
  const std::optional<int> exitCode = run.Wait(90000);
  ASSERT_TRUE(exitCode.has_value());
  EXPECT_EQ(*exitCode, 1) << run.Stderr();

  EXPECT_EQ(line.Read(kNode1, 40, 1, true).at(0), 500);  // the first field is in flash
  EXPECT_EQ(line.Read(kNode1, 103).at(0), 1500);  // the unanswered write did reach the module
  const json out = json::parse(run.Stdout());
  EXPECT_EQ(out.at("ok"), false);
  ASSERT_EQ(out.at("written").size(), 1u);
  EXPECT_EQ(out["written"][0].at("field"), "speed.left");
  EXPECT_EQ(out["written"][0].at("steps"), json::array({"save 40=500"}));
  EXPECT_EQ(out.at("failed").at("field"), "gap.upstream");
  EXPECT_EQ(out["failed"].at("step"), "save 103=1500");
  EXPECT_THAT(out["failed"].at("reason").get<std::string>(), HasSubstr("may have been written"));
  EXPECT_THAT(out["failed"].at("reason").get<std::string>(), HasSubstr("timed out, error 10060"));
  EXPECT_THAT(run.Stderr(), HasSubstr("gap.upstream=1.5: module 192.168.202.20: step \"save "
                                      "103=1500\" failed"));

  const std::string log = LogOf(logs.path());
  EXPECT_EQ(CountLines(log, "Info", "speed.left=0.5: save 40=500 done"), 1u) << log;
  EXPECT_EQ(CountLines(log, "ERROR", "step \"save 103=1500\" failed"), 1u) << log;
}

// The chooser takes the adapter whose network holds the target; --yes never cancels it.
TEST(CliConventions, TheAdapterThatHoldsTheTargetIsChosen) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab(2);
  test::Linesim first(lab, test::SourceFile("sim/lines/demo.json"), 1);
  fixtures::TempFolder logs;
  fixtures::TempFolder files;
  const std::string secondLine = files.path() + "second.json";
  {
    std::ofstream(secondLine) << json{{"network", "192.168.203.0"},
                                      {"mask", "255.255.255.0"},
                                      {"gateway", "192.168.203.1"},
                                      {"chains", {{{{"serial", 901}, {"node", 1}}}}}}
                                     .dump();
  }
  test::Linesim second(lab, secondLine, 2);

  // Only adapter 1 holds 192.168.202.x: chosen without asking, also without --yes.
  test::RunResult run =
      test::RunCliWithTmpdir(lab, logs.path(), {"read", "1", "25", "--net", kNet});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr(lab.PcInterface(1) + " holds the target"));
  run = test::RunCliWithTmpdir(lab, logs.path(), {"write", "192.168.203.20", "300=4", "--yes"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(second.Read(901, 300).at(0), 4);

  // No target: --yes cannot choose, and says so with the chooser's status.
  run = test::RunCliWithTmpdir(lab, logs.path(), {"discover", "--fast", "--yes"});
  EXPECT_EQ(run.exitCode, 3) << run.out << run.err;
  EXPECT_THAT(run.err, HasSubstr("--yes chooses by the target"));
  EXPECT_THAT(run.err, ::testing::Not(HasSubstr("-> Abbruch")));
}

TEST(CliConventions, DiscoverMarksSharedAddressesAndShowsFirmwareAsTheScreens) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  fixtures::TempFolder logs;
  line.SetFault(kNode2, {{"sharesAddressOf", kNode1}});

  test::RunResult run = test::RunCliWithTmpdir(lab, logs.path(), {"discover", "--json"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const json out = json::parse(run.out);
  int marked = 0;
  for (const json& node : out.at("adapters").at(0).at("nodes")) {
    if (node.at("serial") == kNode1) {
      EXPECT_EQ(node.at("firmware"), "4.14");
      EXPECT_EQ(node.at("revision"), "104.14");  // as reported
      EXPECT_EQ(node.at("sharesAddressWith"), json::array({kNode2}));
    }
    if (node.at("duplicateAddress") == true) {
      ++marked;
      EXPECT_EQ(node.at("ip"), "192.168.202.20");
    }
  }
  EXPECT_EQ(marked, 2) << run.out;

  run = test::RunCliWithTmpdir(lab, logs.path(), {"discover"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("DUPLICATE ADDRESS, also SN 3100102"));
  EXPECT_THAT(run.out, HasSubstr("4.14    "));
  EXPECT_EQ(CountLines(LogOf(logs.path()), "Warning",
                       "several modules answer on the address 192.168.202.20"),
            2u);
}

// A closed output and SIGHUP end the run like SIGINT: the exit banner is written.
TEST(CliConventions, ClosedOutputAndHangupEndWithTheBanner) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  fixtures::TempFolder logs;
  const std::string banner = "<<<< Exit Quillmar at ";

  // The reader is gone before the table is written (as with `| head -3` on a longer output):
  // the writes fail, and the run still ends with its banner and says so.
  const test::RunResult piped =
      lab.Exec("pc", {"bash", "-c",
                      "env TMPDIR=" + logs.path() + " " + test::BuiltProgram("apps/quillmar-cli") +
                          " discover 2>&1 | true; echo ${PIPESTATUS[0]}"});
  EXPECT_EQ(piped.out, "141\n") << piped.err;
  std::string log = LogOf(logs.path());
  EXPECT_NE(log.find(banner), std::string::npos) << log;
  EXPECT_EQ(CountLines(log, "Warning", "the output was closed"), 1u) << log;

  line.SetFault(kNode1, {{"delayMs", 300}, {"modbus", true}, {"discovery", false}});
  test::BackgroundProcess slow =
      lab.Start("pc", {"env", "TMPDIR=" + logs.path(), test::BuiltProgram("apps/quillmar-cli"),
                       "param", "1", "--net", kNet});
  ASSERT_TRUE(test::Linesim::WaitUntil([&] { return line.Counters(kNode1).reads >= 2; }, 30000));
  slow.Signal(SIGHUP);
  const std::optional<int> exitCode = slow.Wait(30000);
  ASSERT_TRUE(exitCode.has_value());
  EXPECT_EQ(*exitCode, 128 + SIGHUP);
  log = LogOf(logs.path());
  size_t banners = 0;
  for (size_t at = log.find(banner); at != std::string::npos; at = log.find(banner, at + 1)) {
    ++banners;
  }
  EXPECT_EQ(banners, 2u) << log;
  EXPECT_EQ(CountLines(log, "Warning", "quillmar-cli: ended by signal 1"), 1u) << log;
}

}  // namespace
