// linesim's Modbus side as a third-party client (Debian's mbpoll) sees it from the PC
// namespace of a lab, and the module-side effects of saves and restarts.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "fixtures/integration_helpers.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/temp_log.h"
#include "platform/icmp.h"
#include "platform/tick.h"

namespace {

using test::demo_line::kNode2;  // family 0x09, firmware 4.14.2, at 192.168.202.21
const char* const kMbpoll = "/usr/bin/mbpoll";

// Reads `count` holding registers from `first` (1-based) with mbpoll; the values by number,
// empty when mbpoll failed.
std::map<int, uint16_t> Mbpoll(const test::Lab& lab, const std::string& address, int first,
                               int count) {
  const test::RunResult run =
      lab.Exec("pc",
               {kMbpoll, "-m", "tcp", "-a", "1", "-t", "4", "-r", std::to_string(first), "-c",
                std::to_string(count), "-1", "-o", "2", address},
               15000);
  std::map<int, uint16_t> values;
  if (run.exitCode != 0) return values;
  static const std::regex line(R"(\[(\d+)\]:\s+(\d+))");
  for (std::sregex_iterator it(run.out.begin(), run.out.end(), line), end; it != end; ++it) {
    values[std::stoi((*it)[1])] = static_cast<uint16_t>(std::stoul((*it)[2]));
  }
  return values;
}

// Writes values from `first` with mbpoll (function 6 for one value, 16 for several).
bool MbpollWrite(const test::Lab& lab, const std::string& address, int first,
                 const std::vector<uint16_t>& values) {
  std::vector<std::string> argv = {
      kMbpoll, "-m", "tcp", "-a",   "1", "-t", "4", "-r", std::to_string(first),
      "-1",    "-o", "2",   address};
  for (uint16_t value : values) argv.push_back(std::to_string(value));
  return lab.Exec("pc", argv, 15000).exitCode == 0;
}

bool Pingable(const test::Lab& lab, const std::string& address) {
  uint32_t value = 0;
  inet_pton(AF_INET, address.c_str(), &value);
  return lab.RunInNamespace("pc", [value] { return platform::PingIpv4(value, 500) ? 1 : 0; }) == 1;
}

TEST(LinesimModbus, MbpollReadsIdentityRegistersThatMatchTheDescription) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  for (const test::LinesimModule& module : line.List()) {
    if (module.serial != kNode2 && module.serial != 3100204) continue;
    const auto values = Mbpoll(lab, module.address, 25, 8);
    ASSERT_EQ(values.size(), 8u) << module.address;
    unsigned a, b, c, d;
    ASSERT_EQ(std::sscanf(module.address.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d), 4);
    unsigned m[6];
    ASSERT_EQ(std::sscanf(module.mac.c_str(), "%x:%x:%x:%x:%x:%x", &m[0], &m[1], &m[2], &m[3],
                          &m[4], &m[5]),
              6);
    EXPECT_EQ(values.at(25), module.firmwareRegister);
    EXPECT_EQ(values.at(26), (a << 8) | b);
    EXPECT_EQ(values.at(27), (c << 8) | d);
    EXPECT_EQ(values.at(28), module.serial & 0xFFFF);
    EXPECT_EQ(values.at(29), module.serial >> 16);
    EXPECT_EQ(values.at(30), (m[0] << 8) | m[1]);
    EXPECT_EQ(values.at(31), (m[2] << 8) | m[3]);
    EXPECT_EQ(values.at(32), (m[4] << 8) | m[5]);
  }
  // The demo's node 2 is a family 0x09 module with firmware 4.14.2: 104.14 in register 25.
  const auto node2 = Mbpoll(lab, "192.168.202.21", 6, 13);
  ASSERT_EQ(node2.size(), 13u);
  EXPECT_EQ(node2.at(6) & 0xF0, 0x90);
  EXPECT_EQ(node2.at(12) >> 8, 2);
  EXPECT_EQ(node2.at(17) >> 8, 0x09);
  EXPECT_EQ(node2.at(18), 1);
  EXPECT_EQ(line.Module(kNode2).firmwareRegister, (104 << 8) | 14);
  EXPECT_GE(line.Counters(kNode2).reads, 2u);
}

