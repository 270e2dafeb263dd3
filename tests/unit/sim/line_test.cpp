#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <optional>
#include <set>

#include "base/format.h"
#include "fixtures/lab.h"
#include "sim/line.h"

namespace sim {
namespace {

using nlohmann::json;

TEST(LineDescription, NodeCommandTimings) {
  const auto line = ParseLine(json::parse(R"({"timing": {"autoConfigMs": 300, "resetAckMs": 40},
                                            "chains": [[{"serial": 1, "node": 1}]]})"));
  EXPECT_EQ(line.timing.autoConfigMs, 300u);
  EXPECT_EQ(line.timing.resetAckMs, 40u);
  // A module acknowledges a reset within 100 ms whatever the file asks.
  const auto slow = ParseLine(json::parse(R"({"timing": {"resetAckMs": 5000},
                                            "chains": [[{"serial": 1, "node": 1}]]})"));
  EXPECT_EQ(slow.timing.resetAckMs, 100u);
  EXPECT_THROW(ParseLine(json::parse(R"({"timing": {"autoConfigSeconds": 1},
                                        "chains": [[{"serial": 1, "node": 1}]]})")),
               LineError);
}

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

TEST(LineDescription, WhatALineCannotBeIsRefusedWithItsExactPlace) {
  // The second module of a one-chain line, after module 1 at node 1 (192.168.202.20).
  const struct {
    const char* second;
    const char* message;
  } cases[] = {
      {R"({"serial": 2, "node": 1})",
       "chains[0][1].node: 192.168.202.20 is also the address of chains[0][0] (serial 1); a "
       "duplicate address is the fault \"sharesAddressOf\""},
      {R"({"serial": 2, "address": "192.168.202.20", "alive": false})",
       "chains[0][1].address: 192.168.202.20 is also the address of chains[0][0] (serial 1); a "
       "duplicate address is the fault \"sharesAddressOf\""},
      {R"({"serial": 2, "address": "0.0.0.0"})",
       "chains[0][1].address: 0.0.0.0 is not a module address (0.0.0.0/8 is \"this network\")"},
      {R"({"serial": 2, "address": "224.0.0.251"})",
       "chains[0][1].address: 224.0.0.251 is a multicast address"},
      {R"({"serial": 2, "address": "255.255.255.255"})",
       "chains[0][1].address: 255.255.255.255 is the broadcast address"},
      {R"({"serial": 2, "address": "240.1.2.3"})",
       "chains[0][1].address: 240.1.2.3 is a reserved address (240.0.0.0/4)"},
      {R"({"serial": 2, "node": 236})",
       "chains[0][1].node: 192.168.202.255 is the broadcast address of 192.168.202.0/24"},
      {R"({"serial": 2, "address": "192.168.202.0"})",
       "chains[0][1].address: 192.168.202.0 is the address of the network 192.168.202.0/24"},
      {R"({"serial": 2, "address": "10.0.255.255", "mask": "255.255.0.0"})",
       "chains[0][1].address: 10.0.255.255 is the broadcast address of 10.0.0.0/16"},
      {R"({"serial": 2, "node": 2, "mask": "255.0.255.0"})",
       "chains[0][1].mask: 255.0.255.0 is not a contiguous network mask"},
      {R"({"serial": 2, "node": 2, "registers": {"0": 1}})",
       "chains[0][1].registers: register 0 does not exist (registers are 1..512, 10000..10035 "
       "and 10100..10135)"},
      {R"({"serial": 2, "node": 2, "registers": {"10036": 1}})",
       "chains[0][1].registers: register 10036 does not exist (registers are 1..512, "
       "10000..10035 and 10100..10135)"},
      {R"({"serial": 2, "node": 2, "faults": {"sharesAddressOf": 7}})",
       "chains[0][1].faults.sharesAddressOf: no module with serial 7"},
      {R"({"serial": 2, "node": 2, "faults": {"sharesAddressOf": 2}})",
       "chains[0][1].faults.sharesAddressOf: a module cannot share its own address"},
      {R"({"serial": "3100101abc", "node": 2})",
       "chains[0][1].serial: \"3100101abc\" is not a number"},
      {R"({"serial": 2, "node": 2, "firmware": "4.4294967308"})",
       "chains[0][1].firmware: \"4.4294967308\" is not a version MAJOR.MINOR[.PATCH] (major at "
       "most 155)"},
      {R"({"serial": 2, "address": "192.168.202.4294967317"})",
       "chains[0][1].address: \"192.168.202.4294967317\" is not an IPv4 address"},
  };
  for (const auto& c : cases) {
    const std::string text =
        std::string(R"({"chains": [[{"serial": 1, "node": 1}, )") + c.second + "]]}";
    try {
      ParseLine(json::parse(text));
      ADD_FAILURE() << "accepted " << c.second;
    } catch (const LineError& error) {
      EXPECT_EQ(std::string(error.what()), c.message) << c.second;
    }
  }
  try {
    ParseLine(json::parse(R"({"mask": "255.255.0.255", "chains": []})"));
    ADD_FAILURE() << "accepted a mask with a hole";
  } catch (const LineError& error) {
    EXPECT_EQ(std::string(error.what()), "mask: 255.255.0.255 is not a contiguous network mask");
  }
}

TEST(LineDescription, ModulesShareAnAddressOnlyWhenTheFileAsksForIt) {
  // Both ways round, and a third module sharing the same module's address.
  const LineSetup line = ParseLine(json::parse(R"({"chains": [[
      {"serial": 1, "node": 1, "faults": {"sharesAddressOf": 2}}, {"serial": 2, "node": 1},
      {"serial": 3, "node": 1, "faults": {"sharesAddressOf": 2}}, {"serial": 4, "node": 4,
       "registers": {"512": 1, "10000": 2, "10135": 3}}]]})"));
  EXPECT_EQ(line.ModuleCount(), 4u);
  EXPECT_EQ(line.chains[0][2].faults.sharesAddressOf, 2u);
  // Two modules that each share a different module's address may not meet on one node.
  EXPECT_THROW(ParseLine(json::parse(R"({"chains": [[{"serial": 1, "node": 1},
      {"serial": 2, "node": 2}, {"serial": 3, "node": 3, "faults": {"sharesAddressOf": 1}},
      {"serial": 4, "node": 3, "faults": {"sharesAddressOf": 2}}]]})")),
               LineError);
}

