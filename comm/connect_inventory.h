#pragma once
// What a register connection tells the inventory once it has read the module's identity.
// The inventory lives above this layer; the application object implements this interface and
// installs it, so that the register client never depends on the discovery code.
#include <array>
#include <cstdint>
#include <string>

namespace comm {

// Identity of a module as read from registers 26..32 on connecting.
struct ModuleIdentity {
  std::string ipText;            // the address connected to
  uint32_t ipAddress = 0;        // from registers 26, 27; network order
  uint32_t serialNumber = 0;     // register 29 x 65536 + register 28
  std::array<uint8_t, 6> mac{};  // registers 30..32 in wire order
};

class ConnectInventory {
 public:
  virtual ~ConnectInventory() = default;
  // Runs the fast discovery when none has run yet (or no adapter is selected), then matches
  // the identity against the inventory by MAC, updates or adds the node, and with
  // purgeDuplicates removes other nodes of the same address. Logs as it goes.
  virtual void UpdateAfterConnect(const ModuleIdentity& identity, bool purgeDuplicates) = 0;
};

// The process-wide link used by clients that were not given their own. Not owned; null = none
// (then a connection updates nothing).
void SetConnectInventory(ConnectInventory* inventory);
ConnectInventory* GetConnectInventory();

}  // namespace comm
