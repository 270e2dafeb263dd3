// The register client against the in-process fake Modbus server on loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/format.h"
#include "comm/blocking_socket.h"
#include "comm/connect_inventory.h"
#include "fixtures/fake_modbus_server.h"
#include "fixtures/temp_log.h"
#include "platform/tick.h"

namespace {

using testing_support::FakeModbusServer;
using Fault = FakeModbusServer::Fault;

uint16_t Be16(const std::vector<uint8_t>& bytes, size_t at) {
  return static_cast<uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

class RecordingInventory : public comm::ConnectInventory {
 public:
  void UpdateAfterConnect(const comm::ModuleIdentity& identity, bool purge) override {
    identities.push_back(identity);
    purges.push_back(purge);
  }
  std::vector<comm::ModuleIdentity> identities;
  std::vector<bool> purges;
};

class RegisterClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const uint8_t mac[6] = {0x00, 0x1B, 0x3C, 0x4D, 0x5E, 0x6F};
    server.SetIdentity(0x0A05, "192.168.202.21", 270001, mac);
    client.SetInventory(&inventory);
    ASSERT_EQ(client._Connect(server.Address(), server.Port(), false), 1);
    server.ClearLog();
  }

  fixtures::ScopedTempLog log;
  FakeModbusServer server;
  RecordingInventory inventory;
  CBlockingSocket client;
};

TEST_F(RegisterClientTest, ConnectReadsIdentityAndReportsItToTheInventory) {
  ASSERT_EQ(inventory.identities.size(), 1u);
  const comm::ModuleIdentity& identity = inventory.identities[0];
  EXPECT_EQ(identity.serialNumber, 270001u);
  in_addr expected{};
  inet_pton(AF_INET, "192.168.202.21", &expected);
  EXPECT_EQ(identity.ipAddress, expected.s_addr);
  EXPECT_EQ(identity.mac, (std::array<uint8_t, 6>{0x00, 0x1B, 0x3C, 0x4D, 0x5E, 0x6F}));
  EXPECT_EQ(identity.ipText, "127.0.0.1");
  EXPECT_EQ(client.peerAddress(), "127.0.0.1");
  // The address is printed as a 32-bit number with the first octet in the low byte.
  EXPECT_EQ(log.CountContaining(
                "! Connected to Node SN: 270001, IP = 0x15caa8c0, MAC addr. 00:1B:3C:4D:5E:6F"),
            1u);
}

TEST_F(RegisterClientTest, ReadOfRegisterOneAloneAsksForTwoButCopiesOne) {
  server.SetRegister(1, 0x1234);
  server.SetRegister(2, 0x5678);
  uint16_t out[2] = {0xAAAA, 0xAAAA};
  ASSERT_EQ(client.ReadMultiplyRegisters(1, 1, out), 1);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].size(), 12u);
  EXPECT_EQ(requests[0][7], 3);
  EXPECT_EQ(Be16(requests[0], 8), 0);   // wire address = register - 1
  EXPECT_EQ(Be16(requests[0], 10), 2);  // quantity 2
  EXPECT_EQ(ntohs(out[0]), 0x1234);
  EXPECT_EQ(out[1], 0xAAAA);  // only 2 x count bytes are copied
}

TEST_F(RegisterClientTest, ReadRequestLayoutAndValuesStayInNetworkOrder) {
  for (uint16_t k = 0; k < 25; ++k) server.SetRegister(40 + k, static_cast<uint16_t>(0x100 + k));
  uint16_t out[25] = {};
  ASSERT_EQ(client.ReadMultiplyRegisters(40, 25, out), 1);
  const auto request = server.Requests().at(0);
  EXPECT_EQ(Be16(request, 2), 0);  // protocol
  EXPECT_EQ(Be16(request, 4), 6);  // length field
  EXPECT_EQ(request[6], 1);        // unit
  EXPECT_EQ(Be16(request, 8), 39);
  EXPECT_EQ(Be16(request, 10), 25);
  for (uint16_t k = 0; k < 25; ++k) EXPECT_EQ(ntohs(out[k]), 0x100 + k);
}

