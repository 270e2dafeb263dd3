// quillmar-cli upgrade against linesim modules inside a lab: the intermediate image and the
// second run for a too-old base module, the skip of a module of the other family, a missing
// intermediate image, and a downgrade that stops the run before anything is sent.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "environment/test_folders.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"

namespace {

using nlohmann::json;
using ::testing::HasSubstr;

constexpr uint32_t kOldBase = 4100001;  // 192.168.202.20, base family at 3.20
constexpr uint32_t kUx = 4100002;       // 192.168.202.21, Ux family (0x09)
constexpr uint32_t kBase = 4100003;     // 192.168.202.22, base family at 3.40

std::string Folder(const std::string& name) {
  const std::string folder = fixtures::TestRunFolder() + name + "/";
  std::filesystem::create_directories(folder);
  return folder;
}

// A synthetic image: the header word the name's prefix asks for, then filler.
std::string WriteImage(const std::string& folder, const std::string& name, size_t size,
                       uint32_t word0, uint32_t word1 = 0) {
  std::vector<char> bytes(size, '\x5A');
  for (int i = 0; i < 4; ++i) {
    bytes[i] = static_cast<char>(word0 >> (8 * i));
    bytes[4 + i] = static_cast<char>(word1 >> (8 * i));
  }
  std::ofstream(folder + name, std::ios::binary).write(bytes.data(), bytes.size());
  return folder + name;
}

std::string UpgradeLineFile() {
  const std::string path = Folder("line") + "upgrade.json";
  std::ofstream(path) << R"({
    "network": "192.168.202.0", "mask": "255.255.255.0",
    "timing": {"rebootMs": 800},
    "chains": [[
      {"serial": 4100001, "node": 1, "family": "0x00", "firmware": "3.20"},
      {"serial": 4100002, "node": 2, "family": "0x09", "firmware": "4.20"},
      {"serial": 4100003, "node": 3, "family": "0x00", "firmware": "3.40"}
    ]]})";
  return path;
}

test::RunResult Upgrade(const test::Lab& lab, const std::vector<std::string>& args) {
  std::vector<std::string> argv{test::BuiltProgram("apps/quillmar-cli"), "upgrade"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.insert(argv.end(), {"--reset-wait-ms", "200", "--restart-wait-ms", "1500"});
  return lab.Exec("pc", argv, 180000);
}

// The lines of the output that contain `text`, in order.
std::vector<std::string> LinesWith(const std::string& out, const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < out.size()) {
    const size_t end = out.find('\n', start);
    const std::string line = out.substr(start, end == std::string::npos ? end : end - start);
    if (line.find(text) != std::string::npos) lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

uint64_t TftpRequests(const test::Linesim& line, uint32_t serial) {
  return line.Ok({{"cmd", "files"}, {"module", serial}})["files"]["tftp"]["requests"];
}

TEST(UpgradeCli, OldBaseModuleGoesThroughTheIntermediateImage) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, UpgradeLineFile());
  const std::string images = Folder("images");
  WriteImage(images, "Brevantrix_4_0.bin", 259700, 0xE59FF018u);
  const std::string file = WriteImage(Folder("files"), "Brevantrix_4_5.bin", 200000, 0xE59FF018u);

  const auto run = Upgrade(
      lab, {file, "192.168.202.20", "192.168.202.21", "192.168.202.22", "--data-dir", images});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  // The old module: the intermediate image, "Error" against 4.5, then the file and "Done".
  EXPECT_THAT(run.out, HasSubstr("Uploading firmware to 192.168.202.20 ("));
  const auto verified = LinesWith(run.out, "Upgrading 192.168.202.20 with FW file");
  ASSERT_EQ(verified.size(), 2u) << run.out;
  EXPECT_EQ(verified[0],
            "Upgrading 192.168.202.20 with FW file Brevantrix_4_5.bin revision "
            "4.00 - Error.");
  EXPECT_EQ(verified[1],
            "Upgrading 192.168.202.20 with FW file Brevantrix_4_5.bin revision "
            "4.05 - Done.");
  // The Ux module is skipped and gets nothing.
  EXPECT_THAT(run.out, HasSubstr("Upgrade of 192.168.202.21... SKIPPED - different FW file "
                                 "needed!"));
  EXPECT_EQ(TftpRequests(line, kUx), 0u);
  // The other base module takes the file directly, once.
  const auto direct = LinesWith(run.out, "Upgrading 192.168.202.22 with FW file");
  ASSERT_EQ(direct.size(), 1u) << run.out;
  EXPECT_THAT(direct[0], HasSubstr("revision 4.05 - Done."));
  EXPECT_EQ(TftpRequests(line, kBase), 1u);
  EXPECT_EQ(TftpRequests(line, kOldBase), 2u);
  // Progress lines: at most one per tenth of the file per transfer.
  EXPECT_LE(LinesWith(run.out, "Uploading Brevantrix_4_5.bin to 192.168.202.22").size(), 10u);
  EXPECT_GE(LinesWith(run.out, "Uploading Brevantrix_4_5.bin to 192.168.202.22").size(), 9u);
  // The modules report the new version.
  EXPECT_EQ(line.Read(kOldBase, 25)[0], 0x0405);
  EXPECT_EQ(line.Read(kBase, 25)[0], 0x0405);
  EXPECT_EQ(line.Module(kUx).firmwareRegister, (104 << 8) | 20);
  // The final table: the skipped module counts as done, its row says why.
  const auto skipped = LinesWith(run.out, "192.168.202.21  ok ");
  ASSERT_EQ(skipped.size(), 1u) << run.out;
  EXPECT_THAT(skipped[0], HasSubstr("SKIPPED"));
  const auto done = LinesWith(run.out, "192.168.202.20  ok ");
  ASSERT_EQ(done.size(), 1u) << run.out;
  EXPECT_THAT(done[0], HasSubstr("Done"));
}

