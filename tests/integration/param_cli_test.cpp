// quillmar-cli param against linesim modules inside a lab: the node screen's fields of a
// module, values written and saved as the screen writes them, and refused values that write
// nothing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"

namespace {

using nlohmann::json;
using ::testing::HasSubstr;

constexpr uint32_t kFamily9Module = 3100101;   // node 1, speed in m/s
constexpr uint32_t kReversedModule = 3100104;  // node 4, family 0x03, mounted reversed

test::RunResult Param(const test::Lab& lab, const std::vector<std::string>& args) {
  std::vector<std::string> argv{test::BuiltProgram("apps/quillmar-cli")};
  argv.insert(argv.end(), args.begin(), args.end());
  return lab.Exec("pc", argv, 60000);
}

// The output line of one field ("speed.left   Geschwindigkeit:   0.800 m/s"), or "".
std::string LineOf(const std::string& out, const std::string& key) {
  size_t start = 0;
  while (start < out.size()) {
    const size_t end = out.find('\n', start);
    const std::string line = out.substr(start, end - start);
    if (line.rfind(key + " ", 0) == 0) return line;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return std::string();
}

TEST(ParamCli, PrintsTheFieldsTheNodeScreenShows) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  line.Write(kFamily9Module, 40, {800});
  line.Write(kFamily9Module, 64, {1234});

  const test::RunResult run = Param(lab, {"param", "1", "--net", "192.168.202.0"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string speedLeft = LineOf(run.out, "speed.left");
  EXPECT_THAT(speedLeft, HasSubstr("Geschwindigkeit:")) << run.out;
  EXPECT_THAT(speedLeft, HasSubstr("0.800 m/s"));
  EXPECT_THAT(LineOf(run.out, "speed.right"), HasSubstr("1.234 m/s"));
  EXPECT_THAT(LineOf(run.out, "serial"), HasSubstr("Seriennummer:"));
  EXPECT_THAT(LineOf(run.out, "serial"), HasSubstr("3100101"));
  EXPECT_THAT(LineOf(run.out, "firmware"), HasSubstr("4.14.2"));
  EXPECT_THAT(LineOf(run.out, "zpa.upstream"), HasSubstr("ZPA Modus:"));
  EXPECT_EQ(LineOf(run.out, "induct.upstream"), "");  // a type-3 field, not shown here

  const test::RunResult asJson = Param(lab, {"--json", "param", "192.168.202.20"});
  ASSERT_EQ(asJson.exitCode, 0) << asJson.err;
  const json out = json::parse(asJson.out);
  EXPECT_EQ(out.at("ip"), "192.168.202.20");
  bool found = false;
  for (const json& field : out.at("fields")) {
    if (field.at("key") != "speed.left") continue;
    found = true;
    EXPECT_EQ(field.at("label"), "Geschwindigkeit:");
    EXPECT_EQ(field.at("side"), "left");
    EXPECT_EQ(field.at("unit"), "m/s");
    EXPECT_EQ(field.at("value"), "0.800");
  }
  EXPECT_TRUE(found) << asJson.out;
}

TEST(ParamCli, WritesAndSavesAsTheScreenDoes) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  line.ResetCounters();

  test::RunResult run = Param(lab, {"param", "1", "--net", "192.168.202.0", "speed.left=0.75"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(line.Read(kFamily9Module, 40).at(0), 750);
  EXPECT_EQ(line.Read(kFamily9Module, 40, 1, true).at(0), 750);  // in flash
  test::LinesimCounters counters = line.Counters(kFamily9Module);
  EXPECT_EQ(counters.saves, 1u);
  EXPECT_EQ(counters.lastSaveFirst, 40);
  EXPECT_EQ(counters.lastSaveCount, 1);

  // A drive type writes its registers and saves the group and the code.
  run = Param(lab, {"param", "1", "--net", "192.168.202.0", "drivetype.right=Oskarn ECO",
                    "brake.right=Servo Bremse 1"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(line.Read(kFamily9Module, 65, 2, true), (std::vector<uint16_t>{2800, 483}));
  EXPECT_EQ(line.Read(kFamily9Module, 83, 1, true).at(0), 3000);
  EXPECT_EQ(line.Read(kFamily9Module, 71, 1, true).at(0), 2);
  EXPECT_EQ(line.Counters(kFamily9Module).saves, 4u);  // the group 65+19, 492 and 71

  // On a module mounted reversed its left drive is register 64.
  const uint16_t before = line.Read(kReversedModule, 40).at(0);
  run = Param(lab, {"param", "192.168.202.23", "speed.left=42"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(line.Read(kReversedModule, 64).at(0), 420);
  EXPECT_EQ(line.Read(kReversedModule, 40).at(0), before);
}

TEST(ParamCli, ARefusedValueWritesNothing) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  const uint16_t before = line.Read(kFamily9Module, 40).at(0);
  line.ResetCounters();

  // The second value is refused, so the first one is not written either.
  test::RunResult run =
      Param(lab, {"param", "1", "--net", "192.168.202.0", "accel.left=200", "speed.left=0.0149"});
  EXPECT_EQ(run.exitCode, 1) << run.out;
  EXPECT_THAT(run.err,
              HasSubstr("Ungültige Geschwindigkeit. Es sind nur Werte von 0.015 bis 6.20 m/s "
                        "gültig."));
  run = Param(lab, {"param", "1", "--net", "192.168.202.0", "gap.upstream=66"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.err, HasSubstr("Ungültige Zeiteinstellung. Es sind nur Werte von 0 bis 65 "
                                 "Sekunen gültig."));
  run = Param(lab, {"param", "1", "--net", "192.168.202.0", "speed.middle=1"});
  EXPECT_EQ(run.exitCode, 2);

  const test::LinesimCounters counters = line.Counters(kFamily9Module);
  EXPECT_EQ(counters.writeSingles, 0u);
  EXPECT_EQ(counters.writeMultiples, 0u);
  EXPECT_EQ(counters.saves, 0u);
  EXPECT_EQ(line.Read(kFamily9Module, 40).at(0), before);
}

}  // namespace