TEST_F(RegisterClientTest, WriteOfOneRegisterIsFunctionSixAndOfNoneSendsNothing) {
  const uint16_t value = htons(0xBEEF);
  uint16_t echo = 0;
  EXPECT_EQ(client.WriteMultiplyRegisters(40, 0, &value, &echo), 0);
  EXPECT_EQ(server.RequestCount(), 0u);

  ASSERT_EQ(client.WriteMultiplyRegisters(40, 1, &value, &echo), 1);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].size(), 12u);
  EXPECT_EQ(requests[0][7], 6);
  EXPECT_EQ(Be16(requests[0], 4), 6);
  EXPECT_EQ(Be16(requests[0], 8), 39);
  EXPECT_EQ(Be16(requests[0], 10), 0xBEEF);
  EXPECT_EQ(ntohs(echo), 0xBEEF);
  EXPECT_EQ(server.Register(40), 0xBEEF);
}

TEST_F(RegisterClientTest, WriteOfSeveralRegistersIsFunctionSixteen) {
  const uint16_t values[3] = {htons(3), htons(40), htons(1)};
  ASSERT_EQ(client.WriteMultiplyRegisters(251, 3, values, nullptr), 1);
  const auto request = server.Requests().at(0);
  ASSERT_EQ(request.size(), 13u + 6u);
  EXPECT_EQ(request[7], 16);
  EXPECT_EQ(Be16(request, 4), 2 * 3 + 7);
  EXPECT_EQ(Be16(request, 8), 250);
  EXPECT_EQ(Be16(request, 10), 3);
  EXPECT_EQ(request[12], 6);
  EXPECT_EQ(Be16(request, 13), 3);
  EXPECT_EQ(Be16(request, 15), 40);
  EXPECT_EQ(Be16(request, 17), 1);
}

TEST_F(RegisterClientTest, OversizedWritesAndReadsAreRefusedWithoutTraffic) {
  std::vector<uint16_t> values(128, 0);
  EXPECT_THROW(client.WriteMultiplyRegisters(1, 128, values.data(), nullptr),
               CBlockingSocketException);
  EXPECT_EQ(client.WriteMultipleRegisters(1, 128, values.data()), 0);
  std::vector<uint16_t> words(1020, 0);
  EXPECT_THROW(client.ReadMultiplyRegisters(1, 1020, words.data()), CBlockingSocketException);
  EXPECT_EQ(server.RequestCount(), 0u);
  // 1019 registers still fit one answer.
  EXPECT_EQ(client.ReadMultiplyRegisters(1, 1019, words.data()), 1);
}

TEST_F(RegisterClientTest, TransactionIdentifiersFollowTheProcessWideCounter) {
  // A second client on its own connection draws from the same counter, so the identifiers of
  // the two interleave without a gap.
  CBlockingSocket other;
  ASSERT_EQ(other._Connect(server.Address(), server.Port(), false), 1);
  server.ClearLog();
  uint16_t out[2];
  ASSERT_EQ(client.ReadMultiplyRegisters(10, 2, out), 1);
  ASSERT_EQ(other.ReadMultiplyRegisters(10, 2, out), 1);
  ASSERT_EQ(client.ReadMultiplyRegisters(10, 2, out), 1);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  const uint16_t first = Be16(requests[0], 0);
  EXPECT_EQ(Be16(requests[1], 0), static_cast<uint16_t>(first + 1));
  EXPECT_EQ(Be16(requests[2], 0), static_cast<uint16_t>(first + 2));
}

TEST_F(RegisterClientTest, AnswerOfAnotherTransactionYieldsZeroWithoutException) {
  server.QueueFaults({{Fault::kWrongTransaction}});
  uint16_t out[4] = {};
  EXPECT_EQ(client.ReadMultiplyRegisters(40, 4, out), 0);
  EXPECT_EQ(server.RequestCount(), 1u);
  // An answer with another function code is refused the same way.
  server.QueueFaults({{Fault::kOtherFunction}});
  EXPECT_EQ(client.ReadMultiplyRegisters(40, 4, out), 0);
  EXPECT_TRUE(client.IsOpen());
}

