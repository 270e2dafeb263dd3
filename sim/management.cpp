#include "sim/management.h"

#include <cstring>

#include "base/bytes.h"

namespace sim {
namespace {

constexpr Mac kBroadcastMac = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr uint32_t kBroadcastAddress = 0xFFFFFFFFu;
constexpr size_t kSetNodeIpData = 16;  // serial, address, mask, gateway (a flags word may follow)

}  // namespace

bool IsManagementCode(uint8_t code) {
  return code == kCodeSetNodeIp || code == kCodeManagement;
}

std::vector<size_t> ManagementResponder::Addressed(const UdpFrame& frame, bool everyone) {
  std::vector<size_t> result;
  for (size_t i = 0; i < modules_.size(); ++i) {
    const SimModule& module = *modules_[i];
    if (!module.Reachable()) continue;
    if (frame.destinationMac == module.MacAddress()) {
      result.push_back(i);
    } else if (frame.destinationMac == kBroadcastMac) {
      const bool toIt = frame.destinationAddress == module.Address();
      const bool toAll = everyone && frame.destinationAddress == kBroadcastAddress;
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
  if (header->code != kCodeSetNodeIp || header->usableDataLength < kSetNodeIpData) return result;
  const uint32_t serial = base::GetBE32(header->data);
  NetworkChange change;
  std::memcpy(&change.address, header->data + 4, 4);
  std::memcpy(&change.mask, header->data + 8, 4);
  std::memcpy(&change.gateway, header->data + 12, 4);
  for (const size_t i : Addressed(*frame, false)) {
    SimModule& module = *modules_[i];
    change.module = i;
    change.serial.reset();
    if (change.address == module.Address() && serial != module.Serial() && serial != 0)
      change.serial = serial;
    result.changes.push_back(change);
    // The answer carries the new record: build it from a copy that took the change.
    SimModule after(module.Setup());
    after.SetNetwork(change.address, change.mask, change.gateway);
    if (change.serial) after.SetSerial(*change.serial);
    std::vector<uint8_t> record = after.NodeRecord(20);
    std::vector<uint8_t> payload(kPacketHeaderLength + record.size());
    payload[0] = kCodeSetNodeIpAnswer;
    payload[2] = module.PacketFlags();
    payload[3] = static_cast<uint8_t>(record.size());
    std::copy(header->sequence.begin(), header->sequence.end(), payload.begin() + 4);
    std::copy(record.begin(), record.end(), payload.begin() + kPacketHeaderLength);
    UdpFrameFields setup;
    setup.destinationMac = frame->sourceMac;
    setup.sourceMac = module.MacAddress();
    setup.sourceAddress = change.address;
    setup.destinationAddress = kBroadcastAddress;
    setup.sourcePort = kModulePort;
    setup.destinationPort = frame->sourcePort;
    setup.identification = identification_++;
    result.frames.push_back(
        {i, kSetNodeIpAnswerMs, BuildUdpFrame(setup, payload.data(), payload.size())});
  }
  return result;
}

}  // namespace sim
