// The Wireshark dissector on real traffic: the lab's PC interface is captured while
// quillmar-cli discovers the demo line, draws its topology and locks a module's PLC program;
// tshark then decodes the capture with tools/wireshark/brevantrix.lua. Every frame of the
// modules' protocols must decode into the fields the line file predicts, with no expert item.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/integration_helpers.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/temp_log.h"
#include "sim/line.h"
#include "topology/node_command.h"

namespace {

bool HaveTshark() {
  return access("/usr/bin/tshark", X_OK) == 0;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.push_back("");
  return parts;
}

// dumpcap on the lab's PC interface, into `pcap`, until Stop.
class Capture {
 public:
  Capture(const test::Lab& lab, const std::string& pcap)
      : process_(lab.Start("pc", {"dumpcap", "-q", "-i", lab.PcInterface(1), "-w", pcap})) {}
  bool Started() { return process_.WaitForOutput("Capturing on", 20000, true); }
  bool Stop() {
    process_.Signal(SIGTERM);
    return process_.Wait(10000).has_value();
  }
  std::string Errors() const { return process_.Stderr(); }

 private:
  test::BackgroundProcess process_;
};

// Waits until the capture file holds an AutoConfig frame (its command and signature bytes).
bool WaitForAutoConfigFrame(const std::string& pcap, uint32_t timeoutMs) {
  const topology::AutoConfigFrame frame =
      topology::BuildAutoConfigFrame(topology::kCommandAutoConfig, {}, nullptr, 0, 0);
  const std::string marker(frame.begin() + 12, frame.begin() + topology::kSignatureOffset + 10);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (fixtures::ReadFile(pcap).find(marker) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// A capture runs the command and then reads the capture back: more time than a plain command.
test::RunResult RunCaptureCli(const test::Lab& lab, const std::string& folder,
                              const std::vector<std::string>& args) {
  return test::RunCliWithTmpdir(lab, folder, args, 120000);
}

// The capture decoded by the dissector: one row of `fields` per frame of the modules'
// protocols (display filter `filter`).
std::vector<std::vector<std::string>> Decode(const test::Lab& lab, const std::string& pcap,
                                             const std::string& filter,
                                             const std::vector<std::string>& fields) {
  std::vector<std::string> argv{
      "tshark", "-n",
      "-r",     pcap,
      "-X",     "lua_script:" + test::SourceFile("tools/wireshark/brevantrix.lua"),
      "-Y",     filter,
      "-T",     "fields",
      "-E",     "separator=|",
      "-E",     "occurrence=a",
      "-E",     "aggregator=,"};
  for (const std::string& field : fields) argv.insert(argv.end(), {"-e", field});
  const test::RunResult decoded = lab.Exec("pc", argv, 120000);
  EXPECT_EQ(decoded.exitCode, 0) << decoded.err;
  EXPECT_THAT(decoded.err, ::testing::Not(::testing::HasSubstr("Lua")));
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : Split(decoded.out, '\n')) {
    if (line.empty()) continue;
    rows.push_back(Split(line, '|'));
    EXPECT_EQ(rows.back().size(), fields.size()) << line;
    rows.back().resize(fields.size());
  }
  return rows;
}

TEST(DissectorCapture, TheLinesTrafficDecodesIntoItsFields) {
  QM_SKIP_WITHOUT_LAB();
  if (!HaveTshark()) GTEST_SKIP() << "tshark is not installed";
  fixtures::TempFolder folder;
  test::Lab lab;
  const std::string demo = test::SourceFile("sim/lines/demo.json");
  test::Linesim line(lab, demo);
  const sim::LineSetup setup = sim::LoadLineFile(demo);

  const std::string pcap = folder.path() + "/line.pcapng";
  Capture capture(lab, pcap);
  ASSERT_TRUE(capture.Started()) << capture.Errors();
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"discover"}, {"topology"}, {"plc", "lock", "1", "on"}}) {
    const test::RunResult run = RunCaptureCli(lab, folder.path(), args);
    ASSERT_EQ(run.exitCode, 0) << args[0] << ": " << run.err;
  }
  ASSERT_TRUE(capture.Stop());

  const std::vector<std::string> fields = {"brevantrix.code",     "brevantrix.serial",
                                           "brevantrix.lock",     "brevantrix.lock.state",
                                           "brevantrix.left.mac", "_ws.expert"};
  std::map<std::string, int> codes;
  std::set<std::string> discoveredSerials;
  std::set<std::string> neighbourMacs;
  bool lockRequested = false;
  bool lockAnswered = false;
  for (const std::vector<std::string>& row : Decode(lab, pcap, "brevantrix", fields)) {
    ++codes[row[0]];
    if (row[0] == "0x1f") discoveredSerials.insert(row[1]);
    if (row[0] == "0x79" && !row[4].empty()) neighbourMacs.insert(row[4]);
    lockRequested |= row[0] == "0x70" && row[2] == "1";
    lockAnswered |= row[0] == "0x73" && row[3] == "1";
    EXPECT_EQ(row[5], "") << "expert item on a " << row[0] << " frame";
  }
  std::set<std::string> expectedSerials;
  for (const auto& chain : setup.chains)
    for (const auto& module : chain) expectedSerials.insert(std::to_string(module.serial));
  EXPECT_EQ(discoveredSerials, expectedSerials);
  for (const char* code : {"0x10", "0x60", "0x61", "0x78", "0x79"})
    EXPECT_GT(codes[code], 0) << code;
  EXPECT_FALSE(neighbourMacs.empty());
  EXPECT_TRUE(lockRequested);
  EXPECT_TRUE(lockAnswered);
}

