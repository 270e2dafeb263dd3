#pragma once
// The modules' side of the AutoConfig, Replace and factory reset frames: raw Ethernet frames
// whose EtherType carries the command, addressed to one module's MAC. No sockets and no clocks:
// OnFrame says what to send and what to change, and after how long.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "sim/module.h"
#include "sim/udp_protocol.h"

namespace sim {

constexpr uint16_t kEtherAutoConfig = 0x804A;
constexpr uint16_t kEtherReplace = 0x804B;
constexpr uint16_t kEtherFactoryReset = 0x804D;
constexpr uint16_t kEtherFactoryResetAck = 0x804E;
constexpr size_t kNodeCommandLength = 33;
constexpr uint16_t kUpstreamDescriptor = 300;    // 300..307
constexpr uint16_t kDownstreamDescriptor = 308;  // 308..315
constexpr uint16_t kDescriptorLength = 8;
constexpr uint8_t kPositionUnknown = 0xFF;

// True for a frame whose EtherType is one of the three commands (whatever its length).
bool IsNodeCommandFrame(const uint8_t* frame, size_t length);

struct NodeCommandResult {
  std::vector<OutgoingFrame> frames;  // the reset acknowledgement
  uint32_t applyAfterMs = 0;
  std::function<void()> apply;  // the change of the modules; empty when none
  std::vector<size_t> touched;  // modules whose settings `apply` changes
};

class NodeCommandResponder {
 public:
  NodeCommandResponder(std::vector<std::unique_ptr<SimModule>>& modules, UdpResponder& udp,
                       const Timing& timing)
      : modules_(modules), udp_(udp), timing_(timing) {}

  // Only frames of at least 33 bytes, with the signature, to a reachable module's own MAC.
  NodeCommandResult OnFrame(const uint8_t* frame, size_t length);

 private:
  int ModuleByMac(const Mac& mac) const;
  // The modules an AutoConfig from `first` numbers, in order; empty when it refuses.
  std::vector<size_t> Sequence(size_t first, const uint8_t* frame);
  void Configure(const std::vector<size_t>& sequence);
  void Replace(size_t index);
  void FactoryReset(size_t index);

  std::vector<std::unique_ptr<SimModule>>& modules_;
  UdpResponder& udp_;
  const Timing& timing_;
};

// The configuration id a line gets from its first module (registers 1..4).
std::array<uint16_t, 4> LineConfigurationId(const SimModule& first, size_t count);

}  // namespace sim
