// quillmar-cli diag against linesim modules inside a lab: motor faults and stop reasons written
// on linesim's control socket come back with the diagnostic screen's texts; the emergency stop
// hides the reason codes and leaves a Warning line; --watch follows changes until SIGINT; a dead
// module is reported; a module of 363 registers shows what it has.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
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

constexpr uint32_t kFirst = 5100101;   // 192.168.202.20
constexpr uint32_t kSecond = 5100102;  // 192.168.202.21
constexpr uint32_t kOld = 5100103;     // 192.168.202.22, firmware 3.10: 363 registers

std::string WriteLine(const fixtures::TempFolder& folder) {
  const json line = {{"network", "192.168.202.0"},
                     {"chains",
                      {{{{"serial", kFirst}, {"node", 1}},
                        {{"serial", kSecond}, {"node", 2}},
                        {{"serial", kOld}, {"node", 3}, {"firmware", "3.10"}}}}}};
  const std::string path = folder.path() + "line.json";
  std::ofstream(path) << line.dump(2);
  return path;
}

std::vector<std::string> CliArgv(const std::string& logFolder,
                                 const std::vector<std::string>& args) {
  std::vector<std::string> argv{"env", "TMPDIR=" + logFolder,
                                test::BuiltProgram("apps/quillmar-cli")};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

// Everything the event logs in `folder` hold.
std::string LogText(const std::string& folder) {
  std::string text;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.path().filename().string().rfind("Quillmar_", 0) == 0) {
      text += fixtures::ReadFile(entry.path().string());
    }
  }
  return text;
}

class DiagScreenCli : public ::testing::Test {
 protected:
  void SetUp() override {
    QM_SKIP_WITHOUT_LAB();
    lab_ = std::make_unique<test::Lab>();
    line_ = std::make_unique<test::Linesim>(*lab_, WriteLine(folder_));
  }
  json Diag(const std::string& target, int expectedExit = 0) {
    const test::RunResult run =
        lab_->Exec("pc", CliArgv(logs_.path(), {"diag", target, "--json"}), 60000);
    EXPECT_EQ(run.exitCode, expectedExit) << run.err;
    return json::parse(run.out);
  }
  json Zone(const json& content, const char* name) {
    for (const json& zone : content["zones"]) {
      if (zone["zone"] == name) return zone;
    }
    return nullptr;
  }

  fixtures::TempFolder folder_;
  fixtures::TempFolder logs_;
  std::unique_ptr<test::Lab> lab_;
  std::unique_ptr<test::Linesim> line_;
};

TEST_F(DiagScreenCli, MotorFaultsAndStopReasonsShowTheirTexts) {
  line_->Write(kFirst, 58, {0x0A00});  // left motor: not connected and overcurrent
  line_->Write(kFirst, 104, {0});      // lane full not from the PLC
  line_->Write(kFirst, 373, {7});
  line_->Write(kFirst, 383, {5});
  line_->Write(kFirst, 19, {0});
  const json content = Diag("1");
  EXPECT_EQ(content["ip"], "192.168.202.20");
  EXPECT_TRUE(content["reachable"].get<bool>());
  EXPECT_EQ(content["title"], "Diagnostik         Angezeigte Moduladresse: 192.168.202.20");
  EXPECT_EQ(Zone(content, "upstream")["reason"], "Quillmar oder Lane Full Signal");
  EXPECT_EQ(Zone(content, "downstream")["reason"], "Motor Fehler in nachfolgender Zone");
  const json left = content["motors"][0];
  EXPECT_EQ(left["faults"], json({"Motorverbindungsfehler", "Überstrom"}));
  EXPECT_TRUE(left["missing"].get<bool>());
  EXPECT_EQ(left["marker"], "overcurrent");
  EXPECT_TRUE(content["motors"][1]["faults"].empty());

  // The emergency stop hides both codes, and says so in the event log.
  line_->Write(kFirst, 19, {3});
  const json stopped = Diag("192.168.202.20");
  EXPECT_EQ(Zone(stopped, "upstream")["reason"], "Marrowhalt");
  EXPECT_EQ(Zone(stopped, "downstream")["reason"], "Marrowhalt");
  const std::string log = LogText(logs_.path());
  EXPECT_NE(log.find("Warning"), std::string::npos) << log;
  EXPECT_NE(log.find("Marrowhalt (Register 19 = 0x0003), Code 7"), std::string::npos) << log;
  line_->Write(kFirst, 19, {0});
}