TEST(UpgradeCli, MissingIntermediateImageIsNamedAndNothingGoesToThatModule) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, UpgradeLineFile());
  const std::string images = Folder("wrong-size");
  WriteImage(images, "Brevantrix_4_0.bin", 259699, 0xE59FF018u);
  const std::string file = WriteImage(Folder("files2"), "Brevantrix_4_5.bin", 5000, 0xE59FF018u);

  const auto run =
      Upgrade(lab, {"--json", file, "192.168.202.20", "192.168.202.22", "--data-dir", images});
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  const json out = json::parse(run.out);
  ASSERT_EQ(out["modules"].size(), 2u);
  EXPECT_EQ(out["modules"][0]["result"], "Failed");
  EXPECT_THAT(out["modules"][0]["detail"].get<std::string>(),
              HasSubstr("\"Brevantrix_4_0.bin\" in \"" + images + "\" has 259699 bytes"));
  EXPECT_EQ(out["modules"][1]["result"], "Done");
  EXPECT_EQ(TftpRequests(line, kOldBase), 0u);
  EXPECT_EQ(line.Read(kOldBase, 25)[0], 0x0314);
}

TEST(UpgradeCli, ASecondRunGoesOnlyToModulesThatShowTheIntermediateImage) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, UpgradeLineFile());
  const std::string images = Folder("images4");
  WriteImage(images, "Brevantrix_4_0.bin", 259700, 0xE59FF018u);
  const std::string file = WriteImage(Folder("files4"), "Brevantrix_4_5.bin", 5000, 0xE59FF018u);
  std::vector<std::string> argv{test::BuiltProgram("apps/quillmar-cli"),
                                "upgrade",
                                file,
                                "192.168.202.20",
                                "192.168.202.22",
                                "--data-dir",
                                images,
                                "--reset-wait-ms",
                                "200",
                                "--restart-wait-ms",
                                "5000"};
  test::BackgroundProcess run = lab.Start("pc", argv);
  // The old module restarts into the image (4.0); then it is made to run its old version again,
  // as a module does whose restart did not take the image, before the verification reads it.
  ASSERT_TRUE(
      test::Linesim::WaitUntil([&] { return line.Read(kOldBase, 25)[0] == 0x0400; }, 120000))
      << run.Stdout() << run.Stderr();
  for (bool flash : {false, true}) line.Write(kOldBase, 25, {0x0314}, flash);
  const std::optional<int> exitCode = run.Wait(180000);
  ASSERT_TRUE(exitCode) << run.Stdout();
  const std::string out = run.Stdout();
  EXPECT_EQ(*exitCode, 1) << out << run.Stderr();
  const auto verified = LinesWith(out, "Upgrading 192.168.202.20 with FW file");
  ASSERT_EQ(verified.size(), 1u) << out;
  EXPECT_EQ(verified[0],
            "Upgrading 192.168.202.20 with FW file Brevantrix_4_5.bin revision 3.20 - Error.");
  EXPECT_THAT(out, HasSubstr("Upgrade of 192.168.202.20... the intermediate image "
                             "Brevantrix_4_0.bin did not take (version 3.20) - "
                             "Brevantrix_4_5.bin is not sent!"));
  // Only the image went to it; the module that took the file directly is done.
  EXPECT_EQ(TftpRequests(line, kOldBase), 1u);
  EXPECT_EQ(line.Read(kOldBase, 25)[0], 0x0314);
  EXPECT_THAT(LinesWith(out, "Upgrading 192.168.202.22 with FW file"),
              ::testing::ElementsAre(HasSubstr("revision 4.05 - Done.")));
}

