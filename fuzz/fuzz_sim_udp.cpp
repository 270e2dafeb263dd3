// linesim's parser of captured frames and its UDP protocol answers: any frame, heard twice by
// a small chain of modules (the second time after any mode change the first one caused).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/frames.h"
#include "sim/udp_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static sim::Timing timing;
  std::vector<std::unique_ptr<sim::SimModule>> modules;
  for (uint32_t i = 0; i < 3; ++i) {
    sim::ModuleSetup setup;
    setup.serial = 100 + i;
    setup.mac = sim::MacFromSerial(setup.serial);
    setup.recordLength = static_cast<uint8_t>(i == 0 ? 8 : 28);
    setup.faults.duplicate = i == 2;
    setup.position = static_cast<int>(i);
    setup.direction = static_cast<uint8_t>(i == 1 ? 1 : 0);
    setup.faults.miswired = i == 1;
    modules.push_back(std::make_unique<sim::SimModule>(setup));
  }
  // Copy into a buffer of exactly `size` bytes so that any over-read is caught.
  std::vector<uint8_t> frame(data, data + size);
  if (auto parsed = sim::ParseUdpFrame(frame.data(), frame.size())) {
    if (parsed->payload < frame.data() ||
        parsed->payload + parsed->payloadLength > frame.data() + frame.size()) {
      __builtin_trap();
    }
    if (auto header = sim::ParsePacketHeader(parsed->payload, parsed->payloadLength)) {
      if (header->usableDataLength > parsed->payloadLength - sim::kPacketHeaderLength)
        __builtin_trap();
    }
  }
  sim::UdpResponder responder(modules, timing, 1);
  for (int pass = 0; pass < 2; ++pass) {
    for (const auto& out : responder.OnFrame(frame.data(), frame.size())) {
      if (!sim::ParseUdpFrame(out.bytes.data(), out.bytes.size())) __builtin_trap();
    }
  }
  return 0;
}
