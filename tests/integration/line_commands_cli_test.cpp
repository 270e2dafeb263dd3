// quillmar-cli's commands on the line against linesim inside a lab: set-ip moves a module to a
// new address (and refuses a broadcast address before sending), topology --save / --compare
// report a swapped pair and a turned module after a change made through `linesim ctl`, and the
// node commands keep the window's checks and ask before they act.
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
#include "topology/node_command.h"
#include "topology/set_address.h"

namespace {

using nlohmann::json;
using ::testing::HasSubstr;

// A line command draws the line again after it: more time than a plain command.
test::RunResult RunLineCommandCli(const test::Lab& lab, const std::string& logFolder,
                                  const std::vector<std::string>& args) {
  return test::RunCliWithTmpdir(lab, logFolder, args, 90000);
}

test::RunResult Ctl(const test::Linesim& line, const std::vector<std::string>& args) {
  std::vector<std::string> argv{test::BuiltProgram("sim/linesim"), "ctl", line.ControlPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return test::RunProgram(argv);
}

TEST(LineCommandsCli, SetIpMovesTheModuleToItsNewAddress) {
  QM_SKIP_WITHOUT_LAB();
  fixtures::TempFolder logs;
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));

  // A broadcast address is refused before anything is sent.
  test::RunResult run =
      RunLineCommandCli(lab, logs.path(), {"set-ip", "3100106", "--ip", "10.0.0.255"});
  EXPECT_EQ(run.exitCode, 2) << run.err;
  EXPECT_THAT(run.err, HasSubstr("--ip"));
  EXPECT_EQ(line.Module(3100106).address, "192.168.202.25");