// Two modules of the BrevantrixUx family and one Brevantrix-IO module.
std::string PlcLineFile() {
  const std::string path = Folder("line") + "plc.json";
  std::ofstream(path) << R"({
    "network": "192.168.202.0", "mask": "255.255.255.0",
    "chains": [[
      {"serial": 4200001, "node": 1, "family": "0x09", "firmware": "4.20",
       "registers": {"6": "0x0900"}},
      {"serial": 4200002, "node": 2, "family": "0x09", "firmware": "4.20",
       "registers": {"6": "0x0900"}},
      {"serial": 4200003, "node": 3, "family": "0x0C", "firmware": "4.20",
       "registers": {"6": "0x0C00"}}
    ]]})";
  return path;
}

std::string WriteProgram(const std::string& folder, const std::string& name,
                         const std::string& family, size_t size) {
  std::vector<char> bytes(size, '\x33');
  std::fill(bytes.begin() + 24, bytes.begin() + 44, 0);
  std::copy(family.begin(), family.end(), bytes.begin() + 24);
  std::ofstream(folder + name, std::ios::binary).write(bytes.data(), bytes.size());
  return folder + name;
}

TEST(UpgradeCli, APlcProgramIsStoredAsTheProgramAndDoneOnlyWhenReadBack) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, PlcLineFile());
  const std::string program =
      WriteProgram(Folder("plc"), "PLCDATA_Line7.bin", "BrevantrixUx", 1500);
  // The second module's service port does not answer: its program cannot be read back.
  line.SetFault(4200002, {{"serviceDead", true}});
  const auto run = Upgrade(lab, {"--plc", "--json", program, "192.168.202.20", "192.168.202.21"});
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  const json out = json::parse(run.out);
  ASSERT_EQ(out["modules"].size(), 2u);
  EXPECT_EQ(out["modules"][0]["result"], "Done") << out.dump();
  EXPECT_EQ(out["modules"][1]["result"], "Error") << out.dump();
  EXPECT_THAT(out["modules"][1]["detail"].get<std::string>(), HasSubstr("no PLC program length"));
  // Taken as the module's PLC program, not as firmware waiting for a restart.
  for (uint32_t serial : {4200001u, 4200002u}) {
    const json files = line.Ok({{"cmd", "files"}, {"module", serial}})["files"];
    EXPECT_EQ(files["plcLength"], 1502) << serial;  // kept with its two check bytes
    EXPECT_TRUE(files["staged"].is_null()) << serial;
  }
}

TEST(UpgradeCli, APlcProgramForAnotherFamilyStopsTheRunBeforeAnyUpload) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, PlcLineFile());
  const std::string program =
      WriteProgram(Folder("plc2"), "PLCDATA_Line8.bin", "BrevantrixUx", 700);
  const auto run = Upgrade(lab, {"--plc", program, "192.168.202.20", "192.168.202.22"});
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  EXPECT_THAT(run.err, HasSubstr("The operation will be aborted! The selected PLC program is for "
                                 "BrevantrixUx devices, but the following devices are not "
                                 "compatible with it:\"192.168.202.22\", "));
  for (uint32_t serial : {4200001u, 4200003u}) EXPECT_EQ(TftpRequests(line, serial), 0u);
}

TEST(UpgradeCli, DowngradeStopsTheRunBeforeAnyUpload) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, UpgradeLineFile());
  const std::string file = WriteImage(Folder("files3"), "Brevantrix_2_9.bin", 5000, 0xE59FF018u);
  const auto run = Upgrade(lab, {file, "192.168.202.22", "192.168.202.25"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.err, HasSubstr("Vorgang abgebrochen"));
  EXPECT_THAT(run.err, HasSubstr("Downgrade des Knotens \"192.168.202.22\" mit der Version "
                                 "3.40, und Firmwareversion 2.09 ist nicht möglich."));
  EXPECT_THAT(run.err,
              HasSubstr("Eine Verbindung zum Modul \"192.168.202.25\" ist nicht möglich."));
  EXPECT_EQ(TftpRequests(line, kBase), 0u);
}

}  // namespace
