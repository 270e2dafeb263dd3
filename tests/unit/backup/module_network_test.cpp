#include "backup/module_network.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

NodePtr Node(const char* ip, uint32_t serial, uint16_t revision = 0x040C, uint8_t family = 0,
             uint8_t position = 0, const char* gateway = "192.168.202.1") {
  auto node = std::make_shared<CNode_Data>();
  node->ipText = ip;
  ParseAddress(ip, &node->ipAddress);
  node->maskText = "255.255.255.0";
  ParseAddress("255.255.255.0", &node->mask);
  node->gatewayText = gateway;
  node->serialNumber = serial;
  node->revision = revision;
  node->record[16] = position;
  node->record[17] = family;
  return node;
}

TEST(ModuleNetwork, ListLineAndPositionTexts) {
  EXPECT_EQ(backup::ModuleListLine(*Node("192.168.202.20", 3100101, 0)), "192.168.202.20, 3100101");
  EXPECT_EQ(backup::ModuleListLine(*Node("192.168.202.20", 3100101, 0x040C, 0, 1)),
            "192.168.202.20, 3100101, 4.12 {Brevantrix, First}");
  // Families numbered from 100 show the major minus 100.
  EXPECT_EQ(backup::ModuleListLine(*Node("192.168.202.21", 7, (104 << 8) | 14, 0x90, 0)),
            "192.168.202.21, 7, 4.14 {Brevantrix UX}");
  const struct {
    int position;
    const char* english;
    const char* german;
  } cases[] = {{0, "0 -> Middle", "0 -> Mitte"},
               {1, "1 -> First", "1 -> Erste"},
               {2, "2 -> Last", "2 -> Letzte"},
               {3, "3 -> First && Last", "3 -> Erste & Letzte"},
               {0xFF, "0xFF -> unknown", "0xFF -> Unbekannt"},
               {7, "7 -> unexpected !?!", "7 -> Unerwartet !?!"}};
  for (const auto& c : cases) {
    EXPECT_EQ(backup::PositionText(c.position, false), c.english);
    EXPECT_EQ(backup::PositionText(c.position, true), c.german);
  }
}

TEST(ModuleNetwork, SubnetFilterAndCountLine) {
  const NodeList nodes = {Node("192.168.202.20", 1), Node("192.168.203.20", 2),
                          Node("192.168.202.21", 3)};
  EXPECT_EQ(backup::SubnetEntries(nodes),
            (std::vector<std::string>{"<<< Alle Netzwerke >>>", "192.168.202.0", "192.168.203.0"}));
  EXPECT_TRUE(backup::InSubnet(*nodes[0], "192.168.202.0"));
  EXPECT_FALSE(backup::InSubnet(*nodes[1], "192.168.202.0"));
  EXPECT_TRUE(backup::InSubnet(*nodes[1], "<<< Alle Netzwerke >>>"));
  EXPECT_EQ(backup::CountLine(12, 1, 6), "Entdeckt = 12, Geschützt = 1, Angezeigt = 6");
}

TEST(ModuleNetwork, SettingsChecks) {
  const NodePtr node = Node("192.168.202.20", 3100101);
  using V = backup::SettingsVerdict;
  const struct {
    const char* what;
    backup::SettingsInput input;
    V verdict;
    const char* message;
  } cases[] = {
      {"new address",
       {"192.168.202.30", "255.255.255.0", "192.168.202.1", "3100101"},
       V::kSend,
       ""},
      {"new serial", {"192.168.202.20", "255.255.255.0", "192.168.202.1", "42"}, V::kSend, ""},
      {"new mask", {"192.168.202.20", "255.255.0.0", "192.168.202.1", "3100101"}, V::kSend, ""},
      {"nothing",
       {"192.168.202.20", "255.255.255.0", "192.168.202.1", "3100101"},
       V::kNothingToChange,
       "nothing to change !?!"},
      {"both",
       {"192.168.202.30", "255.255.255.0", "192.168.202.1", "42"},
       V::kRefused,
       "Can't change the IP and the Serial No. with one request!!! First change the Serial "
       "number."},
      {"negative serial",
       {"192.168.202.20", "255.255.255.0", "192.168.202.1", "-5"},
       V::kRefused,
       "SerialNo has to be > 0."},
      {"serial too large",
       {"192.168.202.20", "255.255.255.0", "192.168.202.1", "4294967296"},
       V::kRefused,
       "SerialNo has to be > 0."},
      {"serial not a number",
       {"192.168.202.20", "255.255.255.0", "192.168.202.1", "12a"},
       V::kRefused,
       "SerialNo has to be > 0."},
      {"ip begins with 0",
       {"0.168.202.30", "255.255.255.0", "192.168.202.1", "3100101"},
       V::kBeep,
       ""},
      {"ip ends with 0",
       {"192.168.202.0", "255.255.255.0", "192.168.202.1", "3100101"},
       V::kBeep,
       ""},
      {"ip with 255",
       {"192.255.202.30", "255.255.255.0", "192.168.202.1", "3100101"},
       V::kBeep,
       ""},
      {"gateway 0 in byte 2",
       {"192.168.202.30", "255.255.255.0", "192.0.202.1", "3100101"},
       V::kBeep,
       ""},
      {"gateway with 255",
       {"192.168.202.30", "255.255.255.0", "192.168.202.255", "3100101"},
       V::kBeep,
       ""},
      {"ip of three parts",
       {"192.168.30", "255.255.255.0", "192.168.202.1", "3100101"},
       V::kBeep,
       ""},
      {"mask with a hole",
       {"192.168.202.30", "255.0.255.0", "192.168.202.1", "3100101"},
       V::kBeep,
       ""},
  };
  for (const auto& c : cases) {
    const auto check = backup::CheckSettings(node.get(), c.input);
    EXPECT_EQ(check.verdict, c.verdict) << c.what;
    EXPECT_EQ(check.message, c.message) << c.what;
  }
  EXPECT_EQ(backup::CheckSettings(nullptr, cases[0].input).message, "no selection");
}

