// The recursive discovery of the chains and the orientation test of one module.
#include "discovery/topology_walk.h"

#include <algorithm>
#include <string>
#include <vector>

#include "comm/event_log.h"
#include "discovery/discover_environment.h"
#include "discovery/mreg_app.h"
#include "discovery/topology_protocol.h"

namespace discovery {
namespace {

// The depth text of the walk's log lines: the walk never indents (its depth stays 0).
constexpr const char* kIndent = "";

size_t TempCount(TopologyViewLink& view) {
  std::lock_guard guard(view.TempNodesLock());
  return view.TempNodes().size();
}

// The generic receiver into the view's temporary list. It works on a copy so that the list's
// lock is never held while waiting for the network; what it found is appended under the lock
// (a serial number once). Returns what the receiver returned; *tookMs the time it took.
int ReceiveIntoTempNodes(CMRegApp& app, TopologyViewLink& view, platform::CaptureHandle* handle,
                         uint32_t timeoutMs, bool logSender, uint32_t* tookMs) {
  NodeList copy;
  {
    std::lock_guard guard(view.TempNodesLock());
    copy = view.TempNodes();
  }
  DiscoverEnvironment& env = Environment();
  const uint32_t start = env.Now();
  const int acted = ReceiveNodeAnswers(app, handle, timeoutMs, &copy, logSender);
  if (tookMs != nullptr) *tookMs = env.Now() - start;
  std::lock_guard guard(view.TempNodesLock());
  NodeList& temp = view.TempNodes();
  for (const NodePtr& node : copy) {
    if (!FindNodeBySerial(node->serialNumber, nullptr, temp)) temp.push_back(node);
  }
  return acted;
}

// Receives into the temporary list and logs how many nodes it holds when something arrived.
void ReceiveAndReport(CMRegApp& app, TopologyViewLink& view, platform::CaptureHandle* handle,
                      uint32_t timeoutMs, const char* after) {
  uint32_t took = 0;
  if (ReceiveIntoTempNodes(app, view, handle, timeoutMs, false, &took) == 0) return;
  const unsigned count = static_cast<unsigned>(TempCount(view));
  if (after == nullptr) {
    LogInfo("After %u ms. there are %u nodes in m_arrNodesTmp", took, count);
  } else {
    LogInfo("After %u ms. there are %u nodes in m_arrNodesTmp (after %s)", took, count, after);
  }
}

void SendNodeCommand(CMRegApp& app, CaptureHandlePtr& handle, uint8_t code, uint32_t serial,
                     uint32_t address, int repeat) {
  const auto payload = MakeNodeCommand(code, serial, address, NextSequenceNumber());
  _send_UDP_to_Node(app, handle, nullptr, payload.data(), payload.size(), kModulePort, repeat);
}

}  // namespace

platform::CaptureHandle* DiscoverRecursive(CMRegApp& app, TopologyViewLink& view,
                                           const NodePtr& parentNode, CaptureHandlePtr& handle) {
  // 1.
  if (view.Closing()) return handle.get();
  std::string parentText = "NULL";
  uint32_t parentSerial = 0;
  if (parentNode) {
    std::lock_guard guard(view.TempNodesLock());
    parentText = parentNode->ipText;
    parentSerial = parentNode->serialNumber;
  }
  const char* parent = parentText.c_str();

  // 2. The modules on the PC's switch (all in ROUTING mode, so nothing further answers).
  if (!parentNode) {
    LogInfo(">> Init Discover after All GO Routing...");
    const auto request = MakeHeaderOnly(kPacketDiscover, NextSequenceNumber());
    if (_send_UDP_to_Node(app, handle, nullptr, request.data(), request.size(), kModulePort, 3) !=
        nullptr) {
      LogInfo("Init Discover Sent, waiting for nodes attached to PC switch...");
      ReceiveIntoTempNodes(app, view, handle.get(), kWalkReceiveMs, true, nullptr);
      LogInfo("There are %u nodes attached to PC switch!?!",
              static_cast<unsigned>(TempCount(view)));
    }
  }

  // 3. The nodes not processed yet.
  std::vector<NodePtr> fresh;
  {
    std::lock_guard guard(view.TempNodesLock());
    for (const NodePtr& node : view.TempNodes()) {
      if (node->processed != 0) continue;
      if (!parentNode) node->linkedToPcSwitch = 1;
      node->processed = 1;
      node->buddies.clear();
      fresh.push_back(node);
      LogInfo(">> %sRecursive( parentDev= %s ) discovered new node (%u, %s)", kIndent, parent,
              node->serialNumber, node->ipText.c_str());
    }
  }
  if (!parentNode) {
    for (size_t i = 0; i < fresh.size(); ++i) view.CountPcSwitchNode();
  }

  // 4.
  if (fresh.empty()) {
    LogInfo(">> %sRecursive( parentDev= %s ) no nodes Discovered this time !?!", kIndent, parent);
    return handle.get();
  }

  // 5. From the last new node to the first.
  for (auto it = fresh.rbegin(); it != fresh.rend(); ++it) {
    if (view.Closing()) break;
    const NodePtr& node = *it;
    uint32_t serial = 0;
    uint32_t address = 0;
    {
      std::lock_guard guard(view.TempNodesLock());
      serial = node->serialNumber;
      address = node->ipAddress;
      // 5.1
      if (parentNode) {
        parentNode->buddies.push_back(node);
        node->buddies.push_back(parentNode);
      }
    }
    if (parentNode) {
      LogInfo("Node %u -> has a buddy - node %u - added.", parentSerial, serial);
      LogInfo("Node %u -> has a buddy - node %u - added.", serial, parentSerial);
    }

    // 5.2 A module on the right side?
    size_t before = TempCount(view);
    SendNodeCommand(app, handle, kPacketDiscoverOnRight, serial, address, 2);
    LogInfo(">> %sRecursive( parentDev= %s ) discovering... on right...", kIndent, parent);
    ReceiveAndReport(app, view, handle.get(), kWalkReceiveMs, nullptr);
    size_t after = TempCount(view);

    // 5.3 Found on the right: the module's left port faces the PC.
    if (after > before) {
      LogInfo(" > There are %u new discovered nodes!", static_cast<unsigned>(after - before));
      {
        std::lock_guard guard(view.TempNodesLock());
        node->direction = kDirectionLeftToRight;
      }
      SendNodeCommand(app, handle, kPacketGoNormal, serial, address, 2);
      LogInfo(">> %sRecursive( parentDev= %s ) left module going to Normal...", kIndent, parent);
      ReceiveNodeAnswers(app, handle.get(), kWalkReceiveMs, nullptr);
      DiscoverRecursive(app, view, node, handle);
      continue;
    }

    // 5.4 Else on the left side?
    before = after;
    SendNodeCommand(app, handle, kPacketDiscoverOnLeft, serial, address, 2);
    LogInfo(">> %sRecursive( parentDev= %s ) discovering... on left...", kIndent, parent);
    ReceiveAndReport(app, view, handle.get(), kWalkReceiveMs, nullptr);
    after = TempCount(view);
    const bool grew = after > before;
    if (grew) {
      LogInfo(" > There are %u new discovered nodes!", static_cast<unsigned>(after - before));
    }
    SendNodeCommand(app, handle, kPacketGoNormal, serial, address, 2);
    if (grew) {
      LogInfo(">> %sRecursive( parentDev= %s ) right module going to Normal...", kIndent, parent);
    } else {
      LogInfo(">> %sRecursive( parentDev= %s ) no right module discovered -> going to Normal...",
              kIndent, parent);
    }
    ReceiveNodeAnswers(app, handle.get(), kWalkReceiveMs, nullptr);
    if (grew) {
      {
        std::lock_guard guard(view.TempNodesLock());
        node->direction = kDirectionRightToLeft;
      }
      DiscoverRecursive(app, view, node, handle);
      continue;
    }

    // The last module of its chain: its own packet flags tell its orientation.
    std::optional<uint8_t> flags;
    if (const AdapterPtr adapter = app.SelectedAdapter()) {
      std::lock_guard guard(adapter->lock);
      if (const NodePtr known = FindNodeBySerial(serial, nullptr, adapter->nodes)) {
        flags = known->packetFlags;
      }
    }
    if (flags) {
      const uint32_t direction = CNode_Data::DirectionFromFlags(*flags);
      {
        std::lock_guard guard(view.TempNodesLock());
        node->direction = direction;
      }
      LogInfo(">> %sRecursive( LastDev.SerNo = %u, packetFlags = 0x%x ) direction is %s!", kIndent,
              serial, *flags, direction == 1 ? "Right To Left" : "Left To Right");
    } else {
      LogInfo(
          ">> %sRecursive( LastDev.SerNo = %u ) strange cann't find MyDev.Serno in m_arrNodes !?!",
          kIndent, serial);
    }
  }

  // 6.
  return handle.get();
}

int _determineNode_Direction(CMRegApp& app, TopologyViewLink& view, const NodePtr& node) {
  if (!node) return kDirectionUnknown;
  DiscoverEnvironment& env = Environment();
  // 1.
  {
    std::lock_guard guard(view.TempNodesLock());
    view.TempNodes().clear();
  }
  // The node is one of the selected adapter's records: its fields are read under that
  // adapter's lock, once, and the buddies kept as serial numbers.
  uint32_t serial = 0;
  uint32_t address = 0;
  std::vector<uint32_t> buddySerials;
  {
    const AdapterPtr adapter = app.SelectedAdapter();
    std::unique_lock<std::mutex> lock;
    if (adapter) lock = std::unique_lock<std::mutex>(adapter->lock);
    serial = node->serialNumber;
    address = node->ipAddress;
    for (const auto& weak : node->buddies) {
      if (const NodePtr buddy = weak.lock()) buddySerials.push_back(buddy->serialNumber);
    }
  }

  // 2. The module stops passing discovery between its ports.
  CaptureHandlePtr handle;
  LogInfo(">> _determineNode_Direction Sending GO_ROUTING to Node %u", serial);
  const auto routing = MakeHeaderOnly(kPacketGoRouting, NextSequenceNumber());
  if (_send_UDP_to_Node(app, handle, node.get(), routing.data(), routing.size(), kModulePort, 3) !=
      nullptr) {
    LogInfo("PACKET_ALL_GO_ROUTING_NEW Sent.");
  }
  env.Sleep(kAfterGoRoutingMs);

  // 3. Which buddy answers on which side, against where the buddies are drawn.
  int result = kDirectionUnknown;
  const struct {
    uint8_t code;
    const char* name;
    bool left;
  } passes[] = {{kPacketDiscoverOnLeft, "PACKET_DISCOVER_ON_LEFT", true},
                {kPacketDiscoverOnRight, "PACKET_DISCOVER_ON_RIGHT", false}};
  for (const auto& pass : passes) {
    if (result != kDirectionUnknown) break;
    LogInfo(">> _determineNode_Direction Sending %s to Node %u", pass.name, serial);
    SendNodeCommand(app, handle, pass.code, serial, address, 2);
    ReceiveAndReport(app, view, handle.get(), kDirectionReceiveMs, pass.name);
    std::vector<uint32_t> found;
    {
      std::lock_guard guard(view.TempNodesLock());
      for (const NodePtr& candidate : view.TempNodes()) found.push_back(candidate->serialNumber);
    }
    const std::optional<uint16_t> column = view.DeviceColumn(serial);
    for (const uint32_t candidateSerial : found) {
      if (std::find(buddySerials.begin(), buddySerials.end(), candidateSerial) ==
          buddySerials.end()) {
        continue;
      }
      const std::optional<uint16_t> buddyColumn = view.DeviceColumn(candidateSerial);
      if (!buddyColumn) continue;
      LogInfo(">> _determineNode_Direction Find Discovered Buddy with SerNo %u", candidateSerial);
      if (!column) continue;
      if (*buddyColumn == *column + kDeviceColumnStep) {
        result = pass.left ? kDirectionRightToLeft : kDirectionLeftToRight;
      } else if (*buddyColumn + kDeviceColumnStep == *column || *buddyColumn == *column) {
        result = pass.left ? kDirectionLeftToRight : kDirectionRightToLeft;
      }
      if (result != kDirectionUnknown) break;
    }
  }

  // 4. Back to normal operation.
  env.Sleep(kBeforeGoNormalMs);
  LogInfo(">> _determineNode_Direction Sending GO_NORMAL to Node %u", serial);
  SendNodeCommand(app, handle, kPacketGoNormal, serial, address, 3);
  env.Sleep(kAfterGoNormalMs);
  handle.reset();
  return result;
}

}  // namespace discovery
