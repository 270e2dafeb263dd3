#include "backup/module_network.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/prompt.h"
#include "discovery/discover.h"
#include "discovery/discover_environment.h"
#include "discovery/mreg_app.h"
#include "discovery/packets.h"
#include "fixtures/fake_capture.h"
#include "fixtures/temp_log.h"

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

// ---- Set NodeIP: done only when the module's answer carries what was asked ----

namespace {

const discovery::MacBytes kPcMac = {0x02, 0, 0, 0, 0, 0x0A};
const discovery::MacBytes kModuleMac = {0x00, 0x50, 0xC2, 0, 0, 0x21};

class SendSetNodeIpTest : public ::testing::Test {
 protected:
  SendSetNodeIpTest() : environment_(&net_), app_(&prompt_) {
    app_.SetCaptureDriver(&net_);
    net_.AddAdapter("eth-a", kPcMac, "192.168.202.10");
    fakes::FakeModule m;
    m.serialNumber = 777;
    m.ip = "192.168.202.21";
    m.mac = kModuleMac;
    net_.AddModule("eth-a", m);
    EXPECT_EQ(app_.Discover(true, nullptr), 1);
    net_.ClearRecords();
  }

  // The module's answer to the packet with `sequence`, readable 40 ms from now.
  void Answer(uint32_t sequence, uint32_t serial, const std::string& ip, const std::string& mask,
              const std::string& gateway) {
    std::vector<uint8_t> record(20, 0);
    base::PutBE32(record.data(), serial);
    base::Ipv4ToBytes(fakes::Ip(ip), record.data() + 4);
    base::Ipv4ToBytes(fakes::Ip(mask), record.data() + 8);
    base::Ipv4ToBytes(fakes::Ip(gateway), record.data() + 12);
    net_.InjectFrame(
        "eth-a", net_.Now() + 40,
        fakes::BuildModuleAnswer(kModuleMac, fakes::Ip(ip), kPcMac, discovery::kNodeCommandPort,
                                 discovery::kPacketSetNodeIpAnswer, 0x10, sequence, record));
  }

  fixtures::ScopedTempLog log_;
  fakes::FakeNetwork net_;
  discovery::ScopedDiscoverEnvironment environment_;
  base::ScriptedPrompt prompt_;
  CMRegApp app_;
};

TEST_F(SendSetNodeIpTest, TakenOnlyWhenTheAnswerCarriesTheSettingsAsked) {
  struct Case {
    const char* name;
    bool answer;
    int32_t sequenceOffset;
    uint32_t serial;
    std::string ip, mask, gateway;
    bool taken;
    const char* failure;
  };
  const Case cases[] = {
      {"took everything", true, 0, 777, "192.168.202.40", "255.255.0.0", "192.168.202.2", true, ""},
      {"no answer", false, 0, 777, "", "", "", false, "no answer"},
      {"answer to another request", true, -1, 777, "192.168.202.40", "255.255.0.0", "192.168.202.2",
       false, "no answer"},
      {"kept its address", true, 0, 777, "192.168.202.21", "255.255.0.0", "192.168.202.2", false,
       "IP address"},
      {"kept its mask", true, 0, 777, "192.168.202.40", "255.255.255.0", "192.168.202.2", false,
       "subnet mask"},
      {"kept its gateway", true, 0, 777, "192.168.202.40", "255.255.0.0", "192.168.202.1", false,
       "gateway"},
      {"kept its serial", true, 0, 776, "192.168.202.40", "255.255.0.0", "192.168.202.2", false,
       "serial 776"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> packet = backup::SetNodeIpPacket(
        777, fakes::Ip("192.168.202.40"), fakes::Ip("255.255.0.0"), fakes::Ip("192.168.202.2"));
    const uint32_t sequence = discovery::ParseAnswerPacket(packet.data(), packet.size())->sequence;
    if (c.answer)
      Answer(sequence + static_cast<uint32_t>(c.sequenceOffset), c.serial, c.ip, c.mask, c.gateway);
    std::string failure;
    EXPECT_EQ(backup::SendSetNodeIp(app_, "192.168.202.21", packet, &failure), c.taken);
    EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
    EXPECT_EQ(failure.empty(), c.taken) << failure;
  }
}

}  // namespace
