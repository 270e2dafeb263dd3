#include "sim/udp_protocol.h"

#include <cstring>

#include "base/bytes.h"

namespace sim {
namespace {

constexpr Mac kBroadcastMac = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr uint32_t kBroadcastAddress = 0xFFFFFFFFu;

}  // namespace

UdpResponder::UdpResponder(std::vector<std::unique_ptr<SimModule>>& modules, const Timing& timing,
                           uint32_t seed)
    : modules_(modules), timing_(timing), random_(seed) {}

std::vector<OutgoingFrame> UdpResponder::OnFrame(const uint8_t* bytes, size_t length) {
  std::vector<OutgoingFrame> out;
  const auto frame = ParseUdpFrame(bytes, length);
  // Other modules' announcements come from the module port and are never answered.
  if (!frame || frame->destinationPort != kModulePort || frame->sourcePort == kModulePort)
    return out;
  const auto header = ParsePacketHeader(frame->payload, frame->payloadLength);
  if (!header) return out;
  switch (header->code) {
    case kCodeDiscover:
      if (header->dataLength == 0 && frame->destinationMac == kBroadcastMac)
        AnswerDiscover(*frame, *header, out);
      break;
    case kCodePlcLock:
      AnswerPlcLock(*frame, *header, out);
      break;
    default:
      break;
  }
  return out;
}

void UdpResponder::AnswerPlcLock(const UdpFrame& frame, const PacketHeader& header,
                                 std::vector<OutgoingFrame>& out) {
  // "MGMT" and the lock value (big-endian): 1 lock, 0 unlock.
  if (header.usableDataLength < 8 || std::memcmp(header.data, "MGMT", 4) != 0) return;
  const uint32_t value = base::GetBE32(header.data + 4);
  for (size_t i = 0; i < modules_.size(); ++i) {
    SimModule& module = *modules_[i];
    if (!module.Reachable()) continue;
    const bool addressed =
        frame.destinationMac == module.MacAddress() ||
        (frame.destinationMac == kBroadcastMac && frame.destinationAddress == module.Address());
    if (!addressed) continue;
    ModuleFiles& files = module.Files();
    ++files.lockRequests;
    files.plcLock = value ? 1 : 0;
    // The answer: the first 20 bytes of the record (zero-padded when the module sends a
    // shorter one), then the lock state.
    std::vector<uint8_t> data = module.NodeRecord();
    data.resize(20, 0);
    data.resize(24);
    base::PutBE32(data.data() + 20, files.plcLock);
    Emit(i, 0, kCodePlcLockAnswer, frame, header, data, out);
  }
}

void UdpResponder::AnswerDiscover(const UdpFrame& frame, const PacketHeader& header,
                                  std::vector<OutgoingFrame>& out) {
  std::uniform_int_distribution<uint32_t> delay(timing_.answerDelayMinMs, timing_.answerDelayMaxMs);
  for (size_t i = 0; i < modules_.size(); ++i) {
    SimModule& module = *modules_[i];
    if (!module.Reachable()) continue;
    ++module.Counters().discoverRequests;
    Emit(i, delay(random_), kCodeDiscoverAnswer, frame, header, module.NodeRecord(), out);
  }
}

void UdpResponder::Emit(size_t index, uint32_t baseDelayMs, uint8_t code, const UdpFrame& request,
                        const PacketHeader& header, const std::vector<uint8_t>& data,
                        std::vector<OutgoingFrame>& out) {
  SimModule& module = *modules_[index];
  const Faults& faults = module.ModuleFaults();
  const bool faulty = faults.affectsDiscovery;
  if (faulty && faults.dropFraction > 0) {
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    if (chance(random_) < faults.dropFraction) return;
  }
  std::vector<uint8_t> payload(kPacketHeaderLength + data.size());
  payload[0] = code;
  payload[1] = 0;
  payload[2] = module.PacketFlags();
  payload[3] = static_cast<uint8_t>(data.size());
  const auto sequence =
      faulty && faults.staleSequence ? PreviousSequence(header.sequence) : header.sequence;
  std::copy(sequence.begin(), sequence.end(), payload.begin() + 4);
  std::copy(data.begin(), data.end(), payload.begin() + kPacketHeaderLength);
  UdpFrameFields setup;
  setup.destinationMac = request.sourceMac;
  setup.sourceMac = module.MacAddress();
  setup.sourceAddress = module.Address();
  setup.destinationAddress = kBroadcastAddress;
  setup.sourcePort = kModulePort;
  setup.destinationPort = request.sourcePort;
  setup.identification = identification_++;
  OutgoingFrame frame{index, baseDelayMs + (faulty ? faults.delayMs : 0),
                      BuildUdpFrame(setup, payload.data(), payload.size())};
  if (faulty && faults.duplicate) {
    OutgoingFrame copy = frame;
    copy.delayMs += 1;
    out.push_back(std::move(copy));
  }
  out.push_back(std::move(frame));
}

}  // namespace sim
