// quillmar-cli watch against the demo line in a lab, with its as-built record and backup: a
// module taken down for three rounds and brought back gives "gone" and "back" with its outage;
// a module replaced by a factory-fresh one gives "replaced", and nothing is written to it (or
// any other module) without --yes off a terminal; with --yes the backup record of the old
// module is restored onto the new one (address, registers, flash, PLC program) and the next
// round finds the line as recorded. SIGINT ends the watch with 130.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures/integration_helpers.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/program_bytes.h"
#include "fixtures/temp_log.h"

namespace {

using nlohmann::json;
using ::testing::HasSubstr;

constexpr uint32_t kLast = 3100106;      // end of chain 0: down and up
constexpr uint32_t kReplaced = 3100103;  // node 3, 192.168.202.22, family 0x00
constexpr uint32_t kSpare = 3100903;     // the factory-fresh module put in its place
constexpr char kReplacedIp[] = "192.168.202.22";
constexpr char kSpareIp[] = "192.168.202.90";
constexpr uint32_t kEventWaitMs = 60000;

// The JSON lines the watch printed so far.
std::vector<json> EventLines(const std::string& out) {
  std::vector<json> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    const json parsed = json::parse(line, nullptr, false);
    if (!parsed.is_discarded()) lines.push_back(parsed);
  }
  return lines;
}

std::optional<json> FindEvent(const std::string& out, const std::string& event, uint32_t serial) {
  for (const json& line : EventLines(out)) {
    if (line.value("event", "") == event && line["serial"].is_number() &&
        line["serial"].get<uint32_t>() == serial)
      return line;
  }
  return std::nullopt;
}

// Waits for the watch's event (polling its output; no fixed sleep).
json AwaitEvent(test::BackgroundProcess& watch, const std::string& event, uint32_t serial) {
  std::optional<json> found;
  test::Linesim::WaitUntil(
      [&] {
        found = FindEvent(watch.Stdout(), event, serial);
        return found.has_value() || !watch.Running();
      },
      kEventWaitMs);
  if (!found) {
    ADD_FAILURE() << "no \"" << event << "\" for SN " << serial << "; output:\n"
                  << watch.Stdout() << watch.Stderr();
    return json();
  }
  return *found;
}

uint64_t Writes(const test::LinesimCounters& counters) {
  return counters.writeSingles + counters.writeMultiples + counters.saves + counters.formats;
}

class WatchCli : public ::testing::Test {
 protected:
  test::RunResult Cli(const test::Lab& lab, const std::vector<std::string>& args,
                      uint32_t timeoutMs = 120000) {
    std::vector<std::string> argv{test::BuiltProgram("apps/quillmar-cli")};
    argv.insert(argv.end(), args.begin(), args.end());
    return lab.Exec("pc", argv, timeoutMs);
  }
  test::BackgroundProcess StartWatch(const test::Lab& lab, std::vector<std::string> extra) {
    std::vector<std::string> argv{test::BuiltProgram("apps/quillmar-cli"),
                                  "watch",
                                  "--json",
                                  "--record",
                                  Path("record.json"),
                                  "--backup",
                                  Path("line.backup"),
                                  "--interval",
                                  "1",
                                  "--events",
                                  Path("events.jsonl")};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return lab.Start("pc", argv);
  }
  std::string Path(const std::string& name) const { return folder_.path() + name; }
  fixtures::TempFolder folder_;
};