TEST(LinesimModbus, SaveSurvivesARestartWhileAnUnsavedWriteDoesNot) {
  QM_SKIP_WITHOUT_LAB();
  // The demo line with a long reboot, so that the checks made while the module is away fall
  // inside its absence however slowly this test runs.
  constexpr uint32_t kRebootMs = 6000;
  fixtures::TempFolder folder;
  const std::string lineFile = folder.path() + "demo-long-reboot.json";
  {
    nlohmann::json demo =
        nlohmann::json::parse(fixtures::ReadFile(test::SourceFile("sim/lines/demo.json")));
    demo["timing"] = {{"rebootMs", kRebootMs}};
    std::ofstream(lineFile) << demo.dump();
  }
  test::Lab lab;
  test::Linesim line(lab, lineFile);
  const std::string address = "192.168.202.21";
  ASSERT_TRUE(MbpollWrite(lab, address, 40, {1234}));
  ASSERT_TRUE(MbpollWrite(lab, address, 64, {4321}));
  ASSERT_TRUE(MbpollWrite(lab, address, 251, {3, 40, 1}));
  // The module clears 253 once the flash write is done.
  EXPECT_TRUE(
      test::Linesim::WaitUntil([&] { return Mbpoll(lab, address, 253, 1)[253] == 0; }, 5000));
  EXPECT_EQ(line.Read(kNode2, 40, 1, true), std::vector<uint16_t>{1234});
  EXPECT_EQ(line.Counters(kNode2).saves, 1u);
  EXPECT_EQ(line.Counters(kNode2).lastSaveFirst, 40);

  // The clock starts before the restart command: the time measured can only be longer than the
  // module's absence, never shorter.
  const uint32_t restartSent = platform::GetTickCount();
  ASSERT_TRUE(MbpollWrite(lab, address, 251, {300, 333, 666}));
  EXPECT_TRUE(line.Module(kNode2).rebooting);
  EXPECT_FALSE(Pingable(lab, address)) << "unreachable while it restarts";
  ASSERT_TRUE(
      test::Linesim::WaitUntil([&] { return !line.Module(kNode2).rebooting; }, kRebootMs + 30000));
  EXPECT_GE(platform::TicksSince(restartSent), kRebootMs);
  const auto after = Mbpoll(lab, address, 40, 25);
  ASSERT_EQ(after.size(), 25u);
  EXPECT_EQ(after.at(40), 1234);
  EXPECT_NE(after.at(64), 4321);
  EXPECT_EQ(line.Counters(kNode2).restarts, 1u);
}

TEST(LinesimModbus, KilledModuleAnswersNothingAndRevivedOneAnswersAgain) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  const std::string address = "192.168.202.22";
  ASSERT_EQ(Mbpoll(lab, address, 28, 2).size(), 2u);
  line.Kill(3100103);
  EXPECT_TRUE(Mbpoll(lab, address, 28, 2).empty());
  EXPECT_FALSE(Pingable(lab, address));
  EXPECT_EQ(Mbpoll(lab, "192.168.202.21", 28, 2).size(), 2u) << "its neighbour still answers";
  line.Revive(3100103);
  EXPECT_EQ(Mbpoll(lab, address, 28, 2).size(), 2u);
}

// In the PC namespace: opens a connection to the module, reads register 28, has linesim kill
// the module, and sends another read. 1 when the first read was answered and afterwards
// nothing came back at all (no answer, no close, no reset), as with a module without power.
int ConnectionGoesSilentWhenKilled(const test::Linesim& line, uint32_t serial,
                                   const std::string& address) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(502);
  inet_pton(AF_INET, address.c_str(), &to.sin_addr);
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return 10;
  const uint8_t request[12] = {0, 1, 0, 0, 0, 6, 1, 3, 0, 27, 0, 1};
  uint8_t answer[64];
  if (send(fd, request, sizeof request, MSG_NOSIGNAL) != 12) return 11;
  pollfd waiting{fd, POLLIN, 0};
  if (poll(&waiting, 1, 3000) != 1 || recv(fd, answer, sizeof answer, 0) != 11) return 12;
  line.Kill(serial);
  if (send(fd, request, sizeof request, MSG_NOSIGNAL) != 12) return 13;
  const int ready = poll(&waiting, 1, 1500);
  close(fd);
  return ready == 0 ? 1 : 14;
}

TEST(LinesimModbus, OpenConnectionOfAKilledModuleGoesSilent) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  EXPECT_EQ(
      lab.RunInNamespace(
          "pc", [&] { return ConnectionGoesSilentWhenKilled(line, 3100102, "192.168.202.21"); }),
      1);
  EXPECT_FALSE(line.Module(3100102).alive);
}

TEST(LinesimModbus, IcmpEchoIsAnsweredByLiveModulesOnly) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  line.Kill(3100105);
  line.Reboot(3100106, 20000);
  for (const test::LinesimModule& module : line.List()) {
    EXPECT_EQ(Pingable(lab, module.address), module.reachable) << module.address;
  }
  EXPECT_FALSE(Pingable(lab, "192.168.202.200")) << "no module there";
}

}  // namespace
