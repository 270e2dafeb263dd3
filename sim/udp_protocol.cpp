#include "sim/udp_protocol.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"

namespace sim {
namespace {

constexpr Mac kBroadcastMac = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr uint32_t kBroadcastAddress = 0xFFFFFFFFu;
constexpr size_t kDiscoverOnRecordLength = 16;  // a discover out of one port: at least this

// GET_TOPOLOGY and GET_NEIGHBORS carry "MGMT" and the value 32.
bool IsManagementQuery(const PacketHeader& header) {
  return header.usableDataLength >= 8 && std::memcmp(header.data, "MGMT", 4) == 0 &&
         base::GetBE32(header.data + 4) == 32;
}

// The serial number a GO_NORMAL / DISCOVER_ON request names; nullopt when it carries none.
std::optional<uint32_t> TargetSerial(const PacketHeader& header) {
  if (header.usableDataLength < 8) return std::nullopt;
  return base::GetBE32(header.data);
}

}  // namespace

UdpResponder::UdpResponder(std::vector<std::unique_ptr<SimModule>>& modules, const Timing& timing,
                           uint32_t seed)
    : modules_(modules), timing_(timing), random_(seed) {}

void UdpResponder::Rewire() {
  if (cabling_.size() == modules_.size()) return;
  cabling_.assign(modules_.size(), Cabling{});
  for (size_t i = 0; i < modules_.size(); ++i) {
    for (size_t j = 0; j < modules_.size(); ++j) {
      const ModuleSetup& a = modules_[i]->Setup();
      const ModuleSetup& b = modules_[j]->Setup();
      if (a.chain != b.chain) continue;
      if (b.position + 1 == a.position) cabling_[i].towardsPc = static_cast<int>(j);
      if (b.position == a.position + 1) cabling_[i].awayFromPc = static_cast<int>(j);
    }
  }
}

int UdpResponder::NeighbourOn(size_t index, bool left) {
  Rewire();
  // Direction 0: the left port faces the PC.
  const bool leftFacesPc = modules_[index]->Setup().direction == 0;
  return left == leftFacesPc ? cabling_[index].towardsPc : cabling_[index].awayFromPc;
}

uint8_t UdpResponder::PortFacing(size_t other, size_t index) const {
  const ModuleSetup& o = modules_[other]->Setup();
  const bool otherIsFurtherOut = o.position > modules_[index]->Setup().position;
  const bool otherLeftFacesPc = o.direction == 0;
  return otherIsFurtherOut == otherLeftFacesPc ? kPortLeft : kPortRight;
}

bool UdpResponder::Hears(size_t index) {
  Rewire();
  if (!modules_[index]->Reachable()) return false;
  for (int at = cabling_[index].towardsPc; at >= 0; at = cabling_[at].towardsPc) {
    if (modules_[at]->Routing()) return false;
  }
  return true;
}

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
    case kCodeSetFirstLast:
      SetFirstLast(*frame, *header, out);
      break;
    case kCodeSetNodeIp:
      SetNodeIp(*frame, *header, out);
      break;
    case kCodeGetTopology:
      if (IsManagementQuery(*header)) AnswerTopology(*frame, *header, out);
      break;
    case kCodeGetNeighbours:
      if (IsManagementQuery(*header)) AnswerNeighbours(*frame, *header, out);
      break;
    case kCodeGoRouting:
      GoRouting(*frame);
      break;
    case kCodeGoNormal:
      GoNormal(*frame, *header);
      break;
    case kCodeDiscoverOnLeft:
    case kCodeDiscoverOnRight:
      DiscoverOnPort(*frame, *header, header->code == kCodeDiscoverOnLeft, out);
      break;
    default:
      break;
  }
  return out;
}

