#pragma once
// A module as the extension (slave) of a neighbouring master: the release of its entries in the
// old masters' extension tables, its entry in the new master's table (the same entry when it is
// there already), its own extension block, the slave mode and the restart. Qt-free; modules are
// reached through ModuleRegisters.
#include <array>
#include <cstdint>
#include <string>

#include "config/connections.h"

namespace config {

namespace ext_reg {
inline constexpr uint16_t kMotorLeft = 90;
inline constexpr uint16_t kMotorRight = 170;
inline constexpr uint16_t kCountLeft = 99;
inline constexpr uint16_t kCountRight = 179;
inline constexpr uint16_t kPrecedingMaster = 114;  // and 115
inline constexpr uint16_t kFollowingMaster = 194;  // and 195
inline constexpr uint16_t kTable = 332;            // 32 registers: four entries of 8
inline constexpr int kEntries = 4;
inline constexpr uint16_t kOwnMark = 8;  // word 5 of an entry written here
}  // namespace ext_reg

enum class MasterChoice { kNone, kPreceding, kFollowing };

// What the dialog reads from the selected module when it opens.
struct ExtensionState {
  std::array<uint8_t, 4> address{};
  uint16_t mode = 0;
  uint16_t leftMotor = 0;
  uint16_t rightMotor = 0;
  std::string upstreamMaster;    // "" when none
  std::string downstreamMaster;  // "" when none
};
std::optional<ExtensionState> ReadExtensionState(ModuleRegisters& module, const std::string& ip);

// One entry of a master's table for the extension at `ip`.
std::array<uint16_t, 8> ExtensionEntry(const std::string& ip, uint16_t zoneCode);
// The zone code of the entry: 116 for a following master; for a preceding master 196 when its
// motor types are both 1 or both 2, else 116.
uint16_t ExtensionZoneCode(MasterChoice choice, uint16_t masterLeft, uint16_t masterRight);
// The entry to use in a master's table (32 words): the one already holding `ip`, else the
// first free one; -1 when the table is full.
int ChooseEntry(const uint16_t* table, const std::string& ip, bool* alreadyThere);

enum class ExtensionOutcome { kDone, kRefused, kFailed };

// Apply (1178) of the extension dialog for the module at `ip`.
ExtensionOutcome ApplyExtension(ModuleRegisters& module, const std::string& ip, MasterChoice choice,
                                ConnectionServices& services);

}  // namespace config
