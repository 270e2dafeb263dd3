#include "discovery/udp_frame.h"

#include <gtest/gtest.h>

#include "base/bytes.h"
#include "discovery/packets.h"
#include "fixtures/fake_capture.h"

namespace discovery {
namespace {

using fakes::Ip;

UdpFrameAddress DiscoverAddress() {
  UdpFrameAddress address;
  address.sourceMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x0A};
  address.sourceIpv4 = Ip("192.168.202.10");
  address.sourcePort = kDiscoverPort;
  address.destinationPort = kModulePort;
  return address;
}

// A checksum over data that already contains its correct checksum folds to 0xFFFF.
TEST(UdpFrame, DiscoverFrameHasEveryFieldAndVerifyingChecksums) {
  const auto header = MakePacketHeader(kPacketDiscover, 0, 0, 0x80000001u);
  const auto frame = BuildUdpFrame(DiscoverAddress(), header.data(), header.size());
  ASSERT_EQ(frame.size(), 50u);
  const std::vector<uint8_t> expectedStart = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00,
                                              0x00, 0x00, 0x00, 0x0A, 0x08, 0x00, 0x45, 0x00,
                                              0x00, 36,   0x13, 0x37, 0x00, 0x00, 128,  17};
  EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 24), expectedStart);
  EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 26, frame.begin() + 34),
            (std::vector<uint8_t>{192, 168, 202, 10, 255, 255, 255, 255}));
  EXPECT_EQ(base::GetBE16(&frame[34]), 34531);
  EXPECT_EQ(base::GetBE16(&frame[36]), 55555);
  EXPECT_EQ(base::GetBE16(&frame[38]), 16);
  EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 42, frame.end()),
            (std::vector<uint8_t>{0x10, 0, 0, 0, 0x01, 0x00, 0x00, 0x80}));

  EXPECT_EQ(OnesComplementSum(&frame[14], 20), 0xFFFFu);
  uint8_t pseudo[12] = {192, 168, 202, 10, 255, 255, 255, 255, 0, 17, 0, 16};
  EXPECT_EQ(OnesComplementSum(&frame[34], 16, OnesComplementSum(pseudo, 12)), 0xFFFFu);
}

// Known answers: the IPv4 header example widely used for RFC 1071 checks, and an odd-length
// UDP payload (padding byte) whose checksum was worked out by hand.
TEST(UdpFrame, ChecksumsMatchKnownValues) {
  const uint8_t header[20] = {0x45, 0x00, 0x00, 0x73, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11,
                              0x00, 0x00, 0xc0, 0xa8, 0x00, 0x01, 0xc0, 0xa8, 0x00, 0xc7};
  EXPECT_EQ(Ipv4HeaderChecksum(header, 20), 0xB861);

  // 10.0.0.1 -> 10.0.0.2, ports 1 -> 2, data "A": sum of pseudo-header and UDP words by hand.
  const uint8_t udp[9] = {0x00, 0x01, 0x00, 0x02, 0x00, 0x09, 0x00, 0x00, 'A'};
  // 0x0A00+0x0001+0x0A00+0x0002+0x0011+0x0009 + 0x0001+0x0002+0x0009+0x4100 = 0x5529
  EXPECT_EQ(UdpChecksum(Ip("10.0.0.1"), Ip("10.0.0.2"), udp, 9), static_cast<uint16_t>(~0x5529));
}

TEST(UdpFrame, CandidateRulesOnLengthsPortsAndHeaders) {
  const std::vector<uint8_t> data(20, 0xAB);
  const auto answer =
      fakes::BuildModuleAnswer({0, 1, 2, 3, 4, 5}, Ip("192.168.202.20"), {2, 0, 0, 0, 0, 10},
                               kDiscoverPort, kPacketDiscoverAnswer, 0x10, 7, data);
  {
    const auto c = ParseCandidateFrame(answer.data(), answer.size(), kModulePort, kDiscoverPort);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->payloadLength, 28u);
    EXPECT_EQ(c->sourceIpv4, Ip("192.168.202.20"));
    EXPECT_EQ(c->sourceMac, (MacBytes{0, 1, 2, 3, 4, 5}));
    EXPECT_TRUE(ParseCandidateFrame(answer.data(), answer.size(), kModulePort, 0));
    EXPECT_FALSE(ParseCandidateFrame(answer.data(), answer.size(), kModulePort, kTopologyPort));
    EXPECT_FALSE(ParseCandidateFrame(answer.data(), answer.size(), kDiscoverPort, 0));
  }
  // Truncated capture: payload length follows what was captured, not the UDP length field.
  EXPECT_EQ(ParseCandidateFrame(answer.data(), 55, kModulePort, 0)->payloadLength, 13u);
  EXPECT_FALSE(ParseCandidateFrame(answer.data(), 49, kModulePort, 0));  // < packet header
  EXPECT_FALSE(ParseCandidateFrame(answer.data(), 41, kModulePort, 0));

  struct Case {
    const char* what;
    size_t offset;
    std::vector<uint8_t> bytes;
    bool candidate;
  };
  const Case cases[] = {
      {"EtherType ARP", 12, {0x08, 0x06}, false},
      {"protocol TCP", 23, {6}, false},
      {"IPv6 version nibble", 14, {0x65}, false},
      {"header length below 20", 14, {0x44}, false},
      {"UDP length below its header", 38, {0, 7}, false},
      {"UDP length says 8 data bytes", 38, {0, 16}, true},
      {"UDP length says 7 data bytes", 38, {0, 15}, false},
  };
  for (const auto& c : cases) {
    auto frame = answer;
    std::copy(c.bytes.begin(), c.bytes.end(), frame.begin() + c.offset);
    EXPECT_EQ(ParseCandidateFrame(frame.data(), frame.size(), kModulePort, 0).has_value(),
              c.candidate)
        << c.what;
  }

  // An IPv4 header with options (IHL 6) moves the UDP header by 4 bytes.
  auto withOptions = answer;
  withOptions[14] = 0x46;
  withOptions.insert(withOptions.begin() + 34, {1, 1, 1, 1});
  const auto c =
      ParseCandidateFrame(withOptions.data(), withOptions.size(), kModulePort, kDiscoverPort);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->payloadLength, 28u);
  EXPECT_EQ(c->payload[0], kPacketDiscoverAnswer);
  // ... and must still fit in what was captured.
  EXPECT_FALSE(ParseCandidateFrame(withOptions.data(), 45, kModulePort, 0));
}

}  // namespace
}  // namespace discovery
