#include <gtest/gtest.h>

#include <cstring>

#include "base/bytes.h"
#include "sim/frames.h"
#include "sim/udp_protocol.h"
#include "unit/sim/test_addresses.h"

namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;

using test_addresses::kBroadcast;
using test_addresses::kPcMac;

// A discover request built from bytes here, independently of BuildUdpFrame.
Bytes DiscoverRequest(uint16_t sourcePort = 34531, uint8_t dataLength = 0,
                      const Mac& destination = kBroadcast) {
  Bytes frame(42 + 8, 0);
  std::memcpy(frame.data(), destination.data(), 6);
  std::memcpy(frame.data() + 6, kPcMac.data(), 6);
  frame[12] = 0x08;
  const uint8_t ip[20] = {0x45, 0, 0,   36,  0x13, 0x37, 0,   0,   128, 17,
                          0,    0, 192, 168, 202,  10,   255, 255, 255, 255};
  std::memcpy(frame.data() + 14, ip, 20);
  base::PutBE16(frame.data() + 24, InternetChecksum(frame.data() + 14, 20));
  base::PutBE16(frame.data() + 34, sourcePort);
  base::PutBE16(frame.data() + 36, 55555);
  base::PutBE16(frame.data() + 38, 16);
  const uint8_t header[8] = {0x10, 0, 0, dataLength, 0x05, 0x00, 0x00, 0x80};
  std::memcpy(frame.data() + 42, header, 8);
  return frame;
}

std::vector<std::unique_ptr<SimModule>> UdpModules(int count) {
  std::vector<std::unique_ptr<SimModule>> modules;
  for (int i = 0; i < count; ++i) {
    ModuleSetup setup;
    setup.serial = 5000 + i;
    setup.mac = MacFromSerial(setup.serial);
    setup.address = *ParseIpv4("192.168.202." + std::to_string(20 + i));
    setup.mask = *ParseIpv4("255.255.255.0");
    setup.family = 0x09;
    setup.packetFlags = i % 2 ? 0x00 : 0x10;
    modules.push_back(std::make_unique<SimModule>(setup));
  }
  return modules;
}

uint32_t PseudoHeaderSum(const uint8_t* ip, size_t udpLength) {
  return 17 + static_cast<uint32_t>(udpLength) + base::GetBE16(ip + 12) + base::GetBE16(ip + 14) +
         base::GetBE16(ip + 16) + base::GetBE16(ip + 18);
}

TEST(SimFrames, ParserChecksEveryLength) {
  const Bytes good = DiscoverRequest();
  ASSERT_TRUE(ParseUdpFrame(good.data(), good.size()));
  const struct {
    const char* what;
    size_t offset;  // byte to change
    uint8_t value;
  } bad[] = {
      {"not IPv4 EtherType", 12, 0x86},
      {"IP version 6", 14, 0x65},
      {"header length 16", 14, 0x44},
      {"header length past the end", 14, 0x4F},
      {"total length past the end", 16, 0x10},
      {"total length below the headers", 17, 20},
      {"TCP", 23, 6},
      {"a fragment", 20, 0x20},
      {"UDP length 7", 39, 7},
      {"UDP length past the datagram", 39, 40},
  };
  for (const auto& c : bad) {
    Bytes frame = good;
    frame[c.offset] = c.value;
    EXPECT_FALSE(ParseUdpFrame(frame.data(), frame.size())) << c.what;
  }
  for (size_t length = 0; length < 42; ++length)
    EXPECT_FALSE(ParseUdpFrame(good.data(), length)) << length;
  // Ethernet padding after the datagram is allowed; the payload stops at the UDP length.
  Bytes padded = good;
  padded.resize(60, 0xEE);
  const auto parsed = ParseUdpFrame(padded.data(), padded.size());
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->payloadLength, 8u);
}

TEST(SimFrames, PacketHeaderUsableLengthIsTheSmallestOfWhatIsClaimedAndPresent) {
  const uint8_t payload[12] = {0x20, 0, 0, 200, 1, 2, 3, 4, 9, 9, 9, 9};
  auto header = ParsePacketHeader(payload, sizeof payload);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->usableDataLength, 4u);
  EXPECT_FALSE(ParsePacketHeader(payload, 7));
}

