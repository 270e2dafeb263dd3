#include "config/module_registers.h"

#include <algorithm>

#include "comm/blocking_socket.h"
#include "comm/event_log.h"

namespace config {
namespace {

template <typename Step>
auto Guarded(Step step) -> decltype(step()) {
  try {
    return step();
  } catch (const CBlockingSocketException& error) {
    LogError("Register access failed: %s", error.GetErrorMessage().c_str());
    return decltype(step())();
  }
}

// A module over a connection of its own, with a register map so that a reversed module's
// numbers are mapped like the node screen's.
class OwnConnection : public MapModuleRegisters {
 public:
  OwnConnection(std::unique_ptr<CBlockingSocket> client,
                std::unique_ptr<params::ClientRegisterAccess> access,
                std::unique_ptr<params::RegisterMap> map)
      : MapModuleRegisters(*map),
        client_(std::move(client)),
        access_(std::move(access)),
        map_(std::move(map)) {}

 private:
  std::unique_ptr<CBlockingSocket> client_;
  std::unique_ptr<params::ClientRegisterAccess> access_;
  std::unique_ptr<params::RegisterMap> map_;
};

}  // namespace

std::optional<uint16_t> MapModuleRegisters::ReadOne(uint16_t reg) {
  return Guarded([&] { return map_.ReadOne(reg); });
}

bool MapModuleRegisters::ReadBlock(uint16_t first, uint16_t count, uint16_t* hostValues) {
  return Guarded([&] {
    if (!map_.ReadBlock(first, count)) return false;
    for (uint16_t i = 0; i < count; ++i)
      hostValues[i] = map_.image().Get(map_.ToModule(static_cast<uint16_t>(first + i)));
    return true;
  });
}

bool MapModuleRegisters::WriteOne(uint16_t reg, uint16_t value) {
  return Guarded([&] { return map_.WriteOne(reg, value); });
}

bool MapModuleRegisters::WriteBlock(uint16_t first, uint16_t count, const uint16_t* hostValues) {
  return Guarded([&] { return map_.WriteBlock(first, count, hostValues); });
}

bool MapModuleRegisters::SaveOne(uint16_t reg, uint16_t value) {
  return Guarded([&] { return map_.SaveToFlash(reg, value); });
}

bool MapModuleRegisters::SaveGroup(uint16_t first, uint16_t count) {
  return Guarded([&] { return map_.SaveToFlashGroup(first, count); });
}

std::unique_ptr<ModuleRegisters> OpenModule(const std::string& ipText, uint16_t port) {
  auto client = std::make_unique<CBlockingSocket>();
  try {
    client->_Connect(ipText, port, false);
  } catch (const CBlockingSocketException& error) {
    LogError("Connect to %s failed: %s", ipText.c_str(), error.GetErrorMessage().c_str());
    return nullptr;
  }
  auto access = std::make_unique<params::ClientRegisterAccess>(*client);
  auto map = std::make_unique<params::RegisterMap>(*access);
  // Register 6 first: it tells whether the module is mounted reversed.
  const bool known = Guarded([&] { return map->ReadBlock(6, 1); });
  if (!known) return nullptr;
  return std::make_unique<OwnConnection>(std::move(client), std::move(access), std::move(map));
}

}  // namespace config