TEST_F(RegisterClientTest, ExceptionAnswerThrowsRequestResponceTextWithNumberOne) {
  uint16_t out[8] = {};
  server.QueueFaults({{Fault::kException, 2}});
  try {
    client.ReadMultiplyRegisters(300, 8, out);
    FAIL() << "no exception";
  } catch (const CBlockingSocketException& e) {
    const uint16_t id = Be16(server.Requests().at(0), 0);
    char expected[256];
    std::snprintf(expected, sizeof expected,
                  "Request: (trId:#0x%x,func:#0x3,len:#6,startAddr:#299)\n\t\t\t\t\t\t\t\t\t\t"
                  "Responce: (func:#0x83,len:#3,errCode:#0x2)",
                  id);
    EXPECT_EQ(e.Text(), expected);
    EXPECT_EQ(e.Number(), 1);
    EXPECT_EQ(e.GetErrorMessage(), std::string(expected) + " error #1");
  }
  EXPECT_EQ(out[0], 2);                  // the code is stored in the first word
  EXPECT_EQ(server.RequestCount(), 1u);  // an exception answer is not retried
}

TEST_F(RegisterClientTest, SilentModuleExhaustsBothTriesAndThrowsTheTimeoutText) {
  client.SetTimeoutMs(1000);
  server.SetDefaultFault({Fault::kSilent});
  uint16_t out[2];
  const uint32_t start = platform::GetTickCount();
  try {
    client.ReadMultiplyRegisters(17, 2, out);
    FAIL() << "no exception";
  } catch (const CBlockingSocketException& e) {
    const uint32_t elapsed = platform::TicksSince(start);
    EXPECT_GE(elapsed, 1000u + 70u + 1000u);
    const uint16_t wireId = Be16(server.Requests().at(1), 0);
    const uint16_t shownId = static_cast<uint16_t>((wireId >> 8) | (wireId << 8));
    int ms = -1;
    unsigned id = 0;
    ASSERT_EQ(
        std::sscanf(e.Text().c_str(), "Receive timeout of %d ms. on requestID: 0x%04X !", &ms, &id),
        2)
        << e.Text();
    EXPECT_GE(ms, 1000);
    EXPECT_EQ(id, shownId);  // shown with its bytes swapped
    EXPECT_EQ(e.Text().back(), '\n');
    EXPECT_EQ(client.lastError(), e.Text());
  }
  EXPECT_EQ(server.RequestCount(), 2u);
  EXPECT_TRUE(client.IsOpen());  // a time-out leaves the connection open
}

TEST_F(RegisterClientTest, LateAnswerIsDrainedBeforeTheNextRequest) {
  client.SetTimeoutMs(1000);
  // Both tries' answers come in two pieces, the second piece after its try has given up.
  server.QueueFaults({{Fault::kSplit, 0, 1500}, {Fault::kSplit, 0, 1500}});
  uint16_t out[2];
  EXPECT_THROW(client.ReadMultiplyRegisters(17, 2, out), CBlockingSocketException);
  // Once the server has sent both answers whole, the late tail lies queued at the client.
  ASSERT_TRUE(server.WaitForAnswersSent(2, 10000));
  ASSERT_EQ(server.RequestCount(), 2u);
  server.SetRegister(18, 7);
  ASSERT_EQ(client.ReadMultiplyRegisters(18, 1, out), 1);
  EXPECT_EQ(ntohs(out[0]), 7);
  // One request: the first try already found its own answer, not the stale bytes.
  EXPECT_EQ(server.RequestCount(), 3u);
}

