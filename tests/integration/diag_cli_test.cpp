// quillmar-cli diaglog and history against linesim modules inside a lab: events injected on
// linesim's control socket come back decoded with their texts, log 1 is left out where the
// module keeps none, and the drive history lists the drives the line file gives.
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

constexpr uint32_t kPlain = 4100101;  // 192.168.202.20, keeps both logs and three drives
constexpr uint32_t kIo = 4100102;     // 192.168.202.21, family 0x0C: log 2 only, no drives
constexpr uint32_t kFull = 4100103;   // 192.168.202.22, a full history of 32 drives

json Drive(uint32_t serial, uint32_t lock, uint32_t operating) {
  return {{"serial", serial},
          {"date", 0x140612},
          {"lock", lock},
          {"operating", operating},
          {"cycles", 42}};
}

std::string WriteDrivesLine(const fixtures::TempFolder& folder) {
  json full = json::array();
  for (uint32_t i = 1; i <= 32; ++i) full.push_back(Drive(i, 1 + i % 2, 1000 + i));
  const json line = {{"network", "192.168.202.0"},
                     {"chains",
                      {{{{"serial", kPlain},
                         {"node", 1},
                         {"drives",
                          {Drive((0u << 10) | 7, 1, 100), Drive((1u << 10) | 8, 2, 200),
                           Drive((2u << 10) | 9, 1, 300)}}},
                        {{"serial", kIo}, {"node", 2}, {"family", 12}},
                        {{"serial", kFull}, {"node", 3}, {"drives", full}}}}}};
  const std::string path = folder.path() + "line.json";
  std::ofstream(path) << line.dump(2);
  return path;
}

json LogNamed(const json& result, const std::string& name) {
  for (const json& log : result["logs"]) {
    if (log["name"] == name) return log;
  }
  return nullptr;
}

TEST(DiagCli, InjectedEventsAppearInDiaglogWithTheirTexts) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  fixtures::TempFolder folder;
  test::Linesim line(lab, WriteDrivesLine(folder));
  line.Ok({{"cmd", "event"},
           {"module", kPlain},
           {"category", 1},
           {"code", 11},
           {"parameter", 230},
           {"ageMs", 61001}});
  line.Ok({{"cmd", "event"}, {"module", kPlain}, {"category", 5}, {"code", 1}, {"parameter", 5}});
  line.Ok({{"cmd", "event"},
           {"module", kIo},
           {"category", 6},
           {"code", 20},
           {"parameter", 1},
           {"ageMs", 90061001}});

  const test::RunResult plain =
      test::RunCliWithTmpdir(lab, folder.path(), {"diaglog", "192.168.202.20", "--json"});
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  const json result = json::parse(plain.out);
  EXPECT_EQ(result["ip"], "192.168.202.20");
  const json log1 = LogNamed(result, "Log 1");
  const json log2 = LogNamed(result, "Log 2");
  ASSERT_TRUE(log1.is_object()) << plain.out;
  ASSERT_TRUE(log2.is_object()) << plain.out;
  const json motor = log1["entries"][0];
  EXPECT_EQ(motor["category"], " MOTOR A");
  EXPECT_EQ(motor["code"], 11);
  EXPECT_EQ(motor["text"], "Unterspannung Occur");
  EXPECT_EQ(motor["value"], "230");
  EXPECT_GE(motor["time_ms"].get<uint32_t>(), 61001u);
  EXPECT_LT(motor["time_ms"].get<uint32_t>(), 61001u + 60000u);
  EXPECT_EQ(motor["time"].get<std::string>().substr(0, 6), "00:01:");
  EXPECT_EQ(log2["entries"][0]["text"], "SPS verbindet");
  EXPECT_EQ(log2["entries"][0]["value"], "-");

  const test::RunResult io =
      test::RunCliWithTmpdir(lab, folder.path(), {"diaglog", "192.168.202.21", "--json"});
  ASSERT_EQ(io.exitCode, 0) << io.err;
  const json ioResult = json::parse(io.out);
  EXPECT_TRUE(LogNamed(ioResult, "Log 1").is_null()) << "family 0x0C keeps no log 1";
  const json sensor = LogNamed(ioResult, "Log 2")["entries"][0];
  EXPECT_EQ(sensor["category"], "SENSORS");
  EXPECT_EQ(sensor["text"], "Left Sensor attached ");
  EXPECT_EQ(sensor["time"].get<std::string>().substr(0, 6), "1Tage,");

  const test::RunResult text =
      test::RunCliWithTmpdir(lab, folder.path(), {"diaglog", "192.168.202.20"});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_NE(text.out.find("Unterspannung Occur"), std::string::npos) << text.out;
}

TEST(DiagCli, HistoryListsTheDrivesTheLineFileGives) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  fixtures::TempFolder folder;
  test::Linesim line(lab, WriteDrivesLine(folder));

  const test::RunResult plain =
      test::RunCliWithTmpdir(lab, folder.path(), {"history", "192.168.202.20", "--json"});
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  const json drives = json::parse(plain.out)["drives"];
  ASSERT_EQ(drives.size(), 3u) << plain.out;
  const char* serials[] = {"SN: EU 20.06.18-7", "SN: JP 20.06.18-8", "SN: USA 20.06.18-9"};
  const char* operating[] = {"100", "200", "300"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(drives[i]["record"], i + 1);
    EXPECT_EQ(drives[i]["serial_text"], serials[i]);
    EXPECT_EQ(drives[i]["operating"], operating[i]);
    EXPECT_EQ(drives[i]["on_off_cycles"], "42");
  }
  EXPECT_NE(drives[0]["motor"], drives[1]["motor"]);

  const test::RunResult none =
      test::RunCliWithTmpdir(lab, folder.path(), {"history", "192.168.202.21", "--json"});
  ASSERT_EQ(none.exitCode, 0) << none.err;
  EXPECT_TRUE(json::parse(none.out)["drives"].empty());

  // 32 records do not fit one 2048-byte write: the answer is put together from its pieces.
  const test::RunResult full =
      test::RunCliWithTmpdir(lab, folder.path(), {"history", "192.168.202.22", "--json"});
  ASSERT_EQ(full.exitCode, 0) << full.err;
  const json fullDrives = json::parse(full.out)["drives"];
  ASSERT_EQ(fullDrives.size(), 32u);
  EXPECT_EQ(fullDrives[31]["serial_text"], "SN: EU 20.06.18-32");
  EXPECT_EQ(fullDrives[31]["operating"], "1032");

  const test::RunResult text =
      test::RunCliWithTmpdir(lab, folder.path(), {"history", "192.168.202.20"});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_NE(text.out.find("SN: USA 20.06.18-9"), std::string::npos) << text.out;
}

}  // namespace
