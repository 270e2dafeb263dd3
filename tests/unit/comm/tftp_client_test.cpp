// CTFTPClient against a scripted peer on loopback: each case is a table row of what the peer
// answers to what it receives, and what the client must have sent and reported.
#include "comm/tftp_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "fixtures/temp_log.h"
#include "fixtures/tftp_peer.h"

namespace {

using namespace test;  // NOLINT: the peer's helpers

int RunUpload(CTFTPClient& client, int result, int maxSteps = 1000) {
  while (result == CTFTPClient::kGoOn && maxSteps-- > 0) result = client.ContinuePut();
  return result;
}

class TftpClient : public ::testing::Test {
 protected:
  fixtures::ScopedTempLog log_;  // the client's log lines go to a temporary folder
};

TEST_F(TftpClient, UploadsSendDataWithTheCrcAndEndAsTheLengthSays) {
  const struct {
    const char* what;
    size_t length;
    std::string tsize;
    std::vector<size_t> blocks;  // data length of each DATA block sent
  } cases[] = {
      {"0 data bytes: the two CRC bytes", 0, "2", {2}},
      {"510 bytes: one full block, no empty one", 510, "512", {512}},
      {"1000 bytes: 2 blocks", 1000, "1002", {512, 490}},
      {"1022 bytes: two full blocks", 1022, "1024", {512, 512}},
  };
  for (const auto& c : cases) {
    ScriptedPeer peer(AckEverything);
    const Bytes data = Pattern(c.length);
    CTFTPClient client;
    EXPECT_EQ(RunUpload(client, client.Put_Buf(data.data(), static_cast<uint32_t>(data.size()),
                                               "PlcData_.bin", "127.0.0.1", peer.Port())),
              CTFTPClient::kDone)
        << c.what << ": " << client.GetLastError();
    const auto got = peer.ReceivedBytes();
    ASSERT_EQ(got.size(), 1 + c.blocks.size()) << c.what;
    EXPECT_EQ(Opcode(got[0]), 2) << c.what;
    EXPECT_EQ(Tsize(got[0]), c.tsize) << c.what;
    EXPECT_NE(
        std::string(got[0].begin(), got[0].end()).find(std::string("PlcData_.bin\0octet\0", 19)),
        std::string::npos)
        << c.what;
    Bytes sent;
    for (size_t i = 0; i < c.blocks.size(); ++i) {
      EXPECT_EQ(Opcode(got[1 + i]), 3) << c.what;
      EXPECT_EQ(Block(got[1 + i]), i + 1) << c.what;
      EXPECT_EQ(got[1 + i].size() - 4, c.blocks[i]) << c.what;
      sent.insert(sent.end(), got[1 + i].begin() + 4, got[1 + i].end());
    }
    Bytes expected = data;
    const uint16_t crc = tftp::Crc16Modbus(data.data(), data.size());
    expected.push_back(static_cast<uint8_t>(crc));
    expected.push_back(static_cast<uint8_t>(crc >> 8));
    EXPECT_EQ(sent, expected) << c.what;
    EXPECT_EQ(client.GetBytesDone(), c.length + 2) << c.what;
    EXPECT_EQ(client.GetRetransmissions(), 0u) << c.what;
  }
}

TEST_F(TftpClient, WriteRequestAnswers) {
  const struct {
    const char* what;
    bool probe;
    std::vector<Reply> answer;  // to the first WRQ; later ones get nothing
    int result;
    std::string lastError;
  } cases[] = {
      {"probe answered #2:malformed file length",
       true,
       {{Error(2, "malformed file length")}},
       CTFTPClient::kDone,
       "#2:malformed file length"},
      {"probe acknowledged", true, {{Ack(0)}}, CTFTPClient::kDone, ""},
      {"ERROR 10 counts as the ACK", false, {{Error(10, "exists")}}, CTFTPClient::kGoOn, ""},
      {"ACK 0 from another address is not the module's",
       false,
       {{Ack(0), Reply::kStranger}},
       CTFTPClient::kFailed,
       "No answer."},
      {"another ERROR is kept over No answer.",
       false,
       {{Error(3, "Disk full")}},
       CTFTPClient::kFailed,
       "#3:Disk full"},
      {"an ACK of another block", false, {{Ack(7)}}, CTFTPClient::kFailed, "No ACK found."},
  };
  for (const auto& c : cases) {
    ScriptedPeer peer(
        [&](const Bytes&, size_t index) { return index == 0 ? c.answer : std::vector<Reply>{}; });
    CTFTPClient client;
    // Short waits where the 25 resends are counted; a long one where the answer comes at once,
    // so that a busy machine cannot make the request go out twice before it is answered.
    client.SetWaitMsForTests(c.result == CTFTPClient::kFailed ? 10 : 2000);
    const Bytes data = Pattern(100);
    EXPECT_EQ(client.Put_Buf(data.data(), 100, "PlcData_.bin", "127.0.0.1", peer.Port(), c.probe),
              c.result)
        << c.what;
    EXPECT_EQ(std::string(client.GetLastError()), c.lastError) << c.what;
    const auto got = peer.ReceivedBytes();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(Tsize(got[0]), c.probe ? "0" : "102") << c.what;
    if (c.result == CTFTPClient::kFailed) {
      EXPECT_EQ(got.size(), 26u) << c.what;  // the request and 25 resends
      EXPECT_EQ(client.GetRetransmissions(), 25u) << c.what;
    } else {
      EXPECT_EQ(got.size(), 1u) << c.what;
    }
  }
}

TEST_F(TftpClient, EchoedAcksAreSkippedWithoutAResend) {
  // Every ACK comes twice: the second copy of ACK n arrives while ACK n+1 is awaited.
  ScriptedPeer peer([](const Bytes& got, size_t index) {
    auto replies = AckEverything(got, index);
    if (!replies.empty()) replies.push_back(replies.front());
    return replies;
  });
  CTFTPClient client;
  const Bytes data = Pattern(1400);
  EXPECT_EQ(RunUpload(client,
                      client.Put_Buf(data.data(), 1400, "PlcData_.bin", "127.0.0.1", peer.Port())),
            CTFTPClient::kDone)
      << client.GetLastError();
  EXPECT_EQ(peer.ReceivedBytes().size(), 4u);  // WRQ and three blocks, each once
  EXPECT_EQ(client.GetRetransmissions(), 0u);
}

TEST_F(TftpClient, AnErrorInTheMiddleIsTheLastErrorAfterTheRetries) {
  // Answered by what arrives, not by its place in the exchange: a request or block 1 sent again
  // on a busy machine is acknowledged again, and only the first block 2 gets the error.
  bool errorSent = false;
  ScriptedPeer peer([&errorSent](const Bytes& got, size_t) -> std::vector<Reply> {
    if (Opcode(got) == 2) return {{Ack(0)}};
    if (Opcode(got) == 3 && Block(got) == 1) return {{Ack(1)}};
    if (Opcode(got) == 3 && Block(got) == 2 && !errorSent) {
      errorSent = true;
      return {{Error(3, "Disk full or allocation exceeded")}};
    }
    return {};
  });
  CTFTPClient client;
  client.SetWaitMsForTests(10);
  const Bytes data = Pattern(1400);
  EXPECT_EQ(RunUpload(client,
                      client.Put_Buf(data.data(), 1400, "PlcData_.bin", "127.0.0.1", peer.Port())),
            CTFTPClient::kFailed);
  EXPECT_STREQ(client.GetLastError(), "#3:Disk full or allocation exceeded");
  EXPECT_EQ(client.GetBytesDone(), 512u);
  const auto got = peer.ReceivedBytes();
  const auto block2 = std::count_if(got.begin(), got.end(), [](const Bytes& packet) {
    return Opcode(packet) == 3 && Block(packet) == 2;
  });
  EXPECT_EQ(block2, 26);  // block 2 and its 25 resends
  EXPECT_EQ(Opcode(got.back()), 3);
}

TEST_F(TftpClient, LaterPacketsGoToThePortTheModuleAnsweredFrom) {
  ScriptedPeer peer([](const Bytes& got, size_t) -> std::vector<Reply> {
    if (Opcode(got) == 2) return {{Ack(0), Reply::kAlt}};
    if (Opcode(got) == 3) return {{Ack(Block(got)), Reply::kAlt}};
    return {};
  });
  CTFTPClient client;
  const Bytes data = Pattern(700);
  EXPECT_EQ(RunUpload(client, client.Put_Buf(data.data(), 700, "x.bin", "127.0.0.1", peer.Port())),
            CTFTPClient::kDone);
  const auto got = peer.Received();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_FALSE(got[0].second);  // the request went to the request port
  EXPECT_TRUE(got[1].second);
  EXPECT_TRUE(got[2].second);
}

TEST_F(TftpClient, FileDownloadEndsOnAnEmptyBlockAndStaysAwayFromOtherSenders) {
  const Bytes file = Pattern(1024);
  ScriptedPeer peer([&](const Bytes& got, size_t) -> std::vector<Reply> {
    if (Opcode(got) == 1) {
      // A stranger's DATA 1 first: the client must wait for the module's own.
      return {{Data(1, Bytes(512, 0xEE)), Reply::kStranger},
              {Data(1, Bytes(file.begin(), file.begin() + 512)), Reply::kAlt}};
    }
    if (Opcode(got) == 4 && Block(got) == 1)
      return {{Data(2, Bytes(file.begin() + 512, file.end())), Reply::kAlt}};
    if (Opcode(got) == 4 && Block(got) == 2) return {{Data(3, {}), Reply::kAlt}};
    return {};
  });
  const std::string path = log_.folder() + "download.bin";
  CTFTPClient client;
  int result = client.Get(path, "PlcData_.bin", "127.0.0.1", peer.Port());
  int steps = 0;
  while (result == CTFTPClient::kGoOn) {
    result = client.ContinueGet();
    ++steps;
  }
  ASSERT_EQ(result, CTFTPClient::kDone) << client.GetLastError();
  EXPECT_EQ(steps, 3);
  std::ifstream in(path, std::ios::binary);
  const Bytes written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, file);
  // The last ACK leaves the client as it ends: the peer's thread may not have taken it yet.
  for (int i = 0; i < 200 && peer.ReceivedBytes().size() < 4; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const auto got = peer.ReceivedBytes();
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(Tsize(got[0]), "0");
  EXPECT_EQ(Block(got[3]), 3);
}

TEST_F(TftpClient, FailedFileDownloadLeavesAnExistingFileAlone) {
  const std::string path = log_.folder() + "keep.bin";
  { std::ofstream(path) << "old"; }
  ScriptedPeer peer([](const Bytes& got, size_t) -> std::vector<Reply> {
    if (Opcode(got) == 1) return {{Data(1, Pattern(512))}};
    return {{Error(1, "File not found")}};
  });
  CTFTPClient client;
  int result = client.Get(path, "PlcData_.bin", "127.0.0.1", peer.Port());
  while (result == CTFTPClient::kGoOn) result = client.ContinueGet();
  EXPECT_EQ(result, CTFTPClient::kFailed);
  EXPECT_STREQ(client.GetLastError(), "Can't get data.");
  client.Reset();
  std::ifstream in(path);
  std::string text;
  in >> text;
  EXPECT_EQ(text, "old");
  EXPECT_FALSE(std::ifstream(path + ".part").good());
}

TEST_F(TftpClient, BufferDownloadSkipsEchoesAndStopsAtTheBufferEnd) {
  const Bytes file = Pattern(712);
  ScriptedPeer peer([&](const Bytes& got, size_t) -> std::vector<Reply> {
    if (Opcode(got) == 1) return {{Data(1, Bytes(file.begin(), file.begin() + 512))}};
    // DATA 1 again (an echo) before DATA 2.
    if (Opcode(got) == 4 && Block(got) == 1)
      return {{Data(1, Bytes(file.begin(), file.begin() + 512))},
              {Data(2, Bytes(file.begin() + 512, file.end()))}};
    return {};
  });
  const struct {
    const char* what;
    uint32_t size;
    int result;
  } cases[] = {{"fits", 712, CTFTPClient::kDone},
               {"200 bytes too small", 600, CTFTPClient::kFailed}};
  for (const auto& c : cases) {
    Bytes buffer(c.size + 16, 0xA5);  // 16 guard bytes after the buffer given
    CTFTPClient client;
    int result = client.Get_Buf(buffer.data(), c.size, "127.0.0.1", peer.Port());
    while (result == CTFTPClient::kGoOn) result = client.ContinueGet_Buf(buffer.data());
    EXPECT_EQ(result, c.result) << c.what << ": " << client.GetLastError();
    EXPECT_EQ(Bytes(buffer.end() - 16, buffer.end()), Bytes(16, 0xA5)) << c.what;
    if (c.result == CTFTPClient::kDone) {
      EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 712), file);
      EXPECT_EQ(client.GetBytesReceived(), 712u);
    } else {
      EXPECT_STREQ(client.GetLastError(), "The received data do not fit the buffer of 600 bytes.");
      EXPECT_EQ(client.GetBytesReceived(), 512u);
    }
  }
}

