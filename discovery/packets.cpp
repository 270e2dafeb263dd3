#include "discovery/packets.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "base/bytes.h"
#include "platform/tick.h"

namespace discovery {

namespace {

struct RunStart {
  uint64_t ms;
  uint32_t first;
};

const RunStart& ThisRun() {
  static const RunStart start = [] {
    const uint64_t ms = platform::BootTimeMs();
    return RunStart{ms, FirstSequenceOfRun(ms)};
  }();
  return start;
}

}  // namespace

uint32_t FirstSequenceOfRun(uint64_t startMs) {
  const uint64_t ticket = (startMs + 1) * kSequencesPerMs + 1;
  return 0x80000000u | static_cast<uint32_t>(ticket & 0x7FFFFFFFu);
}

uint64_t SequenceDueMs(uint64_t startMs, uint32_t taken) {
  return startMs + 1 + taken / kSequencesPerMs;
}

std::atomic<uint32_t>& SequenceCounter() {
  static std::atomic<uint32_t> counter{ThisRun().first};
  return counter;
}

uint32_t NextSequenceNumber() {
  const RunStart& run = ThisRun();
  const uint32_t sequence = SequenceCounter().fetch_add(1);
  const uint64_t due = SequenceDueMs(run.ms, sequence - run.first);
  while (platform::BootTimeMs() < due) std::this_thread::sleep_for(std::chrono::microseconds(250));
  return sequence;
}

void PutPacketHeader(uint8_t* header, uint8_t code, uint8_t flags, uint8_t dataLength,
                     uint32_t sequence) {
  header[0] = code;
  header[1] = 0;
  header[2] = flags;
  header[3] = dataLength;
  base::PutLE32(header + 4, sequence);
}

std::array<uint8_t, kPacketHeaderLength> MakePacketHeader(uint8_t code, uint8_t flags,
                                                          uint8_t dataLength, uint32_t sequence) {
  std::array<uint8_t, kPacketHeaderLength> header{};
  PutPacketHeader(header.data(), code, flags, dataLength, sequence);
  return header;
}

std::optional<AnswerPacket> ParseAnswerPacket(const uint8_t* payload, size_t length) {
  if (payload == nullptr || length < kPacketHeaderLength) return std::nullopt;
  AnswerPacket packet;
  packet.code = payload[0];
  packet.flags = payload[2];
  packet.dataLengthByte = payload[3];
  std::memcpy(packet.sequenceBytes.data(), payload + 4, 4);
  packet.sequence = base::GetLE32(payload + 4);
  packet.data = payload + kPacketHeaderLength;
  packet.udpDataLength = length;
  packet.dataLength = std::min<size_t>(packet.dataLengthByte, length - kPacketHeaderLength);
  return packet;
}

std::optional<CapturedAnswer> ParseCapturedAnswer(const uint8_t* frame, size_t length,
                                                  uint16_t expectedDestinationPort) {
  const auto candidate = ParseCandidateFrame(frame, length, kModulePort, expectedDestinationPort);
  if (!candidate) return std::nullopt;
  const auto packet = ParseAnswerPacket(candidate->payload, candidate->payloadLength);
  if (!packet) return std::nullopt;
  return CapturedAnswer{*candidate, *packet};
}

bool RevisionKeepsCapability(uint16_t revision) {
  const int major = revision >> 8;
  const int minor = revision & 0xFF;
  return major > 4 || (major == 4 && minor >= 1);
}

std::optional<NodeRecord> ParseNodeRecord(const uint8_t* data, size_t length) {
  if (data == nullptr || length < 8) return std::nullopt;
  NodeRecord record;
  record.length = std::min(length, kMaxStoredRecordLength);
  std::memcpy(record.bytes.data(), data, record.length);
  record.serialNumber = base::GetBE32(data);
  record.ipAddress = base::Ipv4FromBytes(data + 4);
  if (record.length >= 16) {
    record.mask = base::Ipv4FromBytes(data + 8);
    record.gateway = base::Ipv4FromBytes(data + 12);
  }
  if (record.length >= 17) record.flags = data[16];
  if (record.length >= 20) record.revision = base::GetBE16(data + 18);
  if (record.length >= 18) {
    if (!RevisionKeepsCapability(record.revision)) record.bytes[17] = 0;
    record.capability = record.bytes[17];
  }
  return record;
}

}  // namespace discovery
