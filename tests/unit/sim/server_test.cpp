// The Modbus server and the control socket of a whole simulator on loopback (127.0.0.x are
// all local, so no lab is needed and no address is added anywhere).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "environment/test_folders.h"
#include "platform/tick.h"
#include "sim/control.h"
#include "sim/simulator.h"

namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;
using nlohmann::json;

class LoopbackLine : public ::testing::Test {
 protected:
  void SetUp() override {
    controlPath_ = fixtures::SocketPath("qm-sim-unit-" + std::to_string(getpid()) + ".sock");
    LineSetup line = ParseLine(json::parse(R"({"network": "127.0.0.0", "mask": "255.0.0.0",
        "timing": {"flashWriteMs": 30, "formatMs": 30, "rebootMs": 1500},
        "chains": [[{"serial": 101, "node": 1, "family": "0x09", "firmware": "4.14"},
                    {"serial": 102, "node": 2}, {"serial": 103, "node": 3}]]})"));
    SimulatorOptions options;
    options.modbusPort = 0;
    options.controlPath = controlPath_;  // the wildcard address on an ephemeral port
    simulator_ = std::make_unique<Simulator>(std::move(line), options);
    std::string error;
    ASSERT_TRUE(simulator_->Start(&error)) << error;
    port_ = simulator_->ModbusPort();
    thread_ = std::thread([this] { simulator_->Run(); });
  }
  void TearDown() override {
    if (simulator_) simulator_->Stop();
    if (thread_.joinable()) thread_.join();
    simulator_.reset();
  }