TEST_F(RegisterClientTest, AnswerHeadersThatCannotBeReadAreFailedTries) {
  client.SetTimeoutMs(1000);  // the first read of a try waits whole seconds
  struct Case {
    uint16_t lengthField;
    const char* reason;  // nullptr: the answer fits the buffer and is waited for
  };
  const Case cases[] = {
      {2043, "Answer longer than 2048 bytes"},  // 6 + 2043 bytes
      {2042, nullptr},                          // exactly 2048 bytes, of which 8 come
      {1, "Answer without function code"},
      {0, "Answer without function code"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lengthField);
    server.ClearLog();
    const FakeModbusServer::Step bad{.fault = Fault::kBadLength, .lengthField = c.lengthField};
    server.QueueFaults({bad, bad});
    uint16_t out[2];
    try {
      client.ReadMultiplyRegisters(40, 2, out);
      ADD_FAILURE() << "no exception";
    } catch (const CBlockingSocketException& e) {
      const uint16_t wireId = Be16(server.Requests().at(1), 0);
      const int shownId = static_cast<uint16_t>((wireId >> 8) | (wireId << 8));
      if (c.reason != nullptr) {
        EXPECT_EQ(e.Text(), base::Format("Receive error: \"%s\" on requestID: 0x%04X !\n", c.reason,
                                         shownId));
      } else {
        EXPECT_EQ(e.Text().rfind("Receive timeout of ", 0), 0u) << e.Text();
      }
    }
    EXPECT_EQ(server.RequestCount(), 2u);  // both tries ran
    EXPECT_TRUE(client.IsOpen());          // and the connection stands
  }
  server.ClearLog();
  server.SetRegister(40, 9);
  uint16_t out[2] = {};
  ASSERT_EQ(client.ReadMultiplyRegisters(40, 2, out), 1);
  EXPECT_EQ(ntohs(out[0]), 9);
  EXPECT_EQ(server.RequestCount(), 1u);
}

TEST_F(RegisterClientTest, FailedSendDropsTheConnectionWithTheSendingText) {
  server.QueueFaults({{Fault::kAnswerThenReset}});
  uint16_t out[2];
  ASSERT_EQ(client.ReadMultiplyRegisters(17, 2, out), 1);
  ASSERT_TRUE(server.WaitForAnswersSent(1, 5000));  // the connection is reset by now
  server.ClearLog();
  try {
    client.ReadMultiplyRegisters(17, 2, out);
    FAIL() << "no exception";
  } catch (const CBlockingSocketException& e) {
    EXPECT_TRUE(std::regex_match(
        e.Text(),
        std::regex(R"(TimeOut - sending transID: 0x[0-9A-F]{4} to node "127\.0\.0\.1"\.)")))
        << e.Text();
    EXPECT_EQ(client.lastError(), e.Text());
  }
  EXPECT_FALSE(client.IsOpen());
  EXPECT_EQ(server.RequestCount(), 0u);  // a failed send is not tried again
}

TEST_F(RegisterClientTest, AnswerInTwoPiecesIsReassembled) {
  server.SetRegister(90, 3);
  server.QueueFaults({{Fault::kSplit, 0, 30}});
  uint16_t out[28] = {};
  ASSERT_EQ(client.ReadMultiplyRegisters(90, 28, out), 1);
  EXPECT_EQ(ntohs(out[0]), 3);
  EXPECT_EQ(server.RequestCount(), 1u);
}

TEST_F(RegisterClientTest, ShortAnswerIsAFailedTry) {
  server.SetRegister(40, 11);
  server.QueueFaults({{Fault::kShort}});
  uint16_t out[4] = {};
  ASSERT_EQ(client.ReadMultiplyRegisters(40, 4, out), 1);  // second try answered whole
  EXPECT_EQ(ntohs(out[0]), 11);
  EXPECT_EQ(server.RequestCount(), 2u);

  server.ClearLog();
  server.QueueFaults({{Fault::kShort}, {Fault::kShort}});
  try {
    client.ReadMultiplyRegisters(40, 4, out);
    FAIL() << "no exception";
  } catch (const CBlockingSocketException& e) {
    EXPECT_NE(e.Text().find("Answer too short"), std::string::npos) << e.Text();
  }
  EXPECT_EQ(server.RequestCount(), 2u);
}

