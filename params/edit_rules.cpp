#include "params/edit_rules.h"

#include "params/display_items.h"

namespace params {

namespace {

RefreshGroup DriveGroup(Side side) {
  return side == Side::A ? RefreshGroup::LeftDrive : RefreshGroup::RightDrive;
}
RefreshGroup ZoneGroup(Side side) {
  return side == Side::A ? RefreshGroup::Upstream : RefreshGroup::Downstream;
}
int Pick(Side side, int a, int b) {
  return side == Side::A ? a : b;
}

RegisterPlan Refused(std::string message) {
  RegisterPlan plan;
  plan.refusal = std::move(message);
  return plan;
}

RegisterPlan SaveOne(int reg, uint16_t value, RefreshGroup group) {
  RegisterPlan plan;
  plan.steps.push_back(PlanStep::Save(reg, value));
  plan.readNext = group;
  return plan;
}

// A converted typed value saved to one register; a refusal carries the message; a value
// without a unit here writes nothing.
RegisterPlan SaveConverted(const Conversion& conversion, int reg, RefreshGroup group) {
  if (conversion.Refused()) return Refused(conversion.refusal);
  if (!conversion.value) return RegisterPlan{};
  return SaveOne(reg, *conversion.value, group);
}

}  // namespace

RegisterPlan PlanSpeed(Side side, std::string_view typed, const ImageView& image) {
  const std::optional<SpeedUnit> unit = SpeedUnitOf(side, image);
  if (!unit) return RegisterPlan{};
  return SaveConverted(ConvertSpeed(typed, *unit), Pick(side, 40, 64), DriveGroup(side));
}

RegisterPlan PlanRamp(Side side, Ramp ramp, std::string_view typed, const ImageView& image) {
  const std::optional<RampUnit> unit = RampUnitOf(side, image);
  if (!unit) return RegisterPlan{};
  const int reg = ramp == Ramp::Acceleration ? Pick(side, 43, 67) : Pick(side, 44, 68);
  return SaveConverted(ConvertRamp(typed, ramp, *unit), reg, DriveGroup(side));
}

RegisterPlan PlanCurrentLimit(Side side, std::string_view typed) {
  return SaveConverted(ConvertCurrentLimit(typed), Pick(side, 41, 65), DriveGroup(side));
}

RegisterPlan PlanClosedLoop(Side side, bool on) {
  return SaveOne(Pick(side, 46, 70), on ? 1 : 0, DriveGroup(side));
}

RegisterPlan PlanBrakeMethod(Side side, int entry) {
  if (entry < 0 || static_cast<size_t>(entry) >= kBrakeMethods.size()) return RegisterPlan{};
  return SaveOne(Pick(side, 47, 71), static_cast<uint16_t>(entry), DriveGroup(side));
}

RegisterPlan PlanDirection(Side side, int entry, uint16_t reg96, uint16_t reg6) {
  if (entry != 0 && entry != 1) return RegisterPlan{};
  return SaveOne(Pick(side, 48, 72), DirectionRegisterValue(entry, reg96, reg6), DriveGroup(side));
}

RegisterPlan PlanValveAction(Side side, int entry) {
  if (entry != 0 && entry != 1) return RegisterPlan{};
  return SaveOne(Pick(side, 96, 176), static_cast<uint16_t>(entry), ZoneGroup(side));
}

RegisterPlan PlanZpaMode(Side side, int entry, uint16_t gapTimerRead) {
  RegisterPlan plan;
  plan.readNext = ZoneGroup(side);
  const int mode = Pick(side, 91, 171);
  const int gap = Pick(side, 103, 183);
  switch (entry) {
    case 0:
      plan.steps.push_back(PlanStep::Save(mode, 1));
      break;
    case 1:
      plan.steps.push_back(PlanStep::Save(gap, 0));
      plan.steps.push_back(PlanStep::Save(mode, 2));
      break;
    case 2:
      if (gapTimerRead == 0) plan.steps.push_back(PlanStep::Save(gap, 1000));
      plan.steps.push_back(PlanStep::Save(mode, 2));
      break;
    default:
      plan.readNext = RefreshGroup::None;
      break;
  }
  return plan;
}

RegisterPlan PlanGapTimer(Side side, std::string_view typed) {
  return SaveConverted(ConvertSeconds(typed, 1), Pick(side, 103, 183), ZoneGroup(side));
}

RegisterPlan PlanTZoneAccept(Side side, std::string_view typed, uint16_t moduleType) {
  int subKind = 1;
  if (moduleType == kTypeTransport) subKind = 2;
  if (moduleType == kTypeValves) subKind = 3;
  const int reg = kDisplayItems[item::kTZoneAccept].RegisterFor(side, moduleType);
  return SaveConverted(ConvertSeconds(typed, 2, subKind), reg, ZoneGroup(side));
}

RegisterPlan PlanNotFullStop(Side side, std::string_view typed) {
  return SaveConverted(ConvertSeconds(typed, 10), Pick(side, 101, 181), ZoneGroup(side));
}

RegisterPlan PlanInduct(Side side, std::string_view typed) {
  return SaveConverted(ConvertSeconds(typed, 11), Pick(side, 99, 179), ZoneGroup(side));
}

RegisterPlan PlanZoneCurrents(Side side, std::string_view low, std::string_view high) {
  return SaveConverted(ConvertZoneCurrents(low, high), Pick(side, 102, 182), ZoneGroup(side));
}

RegisterPlan PlanZoneOption(Side side, int itemId, bool ticked, uint16_t optionWord,
                            uint16_t moduleType) {
  if (itemId < 0 || itemId >= kDisplayItemCount) return RegisterPlan{};
  const DisplayItem& item = kDisplayItems[static_cast<size_t>(itemId)];
  if (item.display != DisplayKind::ZoneOption) return RegisterPlan{};
  if (moduleType == kTypeTransport && item.regsType3.Present()) {
    return SaveOne(item.regsType3.Of(side), ticked ? 1 : 0, ZoneGroup(side));
  }
  const uint16_t bit = item.MaskOf(side);
  const bool set = ticked != item.inverted;
  const auto word = static_cast<uint16_t>(set ? (optionWord | bit) : (optionWord & ~bit));
  return SaveOne(item.regs.Of(side), word, ZoneGroup(side));
}

RegisterPlan PlanAccumulate(Side side, uint16_t reg117) {
  RegisterPlan plan;
  plan.readNext = ZoneGroup(side);
  const int control = Pick(side, 117, 197);
  const int run = Pick(side, 95, 175);
  const auto low = static_cast<uint16_t>(reg117 & 0xFF);
  if (reg117 < 0x100) {
    plan.steps.push_back(PlanStep::Write(run, 0));
    plan.steps.push_back(PlanStep::Save(control, static_cast<uint16_t>(0x100 + low)));
  } else {
    plan.steps.push_back(PlanStep::Save(control, low));
  }
  return plan;
}

RegisterPlan PlanZoneForcedRun(Side side, uint16_t reg95, uint16_t reg117) {
  RegisterPlan plan;
  plan.readNext = ZoneGroup(side);
  const int control = Pick(side, 117, 197);
  const int run = Pick(side, 95, 175);
  if (reg95 == 0) {
    plan.steps.push_back(PlanStep::Write(control, static_cast<uint16_t>(reg117 & 0xFF)));
    plan.steps.push_back(PlanStep::Write(run, 1));
  } else {
    plan.steps.push_back(PlanStep::Write(run, 0));
  }
  return plan;
}

RegisterPlan PlanDriveRun(Side side, uint16_t moduleType, const ImageView& image) {
  if (moduleType == kTypeValves) {
    return PlanZoneForcedRun(side, image[Pick(side, 95, 175)], image[Pick(side, 117, 197)]);
  }
  RegisterPlan plan;
  plan.readNext = DriveGroup(side);
  const int run = Pick(side, 49, 73);
  plan.steps.push_back(PlanStep::Write(run, image[run] == 0 ? 1 : 0));
  return plan;
}

RegisterPlan PlanJamClear(Side side) {
  RegisterPlan plan;
  plan.readNext = ZoneGroup(side);
  plan.steps.push_back(PlanStep::Write(Pick(side, 109, 189), 1));
  plan.steps.push_back(PlanStep::Pause(50));
  plan.steps.push_back(PlanStep::Read(Pick(side, 108, 188)));
  return plan;
}

RegisterPlan PlanBlink(uint16_t reg19Read) {
  RegisterPlan plan;
  plan.steps.push_back(PlanStep::Write(19, static_cast<uint16_t>(reg19Read ^ 0x0001)));
  return plan;
}

}  // namespace params
