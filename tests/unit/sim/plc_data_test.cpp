// The modules' PLC data area: the answers to each kind of request, and the server on loopback
// (127.0.0.x are all local) with the line file's initial data, the control commands and the
// faults. Requests are written here from bytes, independently of the tool's request code.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <future>
#include <memory>

#include <optional>
#include <thread>

#include "base/bytes.h"
#include "sim/plc_data.h"
#include "sim/simulator.h"

namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;
using nlohmann::json;

Bytes PlcDataRequest(uint16_t id, uint16_t kind, uint16_t address, uint16_t count,
                     Bytes value = {}) {
  Bytes r(12 + value.size());
  base::PutLE16(r.data(), id);
  base::PutLE16(r.data() + 2, kind);
  base::PutLE16(r.data() + 4, static_cast<uint16_t>(4 + value.size()));
  base::PutLE16(r.data() + 8, address);
  base::PutLE16(r.data() + 10, count);
  std::copy(value.begin(), value.end(), r.begin() + 12);
  return r;
}

TEST(PlcDataArea, AnswersEachKindOfRequest) {
  Bytes area(plcdata::kAreaSize, 0);
  area[9998] = 0x5A;
  area[9999] = 0xA5;
  struct Case {
    const char* what;
    Bytes request;
    uint8_t status;
    uint16_t dataLength;
  };
  Bytes shortWrite = PlcDataRequest(7, 2, 0, 4, {1, 2});
  Bytes lyingLength = PlcDataRequest(7, 1, 0, 4);
  base::PutLE16(lyingLength.data() + 4, 6);
  const Case cases[] = {
      {"read at the end", PlcDataRequest(1, 1, 9998, 2), 0x40, 2},
      {"read past the end", PlcDataRequest(2, 1, 9999, 2), 0x82, 0},
      {"read of 0 bytes", PlcDataRequest(3, 1, 0, 0), 0x83, 0},
      {"read over 1016 bytes", PlcDataRequest(4, 1, 0, 1017), 0x83, 0},
      {"write of 3 bytes", PlcDataRequest(5, 2, 0, 3, {1, 2, 3}), 0x83, 0},
      {"write shorter than its size", shortWrite, 0x84, 0},
      {"length field that lies", lyingLength, 0x84, 0},
      {"bit 32", PlcDataRequest(8, 3, 0, 32), 0x83, 0},
      {"bit word past the end", PlcDataRequest(9, 3, 9997, 1), 0x82, 0},
      {"kind 9", PlcDataRequest(10, 9, 0, 1), 0x81, 0},
  };
  for (const Case& c : cases) {
    const Bytes answer = plcdata::Handle(area, c.request.data(), c.request.size());
    ASSERT_EQ(answer.size(), 8u + c.dataLength) << c.what;
    EXPECT_EQ(answer[0], c.request[0]) << c.what;
    EXPECT_EQ(answer[2], c.status) << c.what;
    EXPECT_EQ(base::GetLE16(answer.data() + 4), base::GetLE16(c.request.data() + 2)) << c.what;
    EXPECT_EQ(base::GetLE16(answer.data() + 6), c.dataLength) << c.what;
  }
  EXPECT_TRUE(plcdata::Handle(area, PlcDataRequest(1, 1, 0, 1).data(), 11).empty())
      << "under 12 bytes is no request";
  EXPECT_EQ(plcdata::Handle(area, PlcDataRequest(1, 1, 9998, 2).data(), 12)[8], 0x5A);
}

TEST(PlcDataArea, WritesAndBitsChangeTheArea) {
  Bytes area(plcdata::kAreaSize, 0);
  Bytes r = PlcDataRequest(1, 2, 100, 4, {0x78, 0x56, 0x34, 0x12});
  EXPECT_EQ(plcdata::Handle(area, r.data(), r.size())[2], 0x40);
  EXPECT_EQ(base::GetLE32(area.data() + 100), 0x12345678u);
  r = PlcDataRequest(2, 3, 100, 31);
  plcdata::Handle(area, r.data(), r.size());
  EXPECT_EQ(base::GetLE32(area.data() + 100), 0x92345678u);
  r = PlcDataRequest(3, 4, 100, 3);
  plcdata::Handle(area, r.data(), r.size());
  EXPECT_EQ(base::GetLE32(area.data() + 100), 0x92345670u);
  r = PlcDataRequest(4, 2, 9999, 1, {0xEE});
  plcdata::Handle(area, r.data(), r.size());
  EXPECT_EQ(area[9999], 0xEE);
}

class PlcDataLine : public ::testing::Test {
 protected:
  void SetUp() override {
    LineSetup line = ParseLine(json::parse(R"({"network": "127.0.0.0", "mask": "255.0.0.0",
        "chains": [[{"serial": 101, "node": 1, "plcMode": true,
                     "plc": {"program": "0102AABB", "data": [{"offset": 10, "hex": "11 22 33"}]}},
                    {"serial": 102, "node": 2}]]})"));
    SimulatorOptions options;
    options.modbusPort = 0;  // free ports only: this runs outside a lab
    simulator_ = std::make_unique<Simulator>(std::move(line), options);
    std::string error;
    ASSERT_TRUE(simulator_->Start(&error)) << error;
    port_ = simulator_->PlcDataPort();
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
  }
  // The control command runs on the simulator's loop; the answer comes back through a promise.
  json Control(const json& request) {
    auto answer = std::make_shared<std::promise<json>>();
    std::future<json> result = answer->get_future();
    simulator_->Loop().Post(
        [this, request, answer] { answer->set_value(simulator_->HandleControl(request)); });
    if (result.wait_for(std::chrono::seconds(2)) != std::future_status::ready) return json();
    return result.get();
  }
  void Send(const Bytes& request, const char* address = "127.0.0.20") {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port_);
    inet_pton(AF_INET, address, &to.sin_addr);
    sendto(fd_, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  std::optional<Bytes> Receive(int timeoutMs, sockaddr_in* from = nullptr) {
    pollfd waiting{fd_, POLLIN, 0};
    if (poll(&waiting, 1, timeoutMs) <= 0) return std::nullopt;
    Bytes bytes(2048);
    sockaddr_in sender{};
    socklen_t length = sizeof sender;
    const ssize_t got =
        recvfrom(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&sender), &length);
    if (got < 0) return std::nullopt;
    bytes.resize(static_cast<size_t>(got));
    if (from) *from = sender;
    return bytes;
  }

