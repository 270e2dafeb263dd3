#pragma once
// The modules' side of the management commands on UDP port 55555 (0xB0 with "MGMT" and a
// command word): restart (0x80, 0x40; a staged firmware becomes active), reset name and address
// (0x100) and DHCP off (0x200). Set NodeIP (0x20) is the UDP responder's. No sockets and no
// clocks: OnFrame says what to change.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "sim/module.h"
#include "sim/udp_protocol.h"

namespace sim {

constexpr uint8_t kCodeManagement = 0xB0;
constexpr uint32_t kManagementRestart = 0x80;
constexpr uint32_t kManagementRestartNewFirmware = 0x40;
constexpr uint32_t kManagementResetName = 0x100;
constexpr uint32_t kManagementDhcpOff = 0x200;

struct NetworkChange {
  size_t module = 0;
  uint32_t address = 0;  // network order
  uint32_t mask = 0;
  uint32_t gateway = 0;
  std::optional<uint32_t> serial;  // a new serial
};

struct ManagementResult {
  std::vector<OutgoingFrame> frames;  // answers, sent after the changes (none so far)
  std::vector<size_t> restarts;
  std::vector<NetworkChange> changes;
};

// True for the codes this responder takes.
bool IsManagementCode(uint8_t code);

class ManagementResponder {
 public:
  ManagementResponder(std::vector<std::unique_ptr<SimModule>>& modules, UdpResponder& udp)
      : modules_(modules), udp_(udp) {}

  ManagementResult OnFrame(const uint8_t* frame, size_t length);

 private:
  // Modules the frame addresses: by MAC, or by address under the broadcast MAC; with
  // `everyone`, a broadcast to 255.255.255.255 reaches every module that hears it.
  std::vector<size_t> Addressed(const UdpFrame& frame, bool everyone);

  std::vector<std::unique_ptr<SimModule>>& modules_;
  UdpResponder& udp_;
};

}  // namespace sim