TEST(SimFrames, BuiltFramesCarryValidChecksums) {
  UdpFrameFields setup;
  setup.destinationMac = kPcMac;
  setup.sourceMac = MacFromSerial(1);
  setup.sourceAddress = *ParseIpv4("192.168.202.21");
  setup.destinationAddress = 0xFFFFFFFF;
  setup.sourcePort = 55555;
  setup.destinationPort = 34531;
  for (size_t length : {0u, 1u, 17u, 36u}) {
    Bytes payload(length, 0xA5);
    const Bytes frame = BuildUdpFrame(setup, payload.data(), payload.size());
    ASSERT_GE(frame.size(), 60u);
    EXPECT_EQ(InternetChecksum(frame.data() + 14, 20), 0)
        << "IPv4 header checksum, length " << length;
    const size_t udpLength = 8 + length;
    EXPECT_EQ(base::GetBE16(frame.data() + 38), udpLength);
    EXPECT_EQ(InternetChecksum(frame.data() + 34, udpLength,
                               PseudoHeaderSum(frame.data() + 14, udpLength)),
              0)
        << "UDP checksum, length " << length;
  }
}

TEST(SimDiscovery, EveryReachableModuleAnswersOnceWithItsRecord) {
  auto modules = UdpModules(5);
  modules[3]->SetAlive(false);
  modules[4]->SetRebooting(true);
  Timing timing;
  UdpResponder responder(modules, timing, 7);
  const Bytes request = DiscoverRequest(40000);
  const auto out = responder.OnFrame(request.data(), request.size());
  ASSERT_EQ(out.size(), 3u);
  for (const auto& frame : out) {
    const SimModule& module = *modules[frame.module];
    EXPECT_GE(frame.delayMs, timing.answerDelayMinMs);
    EXPECT_LE(frame.delayMs, timing.answerDelayMaxMs);
    const auto parsed = ParseUdpFrame(frame.bytes.data(), frame.bytes.size());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->destinationMac, kPcMac);
    EXPECT_EQ(parsed->sourceMac, module.MacAddress());
    EXPECT_EQ(parsed->sourceAddress, module.Address());
    EXPECT_EQ(parsed->destinationAddress, 0xFFFFFFFFu);
    EXPECT_EQ(parsed->sourcePort, 55555);
    EXPECT_EQ(parsed->destinationPort, 40000);
    ASSERT_EQ(parsed->payloadLength, 8u + 28u);
    const uint8_t* p = parsed->payload;
    EXPECT_EQ(p[0], 0x1F);
    EXPECT_EQ(p[1], 0);
    EXPECT_EQ(p[2], module.PacketFlags());
    EXPECT_EQ(p[3], 28);
    EXPECT_EQ(Bytes(p + 4, p + 8), (Bytes{0x05, 0x00, 0x00, 0x80}));
    EXPECT_EQ(Bytes(p + 8, p + 36), module.NodeRecord());
  }
}

TEST(SimDiscovery, RequestsThatAreNotADiscoverAreNotAnswered) {
  auto modules = UdpModules(2);
  Timing timing;
  UdpResponder responder(modules, timing, 7);
  const Bytes whole = DiscoverRequest();
  const struct {
    const char* what;
    Bytes frame;
  } cases[] = {
      {"from the module port", DiscoverRequest(55555)},
      {"with data", DiscoverRequest(34531, 4)},
      {"unicast to another MAC", DiscoverRequest(34531, 0, kPcMac)},
      {"cut short", Bytes(whole.begin(), whole.begin() + 45)},
  };
  for (const auto& c : cases)
    EXPECT_TRUE(responder.OnFrame(c.frame.data(), c.frame.size()).empty()) << c.what;
}

