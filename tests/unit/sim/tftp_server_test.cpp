// The modules' TFTP server, service port and the files they keep, on loopback (127.0.0.x are
// all local: no lab is needed and no address is added anywhere). The client side is written
// here from bytes, independently of the tool's client.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <thread>

#include "base/format.h"
#include "platform/tick.h"
#include "sim/control.h"
#include "sim/module_files.h"
#include "sim/simulator.h"
#include "sim/tftp_server.h"

namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;
using nlohmann::json;

constexpr const char* kModule = "127.0.0.20";  // node 1, serial 101

struct Datagram {
  Bytes bytes;
  sockaddr_in from{};
  uint16_t Opcode() const { return bytes.size() >= 2 ? (bytes[0] << 8 | bytes[1]) : 0; }
  uint16_t Block() const { return bytes.size() >= 4 ? (bytes[2] << 8 | bytes[3]) : 0; }
  std::string Message() const {
    return bytes.size() > 5 ? std::string(bytes.begin() + 4, bytes.end() - 1) : "";
  }
};

Bytes TftpRequest(uint16_t opcode, const std::string& file, std::optional<uint64_t> tsize) {
  Bytes packet{0, static_cast<uint8_t>(opcode)};
  auto text = [&](const std::string& t) {
    packet.insert(packet.end(), t.begin(), t.end());
    packet.push_back(0);
  };
  text(file);
  text("octet");
  if (tsize) {
    text("tsize");
    text(std::to_string(*tsize));
  }
  return packet;
}

Bytes WithCrc(Bytes data) {
  const uint16_t crc = tftp::Crc16Modbus(data.data(), data.size());
  data.push_back(static_cast<uint8_t>(crc));
  data.push_back(static_cast<uint8_t>(crc >> 8));
  return data;
}