TEST_F(WatchCli, OutageReplacementAndRestoreOnTheDemoLine) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));

  // The module to be replaced carries commissioned settings and a PLC program of its own.
  const std::vector<uint16_t> settings = {977, 1234, 7};
  line.Write(kReplaced, 40, settings);
  line.Write(kReplaced, 40, settings, true);
  line.Write(kReplaced, 310, {42});
  line.Write(kReplaced, 310, {42}, true);
  std::vector<uint8_t> program(600);
  for (size_t i = 0; i < program.size(); ++i) program[i] = static_cast<uint8_t>(i * 7 + 3);
  std::ofstream(Path("program.bin"), std::ios::binary)
      .write(reinterpret_cast<const char*>(program.data()),
             static_cast<std::streamsize>(program.size()));
  const auto put = Cli(lab, {"tftp", "put", kReplacedIp, Path("program.bin"), "PlcData_.bin"});
  ASSERT_EQ(put.exitCode, 0) << put.err;
  const std::string plcHash =
      line.Ok({{"cmd", "files"}, {"module", kReplaced}})["files"]["plcHash"].get<std::string>();

  const auto save = Cli(lab, {"topology", "--save", Path("record.json")});
  ASSERT_EQ(save.exitCode, 0) << save.out << save.err;
  const auto backup = Cli(lab, {"backup", "--all", "-o", Path("line.backup")});
  ASSERT_EQ(backup.exitCode, 0) << backup.out << backup.err;

  // A record that cannot be read ends the watch at once with 1.
  std::ofstream(Path("broken.json")) << "{\"modules\": [{\"serial\": 1}]}";
  const auto broken = Cli(lab, {"watch", "--record", Path("broken.json"), "--interval", "1"});
  EXPECT_EQ(broken.exitCode, 1) << broken.err;
  const auto noBackup = Cli(lab, {"watch", "--record", Path("record.json"), "--backup",
                                  Path("missing.backup"), "--interval", "1"});
  EXPECT_EQ(noBackup.exitCode, 1) << noBackup.err;

  line.ResetCounters();
  {
    // Off a terminal and without --yes: reported, never restored.
    test::BackgroundProcess watch = StartWatch(lab, {});
    line.Kill(kLast);
    const json gone = AwaitEvent(watch, "gone", kLast);
    EXPECT_EQ(gone["ip"], "192.168.202.25");
    EXPECT_EQ(gone["position"]["row"], 0);
    EXPECT_EQ(gone["position"]["column"], 6);
    line.Revive(kLast);
    const json back = AwaitEvent(watch, "back", kLast);
    ASSERT_TRUE(back.contains("outage_ms")) << back.dump();
    // Three rounds of one second without an answer at least.
    EXPECT_GE(back["outage_ms"].get<int64_t>(), 2000) << back.dump();

    line.Ok({{"cmd", "replace"}, {"module", kReplaced}, {"serial", kSpare}, {"address", kSpareIp}});
    const json replaced = AwaitEvent(watch, "replaced", kSpare);
    EXPECT_EQ(replaced["replaced_serial"], kReplaced);
    EXPECT_EQ(replaced["ip"], kSpareIp);
    EXPECT_EQ(replaced["position"]["column"], 3);
    AwaitEvent(watch, "restore_declined", kSpare);
    // Three more rounds: the old module is reported gone, and still nothing was written.
    AwaitEvent(watch, "gone", kReplaced);
    EXPECT_EQ(Writes(line.Counters(kSpare)), 0u);
    for (const auto& m : line.List()) EXPECT_EQ(Writes(line.Counters(m.serial)), 0u) << m.serial;
    EXPECT_EQ(line.Module(kSpare).address, kSpareIp);
    const json files = line.Ok({{"cmd", "files"}, {"module", kSpare}})["files"];
    EXPECT_EQ(files["plcLength"], 0);
    EXPECT_EQ(files["tftp"]["requests"], 0);
    EXPECT_THAT(watch.Stderr(), HasSubstr("not restored without --yes"));

    watch.Signal(SIGINT);
    EXPECT_EQ(watch.Wait(20000), 130);
  }
  {
    // With --yes the new module gets the old one's address, registers, flash and program.
    test::BackgroundProcess watch = StartWatch(lab, {"--yes"});
    AwaitEvent(watch, "replaced", kSpare);
    const json done = AwaitEvent(watch, "restore_done", kSpare);
    EXPECT_EQ(done["replaced_serial"], kReplaced);
    EXPECT_EQ(done["ip"], kReplacedIp);
    // The next round finds the line as recorded.
    test::Linesim::WaitUntil(
        [&] { return watch.Stdout().find("\"line_as_recorded\"") != std::string::npos; },
        kEventWaitMs);
    EXPECT_THAT(watch.Stdout(), HasSubstr("\"event\":\"line_as_recorded\""));
    watch.Signal(SIGINT);
    EXPECT_EQ(watch.Wait(20000), 130);
  }
  EXPECT_EQ(line.Module(kSpare).address, kReplacedIp);
  EXPECT_EQ(line.Read(kSpare, 40, 3), settings);
  EXPECT_EQ(line.Read(kSpare, 40, 3, true), settings);
  EXPECT_EQ(line.Read(kSpare, 310, 1, true), std::vector<uint16_t>{42});
  EXPECT_EQ(line.Ok({{"cmd", "files"}, {"module", kSpare}})["files"]["plcHash"], plcHash);
  // The register client and TFTP see the same at the restored address.
  const auto read = Cli(lab, {"--json", "read", kReplacedIp, "40", "3"});
  EXPECT_EQ(read.exitCode, 0) << read.err;
  EXPECT_THAT(read.out, HasSubstr("1234"));
  const auto get = Cli(lab, {"tftp", "get", kReplacedIp, "PlcData_.bin", Path("back.bin")});
  ASSERT_EQ(get.exitCode, 0) << get.err;
  EXPECT_EQ(test::ReadBytes(Path("back.bin")), test::WithCrc(program));
  // Nothing was written to any other module.
  for (const auto& m : line.List()) {
    if (m.serial != kSpare) {
      EXPECT_EQ(Writes(line.Counters(m.serial)), 0u) << m.serial;
    }
  }
  // Every event also went to the events file, both runs appended.
  std::ifstream eventsFile(Path("events.jsonl"));
  const std::string events((std::istreambuf_iterator<char>(eventsFile)),
                           std::istreambuf_iterator<char>());
  size_t replacedLines = 0;
  for (const json& e : EventLines(events)) replacedLines += e["event"] == "replaced" ? 1 : 0;
  EXPECT_EQ(replacedLines, 2u);
  EXPECT_TRUE(FindEvent(events, "back", kLast).has_value());
}

}  // namespace
