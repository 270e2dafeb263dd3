#pragma once
// The modules' answers to frames of the UDP protocol (port 55555): decides which modules
// answer a captured frame, with what, and after how long. No sockets, so it can be fuzzed.
#include <cstdint>
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

class UdpResponder {
 public:
  UdpResponder(std::vector<std::unique_ptr<SimModule>>& modules, const Timing& timing,
               uint32_t seed);

  // One captured frame in; the frames the modules send because of it out.
  std::vector<OutgoingFrame> OnFrame(const uint8_t* frame, size_t length);

 private:
  void AnswerDiscover(const UdpFrame& frame, const PacketHeader& header,
                      std::vector<OutgoingFrame>& out);
  void AnswerPlcLock(const UdpFrame& frame, const PacketHeader& header,
                     std::vector<OutgoingFrame>& out);
  // Applies a module's drop, delay, duplicate and stale-sequence faults to one answer.
  void Emit(size_t index, uint32_t baseDelayMs, uint8_t code, const UdpFrame& request,
            const PacketHeader& header, const std::vector<uint8_t>& data,
            std::vector<OutgoingFrame>& out);

  std::vector<std::unique_ptr<SimModule>>& modules_;
  const Timing& timing_;
  std::mt19937 random_;
  uint16_t identification_ = 1;
};

}  // namespace sim
