#pragma once
// Ethernet II / IPv4 / UDP frames of the modules' UDP protocol (port 55555), parsed with every
// length checked before it is read, and built with correct IPv4 and UDP checksums.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/line.h"

namespace sim {

constexpr uint16_t kModulePort = 55555;
constexpr uint8_t kCodeDiscover = 0x10;
constexpr uint8_t kCodeDiscoverAnswer = 0x1F;
constexpr uint8_t kCodeSetNodeIp = 0x20;
constexpr uint8_t kCodeSetNodeIpAnswer = 0x21;
constexpr uint8_t kCodePlcLock = 0x70;
constexpr uint8_t kCodePlcLockAnswer = 0x73;
constexpr uint8_t kCodeSetFirstLast = 0x30;
constexpr uint8_t kCodeSetFirstLastAnswer = 0x31;
constexpr uint8_t kCodeGoNormal = 0x41;
constexpr uint8_t kCodeDiscoverOnLeft = 0x50;
constexpr uint8_t kCodeDiscoverOnRight = 0x51;
constexpr uint8_t kCodeGoRouting = 0x53;
constexpr uint8_t kCodeGetTopology = 0x60;
constexpr uint8_t kCodeTopologyAnswer = 0x61;
constexpr uint8_t kCodeGetNeighbours = 0x78;
constexpr uint8_t kCodeNeighboursAnswer = 0x79;
constexpr size_t kPacketHeaderLength = 8;
constexpr size_t kEthernetHeaderLength = 14;
constexpr size_t kMinimumFrameLength = 60;  // without the frame check sequence

struct UdpFrame {
  Mac destinationMac{};
  Mac sourceMac{};
  uint32_t sourceAddress = 0;       // network order
  uint32_t destinationAddress = 0;  // network order
  uint16_t sourcePort = 0;
  uint16_t destinationPort = 0;
  const uint8_t* payload = nullptr;  // points into the parsed buffer
  size_t payloadLength = 0;          // UDP length - 8, within the captured bytes
};

// Parses an Ethernet II frame carrying an unfragmented IPv4 UDP datagram. nullopt for any
// other frame or one whose lengths do not hold.
std::optional<UdpFrame> ParseUdpFrame(const uint8_t* frame, size_t length);

struct PacketHeader {
  uint8_t code = 0;
  uint8_t flags = 0;
  uint8_t dataLength = 0;             // as sent
  std::array<uint8_t, 4> sequence{};  // as sent (least significant byte first)
  const uint8_t* data = nullptr;
  size_t usableDataLength = 0;  // smallest of the data-length byte and the bytes present
};

// The 8-byte packet header at the start of a UDP payload; nullopt when it is shorter.
std::optional<PacketHeader> ParsePacketHeader(const uint8_t* payload, size_t length);

// One's-complement sum as IPv4 and UDP use it.
uint16_t InternetChecksum(const uint8_t* data, size_t length, uint32_t initial = 0);

struct UdpFrameFields {
  Mac destinationMac{};
  Mac sourceMac{};
  uint32_t sourceAddress = 0;
  uint32_t destinationAddress = 0;
  uint16_t sourcePort = 0;
  uint16_t destinationPort = 0;
  uint16_t identification = 0;
  uint8_t ttl = 64;
};
// A whole frame (padded to the Ethernet minimum) with both checksums filled in.
std::vector<uint8_t> BuildUdpFrame(const UdpFrameFields& setup, const uint8_t* payload,
                                   size_t length);

// The sequence bytes of an earlier request: the 32-bit number they carry, minus one.
std::array<uint8_t, 4> PreviousSequence(const std::array<uint8_t, 4>& sequence);

}  // namespace sim
