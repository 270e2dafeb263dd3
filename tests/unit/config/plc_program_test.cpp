// PLC program files against modules, their upload and deletion against a scripted TFTP peer,
// and the program name a module holds.
#include "config/plc_program.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

#include "base/bytes.h"
#include "base/format.h"
#include "comm/tftp_packet.h"
#include "fixtures/program_bytes.h"
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

// A module's service port on loopback: a greeting, then `answer` to the one-letter command.
class FakeServicePort {
 public:
  explicit FakeServicePort(std::string answer) : answer_(std::move(answer)) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || listen(fd_, 4) != 0)
      ADD_FAILURE() << "no service port";
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakeServicePort() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  uint16_t Port() const { return PortOf(fd_); }

 private:
  void Serve() {
    while (!stop_) {
      pollfd listening{fd_, POLLIN, 0};
      if (poll(&listening, 1, 20) <= 0) continue;
      const int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      send(client, "Welcome\r\n", 9, MSG_NOSIGNAL);
      pollfd in{client, POLLIN, 0};
      char command = 0;
      if (poll(&in, 1, 3000) > 0 && recv(client, &command, 1, 0) == 1)
        send(client, answer_.data(), answer_.size(), MSG_NOSIGNAL);
      char rest[64];
      while (!stop_ && poll(&in, 1, 20) >= 0 &&
             recv(client, rest, sizeof rest, MSG_DONTWAIT) != 0) {
      }
      close(client);
    }
  }
  std::string answer_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A module's TFTP server that answers a read request with `stored`, block by block.
ScriptedPeer::Script Serving(Bytes stored) {
  return [stored](const Bytes& got, size_t) -> std::vector<Reply> {
    size_t next = 0;
    if (Opcode(got) == 1) next = 1;
    if (Opcode(got) == 4) next = static_cast<size_t>(Block(got)) + 1;
    const size_t blocks = stored.size() / 512 + 1;
    if (next == 0 || next > blocks) return {};
    const size_t at = (next - 1) * 512;
    const Bytes chunk(stored.begin() + static_cast<long>(at),
                      stored.begin() + static_cast<long>(std::min(at + 512, stored.size())));
    return {{Data(static_cast<uint16_t>(next), chunk)}};
  };
}

using test::WithCrc;

TEST_F(PlcProgram, AnAnnouncedLengthBeyondWhatTftpCarriesIsNeitherAllocatedNorFetched) {
  // 65,535 blocks of 512 bytes is the most one transfer carries.
  const struct {
    long announced;
    bool fetched;
  } cases[] = {{33553920, true}, {33553921, false}, {999999999, false}};
  for (const auto& c : cases) {
    FakeServicePort service("My:" + std::to_string(c.announced) + ",");
    ScriptedPeer peer(
        [](const Bytes&, size_t) -> std::vector<Reply> { return {{Error(1, "File not found")}}; });
    EXPECT_EQ(config::ReadPlcProgramName("127.0.0.1", service.Port(), peer.Port()), "")
        << c.announced;
    std::string error;
    EXPECT_FALSE(config::ReadStoredPlcProgram("127.0.0.1", &error, service.Port(), peer.Port()))
        << c.announced;
    if (c.fetched) {
      EXPECT_THAT(error, ::testing::HasSubstr("PLC program not read")) << c.announced;
      EXPECT_FALSE(peer.ReceivedBytes().empty()) << c.announced;
    } else {
      EXPECT_EQ(error, "the module announces a PLC program of " + std::to_string(c.announced) +
                           " bytes, more than TFTP can carry (33553920)");
      EXPECT_TRUE(peer.ReceivedBytes().empty()) << c.announced;
    }
  }
}

TEST_F(PlcProgram, AStoredProgramIsVerifiedByItsLengthAndCheckBytes) {
  const Bytes program = Pattern(1000);
  Bytes otherCrc = WithCrc(program);
  otherCrc.back() ^= 0x40;
  Bytes otherProgram = WithCrc(program);
  otherProgram[10] ^= 1;
  const struct {
    const char* what;
    std::string answer;
    Bytes stored;
    bool ok;
    std::string error;
  } cases[] = {
      {"kept as sent", "My:1002,", WithCrc(program), true, ""},
      {"kept without its check bytes", "My:1000,", program, false,
       "the module keeps a PLC program of 1000 bytes, 1002 expected"},
      {"other check bytes", "My:1002,", otherCrc, false,
       "the module keeps another PLC program (CRC 0x" +
           base::Format("%04X", otherCrc[1000] | otherCrc[1001] << 8) + ", 0x" +
           base::Format("%04X", tftp::Crc16Modbus(program.data(), program.size())) + " expected)"},
      {"another program with its own check bytes", "My:1002,", otherProgram, false, ""},
      {"read back shorter than announced", "My:1200,", WithCrc(program), false,
       "PLC program read back with 1002 of 1200 bytes"},
      {"no program",
       "My:0,",
       {},
       false,
       "the module keeps a PLC program of 0 bytes, 1002 expected"},
      {"no length", "?", {}, false, "no PLC program length from the service port"},
  };
  for (const auto& c : cases) {
    FakeServicePort service(c.answer);
    ScriptedPeer peer(Serving(c.stored));
    std::string error;
    EXPECT_EQ(
        config::VerifyStoredPlcProgram("127.0.0.1", program, &error, service.Port(), peer.Port()),
        c.ok)
        << c.what;
    if (!c.error.empty()) {
      EXPECT_EQ(error, c.error) << c.what;
    }
    if (!c.ok) {
      EXPECT_FALSE(error.empty()) << c.what;
    }
  }
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
