#include "params/drive_catalogue.h"

#include "params/display_items.h"

namespace params {

namespace {
constexpr int NA = kNotApplicable;
}

// clang-format off
const std::array<DriveType, kDriveTypeCount> kDriveCatalogue{{
    // index, name, family-0x09 name, rated mA, flag, constant, max mA, parameter, code
    {0, QM_TRANSLATE_NOOP("DriveCatalogue", "Nicht bekannt"),
     QM_TRANSLATE_NOOP("DriveCatalogue", "Nicht bekannt"), 0, 0, 0, 0, 0, 0},
    {1, "Brumm", "Brumm", 2200, 0, 180, 4000, 120, 0},
    {2, "Brumm High Torque", "Brumm High Torque", 3000, 0, 160, 5000, 120, 0},
    {3, "Tevlindor 20W", "Tevlindor 20W", 2600, 1, 260, 2600, 120, 0},
    {4, "Tevlindor 28W", "Tevlindor 28W", 3200, 1, 430, 4000, 120, 0},
    {5, "Tevlindor 35W", "Tevlindor 35W", 2700, 1, 110, 3500, 120, 0},
    {6, "Tevlindor 50W", "Tevlindor 50W", 4000, 1, 140, 4000, 120, 0},
    {7, "Tevlindor 50W,7A", "Tevlindor 50W,7A", 4000, 1, 140, 7000, 120, 0},
    {8, "1.5 Proto-Tevlindor r.2", "1.5 Proto-Tevlindor r.2", 300, 1, 190, 1500, 120, 0},
    {9, "Oskarn ECO", "Oskarn-Ux ECO", 2800, 1, 483, 3000, 105, 0},
    {10, "Oskarn Vigor", "Oskarn-Ux Vigor", 3600, 1, 350, 5000, 105, 0},
    {11, "Oskarn Vigor,8A", "Oskarn-Ux Vigor,8A", 3600, 1, 350, 8000, 105, 0},
    {12, "Oskarn Surge", "Oskarn Surge", 3600, 1, 483, 5000, 105, 30},
    {13, "Oskarn Surge 8", "Oskarn Surge 8", 3600, 1, 483, 8000, 105, 30},
    {14, "Ledwick Hub 6P", "Ledwick Hub 6P", 2400, 1, 187, 4000, 120, 0},
    {15, "Ledwick Planetary 6P", "Ledwick Planetary 6P", 2400, 1, 187, 5000, 120, 0},
    {16, "Roller type P", "Roller type P", 2600, 1, 260, 4000, 120, 0},
    {17, "Tevlindor New", "Tevlindor New", 2000, 1, 170, 4000, 120, 0},
    {18, "Upstream Ctrl. Valve", "Upstream Ctrl. Valve", 0, 0, 0, 0, 0, 0},
    {19, "Self Ctrl. Valve", "Self Ctrl. Valve", 0, 0, 0, 0, 0, 0},
    {20, "Tevlindor 35W ECO", "Tevlindor 35W ECO", 2700, 1, 110, 2500, 120, 0},
    {21, "Tevlindor 50W ECO", "Tevlindor 50W ECO", 4000, 1, 140, 3000, 120, 0},
    {22, "Gear drive A", "Gear drive A", 2210, 0, 147, 4000, 100, 10},
    {23, "Gear drive B", "Gear drive B", 2200, 0, 147, 4000, 100, 10},
    {24, "Gear drive B brake", "Gear drive B brake", 2200, 0, 148, 4000, 100, 10},
    {25, "Gear drive C", "Gear drive C", 3000, 0, 149, 4000, 100, 10},
    {26, "Gear drive D", "Gear drive D", 3000, 0, 150, 4000, 100, 10},
    {27, "Brumm FE", "Brumm FE", 3000, 0, 180, 4000, 120, 0},
    {28, "Brumm FP", "Brumm FP", 4200, 0, 160, 5000, 120, 0},
    {29, "Forkane Servo", "Forkane Servo", 3600, 1, 255, 8000, 105, 30},
    {30, "Oskarn ECO +", "Oskarn-Ux ECO +", 4100, 1, 483, 4100, 105, 29},
    {31, "Oskarn Torque Limit", "Oskarn-Ux Torque Limit", 2800, 1, 483, 2800, 105, 26},
    {32, "3 A", "3 A", 3000, NA, NA, 3500, NA, NA},
    {33, "5 A", "5 A", 5000, NA, NA, 7000, NA, NA},
    {34, "7.2 A", "7.2 A", 7200, NA, NA, 9000, NA, NA},
}};
// clang-format on

namespace {

// -1 marks a column that does not apply; it matches no register value.
bool Same(int column, uint16_t reg) {
  return column != kNotApplicable && column == reg;
}

}  // namespace

std::optional<int> RecogniseDriveType(const DriveTypeRegisters& regs) {
  for (const DriveType& row : kDriveCatalogue) {
    bool match;
    if (regs.code == kCodeUserCurrentLimit) {
      // That type's current limit is the user's own: the currents say nothing about it.
      match = Same(row.classFlag, regs.classFlag) && Same(row.constant, regs.constant) &&
              Same(row.code, regs.code);
    } else {
      match = Same(row.ratedCurrent, regs.ratedCurrent) && Same(row.classFlag, regs.classFlag) &&
              Same(row.constant, regs.constant) && Same(row.maxCurrent, regs.maxCurrent) &&
              Same(row.code, regs.code);
    }
    if (match) return row.index;
  }
  for (const DriveType& row : kDriveCatalogue) {
    if (Same(row.ratedCurrent, regs.ratedCurrent) &&
        ((Same(row.classFlag, regs.classFlag) && Same(row.constant, regs.constant)) ||
         Same(row.maxCurrent, regs.maxCurrent))) {
      return row.index;
    }
  }
  return std::nullopt;
}

std::string RecognisedDriveText(const DriveTypeRegisters& regs, bool family09) {
  const std::optional<int> index = RecogniseDriveType(regs);
  if (!index) return std::string();
  return kDriveCatalogue[static_cast<size_t>(*index)].NameFor(family09);
}

int FindDriveType(std::string_view name, bool family09) {
  for (const DriveType& row : kDriveCatalogue) {
    if (name == row.NameFor(family09)) return row.index;
  }
  return -1;
}

const DriveSideRegisters& DriveRegistersOf(Side side) {
  static constexpr DriveSideRegisters kLeft{41, 59, 45, 42, 49, 95, 52, 490, 113};
  static constexpr DriveSideRegisters kRight{65, 83, 69, 66, 73, 175, 76, 492, 193};
  return side == Side::A ? kLeft : kRight;
}

RegisterPlan PlanApplyDriveType(Side side, std::string_view entryText, int listIndex,
                                bool family09) {
  RegisterPlan plan;
  const int index = FindDriveType(entryText, family09);
  if (index < 0 || index == kDriveUnknown) return plan;
  const DriveType& row = kDriveCatalogue[static_cast<size_t>(index)];
  const DriveSideRegisters& r = DriveRegistersOf(side);
  plan.readNext = side == Side::A ? RefreshGroup::LeftDrive : RefreshGroup::RightDrive;
  const auto word = [](int value) { return static_cast<uint16_t>(value); };

  if (row.IsValve()) {
    plan.steps.push_back(PlanStep::Save(r.zoneDriveType, word(listIndex)));
    return plan;
  }
  // The group save covers the current limit up to the maximum current.
  const uint16_t groupCount = word(r.maxCurrent - r.ratedCurrent + 1);
  if (row.code != kCodeUserCurrentLimit) {
    plan.steps.push_back(PlanStep::Write(r.ratedCurrent, word(row.ratedCurrent)));
    plan.steps.push_back(PlanStep::Write(r.maxCurrent, word(row.maxCurrent)));
    if (row.IsCurrentClass()) {
      plan.steps.push_back(PlanStep::SaveGroup(r.ratedCurrent, groupCount));
      return plan;
    }
  }
  plan.steps.push_back(row.code == kCodeUserCurrentLimit ? PlanStep::ShowCurrentLimit()
                                                         : PlanStep::HideCurrentLimit());
  plan.steps.push_back(PlanStep::Write(r.classFlag, word(row.classFlag)));
  plan.steps.push_back(PlanStep::Write(r.constant, word(row.constant)));
  plan.steps.push_back(PlanStep::Write(r.driveRun, 0));
  plan.steps.push_back(PlanStep::Write(r.zoneRun, 0));
  plan.steps.push_back(PlanStep::Write(r.parameter, word(row.parameter)));
  plan.steps.push_back(PlanStep::SaveGroup(r.ratedCurrent, groupCount));
  plan.steps.push_back(PlanStep::Save(r.code, word(row.code)));
  return plan;
}

// ---- Lists ------------------------------------------------------------------------------

namespace {
constexpr uint16_t kValveModule = 4;
constexpr uint8_t kZentrikVariant = 0x97;
}  // namespace

bool DriveListNeedsRefill(const ModuleKind& now, const ModuleKind& before) {
  const auto special = [](const ModuleKind& kind) {
    return kind.moduleType == kValveModule || kind.family == kFamily03 || kind.family == kFamily09;
  };
  return special(now) || special(before);
}

DriveListKind DriveListKindFor(const ModuleKind& now) {
  if (now.moduleType == kValveModule) return DriveListKind::Valves;
  if (now.family == kFamily03) return DriveListKind::Family03;
  if (now.family == kFamily09) {
    return (now.variant & 0xFF) == kZentrikVariant ? DriveListKind::Family09Zentrik
                                                   : DriveListKind::Family09;
  }
  return DriveListKind::OtherAfterRefill;
}

DriveListKind NextDriveList(const ModuleKind& now, const ModuleKind& before, DriveListKind shown) {
  return DriveListNeedsRefill(now, before) ? DriveListKindFor(now) : shown;
}

std::vector<DriveListEntry> DriveListEntries(DriveListKind kind) {
  const auto entry = [](int index, bool family09) {
    return DriveListEntry{index, kDriveCatalogue[static_cast<size_t>(index)].NameFor(family09)};
  };
  std::vector<DriveListEntry> entries;
  switch (kind) {
    case DriveListKind::WholeCatalogue:
      for (const DriveType& row : kDriveCatalogue) entries.push_back(entry(row.index, false));
      break;
    case DriveListKind::Valves:
      entries = {entry(18, false), entry(19, false)};
      break;
    case DriveListKind::Family03:
      entries = {entry(0, false), entry(9, false), entry(30, false), entry(10, false),
                 entry(11, false)};
      break;
    case DriveListKind::Family09Zentrik:
      entries = {entry(0, false), entry(32, false), entry(33, false), entry(34, false),
                 entry(11, true)};
      break;
    case DriveListKind::Family09:
      entries = {entry(0, true), entry(9, true), entry(30, true), entry(10, true), entry(11, true)};
      break;
    case DriveListKind::OtherAfterRefill:
      entries = {entry(0, false), entry(9, false), entry(10, false), entry(11, false)};
      break;
  }
  return entries;
}

std::span<const char* const> DirectionListEntries(DriveListKind kind) {
  if (kind == DriveListKind::Valves) return kValveActions;
  return kDirections;
}

}  // namespace params
