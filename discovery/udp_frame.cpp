#include "discovery/udp_frame.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"

namespace discovery {

uint32_t OnesComplementSum(const uint8_t* data, size_t length, uint32_t initial) {
  uint64_t sum = initial;
  size_t i = 0;
  for (; i + 1 < length; i += 2) sum += base::GetBE16(data + i);
  if (i < length) sum += uint32_t{data[i]} << 8;  // odd length: pad with a zero byte
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum);
}

uint16_t Ipv4HeaderChecksum(const uint8_t* header, size_t length) {
  return static_cast<uint16_t>(~OnesComplementSum(header, length) & 0xFFFF);
}

uint16_t UdpChecksum(uint32_t sourceIpv4, uint32_t destinationIpv4, const uint8_t* udp,
                     size_t length) {
  uint8_t pseudo[12];
  base::Ipv4ToBytes(sourceIpv4, pseudo);
  base::Ipv4ToBytes(destinationIpv4, pseudo + 4);
  pseudo[8] = 0;
  pseudo[9] = kIpProtocolUdp;
  base::PutBE16(pseudo + 10, static_cast<uint16_t>(length));
  const uint32_t sum = OnesComplementSum(udp, length, OnesComplementSum(pseudo, sizeof pseudo));
  const uint16_t checksum = static_cast<uint16_t>(~sum & 0xFFFF);
  return checksum == 0 ? 0xFFFF : checksum;
}

std::vector<uint8_t> BuildUdpFrame(const UdpFrameAddress& address, const uint8_t* payload,
                                   size_t length) {
  constexpr size_t kMaxPayload = 0xFFFF - kIpv4HeaderLength - kUdpHeaderLength;
  if (payload == nullptr) length = 0;
  length = std::min(length, kMaxPayload);
  std::vector<uint8_t> frame(kFrameHeaderLength + length, 0);
  uint8_t* ethernet = frame.data();
  std::memcpy(ethernet, address.destinationMac.data(), 6);
  std::memcpy(ethernet + 6, address.sourceMac.data(), 6);
  base::PutBE16(ethernet + 12, kEtherTypeIpv4);

  uint8_t* ip = ethernet + kEthernetHeaderLength;
  ip[0] = 0x45;
  ip[1] = 0;
  base::PutBE16(ip + 2, static_cast<uint16_t>(length + kIpv4HeaderLength + kUdpHeaderLength));
  base::PutBE16(ip + 4, kIpIdentification);
  base::PutBE16(ip + 6, 0);
  ip[8] = kIpTimeToLive;
  ip[9] = kIpProtocolUdp;
  base::Ipv4ToBytes(address.sourceIpv4, ip + 12);
  base::Ipv4ToBytes(address.destinationIpv4, ip + 16);
  base::PutBE16(ip + 10, Ipv4HeaderChecksum(ip, kIpv4HeaderLength));

  uint8_t* udp = ip + kIpv4HeaderLength;
  base::PutBE16(udp, address.sourcePort);
  base::PutBE16(udp + 2, address.destinationPort);
  base::PutBE16(udp + 4, static_cast<uint16_t>(length + kUdpHeaderLength));
  if (length > 0) std::memcpy(udp + kUdpHeaderLength, payload, length);
  base::PutBE16(udp + 6, UdpChecksum(address.sourceIpv4, address.destinationIpv4, udp,
                                     length + kUdpHeaderLength));
  return frame;
}

std::optional<CandidateFrame> ParseCandidateFrame(const uint8_t* frame, size_t length,
                                                  uint16_t expectedSourcePort,
                                                  uint16_t expectedDestinationPort) {
  if (frame == nullptr || length < kFrameHeaderLength) return std::nullopt;
  if (base::GetBE16(frame + 12) != kEtherTypeIpv4) return std::nullopt;
  const uint8_t* ip = frame + kEthernetHeaderLength;
  if ((ip[0] >> 4) != 4) return std::nullopt;
  const size_t ipHeaderLength = size_t{ip[0] & 0x0Fu} * 4;
  if (ipHeaderLength < kIpv4HeaderLength) return std::nullopt;
  if (ip[9] != kIpProtocolUdp) return std::nullopt;
  const size_t udpOffset = kEthernetHeaderLength + ipHeaderLength;
  if (length < udpOffset + kUdpHeaderLength) return std::nullopt;
  const uint8_t* udp = frame + udpOffset;

  CandidateFrame candidate;
  candidate.sourcePort = base::GetBE16(udp);
  candidate.destinationPort = base::GetBE16(udp + 2);
  if (candidate.sourcePort != expectedSourcePort) return std::nullopt;
  if (expectedDestinationPort != 0 && candidate.destinationPort != expectedDestinationPort) {
    return std::nullopt;
  }
  const size_t udpLength = base::GetBE16(udp + 4);
  if (udpLength < kUdpHeaderLength) return std::nullopt;
  const size_t captured = length - udpOffset - kUdpHeaderLength;
  candidate.payloadLength = std::min(udpLength - kUdpHeaderLength, captured);
  if (candidate.payloadLength < 8) return std::nullopt;  // not even a packet header
  candidate.payload = udp + kUdpHeaderLength;
  std::memcpy(candidate.destinationMac.data(), frame, 6);
  std::memcpy(candidate.sourceMac.data(), frame + 6, 6);
  candidate.sourceIpv4 = base::Ipv4FromBytes(ip + 12);
  return candidate;
}

}  // namespace discovery
