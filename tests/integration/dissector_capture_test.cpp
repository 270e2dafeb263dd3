// The Wireshark dissector on real traffic: the lab's PC interface is captured while
// quillmar-cli discovers the demo line, draws its topology and locks a module's PLC program;
// tshark then decodes the capture with tools/wireshark/brevantrix.lua. Every frame of the
// modules' protocols must decode into the fields the line file predicts, with no expert item.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/temp_log.h"
#include "sim/line.h"

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

TEST(DissectorCapture, TheLinesTrafficDecodesIntoItsFields) {
  QM_SKIP_WITHOUT_LAB();
  if (!HaveTshark()) GTEST_SKIP() << "tshark is not installed";
  fixtures::TempFolder folder;
  test::Lab lab;
  const std::string demo = test::SourceFile("sim/lines/demo.json");
  test::Linesim line(lab, demo);
  const sim::LineSetup setup = sim::LoadLineFile(demo);

  const std::string pcap = folder.path() + "/line.pcapng";
  test::BackgroundProcess capture =
      lab.Start("pc", {"dumpcap", "-q", "-i", lab.PcInterface(1), "-w", pcap});
  ASSERT_TRUE(capture.WaitForOutput("Capturing on", 20000, true)) << capture.Stderr();

  const std::string cli = test::BuiltProgram("apps/quillmar-cli");
  const std::string env = "TMPDIR=" + folder.path();
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"discover"}, {"topology"}, {"plc", "lock", "1", "on"}}) {
    std::vector<std::string> argv{"env", env, cli};
    argv.insert(argv.end(), args.begin(), args.end());
    const test::RunResult run = lab.Exec("pc", argv, 60000);
    ASSERT_EQ(run.exitCode, 0) << args[0] << ": " << run.err;
  }
  capture.Signal(SIGTERM);
  ASSERT_TRUE(capture.Wait(10000).has_value());

  const std::vector<std::string> fields = {"brevantrix.code",     "brevantrix.serial",
                                           "brevantrix.lock",     "brevantrix.lock.state",
                                           "brevantrix.left.mac", "_ws.expert"};
  std::vector<std::string> argv{
      "tshark", "-n",
      "-r",     pcap,
      "-X",     "lua_script:" + test::SourceFile("tools/wireshark/brevantrix.lua"),
      "-Y",     "brevantrix",
      "-T",     "fields",
      "-E",     "separator=|",
      "-E",     "occurrence=a",
      "-E",     "aggregator=,"};
  for (const std::string& field : fields) argv.insert(argv.end(), {"-e", field});
  const test::RunResult decoded = lab.Exec("pc", argv, 120000);
  ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
  EXPECT_THAT(decoded.err, ::testing::Not(::testing::HasSubstr("Lua")));

  std::map<std::string, int> codes;
  std::set<std::string> discoveredSerials;
  std::set<std::string> neighbourMacs;
  bool lockRequested = false;
  bool lockAnswered = false;
  for (const std::string& line : Split(decoded.out, '\n')) {
    if (line.empty()) continue;
    const std::vector<std::string> row = Split(line, '|');
    ASSERT_EQ(row.size(), fields.size()) << line;
    ++codes[row[0]];
    if (row[0] == "0x1f") discoveredSerials.insert(row[1]);
    if (row[0] == "0x79" && !row[4].empty()) neighbourMacs.insert(row[4]);
    lockRequested |= row[0] == "0x70" && row[2] == "1";
    lockAnswered |= row[0] == "0x73" && row[3] == "1";
    EXPECT_EQ(row[5], "") << "expert item on " << line;
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

}  // namespace