Bytes Pattern(size_t length, uint8_t salt = 0) {
  Bytes data(length);
  for (size_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(i * 7 + salt);
  return data;
}

class TftpLine : public ::testing::Test {
 protected:
  void SetUp() override {
    controlPath_ = "/tmp/qm-sim-tftp-" + std::to_string(getpid()) + ".sock";
    LineSetup line = ParseLine(json::parse(R"({"network": "127.0.0.0", "mask": "255.0.0.0",
        "timing": {"rebootMs": 100},
        "chains": [[{"serial": 101, "node": 1, "family": "0x09", "firmware": "4.14"},
                    {"serial": 102, "node": 2}]]})"));
    SimulatorOptions options;
    options.modbusPort = 0;
    options.tftpPort = 0;
    options.servicePort = 0;
    options.controlPath = controlPath_;
    simulator_ = std::make_unique<Simulator>(std::move(line), options);
    std::string error;
    ASSERT_TRUE(simulator_->Start(&error)) << error;
    tftpPort_ = simulator_->TftpPort();
    servicePort_ = simulator_->ServicePort();
    thread_ = std::thread([this] { simulator_->Run(); });
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &local.sin_addr);
    ASSERT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  }
  void TearDown() override {
    if (fd_ >= 0) close(fd_);
    if (simulator_) simulator_->Stop();
    if (thread_.joinable()) thread_.join();
    simulator_.reset();
  }

  void SendTo(const Bytes& packet, uint16_t port, const char* address = kModule) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, address, &to.sin_addr);
    ASSERT_EQ(
        sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
        static_cast<ssize_t>(packet.size()));
  }
  void SendToPeer(const Bytes& packet) { SendTo(packet, peerPort_); }
  std::optional<Datagram> Receive(int timeoutMs = 2000) {
    pollfd waiting{fd_, POLLIN, 0};
    if (poll(&waiting, 1, timeoutMs) <= 0) return std::nullopt;
    Datagram datagram;
    datagram.bytes.resize(1024);
    socklen_t length = sizeof datagram.from;
    const ssize_t got = recvfrom(fd_, datagram.bytes.data(), datagram.bytes.size(), 0,
                                 reinterpret_cast<sockaddr*>(&datagram.from), &length);
    if (got < 0) return std::nullopt;
    datagram.bytes.resize(static_cast<size_t>(got));
    peerPort_ = ntohs(datagram.from.sin_port);
    return datagram;
  }
  // A whole upload as a well-behaved client does it; the opcode/block of each answer.
  std::vector<std::pair<uint16_t, uint16_t>> Upload(const std::string& file, const Bytes& bytes,
                                                    std::optional<uint64_t> tsize) {
    std::vector<std::pair<uint16_t, uint16_t>> answers;
    SendTo(TftpRequest(2, file, tsize), tftpPort_);
    auto answer = Receive();
    if (!answer) return answers;
    answers.emplace_back(answer->Opcode(), answer->Block());
    if (answer->Opcode() != 4) return answers;
    size_t sent = 0;
    for (uint16_t block = 1;; ++block) {
      const size_t length = std::min<size_t>(512, bytes.size() - sent);
      Bytes data{0, 3, static_cast<uint8_t>(block >> 8), static_cast<uint8_t>(block)};
      data.insert(data.end(), bytes.begin() + static_cast<long>(sent),
                  bytes.begin() + static_cast<long>(sent + length));
      SendToPeer(data);
      sent += length;
      answer = Receive();
      if (!answer) return answers;
      answers.emplace_back(answer->Opcode(), answer->Block());
      if (answer->Opcode() != 4 || length < 512 || (tsize && sent == *tsize)) return answers;
    }
  }
  // A whole download; nullopt with the ERROR's text in *error when it fails.
  std::optional<Bytes> Download(const std::string& file, std::string* error = nullptr) {
    SendTo(TftpRequest(1, file, 0), tftpPort_);
    Bytes got;
    for (uint16_t block = 1;; ++block) {
      auto answer = Receive();
      if (!answer) return std::nullopt;
      if (answer->Opcode() != 3 || answer->Block() != block) {
        if (error) *error = base::Format("#%u:%s", answer->Block(), answer->Message().c_str());
        return std::nullopt;
      }
      got.insert(got.end(), answer->bytes.begin() + 4, answer->bytes.end());
      SendToPeer({0, 4, static_cast<uint8_t>(block >> 8), static_cast<uint8_t>(block)});
      if (answer->bytes.size() < 516) return got;
    }
  }
  std::string ServicePort(char command) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(servicePort_);
    inet_pton(AF_INET, kModule, &to.sin_addr);
    std::string text;
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
      char buffer[2048];
      pollfd waiting{fd, POLLIN, 0};
      if (poll(&waiting, 1, 1000) > 0) (void)recv(fd, buffer, sizeof buffer, 0);  // greeting
      send(fd, &command, 1, MSG_NOSIGNAL);
      if (poll(&waiting, 1, 1000) > 0) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) text.assign(buffer, static_cast<size_t>(n));
      }
    }
    close(fd);
    return text;
  }
  json Files(int serial = 101) {
    return ControlCall(controlPath_, {{"cmd", "files"}, {"module", serial}})["files"];
  }
  void Fault(const json& set) {
    ASSERT_TRUE(ControlCall(controlPath_, {{"cmd", "fault"}, {"module", 101}, {"set", set}})["ok"]);
  }

  std::string controlPath_;
  std::unique_ptr<Simulator> simulator_;
  std::thread thread_;
  uint16_t tftpPort_ = 0, servicePort_ = 0, peerPort_ = 0;
  int fd_ = -1;
};

TEST_F(TftpLine, UploadedProgramIsAnsweredFromANewPortKeptWithItsCrcAndReadBack) {
  const Bytes program = Pattern(1000);
  const auto answers = Upload(kPlcProgramFile, WithCrc(program), 1002);
  const std::vector<std::pair<uint16_t, uint16_t>> expected = {{4, 0}, {4, 1}, {4, 2}};
  EXPECT_EQ(answers, expected);
  EXPECT_NE(peerPort_, tftpPort_);
  // The module keeps the program as it came, its two check bytes included.
  EXPECT_EQ(Files()["plcLength"], 1002);
  EXPECT_EQ(Files(102)["plcLength"], 0);  // the other module keeps nothing
  EXPECT_EQ(ServicePort('p'), "My:1002,");
  EXPECT_EQ(Download(kPlcProgramFile), WithCrc(program));
}

TEST_F(TftpLine, OnlyTheExactNameIsTheProgram) {
  // Another spelling is a firmware file to the module: staged, the program untouched.
  for (const char* name : {"PLCDATA_.bin", "PlcData_Line7.bin", "plcdata_.bin"}) {
    const Bytes bytes = WithCrc(Pattern(100));
    ASSERT_EQ(Upload(name, bytes, bytes.size()).back().first, 4) << name;
    EXPECT_EQ(Files()["plcLength"], 0) << name;
    EXPECT_EQ(Files()["staged"]["name"], name);
    std::string error;
    EXPECT_FALSE(Download(name, &error)) << name;
    EXPECT_EQ(error, "#1:File not found") << name;
  }
}

