#pragma once
// The module protocol on UDP port 55555: the 8-byte packet header, the packet codes, the ports,
// the process-wide sequence counter and the node record carried by discovery-style answers.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "discovery/udp_frame.h"

namespace discovery {

// UDP ports.
constexpr uint16_t kModulePort = 55555;            // modules listen and answer from here
constexpr uint16_t kDiscoverPort = 34531;          // source of the discover request
constexpr uint16_t kNodeCommandPort = 44532;       // commands to one node or on all adapters
constexpr uint16_t kBroadcastCommandPort = 44533;  // broadcast management commands
constexpr uint16_t kTopologyPort = 44544;          // PACKET_GET_TOPOLOGY
constexpr uint16_t kNeighborsPort = 44547;         // PACKET_GET_NEIGHBORS

// Packet codes.
enum PacketCode : uint8_t {
  kPacketDiscover = 0x10,  // request; also a module's PING1 announcement during topology
  kPacketDiscoverAnswer = 0x1F,
  kPacketSetNodeIp = 0x20,
  kPacketSetNodeIpAnswer = 0x21,
  kPacketSetFirstLast = 0x30,
  kPacketSetFirstLastAnswer = 0x31,
  kPacketGoNormal = 0x41,
  kPacketDiscoverOnLeft = 0x50,
  kPacketDiscoverOnRight = 0x51,
  kPacketGoRouting = 0x53,
  kPacketDiscoverList1 = 0x58,  // PING3: a list of 20-byte node records
  kPacketDiscoverList2 = 0x59,
  kPacketGetTopology = 0x60,
  kPacketTopologyAnswer = 0x61,
  kPacketIgnored71 = 0x71,
  kPacketReadLockAnswer1 = 0x73,
  kPacketReadLockAnswer2 = 0x75,
  kPacketIgnored77 = 0x77,
  kPacketGetNeighbors = 0x78,
  kPacketNeighborsAnswer = 0x79,
  kPacketManagement = 0xB0,
};

constexpr size_t kPacketHeaderLength = 8;
constexpr size_t kMaxStoredRecordLength = 64;           // bytes of a node record that are kept
constexpr size_t kListRecordLength = 20;                // one entry of a 0x58 / 0x59 list
constexpr uint32_t kFirstSequenceNumber = 0x80000001u;  // the lowest number a run starts at

// Modules only echo the sequence number, so it alone tells an answer to this run from a late
// answer to an earlier run (a script's previous `quillmar-cli`). The numbers are therefore tied
// to the machine's boot clock: a run that starts in millisecond t begins with the numbers of
// millisecond t + 1, and hands out number n of the run no earlier than the millisecond it
// belongs to (kSequencesPerMs a millisecond). Every number of a run that ended before another
// started is then below the other's first; numbers repeat only 2^31 / 16 ms (37 hours) apart.
constexpr uint32_t kSequencesPerMs = 16;
// First number of a run that starts in boot millisecond startMs (top bit set, as the modules
// have always seen).
uint32_t FirstSequenceOfRun(uint64_t startMs);
// Boot millisecond from which the run may hand out the number that follows `taken` others.
uint64_t SequenceDueMs(uint64_t startMs, uint32_t taken);

// The next value of the process-wide sequence counter (consecutive, wraps); waits (at most a
// millisecond at a time) while the run is ahead of its clock.
uint32_t NextSequenceNumber();
// The counter itself (the next number), for code that must look without taking a number.
std::atomic<uint32_t>& SequenceCounter();

// Writes the 8-byte header: code, 0, flags, data length, sequence least significant byte first.
void PutPacketHeader(uint8_t* header, uint8_t code, uint8_t flags, uint8_t dataLength,
                     uint32_t sequence);
std::array<uint8_t, kPacketHeaderLength> MakePacketHeader(uint8_t code, uint8_t flags,
                                                          uint8_t dataLength, uint32_t sequence);

// A received packet: its header fields and the data that may really be read. `dataLength` is
// the smallest of the header's data-length byte and the data bytes present after the header in
// the UDP payload as captured.
struct AnswerPacket {
  uint8_t code = 0;
  uint8_t flags = 0;
  uint8_t dataLengthByte = 0;
  uint32_t sequence = 0;                   // as the tool wrote it (the four bytes read LSB first)
  std::array<uint8_t, 4> sequenceBytes{};  // the four bytes as they came
  const uint8_t* data = nullptr;           // points into the captured frame
  size_t dataLength = 0;
  size_t udpDataLength = 0;  // UDP payload bytes present (header included)
};

// Parses the packet header of a candidate's payload; nullopt when fewer than 8 bytes.
std::optional<AnswerPacket> ParseAnswerPacket(const uint8_t* payload, size_t length);
// ParseCandidateFrame (from port 55555) followed by ParseAnswerPacket.
struct CapturedAnswer {
  CandidateFrame frame;
  AnswerPacket packet;
};
std::optional<CapturedAnswer> ParseCapturedAnswer(const uint8_t* frame, size_t length,
                                                  uint16_t expectedDestinationPort);

// One node record as the modules send it (at most 64 bytes kept).
struct NodeRecord {
  std::array<uint8_t, kMaxStoredRecordLength> bytes{};  // as received, zero-padded; byte 17
                                                        // already cleared for old firmware
  size_t length = 0;  // bytes of the record really present (<= 64)
  uint32_t serialNumber = 0;
  uint32_t ipAddress = 0;  // network order
  uint32_t mask = 0;       // network order; 0 when the record is shorter than 16 bytes
  uint32_t gateway = 0;    // network order; 0 when the record is shorter than 16 bytes
  uint8_t flags = 0;       // byte 16, when present
  uint8_t capability = 0;  // byte 17, 0 when the firmware is older than 4.1
  uint16_t revision = 0;   // major in the high byte; 0 when the record is shorter than 20 bytes
};

// The capability byte is kept only from firmware 4.1 on (major above 4, or 4 with minor >= 1).
bool RevisionKeepsCapability(uint16_t revision);

// Parses `length` bytes of a record (capped at 64). nullopt when shorter than 8 bytes (serial
// number and address are the least a record carries).
std::optional<NodeRecord> ParseNodeRecord(const uint8_t* data, size_t length);

}  // namespace discovery