  int Connect(const char* address) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port_);
    inet_pton(AF_INET, address, &to.sin_addr);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0) << address;
    return fd;
  }
  static void SendAll(int fd, const Bytes& bytes) {
    ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  // Reads exactly `count` bytes, or what came before the peer closed / 3 s passed.
  static Bytes Receive(int fd, size_t count, uint32_t timeoutMs = 3000) {
    Bytes got;
    const uint32_t start = platform::GetTickCount();
    while (got.size() < count && platform::TicksSince(start) < timeoutMs) {
      pollfd waiting{fd, POLLIN, 0};
      if (poll(&waiting, 1, 20) <= 0) continue;
      uint8_t buffer[4096];
      const ssize_t n = recv(fd, buffer, std::min(sizeof buffer, count - got.size()), 0);
      if (n <= 0) break;
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }
  // True when the peer closed the connection (end of stream or reset) within timeoutMs.
  static bool Closed(int fd, uint32_t timeoutMs = 3000) {
    pollfd waiting{fd, POLLIN, 0};
    if (poll(&waiting, 1, static_cast<int>(timeoutMs)) <= 0) return false;
    uint8_t byte;
    return recv(fd, &byte, 1, 0) <= 0;
  }
  static Bytes Read(uint16_t transaction, uint16_t reg, uint16_t count) {
    const uint16_t address = static_cast<uint16_t>(reg - 1);
    return {static_cast<uint8_t>(transaction >> 8),
            static_cast<uint8_t>(transaction),
            0,
            0,
            0,
            6,
            1,
            3,
            static_cast<uint8_t>(address >> 8),
            static_cast<uint8_t>(address),
            static_cast<uint8_t>(count >> 8),
            static_cast<uint8_t>(count)};
  }
  static Bytes WriteMany(uint16_t transaction, uint16_t reg, const std::vector<uint16_t>& values) {
    const uint16_t address = static_cast<uint16_t>(reg - 1);
    const uint16_t length = static_cast<uint16_t>(7 + 2 * values.size());
    Bytes frame = {static_cast<uint8_t>(transaction >> 8),
                   static_cast<uint8_t>(transaction),
                   0,
                   0,
                   static_cast<uint8_t>(length >> 8),
                   static_cast<uint8_t>(length),
                   1,
                   16,
                   static_cast<uint8_t>(address >> 8),
                   static_cast<uint8_t>(address),
                   0,
                   static_cast<uint8_t>(values.size()),
                   static_cast<uint8_t>(2 * values.size())};
    for (uint16_t v : values) {
      frame.push_back(static_cast<uint8_t>(v >> 8));
      frame.push_back(static_cast<uint8_t>(v));
    }
    return frame;
  }
  // One read over an open connection; the register values.
  static std::vector<uint16_t> ReadValues(int fd, uint16_t reg, uint16_t count) {
    SendAll(fd, Read(0x0101, reg, count));
    const Bytes answer = Receive(fd, 9 + 2u * count);
    std::vector<uint16_t> values;
    if (answer.size() != 9 + 2u * count) return values;
    for (size_t i = 0; i < count; ++i)
      values.push_back(static_cast<uint16_t>(answer[9 + 2 * i] << 8 | answer[10 + 2 * i]));
    return values;
  }
  json Control(const json& request) { return ControlCall(controlPath_, request); }

  std::string controlPath_;
  std::unique_ptr<Simulator> simulator_;
  std::thread thread_;
  uint16_t port_ = 0;
};

TEST_F(LoopbackLine, EachConnectionBelongsToTheModuleAtItsLocalAddress) {
  const struct {
    const char* address;
    uint16_t serialLow;
  } cases[] = {{"127.0.0.20", 101}, {"127.0.0.21", 102}, {"127.0.0.22", 103}};
  for (const auto& c : cases) {
    const int fd = Connect(c.address);
    EXPECT_EQ(ReadValues(fd, 28, 2), (std::vector<uint16_t>{c.serialLow, 0})) << c.address;
    close(fd);
  }
  // An address without a module: the connection is closed at once.
  const int stranger = Connect("127.0.0.99");
  EXPECT_TRUE(Closed(stranger));
  close(stranger);
}

TEST_F(LoopbackLine, PipelinedRequestsOnSeveralConnectionsAreAnsweredInOrder) {
  std::vector<int> fds;
  for (int i = 0; i < 5; ++i) fds.push_back(Connect("127.0.0.20"));
  Bytes segment;
  for (uint16_t t = 1; t <= 4; ++t) {
    const Bytes request = Read(t, 25 + t, 1);
    segment.insert(segment.end(), request.begin(), request.end());
  }
  for (int fd : fds) SendAll(fd, segment);
  for (int fd : fds) {
    const Bytes answers = Receive(fd, 4 * 11);
    ASSERT_EQ(answers.size(), 44u);
    for (uint16_t t = 1; t <= 4; ++t) EXPECT_EQ(answers[(t - 1) * 11 + 1], t);
    close(fd);
  }
  EXPECT_EQ(Control({{"cmd", "counters"}, {"module", 101}})["counters"]["connections"], 5);
  EXPECT_EQ(Control({{"cmd", "counters"}, {"module", 101}})["counters"]["requests"]["3"], 20);
}

TEST_F(LoopbackLine, MalformedRequestClosesOnlyItsConnection) {
  const int bad = Connect("127.0.0.21");
  const int good = Connect("127.0.0.21");
  SendAll(bad, {0, 1, 0, 7, 0, 6, 1, 3, 0, 0, 0, 1});  // protocol id 7
  EXPECT_TRUE(Closed(bad));
  EXPECT_EQ(ReadValues(good, 28, 1), (std::vector<uint16_t>{102}));
  close(bad);
  close(good);
  EXPECT_EQ(Control({{"cmd", "counters"}, {"module", 102}})["counters"]["malformed"], 1);
}

TEST_F(LoopbackLine, SaveSurvivesARestartWhileAnUnsavedWriteIsLost) {
  int fd = Connect("127.0.0.20");
  SendAll(fd, WriteMany(1, 40, {1234}));
  ASSERT_EQ(Receive(fd, 12).size(), 12u);
  SendAll(fd, WriteMany(2, 64, {4321}));
  ASSERT_EQ(Receive(fd, 12).size(), 12u);
  SendAll(fd, WriteMany(3, 251, {3, 40, 1}));
  ASSERT_EQ(Receive(fd, 12).size(), 12u);
  // 253 reads 0 once the flash write is done.
  const uint32_t start = platform::GetTickCount();
  std::vector<uint16_t> value;
  while (platform::TicksSince(start) < 3000) {
    value = ReadValues(fd, 253, 1);
    if (value == std::vector<uint16_t>{0}) break;
    platform::SleepMs(10);
  }
  EXPECT_EQ(value, std::vector<uint16_t>{0});
  EXPECT_EQ(
      Control({{"cmd", "read"}, {"module", 101}, {"register", 40}, {"flash", true}})["values"][0],
      1234);
  // Restart: the answer comes, then the connection closes, then the module is away for its
  // reboot time (1500 ms). The clock starts before the command, so that however late this
  // thread runs, the time measured is never shorter than the time the module was away.
  const uint32_t restartSent = platform::GetTickCount();
  SendAll(fd, WriteMany(4, 251, {300, 333, 666}));
  EXPECT_EQ(Receive(fd, 12).size(), 12u);
  EXPECT_TRUE(Closed(fd));
  close(fd);
  EXPECT_TRUE(Control({{"cmd", "list"}})["modules"][0]["rebooting"].get<bool>());
  while (Control({{"cmd", "list"}})["modules"][0]["rebooting"].get<bool>() &&
         platform::TicksSince(restartSent) < 30000) {
    platform::SleepMs(10);
  }
  ASSERT_FALSE(Control({{"cmd", "list"}})["modules"][0]["rebooting"].get<bool>());
  EXPECT_GE(platform::TicksSince(restartSent), 1500u);
  fd = Connect("127.0.0.20");
  EXPECT_EQ(ReadValues(fd, 40, 1), std::vector<uint16_t>{1234});
  EXPECT_NE(ReadValues(fd, 64, 1), std::vector<uint16_t>{4321});
  close(fd);
  const json counters = Control({{"cmd", "counters"}, {"module", 101}})["counters"];
  EXPECT_EQ(counters["saves"], 1);
  EXPECT_EQ(counters["lastSave"], json::array({40, 1}));
  EXPECT_EQ(counters["restarts"], 1);
}

TEST_F(LoopbackLine, KilledModuleIsUnreachableUntilRevived) {
  const int fd = Connect("127.0.0.22");
  ASSERT_EQ(ReadValues(fd, 28, 1), std::vector<uint16_t>{103});
  EXPECT_TRUE(Control({{"cmd", "kill"}, {"module", "127.0.0.22"}})["ok"].get<bool>());
  EXPECT_TRUE(Closed(fd));
  close(fd);
  const int refused = Connect("127.0.0.22");
  EXPECT_TRUE(Closed(refused));
  close(refused);
  EXPECT_TRUE(Control({{"cmd", "revive"}, {"module", 103}})["ok"].get<bool>());
  const int again = Connect("127.0.0.22");
  EXPECT_EQ(ReadValues(again, 28, 1), std::vector<uint16_t>{103});
  close(again);
}

TEST_F(LoopbackLine, ModbusFaultsDelayDuplicateAndStaleAnswers) {
  ASSERT_TRUE(Control({{"cmd", "fault"},
                       {"module", 102},
                       {"set", {{"delayMs", 300}, {"discovery", false}}}})["ok"]);
  int fd = Connect("127.0.0.21");
  const uint32_t start = platform::GetTickCount();
  EXPECT_EQ(ReadValues(fd, 28, 1), std::vector<uint16_t>{102});
  EXPECT_GE(platform::TicksSince(start), 290u);
  close(fd);
  ASSERT_TRUE(Control(
      {{"cmd", "fault"}, {"module", 102}, {"set", {{"delayMs", 0}, {"duplicate", true}}}})["ok"]);
  fd = Connect("127.0.0.21");
  SendAll(fd, Read(0x0A0B, 28, 1));
  const Bytes twice = Receive(fd, 22);
  ASSERT_EQ(twice.size(), 22u);
  EXPECT_EQ(Bytes(twice.begin(), twice.begin() + 11), Bytes(twice.begin() + 11, twice.end()));
  close(fd);
  ASSERT_TRUE(Control({{"cmd", "clear-faults"}, {"module", 102}})["ok"]);
  ASSERT_TRUE(
      Control({{"cmd", "fault"}, {"module", 102}, {"set", {{"staleSequence", true}}}})["ok"]);
  fd = Connect("127.0.0.21");
  SendAll(fd, Read(0x0A0B, 28, 1));
  const Bytes stale = Receive(fd, 11);
  ASSERT_EQ(stale.size(), 11u);
  EXPECT_EQ(stale[0], 0x0A);
  EXPECT_EQ(stale[1], 0x0A);
  close(fd);
  ASSERT_TRUE(Control({{"cmd", "fault"},
                       {"module", 102},
                       {"set", {{"staleSequence", false}, {"drop", 1.0}}}})["ok"]);
  fd = Connect("127.0.0.21");
  SendAll(fd, Read(1, 28, 1));
  EXPECT_TRUE(Receive(fd, 11, 300).empty());
  close(fd);
}

TEST_F(LoopbackLine, SharedAddressFaultMovesTheModuleAndClearingItMovesItBack) {
  ASSERT_TRUE(
      Control({{"cmd", "fault"}, {"module", 103}, {"set", {{"sharesAddressOf", 102}}}})["ok"]);
  const json list = Control({{"cmd", "list"}})["modules"];
  EXPECT_EQ(list[2]["address"], "127.0.0.21");
  EXPECT_EQ(list[1]["address"], "127.0.0.21");
  ASSERT_TRUE(Control({{"cmd", "clear-faults"}, {"module", 103}})["ok"]);
  EXPECT_EQ(Control({{"cmd", "list"}})["modules"][2]["address"], "127.0.0.22");
}

TEST_F(LoopbackLine, ControlSocketRefusesBadRequestsWithAReason) {
  const struct {
    json request;
    const char* reason;
  } cases[] = {
      {{{"cmd", "dance"}, {"module", 101}}, "unknown command"},
      {{{"cmd", "read"}, {"module", 999}, {"register", 1}}, "no module"},
      {{{"cmd", "read"}, {"module", 101}, {"register", 600}}, "no such registers"},
      {{{"cmd", "write"}, {"module", 101}, {"register", 1}, {"values", {70000}}}, "0..65535"},
      {{{"cmd", "fault"}, {"module", 101}, {"set", {{"wobble", true}}}}, "unknown fault"},
      {{{"nothing", 1}}, "cmd"},
  };
  for (const auto& c : cases) {
    const json answer = Control(c.request);
    EXPECT_FALSE(answer["ok"].get<bool>()) << c.request.dump();
    EXPECT_NE(answer.value("error", std::string()).find(c.reason), std::string::npos)
        << answer.dump();
  }
  // Control writes go straight to RAM or flash without running the command block.
  ASSERT_TRUE(Control(
      {{"cmd", "write"}, {"module", 101}, {"register", 251}, {"values", {300, 333, 666}}})["ok"]);
  EXPECT_FALSE(Control({{"cmd", "list"}})["modules"][0]["rebooting"].get<bool>());
}

TEST_F(LoopbackLine, ALineThatIsNotUtf8IsRefusedAndTheSocketGoesOn) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, controlPath_.c_str(), controlPath_.size());
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string lines = "\xff\n{\"cmd\": \"ping\"}\n";
  ASSERT_EQ(send(fd, lines.data(), lines.size(), MSG_NOSIGNAL), static_cast<ssize_t>(lines.size()));
  std::string received;
  const uint32_t start = platform::GetTickCount();
  while (std::count(received.begin(), received.end(), '\n') < 2 &&
         platform::TicksSince(start) < 3000) {
    pollfd waiting{fd, POLLIN, 0};
    if (poll(&waiting, 1, 20) <= 0) continue;
    char buffer[4096];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    received.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  const size_t newline = received.find('\n');
  ASSERT_NE(newline, std::string::npos) << "no answer";
  const json refused = json::parse(received.substr(0, newline));
  EXPECT_EQ(refused["ok"], false);
  EXPECT_NE(refused.value("error", std::string()).find("parse_error"), std::string::npos);
  EXPECT_EQ(json::parse(received.substr(newline + 1))["ok"], true) << received;
  EXPECT_EQ(Control({{"cmd", "list"}})["modules"].size(), 3u);
}

