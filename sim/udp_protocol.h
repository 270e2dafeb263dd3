#pragma once
// The modules' answers to frames of the UDP protocol (port 55555): decides which modules
// answer a captured frame, with what, and after how long. No sockets, so it can be fuzzed.
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "sim/frames.h"
#include "sim/module.h"

namespace sim {

struct OutgoingFrame {
  size_t module = 0;     // index of the sending module
  uint32_t delayMs = 0;  // from now
  std::vector<uint8_t> bytes;
};

// Port codes of a module's two ports as the neighbour answers name them.
constexpr uint8_t kPortRight = 1;
constexpr uint8_t kPortLeft = 2;
constexpr uint32_t kTopologyHopMs = 2;  // topology answers leave 2 ms apart per hop

class UdpResponder {
 public:
  UdpResponder(std::vector<std::unique_ptr<SimModule>>& modules, const Timing& timing,
               uint32_t seed);

  // Set NodeIP: the owner moves the module to its new address (index, address, mask, gateway,
  // network order) when it can; the answer carries the record the module has afterwards.
  // Without a handler the module takes the settings itself.
  using SetNetworkHandler = std::function<void(size_t, uint32_t, uint32_t, uint32_t)>;
  void OnSetNetwork(SetNetworkHandler handler) { setNetwork_ = std::move(handler); }

  // The cabling changed (modules swapped or turned): worked out again at the next frame.
  void Recable() { cabling_.clear(); }

  // One captured frame in; the frames the modules send because of it out.
  std::vector<OutgoingFrame> OnFrame(const uint8_t* frame, size_t length);

  // The module cabled to `index`'s left (or right) port, or -1 (nothing, or the PC's switch).
  int NeighbourOn(size_t index, bool left);
  // The port code of `other`'s port that is cabled to `index`.
  uint8_t PortFacing(size_t other, size_t index) const;
  // A frame to UDP port 55555 from the PC reaches the module: it is reachable and every module
  // between it and the PC's switch is in NORMAL mode.
  bool Hears(size_t index);

 private:
  struct Cabling {
    int towardsPc = -1;
    int awayFromPc = -1;
  };
  void Rewire();
  void AnswerDiscover(const UdpFrame& frame, const PacketHeader& header,
                      std::vector<OutgoingFrame>& out);
  void AnswerPlcLock(const UdpFrame& frame, const PacketHeader& header,
                     std::vector<OutgoingFrame>& out);
  void SetFirstLast(const UdpFrame& frame, const PacketHeader& header,
                    std::vector<OutgoingFrame>& out);
  void AnswerTopology(const UdpFrame& frame, const PacketHeader& header,
                      std::vector<OutgoingFrame>& out);
  void AnswerNeighbours(const UdpFrame& frame, const PacketHeader& header,
                        std::vector<OutgoingFrame>& out);
  void SetNodeIp(const UdpFrame& frame, const PacketHeader& header,
                 std::vector<OutgoingFrame>& out);
  void GoRouting(const UdpFrame& frame);
  void GoNormal(const UdpFrame& frame, const PacketHeader& header);
  void DiscoverOnPort(const UdpFrame& frame, const PacketHeader& header, bool left,
                      std::vector<OutgoingFrame>& out);
  // Applies a module's drop, delay, duplicate and stale-sequence faults to one answer sent to
  // `toMac` and `toPort` (the requester's, unless it is an announcement).
  void Emit(size_t index, uint32_t baseDelayMs, uint8_t code, const Mac& toMac, uint16_t toPort,
            const PacketHeader& header, const std::vector<uint8_t>& data,
            std::vector<OutgoingFrame>& out);

  std::vector<std::unique_ptr<SimModule>>& modules_;
  const Timing& timing_;
  std::mt19937 random_;
  uint16_t identification_ = 1;
  std::vector<Cabling> cabling_;
  SetNetworkHandler setNetwork_;
};

}  // namespace sim
