#include "discovery/inventory.h"

#include <arpa/inet.h>
#include <algorithm>

#include "base/format.h"
#include "comm/event_log.h"
#include "platform/tick.h"

bool CNode_Data::HasMac() const {
  return std::any_of(mac.begin(), mac.end(), [](uint8_t b) { return b != 0; });
}

CAdapterInfo CAdapterInfo::FromSystem(const platform::AdapterInfo& adapter) {
  CAdapterInfo info;
  info.valid = 1;
  info.mac = adapter.mac;
  info.addresses = adapter.addresses;
  if (!adapter.addresses.empty()) {
    info.ipAddress = adapter.addresses.front().address;
    info.mask = adapter.addresses.front().mask;
  }
  info.addressText = base::Ipv4Text(info.ipAddress);
  info.maskText = base::Ipv4Text(info.mask);
  info.description = adapter.description.empty() ? adapter.name : adapter.description;
  return info;
}

CNAdapter::CNAdapter() : changedAt(platform::GetTickCount()) {}

NodePtr CNAdapter::FindNodeBySerial(uint32_t serial, int* index, bool takeLock) {
  if (!takeLock) return ::FindNodeBySerial(serial, index, nodes);
  std::lock_guard guard(lock);
  return ::FindNodeBySerial(serial, index, nodes);
}

void CNAdapter::DropNodesLocked(uint32_t nowTick) {
  newNodes = 0;
  lostNodes = static_cast<int32_t>(nodes.size());
  changedAt = nowTick;
  nodes.clear();
}

size_t CNAdapter::NodeCount() const {
  std::lock_guard guard(lock);
  return nodes.size();
}

namespace {

template <typename Match>
NodePtr FindFirst(const NodeList& nodes, int* index, Match match) {
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (nodes[i] && match(*nodes[i])) {
      if (index) *index = static_cast<int>(i);
      return nodes[i];
    }
  }
  if (index) *index = -1;
  return nullptr;
}

}  // namespace

NodePtr FindNodeBySerial(uint32_t serial, int* index, const NodeList& nodes) {
  return FindFirst(nodes, index, [&](const CNode_Data& n) { return n.serialNumber == serial; });
}

NodePtr FindNodeByIp(const std::string& ipText, int* index, const NodeList& nodes) {
  if (ipText.empty()) {
    if (index) *index = -1;
    return nullptr;
  }
  return FindFirst(nodes, index, [&](const CNode_Data& n) { return n.ipText == ipText; });
}

NodePtr FindNodeByMacIn(const MacAddress& mac, int* index, const NodeList& nodes) {
  return FindFirst(nodes, index, [&](const CNode_Data& n) { return n.mac == mac; });
}

bool ParseAddress(const std::string& text, std::array<uint8_t, 4>& bytes) {
  bytes.fill(0xCC);
  size_t pos = 0;
  int last = -1;
  bool textEnded = false;
  for (int i = 0; i < 4; ++i) {
    if (textEnded) {
      // Fewer than three dots: the last part fills the missing positions.
      bytes[i] = static_cast<uint8_t>(last);
      continue;
    }
    const size_t dot = text.find('.', pos);
    const size_t end = dot == std::string::npos ? text.size() : dot;
    const std::string part = text.substr(pos, end - pos);
    if (part.empty() || part.size() > 3 ||
        !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return false;
    }
    const int value = std::stoi(part);
    if (value > 255) return false;
    bytes[i] = static_cast<uint8_t>(value);
    last = value;
    if (dot == std::string::npos) {
      textEnded = true;
    } else {
      pos = dot + 1;
      if (i == 3) return false;  // a fifth part
    }
  }
  return true;
}

bool ParseAddress(const std::string& text, uint32_t* addressNetworkOrder) {
  std::array<uint8_t, 4> bytes{};
  if (!ParseAddress(text, bytes)) return false;
  if (addressNetworkOrder) {
    uint32_t value;
    std::copy(bytes.begin(), bytes.end(), reinterpret_cast<uint8_t*>(&value));
    *addressNetworkOrder = value;
  }
  return true;
}

void SortNodes(NodeList& nodes) {
  std::stable_sort(nodes.begin(), nodes.end(), [](const NodePtr& a, const NodePtr& b) {
    const uint32_t ha = ntohl(a->ipAddress);
    const uint32_t hb = ntohl(b->ipAddress);
    if (ha != hb) return ha < hb;
    return a->serialNumber < b->serialNumber;
  });
}

void SortNodes(CNAdapter& adapter) {
  std::lock_guard guard(adapter.lock);
  SortNodes(adapter.nodes);
}

NodePtr MergeDiscoveryAnswer(CNAdapter& adapter, NodePtr answer, size_t recordLength,
                             uint8_t headerFlags) {
  if (!answer) return nullptr;
  std::lock_guard guard(adapter.lock);
  NodePtr existing = FindNodeBySerial(answer->serialNumber, nullptr, adapter.nodes);
  if (!existing) {
    if (recordLength >= 16) {
      answer->packetFlags = headerFlags;
      LogInfo("\n\t Node: %s, %u - got new packetFlag = 0x%X...\n", answer->ipText.c_str(),
              answer->serialNumber, headerFlags);
      answer->direction = CNode_Data::DirectionFromFlags(headerFlags);
    }
    adapter.nodes.push_back(answer);
    adapter.newNodes++;
    return answer;
  }

  CNode_Data& node = *existing;
  if (recordLength >= 16 && node.packetFlags != headerFlags) {
    LogInfo("\n\t Node: %s, %u - got new packetFlag = 0x%X...\n", answer->ipText.c_str(),
            answer->serialNumber, headerFlags);
    node.packetFlags = headerFlags;
    node.direction = CNode_Data::DirectionFromFlags(headerFlags);
  }
  node.stale = 0;
  if (recordLength >= 16) {
    // The raw record follows the module too: list copies are made from it, and after a firmware
    // upgrade they must show the new revision, not the first discovery's.
    node.record = answer->record;
    node.ipAddress = answer->ipAddress;
    node.ipText = answer->ipText;
    node.maskText = answer->maskText;
    node.mask = answer->mask;
    node.gatewayText = answer->gatewayText;
    node.recordCopy = answer->recordCopy;
  }
  if (recordLength >= 20 && node.revision != answer->revision) {
    LogInfo("\t But it has new RevNo = 0x%X, old was 0x%X !?!\n", answer->revision, node.revision);
    node.revision = answer->revision;
  }
  LogInfo("!!!!! IGNORING UDP DISCOVER ... the device %u is already exist.", node.serialNumber);
  if (answer->HasMac() && answer->mac != node.mac) {
    node.mac = answer->mac;
    const MacAddress& m = node.mac;
    LogInfo("!!!!! Node SN: %u, MAC addr. has changed to: %02X:%02X:%02X:%02X:%02X:%02X !?!",
            node.serialNumber, m[0], m[1], m[2], m[3], m[4], m[5]);
  }
  return existing;
}
