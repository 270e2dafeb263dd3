// Discovery answers of linesim as they arrive on the PC's wire: a discover request built from
// raw bytes (fixtures/raw_discover.h, independently of the tool's and linesim's frame code) is
// sent from the PC namespace, and every answer frame is checked byte by byte.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

#include <nlohmann/json.hpp>

#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/raw_discover.h"
#include "fixtures/temp_log.h"
#include "platform/tick.h"
#include "sim/line.h"

namespace {

using nlohmann::json;
using Bytes = std::vector<uint8_t>;

using test::Be16;
using test::OnesComplement;

std::string MacText(const uint8_t* mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

// Runs in the PC namespace: sends one discover request with the given sequence number from
// UDP port 34531 and returns every answer frame (hex) that came to that port within
// collectMs, as JSON: {"pcMac": "...", "frames": ["hex", ...]}.
std::string SendDiscoverAndCollect(const std::string& ifname, uint32_t sequence,
                                   uint32_t collectMs) {
  const int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
  if (fd < 0) return "";
  ifreq request{};
  std::strncpy(request.ifr_name, ifname.c_str(), IFNAMSIZ - 1);
  if (ioctl(fd, SIOCGIFHWADDR, &request) != 0 || ioctl(fd, SIOCGIFINDEX, &request) != 0) {
    close(fd);
    return "";
  }
  ifreq hardware{};
  std::strncpy(hardware.ifr_name, ifname.c_str(), IFNAMSIZ - 1);
  ioctl(fd, SIOCGIFHWADDR, &hardware);
  uint8_t pcMac[6];
  std::memcpy(pcMac, hardware.ifr_hwaddr.sa_data, 6);
  sockaddr_ll link{};
  link.sll_family = AF_PACKET;
  link.sll_protocol = htons(ETH_P_ALL);
  link.sll_ifindex = request.ifr_ifindex;
  if (bind(fd, reinterpret_cast<sockaddr*>(&link), sizeof link) != 0) {
    close(fd);
    return "";
  }
  const auto frame = test::RawDiscoverFrame(pcMac, sequence);
  json result = {{"pcMac", MacText(pcMac)}, {"frames", json::array()}};
  if (send(fd, frame.data(), frame.size(), 0) != static_cast<ssize_t>(frame.size())) {
    close(fd);
    return "";
  }
  const uint32_t start = platform::GetTickCount();
  while (platform::TicksSince(start) < collectMs) {
    pollfd waiting{fd, POLLIN, 0};
    if (poll(&waiting, 1, 10) <= 0) continue;
    uint8_t buffer[2048];
    sockaddr_ll from{};
    socklen_t fromLength = sizeof from;
    const ssize_t got =
        recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (got < 42 || from.sll_pkttype == PACKET_OUTGOING) continue;
    if (Be16(buffer + 12) != 0x0800 || buffer[23] != 17 ||
        Be16(buffer + 36) != test::kRawDiscoverReplyPort)
      continue;
    static const char* hex = "0123456789abcdef";
    std::string text;
    for (ssize_t i = 0; i < got; ++i) {
      text += hex[buffer[i] >> 4];
      text += hex[buffer[i] & 15];
    }
    result["frames"].push_back(text);
  }
  close(fd);
  return result.dump();
}

struct Answers {
  std::string pcMac;
  std::vector<Bytes> frames;
};

Answers Discover(const test::Lab& lab, uint32_t sequence, uint32_t collectMs = 400) {
  const std::string ifname = lab.PcInterface();
  const auto text = lab.RunInNamespaceForText(
      "pc", [&] { return SendDiscoverAndCollect(ifname, sequence, collectMs); }, 20000);
  Answers answers;
  if (!text || text->empty()) {
    ADD_FAILURE() << "the raw discover could not be sent";
    return answers;
  }
  const json parsed = json::parse(*text);
  answers.pcMac = parsed["pcMac"];
  for (const auto& hex : parsed["frames"]) {
    Bytes frame;
    const std::string h = hex;
    for (size_t i = 0; i + 1 < h.size(); i += 2)
      frame.push_back(static_cast<uint8_t>(std::stoi(h.substr(i, 2), nullptr, 16)));
    answers.frames.push_back(frame);
  }
  return answers;
}

// Every check of one answer frame against the module that should have sent it; the problems
// found, empty when it is correct.
std::string CheckAnswer(const Bytes& f, const std::string& pcMac, uint32_t sequence,
                        const test::LinesimModule& module) {
  std::string problems;
  auto expect = [&](bool ok, const char* what) {
    if (!ok) problems += std::string(what) + "; ";
  };
  expect(f.size() >= 42 + 8, "frame too short");
  if (!problems.empty()) return problems;
  expect(MacText(f.data()) == pcMac, "destination MAC is not the requester's");
  expect(MacText(f.data() + 6) == module.mac, "source MAC is not the module's");
  expect(f[14] == 0x45, "IPv4 header");
  const size_t total = Be16(f.data() + 16);
  expect(total + 14 <= f.size(), "IPv4 total length");
  expect(OnesComplement(f.data() + 14, 20, 0) == 0, "IPv4 header checksum");
  char source[16];
  std::snprintf(source, sizeof source, "%u.%u.%u.%u", f[26], f[27], f[28], f[29]);
  expect(module.address == source, "source address is not the module's");
  expect(f[30] == 255 && f[31] == 255 && f[32] == 255 && f[33] == 255,
         "destination is not 255.255.255.255");
  expect(Be16(f.data() + 34) == 55555, "source port");
  const size_t udpLength = Be16(f.data() + 38);
  expect(udpLength == total - 20, "UDP length");
  if (udpLength != total - 20 || total + 14 > f.size()) return problems;
  const uint32_t pseudo = 17 + static_cast<uint32_t>(udpLength) + Be16(f.data() + 26) +
                          Be16(f.data() + 28) + Be16(f.data() + 30) + Be16(f.data() + 32);
  expect(OnesComplement(f.data() + 34, udpLength, pseudo) == 0, "UDP checksum");
  const uint8_t* p = f.data() + 42;
  expect(p[0] == 0x1F, "code 0x1F");
  expect(p[2] == module.packetFlags, "packet flags");
  expect(p[3] == module.recordLength && udpLength == 8u + 8u + module.recordLength,
         "record length");
  expect(p[4] == static_cast<uint8_t>(sequence) && p[5] == static_cast<uint8_t>(sequence >> 8) &&
             p[6] == static_cast<uint8_t>(sequence >> 16) &&
             p[7] == static_cast<uint8_t>(sequence >> 24),
         "sequence not echoed");
  const uint8_t* r = p + 8;
  expect(((uint32_t{r[0]} << 24) | (r[1] << 16) | (r[2] << 8) | r[3]) == module.serial,
         "serial in the record");
  char recordAddress[16];
  std::snprintf(recordAddress, sizeof recordAddress, "%u.%u.%u.%u", r[4], r[5], r[6], r[7]);
  expect(module.address == recordAddress, "address in the record");
  if (module.recordLength >= 20) {
    expect(r[16] == module.linePosition, "line position");
    expect(r[18] == (module.firmwareRegister >> 8) && r[19] == (module.firmwareRegister & 0xFF),
           "firmware");
  }
  return problems;
}

uint32_t SerialOf(const Bytes& frame) {
  const uint8_t* r = frame.data() + 50;
  return (uint32_t{r[0]} << 24) | (r[1] << 16) | (r[2] << 8) | r[3];
}

TEST(LinesimDiscovery, RawDiscoverGetsOneCorrectAnswerPerLiveModule) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  line.Kill(3100203);
  line.Reboot(3100204, 20000);
  std::map<uint32_t, test::LinesimModule> modules;
  for (auto& module : line.List()) modules[module.serial] = module;

  const uint32_t sequence = 0x80000001;
  const Answers answers = Discover(lab, sequence);
  std::map<uint32_t, int> answered;
  for (const Bytes& frame : answers.frames) {
    ASSERT_GE(frame.size(), 54u);
    const uint32_t serial = SerialOf(frame);
    ASSERT_TRUE(modules.count(serial)) << "answer from an unknown serial " << serial;
    ++answered[serial];
    EXPECT_EQ(CheckAnswer(frame, answers.pcMac, sequence, modules[serial]), "") << serial;
  }
  int live = 0;
  for (const auto& [serial, module] : modules) {
    EXPECT_EQ(answered.count(serial) ? answered[serial] : 0, module.reachable ? 1 : 0) << serial;
    live += module.reachable;
  }
  EXPECT_EQ(live, 10);
  EXPECT_EQ(line.Counters(3100101).discoverAnswers, 1u);
  EXPECT_EQ(line.Counters(3100203).discoverAnswers, 0u);
}

TEST(LinesimDiscovery, FaultsDropDuplicateDelayAndStaleTheAnswers) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  line.SetFault(3100101, {{"drop", 1.0}});
  line.SetFault(3100102, {{"duplicate", true}});
  line.SetFault(3100103, {{"staleSequence", true}});
  line.SetFault(3100104, {{"delayMs", 600}});
  line.SetFault(3100105, {{"drop", 1.0}, {"discovery", false}});  // a Modbus-only fault
  const uint32_t sequence = 0x80000010;
  const Answers quick = Discover(lab, sequence, 400);
  std::map<uint32_t, std::vector<const Bytes*>> bySerial;
  for (const Bytes& frame : quick.frames) bySerial[SerialOf(frame)].push_back(&frame);
  EXPECT_EQ(bySerial.count(3100101), 0u);
  EXPECT_EQ(bySerial[3100102].size(), 2u);
  ASSERT_EQ(bySerial[3100103].size(), 1u);
  EXPECT_EQ((*bySerial[3100103][0])[46], 0x0F) << "the previous sequence number";
  EXPECT_EQ(bySerial.count(3100104), 0u) << "its answer comes after the collection";
  EXPECT_EQ(bySerial[3100105].size(), 1u);
  const Answers slow = Discover(lab, sequence + 1, 1200);
  // The late answer to the first request may arrive now too; count the answers to this one.
  int delayed = 0;
  for (const Bytes& frame : slow.frames) delayed += SerialOf(frame) == 3100104 && frame[46] == 0x11;
  EXPECT_EQ(delayed, 1);
}