void UdpResponder::SetFirstLast(const UdpFrame& frame, const PacketHeader& header,
                                std::vector<OutgoingFrame>& out) {
  // A copy of the module's record (serial big-endian first) with byte 16 the new position.
  constexpr size_t kPositionByte = 16;
  if (header.usableDataLength <= kPositionByte) return;
  const uint32_t serial = base::GetBE32(header.data);
  for (size_t i = 0; i < modules_.size(); ++i) {
    SimModule& module = *modules_[i];
    if (!module.Reachable() || module.Serial() != serial) continue;
    const bool addressed =
        frame.destinationMac == module.MacAddress() ||
        (frame.destinationMac == kBroadcastMac && frame.destinationAddress == module.Address());
    if (!addressed) continue;
    module.SetLinePosition(header.data[kPositionByte]);
    Emit(i, 0, kCodeSetFirstLastAnswer, frame.sourceMac, frame.sourcePort, header,
         module.NodeRecord(20), out);
  }
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
    Emit(i, 0, kCodePlcLockAnswer, frame.sourceMac, frame.sourcePort, header, data, out);
  }
}

void UdpResponder::SetNodeIp(const UdpFrame& frame, const PacketHeader& header,
                             std::vector<OutgoingFrame>& out) {
  // Serial, new address, mask and gateway (a flags word may follow).
  if (header.usableDataLength < 16) return;
  const uint32_t serial = base::GetBE32(header.data);
  const uint32_t address = base::Ipv4FromBytes(header.data + 4);
  const uint32_t mask = base::Ipv4FromBytes(header.data + 8);
  const uint32_t gateway = base::Ipv4FromBytes(header.data + 12);
  std::uniform_int_distribution<uint32_t> delay(timing_.answerDelayMinMs, timing_.answerDelayMaxMs);
  for (size_t i = 0; i < modules_.size(); ++i) {
    SimModule& module = *modules_[i];
    const bool addressed =
        frame.destinationMac == module.MacAddress() ||
        (frame.destinationMac == kBroadcastMac && frame.destinationAddress == module.Address());
    if (!addressed || !Hears(i) || module.ModuleFaults().silentSetNodeIp) continue;
    if (!module.ModuleFaults().keepsNetwork) {
      // With its own address unchanged, a module takes a new serial number instead.
      if (address == module.Address() && serial != 0 && serial != module.Serial())
        module.SetSerial(serial);
      if (setNetwork_) {
        setNetwork_(i, address, mask, gateway);
      } else {
        module.SetNetwork(address, mask, gateway);
      }
    }
    Emit(i, delay(random_), kCodeSetNodeIpAnswer, frame.sourceMac, frame.sourcePort, header,
         module.NodeRecord(20), out);
  }
}

void UdpResponder::AnswerDiscover(const UdpFrame& frame, const PacketHeader& header,
                                  std::vector<OutgoingFrame>& out) {
  std::uniform_int_distribution<uint32_t> delay(timing_.answerDelayMinMs, timing_.answerDelayMaxMs);
  for (size_t i = 0; i < modules_.size(); ++i) {
    SimModule& module = *modules_[i];
    if (!Hears(i)) continue;
    ++module.Counters().discoverRequests;
    Emit(i, delay(random_), kCodeDiscoverAnswer, frame.sourceMac, frame.sourcePort, header,
         module.NodeRecord(), out);
  }
}

void UdpResponder::AnswerTopology(const UdpFrame& frame, const PacketHeader& header,
                                  std::vector<OutgoingFrame>& out) {
  for (size_t i = 0; i < modules_.size(); ++i) {
    SimModule& module = *modules_[i];
    if (!Hears(i) || module.ModuleFaults().noTopology) continue;
    const uint32_t hopDelay = kTopologyHopMs * static_cast<uint32_t>(module.Setup().position + 1);
    // One entry per module cabled to one of its ports: serial, then its address.
    std::vector<uint8_t> entries;
    for (const bool left : {true, false}) {
      const int other = NeighbourOn(i, left);
      if (other < 0) continue;
      uint8_t entry[8];
      base::PutBE32(entry, modules_[other]->Serial());
      base::Ipv4ToBytes(modules_[other]->Address(), entry + 4);
      entries.insert(entries.end(), entry, entry + 8);
    }
    Emit(i, hopDelay, kCodeTopologyAnswer, frame.sourceMac, frame.sourcePort, header, entries, out);
    // On the PC's switch: the module also announces itself to every module there.
    if (cabling_[i].towardsPc < 0) {
      Emit(i, hopDelay, kCodeDiscover, kBroadcastMac, kModulePort, header, module.NodeRecord(),
           out);
    }
  }
}

