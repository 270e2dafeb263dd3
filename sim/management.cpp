#include "sim/management.h"

#include <cstring>

#include "base/bytes.h"

namespace sim {
namespace {

constexpr Mac kManagementBroadcastMac = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr uint32_t kManagementBroadcastAddress = 0xFFFFFFFFu;

}  // namespace

bool IsManagementCode(uint8_t code) {
  return code == kCodeManagement;
}

std::vector<size_t> ManagementResponder::Addressed(const UdpFrame& frame, bool everyone) {
  std::vector<size_t> result;
  for (size_t i = 0; i < modules_.size(); ++i) {
    const SimModule& module = *modules_[i];
    if (!module.Reachable()) continue;
    if (frame.destinationMac == module.MacAddress()) {
      result.push_back(i);
    } else if (frame.destinationMac == kManagementBroadcastMac) {
      const bool toIt = frame.destinationAddress == module.Address();
      const bool toAll = everyone && frame.destinationAddress == kManagementBroadcastAddress;
      if ((toIt || toAll) && udp_.Hears(i)) result.push_back(i);
    }
  }
  return result;
}

ManagementResult ManagementResponder::OnFrame(const uint8_t* bytes, size_t length) {
  ManagementResult result;
  const auto frame = ParseUdpFrame(bytes, length);
  if (!frame || frame->destinationPort != kModulePort || frame->sourcePort == kModulePort)
    return result;
  const auto header = ParsePacketHeader(frame->payload, frame->payloadLength);
  if (!header) return result;
  if (header->code == kCodeManagement) {
    if (header->usableDataLength < 8 || std::memcmp(header->data, "MGMT", 4) != 0) return result;
    const uint32_t command = base::GetBE32(header->data + 4);
    for (const size_t i : Addressed(*frame, true)) {
      ModuleFiles& files = modules_[i]->Files();
      ++files.managementRequests;
      switch (command) {
        case kManagementRestart:
        case kManagementRestartNewFirmware:
          result.restarts.push_back(i);
          break;
        case kManagementResetName:
          files.fieldbusName.clear();
          result.changes.push_back(
              {i, 0, modules_[i]->Setup().mask, modules_[i]->Setup().gateway, std::nullopt});
          break;
        case kManagementDhcpOff:
          files.dhcp = false;
          break;
        default:
          break;
      }
    }
    return result;
  }
  return result;
}

}  // namespace sim