TEST(LinesimDiscovery, SharedAddressFaultMakesTwoModulesAnswerFromOneAddress) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  line.SetFault(3100206, {{"sharesAddressOf", 3100205}});
  const Answers answers = Discover(lab, 0x80000100);
  std::map<std::string, int> byAddress;
  for (const Bytes& frame : answers.frames) {
    char address[16];
    std::snprintf(address, sizeof address, "%u.%u.%u.%u", frame[26], frame[27], frame[28],
                  frame[29]);
    ++byAddress[address];
  }
  EXPECT_EQ(byAddress["192.168.202.30"], 2);
  EXPECT_EQ(byAddress.count("192.168.202.31"), 0u);
  line.ClearFaults(3100206);
  EXPECT_EQ(line.Module(3100206).address, "192.168.202.31");
}

TEST(LinesimDiscovery, GeneratedLineOf236ModulesAnswersCompletely) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  fixtures::TempFolder folder;  // removed with the file however the test ends
  const std::string file = folder.path() + "line-236.json";
  {
    std::ofstream out(file);
    out << sim::GenerateLine(236, 1).dump();
  }
  test::Linesim line(lab, file);
  std::map<uint32_t, test::LinesimModule> modules;
  for (auto& module : line.List()) modules[module.serial] = module;
  ASSERT_EQ(modules.size(), 236u);
  const uint32_t sequence = 0x80000200;
  const Answers answers = Discover(lab, sequence, 1000);
  std::map<uint32_t, int> answered;
  for (const Bytes& frame : answers.frames) {
    ASSERT_GE(frame.size(), 54u);
    const uint32_t serial = SerialOf(frame);
    ASSERT_TRUE(modules.count(serial));
    ++answered[serial];
    EXPECT_EQ(CheckAnswer(frame, answers.pcMac, sequence, modules[serial]), "") << serial;
  }
  EXPECT_EQ(answered.size(), 236u);
  for (const auto& [serial, count] : answered) EXPECT_EQ(count, 1) << serial;
}

}  // namespace
