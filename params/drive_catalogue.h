#pragma once
// The drive type catalogue. A drive's type is not one register: it is the combination of the
// current limit, class flag, drive constant, maximum current, drive parameter and drive code
// registers, whose values come from this fixed table. This file recognises a type from the
// registers, plans the writes that set one, and says which types each module kind offers.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/language.h"
#include "params/register_plan.h"

namespace params {

inline constexpr int kDriveTypeCount = 35;
inline constexpr int kNotApplicable = -1;         // a column that does not apply to the row
inline constexpr int kCodeUserCurrentLimit = 26;  // types with a user-set current limit

struct DriveType {
  int index;
  const char* name;          // shown on modules of families other than 0x09
  const char* family09Name;  // shown on family 0x09 modules
  int ratedCurrent;          // mA, current limit register 41 / 65
  int classFlag;             // 45 / 69
  int constant;              // 42 / 66
  int maxCurrent;            // mA, 59 / 83
  int parameter;             // 52 / 76
  int code;                  // 490 / 492

  bool IsCurrentClass() const { return classFlag == kNotApplicable; }
  bool IsValve() const { return index == 18 || index == 19; }
  const char* NameFor(bool family09) const { return family09 ? family09Name : name; }
};

// The 35 rows, indexed 0..34.
extern const std::array<DriveType, kDriveTypeCount> kDriveCatalogue;

// Catalogue indexes of rows named elsewhere.
inline constexpr int kDriveUnknown = 0;  // "Nicht bekannt"
inline constexpr int kDriveForkaneServo = 29;

// The type registers of one drive (left: 45, 41, 42, 59, 490; right: 69, 65, 66, 83, 492).
struct DriveTypeRegisters {
  uint16_t classFlag = 0;
  uint16_t ratedCurrent = 0;
  uint16_t constant = 0;
  uint16_t maxCurrent = 0;
  uint16_t code = 0;
};

// The catalogue row the registers describe, or nullopt. A column of -1 never equals a
// register value.
std::optional<int> RecogniseDriveType(const DriveTypeRegisters& regs);
// The shown text of the recognised row (family-0x09 name on family 0x09), or "".
std::string RecognisedDriveText(const DriveTypeRegisters& regs, bool family09);

// The row whose name (family-0x09 name on family 0x09 modules) is `name`, or -1.
int FindDriveType(std::string_view name, bool family09);

// The registers of the drive type columns and of what a type change also writes, per side.
struct DriveSideRegisters {
  int ratedCurrent, maxCurrent, classFlag, constant, driveRun, zoneRun, parameter, code,
      zoneDriveType;
};
const DriveSideRegisters& DriveRegistersOf(Side side);

// Applying the type shown as `entryText` in the side's drive list, entry `listIndex`
// (connected, node number already checked). An entry not found in the catalogue and
// "Nicht bekannt" give an empty plan. The valve rows save the list index to 113 / 193. Other
// rows write the currents (unless code 26), show or hide the current-limit controls, write
// the class flag, constant, drive and zone forced run off and the parameter, save 41..59 /
// 65..83 and save the code. Current classes write and save only the two currents. The plan's
// readNext is the side's drive group; the screen refreshes the drive part afterwards.
RegisterPlan PlanApplyDriveType(Side side, std::string_view entryText, int listIndex,
                                bool family09);

// ---- Lists ------------------------------------------------------------------------------

// Brake method (47 / 71), stored as the index.
inline constexpr std::array<const char*, 4> kBrakeMethods{
    QM_TRANSLATE_NOOP("DisplayItems", "Normal"), QM_TRANSLATE_NOOP("DisplayItems", "Frei"),
    QM_TRANSLATE_NOOP("DisplayItems", "Servo Bremse 1"),
    QM_TRANSLATE_NOOP("DisplayItems", "Servo Bremse 2")};
inline constexpr std::array<const char*, 4> kBrakeMethodsEnglish{"Normal", "Free", "Servo Brake1",
                                                                 "Servo Brake2"};
// ZPA mode (91 / 171): register 1 = first entry, 2 = second or third (third = with GAP timer).
inline constexpr std::array<const char*, 3> kZpaModes{
    QM_TRANSLATE_NOOP("DisplayItems", "Einzelabzug"),
    QM_TRANSLATE_NOOP("DisplayItems", "Blockabzug"),
    QM_TRANSLATE_NOOP("DisplayItems", "Blocklückenabzug")};
inline constexpr std::array<const char*, 3> kZpaModesEnglish{"Singulation", "Train", "GAP Train"};
// Direction (48 / 72), and the valve action on valve modules.
inline constexpr std::array<const char*, 2> kDirections{"CW", "CCW"};
inline constexpr std::array<const char*, 2> kValveActions{"ON Running", "OFF Running"};

// Which drive list the screen shows. The list is refilled only when the module type is or
// was 4, or the family is or was 0x03 or 0x09; otherwise it keeps what it shows.
enum class DriveListKind {
  WholeCatalogue,   // standard modules never refilled: every row in index order, by name
  Valves,           // module type 4
  Family03,         // family 0x03
  Family09Zentrik,  // family 0x09 with register 6 low byte 0x97
  Family09,         // family 0x09 otherwise
  OtherAfterRefill  // any other module when a refill happens
};

// What the screen caches of a module to choose its lists.
struct ModuleKind {
  uint8_t family = 0;       // high byte of register 17
  uint16_t moduleType = 0;  // register 18
  uint16_t variant = 0;     // register 6

  bool operator==(const ModuleKind&) const = default;
};

bool DriveListNeedsRefill(const ModuleKind& now, const ModuleKind& before);
// The list kind a refill would choose for `now`.
DriveListKind DriveListKindFor(const ModuleKind& now);
// The list after a refresh: refilled for `now` when needed, else `shown` unchanged.
DriveListKind NextDriveList(const ModuleKind& now, const ModuleKind& before, DriveListKind shown);

struct DriveListEntry {
  int catalogueIndex;
  const char* text;
};
std::vector<DriveListEntry> DriveListEntries(DriveListKind kind);
// "ON Running" / "OFF Running" for valves, "CW" / "CCW" otherwise.
std::span<const char* const> DirectionListEntries(DriveListKind kind);

}  // namespace params
