#include "comm/connect_inventory.h"

#include <atomic>

namespace comm {
namespace {
std::atomic<ConnectInventory*> processInventory{nullptr};
}

void SetConnectInventory(ConnectInventory* inventory) {
  processInventory.store(inventory);
}
ConnectInventory* GetConnectInventory() {
  return processInventory.load();
}

}  // namespace comm