TEST(ModuleNetwork, SetNodeIpAndManagementPackets) {
  uint32_t ip = 0, mask = 0, gateway = 0;
  ParseAddress("192.168.202.30", &ip);
  ParseAddress("255.255.255.0", &mask);
  ParseAddress("192.168.202.1", &gateway);
  const auto packet = backup::SetNodeIpPacket(0x01020304, ip, mask, gateway);
  ASSERT_EQ(packet.size(), 24u);
  EXPECT_EQ(packet[0], 0x20);
  EXPECT_EQ(packet[3], 16);
  EXPECT_EQ(
      (std::vector<uint8_t>(packet.begin() + 8, packet.end())),
      (std::vector<uint8_t>{1, 2, 3, 4, 192, 168, 202, 30, 255, 255, 255, 0, 192, 168, 202, 1}));
  const auto management = backup::ManagementPacket(backup::kCommandDhcpOff);
  ASSERT_EQ(management.size(), 16u);
  EXPECT_EQ((std::vector<uint8_t>{management[0], management[2], management[3]}),
            (std::vector<uint8_t>{0xB0, 0x01, 0x08}));
  EXPECT_EQ(std::memcmp(management.data() + 8, "MGMT\0\0\x02\0", 8), 0);
}

TEST(ModuleNetwork, ReorderPlan) {
  const NodeList selected = {Node("192.168.202.25", 1), Node("192.168.202.21", 2),
                             Node("192.168.203.20", 3), Node("192.168.202.40", 4)};
  const auto plan = backup::PlanReorder(selected);
  ASSERT_EQ(plan.networks.size(), 2u);
  EXPECT_EQ(plan.networks[0].count, 3);
  ASSERT_EQ(plan.networks[0].moves.size(), 2u);  // .21 keeps its number
  EXPECT_EQ(plan.networks[0].moves[0].from, "192.168.202.25");
  EXPECT_EQ(plan.networks[0].moves[0].to, "192.168.202.20");
  EXPECT_EQ(plan.networks[0].moves[1].to, "192.168.202.22");
  EXPECT_TRUE(plan.networks[1].moves.empty());
  EXPECT_EQ(plan.question,
            "Sollen die IP Adressen der Module \n   1) 3 im Netzwerk \"192.168.202.0\"\n   2) 1 "
            "im Netzwerk \"192.168.203.0\"\n neu angeordnet werden?");
  const auto single = backup::PlanReorder({Node("192.168.202.25", 1)});
  EXPECT_EQ(
      single.question,
      "Sollen die IP Adressen der Module 1 im Netzwerk 192.168.202.0 neu angeordnet werden? ?");

  NodeList many;
  for (int i = 0; i < 235; ++i)
    many.push_back(Node(("10.0.0." + std::to_string(1 + i % 250)).c_str(), 1000 + i));
  const auto refused = backup::PlanReorder(many);
  EXPECT_EQ(refused.refusal,
            "Es sind 235 Module im Netzwerk \"10.0.0.0\". Es können nicht mehr als 234 Module "
            "integriert werden.");
}

}  // namespace