TEST_F(TftpLine, ALineFileProgramIsKeptWithItsCrc) {
  // The line file gives the program as the tool uploads it.
  Simulator simulator(ParseLine(json::parse(R"({"network": "127.0.0.0", "mask": "255.0.0.0",
      "chains": [[{"serial": 7, "node": 9, "plc": {"program": "0102AABB"}}]]})")),
                      SimulatorOptions{});
  EXPECT_EQ(simulator.Module(0).Files().plcProgram, WithCrc({0x01, 0x02, 0xAA, 0xBB}));
}

TEST_F(TftpLine, UploadEndsAndChecksAsAnnounced) {
  const Bytes full = WithCrc(Pattern(510));  // 512 bytes: one full block, no empty one
  Bytes badCrc = WithCrc(Pattern(700));
  badCrc.back() ^= 1;
  const struct {
    const char* what;
    Bytes bytes;
    std::optional<uint64_t> tsize;
    std::vector<std::pair<uint16_t, uint16_t>> answers;
    int plcLength;
  } cases[] = {
      {"a multiple of 512 ends on its last full block", full, 512, {{4, 0}, {4, 1}}, 512},
      {"no tsize: a short block ends it",
       WithCrc(Pattern(600)),
       std::nullopt,
       {{4, 0}, {4, 1}, {4, 2}},
       602},
      {"just the two check bytes: an empty program, which removes it",
       WithCrc({}),
       2,
       {{4, 0}, {4, 1}},
       0},
      {"a wrong check value: ERROR 0 instead of the last ACK",
       badCrc,
       702,
       {{4, 0}, {4, 1}, {5, 0}},
       0},
      {"shorter than announced", WithCrc(Pattern(100)), 300, {{4, 0}, {5, 0}}, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Upload(kPlcProgramFile, c.bytes, c.tsize), c.answers) << c.what;
    EXPECT_EQ(Files()["plcLength"], c.plcLength) << c.what;
  }
}

TEST_F(TftpLine, ZeroTsizeDeletesTheProgramWithTheMalformedLengthError) {
  ASSERT_EQ(Upload(kPlcProgramFile, WithCrc(Pattern(40)), 42).size(), 2u);
  ASSERT_EQ(Files()["plcLength"], 42);
  SendTo(TftpRequest(2, kPlcProgramFile, 0), tftpPort_);
  const auto answer = Receive();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->Opcode(), 5);
  EXPECT_EQ(answer->Block(), 2);  // the error code
  EXPECT_EQ(answer->Message(), "malformed file length");
  EXPECT_EQ(Files()["plcLength"], 0);
  std::string error;
  EXPECT_FALSE(Download(kPlcProgramFile, &error));
  EXPECT_EQ(error, "#1:File not found");
  EXPECT_EQ(ServicePort('p'), "My:0,");
}

TEST_F(TftpLine, RepeatedDataAndRequestsAreAnsweredAgainFromTheSamePort) {
  SendTo(TftpRequest(2, kPlcProgramFile, 1026), tftpPort_);
  ASSERT_EQ(Receive()->Block(), 0);
  const uint16_t port = peerPort_;
  SendTo(TftpRequest(2, kPlcProgramFile, 1026), tftpPort_);  // as if ACK 0 had been lost
  auto again = Receive();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Block(), 0);
  EXPECT_EQ(peerPort_, port);
  const Bytes bytes = WithCrc(Pattern(1024));
  Bytes first{0, 3, 0, 1};
  first.insert(first.end(), bytes.begin(), bytes.begin() + 512);
  SendToPeer(first);
  EXPECT_EQ(Receive()->Block(), 1);
  SendToPeer(first);  // as if ACK 1 had been lost
  EXPECT_EQ(Receive()->Block(), 1);
  EXPECT_EQ(Files()["tftp"]["duplicates"], 2);
  EXPECT_EQ(Files()["plcLength"], 0);  // nothing stored before the end
}