TEST(LineDescription, AddressTextsAreDottedQuadsOfBytesOnly) {
  const struct {
    const char* text;
    std::optional<const char*> parsed;
  } cases[] = {
      {"192.168.202.20", "192.168.202.20"},
      {"255.255.255.255", "255.255.255.255"},
      {"010.1.2.3", "10.1.2.3"},
      {"1.2.3.4294967297", std::nullopt},  // sscanf would wrap this to 1.2.3.1
      {"1.2.3.256", std::nullopt},
      {"1.2.3.0004", std::nullopt},
      {"+1.2.3.4", std::nullopt},
      {" 1.2.3.4", std::nullopt},
      {"1.2.3.4 ", std::nullopt},
      {"1.2.3", std::nullopt},
      {"1.2.3.4.5", std::nullopt},
      {"1..3.4", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto parsed = ParseIpv4(c.text);
    ASSERT_EQ(parsed.has_value(), c.parsed.has_value()) << c.text;
    if (parsed) {
      EXPECT_EQ(base::Ipv4Text(*parsed), *c.parsed) << c.text;
    }
  }
  EXPECT_TRUE(IsContiguousMask(*ParseIpv4("255.255.255.0")));
  EXPECT_TRUE(IsContiguousMask(*ParseIpv4("0.0.0.0")));
  EXPECT_TRUE(IsContiguousMask(*ParseIpv4("255.255.255.255")));
  EXPECT_FALSE(IsContiguousMask(*ParseIpv4("255.255.255.1")));
  EXPECT_FALSE(IsContiguousMask(*ParseIpv4("0.255.255.255")));
}

TEST(LineDescription, GenerateOptionIsACountAndAnOptionalNetworkCount) {
  EXPECT_EQ(ParseGenerateOption("5"), std::make_pair(5, 1));
  EXPECT_EQ(ParseGenerateOption("236"), std::make_pair(236, 1));
  EXPECT_EQ(ParseGenerateOption("30,3"), std::make_pair(30, 3));
  for (const char* text :
       {"5,abc", "5,", ",3", "abc", "5,3,2", "-5", " 5", "5x", "", "5,3 ", "9999999"}) {
    try {
      ParseGenerateOption(text);
      ADD_FAILURE() << "accepted \"" << text << "\"";
    } catch (const LineError& error) {
      EXPECT_EQ(std::string(error.what()),
                std::string("--generate expects N[,NETWORKS], not \"") + text + "\"");
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

// One linesim per network serves a generated line: the parts together are the whole line, each
// module once, with the serial, address and family it has in the whole line.
TEST(LineDescription, GeneratedNetworksServedApartMakeTheWholeLine) {
  for (const auto& [modules, networks] : {std::pair{100, 4}, std::pair{236, 2}, std::pair{7, 3}}) {
    SCOPED_TRACE(std::to_string(modules) + " modules over " + std::to_string(networks));
    std::map<uint32_t, std::pair<uint32_t, uint8_t>> whole, parts;  // serial: address, family
    for (const auto& chain : ParseLine(GenerateLine(modules, networks)).chains) {
      for (const auto& module : chain) whole[module.serial] = {module.address, module.family};
    }
    for (int network = 1; network <= networks; ++network) {
      for (const auto& chain : ParseLine(GenerateLine(modules, networks, network)).chains) {
        for (const auto& module : chain) {
          EXPECT_EQ(ntohl(module.address) >> 8 & 0xFF, 201u + network) << module.serial;
          EXPECT_TRUE(parts.emplace(module.serial, std::pair{module.address, module.family}).second)
              << module.serial << " served twice";
        }
      }
    }
    EXPECT_EQ(parts, whole);
  }
  EXPECT_THROW(GenerateLine(30, 3, 4), LineError);
  EXPECT_THROW(GenerateLine(30, 3, -1), LineError);
}

}  // namespace
}  // namespace sim
