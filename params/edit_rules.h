#pragma once
// What the node screen writes when the user applies an edit or presses a toggle, as plans
// (register_plan.h). Every function is pure: values the screen must read from the module
// first (register 96 and 6 for a direction, the GAP timer for "Blocklückenabzug", 19 for the
// blink) are its arguments. The caller has already checked the current node number (kind 0).
// Typed values are converted and checked here; a refused plan carries the message and no
// steps.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "params/display_items.h"
#include "params/image_view.h"
#include "params/register_plan.h"
#include "params/units.h"

namespace params {

// Drive fields (readNext = the side's drive group). The units come from the image: module
// family, the side's speed-unit selector, closed loop and recognised drive type.
RegisterPlan PlanSpeed(Side side, std::string_view typed, const ImageView& image);
RegisterPlan PlanRamp(Side side, Ramp ramp, std::string_view typed, const ImageView& image);
RegisterPlan PlanCurrentLimit(Side side, std::string_view typed);
RegisterPlan PlanClosedLoop(Side side, bool on);
RegisterPlan PlanBrakeMethod(Side side, int entry);
// Saves CW = 0, CCW = 1 to 48 / 72, exchanged by DirectionFlip(reg96, reg6) — register 96
// and 6 as read from the module just before.
RegisterPlan PlanDirection(Side side, int entry, uint16_t reg96, uint16_t reg6);

// Zone fields (readNext = the side's zone group).
// Valve action of a type-4 module: the list index to 96 / 176.
RegisterPlan PlanValveAction(Side side, int entry);
// ZPA mode. Entry 2 ("Blocklückenabzug") needs the zone's GAP timer as read just before.
inline bool ZpaModeNeedsGapRead(int entry) {
  return entry == 2;
}
RegisterPlan PlanZpaMode(Side side, int entry, uint16_t gapTimerRead = 0);
RegisterPlan PlanGapTimer(Side side, std::string_view typed);
// T-zone accept time: sub-kind 1 writes 101 / 181, 2 (type 3) 100 / 180, 3 (type 4) 98 / 178.
RegisterPlan PlanTZoneAccept(Side side, std::string_view typed, uint16_t moduleType);
RegisterPlan PlanNotFullStop(Side side, std::string_view typed);
RegisterPlan PlanInduct(Side side, std::string_view typed);
RegisterPlan PlanZoneCurrents(Side side, std::string_view low, std::string_view high);
// A zone option check box (items 32..37 and 58). On type 3, item 32 is "Auto Push" and saves
// the box state to 112 / 192; otherwise the option word 94 / 174 is saved with the item's bit
// changed (`optionWord` is the word as shown).
RegisterPlan PlanZoneOption(Side side, int itemId, bool ticked, uint16_t optionWord,
                            uint16_t moduleType);

// ---- One write path for every settable field -----------------------------------------------

// What the user gave a settable field (the item's SetKind says which member counts).
struct FieldInput {
  std::string typed;        // Typed; TypedPair: the low current
  std::string secondTyped;  // TypedPair: the high current
  int entry = -1;           // List: the selected entry
  bool ticked = false;      // Check
};

// Reads one register of the module about to be written (number before the mirror map) and
// returns it; throws CBlockingSocketException when the module does not answer.
using ModuleRead = std::function<uint16_t(int reg)>;

// The plan of setting `item` on `side`, the one path of the node screen's Set, SetAll and the
// CLI. Units, module type and lists come from `image` and `shown` (the module the user sees);
// the item's pre-reads (its PreRead column) go through `read`. An item that cannot be set
// gives an empty plan.
RegisterPlan PlanField(const DisplayItem& item, Side side, const FieldInput& input,
                       const ImageView& image, const ShowState& shown, const ModuleRead& read);

// Toggles.
// Accumulate: 117 below 256 → write 95 = 0, save 117 = 256 + low byte; else save 117 = low
// byte (zone B: 197 / 175).
RegisterPlan PlanAccumulate(Side side, uint16_t reg117);
// Zone forced run: 95 = 0 → write 117 = its low byte, then 95 = 1; else write 95 = 0.
RegisterPlan PlanZoneForcedRun(Side side, uint16_t reg95, uint16_t reg117);
// Drive run: write 49 / 73 = not its value; on type 4 the zone forced run of the same side.
RegisterPlan PlanDriveRun(Side side, uint16_t moduleType, const ImageView& image);
// Jam clear: write 109 / 189 = 1, pause 50 ms, read 108 / 188.
RegisterPlan PlanJamClear(Side side);
// Blink: write 19 with bit 0 inverted, other bits as read just before.
RegisterPlan PlanBlink(uint16_t reg19Read);

}  // namespace params