TEST_F(TftpLine, FaultsLoseDoubleFailOrKillTheTransfer) {
  const Bytes bytes = WithCrc(Pattern(1400));  // blocks 1, 2 and a short 3
  // Every ACK twice.
  Fault({{"tftpDuplicateAck", true}});
  SendTo(TftpRequest(2, kPlcProgramFile, bytes.size()), tftpPort_);
  EXPECT_EQ(Receive()->Block(), 0);
  EXPECT_EQ(Receive()->Block(), 0);
  // ACK 1 lost once: nothing until DATA 1 comes again (or the server's own resend).
  Fault({{"tftpDuplicateAck", false}, {"tftpLose", 1}});
  Bytes first{0, 3, 0, 1};
  first.insert(first.end(), bytes.begin(), bytes.begin() + 512);
  SendToPeer(first);
  EXPECT_FALSE(Receive(300));
  SendToPeer(first);
  EXPECT_EQ(Receive()->Block(), 1);
  // ERROR in the middle instead of ACK 2.
  Fault({{"tftpLose", 0}, {"tftpError", 2}});
  Bytes second{0, 3, 0, 2};
  second.insert(second.end(), bytes.begin() + 512, bytes.begin() + 1024);
  SendToPeer(second);
  auto error = Receive();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->Opcode(), 5);
  EXPECT_EQ(error->Message(), "Disk full or allocation exceeded");
  // The module dies when ACK 1 is due: no answer, and it is unreachable afterwards.
  Fault({{"tftpError", 0}, {"tftpDie", 1}});
  SendTo(TftpRequest(2, kPlcProgramFile, bytes.size()), tftpPort_);
  EXPECT_EQ(Receive()->Block(), 0);
  SendToPeer(first);
  EXPECT_FALSE(Receive(500));
  EXPECT_FALSE(ControlCall(controlPath_, {{"cmd", "list"}})["modules"][0]["reachable"]);
  EXPECT_EQ(Files()["plcLength"], 0);
}

TEST_F(TftpLine, LostDataOfADownloadIsSentAgainWhenTheClientRepeatsItsAck) {
  ASSERT_EQ(Upload(kPlcProgramFile, WithCrc(Pattern(1000)), 1002).size(), 3u);
  Fault({{"tftpLose", 2}});
  SendTo(TftpRequest(1, kPlcProgramFile, 0), tftpPort_);
  ASSERT_EQ(Receive()->Block(), 1);
  SendToPeer({0, 4, 0, 1});
  EXPECT_FALSE(Receive(300));  // DATA 2 lost
  SendToPeer({0, 4, 0, 1});    // the client's resend of its last ACK
  const auto data = Receive();
  ASSERT_TRUE(data);
  EXPECT_EQ(data->Block(), 2);
  EXPECT_EQ(data->bytes.size(), 4u + 490u);  // 1002 bytes kept: 512 + 490
}

TEST_F(TftpLine, ShortDownloadRebootAndNewPortFaults) {
  ASSERT_EQ(Upload(kPlcProgramFile, WithCrc(Pattern(1000)), 1002).size(), 3u);
  // A download cut short: half of the 1002 bytes, in one short block.
  Fault({{"shortTftp", true}});
  const auto cut = Download(kPlcProgramFile);
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->size(), 501u);
  // A request sent again starts a new transfer from another port.
  Fault({{"shortTftp", false}, {"tftpRepeatNewPort", true}});
  SendTo(TftpRequest(2, kPlcProgramFile, 1026), tftpPort_);
  ASSERT_EQ(Receive()->Block(), 0);
  const uint16_t first = peerPort_;
  SendTo(TftpRequest(2, kPlcProgramFile, 1026), tftpPort_);
  ASSERT_EQ(Receive()->Block(), 0);
  EXPECT_NE(peerPort_, first);
  EXPECT_EQ(Files()["tftp"]["duplicates"], 0);
  // The module restarts when ACK 1 is due: no answer, rebooting, back later.
  Fault({{"tftpRepeatNewPort", false}, {"tftpReboot", 1}});
  const Bytes bytes = WithCrc(Pattern(600));
  SendTo(TftpRequest(2, kPlcProgramFile, bytes.size()), tftpPort_);
  ASSERT_EQ(Receive()->Block(), 0);
  Bytes block{0, 3, 0, 1};
  block.insert(block.end(), bytes.begin(), bytes.begin() + 512);
  SendToPeer(block);
  EXPECT_FALSE(Receive(300));
  EXPECT_EQ(
      ControlCall(controlPath_, {{"cmd", "counters"}, {"module", 101}})["counters"]["restarts"], 1);
  EXPECT_EQ(Files()["plcLength"], 1002);  // the old program stays
}