TEST(DissectorCapture, LineCommandsBackupsAndPlcDataDecode) {
  QM_SKIP_WITHOUT_LAB();
  if (!HaveTshark()) GTEST_SKIP() << "tshark is not installed";
  fixtures::TempFolder folder;
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  // Node 8 is asked for PLC data below: only a module that runs a program answers.
  std::ofstream(folder.path() + "/program.bin", std::ios::binary) << "PLCDATA_dissector";
  ASSERT_EQ(RunCaptureCli(lab, folder.path(),
                          {"tftp", "put", "8", folder.path() + "/program.bin", "PlcData_.bin"})
                .exitCode,
            0);
  const std::string pcap = folder.path() + "/commands.pcapng";
  Capture capture(lab, pcap);
  ASSERT_TRUE(capture.Started()) << capture.Errors();

  // A backup of two modules (registers, the flash image on 55557, service port, PLC program).
  test::RunResult run = RunCaptureCli(
      lab, folder.path(), {"--yes", "backup", "1", "2", "-o", folder.path() + "/two.backup"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  // PLC data: a block read, answered by the module's program.
  run = RunCaptureCli(lab, folder.path(), {"plcdata", "8", "read", "0", "16"});
  // AutoConfig over the first chain (first and last module: the second chain is on the PC's
  // switch too, so a first module alone is refused); the modules' wait is cut short.
  const auto chain = sim::LoadLineFile(test::SourceFile("sim/lines/demo.json")).chains[0];
  std::vector<std::string> argv{"env",
                                "TMPDIR=" + folder.path(),
                                test::BuiltProgram("apps/quillmar-cli"),
                                "--yes",
                                "autoconfig",
                                std::to_string(chain.front().serial),
                                std::to_string(chain.back().serial)};
  test::BackgroundProcess autoconfig = lab.Start("pc", argv);
  // Told once the frame is on the wire; dumpcap may still hold it in its buffer, and a stopped
  // dumpcap drops what it has not written: the capture ends once the file holds the frame.
  EXPECT_TRUE(autoconfig.WaitForOutput("AutoConfig wurde im Netzwerk", 30000, true))
      << autoconfig.Stderr();
  EXPECT_TRUE(WaitForAutoConfigFrame(pcap, 20000));
  autoconfig.Signal(SIGINT);
  autoconfig.Wait(20000);
  ASSERT_TRUE(capture.Stop());

  const std::vector<std::string> fields = {"brevantrix_raw.command",     "brevantrix_flash.request",
                                           "brevantrix_flash.registers", "brevantrix_plc.kind",
                                           "brevantrix_plc.status",      "_ws.expert"};
  const auto rows =
      Decode(lab, pcap, "brevantrix_raw || brevantrix_flash || brevantrix_plc", fields);
  int autoconfigFrames = 0, flashRequests = 0, flashImages = 0, plcRequests = 0, plcAnswers = 0;
  for (const auto& row : rows) {
    autoconfigFrames += row[0] == "AutoConfig";
    flashRequests += row[1] == "ERGR";
    flashImages += !row[2].empty() && std::stoi(row[2]) > 300;
    plcRequests += row[3] == "1";
    plcAnswers += !row[4].empty();
    EXPECT_EQ(row[5], "") << "expert item on a frame of the capture";
  }
  EXPECT_GT(autoconfigFrames, 0);
  EXPECT_GE(flashRequests, 2);
  EXPECT_GE(flashImages, 2);
  EXPECT_GT(plcRequests, 0);
  EXPECT_GT(plcAnswers, 0);
}

}  // namespace
