// quillmar-cli stats and health against linesim modules inside a lab: a range file names the
// module that died with "Read Error!" and goes on past it, a counter reset clears exactly the
// counters it names, and health puts the module with injected faults first.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures/integration_helpers.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/temp_log.h"

namespace {

using nlohmann::json;

using test::demo_line::kNode1;        // 192.168.202.20
using test::demo_line::kNode2;        // 192.168.202.21
constexpr uint32_t kNode9 = 3100203;  // 192.168.202.28

// Statistics of a range read every module of it: more time than a plain command.
test::RunResult RunStatsCli(const test::Lab& lab, const std::string& logFolder,
                            const std::vector<std::string>& args) {
  return test::RunCliWithTmpdir(lab, logFolder, args, 120000);
}

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(StatsCli, RangeFileHasReadErrorForTheDeadModuleAndGoesOn) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  fixtures::TempFolder folder;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  line.Kill(kNode2);

  const std::string path = folder.path() + "range.txt";
  const test::RunResult run =
      RunStatsCli(lab, folder.path(), {"stats", "--range", "1-3", "-o", path, "--json"});
  EXPECT_EQ(run.exitCode, 1) << "a module that cannot be read is a failure: " << run.err;
  EXPECT_NE(run.err.find("192.168.202.21: Read Error!"), std::string::npos) << run.err;
  const json result = json::parse(run.out);
  ASSERT_EQ(result["modules"].size(), 3u) << run.out;
  EXPECT_EQ(result["modules"][0]["ip"], "192.168.202.20");
  EXPECT_EQ(result["modules"][1]["read"], false);
  EXPECT_EQ(result["modules"][2]["read"], true);

  const std::string text = ReadAll(path);
  ASSERT_EQ(text.rfind("Statistics Time: ", 0), 0u) << text;
  EXPECT_EQ(test::CountOccurrences(text, "\r\n\r\n\r\nRead Error!\r\n"), 1u) << text;
  const size_t first = text.find("IP Address: 192.168.202.20\r\n");
  const size_t error = text.find("Read Error!");
  const size_t third = text.find("IP Address: 192.168.202.22\r\n");
  ASSERT_NE(first, std::string::npos) << text;
  ASSERT_NE(third, std::string::npos) << text;
  EXPECT_LT(first, error);
  EXPECT_LT(error, third);
  EXPECT_EQ(text.find("IP Address: 192.168.202.21"), std::string::npos);
  // The live modules' figures came from their registers and service port.
  EXPECT_NE(text.find("Reset Counter after Voltage < 18V: 2\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find(" Bytes Free"), std::string::npos) << "the raw answer is not shown";
  EXPECT_EQ(test::CountOccurrences(text, "Free Memory, [Bytes]: ---"), 0u) << text;
  EXPECT_EQ(test::CountOccurrences(text, "Average: ---"), 0u) << text;
}

TEST(StatsCli, ResetClearsOnlyTheCountersItNames) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  fixtures::TempFolder folder;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  line.Write(kNode1, 286, {5, 6});
  line.Write(kNode1, 265, {4});

  const test::RunResult others =
      RunStatsCli(lab, folder.path(), {"stats", "192.168.202.20", "--reset", "others"});
  ASSERT_EQ(others.exitCode, 0) << others.err;
  EXPECT_EQ(line.Read(kNode1, 23), std::vector<uint16_t>{2}) << "undervoltage counter kept";
  EXPECT_EQ(line.Read(kNode1, 265), std::vector<uint16_t>{0});
  EXPECT_EQ(line.Read(kNode1, 286, 2), (std::vector<uint16_t>{0, 0}));
  EXPECT_EQ(line.Read(kNode1, 286, 2, true), (std::vector<uint16_t>{0, 0})) << "saved to flash";

  const test::RunResult under =
      RunStatsCli(lab, folder.path(), {"stats", "1", "--reset", "undervoltage", "--json"});
  ASSERT_EQ(under.exitCode, 0) << under.err;
  EXPECT_EQ(line.Read(kNode1, 23), std::vector<uint16_t>{0});

  const test::RunResult shown = RunStatsCli(lab, folder.path(), {"stats", "1", "--json"});
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  const json result = json::parse(shown.out);
  EXPECT_EQ(result["undervoltage_resets"], 0);
  EXPECT_EQ(result["reconnects"], 0);
  EXPECT_TRUE(result["cpu_load"].is_object()) << shown.out;

  const test::RunResult refused =
      RunStatsCli(lab, folder.path(), {"stats", "1", "--reset", "everything"});
  EXPECT_EQ(refused.exitCode, 2) << refused.err;
}

TEST(StatsCli, HealthAllNamesTheModuleWithInjectedFaultsFirst) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  fixtures::TempFolder folder;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  for (int k = 0; k < 6; ++k) {
    line.Ok({{"cmd", "event"},
             {"module", kNode9},
             {"category", 1},
             {"code", 11},
             {"parameter", 230},
             {"ageMs", 1000 * k}});
  }
  // An event from two days ago is no recent trouble.
  line.Ok({{"cmd", "event"},
           {"module", kNode1},
           {"category", 1},
           {"code", 11},
           {"parameter", 230},
           {"ageMs", 2 * 86400000}});

  const test::RunResult run = RunStatsCli(lab, folder.path(), {"health", "--all", "--json"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const json modules = json::parse(run.out)["modules"];
  ASSERT_EQ(modules.size(), 12u) << run.out;
  EXPECT_EQ(modules[0]["ip"], "192.168.202.28") << run.out;
  for (const json& m : modules) EXPECT_TRUE(m["answered"].get<bool>()) << m.dump();
  EXPECT_GT(modules[0]["score"].get<int>(), modules[1]["score"].get<int>());
  for (size_t k = 1; k < modules.size(); ++k) {
    EXPECT_GE(modules[k - 1]["score"].get<int>(), modules[k]["score"].get<int>()) << run.out;
  }

  line.Kill(kNode2);
  const test::RunResult text = RunStatsCli(lab, folder.path(), {"health", "1", "2", "9"});
  EXPECT_EQ(text.exitCode, 1) << text.err;
  const size_t dead = text.out.find("192.168.202.21");
  const size_t faulty = text.out.find("192.168.202.28");
  const size_t plain = text.out.find("192.168.202.20");
  ASSERT_NE(dead, std::string::npos) << text.out;
  EXPECT_NE(text.out.find("no answer"), std::string::npos) << text.out;
  EXPECT_LT(dead, faulty);
  EXPECT_LT(faulty, plain);
}

}  // namespace
