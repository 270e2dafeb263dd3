#include "sim/node_commands.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"

namespace sim {
namespace {

constexpr uint8_t kSignature[10] = {'T', 'r', 'e', 'l', 'b', 'i', 'x', 0xA0, 0x42, 0x47};
constexpr size_t kSignatureOffset = 14;
constexpr uint16_t kModeRegister = 18;
constexpr uint16_t kLinkedMode = 6;

uint16_t EtherType(const uint8_t* frame) {
  return static_cast<uint16_t>((frame[12] << 8) | frame[13]);
}

uint32_t HostAddress(const SimModule& m) {
  return base::GetBE32(reinterpret_cast<const uint8_t*>(&m.Setup().address));
}

uint16_t Register(const SimModule& m, uint16_t number) {
  std::vector<uint16_t> value;
  return m.Peek(number, 1, false, value) ? value[0] : 0;
}

// Written to RAM and flash: the modules save what AutoConfig gives them.
void Save(SimModule& m, uint16_t first, const std::vector<uint16_t>& values) {
  m.Poke(first, values, false);
  m.Poke(first, values, true);
}

// The descriptor of `self` that links it to `linked` (upstream or downstream); all zero without.
std::vector<uint16_t> Descriptor(const SimModule& self, const SimModule* linked, bool upstream) {
  std::vector<uint16_t> words(kDescriptorLength, 0);
  if (linked == nullptr) return words;
  const uint32_t address = HostAddress(*linked);
  const bool selfSix = Register(self, kModeRegister) == kLinkedMode;
  const bool linkedSix = Register(*linked, kModeRegister) == kLinkedMode;
  words[0] = static_cast<uint16_t>(address >> 16);
  words[1] = static_cast<uint16_t>(address & 0xFFFF);
  words[2] = 1;
  words[3] = upstream ? (selfSix ? 156 : 116) : (selfSix ? 236 : 196);
  const bool alternative = selfSix || !linkedSix;
  words[4] = upstream ? (alternative ? 232 : 243) : (alternative ? 134 : 163);
  words[5] = (!selfSix && !linkedSix) ? 15 : 7;
  words[6] = 1;
  words[7] = 0;
  return words;
}

uint32_t DescriptorAddress(const SimModule& m, uint16_t first) {
  std::vector<uint16_t> words;
  if (!m.Peek(first, 2, false, words)) return 0;
  return (static_cast<uint32_t>(words[0]) << 16) | words[1];
}

uint32_t ToNetwork(uint32_t host) {
  uint32_t out = 0;
  uint8_t bytes[4];
  base::PutBE32(bytes, host);
  std::memcpy(&out, bytes, 4);
  return out;
}

}  // namespace

bool IsNodeCommandFrame(const uint8_t* frame, size_t length) {
  if (frame == nullptr || length < kEthernetHeaderLength) return false;
  const uint16_t type = EtherType(frame);
  return type == kEtherAutoConfig || type == kEtherReplace || type == kEtherFactoryReset;
}

std::array<uint16_t, 4> LineConfigurationId(const SimModule& first, size_t count) {
  const Mac& mac = first.MacAddress();
  return {static_cast<uint16_t>(first.Serial() >> 16), static_cast<uint16_t>(first.Serial()),
          static_cast<uint16_t>((mac[4] << 8) | mac[5]), static_cast<uint16_t>(count)};
}

int NodeCommandResponder::ModuleByMac(const Mac& mac) const {
  for (size_t i = 0; i < modules_.size(); ++i) {
    if (modules_[i]->Reachable() && modules_[i]->MacAddress() == mac) return static_cast<int>(i);
  }
  return -1;
}

NodeCommandResult NodeCommandResponder::OnFrame(const uint8_t* frame, size_t length) {
  NodeCommandResult result;
  if (!IsNodeCommandFrame(frame, length) || length < kNodeCommandLength) return result;
  if (std::memcmp(frame + kSignatureOffset, kSignature, sizeof kSignature) != 0) return result;
  Mac destination;
  std::memcpy(destination.data(), frame, 6);
  const int found = ModuleByMac(destination);
  if (found < 0) return result;
  const size_t index = static_cast<size_t>(found);
  switch (EtherType(frame)) {
    case kEtherAutoConfig: {
      const std::vector<size_t> sequence = Sequence(index, frame);
      if (sequence.empty()) return result;
      result.touched = sequence;
      result.applyAfterMs = timing_.autoConfigMs;
      result.apply = [this, sequence] { Configure(sequence); };
      break;
    }
    case kEtherReplace:
      result.touched = {index};
      result.applyAfterMs = timing_.autoConfigMs;
      result.apply = [this, index] { Replace(index); };
      break;
    default: {
      OutgoingFrame ack;
      ack.module = index;
      ack.delayMs = std::min<uint32_t>(timing_.resetAckMs, 100);
      ack.bytes.assign(kMinimumFrameLength, 0);
      std::memcpy(ack.bytes.data(), frame + 6, 6);  // to the sender
      std::memcpy(ack.bytes.data() + 6, destination.data(), 6);
      ack.bytes[12] = static_cast<uint8_t>(kEtherFactoryResetAck >> 8);
      ack.bytes[13] = static_cast<uint8_t>(kEtherFactoryResetAck & 0xFF);
      result.applyAfterMs = ack.delayMs;  // the settings go after the acknowledgement
      result.frames.push_back(std::move(ack));
      result.touched = {index};
      result.apply = [this, index] { FactoryReset(index); };
      break;
    }
  }
  return result;
}

std::vector<size_t> NodeCommandResponder::Sequence(size_t first, const uint8_t* frame) {
  Mac lastMac;
  std::memcpy(lastMac.data(), frame + 24, 6);
  const bool withLast = std::any_of(lastMac.begin(), lastMac.end(), [](uint8_t b) { return b; });
  const int left = udp_.NeighbourOn(first, true);
  const int right = udp_.NeighbourOn(first, false);
  bool goLeft = false;
  int last = -1;
  if (withLast) {
    last = ModuleByMac(lastMac);
    if (last < 0) return {};
    // The port codes name the port of each end that faces the other end.
    const uint8_t firstPort = frame[30];
    const uint8_t lastPort = frame[31];
    if (firstPort != kPortLeft && firstPort != kPortRight) return {};
    if (lastPort != kPortLeft && lastPort != kPortRight) return {};
    goLeft = firstPort == kPortLeft;
  } else {
    // A module with modules on both sides cannot know which way the line runs.
    if (left >= 0 && right >= 0) return {};
    goLeft = left >= 0;
  }
  std::vector<size_t> sequence{first};
  int previous = static_cast<int>(first);
  int at = goLeft ? left : right;
  while (at >= 0 && sequence.size() < modules_.size()) {
    sequence.push_back(static_cast<size_t>(at));
    if (at == last) break;
    // Go on through the port that does not face the module we came from.
    const int l = udp_.NeighbourOn(static_cast<size_t>(at), true);
    const int r = udp_.NeighbourOn(static_cast<size_t>(at), false);
    const int next = l == previous ? r : l;
    previous = at;
    at = next;
  }
  if (withLast) {
    if (sequence.back() != static_cast<size_t>(last)) return {};
    // The last module's named port must face the module before it.
    if (sequence.size() > 1) {
      const size_t before = sequence[sequence.size() - 2];
      const bool lastLeftFaces =
          udp_.NeighbourOn(static_cast<size_t>(last), true) == static_cast<int>(before);
      if ((frame[31] == kPortLeft) != lastLeftFaces) return {};
    }
  }
  return sequence;
}

void NodeCommandResponder::Configure(const std::vector<size_t>& sequence) {
  SimModule& first = *modules_[sequence.front()];
  const uint32_t base = HostAddress(first);
  const auto id = LineConfigurationId(first, sequence.size());
  for (size_t n = 0; n < sequence.size(); ++n) {
    SimModule& m = *modules_[sequence[n]];
    m.SetNetwork(ToNetwork(base + static_cast<uint32_t>(n)), first.Setup().mask,
                 first.Setup().gateway);
  }
  for (size_t n = 0; n < sequence.size(); ++n) {
    SimModule& m = *modules_[sequence[n]];
    const SimModule* up = n > 0 ? modules_[sequence[n - 1]].get() : nullptr;
    const SimModule* down = n + 1 < sequence.size() ? modules_[sequence[n + 1]].get() : nullptr;
    Save(m, 1, std::vector<uint16_t>(id.begin(), id.end()));
    Save(m, kUpstreamDescriptor, Descriptor(m, up, true));
    Save(m, kDownstreamDescriptor, Descriptor(m, down, false));
    m.SetLinePosition(static_cast<uint8_t>((n == 0 ? 1 : 0) | (down == nullptr ? 2 : 0)));
  }
}

void NodeCommandResponder::Replace(size_t index) {
  SimModule& self = *modules_[index];
  // A neighbour keeps the address of the module that stood here in its descriptor facing it.
  for (const bool left : {true, false}) {
    const int n = udp_.NeighbourOn(index, left);
    if (n < 0) continue;
    SimModule& neighbour = *modules_[static_cast<size_t>(n)];
    const int other = udp_.NeighbourOn(static_cast<size_t>(n), true) == static_cast<int>(index)
                          ? udp_.NeighbourOn(static_cast<size_t>(n), false)
                          : udp_.NeighbourOn(static_cast<size_t>(n), true);
    const uint32_t otherAddress =
        other >= 0 ? HostAddress(*modules_[static_cast<size_t>(other)]) : 0;
    for (const uint16_t descriptor : {kUpstreamDescriptor, kDownstreamDescriptor}) {
      const uint32_t address = DescriptorAddress(neighbour, descriptor);
      if (address == 0 || address == otherAddress) continue;
      // The neighbour's downstream link points here: this module is downstream of it.
      const bool selfDownstream = descriptor == kDownstreamDescriptor;
      self.SetNetwork(ToNetwork(address), neighbour.Setup().mask, neighbour.Setup().gateway);
      std::vector<uint16_t> id;
      neighbour.Peek(1, 4, false, id);
      Save(self, 1, id);
      const int farSide = udp_.NeighbourOn(index, !left);
      const SimModule* far = farSide >= 0 ? modules_[static_cast<size_t>(farSide)].get() : nullptr;
      const SimModule* up = selfDownstream ? &neighbour : far;
      const SimModule* down = selfDownstream ? far : &neighbour;
      Save(self, kUpstreamDescriptor, Descriptor(self, up, true));
      Save(self, kDownstreamDescriptor, Descriptor(self, down, false));
      self.SetLinePosition(
          static_cast<uint8_t>((up == nullptr ? 1 : 0) | (down == nullptr ? 2 : 0)));
      return;
    }
  }
}

void NodeCommandResponder::FactoryReset(size_t index) {
  SimModule& m = *modules_[index];
  Save(m, 1, std::vector<uint16_t>(4, 0));
  Save(m, kUpstreamDescriptor, std::vector<uint16_t>(kDescriptorLength, 0));
  Save(m, kDownstreamDescriptor, std::vector<uint16_t>(kDescriptorLength, 0));
  m.SetLinePosition(kPositionUnknown);
}

}  // namespace sim