TEST_F(RegisterClientTest, PeerClosingIsAResetThatDropsTheConnection) {
  server.QueueFaults({{Fault::kClose}});
  uint16_t out[2];
  try {
    client.ReadMultiplyRegisters(17, 2, out);
    FAIL() << "no exception";
  } catch (const CBlockingSocketException& e) {
    EXPECT_EQ(e.Text().rfind("Receive error: (#10054,\"Receive\") on requestID: 0x", 0), 0u)
        << e.Text();
  }
  EXPECT_FALSE(client.IsOpen());
  EXPECT_EQ(log.CountContaining("Receive error: (#10054,\"Receive\")"), 1u);
  // The next call finds no socket.
  try {
    client.ReadMultiplyRegisters(17, 2, out);
    FAIL() << "no exception";
  } catch (const CBlockingSocketException& e) {
    EXPECT_EQ(e.Text(), "Connection to Module  \"127.0.0.1\" was broken.");
  }
}

TEST_F(RegisterClientTest, WriteRegisterReconnectsOnceAfterAFailure) {
  server.QueueFaults({{Fault::kClose}});
  ASSERT_EQ(client.WriteRegister(48, 1), 1);
  EXPECT_EQ(server.ConnectionCount(), 2);
  EXPECT_EQ(server.Register(48), 1);
  EXPECT_EQ(inventory.purges.back(), true);  // the reconnect purges duplicates

  server.SetDefaultFault({Fault::kClose});
  EXPECT_EQ(client.WriteRegister(48, 2), 0);
  const uint16_t values[2] = {htons(1), htons(2)};
  EXPECT_EQ(client.WriteMultipleRegisters(40, 2, values), 0);
}

TEST_F(RegisterClientTest, SecondFailedConnectLeavesWriteMultipleRegistersButNotWriteRegister) {
  server.StopListening();  // every reconnect is refused
  server.QueueFaults({{Fault::kClose}});
  const uint16_t values[2] = {htons(1), htons(2)};
  const uint32_t start = platform::GetTickCount();
  try {
    client.WriteMultipleRegisters(40, 2, values);
    FAIL() << "no exception";
  } catch (const CBlockingSocketException& e) {
    EXPECT_EQ(e.Text(), "Connect");
    EXPECT_EQ(e.Number(), 10061);
  }
  EXPECT_GE(platform::TicksSince(start), 500u);  // the pause between the two connects
  EXPECT_EQ(client.WriteRegister(48, 1), 0);     // WriteRegister gives up quietly
  EXPECT_EQ(server.ConnectionCount(), 1);
}

// Two threads share one client and both reconnect after every failed write: each reconnect
// reads the peer's address and port while the other thread's connect writes them (a race under
// ThreadSanitizer unless both are read under the client's state lock).
TEST_F(RegisterClientTest, ReconnectsOnTwoThreadsGoToTheSamePeer) {
  server.SetDefaultFault({Fault::kClose});
  auto writeMany = [this] {
    for (int i = 0; i < 100; ++i) EXPECT_EQ(client.WriteRegister(48, static_cast<uint16_t>(i)), 0);
  };
  std::thread other(writeMany);
  writeMany();
  other.join();
  EXPECT_EQ(client.peerAddress(), server.Address());
  // Every reconnect reached the server: 1 + 200 writes x 1 reconnect each.
  EXPECT_EQ(server.ConnectionCount(), 201);
}

