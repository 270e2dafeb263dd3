#include "topology/set_address.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "base/format.h"
#include "comm/event_log.h"
#include "discovery/discover.h"
#include "discovery/discover_environment.h"
#include "discovery/mreg_app.h"
#include "discovery/packets.h"
#include "platform/tick.h"

namespace topology {

const char* const kTextSetAddressNoAnswer =
    "Laufzeitfehler. Der angewählte Knoten reagiert nicht. Autokonfiguration wird abgebrochen. "
    "Bitte den Online-Status des Moduls prüfen und nochmal versuchen.";
const char* const kTextSetAddressIpNotChanged =
    "Die IP-Adresse des angewählten Knotens kann nicht geändert werden. Autokonfiguration wird "
    "abgebrochen. Bitte den Online-Status des Moduls prüfen und nochmal versuchen.";
const char* const kTextSetAddressMaskNotChanged =
    "Die Subnetzmaske des angewählten Knotens kann nicht geändert werden. Autokonfiguration wird "
    "abgebrochen. Bitte den Online-Status des Moduls prüfen und nochmal versuchen.";
const char* const kTextSetAddressGatewayNotChanged =
    "Das Gateway des angewählten Knoten kann nicht geändert werden. Autokonfiguration wird "
    "abgebrochen. Bitte den Online-Status des Moduls prüfen und nochmal versuchen.";
const char* const kTitleSetAddress = "IP Adresse des Moduls ändern und AutoConfig";

namespace {

bool IsBroadcastLike(const params::Ipv4Bytes& address) {
  return address[0] == 255 || address[3] == 255;
}

bool IsContiguousMask(const params::Ipv4Bytes& mask) {
  const uint32_t value = (uint32_t{mask[0]} << 24) | (uint32_t{mask[1]} << 16) |
                         (uint32_t{mask[2]} << 8) | uint32_t{mask[3]};
  const uint32_t inverted = ~value;
  return (inverted & (inverted + 1)) == 0;  // ones, then zeros only
}

// A blank text keeps `current`; anything else must be a dotted address.
bool TakeAddress(const std::string& text, const std::string& current, params::Ipv4Bytes* out,
                 std::string* reason) {
  const std::string& used = text.empty() ? current : text;
  std::string refusal;
  const auto parsed = params::ParseDottedAddress(used, &refusal);
  if (!parsed) {
    *reason = refusal.empty() ? "\"" + used + "\" is not an IPv4 address" : refusal;
    return false;
  }
  *out = *parsed;
  return true;
}

// Copies the answer's record into the node as a discovery answer would (the caller holds the
// adapter's lock when the node is one of its nodes).
void TakeAnswer(CNode_Data& node, const discovery::NodeRecord& record, const MacAddress& mac) {
  if (std::any_of(mac.begin(), mac.end(), [](uint8_t b) { return b != 0; })) node.mac = mac;
  std::copy_n(record.bytes.begin(), CNode_Data::kRecordCopySize, node.recordCopy.begin());
  node.record = record.bytes;
  node.ipAddress = record.ipAddress;
  node.ipText = base::Ipv4Text(record.ipAddress);
  node.mask = record.mask;
  node.maskText = base::Ipv4Text(record.mask);
  node.gatewayText = base::Ipv4Text(record.gateway);
}

// Waits for the module's set-address answer to this very packet (its sequence number and the
// module's serial number): an answer to an earlier dialog's packet, or another module's, is not
// taken as this module's. True when it came and was taken into the node.
bool AwaitAnswer(CMRegApp& app, platform::CaptureHandle& handle, const NodePtr& node,
                 uint32_t sequence) {
  discovery::DiscoverEnvironment& env = discovery::Environment();
  const uint32_t started = env.Now();
  const AdapterPtr adapter = app.SelectedAdapter();
  std::vector<uint8_t> frame;
  for (;;) {
    // One reading of the clock per pass: the time left comes from the same reading that was
    // checked, so a late wake-up cannot turn it into a wait of 49 days.
    const uint32_t elapsed = platform::TicksSince(started, env.Now());
    if (elapsed >= kSetAddressAnswerMs) break;
    if (!handle.Read(frame, kSetAddressAnswerMs - elapsed)) continue;
    const auto answer =
        discovery::ParseCapturedAnswer(frame.data(), frame.size(), discovery::kNodeCommandPort);
    if (!answer) continue;
    const discovery::AnswerPacket& packet = answer->packet;
    // The record up to the gateway must really be there.
    if (packet.code != discovery::kPacketSetNodeIpAnswer || packet.sequence != sequence ||
        packet.dataLength < 16) {
      continue;
    }
    const auto record = discovery::ParseNodeRecord(
        packet.data, std::min(packet.dataLength, discovery::kMaxStoredRecordLength));
    if (!record) continue;
    std::unique_lock<std::mutex> lock;
    if (adapter) lock = std::unique_lock<std::mutex>(adapter->lock);
    if (record->serialNumber != node->serialNumber) continue;
    LogInfo("   - Got a Set NodeIP answer from node: %s",
            base::Ipv4Text(record->ipAddress).c_str());
    TakeAnswer(*node, *record, answer->frame.sourceMac);
    return true;
  }
  return false;
}

}  // namespace

CheckedAddresses CheckSetAddress(const CNode_Data& node, const SetAddressRequest& request) {
  CheckedAddresses out;
  if (!TakeAddress(request.ip, node.ipText, &out.ip, &out.reason)) {
    out.refused = AddressField::Ip;
    return out;
  }
  if (IsBroadcastLike(out.ip)) {
    out.refused = AddressField::Ip;
    out.reason = "an IP address with a first or last octet of 255 is a broadcast address";
    return out;
  }
  if (!TakeAddress(request.mask, node.maskText, &out.mask, &out.reason)) {
    out.refused = AddressField::Mask;
    return out;
  }
  if (!IsContiguousMask(out.mask)) {
    out.refused = AddressField::Mask;
    out.reason = params::AddressText(out.mask) + " is not a subnet mask";
    return out;
  }
  out.gatewayGiven = request.gatewayBox;
  if (!request.gatewayBox) {
    out.gateway = out.ip;
    return out;
  }
  if (!TakeAddress(request.gateway, node.gatewayText, &out.gateway, &out.reason)) {
    out.refused = AddressField::Gateway;
    return out;
  }
  if (IsBroadcastLike(out.gateway)) {
    out.refused = AddressField::Gateway;
    out.reason = "a gateway with a first or last octet of 255 is a broadcast address";
  }
  return out;
}

SetAddressPacket BuildSetAddressPacket(
    uint32_t sequence, const std::array<uint8_t, CNode_Data::kRecordCopySize>& record,
    const CheckedAddresses& addresses) {
  SetAddressPacket packet{};
  discovery::PutPacketHeader(packet.data(), discovery::kPacketSetNodeIp, 0, kSetAddressDataLength,
                             sequence);
  std::copy(record.begin(), record.end(), packet.begin() + discovery::kPacketHeaderLength);
  std::copy(addresses.ip.begin(), addresses.ip.end(), packet.begin() + 12);
  std::copy(addresses.mask.begin(), addresses.mask.end(), packet.begin() + 16);
  std::copy(addresses.gateway.begin(), addresses.gateway.end(), packet.begin() + 20);
  return packet;
}

SetAddressResult ChangeNodeAddress(SetAddressContext& c, const NodePtr& node,
                                   const SetAddressRequest& request, CheckedAddresses* checked) {
  if (!node) return SetAddressResult::Cancel;
  const AdapterPtr adapter = c.app.SelectedAdapter();
  std::array<uint8_t, CNode_Data::kRecordCopySize> record{};
  CheckedAddresses addresses;
  {
    std::unique_lock<std::mutex> lock;
    if (adapter) lock = std::unique_lock<std::mutex>(adapter->lock);
    addresses = CheckSetAddress(*node, request);
    record = node->recordCopy;
  }
  if (checked != nullptr) *checked = addresses;
  if (addresses.Refused()) {
    c.prompt.Beep();
    return SetAddressResult::Refused;
  }

  const uint32_t sequence = c.sequence.Take();
  SetAddressPacket packet = BuildSetAddressPacket(sequence, record, addresses);
  discovery::CaptureHandlePtr handle;
  platform::CaptureHandle* open = discovery::_send_UDP_to_Node(
      c.app, handle, node.get(), packet.data(), packet.size(), discovery::kModulePort, 1);
  const bool answered = open != nullptr && AwaitAnswer(c.app, *open, node, sequence);
  handle.reset();
  if (!answered) {
    c.prompt.Tell(kTextSetAddressNoAnswer, kTitleSetAddress, base::PromptIcon::Error);
    return SetAddressResult::Cancel;
  }

  std::string ipText, maskText, gatewayText;
  {
    std::unique_lock<std::mutex> lock;
    if (adapter) lock = std::unique_lock<std::mutex>(adapter->lock);
    ipText = node->ipText;
    maskText = node->maskText;
    gatewayText = node->gatewayText;
  }
  const char* mismatch = nullptr;
  if (ipText != params::AddressText(addresses.ip)) {
    mismatch = kTextSetAddressIpNotChanged;
  } else if (maskText != params::AddressText(addresses.mask)) {
    mismatch = kTextSetAddressMaskNotChanged;
  } else if (addresses.gatewayGiven && gatewayText != params::AddressText(addresses.gateway)) {
    mismatch = kTextSetAddressGatewayNotChanged;
  }
  if (mismatch != nullptr) {
    c.prompt.Tell(mismatch, kTitleSetAddress, base::PromptIcon::Error);
    return SetAddressResult::Cancel;
  }
  {
    std::unique_lock<std::mutex> lock;
    if (adapter) lock = std::unique_lock<std::mutex>(adapter->lock);
    std::memcpy(&node->ipAddress, addresses.ip.data(), 4);
  }
  LogInfo("Set NodeIP: node %u now has IP %s, mask %s, gateway %s", node->serialNumber,
          ipText.c_str(), maskText.c_str(), gatewayText.c_str());
  return SetAddressResult::Ok;
}

}  // namespace topology
