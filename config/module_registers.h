#pragma once
// ModuleRegisters over the register client: the node screen's register map (numbers pass
// through its mirror map), or a connection of its own to a module.
#include <memory>
#include <string>

#include "config/connections.h"
#include "params/register_map.h"

namespace config {

// The registers of the module a register map reads (the node screen's, on its worker thread).
// Exceptions of the client become failures.
class MapModuleRegisters : public ModuleRegisters {
 public:
  explicit MapModuleRegisters(params::RegisterMap& map) : map_(map) {}
  std::optional<uint16_t> ReadOne(uint16_t reg) override;
  bool ReadBlock(uint16_t first, uint16_t count, uint16_t* hostValues) override;
  bool WriteOne(uint16_t reg, uint16_t value) override;
  bool WriteBlock(uint16_t first, uint16_t count, const uint16_t* hostValues) override;
  bool SaveOne(uint16_t reg, uint16_t value) override;
  bool SaveGroup(uint16_t first, uint16_t count) override;

 private:
  params::RegisterMap& map_;
};

}  // namespace config