  std::unique_ptr<Simulator> simulator_;
  std::thread thread_;
  uint16_t port_ = 0;
  int fd_ = -1;
};

TEST_F(PlcDataLine, TheModuleAnswersFromItsOwnAddressWithItsData) {
  Send(PlcDataRequest(0x0102, 1, 10, 3));
  sockaddr_in from{};
  const auto answer = Receive(2000, &from);
  ASSERT_TRUE(answer);
  ASSERT_EQ(answer->size(), 11u);
  EXPECT_EQ((*answer)[2], 0x40);
  EXPECT_EQ((*answer)[8], 0x11);
  EXPECT_EQ((*answer)[10], 0x33);
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
  EXPECT_STREQ(text, "127.0.0.20");
  EXPECT_EQ(ntohs(from.sin_port), port_);
  const json files = Control({{"cmd", "files"}, {"module", 101}});
  EXPECT_EQ(files["files"]["plcLength"], 6);  // kept with its two check bytes
}

TEST_F(PlcDataLine, OnlyAModuleThatRunsAProgramAnswers) {
  // Module 102 holds no program: silent, to its address and to the broadcast alike.
  Send(PlcDataRequest(7, 1, 0, 4), "127.0.0.21");
  EXPECT_FALSE(Receive(300));
  EXPECT_EQ(Control({{"cmd", "plc-read"}, {"module", 102}, {"offset", 0u}})["plcRequests"], 0);
  // Once its program is removed, module 101 is silent too.
  simulator_->Loop().Post([this] { simulator_->Module(0).Files().plcProgram.clear(); });
  ASSERT_EQ(Control({{"cmd", "files"}, {"module", 101}})["files"]["plcLength"], 0);
  Send(PlcDataRequest(8, 1, 0, 4));
  EXPECT_FALSE(Receive(300));
}

TEST_F(PlcDataLine, TheControlSocketReadsAndWritesTheArea) {
  EXPECT_TRUE(Control({{"cmd", "plc-write"},
                       {"module", 101},
                       {"offset", 20u},
                       {"value", 0x1234u},
                       {"size", 2u}})["ok"]);
  Send(PlcDataRequest(5, 1, 20, 2));
  const auto answer = Receive(2000);
  ASSERT_TRUE(answer);
  EXPECT_EQ(base::GetLE16(answer->data() + 8), 0x1234);
  Send(PlcDataRequest(6, 2, 30, 1, {0x7F}));
  ASSERT_TRUE(Receive(2000));
  const json read = Control({{"cmd", "plc-read"}, {"module", 101}, {"offset", 29u}, {"count", 3u}});
  EXPECT_EQ(read["hex"], "007F00");
  EXPECT_FALSE(
      Control({{"cmd", "plc-read"}, {"module", 101}, {"offset", 9999u}, {"count", 2u}})["ok"]);
  EXPECT_FALSE(
      Control({{"cmd", "plc-write"}, {"module", 101}, {"offset", 0u}, {"hex", "1"}})["ok"]);
}

TEST_F(PlcDataLine, FaultsSilenceDoubleOrRefuseTheAnswers) {
  struct Case {
    json fault;
    int answers;
    uint8_t status;
  };
  const Case cases[] = {{{{"plcSilent", true}}, 0, 0},
                        {{{"plcDuplicate", true}}, 2, 0x40},
                        {{{"plcError", 5u}}, 1, 0x85}};
  uint16_t id = 100;
  for (const Case& c : cases) {
    ASSERT_TRUE(Control({{"cmd", "clear-faults"}, {"module", 101}})["ok"]);
    ASSERT_TRUE(Control({{"cmd", "fault"}, {"module", 101}, {"set", c.fault}})["ok"]) << c.fault;
    Send(PlcDataRequest(++id, 1, 0, 4));
    int answers = 0;
    while (auto answer = Receive(answers == 0 ? 500 : 150)) {
      ++answers;
      EXPECT_EQ((*answer)[2], c.status) << c.fault;
      EXPECT_EQ(base::GetLE16(answer->data()), id);
    }
    EXPECT_EQ(answers, c.answers) << c.fault;
  }
}

TEST(PlcDataLineFile, RefusesDataOutsideTheArea) {
  const char* bad[] = {
      R"({"network": "127.0.0.0", "chains": [[{"serial": 1, "node": 1, "plc": {"data": [{"offset": 9999, "hex": "0102"}]}}]]})",
      R"({"network": "127.0.0.0", "chains": [[{"serial": 1, "node": 1, "plc": {"program": "0G"}}]]})",
      R"({"network": "127.0.0.0", "chains": [[{"serial": 1, "node": 1, "plc": {"size": 1}}]]})",
  };
  for (const char* text : bad) EXPECT_THROW(ParseLine(json::parse(text)), LineError) << text;
}

}  // namespace
}  // namespace sim