TEST_F(TftpClient, DeadModuleIsGivenUpWithNoAnswerAfterTheCountedRetries) {
  ScriptedPeer peer([](const Bytes&, size_t) { return std::vector<Reply>{}; });
  CTFTPClient client;
  client.SetWaitMsForTests(5);
  const Bytes data = Pattern(10);
  EXPECT_EQ(client.Put_Buf(data.data(), 10, "PlcData_.bin", "127.0.0.1", peer.Port()),
            CTFTPClient::kFailed);
  EXPECT_STREQ(client.GetLastError(), "No answer.");
  EXPECT_EQ(client.GetRetransmissions(), 25u);
  EXPECT_EQ(client.GetReadTimeouts(), 26u);
  uint8_t buffer[16];
  EXPECT_EQ(client.Get_Buf(buffer, sizeof buffer, "127.0.0.1", peer.Port()), CTFTPClient::kGoOn);
  EXPECT_EQ(client.ContinueGet_Buf(buffer), CTFTPClient::kFailed);
  EXPECT_STREQ(client.GetLastError(), "Can't get packet.");
  EXPECT_EQ(client.GetRetransmissions(), 25u + 24u);
  EXPECT_EQ(client.ContinueGet(), CTFTPClient::kFailed);  // the failed step left state 2
  CTFTPClient idle;
  EXPECT_EQ(idle.ContinueGet(), CTFTPClient::kFailed);
  EXPECT_STREQ(idle.GetLastError(), "Not started.");
  EXPECT_EQ(idle.ContinuePut(), CTFTPClient::kFailed);
  EXPECT_STREQ(idle.GetLastError(), "Not connected.");
}

