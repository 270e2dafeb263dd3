// linesim's address and management requests (Set NodeIP, 0xB0 commands): any frame, to a small
// chain of modules; every answer must be a frame the parser takes, every change name a module.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/frames.h"
#include "sim/management.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static sim::Timing timing;
  std::vector<std::unique_ptr<sim::SimModule>> modules;
  for (uint32_t i = 0; i < 3; ++i) {
    sim::ModuleSetup setup;
    setup.serial = 100 + i;
    setup.mac = sim::MacFromSerial(setup.serial);
    setup.address = 0x14CAA8C0u + (i << 24);  // 192.168.202.20 + i
    setup.recordLength = static_cast<uint8_t>(i == 0 ? 8 : 28);
    setup.position = static_cast<int>(i);
    modules.push_back(std::make_unique<sim::SimModule>(setup));
  }
  std::vector<uint8_t> frame(data, data + size);  // exactly `size` bytes: over-reads are caught
  sim::UdpResponder udp(modules, timing, 1);
  sim::ManagementResponder responder(modules, udp);
  const sim::ManagementResult result = responder.OnFrame(frame.data(), frame.size());
  for (const auto& out : result.frames) {
    if (out.module >= modules.size() || !sim::ParseUdpFrame(out.bytes.data(), out.bytes.size()))
      __builtin_trap();
  }
  for (const auto& change : result.changes) {
    if (change.module >= modules.size()) __builtin_trap();
  }
  for (const size_t index : result.restarts) {
    if (index >= modules.size()) __builtin_trap();
  }
  return 0;
}