TEST_F(TftpLine, DuplicatedPacketsInBothDirections) {
  Fault({{"tftpDuplicate", true}});
  const Bytes bytes = WithCrc(Pattern(600));
  // The request arrives twice: one transfer, its ACK 0 twice per copy of the request.
  SendTo(TftpRequest(2, kPlcProgramFile, bytes.size()), tftpPort_);
  int acks = 0;
  while (auto answer = Receive(300)) acks += answer->Opcode() == 4 && answer->Block() == 0;
  EXPECT_EQ(acks, 4);
  EXPECT_EQ(Files()["tftp"]["requests"], 1);
  Bytes block{0, 3, 0, 1};
  block.insert(block.end(), bytes.begin(), bytes.begin() + 512);
  SendToPeer(block);
  acks = 0;
  while (auto answer = Receive(300)) acks += answer->Opcode() == 4 && answer->Block() == 1;
  EXPECT_EQ(acks, 4);  // taken once, acknowledged again for the doubled copy: each sent twice
  Bytes last{0, 3, 0, 2};
  last.insert(last.end(), bytes.begin() + 512, bytes.end());
  SendToPeer(last);
  while (Receive(300)) {
  }
  EXPECT_EQ(Files()["plcLength"], 602);
  Fault({{"tftpDuplicate", false}});
  EXPECT_EQ(Download(kPlcProgramFile), bytes);
}

TEST_F(TftpLine, FirmwareIsStagedUntilTheNextRestart) {
  const Bytes image = WithCrc(Pattern(3000, 5));
  ASSERT_EQ(Upload("BrevantrixUX_104_18.bin", image, image.size()).back().first, 4);
  EXPECT_EQ(Files()["staged"]["name"], "BrevantrixUX_104_18.bin");
  EXPECT_EQ(Files()["plcLength"], 0);
  auto reg25 = [&] {
    return ControlCall(controlPath_,
                       {{"cmd", "read"}, {"module", 101}, {"register", 25}})["values"][0]
        .get<int>();
  };
  EXPECT_EQ(reg25(), (104 << 8) | 14);  // 4.14 on a 0x09 module reports major + 100
  ASSERT_TRUE(ControlCall(controlPath_, {{"cmd", "reboot"}, {"module", 101}, {"ms", 50}})["ok"]);
  const uint32_t start = platform::GetTickCount();
  while (reg25() != ((104 << 8) | 18) && platform::TicksSince(start) < 3000) platform::SleepMs(20);
  EXPECT_EQ(reg25(), (104 << 8) | 18);
  EXPECT_TRUE(Files()["staged"].is_null());
}

TEST(SimTftp, RequestParserAndNameVersions) {
  const Bytes good = TftpRequest(2, "PlcData_.bin", 1002);
  auto parsed = tftp::ParseRequest(good.data(), good.size());
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->file, "PlcData_.bin");
  EXPECT_EQ(parsed->tsize, 1002u);
  const struct {
    const char* what;
    Bytes bytes;
  } bad[] = {
      {"too short", {0, 2, 'a'}},
      {"no NUL after the name", {0, 2, 'a', 'b'}},
      {"no mode", {0, 1, 'a', 0}},
      {"empty name", {0, 1, 0, 'o', 0}},
      {"DATA is no request", {0, 3, 0, 1, 0}},
  };
  for (const auto& c : bad)
    EXPECT_FALSE(tftp::ParseRequest(c.bytes.data(), c.bytes.size())) << c.what;
  EXPECT_EQ(tftp::Crc16Modbus(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x4B37);
  const struct {
    const char* name;
    int major, minor;
  } versions[] = {{"Brevantrix_4_12.bin", 4, 12},
                  {"OVT_104_2.bin", 4, 2},
                  {"TORMWEXALIN_V5_3.bin", 5, 3},
                  {"BrevantrixUX_4_18.bin", 4, 18}};
  for (const auto& v : versions) {
    const auto version = FirmwareVersionFromName(v.name);
    ASSERT_TRUE(version) << v.name;
    EXPECT_EQ(version->major, v.major) << v.name;
    EXPECT_EQ(version->minor, v.minor) << v.name;
  }
  EXPECT_FALSE(FirmwareVersionFromName("nounderscore.bin"));
}

}  // namespace
}  // namespace sim
