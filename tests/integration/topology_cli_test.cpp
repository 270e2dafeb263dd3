// quillmar-cli topology against linesim inside a lab: the demo line drawn as its line file
// cables it (rows, columns, parents, neighbours and orientations), the text drawing, and a
// line whose chain is broken by a module that answers no topology query.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/format.h"
#include "fixtures/integration_helpers.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/temp_log.h"
#include "sim/line.h"

namespace {

using nlohmann::json;
using ::testing::HasSubstr;

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

  test::RunResult run = test::RunCliWithTmpdir(lab, logs.path(), {"--json", "topology"});
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

  run = test::RunCliWithTmpdir(lab, logs.path(), {"topology"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("PL Conveyors Dialog - (12 Module sind dargestellt)\n"));
  EXPECT_THAT(run.out, HasSubstr("PC -- [-> 192.168.202.20 SN 3100101] [-> 192.168.202.21 SN "
                                 "3100102]"));
  EXPECT_THAT(run.out, HasSubstr("PC -- [<- 192.168.202.26 SN 3100201]"));
}

// The command runs the window's procedure with its checks: half of the first chain keeps
// addresses from an earlier numbering, and those modules are reported with the address the
// line's numbering expects of them; a module with another configuration id than the rest of
// its row is the one marked, also at the head of the row.
TEST(TopologyCli, AHalfNumberedChainIsReportedWithTheExpectedAddresses) {
  QM_SKIP_WITHOUT_LAB();
  fixtures::TempFolder logs;
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  line.SetNetwork(3100104, "192.168.202.60");
  line.SetNetwork(3100105, "192.168.202.61");
  line.SetNetwork(3100106, "192.168.202.62");
  for (uint32_t serial = 3100201; serial <= 3100206; ++serial) {
    const uint16_t last = serial == 3100201 ? 0x9999 : 0x4444;
    line.Write(serial, 1, {0x1111, 0x2222, 0x3333, last});
  }

  const test::RunResult run = test::RunCliWithTmpdir(lab, logs.path(), {"--json", "topology"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const json out = json::parse(run.out);
  ASSERT_EQ(out["drawn"], 12);
  std::map<uint32_t, json> errors;
  for (const json& m : out["modules"]) errors[m["serial"].get<uint32_t>()] = m["error"];
  const std::string expected =
      "Dieses Subnetz ist nicht richtig konfiguriert. (es wird ein Modul mit IP "
      "\"192.168.202.%d\" erwartet) !?!";
  for (uint32_t serial = 3100101; serial <= 3100103; ++serial) {
    EXPECT_EQ(errors[serial], nullptr) << serial;
  }
  EXPECT_EQ(errors[3100104], base::Format(expected.c_str(), 23));
  EXPECT_EQ(errors[3100105], base::Format(expected.c_str(), 24));
  EXPECT_EQ(errors[3100106], base::Format(expected.c_str(), 25));
  EXPECT_EQ(errors[3100201], "Konfiguration passt nicht.");
  for (uint32_t serial = 3100202; serial <= 3100206; ++serial) {
    EXPECT_EQ(errors[serial], nullptr) << serial;
  }

  const test::RunResult text = test::RunCliWithTmpdir(lab, logs.path(), {"topology"});
  EXPECT_THAT(text.out, HasSubstr("Achtung - 4 mögliches Problem gefunden (Module mit roter LED "
                                  "prüfen)"));
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

  const test::RunResult run = test::RunCliWithTmpdir(lab, logs.path(), {"topology", "--json"});
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

  test::RunResult run = test::RunCliWithTmpdir(lab, logs.path(), {"--json", "topology"});
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
  run = test::RunCliWithTmpdir(lab, logs.path(), {"topology"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");  // nothing is drawn
}

}  // namespace
