// linesim's diagnostics: the drive history and statistics answers of the service port and the
// diagnostic logs with injected events, each checked with the tool's own readers of them.
#include <gtest/gtest.h>

#include <string>

#include "diag/diagnostic_log.h"
#include "diag/drive_history.h"
#include "diag/statistics.h"
#include "sim/line.h"
#include "sim/module.h"
#include "sim/service_port.h"
#include "sim/simulator.h"

namespace sim {
namespace {

using nlohmann::json;

json Drive(uint32_t serial, uint32_t lock) {
  return {{"serial", serial},  {"date", 0x0A0B0C},  {"lock", lock},
          {"operating", 1234}, {"currentLimit", 5}, {"overheat", 6},
          {"cycles", 777},     {"overVoltage", 8},  {"underVoltage", 9}};
}

ModuleSetup SetupWithDrives(const json& drives, uint8_t family = 0x00) {
  json module = {{"serial", 101}, {"node", 1}, {"family", family}};
  if (!drives.is_null()) module["drives"] = drives;
  return ParseLine(json{{"chains", {{module}}}}).chains[0][0];
}

TEST(SimDiagnostics, DriveHistoryListsTheLineFilesDrivesInTheToolsFormat) {
  struct Case {
    size_t drives;
  };
  for (const Case c : {Case{0}, Case{1}, Case{3}, Case{32}}) {
    json drives = json::array();
    for (size_t i = 0; i < c.drives; ++i)
      drives.push_back(Drive(static_cast<uint32_t>((2u << 10) | (i + 1)), i % 2 ? 2 : 1));
    SimModule module(SetupWithDrives(drives));
    const std::string answer = ServicePortAnswer(module, '7');
    ASSERT_FALSE(answer.empty()) << "every command is answered";
    const auto rows = diag::HistoryRows(diag::ParseHistory(answer));
    ASSERT_EQ(rows.size(), c.drives);
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].record, static_cast<int>(i + 1));
      EXPECT_EQ(rows[i].columns[1], "SN: USA 10.11.12-" + std::to_string(i + 1));
      EXPECT_EQ(rows[i].columns[2], i % 2 ? diag::kRightMotorText : diag::kLeftMotorText);
      EXPECT_EQ(rows[i].columns[3], "1234");
      EXPECT_EQ(rows[i].columns[6], "777");
      EXPECT_EQ(rows[i].columns[8], "9");
    }
  }
}

TEST(SimDiagnostics, LineFileRefusesDrivesTheModuleCannotKeep) {
  json tooMany = json::array();
  for (int i = 0; i < 33; ++i) tooMany.push_back(Drive(static_cast<uint32_t>(i + 1), 1));
  const json cases[] = {tooMany, json::array({json{{"date", 5}}}),
                        json::array({json{{"serial", 1}, {"colour", 2}}}), json{{"serial", 1}}};
  for (const json& drives : cases) {
    EXPECT_THROW(SetupWithDrives(drives), LineError) << drives.dump();
  }
}

TEST(SimDiagnostics, StatisticsAnswersAreReadByTheToolsParsers) {
  SimModule module(SetupWithDrives(nullptr));
  const auto counters = diag::ParseFlashSaveCounters(ServicePortAnswer(module, 'b'));
  EXPECT_EQ(counters.numSavedL, 0u);
  EXPECT_EQ(counters.numSavedH, 0u);
  EXPECT_EQ(counters.validCrcL, 1u);
  EXPECT_EQ(counters.validCrcH, 1u);
  const auto load = diag::ParseCpuLoad(ServicePortAnswer(module, 'l'));
  ASSERT_TRUE(load);
  EXPECT_EQ(load->samples, 10);
  EXPECT_LE(load->minimum, load->maximum);
  EXPECT_EQ(diag::ParseFreeMemory(ServicePortAnswer(module, 'm')),
            std::to_string(20000 + 101 % 4096));
  EXPECT_EQ(diag::ParseFirmwareRevision(ServicePortAnswer(module, 'r')), "Firmware V4.12.0\r\n");
  for (char command : {'t', 'g', 'i', 'f'}) {
    const std::string answer = ServicePortAnswer(module, static_cast<uint8_t>(command));
    EXPECT_EQ(answer.substr(0, 2), "\r\n") << command;
    EXPECT_FALSE(diag::ParseListAnswer(answer).empty()) << command;
  }
  EXPECT_TRUE(ServicePortAnswer(module, 'x').empty());
}