void UdpResponder::AnswerNeighbours(const UdpFrame& frame, const PacketHeader& header,
                                    std::vector<OutgoingFrame>& out) {
  for (size_t i = 0; i < modules_.size(); ++i) {
    SimModule& module = *modules_[i];
    if (!Hears(i) || module.ModuleFaults().noTopology) continue;
    std::vector<uint8_t> data(14, 0);
    const bool crossed = module.ModuleFaults().miswired;
    for (const bool left : {true, false}) {
      const int other = NeighbourOn(i, crossed ? !left : left);
      if (other < 0) continue;
      uint8_t* at = data.data() + (left ? 0 : 7);
      at[0] = PortFacing(static_cast<size_t>(other), i);
      std::memcpy(at + 1, modules_[other]->MacAddress().data(), 6);
    }
    const uint32_t hopDelay = kTopologyHopMs * static_cast<uint32_t>(module.Setup().position + 1);
    Emit(i, hopDelay, kCodeNeighboursAnswer, frame.sourceMac, frame.sourcePort, header, data, out);
  }
}

void UdpResponder::GoRouting(const UdpFrame& frame) {
  // Who hears the frame is decided before anyone changes mode: it passes the modules on its
  // way before they act on it.
  std::vector<size_t> targets;
  for (size_t i = 0; i < modules_.size(); ++i) {
    const bool addressed =
        frame.destinationMac == kBroadcastMac || frame.destinationMac == modules_[i]->MacAddress();
    if (addressed && Hears(i)) targets.push_back(i);
  }
  for (size_t i : targets) modules_[i]->SetRouting(true);
}

void UdpResponder::GoNormal(const UdpFrame& frame, const PacketHeader& header) {
  const auto serial = TargetSerial(header);
  if (!serial) return;
  for (size_t i = 0; i < modules_.size(); ++i) {
    SimModule& module = *modules_[i];
    const bool addressed =
        frame.destinationMac == kBroadcastMac || frame.destinationMac == module.MacAddress();
    if (module.Serial() == *serial && addressed && Hears(i)) module.SetRouting(false);
  }
}

void UdpResponder::DiscoverOnPort(const UdpFrame& frame, const PacketHeader& header, bool left,
                                  std::vector<OutgoingFrame>& out) {
  const auto serial = TargetSerial(header);
  if (!serial) return;
  std::uniform_int_distribution<uint32_t> delay(timing_.answerDelayMinMs, timing_.answerDelayMaxMs);
  for (size_t i = 0; i < modules_.size(); ++i) {
    const bool addressed =
        frame.destinationMac == kBroadcastMac || frame.destinationMac == modules_[i]->MacAddress();
    if (modules_[i]->Serial() != *serial || !addressed || !Hears(i)) continue;
    // The module's discover leaves by that port only; the module cabled there answers the
    // requester (the answer is not to port 55555, so no ROUTING module holds it back).
    const int other = NeighbourOn(i, left);
    if (other < 0 || !modules_[other]->Reachable()) continue;
    SimModule& answering = *modules_[other];
    ++answering.Counters().discoverRequests;
    Emit(static_cast<size_t>(other), delay(random_), kCodeDiscoverAnswer, frame.sourceMac,
         frame.sourcePort, header, answering.NodeRecord(kDiscoverOnRecordLength), out);
  }
}

void UdpResponder::Emit(size_t index, uint32_t baseDelayMs, uint8_t code, const Mac& toMac,
                        uint16_t toPort, const PacketHeader& header,
                        const std::vector<uint8_t>& data, std::vector<OutgoingFrame>& out) {
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
  setup.destinationMac = toMac;
  setup.sourceMac = module.MacAddress();
  setup.sourceAddress = module.Address();
  setup.destinationAddress = kBroadcastAddress;
  setup.sourcePort = kModulePort;
  setup.destinationPort = toPort;
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