TEST(SimDiscovery, FaultsShapeTheAnswers) {
  auto modules = UdpModules(4);
  modules[0]->ModuleFaults().dropFraction = 1.0;
  modules[1]->ModuleFaults().duplicate = true;
  modules[2]->ModuleFaults().staleSequence = true;
  modules[3]->ModuleFaults().delayMs = 700;
  Timing timing;
  UdpResponder responder(modules, timing, 7);
  const Bytes request = DiscoverRequest();
  const auto out = responder.OnFrame(request.data(), request.size());
  std::map<size_t, std::vector<const OutgoingFrame*>> byModule;
  for (const auto& frame : out) byModule[frame.module].push_back(&frame);
  EXPECT_EQ(byModule.count(0), 0u);
  EXPECT_EQ(byModule[1].size(), 2u);
  ASSERT_EQ(byModule[2].size(), 1u);
  const auto stale = ParseUdpFrame(byModule[2][0]->bytes.data(), byModule[2][0]->bytes.size());
  EXPECT_EQ(Bytes(stale->payload + 4, stale->payload + 8), (Bytes{0x04, 0x00, 0x00, 0x80}));
  ASSERT_EQ(byModule[3].size(), 1u);
  EXPECT_GE(byModule[3][0]->delayMs, 700u);
  // Faults that are limited to Modbus leave the discovery answers alone.
  modules[0]->ModuleFaults().affectsDiscovery = false;
  const auto again = responder.OnFrame(request.data(), request.size());
  int fromFirst = 0;
  for (const auto& frame : again) fromFirst += frame.module == 0;
  EXPECT_EQ(fromFirst, 1);
}

TEST(SimDiscovery, PreviousSequenceWrapsLikeA32BitNumber) {
  EXPECT_EQ(PreviousSequence({0x01, 0x00, 0x00, 0x80}),
            (std::array<uint8_t, 4>{0x00, 0x00, 0x00, 0x80}));
  EXPECT_EQ(PreviousSequence({0x00, 0x00, 0x00, 0x00}),
            (std::array<uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF}));
}

}  // namespace
}  // namespace sim

namespace sim {
namespace {

// A PLC lock request (0x70, "MGMT", value) to one module: by its MAC, or broadcast MAC to its
// address.
Bytes LockRequest(const Mac& destination, const std::string& address, uint32_t value) {
  Bytes frame = DiscoverRequest(44532, 8, destination);
  frame.resize(42 + 16);
  base::PutBE16(frame.data() + 16, 20 + 8 + 16);
  const uint32_t to = *ParseIpv4(address);  // network order
  std::memcpy(frame.data() + 30, &to, 4);
  base::PutBE16(frame.data() + 24, 0);
  base::PutBE16(frame.data() + 24, InternetChecksum(frame.data() + 14, 20));
  base::PutBE16(frame.data() + 38, 8 + 16);
  frame[42] = 0x70;
  std::memcpy(frame.data() + 50, "MGMT", 4);
  base::PutBE32(frame.data() + 54, value);
  return frame;
}

TEST(SimPlcLock, OnlyTheAddressedModuleStoresTheLockAndAnswersWithRecordAndState) {
  auto modules = UdpModules(3);
  Timing timing;
  UdpResponder responder(modules, timing, 1);
  const struct {
    const char* what;
    Mac destination;
    std::string address;
    uint32_t value;
    int answering;  // index of the module that answers, -1 none
  } cases[] = {
      {"by MAC", MacFromSerial(5001), "255.255.255.255", 1, 1},
      {"broadcast MAC to its address", kBroadcast, "192.168.202.22", 1, 2},
      {"unlock by MAC", MacFromSerial(5001), "255.255.255.255", 0, 1},
      {"broadcast to the broadcast address: nobody", kBroadcast, "255.255.255.255", 1, -1},
  };
  for (const auto& c : cases) {
    const Bytes request = LockRequest(c.destination, c.address, c.value);
    const auto out = responder.OnFrame(request.data(), request.size());
    if (c.answering < 0) {
      EXPECT_TRUE(out.empty()) << c.what;
      continue;
    }
    ASSERT_EQ(out.size(), 1u) << c.what;
    EXPECT_EQ(out[0].module, static_cast<size_t>(c.answering)) << c.what;
    const auto frame = ParseUdpFrame(out[0].bytes.data(), out[0].bytes.size());
    ASSERT_TRUE(frame) << c.what;
    EXPECT_EQ(frame->destinationPort, 44532) << c.what;
    const auto header = ParsePacketHeader(frame->payload, frame->payloadLength);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->code, 0x73) << c.what;
    ASSERT_EQ(header->usableDataLength, 24u) << c.what;
    EXPECT_EQ(base::GetBE32(header->data), 5000u + c.answering) << c.what;  // the serial
    EXPECT_EQ(base::GetBE32(header->data + 20), c.value) << c.what;
    EXPECT_EQ(modules[c.answering]->Files().plcLock, c.value) << c.what;
  }
  EXPECT_EQ(modules[0]->Files().lockRequests, 0u);
}

}  // namespace
}  // namespace sim