class LogEvents : public ::testing::Test {
 protected:
  LogEvents()
      : simulator_(ParseLine(json::parse(R"({"chains": [[{"serial": 101, "node": 1},
            {"serial": 102, "node": 2, "family": 12}]]})")),
                   SimulatorOptions{}) {
    for (size_t i = 0; i < simulator_.ModuleCount(); ++i)
      simulator_.Module(i).SetClock([this] { return now_; });
  }
  std::vector<diag::LogRow> Rows(size_t module, int log) {
    const auto words = simulator_.Module(module).LogWords(log);
    return diag::DecodeLog(words);
  }
  json Event(uint32_t serial, json fields) {
    fields["cmd"] = "event";
    fields["module"] = serial;
    // Through the text of a control line, as requests arrive on the socket.
    return simulator_.HandleControl(json::parse(fields.dump()));
  }

  uint32_t now_ = 5000000;
  Simulator simulator_;
};

TEST_F(LogEvents, AnInjectedEventIsTheNewestEntryOfItsLogAndAgesWithTheClock) {
  const size_t before = Rows(0, 1).size();
  const json answer = Event(101, {{"category", 1}, {"code", 11}, {"parameter", 230}});
  ASSERT_TRUE(answer["ok"]) << answer.dump();
  EXPECT_EQ(answer["log"], 1);
  now_ += 61001;
  const auto rows = Rows(0, 1);
  ASSERT_EQ(rows.size(), before + 1);
  EXPECT_EQ(rows[0], (diag::LogRow{"00:01:01.001", " MOTOR A", "Unterspannung Occur", "230"}));

  ASSERT_TRUE(
      Event(101, {{"category", 5}, {"code", 1}, {"parameter", 5}, {"ageMs", 90061001}})["ok"]);
  EXPECT_EQ(Rows(0, 2)[0], (diag::LogRow{"1Tage, 01:01:01.001", "MODBUS", "SPS verbindet", "-"}));
}

TEST_F(LogEvents, EventsGoToTheLogTheModuleKeepsAndRefusalsChangeNothing) {
  // Family 0x0C keeps no log 1: its drive events go to log 2, and log 1 is refused.
  const json toLog2 = Event(102, {{"category", 2}, {"code", 9}});
  ASSERT_TRUE(toLog2["ok"]) << toLog2.dump();
  EXPECT_EQ(toLog2["log"], 2);
  EXPECT_EQ(Rows(1, 2)[0].description, "Kurzschluss Occur");
  const auto log2 = simulator_.Module(1).LogWords(2);
  const json refusals[] = {{{"category", 2}, {"code", 9}, {"log", 1}},
                           {{"category", 0}, {"code", 0}},
                           {{"category", 256}, {"code", 1}},
                           {{"category", 1}, {"code", 1}, {"log", 3}},
                           {{"code", 1}}};
  for (const json& fields : refusals) {
    EXPECT_FALSE(Event(102, fields)["ok"]) << fields.dump();
  }
  EXPECT_EQ(simulator_.Module(1).LogWords(2), log2);
}

TEST_F(LogEvents, ALogKeeps150EntriesAndLosesTheOldest) {
  for (int i = 0; i < 200; ++i)
    ASSERT_TRUE(Event(101, {{"category", 4}, {"code", 1 + i % 9}, {"parameter", i}})["ok"]);
  const auto rows = Rows(0, 2);
  ASSERT_EQ(rows.size(), 150u);
  EXPECT_EQ(rows[0].value, "199");
  EXPECT_EQ(rows[149].value, "50");
}

}  // namespace
}  // namespace sim
