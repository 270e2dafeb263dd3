// linesim's handling of the AutoConfig, Replace and factory reset frames: any frame, heard by
// a small chain of modules, with the resulting change applied.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/node_commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static sim::Timing timing;
  std::vector<std::unique_ptr<sim::SimModule>> modules;
  for (uint32_t i = 0; i < 3; ++i) {
    sim::ModuleSetup setup;
    setup.serial = 100 + i;
    setup.mac = sim::MacFromSerial(setup.serial);
    setup.address = 0x1400A8C0u + (i << 24);  // 192.168.0.20 + i
    setup.position = static_cast<int>(i);
    setup.direction = static_cast<uint8_t>(i == 1 ? 1 : 0);
    modules.push_back(std::make_unique<sim::SimModule>(setup));
  }
  // Copy into a buffer of exactly `size` bytes so that any over-read is caught.
  std::vector<uint8_t> frame(data, data + size);
  sim::UdpResponder udp(modules, timing, 1);
  sim::NodeCommandResponder responder(modules, udp, timing);
  for (int pass = 0; pass < 2; ++pass) {
    sim::NodeCommandResult result = responder.OnFrame(frame.data(), frame.size());
    for (const auto& out : result.frames) {
      if (out.bytes.size() < 14 || out.delayMs > 100) __builtin_trap();
    }
    if (result.apply) result.apply();
  }
  return 0;
}