TEST_F(DiagScreenCli, WatchFollowsChangesUntilInterrupted) {
  line_->Write(kSecond, 373, {3});
  test::BackgroundProcess watch =
      lab_->Start("pc", CliArgv(logs_.path(), {"diag", "2", "--watch", "--json"}));
  ASSERT_TRUE(watch.WaitForOutput("Behälter zwischen Zonen", 30000)) << watch.Stderr();
  line_->Write(kSecond, 373, {8});
  ASSERT_TRUE(watch.WaitForOutput("Sensor ausgesteckt", 30000)) << watch.Stderr();
  watch.Signal(SIGINT);
  const std::optional<int> code = watch.Wait(10000);
  ASSERT_TRUE(code.has_value()) << "diag --watch did not end on SIGINT";
  EXPECT_EQ(*code, 128 + SIGINT);
  // Every line written is one whole refresh.
  std::istringstream lines(watch.Stdout());
  std::string text;
  int refreshes = 0;
  while (std::getline(lines, text)) {
    const json content = json::parse(text);
    EXPECT_EQ(content["ip"], "192.168.202.21");
    ++refreshes;
  }
  EXPECT_GE(refreshes, 2);
  // It ended by itself on the signal, not by the wind-down limit.
  const std::string log = LogText(logs_.path());
  EXPECT_NE(log.find("ended by signal 2"), std::string::npos) << log;
  EXPECT_EQ(log.find("before the command finished"), std::string::npos) << log;
}

TEST_F(DiagScreenCli, WatchShowsALostModuleAndItsReturn) {
  test::BackgroundProcess watch =
      lab_->Start("pc", CliArgv(logs_.path(), {"diag", "1", "--watch", "--json"}));
  ASSERT_TRUE(watch.WaitForOutput("\"reachable\":true", 30000)) << watch.Stderr();
  line_->Kill(kFirst);
  ASSERT_TRUE(watch.WaitForOutput("\"reachable\":false", 30000)) << watch.Stdout();
  line_->Revive(kFirst);
  const size_t before = test::CountOccurrences(watch.Stdout(), "\"reachable\":true");
  EXPECT_TRUE(test::Linesim::WaitUntil(
      [&] { return test::CountOccurrences(watch.Stdout(), "\"reachable\":true") > before; }, 30000))
      << watch.Stdout();
  watch.Signal(SIGINT);
  const std::optional<int> code = watch.Wait(10000);
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 128 + SIGINT);
}

TEST_F(DiagScreenCli, DeadModuleIsReportedUnreachable) {
  line_->Kill(kSecond);
  const test::RunResult run = lab_->Exec("pc", CliArgv(logs_.path(), {"diag", "2"}), 60000);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.out.find("Es kann keine Verbindung zu Modul mit IP: \"192.168.202.21 aufgebaut "
                         "werden"),
            std::string::npos)
      << run.out;
}

TEST_F(DiagScreenCli, ARefusedBlockLeavesItsFieldsUnknownAndShowsTheRest) {
  // Firmware 3.10 has registers 1..363: the module refuses the block of the reason codes
  // (370..383) and the drive block 488..509 with exception 2.
  const test::RunResult probe =
      lab_->Exec("pc", CliArgv(logs_.path(), {"read", "3", "370", "14"}), 60000);
  if (probe.exitCode == 0) GTEST_SKIP() << "this linesim answers registers beyond the count";
  line_->Write(kOld, 58, {0x0A00});
  line_->Write(kOld, 104, {0});
  line_->Write(kOld, 108, {0x0001});
  line_->Write(kOld, 19, {0});
  const json content = Diag("3");
  ASSERT_TRUE(content["reachable"].get<bool>()) << content.dump();
  EXPECT_FALSE(content.contains("error"));
  const json upstream = Zone(content, "upstream");
  EXPECT_EQ(upstream["reason"], nullptr);
  EXPECT_EQ(upstream["errors"], "Sensor Blockade\n\r");
  EXPECT_EQ(upstream["sensor_connected"], true);
  EXPECT_EQ(content["motors"][0]["faults"], json({"Motorverbindungsfehler", "Überstrom"}));

  const test::RunResult run = lab_->Exec("pc", CliArgv(logs_.path(), {"diag", "3"}), 60000);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("  Grund:    ---\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("Es kann keine Verbindung"), std::string::npos) << run.out;
}

}  // namespace
