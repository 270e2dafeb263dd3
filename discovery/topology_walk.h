#pragma once
// The recursive discovery that walks each chain from the PC's switch outwards
// (DISCOVER_ON_RIGHT / DISCOVER_ON_LEFT, GO_NORMAL), and the test of one module's orientation
// (_determineNode_Direction). Both work for the topology view through TopologyViewLink, which
// the topology window implements.
#include <cstdint>
#include <mutex>
#include <optional>

#include "discovery/discover.h"
#include "discovery/inventory.h"

class CMRegApp;

namespace discovery {

// What the recursive discovery needs of the topology view.
class TopologyViewLink {
 public:
  virtual ~TopologyViewLink() = default;
  // The view's temporary node list (m_arrNodesTmp) and the lock that guards it and the fields
  // of its nodes. The walk never holds the lock while it waits for the network.
  virtual std::mutex& TempNodesLock() = 0;
  virtual NodeList& TempNodes() = 0;
  // One more module found on the PC's switch (the view's PC-switch count).
  virtual void CountPcSwitchNode() = 0;
  // The window is closing: long loops stop between modules.
  virtual bool Closing() const = 0;
  // Column (grid units, 5 per device) of the drawn device whose module has this serial
  // number; nullopt when no device shows it.
  virtual std::optional<uint16_t> DeviceColumn(uint32_t serial) = 0;
};

// Results of _determineNode_Direction and the directions of nodes.
constexpr int kDirectionLeftToRight = 0;
constexpr int kDirectionRightToLeft = 1;
constexpr int kDirectionUnknown = 2;
constexpr uint16_t kDeviceColumnStep = 5;  // grid units from one device to the next

constexpr uint32_t kWalkReceiveMs = 400;       // each receive of the recursive discovery
constexpr uint32_t kDirectionReceiveMs = 600;  // each pass of _determineNode_Direction
constexpr uint32_t kAfterGoRoutingMs = 1000;
constexpr uint32_t kBeforeGoNormalMs = 100;
constexpr uint32_t kAfterGoNormalMs = 300;

// One level of the recursive discovery: parent null starts at the PC's switch (the modules
// there must already be in ROUTING mode). Opens the capture into `handle` when it is empty;
// the caller of the outermost call closes it. Returns the handle.
platform::CaptureHandle* DiscoverRecursive(CMRegApp& app, TopologyViewLink& view,
                                           const NodePtr& parentNode, CaptureHandlePtr& handle);

// The orientation of `node` (a module of a drawn device): kDirectionLeftToRight,
// kDirectionRightToLeft or kDirectionUnknown. Empties the view's temporary list first.
int _determineNode_Direction(CMRegApp& app, TopologyViewLink& view, const NodePtr& node);

}  // namespace discovery
