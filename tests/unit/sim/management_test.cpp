#include "sim/management.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/bytes.h"
#include "sim/frames.h"

namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;
const Mac kPcMac = {0x00, 0x50, 0x56, 0x01, 0x02, 0x03};
const Mac kBroadcast = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

std::vector<std::unique_ptr<SimModule>> Modules(int count) {
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

Bytes Request(const Mac& toMac, const char* toAddress, const Bytes& payload,
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

Bytes SetNodeIp(uint32_t serial, const char* address, const char* mask, const char* gateway) {
  Bytes payload = {0x20, 0x00, 0x00, 16, 0x21, 0x00, 0x00, 0x80};
  payload.resize(24);
  base::PutBE32(payload.data() + 8, serial);
  const uint32_t a = *ParseIpv4(address), m = *ParseIpv4(mask), g = *ParseIpv4(gateway);
  std::memcpy(payload.data() + 12, &a, 4);
  std::memcpy(payload.data() + 16, &m, 4);
  std::memcpy(payload.data() + 20, &g, 4);
  return payload;
}

struct Fixture {
  Timing timing;
  std::vector<std::unique_ptr<SimModule>> modules = Modules(3);
  UdpResponder udp{modules, timing, 1};
  ManagementResponder responder{modules, udp};
};

TEST(SimManagement, ResetRequestRestartsAddressedOrEveryModule) {
  Fixture f;
  // The upgrade's reset request, exactly as the tool sends it, to one module...
  const Bytes exact = {0xb0, 0x00, 0x01, 0x08, 0x11, 0x00, 0x00, 0x80,
                       0x4d, 0x47, 0x4d, 0x54, 0x00, 0x00, 0x00, 0x40};
  Bytes frame = Request(f.modules[1]->MacAddress(), "255.255.255.255", exact);
  auto result = f.responder.OnFrame(frame.data(), frame.size());
  EXPECT_EQ(result.restarts, (std::vector<size_t>{1}));
  // ... by its address under the broadcast MAC ...
  frame = Request(kBroadcast, "192.168.202.22", exact);
  EXPECT_EQ(f.responder.OnFrame(frame.data(), frame.size()).restarts, (std::vector<size_t>{2}));
  // ... and as a broadcast to all.
  frame = Request(kBroadcast, "255.255.255.255", Management(0x80));
  EXPECT_EQ(f.responder.OnFrame(frame.data(), frame.size()).restarts,
            (std::vector<size_t>{0, 1, 2}));
  // Without "MGMT", from the module port, or cut short: nothing.
  Bytes noMagic = exact;
  noMagic[8] = 'X';
  frame = Request(kBroadcast, "255.255.255.255", noMagic);
  EXPECT_TRUE(f.responder.OnFrame(frame.data(), frame.size()).restarts.empty());
  frame = Request(kBroadcast, "255.255.255.255", exact, kModulePort);
  EXPECT_TRUE(f.responder.OnFrame(frame.data(), frame.size()).restarts.empty());
  frame = Request(kBroadcast, "255.255.255.255", Bytes(exact.begin(), exact.begin() + 14));
  EXPECT_TRUE(f.responder.OnFrame(frame.data(), frame.size()).restarts.empty());
  // A dead module hears nothing.
  f.modules[0]->SetAlive(false);
  frame = Request(kBroadcast, "255.255.255.255", exact);
  EXPECT_EQ(f.responder.OnFrame(frame.data(), frame.size()).restarts, (std::vector<size_t>{1, 2}));
}

TEST(SimManagement, ResetNameAndDhcpOff) {
  Fixture f;
  Bytes frame = Request(f.modules[0]->MacAddress(), "255.255.255.255", Management(0x200));
  auto result = f.responder.OnFrame(frame.data(), frame.size());
  EXPECT_FALSE(f.modules[0]->Files().dhcp);
  EXPECT_TRUE(f.modules[1]->Files().dhcp);
  EXPECT_TRUE(result.changes.empty());
  frame = Request(f.modules[2]->MacAddress(), "255.255.255.255", Management(0x100));
  result = f.responder.OnFrame(frame.data(), frame.size());
  ASSERT_EQ(result.changes.size(), 1u);
  EXPECT_EQ(result.changes[0].module, 2u);
  EXPECT_EQ(result.changes[0].address, 0u);
  EXPECT_TRUE(f.modules[2]->Files().fieldbusName.empty());
}

TEST(SimManagement, SetNodeIpAnswersWithTheNewRecord) {
  Fixture f;
  Bytes frame = Request(f.modules[1]->MacAddress(), "255.255.255.255",
                        SetNodeIp(7001, "192.168.202.99", "255.255.0.0", "192.168.202.1"));
  auto result = f.responder.OnFrame(frame.data(), frame.size());
  ASSERT_EQ(result.changes.size(), 1u);
  EXPECT_EQ(result.changes[0].address, *ParseIpv4("192.168.202.99"));
  EXPECT_EQ(result.changes[0].mask, *ParseIpv4("255.255.0.0"));
  EXPECT_FALSE(result.changes[0].serial);
  ASSERT_EQ(result.frames.size(), 1u);
  const auto answer = ParseUdpFrame(result.frames[0].bytes.data(), result.frames[0].bytes.size());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->destinationPort, 44532);
  const auto header = ParsePacketHeader(answer->payload, answer->payloadLength);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->code, 0x21);
  EXPECT_EQ(header->sequence, (std::array<uint8_t, 4>{0x21, 0, 0, 0x80}));
  ASSERT_GE(header->usableDataLength, 16u);
  EXPECT_EQ(base::GetBE32(header->data), 7001u);
  uint32_t address = 0;
  std::memcpy(&address, header->data + 4, 4);
  EXPECT_EQ(address, *ParseIpv4("192.168.202.99"));

  // Same address, another serial: the serial changes.
  frame = Request(kBroadcast, "192.168.202.20",
                  SetNodeIp(123456, "192.168.202.20", "255.255.255.0", "0.0.0.0"));
  result = f.responder.OnFrame(frame.data(), frame.size());
  ASSERT_EQ(result.changes.size(), 1u);
  EXPECT_EQ(result.changes[0].serial, 123456u);
  ASSERT_EQ(result.frames.size(), 1u);
  const auto second = ParseUdpFrame(result.frames[0].bytes.data(), result.frames[0].bytes.size());
  ASSERT_TRUE(second);
  const auto secondHeader = ParsePacketHeader(second->payload, second->payloadLength);
  ASSERT_TRUE(secondHeader && secondHeader->usableDataLength >= 4);
  EXPECT_EQ(base::GetBE32(secondHeader->data), 123456u);
  // Data shorter than the four fields: ignored.
  Bytes shortData = SetNodeIp(7002, "192.168.202.50", "255.255.255.0", "0.0.0.0");
  shortData[3] = 12;
  frame = Request(f.modules[2]->MacAddress(), "255.255.255.255", shortData);
  EXPECT_TRUE(f.responder.OnFrame(frame.data(), frame.size()).changes.empty());
}

}  // namespace
}  // namespace sim