TEST_F(RegisterClientTest, SaveToFlashWritesTheValueThenTheCommandBlockAndPolls) {
  ASSERT_EQ(client.SaveToFlash(40, 1500), 1);
  const auto writes = server.Writes();
  ASSERT_GE(writes.size(), 4u);
  EXPECT_EQ(writes[0], std::make_pair(uint16_t{40}, uint16_t{1500}));
  EXPECT_EQ(writes[1], std::make_pair(uint16_t{251}, uint16_t{3}));
  EXPECT_EQ(writes[2], std::make_pair(uint16_t{252}, uint16_t{40}));
  EXPECT_EQ(writes[3], std::make_pair(uint16_t{253}, uint16_t{1}));
  const auto requests = server.Requests();
  EXPECT_EQ(requests[0][7], 6);
  EXPECT_EQ(requests[1][7], 16);
  ASSERT_GE(requests.size(), 3u);
  EXPECT_EQ(requests.back()[7], 3);
  EXPECT_EQ(Be16(requests.back(), 8), 252);  // polls register 253

  server.ClearLog();
  ASSERT_EQ(client.SaveToFlashGroup(90, 28), 1);
  const auto groupWrites = server.Writes();
  ASSERT_EQ(groupWrites.size(), 3u);  // nothing but the command block
  EXPECT_EQ(groupWrites[1].second, 90);
  EXPECT_EQ(groupWrites[2].second, 28);
}

TEST_F(RegisterClientTest, SaveToFlashFailsWhen253NeverReadsZero) {
  server.SetSaveDelayMs(-1);
  server.SetRegister(253, 1);
  const uint32_t start = platform::GetTickCount();
  EXPECT_EQ(client.SaveToFlash(40, 5), 0);
  EXPECT_GE(platform::TicksSince(start), 3000u);
  EXPECT_EQ(server.Register(40), 5);  // the value written stays
}

TEST_F(RegisterClientTest, SaveToFlashFailsWhenEveryPollThrows) {
  server.QueueFaults({{Fault::kNone}, {Fault::kNone}});
  server.SetDefaultFault({Fault::kException, 2});
  EXPECT_EQ(client.SaveToFlash(40, 5), 0);
  EXPECT_GT(server.RequestCount(), 10u);  // it kept polling for 3 s
  EXPECT_EQ(client.SaveToFlashGroup(40, 1), 0);
}

TEST(RegisterClientConnect, ModuleThatDoesNotAnswerTheIdentityReadStillConnects) {
  fixtures::ScopedTempLog log;
  FakeModbusServer server;
  server.SetDefaultFault({FakeModbusServer::Fault::kWrongTransaction});
  RecordingInventory inventory;
  CBlockingSocket client;
  client.SetInventory(&inventory);
  EXPECT_EQ(client._Connect(server.Address(), server.Port(), true), 1);
  EXPECT_TRUE(client.IsOpen());
  EXPECT_EQ(server.RequestCount(), 2u);  // read, 300 ms, read again
  EXPECT_TRUE(inventory.identities.empty());
  EXPECT_EQ(log.CountContaining("Unable to Read device SN, IP, and MAC from nodeIP: 127.0.0.1 !?!"),
            1u);
}

TEST(RegisterClientConnect, IdentityReadExceptionIsLoggedAndTheConnectionStands) {
  fixtures::ScopedTempLog log;
  FakeModbusServer server;
  server.SetDefaultFault({FakeModbusServer::Fault::kException, 2});
  CBlockingSocket client;
  client.SetInventory(nullptr);
  EXPECT_EQ(client._Connect(server.Address(), server.Port(), false), 1);
  EXPECT_EQ(log.CountContaining("Unable to Read device SN, IP, and MAC from nodeIP: 127.0.0.1, "
                                "exeptionMsg: Request: (trId:"),
            1u);
}

TEST(RegisterClientConnect, RefusedConnectionIsThrownAndLeavesNoSocket) {
  // A socket bound to a port but not listening refuses connections to it, and holds the port
  // for the whole test so that nobody else can take it meanwhile.
  const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(holder, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
  CBlockingSocket client;
  try {
    client._Connect("127.0.0.1", ntohs(address.sin_port), false);
    ADD_FAILURE() << "no exception";
  } catch (const CBlockingSocketException& e) {
    EXPECT_EQ(e.Text(), "Connect");
    EXPECT_EQ(e.Number(), 10061);
  }
  EXPECT_FALSE(client.IsOpen());
  ::close(holder);
}

}  // namespace
