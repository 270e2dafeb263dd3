#pragma once
// The application's side of a register connection: when `_Connect` has read a module's
// identity, the inventory is brought up to date through this link (fast discovery first when
// none has run, then the node matched by MAC, added or corrected, duplicates purged).
#include <memory>

#include "comm/connect_inventory.h"

class CMRegApp;

namespace discovery {

class ConnectInventoryLink : public comm::ConnectInventory {
 public:
  explicit ConnectInventoryLink(CMRegApp& app) : app_(app) {}
  void UpdateAfterConnect(const comm::ModuleIdentity& identity, bool purgeDuplicates) override;

 private:
  CMRegApp& app_;
};

// Makes a link to `app` the process-wide one for as long as the returned object lives (its
// destructor removes it again). The programs call this once after creating the application.
class ScopedConnectInventory {
 public:
  explicit ScopedConnectInventory(CMRegApp& app);
  ~ScopedConnectInventory();
  ScopedConnectInventory(const ScopedConnectInventory&) = delete;
  ScopedConnectInventory& operator=(const ScopedConnectInventory&) = delete;

 private:
  ConnectInventoryLink link_;
  comm::ConnectInventory* previous_;
};

}  // namespace discovery
