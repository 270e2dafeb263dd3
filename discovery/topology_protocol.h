#pragma once
// The topology protocol: the packets that learn how the modules of a line are cabled, the
// parsers of their answers, and the two phases of CMRegApp::GetTopology (topology_protocol.cpp).
// The recursive discovery that walks the chains is in topology_walk.h.
#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "discovery/inventory.h"
#include "discovery/packets.h"

namespace discovery {

// Timing of GetTopology, in ticks from the first send of a phase's request.
constexpr uint32_t kTopologyMinimumLimitMs = 4000;    // the whole run lasts at most
constexpr uint32_t kTopologyLimitPerNodeMs = 20;      // ... max(20 ms x nodes, 4000 ms)
constexpr uint32_t kTopologyNoAnswerMs = 600;         // phase 1 ends without any answer by then
constexpr uint32_t kNeighborsNoAnswerMs = 400;        // phase 2 likewise
constexpr uint32_t kAfterLastTopologyAnswerMs = 200;  // either phase: quiet this long after one

// Port codes the modules report with a neighbour's MAC address.
constexpr uint8_t kPortCodeRight = 1;
constexpr uint8_t kPortCodeLeft = 2;

constexpr size_t kTopologyEntryLength = 8;      // serial (big-endian), 4 bytes not used
constexpr size_t kNeighborsAnswerLength = 14;   // port, MAC, port, MAC
constexpr uint32_t kManagementQueryValue = 32;  // after "MGMT" in GET_TOPOLOGY / GET_NEIGHBORS

// The overall limit of one GetTopology run for a node array of that size.
uint32_t TopologyOverallLimitMs(size_t nodeCount);

// The tick at which a phase ends by its time rules: `quietMs` after `phaseStart` while nothing
// was answered, 200 ms after the last answer once something was, and never after `overallEnd`.
// (Phase 1 also ends as soon as every node has answered: TopologyRun::AllAnswered.)
uint32_t TopologyPhaseEnd(uint32_t phaseStart, uint32_t quietMs,
                          const std::optional<uint32_t>& lastAnswer, uint32_t overallEnd);

// Request payloads (8-byte header and data), each with the sequence number given.
// GET_TOPOLOGY (0x60) and GET_NEIGHBORS (0x78): "MGMT" and the big-endian value 32; 16 bytes.
std::array<uint8_t, 16> MakeManagementQuery(uint8_t code, uint32_t sequence);
// DISCOVER_ON_LEFT (0x50), DISCOVER_ON_RIGHT (0x51) and GO_NORMAL (0x41): the target's serial
// (big-endian) and address (network order); 16 bytes.
std::array<uint8_t, 16> MakeNodeCommand(uint8_t code, uint32_t serial, uint32_t addressNetworkOrder,
                                        uint32_t sequence);
// GO_ROUTING (0x53) and the init discover (0x10): the header alone, data length 0.
std::array<uint8_t, 8> MakeHeaderOnly(uint8_t code, uint32_t sequence);

// The serial numbers a GET_TOPOLOGY answer lists: one per whole 8-byte entry of the data that
// is really present (the low 3 bits of the length are dropped).
std::vector<uint32_t> ParseTopologyEntries(const AnswerPacket& packet);

// A GET_NEIGHBORS answer; nullopt when the data present is shorter than its 14 bytes.
struct NeighborsAnswer {
  uint8_t leftPort = 0;
  MacAddress leftMac{};
  uint8_t rightPort = 0;
  MacAddress rightMac{};
};
std::optional<NeighborsAnswer> ParseNeighborsAnswer(const AnswerPacket& packet);

// "%02d:%02d:%02d:%02d:%02d:%02d", each byte in decimal: the form the neighbours log shows.
std::string DecimalMacText(const MacAddress& mac);

// Forgets what an earlier GetTopology learnt of the nodes' wiring: the answered marks, the
// buddies and the neighbours (MAC addresses, ports, serials). Every run starts from this, so a
// swapped or replaced module is learnt anew. The caller holds the lock that guards `nodes`.
void ForgetLearntWiring(NodeList& nodes);

// What one GetTopology run has learnt so far. Captured frames are fed in one at a time; node
// fields are changed under `nodesLock`, which guards `nodes` (the adapter's lock for the
// adapter's own array).
class TopologyRun {
 public:
  TopologyRun(NodeList& nodes, std::mutex& nodesLock) : nodes_(nodes), lock_(nodesLock) {}

  // Phase 1: announcements on the PC's switch (55555 -> 55555, code 0x10) and topology
  // answers (55555 -> 44544, code 0x61). Other frames are left alone.
  void OnTopologyFrame(const uint8_t* frame, size_t length, uint32_t now);
  // Phase 2: neighbours answers (55555 -> 44547, code 0x79). Other frames are left alone.
  void OnNeighborsFrame(const uint8_t* frame, size_t length, uint32_t now);

  // A node announced itself on the PC's switch during this run.
  bool LinkedToPcSwitch() const { return linked_; }
  size_t TopologyAnswers() const { return topologyAnswers_; }
  bool AllAnswered() const;  // every node of the array answered GET_TOPOLOGY in this run
  const std::optional<uint32_t>& LastTopologyAnswer() const { return lastTopologyAnswer_; }
  const std::optional<uint32_t>& LastNeighborsAnswer() const { return lastNeighborsAnswer_; }

 private:
  void OnAnnouncement(const CapturedAnswer& answer);
  void OnTopologyAnswer(const CapturedAnswer& answer, uint32_t now);
  // The answering node: by the frame's source MAC, else by its sender address. Lock held.
  NodePtr AnsweringNode(const CandidateFrame& frame) const;

  NodeList& nodes_;
  std::mutex& lock_;
  bool linked_ = false;
  size_t topologyAnswers_ = 0;
  std::optional<uint32_t> lastTopologyAnswer_;
  std::optional<uint32_t> lastNeighborsAnswer_;
};

}  // namespace discovery
