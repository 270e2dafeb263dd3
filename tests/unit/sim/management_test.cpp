#include "sim/management.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/bytes.h"
#include "sim/frames.h"
#include "unit/sim/test_addresses.h"

namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;
using test_addresses::kBroadcast;
using test_addresses::kPcMac;

std::vector<std::unique_ptr<SimModule>> ManagementModules(int count) {
  std::vector<std::unique_ptr<SimModule>> modules;
  for (int i = 0; i < count; ++i) {
    ModuleSetup setup;
    setup.serial = 7000 + i;
    setup.mac = MacFromSerial(setup.serial);
    setup.address = *ParseIpv4("192.168.202." + std::to_string(20 + i));
    setup.mask = *ParseIpv4("255.255.255.0");
    setup.position = i;
    modules.push_back(std::make_unique<SimModule>(setup));
  }
  return modules;
}

Bytes ManagementRequest(const Mac& toMac, const char* toAddress, const Bytes& payload,
                        uint16_t sourcePort = 44532) {
  UdpFrameFields fields;
  fields.destinationMac = toMac;
  fields.sourceMac = kPcMac;
  fields.sourceAddress = *ParseIpv4("192.168.202.10");
  fields.destinationAddress = *ParseIpv4(toAddress);
  fields.sourcePort = sourcePort;
  fields.destinationPort = kModulePort;
  return BuildUdpFrame(fields, payload.data(), payload.size());
}

Bytes Management(uint32_t command) {
  Bytes payload = {0xB0, 0x00, 0x01, 0x08, 0x11, 0x00, 0x00, 0x80, 'M', 'G', 'M', 'T', 0, 0, 0, 0};
  base::PutBE32(payload.data() + 12, command);
  return payload;
}

struct ManagementLine {
  Timing timing;
  std::vector<std::unique_ptr<SimModule>> modules = ManagementModules(3);
  UdpResponder udp{modules, timing, 1};
  ManagementResponder responder{modules, udp};
};

TEST(SimManagement, ResetRequestRestartsAddressedOrEveryModule) {
  ManagementLine f;
  // The upgrade's reset request, exactly as the tool sends it, to one module...
  const Bytes exact = {0xb0, 0x00, 0x01, 0x08, 0x11, 0x00, 0x00, 0x80,
                       0x4d, 0x47, 0x4d, 0x54, 0x00, 0x00, 0x00, 0x40};
  Bytes frame = ManagementRequest(f.modules[1]->MacAddress(), "255.255.255.255", exact);
  auto result = f.responder.OnFrame(frame.data(), frame.size());
  EXPECT_EQ(result.restarts, (std::vector<size_t>{1}));
  // ... by its address under the broadcast MAC ...
  frame = ManagementRequest(kBroadcast, "192.168.202.22", exact);
  EXPECT_EQ(f.responder.OnFrame(frame.data(), frame.size()).restarts, (std::vector<size_t>{2}));
  // ... and as a broadcast to all.
  frame = ManagementRequest(kBroadcast, "255.255.255.255", Management(0x80));
  EXPECT_EQ(f.responder.OnFrame(frame.data(), frame.size()).restarts,
            (std::vector<size_t>{0, 1, 2}));
  // Without "MGMT", from the module port, or cut short: nothing.
  Bytes noMagic = exact;
  noMagic[8] = 'X';
  frame = ManagementRequest(kBroadcast, "255.255.255.255", noMagic);
  EXPECT_TRUE(f.responder.OnFrame(frame.data(), frame.size()).restarts.empty());
  frame = ManagementRequest(kBroadcast, "255.255.255.255", exact, kModulePort);
  EXPECT_TRUE(f.responder.OnFrame(frame.data(), frame.size()).restarts.empty());
  frame =
      ManagementRequest(kBroadcast, "255.255.255.255", Bytes(exact.begin(), exact.begin() + 14));
  EXPECT_TRUE(f.responder.OnFrame(frame.data(), frame.size()).restarts.empty());
  // A dead module hears nothing.
  f.modules[0]->SetAlive(false);
  frame = ManagementRequest(kBroadcast, "255.255.255.255", exact);
  EXPECT_EQ(f.responder.OnFrame(frame.data(), frame.size()).restarts, (std::vector<size_t>{1, 2}));
}

TEST(SimManagement, ResetNameAndDhcpOff) {
  ManagementLine f;
  Bytes frame = ManagementRequest(f.modules[0]->MacAddress(), "255.255.255.255", Management(0x200));
  auto result = f.responder.OnFrame(frame.data(), frame.size());
  EXPECT_FALSE(f.modules[0]->Files().dhcp);
  EXPECT_TRUE(f.modules[1]->Files().dhcp);
  EXPECT_TRUE(result.changes.empty());
  frame = ManagementRequest(f.modules[2]->MacAddress(), "255.255.255.255", Management(0x100));
  result = f.responder.OnFrame(frame.data(), frame.size());
  ASSERT_EQ(result.changes.size(), 1u);
  EXPECT_EQ(result.changes[0].module, 2u);
  EXPECT_EQ(result.changes[0].address, 0u);
  EXPECT_TRUE(f.modules[2]->Files().fieldbusName.empty());
}

}  // namespace
}  // namespace sim
