#pragma once
// The Ethernet II / IPv4 / UDP frame that carries every packet of the module protocol. The
// tool builds the whole frame itself and sends it through the capture device; answers are
// captured frames that go through ParseCandidateFrame before anything reads them.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace discovery {

using MacBytes = std::array<uint8_t, 6>;

constexpr size_t kEthernetHeaderLength = 14;
constexpr size_t kIpv4HeaderLength = 20;  // the header the tool sends: no options
constexpr size_t kUdpHeaderLength = 8;
constexpr size_t kFrameHeaderLength = kEthernetHeaderLength + kIpv4HeaderLength + kUdpHeaderLength;
constexpr uint16_t kEtherTypeIpv4 = 0x0800;
constexpr uint8_t kIpProtocolUdp = 17;
constexpr uint16_t kIpIdentification = 0x1337;
constexpr uint8_t kIpTimeToLive = 128;
constexpr MacBytes kBroadcastMac = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr uint32_t kBroadcastIpv4 = 0xFFFFFFFFu;

struct UdpFrameAddress {
  MacBytes destinationMac = kBroadcastMac;
  MacBytes sourceMac{};
  uint32_t sourceIpv4 = 0;                    // network order
  uint32_t destinationIpv4 = kBroadcastIpv4;  // network order
  uint16_t sourcePort = 0;
  uint16_t destinationPort = 0;
};

// RFC 1071 one's-complement sum folded to 16 bits (not inverted); `initial` continues a sum.
uint32_t OnesComplementSum(const uint8_t* data, size_t length, uint32_t initial = 0);
// RFC 791 header checksum of an IPv4 header whose checksum field is zero.
uint16_t Ipv4HeaderChecksum(const uint8_t* header, size_t length);
// RFC 768 checksum over the IPv4 pseudo-header and the UDP header + data (checksum field zero).
// A computed 0 is sent as 0xFFFF, since 0 means "no checksum".
uint16_t UdpChecksum(uint32_t sourceIpv4, uint32_t destinationIpv4, const uint8_t* udp,
                     size_t length);

// The whole frame: 42 header bytes followed by the payload. Payloads longer than an IPv4
// datagram can carry are cut to what fits.
std::vector<uint8_t> BuildUdpFrame(const UdpFrameAddress& address, const uint8_t* payload,
                                   size_t length);

// A captured frame that may be a module's answer: Ethernet II with EtherType IPv4, an IPv4
// header of the length it announces carrying protocol 17, UDP from port 55555 to the expected
// port, and a UDP payload of at least the 8-byte packet header. `payloadLength` is the smaller
// of the UDP length field minus 8 and the bytes really captured after the UDP header.
struct CandidateFrame {
  MacBytes sourceMac{};
  MacBytes destinationMac{};
  uint32_t sourceIpv4 = 0;  // network order
  uint16_t sourcePort = 0;
  uint16_t destinationPort = 0;
  const uint8_t* payload = nullptr;  // points into the captured frame
  size_t payloadLength = 0;
};

// expectedDestinationPort 0 accepts any destination port. Nothing is read past `length`.
std::optional<CandidateFrame> ParseCandidateFrame(const uint8_t* frame, size_t length,
                                                  uint16_t expectedSourcePort,
                                                  uint16_t expectedDestinationPort);

}  // namespace discovery