TEST(SimWiring, ListShowsEachModulesNeighboursWithTheirFacingPorts) {
  // Chain: PC switch - A (left faces PC) - B (right faces PC) - C (left faces PC).
  LineSetup line = ParseLine(json::parse(R"({"chains": [[{"serial": 1, "node": 1},
      {"serial": 2, "node": 2, "direction": 1}, {"serial": 3, "node": 3}]]})"));
  SimulatorOptions options;
  options.modbusPort = 0;
  Simulator simulator(std::move(line), options);
  std::string error;
  ASSERT_TRUE(simulator.Start(&error)) << error;
  const json modules = simulator.HandleControl({{"cmd", "list"}})["modules"];
  const struct {
    int index;
    json left, right;
  } cases[] = {
      {0,
       nullptr,
       {{"serial", 2}, {"mac", "02:51:00:00:00:02"}, {"port", 1}}},  // B's right port faces the PC
      {1,
       {{"serial", 3}, {"mac", "02:51:00:00:00:03"}, {"port", 2}},
       {{"serial", 1}, {"mac", "02:51:00:00:00:01"}, {"port", 1}}},
      {2,
       {{"serial", 2}, {"mac", "02:51:00:00:00:02"}, {"port", 2}},
       nullptr},  // B's far port is its left
  };
  for (const auto& c : cases) {
    EXPECT_EQ(modules[c.index]["left"], c.left) << c.index;
    EXPECT_EQ(modules[c.index]["right"], c.right) << c.index;
  }
  EXPECT_TRUE(modules[0]["onPcSwitch"].get<bool>());
  EXPECT_FALSE(modules[1]["onPcSwitch"].get<bool>());
}

TEST(SimControlWords, CommandLineWordsBecomeRequests) {
  EXPECT_EQ(
      ControlRequestFromWords({"read", "101", "25", "8", "--flash"}),
      json({{"cmd", "read"}, {"module", 101}, {"register", 25}, {"count", 8}, {"flash", true}}));
  EXPECT_EQ(ControlRequestFromWords(
                {"fault", "192.168.202.21", "drop=0.25", "duplicate=true", "sharesAddressOf=null"}),
            json({{"cmd", "fault"},
                  {"module", "192.168.202.21"},
                  {"set", {{"drop", 0.25}, {"duplicate", true}, {"sharesAddressOf", nullptr}}}}));
  EXPECT_EQ(ControlRequestFromWords({"reboot", "7", "2500"}),
            json({{"cmd", "reboot"}, {"module", 7}, {"ms", 2500}}));
  EXPECT_THROW(ControlRequestFromWords({"read", "101"}), std::invalid_argument);
  EXPECT_THROW(ControlRequestFromWords({"jump"}), std::invalid_argument);
  EXPECT_THROW(ControlRequestFromWords({"kill", "abc"}), std::invalid_argument);
}

}  // namespace
}  // namespace sim
