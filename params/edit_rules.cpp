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
  return SaveConverted(ConvertSpeed(typed, *unit), RegisterOf(item::kSpeed, side),
                       DriveGroup(side));
}

RegisterPlan PlanRamp(Side side, Ramp ramp, std::string_view typed, const ImageView& image) {
  const std::optional<RampUnit> unit = RampUnitOf(side, image);
  if (!unit) return RegisterPlan{};
  const int reg =
      RegisterOf(ramp == Ramp::Acceleration ? item::kAcceleration : item::kDeceleration, side);
  return SaveConverted(ConvertRamp(typed, ramp, *unit), reg, DriveGroup(side));
}

RegisterPlan PlanCurrentLimit(Side side, std::string_view typed) {
  return SaveConverted(ConvertCurrentLimit(typed), RegisterOf(item::kCurrentLimit, side),
                       DriveGroup(side));
}

RegisterPlan PlanClosedLoop(Side side, bool on) {
  return SaveOne(RegisterOf(item::kClosedLoop, side), on ? 1 : 0, DriveGroup(side));
}

RegisterPlan PlanBrakeMethod(Side side, int entry) {
  if (entry < 0 || static_cast<size_t>(entry) >= kBrakeMethods.size()) return RegisterPlan{};
  return SaveOne(RegisterOf(item::kBrake, side), static_cast<uint16_t>(entry), DriveGroup(side));
}

RegisterPlan PlanDirection(Side side, int entry, uint16_t reg96, uint16_t reg6) {
  if (entry != 0 && entry != 1) return RegisterPlan{};
  return SaveOne(RegisterOf(item::kDirection, side), DirectionRegisterValue(entry, reg96, reg6),
                 DriveGroup(side));
}

RegisterPlan PlanValveAction(Side side, int entry) {
  if (entry != 0 && entry != 1) return RegisterPlan{};
  return SaveOne(kDisplayItems[item::kDirection].regsType4.Of(side), static_cast<uint16_t>(entry),
                 ZoneGroup(side));
}

RegisterPlan PlanZpaMode(Side side, int entry, uint16_t gapTimerRead) {
  RegisterPlan plan;
  plan.readNext = ZoneGroup(side);
  const int mode = RegisterOf(item::kZpaMode, side);
  const int gap = RegisterOf(item::kGapTimer, side);
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
  return SaveConverted(ConvertSeconds(typed, CheckKind::GapTimer),
                       RegisterOf(item::kGapTimer, side), ZoneGroup(side));
}

RegisterPlan PlanTZoneAccept(Side side, std::string_view typed, uint16_t moduleType) {
  int subKind = 1;
  if (moduleType == kTypeTransport) subKind = 2;
  if (moduleType == kTypeValves) subKind = 3;
  const int reg = kDisplayItems[item::kTZoneAccept].RegisterFor(side, moduleType);
  return SaveConverted(ConvertSeconds(typed, CheckKind::TZoneAccept, subKind), reg,
                       ZoneGroup(side));
}

RegisterPlan PlanNotFullStop(Side side, std::string_view typed) {
  return SaveConverted(ConvertSeconds(typed, CheckKind::NotFullStop),
                       RegisterOf(item::kNotFullStop, side), ZoneGroup(side));
}

RegisterPlan PlanInduct(Side side, std::string_view typed) {
  return SaveConverted(ConvertSeconds(typed, CheckKind::Induct), RegisterOf(item::kInduct, side),
                       ZoneGroup(side));
}

RegisterPlan PlanZoneCurrents(Side side, std::string_view low, std::string_view high) {
  return SaveConverted(ConvertZoneCurrents(low, high), RegisterOf(item::kLowCurrent, side),
                       ZoneGroup(side));
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

RegisterPlan PlanField(const DisplayItem& item, Side side, const FieldInput& input,
                       const ImageView& image, const ShowState& shown, const ModuleRead& read) {
  const uint16_t type = image.ModuleType();
  const size_t s = static_cast<size_t>(side);
  const auto& aux = side == Side::A ? item.auxA : item.auxB;
  switch (item.id) {
    case item::kSpeed:
      return PlanSpeed(side, input.typed, image);
    case item::kAcceleration:
      return PlanRamp(side, Ramp::Acceleration, input.typed, image);
    case item::kDeceleration:
      return PlanRamp(side, Ramp::Deceleration, input.typed, image);
    case item::kCurrentLimit:
      return PlanCurrentLimit(side, input.typed);
    case item::kGapTimer:
      return PlanGapTimer(side, input.typed);
    case item::kTZoneAccept:
      return PlanTZoneAccept(side, input.typed, type);
    case item::kNotFullStop:
      return PlanNotFullStop(side, input.typed);
    case item::kInduct:
      return PlanInduct(side, input.typed);
    case item::kLowCurrent:
    case item::kHighCurrent:
      return PlanZoneCurrents(side, input.typed, input.secondTyped);
    case item::kDriveType: {
      const auto entries = DriveListEntries(shown.driveList[s]);
      if (input.entry < 0 || static_cast<size_t>(input.entry) >= entries.size()) return {};
      return PlanApplyDriveType(side, entries[static_cast<size_t>(input.entry)].text, input.entry,
                                image.Family() == kFamily09);
    }
    case item::kBrake:
      return PlanBrakeMethod(side, input.entry);
    case item::kClosedLoop:
      return PlanClosedLoop(side, input.ticked);
    case item::kDirection: {
      if (type == kTypeValves) return PlanValveAction(side, input.entry);
      // The exchange rule's registers, read in the table's order (96 first).
      const uint16_t reg96 = read(aux[0]);
      const uint16_t reg6 = read(aux[1]);
      return PlanDirection(side, input.entry, reg96, reg6);
    }
    case item::kZpaMode: {
      const uint16_t gap = ZpaModeNeedsGapRead(input.entry) ? read(aux[0]) : 0;
      return PlanZpaMode(side, input.entry, gap);
    }
    default:
      if (item.display == DisplayKind::ZoneOption) {
        return PlanZoneOption(side, item.id, input.ticked, image[item.regs.Of(side)], type);
      }
      return {};
  }
}

RegisterPlan PlanAccumulate(Side side, uint16_t reg117) {
  RegisterPlan plan;
  plan.readNext = ZoneGroup(side);
  const int control = RegisterOf(item::kAccumulate, side);
  const int run = RegisterOf(item::kZoneRun, side);
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
  const int control = RegisterOf(item::kAccumulate, side);
  const int run = RegisterOf(item::kZoneRun, side);
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
    return PlanZoneForcedRun(side, image[RegisterOf(item::kZoneRun, side)],
                             image[RegisterOf(item::kAccumulate, side)]);
  }
  RegisterPlan plan;
  plan.readNext = DriveGroup(side);
  const int run = RegisterOf(item::kDriveRun, side);
  plan.steps.push_back(PlanStep::Write(run, image[run] == 0 ? 1 : 0));
  return plan;
}

RegisterPlan PlanJamClear(Side side) {
  RegisterPlan plan;
  plan.readNext = ZoneGroup(side);
  plan.steps.push_back(PlanStep::Write(Pick(side, 109, 189), 1));
  plan.steps.push_back(PlanStep::Pause(50));
  plan.steps.push_back(PlanStep::Read(RegisterOf(item::kJam, side)));
  return plan;
}

RegisterPlan PlanBlink(uint16_t reg19Read) {
  RegisterPlan plan;
  plan.steps.push_back(PlanStep::Write(19, static_cast<uint16_t>(reg19Read ^ 0x0001)));
  return plan;
}

}  // namespace params