TEST(TftpPacket, AppendsStopBelow1024AndReadsStayInside) {
  CTFTPPacket packet;
  EXPECT_TRUE(packet.AddMem(Bytes(1023, 1).data(), 1023));
  EXPECT_FALSE(packet.AddByte(0));
  EXPECT_FALSE(packet.Valid());
  packet.Clear();
  EXPECT_TRUE(packet.AddWord(0x1234));
  EXPECT_EQ(packet.GetWord(0), 0x1234);
  EXPECT_EQ(packet.GetWord(1), 0);  // not wholly inside
  uint8_t out[4];
  size_t copied = 9;
  EXPECT_TRUE(packet.GetMem(2, out, 0, &copied));
  EXPECT_EQ(copied, 0u);
  EXPECT_FALSE(packet.GetMem(3, out, sizeof out, &copied));
  EXPECT_FALSE(packet.GetMem(0, out, 1, &copied));
  EXPECT_TRUE(packet.MakeRequest(tftp::kOpWrq, std::string(512, 'n'), 0));
  EXPECT_FALSE(packet.MakeRequest(tftp::kOpWrq, std::string(513, 'n'), 0));
  CTFTPClient client;
  EXPECT_EQ(client.Put_Buf(nullptr, 0, std::string(513, 'n'), "127.0.0.1", 9),
            CTFTPClient::kFailed);
  EXPECT_STREQ(client.GetLastError(), "Can't create read req.");
  // 65,535 blocks carry at most 33,553,920 bytes with the check bytes: a larger upload is
  // refused before anything is read or sent.
  const uint8_t byte = 0;
  EXPECT_EQ(client.Put_Buf(&byte, 65535u * 512u - 1u, "x.bin", "127.0.0.1", 9),
            CTFTPClient::kFailed);
  EXPECT_STREQ(client.GetLastError(),
               "The data are too large: 33553919 bytes (at most 33553920 with the check bytes).");
  EXPECT_EQ(client.GetRetransmissions(), 0u);
}

