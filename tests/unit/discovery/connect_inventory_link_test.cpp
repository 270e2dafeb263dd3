// What a register connection does to the inventory once it has read a module's identity.
#include "discovery/connect_inventory_link.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "base/format.h"
#include "discovery/mreg_app.h"
#include "fixtures/temp_log.h"

namespace {

uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};
  uint32_t value;
  std::memcpy(&value, bytes, 4);
  return value;
}

NodePtr MakeNode(uint32_t serial, uint32_t ip, uint8_t macLast) {
  auto node = std::make_shared<CNode_Data>();
  node->serialNumber = serial;
  node->ipAddress = ip;
  node->ipText = base::Ipv4Text(ip);
  node->mac = {0x00, 0x50, 0xC2, 0x00, 0x00, macLast};
  return node;
}

comm::ModuleIdentity Identity(uint32_t serial, uint32_t ip, uint8_t macLast) {
  comm::ModuleIdentity identity;
  identity.serialNumber = serial;
  identity.ipAddress = ip;
  identity.ipText = base::Ipv4Text(ip);
  identity.mac = {0x00, 0x50, 0xC2, 0x00, 0x00, macLast};
  return identity;
}

class ConnectInventoryLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    first = std::make_shared<CNAdapter>();
    first->name = "veth-a";
    first->nodes.push_back(MakeNode(1001, Ip(192, 168, 202, 20), 1));
    second = std::make_shared<CNAdapter>();
    second->name = "veth-b";
    second->nodes.push_back(MakeNode(2001, Ip(192, 168, 203, 20), 2));
    second->nodes.push_back(MakeNode(2002, Ip(192, 168, 203, 21), 3));
    app.adapters = {first, second};
    app.selectedAdapter = "veth-a";
    app.discoverDone.store(1);  // no discovery is due
  }

  fixtures::ScopedTempLog log;
  CMRegApp app;
  discovery::ConnectInventoryLink link{app};
  AdapterPtr first, second;
};

TEST_F(ConnectInventoryLinkTest, UnknownModuleIsAddedToTheSelectedAdapter) {
  link.UpdateAfterConnect(Identity(1005, Ip(192, 168, 202, 24), 9), false);
  ASSERT_EQ(first->nodes.size(), 2u);
  const NodePtr& added = first->nodes.back();
  EXPECT_EQ(added->serialNumber, 1005u);
  EXPECT_EQ(added->ipText, "192.168.202.24");
  EXPECT_EQ(added->mac[5], 9);
  EXPECT_EQ(added->mask, 0u);
  EXPECT_EQ(second->nodes.size(), 2u);
  EXPECT_EQ(app.SelectedAdapterName(), "veth-a");  // an unknown module moves nothing
  EXPECT_EQ(log.CountContaining("Fast discover"), 0u);
}

TEST_F(ConnectInventoryLinkTest, KnownModuleWithNewAddressAndSerialIsCorrected) {
  link.UpdateAfterConnect(Identity(1009, Ip(192, 168, 202, 30), 1), false);
  const NodePtr& node = first->nodes[0];
  EXPECT_EQ(node->ipText, "192.168.202.30");
  EXPECT_EQ(node->ipAddress, Ip(192, 168, 202, 30));
  EXPECT_EQ(node->serialNumber, 1009u);
  EXPECT_EQ(log.CountContaining("Connected to Node SN: 1001, but IP has changed from: "
                                "192.168.202.20 to: 192.168.202.30"),
            1u);
  EXPECT_EQ(log.CountContaining("Connected to Node SN: 1009, but thnode with this MAC previosly "
                                "was with SerNo = 1001 !?! :-o"),
            1u);
}

TEST_F(ConnectInventoryLinkTest, ModuleFoundOnAnotherAdapterSelectsThatAdapter) {
  link.UpdateAfterConnect(Identity(2002, Ip(192, 168, 203, 21), 3), false);
  EXPECT_EQ(app.SelectedAdapterName(), "veth-b");
  EXPECT_EQ(log.CountContaining("IP has changed"), 0u);
}

TEST_F(ConnectInventoryLinkTest, PurgeRemovesOtherModulesOfTheSameAddress) {
  first->nodes.push_back(MakeNode(1002, Ip(192, 168, 202, 20), 4));
  first->nodes.push_back(MakeNode(1003, Ip(192, 168, 202, 21), 5));
  first->nodes.push_back(MakeNode(1004, Ip(192, 168, 202, 20), 6));
  link.UpdateAfterConnect(Identity(1001, Ip(192, 168, 202, 20), 1), true);
  ASSERT_EQ(first->nodes.size(), 2u);
  EXPECT_EQ(first->nodes[0]->serialNumber, 1001u);
  EXPECT_EQ(first->nodes[1]->serialNumber, 1003u);
  EXPECT_EQ(
      log.CountContaining(
          "! Connected to Node SN: 1001, there was 2 nodes with this IP, which was deleted !"),
      1u);
  // Without purging, duplicates stay.
  first->nodes.push_back(MakeNode(1002, Ip(192, 168, 202, 20), 4));
  link.UpdateAfterConnect(Identity(1001, Ip(192, 168, 202, 20), 1), false);
  EXPECT_EQ(first->nodes.size(), 3u);
}

TEST_F(ConnectInventoryLinkTest, ScopedLinkIsTheProcessWideOneWhileItLives) {
  EXPECT_EQ(comm::GetConnectInventory(), nullptr);
  {
    discovery::ScopedConnectInventory installed(app);
    ASSERT_NE(comm::GetConnectInventory(), nullptr);
    comm::GetConnectInventory()->UpdateAfterConnect(Identity(1007, Ip(192, 168, 202, 27), 7),
                                                    false);
  }
  EXPECT_EQ(comm::GetConnectInventory(), nullptr);
  EXPECT_EQ(first->nodes.back()->serialNumber, 1007u);
}

}  // namespace
