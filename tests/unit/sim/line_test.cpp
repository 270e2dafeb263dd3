#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <set>

#include "base/format.h"
#include "fixtures/lab.h"
#include "sim/line.h"

namespace sim {
namespace {

using nlohmann::json;

TEST(LineDescription, DemoLineHasTwelveModulesInTwoChainsWithOneReversed) {
  const LineSetup line = LoadLineFile(test::SourceFile("sim/lines/demo.json"));
  ASSERT_EQ(line.chains.size(), 2u);
  EXPECT_EQ(line.ModuleCount(), 12u);
  int reversed = 0;
  std::set<uint8_t> families;
  std::set<std::pair<int, int>> firmware;
  for (const auto& chain : line.chains) {
    for (const auto& module : chain) {
      reversed += module.variant == 4;
      families.insert(module.family);
      firmware.insert({module.firmwareMajor, module.firmwareMinor});
    }
  }
  EXPECT_EQ(reversed, 1);
  EXPECT_GE(families.size(), 4u);
  EXPECT_GE(firmware.size(), 4u);
  // Node n of 192.168.202.0 sits at .(n + 19).
  EXPECT_EQ(base::Ipv4Text(line.chains[0][0].address), "192.168.202.20");
  EXPECT_EQ(base::Ipv4Text(line.chains[1][5].address), "192.168.202.31");
}

TEST(LineDescription, ModuleDefaultsFollowTheLineAndTheSerial) {
  const LineSetup line = ParseLine(json::parse(R"({"network": "10.1.2.0", "mask": "255.255.255.0",
      "gateway": "10.1.2.1", "chains": [[{"serial": 305419896, "node": 3, "direction": 1},
      {"serial": 7, "address": "10.1.2.99", "mac": "00:11:22:33:44:55", "mask": "255.255.0.0",
       "packetFlags": "0x55", "recordLength": 16}]]})"));
  const ModuleSetup& first = line.chains[0][0];
  EXPECT_EQ(base::Ipv4Text(first.address), "10.1.2.22");
  EXPECT_EQ(base::Ipv4Text(first.gateway), "10.1.2.1");
  EXPECT_EQ(MacString(first.mac), "02:51:12:34:56:78");
  EXPECT_EQ(first.packetFlags, 0x00);  // right port faces the PC
  EXPECT_EQ(first.recordLength, 28);
  const ModuleSetup& second = line.chains[0][1];
  EXPECT_EQ(MacString(second.mac), "00:11:22:33:44:55");
  EXPECT_EQ(base::Ipv4Text(second.mask), "255.255.0.0");
  EXPECT_EQ(second.packetFlags, 0x55);
  EXPECT_EQ(second.recordLength, 16);
  EXPECT_EQ(second.position, 1);
}

TEST(LineDescription, FaultyDescriptionsAreRefusedWithTheirPlace) {
  const struct {
    const char* text;
    const char* reason;
  } cases[] = {
      {R"({"chains": [[{"serial": 1, "node": 1, "colour": 3}]]})", "unknown key \"colour\""},
      {R"({"chains": [[{"serial": 1, "node": 1, "family": 5}]]})", "families are"},
      {R"({"chains": [[{"serial": 1, "node": 1}], [{"serial": 1, "node": 2}]]})", "appears twice"},
      {R"({"chains": [[{"serial": 1}]]})", "\"address\" or a \"node\""},
      {R"({"chains": [[{"serial": 1, "node": 237}]]})", "above 236"},
      {R"({"chains": [[{"serial": 1, "address": "10.0.0.300"}]]})", "not an IPv4 address"},
      {R"({"chains": [[{"serial": 1, "node": 1, "recordLength": 12}]]})", "record lengths"},
      {R"({"chains": [[{"serial": 1, "node": 1, "firmware": "four"}]]})", "not a version"},
      {R"({"chains": [[{"serial": 1, "node": 1, "faults": {"drop": 2}}]]})", "0..1"},
      {R"({"chains": [[{"serial": 1, "node": 1, "registers": {"x": 1}}]]})", "not a number"},
      {R"({"timing": {"answerDelayMinMs": 60}, "chains": []})", "answerDelayMinMs is above"},
      {R"({"chains": 3})", "chains"},
  };
  for (const auto& c : cases) {
    try {
      ParseLine(json::parse(c.text));
      ADD_FAILURE() << "accepted " << c.text;
    } catch (const LineError& error) {
      EXPECT_NE(std::string(error.what()).find(c.reason), std::string::npos)
          << c.text << " -> " << error.what();
    }
  }
}

TEST(LineDescription, GeneratorFillsOneSlash24WithUniqueUsableAddresses) {
  const LineSetup line = ParseLine(GenerateLine(236, 1));
  EXPECT_EQ(line.ModuleCount(), 236u);
  std::set<uint32_t> addresses;
  std::set<uint8_t> families;
  for (const auto& chain : line.chains) {
    EXPECT_LE(chain.size(), 12u);
    for (const auto& module : chain) {
      addresses.insert(module.address);
      families.insert(module.family);
      const uint32_t host = ntohl(module.address) & 0xFF;
      EXPECT_NE(host, 255u);  // the /24's broadcast
      EXPECT_NE(host, 10u);   // the PC
      EXPECT_EQ(ntohl(module.address) >> 8, (192u << 16) | (168u << 8) | 202u);
    }
  }
  EXPECT_EQ(addresses.size(), 236u);
  EXPECT_EQ(families.size(), 5u);
}

TEST(LineDescription, GeneratorSpreadsModulesOverSeveralNetworks) {
  const LineSetup line = ParseLine(GenerateLine(30, 3));
  std::map<uint32_t, int> perNetwork;
  for (const auto& chain : line.chains) {
    for (const auto& module : chain) {
      ++perNetwork[ntohl(module.address) >> 8];
      EXPECT_EQ(ntohl(module.gateway) >> 8, ntohl(module.address) >> 8);
    }
  }
  ASSERT_EQ(perNetwork.size(), 3u);
  for (const auto& [network, count] : perNetwork) EXPECT_EQ(count, 10);
  EXPECT_THROW(GenerateLine(237, 1), LineError);
  EXPECT_THROW(GenerateLine(0, 1), LineError);
}

}  // namespace
}  // namespace sim
