// PLC program files against modules, their upload and deletion against a scripted TFTP peer,
// and the program name a module holds.
#include "config/plc_program.h"

#include <gtest/gtest.h>

#include <fstream>

#include "base/bytes.h"
#include "comm/tftp_packet.h"
#include "fixtures/temp_log.h"
#include "fixtures/tftp_peer.h"

namespace {

using namespace test;  // NOLINT: the peer's helpers

// A program file: 24 bytes, the family field (NUL-padded to 20), then filler up to `length`.
std::string WriteProgram(const std::string& folder, const std::string& name,
                         const std::string& family, size_t length = 1000) {
  std::vector<uint8_t> bytes(std::max<size_t>(length, 44), 0x11);
  std::fill(bytes.begin() + 24, bytes.begin() + 44, 0);
  std::copy(family.begin(), family.end(), bytes.begin() + 24);
  const std::string tail = "PLCDATA_" + name.substr(0, name.find('.')) + ".bin";
  if (length >= 44 + tail.size() + 1)
    std::copy(tail.begin(), tail.end(), bytes.end() - tail.size() - 1);
  bytes.back() = 0;
  bytes.resize(length);
  const std::string path = folder + name;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

class RecordingProgress : public base::Progress {
 public:
  void SetPosition(int done) override { positions.push_back(done); }
  void SetText(const std::string& text) override { texts.push_back(text); }
  std::vector<int> positions;
  std::vector<std::string> texts;
};

class PlcProgram : public ::testing::Test {
 protected:
  fixtures::ScopedTempLog log_;
  base::ScriptedPrompt prompt_;
  std::string Shown() const {
    const auto history = prompt_.History();
    return history.empty() ? "" : history.back().text;
  }
};

TEST_F(PlcProgram, FileCheckForOneModule) {
  const std::string folder = log_.folder();
  const struct {
    const char* what;
    std::string path;
    uint16_t register6;
    bool ok;
    std::string message;
  } cases[] = {
      {"Vermosand file, BrevantrixUx module", WriteProgram(folder, "PLCDATA_v.bin", "Vermosand-2"),
       0x0997, false,
       "The operation will be aborted! The selected PLC program is for Vermosand-2 devices, but "
       "the device is not compatible with it!"},
      {"BrevantrixUx file, BrevantrixUx module",
       WriteProgram(folder, "PLCDATA_u.bin", "BrevantrixUx"), 0x0990, true, ""},
      {"Draskufel file shown as DraskufelIP", WriteProgram(folder, "PLCDATA_d.bin", "Draskufel"),
       0x0900, false,
       "The operation will be aborted! The selected PLC program is for DraskufelIP devices, but "
       "the device is not compatible with it!"},
      {"unknown family: code 0 against a module with a family byte",
       WriteProgram(folder, "PLCDATA_x.bin", "Someother"), 0x0C00, false,
       "The operation will be aborted! The selected PLC program is for Someother devices, but "
       "the device is not compatible with it!"},
      {"unknown family: code 0 matches a module without one",
       WriteProgram(folder, "PLCDATA_y.bin", "Someother"), 0x0047, true, ""},
      {"empty family field: no check", WriteProgram(folder, "PLCDATA_e.bin", ""), 0x0C00, true, ""},
      {"name without PLCDATA_", WriteProgram(folder, "program.bin", "BrevantrixUx"), 0x0900, false,
       "Die ausgewählte Datei it kein gültiges SPS Programm"},
      {"missing file", folder + "PLCDATA_none.bin", 0x0900, false,
       "Die Datei kann nicht geöffnet werden - " + folder + "PLCDATA_none.bin!"},
      {"a file shorter than the family field", WriteProgram(folder, "PLCDATA_s.bin", "Brev", 30),
       0x0000, true, ""},
  };
  for (const auto& c : cases) {
    const auto check =
        config::CheckPlcFileForModule(c.path, config::ModuleFamilyCode(c.register6), prompt_);
    EXPECT_EQ(check.ok, c.ok) << c.what;
    EXPECT_EQ(check.message, c.message) << c.what;
    if (!c.ok) {
      EXPECT_EQ(Shown(), c.message) << c.what;
    }
  }
  EXPECT_TRUE(config::CheckPlcFileForModule("", 0x900, prompt_).noProgram);
}

TEST_F(PlcProgram, FileCheckForARangeNamesEveryIncompatibleModule) {
  const std::string path = WriteProgram(log_.folder(), "PLCDATA_r.bin", "Brevantrix-IO");
  std::vector<std::string> incompatible;
  const auto check = config::CheckPlcFileForRange(
      path, {{"192.168.202.20", 0xC00}, {"192.168.202.21", 0x900}, {"192.168.202.22", 0}},
      &incompatible, prompt_);
  EXPECT_FALSE(check.ok);
  EXPECT_EQ(incompatible, (std::vector<std::string>{"192.168.202.21", "192.168.202.22"}));
  EXPECT_EQ(Shown(),
            "The operation will be aborted! The selected PLC program is for Brevantrix-IO "
            "devices, but the following devices are not compatible with it:\"192.168.202.21\", "
            "\"192.168.202.22\", ");
  EXPECT_TRUE(
      config::CheckPlcFileForRange(path, {{"192.168.202.20", 0xC00}}, &incompatible, prompt_).ok);
  EXPECT_TRUE(incompatible.empty());
}

TEST_F(PlcProgram, UploadOfA1000ByteProgramIsTwoBlocksWithProgress80To100) {
  ScriptedPeer peer(AckEverything);
  const std::string path = WriteProgram(log_.folder(), "PLCDATA_line.bin", "BrevantrixUx");
  RecordingProgress progress;
  const auto result = config::UploadPLCProgram("127.0.0.1", progress, "Brevantrix", path, false,
                                               prompt_, peer.Port());
  EXPECT_EQ(result.result, 1);
  EXPECT_EQ(progress.positions, (std::vector<int>{80, 90, 100}));
  EXPECT_EQ(result.text,
            "Uploading PLCDATA_line.bin to 127.0.0.1 (1002 of 1002)... FTP upload OK. ");
  const auto got = peer.ReceivedBytes();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_NE(std::string(got[0].begin(), got[0].end()).find("PlcData_.bin"), std::string::npos);
  EXPECT_EQ(Tsize(got[0]), "1002");
  EXPECT_EQ(got[1].size(), 4u + 512u);
  EXPECT_EQ(got[2].size(), 4u + 490u);
  EXPECT_TRUE(prompt_.History().empty());
}

TEST_F(PlcProgram, UploadRefusalsAndFailures) {
  ScriptedPeer peer([](const Bytes& got, size_t) -> std::vector<Reply> {
    if (Opcode(got) == 2) return {{Ack(0)}};
    return {{Error(0, "Checksum error")}};
  });
  const std::string folder = log_.folder();
  const struct {
    const char* what;
    std::string path;
    std::string expected;
    int result;
    std::string text;
  } cases[] = {
      {"no path: nothing to do", "", "Brevantrix", 1, ""},
      {"another family", WriteProgram(folder, "PLCDATA_io.bin", "Brevantrix-IO"), "Draskufel", 0,
       "Selected file is not Draskufel PLC Program!"},
      {"empty family field", WriteProgram(folder, "PLCDATA_0.bin", ""), "Brevantrix", 0,
       "Selected file is not Brevantrix PLC Program!"},
      {"missing file", folder + "PLCDATA_gone.bin", "Brevantrix", 0,
       "Can't open file " + folder + "PLCDATA_gone.bin!"},
      {"the module refuses the data", WriteProgram(folder, "PLCDATA_ok.bin", "Brevantrix"),
       "Brevantrix", 0,
       "Uploading PLCDATA_ok.bin to 127.0.0.1 (0 of 1002)... Error: #0:Checksum error"},
  };
  for (const auto& c : cases) {
    RecordingProgress progress;
    const auto result = config::UploadPLCProgram("127.0.0.1", progress, c.expected, c.path, false,
                                                 prompt_, peer.Port());
    EXPECT_EQ(result.result, c.result) << c.what;
    EXPECT_EQ(result.text, c.text) << c.what;
  }
}

TEST_F(PlcProgram, DeletionUploadsTwoBytes) {
  ScriptedPeer peer(AckEverything);
  RecordingProgress progress;
  const auto result =
      config::UploadPLCProgram("127.0.0.1", progress, "", "", true, prompt_, peer.Port());
  EXPECT_EQ(result.result, 1);
  const auto got = peer.ReceivedBytes();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(Tsize(got[0]), "2");
  EXPECT_EQ(got[1], (Bytes{0, 3, 0, 1, 0xFF, 0xFF}));
}

TEST(PlcProgramParts, LockPacketLengthAnswerAndName) {
  EXPECT_EQ(config::LockPacket(1), (std::vector<uint8_t>{0x70, 0, 0, 8, 0x44, 0, 0, 0x80, 'M', 'G',
                                                         'M', 'T', 0, 0, 0, 1}));
  EXPECT_EQ(config::LockPacket(0).back(), 0);
  const struct {
    const char* answer;
    long length;
  } answers[] = {{"My:1000,", 1000}, {"\r\nMy:0,\r\n", 0},   {"My:,", -1},
                 {"My:-5,", -1},     {"no length here", -1}, {"My:12", 12}};
  for (const auto& a : answers)
    EXPECT_EQ(config::PlcLengthFromAnswer(a.answer), a.length) << a.answer;
  const std::string program = std::string(30, 'x') + "PLCDATA_old.bin" + std::string(1, '\0') +
                              "PLCDATA_Line7.bin" + std::string(3, '\0');
  const auto* bytes = reinterpret_cast<const uint8_t*>(program.data());
  EXPECT_EQ(config::PlcProgramNameIn(bytes, program.size()), "PLCDATA_Line7.bin");
  EXPECT_EQ(config::PlcProgramNameIn(bytes, 12), "");
  EXPECT_EQ(config::PlcProgramNameIn(bytes, 30), "");
  const uint8_t header[44] = {0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,
                              0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,
                              'B', 'r', 'e', 'v', 'a', 'n', 't', 'r', 'i', 'x', '-', 'I',
                              'O', 'X', 'Y', 'Z', 'W', 'V', 'U', 'T'};  // 20 bytes, no NUL
  EXPECT_EQ(config::FamilyField(header, sizeof header), "Brevantrix-IOXYZWVUT");
  EXPECT_EQ(config::FamilyCode(config::FamilyField(header, sizeof header)), 0xC00);
  EXPECT_EQ(config::FamilyField(header, 30), "Brevan");
}

}  // namespace
