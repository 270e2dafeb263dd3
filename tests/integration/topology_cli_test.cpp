// quillmar-cli topology against linesim inside a lab: the demo line drawn as its line file
// cables it (rows, columns, parents, neighbours and orientations), the text drawing, and a
// line whose chain is broken by a module that answers no topology query.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/format.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/temp_log.h"
#include "sim/line.h"

namespace {

using nlohmann::json;
using ::testing::HasSubstr;

test::RunResult Cli(const test::Lab& lab, const std::string& logFolder,
                    const std::vector<std::string>& args) {
  std::vector<std::string> argv{"env", "TMPDIR=" + logFolder,
                                test::BuiltProgram("apps/quillmar-cli")};
  argv.insert(argv.end(), args.begin(), args.end());
  return lab.Exec("pc", argv, 60000);
}

json SerialOrNull(bool present, uint32_t serial) {
  return present ? json(serial) : json(nullptr);
}

TEST(TopologyCli, TheDemoLineIsDrawnAsItIsCabled) {
  QM_SKIP_WITHOUT_LAB();
  fixtures::TempFolder logs;
  test::Lab lab;
  const std::string demo = test::SourceFile("sim/lines/demo.json");
  test::Linesim line(lab, demo);
  const sim::LineSetup setup = sim::LoadLineFile(demo);
  ASSERT_EQ(setup.chains.size(), 2u);

  test::RunResult run = Cli(lab, logs.path(), {"--json", "topology"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const json out = json::parse(run.out);
  EXPECT_EQ(out["adapter"], lab.PcInterface(1));
  EXPECT_EQ(out["found"], 12);
  EXPECT_EQ(out["drawn"], 12);
  EXPECT_EQ(out["outcome"], "complete");
  const json& modules = out["modules"];
  ASSERT_EQ(modules.size(), setup.ModuleCount());
  // One row per chain, the modules in the line file's order from the PC's switch outwards.
  size_t k = 0;
  for (size_t chain = 0; chain < setup.chains.size(); ++chain) {
    const auto& modulesOfChain = setup.chains[chain];
    for (size_t position = 0; position < modulesOfChain.size(); ++position, ++k) {
      const sim::ModuleSetup& m = modulesOfChain[position];
      const json& drawn = modules[k];
      SCOPED_TRACE(m.serial);
      EXPECT_EQ(drawn["serial"], m.serial);
      EXPECT_EQ(drawn["ip"], base::Ipv4Text(m.address));
      EXPECT_EQ(drawn["row"], chain);
      EXPECT_EQ(drawn["column"], position + 1);
      EXPECT_EQ(drawn["linkedToPcSwitch"], position == 0);
      EXPECT_EQ(drawn["parent"],
                SerialOrNull(position > 0, position > 0 ? modulesOfChain[position - 1].serial : 0));
      EXPECT_EQ(drawn["left"], drawn["parent"]);
      const bool last = position + 1 == modulesOfChain.size();
      EXPECT_EQ(drawn["right"],
                SerialOrNull(!last, last ? 0 : modulesOfChain[position + 1].serial));
      EXPECT_EQ(drawn["direction"], m.direction == 0 ? "left-to-right" : "right-to-left");
      EXPECT_EQ(drawn["error"], nullptr);
    }
  }
  // The second chain is mounted the other way round.
  EXPECT_EQ(modules[6]["direction"], "right-to-left");
  EXPECT_EQ(modules[0]["direction"], "left-to-right");

  run = Cli(lab, logs.path(), {"topology"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("PL Conveyors Dialog - (12 Module sind dargestellt)\n"));
  EXPECT_THAT(run.out, HasSubstr("PC -- [-> 192.168.202.20 SN 3100101] [-> 192.168.202.21 SN "
                                 "3100102]"));
  EXPECT_THAT(run.out, HasSubstr("PC -- [<- 192.168.202.26 SN 3100201]"));
}

TEST(TopologyCli, AModuleWithoutTopologyAnswerEndsTheDrawnChain) {
  QM_SKIP_WITHOUT_LAB();
  fixtures::TempFolder logs;
  const json lineJson = {{"network", "192.168.202.0"},
                         {"mask", "255.255.255.0"},
                         {"gateway", "192.168.202.1"},
                         {"chains",
                          {{{{"serial", 801}, {"node", 1}},
                            {{"serial", 802}, {"node", 2}, {"faults", {{"noTopology", true}}}},
                            {{"serial", 803}, {"node", 3}}}}}};
  fixtures::TempFolder folder;
  const std::string path = folder.path() + "line.json";
  std::ofstream(path) << lineJson.dump(2);
  test::Lab lab;
  test::Linesim line(lab, path);

  const test::RunResult run = Cli(lab, logs.path(), {"topology", "--json"});
  // Found but not reached: never reported as the whole line.
  EXPECT_EQ(run.exitCode, 1) << run.err;
  const json out = json::parse(run.out);
  EXPECT_EQ(out["found"], 3);
  EXPECT_EQ(out["drawn"], 2);
  EXPECT_EQ(out["outcome"], "incomplete");
  ASSERT_EQ(out["modules"].size(), 2u);
  EXPECT_EQ(out["modules"][1]["serial"], 802);
  // No neighbours answer: the chain's end takes its direction from its discovery flags.
  EXPECT_EQ(out["modules"][1]["direction"], "left-to-right");
  EXPECT_THAT(run.err, HasSubstr("Es sind Fehler bei der Erfassung der Topologie der Knoten "
                                 "aufgetreten."));
}

TEST(TopologyCli, ModulesSharingAnAddressStopTheDrawing) {
  QM_SKIP_WITHOUT_LAB();
  fixtures::TempFolder logs;
  const json lineJson = {{"network", "192.168.202.0"},
                         {"mask", "255.255.255.0"},
                         {"gateway", "192.168.202.1"},
                         {"chains",
                          {{{{"serial", 901}, {"node", 1}},
                            {{"serial", 902}, {"node", 1}, {"faults", {{"sharesAddressOf", 901}}}},
                            {{"serial", 903}, {"node", 3}}}}}};
  fixtures::TempFolder folder;
  const std::string path = folder.path() + "line.json";
  std::ofstream(path) << lineJson.dump(2);
  test::Lab lab;
  test::Linesim line(lab, path);

  test::RunResult run = Cli(lab, logs.path(), {"--json", "topology"});
  EXPECT_EQ(run.exitCode, 1) << run.err;
  const json out = json::parse(run.out);
  EXPECT_EQ(out["found"], 3);
  EXPECT_EQ(out["drawn"], 0);
  EXPECT_EQ(out["modules"], json::array());
  ASSERT_TRUE(out.contains("duplicatedIps")) << run.out;
  EXPECT_EQ(out["duplicatedIps"], json({{{"serial", 901}, {"ip", "192.168.202.20"}},
                                        {{"serial", 902}, {"ip", "192.168.202.20"}}}));
  EXPECT_THAT(run.err,
              HasSubstr("Unable to use PL features since there is Duplicated IPs on the networks!"
                        "\r\n The following nodes (see mentioned SerNo) has duplicated IPs:\r\n"
                        "{ser.no: 901 - ip:\"192.168.202.20\"}, {ser.no: 902 - "
                        "ip:\"192.168.202.20\"}, "));
  run = Cli(lab, logs.path(), {"topology"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");  // nothing is drawn
}

}  // namespace