  run = RunLineCommandCli(lab, logs.path(),
                          {"--json", "set-ip", "3100106", "--ip", "192.168.202.60"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const json report = json::parse(run.out);
  EXPECT_EQ(report["result"], "ok");
  EXPECT_EQ(report["ip"], "192.168.202.60");
  EXPECT_EQ(report["mask"], "255.255.255.0");
  EXPECT_EQ(line.Module(3100106).address, "192.168.202.60");
  // The module's own registers 26/27 carry the address too (read through the register client).
  run = RunLineCommandCli(lab, logs.path(), {"--json", "read", "192.168.202.60", "26", "2"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr(std::to_string((192 << 8) | 168)));
  EXPECT_THAT(run.out, HasSubstr(std::to_string((202 << 8) | 60)));

  // A module takes another module's address as well: the conflict is the line's, and the next
  // drawing of the line stops on it and names both modules.
  run = RunLineCommandCli(lab, logs.path(), {"set-ip", "192.168.202.60", "--ip", "192.168.202.20"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(line.Module(3100106).address, "192.168.202.20");
  run = RunLineCommandCli(lab, logs.path(), {"--json", "topology"});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  const json drawing = json::parse(run.out);
  ASSERT_TRUE(drawing.contains("duplicatedIps")) << run.out;
  EXPECT_THAT(drawing["duplicatedIps"].dump(), HasSubstr("3100106"));
}

TEST(LineCommandsCli, CompareReportsASwappedPairAndATurnedModule) {
  QM_SKIP_WITHOUT_LAB();
  fixtures::TempFolder logs;
  fixtures::TempFolder folder;
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  const std::string record = folder.path() + "as-built.json";

  test::RunResult run = RunLineCommandCli(lab, logs.path(), {"topology", "--save", record});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::ifstream in(record);
  const json saved = json::parse(in);
  EXPECT_EQ(saved["drawn"], 12);
  run = RunLineCommandCli(lab, logs.path(), {"topology", "--compare", record});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("No module changed"));

  ASSERT_EQ(Ctl(line, {"swap", "3100102", "3100103"}).exitCode, 0);
  ASSERT_EQ(Ctl(line, {"turn", "3100205"}).exitCode, 0);
  run = RunLineCommandCli(lab, logs.path(), {"--json", "topology", "--compare", record});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  const json out = json::parse(run.out);
  EXPECT_EQ(out["changed"], true);
  std::map<uint32_t, json> changes;
  for (const json& m : out["modules"]) changes[m["serial"].get<uint32_t>()] = m["changes"];
  EXPECT_EQ(changes, (std::map<uint32_t, json>{{3100102, json::array({"moved"})},
                                               {3100103, json::array({"moved"})},
                                               {3100205, json::array({"turned"})}}));

  run = RunLineCommandCli(lab, logs.path(), {"topology", "--compare", record});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.out, HasSubstr("SN 3100205 (192.168.202.30): turned (right-to-left -> "
                                 "left-to-right)"));
  EXPECT_THAT(run.out, HasSubstr("SN 3100102 (192.168.202.21): moved (row 0, column 2 -> row 0, "
                                 "column 3)"));

  // A file that is no record is refused before any module is asked.
  std::ofstream(folder.path() + "other.json") << "{\"modules\": 3}";
  run =
      RunLineCommandCli(lab, logs.path(), {"topology", "--compare", folder.path() + "other.json"});
  EXPECT_EQ(run.exitCode, 2);
}

TEST(LineCommandsCli, NodeCommandsCheckAndAskFirst) {
  QM_SKIP_WITHOUT_LAB();
  fixtures::TempFolder logs;
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  line.Write(3100106, 1, {1, 2, 3, 4}, true);

  // A module in the middle of a line cannot start an AutoConfig alone.
  test::RunResult run = RunLineCommandCli(lab, logs.path(), {"--yes", "autoconfig", "3100103"});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_THAT(run.err, HasSubstr(topology::kTextNotAtLineEnd));
  // Nor one on the PC's switch while another chain hangs there too.
  run = RunLineCommandCli(lab, logs.path(), {"--yes", "autoconfig", "3100101"});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_THAT(run.err, HasSubstr("Die folgenden Knoten 1 müssen vom PC-Switch getrennt werden"));
  EXPECT_THAT(run.err, HasSubstr("- Knoten \"192.168.202.26\" with SerNr: 3100201"));
  EXPECT_EQ(line.Read(3100101, 1, 4, true), std::vector<uint16_t>(4, 0));

  // Off a terminal the question is declined without --yes: nothing is sent.
  run = RunLineCommandCli(lab, logs.path(), {"factory-reset", "3100106"});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_THAT(run.err, HasSubstr("Achtung, alle Einstellungen des ausgewählten Moduls"));
  EXPECT_THAT(run.err, HasSubstr("--yes"));
  EXPECT_EQ(line.Read(3100106, 1, 4, true), (std::vector<uint16_t>{1, 2, 3, 4}));

  // With --yes: acknowledged, the modules' time waited, the line drawn again.
  run = RunLineCommandCli(lab, logs.path(), {"--json", "--yes", "factory-reset", "3100106"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const json report = json::parse(run.out);
  EXPECT_EQ(report["sent"], true);
  EXPECT_EQ(report["line"]["drawn"], 12);
  EXPECT_EQ(line.Read(3100106, 1, 4, true), std::vector<uint16_t>(4, 0));
}

TEST(LineCommandsCli, SetIpThenAutoConfigRenumbersTheChainFromTheNewAddress) {
  QM_SKIP_WITHOUT_LAB();
  fixtures::TempFolder logs;
  fixtures::TempFolder folder;
  const json lineJson = {{"network", "192.168.202.0"},
                         {"mask", "255.255.255.0"},
                         {"gateway", "192.168.202.1"},
                         {"chains",
                          {{{{"serial", 701}, {"node", 1}},
                            {{"serial", 702}, {"node", 2}},
                            {{"serial", 703}, {"node", 3}}}}}};
  const std::string path = folder.path() + "line.json";
  std::ofstream(path) << lineJson.dump(2);
  test::Lab lab;
  test::Linesim line(lab, path);

  const test::RunResult run = RunLineCommandCli(
      lab, logs.path(),
      {"--json", "--yes", "set-ip", "701", "--ip", "192.168.202.40", "--autoconfig"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr(topology::kTextProductSearch));
  const json report = json::parse(run.out);
  EXPECT_EQ(report["result"], "ok");
  EXPECT_EQ(report["autoconfig"]["sent"], true);
  // The redraw after the wait: the chain numbered from the new address, no module in error.
  const json& drawn = report["autoconfig"]["line"];
  ASSERT_EQ(drawn["drawn"], 3) << drawn.dump();
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(drawn["modules"][i]["serial"], 701 + i);
    EXPECT_EQ(drawn["modules"][i]["ip"], "192.168.202." + std::to_string(40 + i));
    EXPECT_EQ(drawn["modules"][i]["error"], nullptr);
  }
  // The modules' registers through the register client at their new addresses: one
  // configuration id, and each module's upstream link to the one before it; saved to flash.
  auto readRegisters = [&](int node, int first, int count) {
    const test::RunResult read =
        RunLineCommandCli(lab, logs.path(),
                          {"--json", "read", "192.168.202." + std::to_string(40 + node),
                           std::to_string(first), std::to_string(count)});
    EXPECT_EQ(read.exitCode, 0) << read.err;
    const json values = json::parse(read.out, nullptr, false);
    return values.is_object() ? values["values"].get<std::vector<uint16_t>>()
                              : std::vector<uint16_t>();
  };
  const auto id = readRegisters(0, 1, 4);
  ASSERT_EQ(id.size(), 4u);
  EXPECT_NE(id, std::vector<uint16_t>(4, 0));
  for (int node = 1; node < 3; ++node) {
    SCOPED_TRACE(node);
    EXPECT_EQ(readRegisters(node, 1, 4), id);
    EXPECT_EQ(readRegisters(node, 300, 2),
              (std::vector<uint16_t>{(192 << 8) | 168,
                                     static_cast<uint16_t>((202 << 8) | (40 + node - 1))}));
    EXPECT_EQ(line.Read(static_cast<uint32_t>(701 + node), 1, 4, true), id);
  }
}

// AutoConfig over a range of the second chain (its modules mounted right to left), once away
// from the PC's switch and once towards it: the line is numbered from the first module's
// address up to the last module, and the modules outside the range keep their addresses.
TEST(LineCommandsCli, RangeAutoConfigOnTheSecondChainNumbersExactlyTheRange) {
  QM_SKIP_WITHOUT_LAB();
  fixtures::TempFolder logs;
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  const std::vector<uint32_t> chain = {3100201, 3100202, 3100203, 3100204, 3100205, 3100206};
  auto addresses = [&] {
    std::vector<std::string> out;
    for (uint32_t serial : chain) out.push_back(line.Module(serial).address);
    return out;
  };
  struct Case {
    const char* name;
    uint32_t first, last;
    std::string start;                   // the first module's address before the AutoConfig
    std::vector<std::string> addresses;  // of the chain afterwards
  };
  const Case cases[] = {
      {"away from the switch",
       3100203,
       3100205,
       "192.168.202.70",
       {"192.168.202.26", "192.168.202.27", "192.168.202.70", "192.168.202.71", "192.168.202.72",
        "192.168.202.31"}},
      {"towards the switch",
       3100205,
       3100203,
       "192.168.202.80",
       {"192.168.202.26", "192.168.202.27", "192.168.202.82", "192.168.202.81", "192.168.202.80",
        "192.168.202.31"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    line.SetNetwork(c.first, c.start);
    const test::RunResult run = RunLineCommandCli(
        lab, logs.path(),
        {"--json", "--yes", "autoconfig", std::to_string(c.first), std::to_string(c.last)});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(addresses(), c.addresses);
  }
}

}  // namespace