TEST(TftpPacket, ErrorTextsAreBoundedByThePacket) {
  const struct {
    Bytes bytes;
    std::optional<std::string> text;
  } cases[] = {
      {Error(2, "malformed file length"), "#2:malformed file length"},
      {{0, 5, 0, 1, 'a', 'b'}, "#1:ab"},  // no terminator: up to the end
      {{0, 5, 0, 7}, "#7:"},
      {{0, 5, 0}, std::nullopt},
      {Ack(1), std::nullopt},
  };
  for (const auto& c : cases) {
    CTFTPPacket packet;
    packet.AddMem(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(tftp::ErrorText(packet), c.text);
  }
  CTFTPPacket longError;
  longError.SetSize(1024);
  std::memcpy(longError.Buffer(), Error(0, std::string(1019, 'x')).data(), 1024);
  EXPECT_EQ(tftp::ErrorText(longError), "Can't get error.");
}

TEST(TftpCrc, KnownVectors) {
  const struct {
    Bytes bytes;
    uint16_t crc;
  } cases[] = {
      {{}, 0xFFFF},
      {{'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0x4B37},
      {{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}, 0xCDC5},  // sent as C5 CD after the frame
      {{0x11, 0x03, 0x00, 0x6B, 0x00, 0x03}, 0x8776},
  };
  for (const auto& c : cases) EXPECT_EQ(tftp::Crc16Modbus(c.bytes.data(), c.bytes.size()), c.crc);
}

}  // namespace
