#include "discovery/connect_inventory_link.h"

#include <cstring>

#include "base/format.h"
#include "comm/event_log.h"
#include "discovery/mreg_app.h"

namespace discovery {

void ConnectInventoryLink::UpdateAfterConnect(const comm::ModuleIdentity& identity,
                                              bool purgeDuplicates) {
  if (app_.discoverDone.load() == 0 || app_.SelectedAdapterName().empty()) {
    LogInfo("Sockets::_Connect - no Discover yet! Going to do Fast discover...");
    app_.discoverDone.store(0);
    app_.Discover(false, nullptr);
  }

  MacAddress mac{};
  std::memcpy(mac.data(), identity.mac.data(), mac.size());
  AdapterPtr found;
  int index = -1;
  NodePtr node = app_.FindNodeByMac(mac, &index, &found);
  if (!found) return;

  const std::string selected = app_.SelectedAdapterName();
  if (selected.empty() || (node && selected != found->name)) {
    app_.SetSelectedAdapter(found->name);
  }

  AdapterPtr target = found;
  const std::string newText = base::Ipv4Text(identity.ipAddress);
  if (node) {
    std::lock_guard guard(found->lock);
    if (node->ipAddress != identity.ipAddress) {
      const std::string oldText = node->ipText;
      node->ipAddress = identity.ipAddress;
      node->ipText = newText;
      LogWarning("Connected to Node SN: %u, but IP has changed from: %s to: %s", node->serialNumber,
                 oldText.c_str(), newText.c_str());
    }
    if (node->serialNumber != identity.serialNumber) {
      LogError(
          "Connected to Node SN: %u, but thnode with this MAC previosly was with SerNo = %u "
          "!?! :-o",
          identity.serialNumber, node->serialNumber);
      node->serialNumber = identity.serialNumber;
    }
  } else {
    if (AdapterPtr selectedAdapter = app_.SelectedAdapter()) target = selectedAdapter;
    auto added = std::make_shared<CNode_Data>();
    added->ipAddress = identity.ipAddress;
    added->ipText = newText;
    added->serialNumber = identity.serialNumber;
    added->mac = mac;
    added->mask = 0;
    added->revision = 0;
    added->leftPort = 0;  // every other discovery field zero
    added->rightPort = 0;
    std::lock_guard guard(target->lock);
    target->nodes.push_back(std::move(added));
  }

  if (purgeDuplicates) {
    int removed = 0;
    std::lock_guard guard(target->lock);
    for (size_t k = target->nodes.size(); k-- > 0;) {
      const NodePtr& other = target->nodes[k];
      if (other->ipAddress == identity.ipAddress && other->serialNumber != identity.serialNumber) {
        target->nodes.erase(target->nodes.begin() + static_cast<std::ptrdiff_t>(k));
        ++removed;
      }
    }
    if (removed > 0) {
      LogWarning("! Connected to Node SN: %u, there was %d nodes with this IP, which was deleted !",
                 identity.serialNumber, removed);
    }
  }
}

ScopedConnectInventory::ScopedConnectInventory(CMRegApp& app)
    : link_(app), previous_(comm::GetConnectInventory()) {
  comm::SetConnectInventory(&link_);
}

ScopedConnectInventory::~ScopedConnectInventory() {
  comm::SetConnectInventory(previous_);
}

}  // namespace discovery
