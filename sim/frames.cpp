#include "sim/frames.h"

#include <cstring>

#include "base/bytes.h"

namespace sim {

std::optional<UdpFrame> ParseUdpFrame(const uint8_t* frame, size_t length) {
  if (length < kEthernetHeaderLength + 20) return std::nullopt;
  if (base::GetBE16(frame + 12) != 0x0800) return std::nullopt;
  const uint8_t* ip = frame + kEthernetHeaderLength;
  const size_t ipAvailable = length - kEthernetHeaderLength;
  if ((ip[0] >> 4) != 4) return std::nullopt;
  const size_t headerLength = size_t{ip[0] & 0x0Fu} * 4;
  if (headerLength < 20 || headerLength > ipAvailable) return std::nullopt;
  const size_t totalLength = base::GetBE16(ip + 2);
  // Ethernet padding may follow the datagram; a datagram longer than what was captured is cut.
  if (totalLength < headerLength + 8 || totalLength > ipAvailable) return std::nullopt;
  if (ip[9] != 17) return std::nullopt;
  const uint16_t fragment = base::GetBE16(ip + 6);
  if ((fragment & 0x3FFF) != 0) return std::nullopt;  // a fragment: more-fragments or an offset
  const uint8_t* udp = ip + headerLength;
  const size_t udpLength = base::GetBE16(udp + 4);
  if (udpLength < 8 || udpLength > totalLength - headerLength) return std::nullopt;
  UdpFrame parsed;
  std::memcpy(parsed.destinationMac.data(), frame, 6);
  std::memcpy(parsed.sourceMac.data(), frame + 6, 6);
  parsed.sourceAddress = base::Ipv4FromBytes(ip + 12);
  parsed.destinationAddress = base::Ipv4FromBytes(ip + 16);
  parsed.sourcePort = base::GetBE16(udp);
  parsed.destinationPort = base::GetBE16(udp + 2);
  parsed.payload = udp + 8;
  parsed.payloadLength = udpLength - 8;
  return parsed;
}

std::optional<PacketHeader> ParsePacketHeader(const uint8_t* payload, size_t length) {
  if (length < kPacketHeaderLength) return std::nullopt;
  PacketHeader header;
  header.code = payload[0];
  header.flags = payload[2];
  header.dataLength = payload[3];
  std::memcpy(header.sequence.data(), payload + 4, 4);
  header.data = payload + kPacketHeaderLength;
  const size_t present = length - kPacketHeaderLength;
  header.usableDataLength = header.dataLength < present ? header.dataLength : present;
  return header;
}

uint16_t InternetChecksum(const uint8_t* data, size_t length, uint32_t initial) {
  uint64_t sum = initial;
  size_t i = 0;
  for (; i + 1 < length; i += 2) sum += base::GetBE16(data + i);
  if (i < length) sum += uint32_t{data[i]} << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

std::vector<uint8_t> BuildUdpFrame(const UdpFrameFields& setup, const uint8_t* payload,
                                   size_t length) {
  const size_t udpLength = 8 + length;
  const size_t ipLength = 20 + udpLength;
  std::vector<uint8_t> frame(kEthernetHeaderLength + ipLength);
  std::memcpy(frame.data(), setup.destinationMac.data(), 6);
  std::memcpy(frame.data() + 6, setup.sourceMac.data(), 6);
  base::PutBE16(frame.data() + 12, 0x0800);
  uint8_t* ip = frame.data() + kEthernetHeaderLength;
  ip[0] = 0x45;
  ip[1] = 0;
  base::PutBE16(ip + 2, static_cast<uint16_t>(ipLength));
  base::PutBE16(ip + 4, setup.identification);
  base::PutBE16(ip + 6, 0);
  ip[8] = setup.ttl;
  ip[9] = 17;
  base::Ipv4ToBytes(setup.sourceAddress, ip + 12);
  base::Ipv4ToBytes(setup.destinationAddress, ip + 16);
  base::PutBE16(ip + 10, InternetChecksum(ip, 20));
  uint8_t* udp = ip + 20;
  base::PutBE16(udp, setup.sourcePort);
  base::PutBE16(udp + 2, setup.destinationPort);
  base::PutBE16(udp + 4, static_cast<uint16_t>(udpLength));
  if (length) std::memcpy(udp + 8, payload, length);
  // Pseudo-header: source, destination, protocol, UDP length.
  uint32_t pseudo = 17 + static_cast<uint32_t>(udpLength);
  pseudo += base::GetBE16(ip + 12) + base::GetBE16(ip + 14) + base::GetBE16(ip + 16) +
            base::GetBE16(ip + 18);
  uint16_t checksum = InternetChecksum(udp, udpLength, pseudo);
  if (checksum == 0) checksum = 0xFFFF;  // 0 would mean "no checksum"
  base::PutBE16(udp + 6, checksum);
  if (frame.size() < kMinimumFrameLength) frame.resize(kMinimumFrameLength, 0);
  return frame;
}

std::array<uint8_t, 4> PreviousSequence(const std::array<uint8_t, 4>& sequence) {
  uint32_t value = base::GetLE32(sequence.data()) - 1;
  std::array<uint8_t, 4> result;
  base::PutLE32(result.data(), value);
  return result;
}

}  // namespace sim
