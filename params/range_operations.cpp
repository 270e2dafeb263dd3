#include "params/range_operations.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <limits>

#include "base/format.h"
#include "base/remaining_time.h"
#include "comm/blocking_socket.h"
#include "comm/event_log.h"
#include "params/drive_catalogue.h"
#include "params/edit_rules.h"
#include "params/node_screen_controller.h"
#include "params/register_map.h"
#include "params/units.h"

namespace params {

namespace {

using base::PromptAnswer;
using base::PromptButtons;
using base::PromptIcon;

std::string NumberList(const std::vector<int>& nodes) {
  std::string text;
  for (int node : nodes) {
    if (!text.empty()) text += ", ";
    text += base::Format("%d", node);
  }
  return text;
}

// A private copy of the shown module's image: the screen's own image changes as soon as the
// loop reads from the targets.
class ImageCopy {
 public:
  explicit ImageCopy(const ImageView& image) {
    for (int reg = 0; reg < kImageWords; ++reg) words_[static_cast<size_t>(reg)] = image.Raw(reg);
  }
  ImageView View() const { return ImageView(ImageSpan(words_)); }
  // Stores `value` where View()[reg] reads it.
  void Set(int reg, uint16_t value) {
    if (View().Mirrored()) reg = static_cast<int>(MirrorMap::Map(static_cast<uint32_t>(reg)));
    if (reg >= 0 && reg < kImageWords) words_[static_cast<size_t>(reg)] = value;
  }

 private:
  std::array<uint16_t, kImageWords> words_{};
};

bool InSetAllScope(SetAllScope scope, uint16_t moduleType) {
  const bool transport = moduleType == kTypeTransport;
  switch (scope) {
    case SetAllScope::None:
      return false;
    case SetAllScope::AnyModule:
      return true;
    case SetAllScope::TransportOnly:
      return transport;
    case SetAllScope::TransportOrValves:
      return transport || moduleType == kTypeValves;
    case SetAllScope::NotTransport:
      return !transport;
  }
  return false;
}

void Warn(RangeContext& context, const std::string& text) {
  context.prompt.Tell(text, kRangeCaption, PromptIcon::Warning);
}

// An operation that stopped before its loop: the cycle goes on when the screen is still
// connected (otherwise the screen would sit connected but silent until the user acts).
void ResumeAfterStop(RangeContext& context) {
  if (context.screen.Connected()) context.screen.ResumeRefresh();
}

RangeOutcome Refuse(RangeContext& context, const std::string& message, bool beep = false) {
  RangeOutcome outcome;
  outcome.refusal = message;
  if (beep) context.prompt.Beep();
  Warn(context, message);
  ResumeAfterStop(context);
  return outcome;
}

// After the last node: status cleared, disconnected, and the From node again (which re-reads
// it and restarts the cycle).
void FinishRange(RangeContext& context, int from) {
  context.progress.SetText(std::string());
  context.screen.EnterDisconnected();
  context.screen.ChangeToNode(from);
}

enum class NodeResult {
  Done,
  Lost,      // a register operation failed: reported together at the end
  Reported,  // failed, and the work has told the user already
};

struct LoopOptions {
  const char* operation = "";  // the handler named in the log
  const char* status = kNodeStatus;
  bool connect = true;         // the common step connects to each node first
  bool stopOnFailure = false;  // ZPA / DTA: the first failure ends the loop
};

// The common per-node step: status text, connect (with the screen's ping), the node's work,
// disconnect. Nodes whose connection was lost during their work are reported together at the
// end.
template <typename Work>
void ForEachNode(RangeContext& context, int from, int to, const LoopOptions& options,
                 RangeOutcome& outcome, Work work) {
  RangeScreen& screen = context.screen;
  outcome.ran = true;
  std::vector<std::string> lost;
  context.progress.SetRange(to - from + 1);
  for (int node = from; node <= to; ++node) {
    if (context.progress.Cancelled()) {
      outcome.cancelled = true;
      break;
    }
    context.progress.SetPosition(node - from);
    context.progress.SetText(base::Format(options.status, node));
    if (options.connect && !screen.ConnectNode(node)) {
      outcome.failed.push_back(node);
      if (options.stopOnFailure) break;
      continue;
    }
    NodeResult result = NodeResult::Done;
    try {
      result = work(node);
    } catch (const CBlockingSocketException& error) {
      LogError("CMRegDlg::%s - %s", options.operation, error.GetErrorMessage().c_str());
      result = NodeResult::Lost;
    }
    if (options.connect) screen.EnterDisconnected();
    if (result == NodeResult::Done) {
      outcome.done.push_back(node);
      continue;
    }
    outcome.failed.push_back(node);
    if (result == NodeResult::Lost) lost.push_back(screen.NodeAddress(node));
    if (options.stopOnFailure) break;
  }
  context.progress.SetPosition(to - from + 1);
  for (const std::string& address : lost) {
    LogError("CMRegDlg::%s - Connection to the module \"%s\" is lost !", options.operation,
             address.c_str());
  }
  if (!lost.empty()) {
    std::string addresses;
    for (const std::string& address : lost) addresses += (addresses.empty() ? "" : ", ") + address;
    Warn(context, base::Format(kConnectionLost, addresses.c_str()));
  }
}

// The drive registers change sides on a reversed module; the image still holds the shown
// module's register 6, so read the target's own before writing drive registers to it.
void FollowTargetOrientation(RangeScreen& screen) {
  screen.ReadOne(6);
}

// A typed value that no check covers on this layout still has to fit a register (F12).
Conversion ConvertUnchecked(const std::string& typed, double factor) {
  return ConvertTyped(typed, factor, CheckKind::NoCheck, 0);
}

bool Blank(const std::string& text) {
  return text.find_first_not_of(" \t") == std::string::npos;
}

// A field the layout hides shows nothing; the copy then takes the shown module's own value
// (already in register units), under the same check.
Conversion ShownValue(uint16_t value, bool checked, CheckKind kind, int subKind) {
  if (checked) {
    if (const auto refusal = CheckInput(kind, subKind, value)) return Conversion{{}, *refusal};
  }
  return Conversion{value, std::string()};
}

}  // namespace

// ---- range -----------------------------------------------------------------------------

int NodeRange::From() const {
  return FieldNumber(fromText);
}
int NodeRange::To() const {
  return FieldNumber(toText);
}
bool NodeRange::ToEmpty() const {
  return toText.find_first_not_of(" \t") == std::string::npos;
}

// ---- SetAll of one field -----------------------------------------------------------------

RangeOutcome SetAllField(RangeContext& context, const NodeRange& range, const FieldSetAll& field) {
  RangeScreen& screen = context.screen;
  RangeOutcome outcome;
  if (!screen.Connected()) return outcome;
  const int from = range.From();
  const int to = range.To();
  const std::string question = base::Format(kSetAllFieldQuestion, screen.NodeAddress(from).c_str(),
                                            screen.NodeAddress(to).c_str());
  if (context.prompt.Ask(question, kRangeCaption, PromptButtons::YesNo, PromptIcon::Question) !=
      PromptAnswer::Yes) {
    return outcome;
  }
  screen.StopRefresh();
  if (const auto refusal = CheckNodeRange(from, to)) {
    outcome.refusal = *refusal;
    Warn(context, *refusal);
    screen.EnterDisconnected();
    return outcome;
  }

  // Everything is decided from the module shown when the command was given.
  const ImageCopy copy(screen.Image());
  const ImageView source = copy.View();
  const ShowState shown = screen.Shown();
  const uint16_t type = source.ModuleType();
  const Side side = field.side;

  // What SetAll writes comes from the field's row: the modules it reaches, the item written
  // instead on a transport module, and the field's own Set on every node.
  const DisplayItem* target = &DisplayItemById(field.itemId);
  FieldInput input{field.typed, field.secondTyped, field.entry, field.ticked};
  if (!InSetAllScope(target->setAll, type)) target = nullptr;
  if (target != nullptr && type == kTypeTransport && target->setAllOnTransport >= 0) {
    target = &DisplayItemById(target->setAllOnTransport);
    input = FieldInput{field.secondTyped, std::string(), -1, false};
  }
  // Values are converted and checked once, before the first node. Plans that need a pre-read
  // are made per node; their typed values (none today) would be checked there.
  const bool perNode = target != nullptr && (target->preRead != PreRead::None ||
                                             target->display == DisplayKind::ZoneOption);
  RegisterPlan fixed;
  if (target != nullptr && !perNode) {
    fixed = PlanField(*target, side, input, source, shown, [](int) -> uint16_t { return 0; });
  }
  // "Blocklückenabzug" takes the GAP timer typed beside it too.
  RegisterPlan gapAfterMode;
  const bool withGap =
      target != nullptr && target->id == item::kZpaMode && ZpaModeNeedsGapRead(field.entry);
  if (withGap) gapAfterMode = PlanGapTimer(side, field.typed);
  const std::string refusal = fixed.Refused() ? fixed.refusal : gapAfterMode.refusal;
  if (!refusal.empty()) return Refuse(context, refusal);

  const LoopOptions options{"OnButtonSetAll", kNodeStatus, true, false};
  ForEachNode(context, from, to, options, outcome, [&](int) {
    if (target == nullptr) return NodeResult::Done;
    // The drive registers change sides on a reversed module.
    if (target->group == ItemGroup::Drive) FollowTargetOrientation(screen);
    RegisterPlan plan = fixed;
    if (perNode) {
      // A zone option changes one bit of the node's own option word.
      ImageCopy nodeImage(source);
      if (target->display == DisplayKind::ZoneOption) {
        const int word = target->regs.Of(side);
        nodeImage.Set(word, screen.ReadOne(word));
      }
      plan = PlanField(*target, side, input, nodeImage.View(), shown,
                       [&](int reg) { return screen.ReadOne(reg); });
    }
    bool ok = screen.RunPlan(plan);
    if (withGap) ok = screen.RunPlan(gapAfterMode) && ok;
    return ok ? NodeResult::Done : NodeResult::Lost;
  });
  FinishRange(context, from);
  return outcome;
}

FieldSetAll ReadFieldForSetAll(int itemId, Side side, const ScreenFieldReader& fields) {
  FieldSetAll field;
  field.itemId = itemId;
  field.side = side;
  const auto text = [&](int id) { return fields.text ? fields.text(id, side) : std::string(); };
  switch (itemId) {
    case item::kZpaMode:
      field.entry = fields.entry ? fields.entry(itemId, side) : -1;
      field.typed = text(item::kGapTimer);
      field.secondTyped = text(item::kNotFullStop);
      break;
    case item::kLowCurrent:
    case item::kHighCurrent:
      field.typed = text(item::kLowCurrent);
      field.secondTyped = text(item::kHighCurrent);
      break;
    case item::kDriveType:
    case item::kBrake:
    case item::kDirection:
      field.entry = fields.entry ? fields.entry(itemId, side) : -1;
      break;
    case item::kClosedLoop:
    case item::kDynamicReleaseTermination:
      field.ticked = fields.ticked && fields.ticked(itemId, side);
      break;
    default:
      field.typed = text(itemId);
      break;
  }
  return field;
}

// ---- Set All ---------------------------------------------------------------------------

namespace {

struct DriveCopy {
  std::optional<uint16_t> speed, acceleration, deceleration;
  int direction = -1;  // the entry the direction list shows
  uint16_t current = 0, flag = 0, constant = 0, maxCurrent = 0, parameter = 0, brake = 0,
           closedLoop = 0, typeIndex = 0;
};

struct ZoneCopy {
  uint16_t mode = 0, options = 0;
  std::optional<uint16_t> gap, tZone;
};

bool LayoutIn(int layout, std::initializer_list<int> codes) {
  for (int code : codes) {
    if (layout == code) return true;
  }
  return false;
}

}  // namespace

RangeOutcome SetAllModule(RangeContext& context, const NodeRange& range, const SetAllTyped& typed) {
  RangeScreen& screen = context.screen;
  RangeOutcome outcome;
  if (!screen.Connected()) return outcome;
  const int from = range.From();
  const int to = range.To();
  screen.StopRefresh();
  if (const auto refusal = CheckNodeRange(from, to)) return Refuse(context, *refusal);

  const uint16_t shownType = screen.Image().ModuleType();
  if (shownType == kTypeTransport) return Refuse(context, kTransportRefusal, true);
  if (shownType == kTypeValves) return Refuse(context, kPneumaticRefusal, true);

  // The source module's drive, zone and counter blocks, fresh.
  try {
    screen.ReadBlock(40, 20);
    screen.ReadBlock(64, 20);
    screen.ReadBlock(90, 28);
    screen.ReadBlock(170, 28);
    screen.ReadBlock(280, 8);
  } catch (const CBlockingSocketException& error) {
    const std::string address = screen.NodeAddress(screen.CurrentNode());
    LogError("CMRegDlg::OnButtonSetAll - %s", error.GetErrorMessage().c_str());
    outcome.refusal = base::Format(kConnectionLost, address.c_str());
    Warn(context, outcome.refusal);
    screen.EnterDisconnected();
    return outcome;
  }
  const ImageCopy copy(screen.Image());
  const ImageView source = copy.View();
  const ShowState shown = screen.Shown();

  const uint16_t zoneA = source[90];
  const uint16_t zoneB = source[170];
  if (zoneA == 0 && zoneB == 0) return Refuse(context, kUnusedZonesStop);
  bool listWithoutSelection = false;
  for (int id : {item::kDriveType, item::kBrake, item::kDirection, item::kZpaMode}) {
    for (Side side : {Side::A, Side::B}) {
      if (ShowItem(DisplayItemById(id), side, source, shown).listIndex < 0) {
        listWithoutSelection = true;
      }
    }
  }
  if (listWithoutSelection && zoneA != 0 && zoneB != 0) {
    if (context.prompt.Ask(kUnusedZonesQuestion, kRangeCaption, PromptButtons::YesNo,
                           PromptIcon::Warning) != PromptAnswer::Yes) {
      ResumeAfterStop(context);
      return outcome;
    }
  }

  // The values to copy, converted and checked by the layout once.
  const int layout = LayoutCode(source);
  std::array<DriveCopy, 2> drives;
  std::array<ZoneCopy, 2> zones;
  std::string refusal;
  const auto take = [&refusal](const Conversion& conversion, std::optional<uint16_t>& into) {
    if (!refusal.empty()) return;
    if (conversion.Refused()) {
      refusal = conversion.refusal;
      return;
    }
    into = conversion.value;
  };
  for (Side side : {Side::A, Side::B}) {
    const size_t s = static_cast<size_t>(side);
    DriveCopy& drive = drives[s];
    const bool checked =
        side == Side::A ? LayoutIn(layout, {1, 4, 6, 7}) : LayoutIn(layout, {1, 5, 6, 7});
    if (const auto unit = SpeedUnitOf(side, source)) {
      const std::string& text = typed.speed[s];
      take(Blank(text) ? ShownValue(source[RegisterOf(item::kSpeed, side)], checked,
                                    CheckKind::Speed, SpeedSubKind(*unit))
           : checked   ? ConvertSpeed(text, *unit)
                       : ConvertUnchecked(text, SpeedFactor(*unit)),
           drive.speed);
    }
    if (const auto unit = RampUnitOf(side, source)) {
      const double factor = *unit == RampUnit::Seconds ? 1000.0 : 1.0;
      const int subKind = RampSubKind(*unit);
      const std::string& accel = typed.acceleration[s];
      const std::string& decel = typed.deceleration[s];
      take(Blank(accel) ? ShownValue(source[RegisterOf(item::kAcceleration, side)], checked,
                                     CheckKind::Acceleration, subKind)
           : checked    ? ConvertRamp(accel, Ramp::Acceleration, *unit)
                        : ConvertUnchecked(accel, factor),
           drive.acceleration);
      take(Blank(decel) ? ShownValue(source[RegisterOf(item::kDeceleration, side)], checked,
                                     CheckKind::Deceleration, subKind)
           : checked    ? ConvertRamp(decel, Ramp::Deceleration, *unit)
                        : ConvertUnchecked(decel, factor),
           drive.deceleration);
    }
    drive.direction = ShowItem(DisplayItemById(item::kDirection), side, source, shown).listIndex;
    drive.current = source[AuxRegisterOf(item::kDriveType, side, 1)];
    drive.flag = source[AuxRegisterOf(item::kDriveType, side, 0)];
    drive.constant = source[AuxRegisterOf(item::kDriveType, side, 2)];
    drive.maxCurrent = source[AuxRegisterOf(item::kDriveType, side, 3)];
    drive.parameter = source[Pick(side, 52, 76)];
    drive.brake = source[RegisterOf(item::kBrake, side)];
    drive.closedLoop = source[RegisterOf(item::kClosedLoop, side)];
    drive.typeIndex = source[AuxRegisterOf(item::kDriveType, side, 4)];
  }
  for (Side side : {Side::A, Side::B}) {
    const size_t s = static_cast<size_t>(side);
    ZoneCopy& zone = zones[s];
    const bool checked = side == Side::A || LayoutIn(layout, {4, 5, 6, 7});
    const std::string& gap = typed.gapTimer[s];
    const std::string& tZone = typed.tZoneAccept[s];
    take(Blank(gap) ? ShownValue(source[RegisterOf(item::kGapTimer, side)], checked,
                                 CheckKind::GapTimer, 0)
         : checked  ? ConvertSeconds(gap, CheckKind::GapTimer)
                    : ConvertUnchecked(gap, 1000),
         zone.gap);
    take(Blank(tZone) ? ShownValue(source[RegisterOf(item::kTZoneAccept, side)], checked,
                                   CheckKind::TZoneAccept, 1)
         : checked    ? ConvertSeconds(tZone, CheckKind::TZoneAccept, 1)
                      : ConvertUnchecked(tZone, 1000),
         zone.tZone);
    zone.mode = source[RegisterOf(item::kZpaMode, side)];
    zone.options = source[RegisterOf(item::kDynamicReleaseTermination, side)];
  }
  if (!refusal.empty()) return Refuse(context, refusal);

  // A layout with one drive copies that drive to both sides.
  if (layout == 5) drives[0] = drives[1];
  if (layout == 4) {
    drives[1] = drives[0];
    zones[1] = zones[0];
  }
  if (LayoutIn(layout, {5, 6, 7})) {
    zones[1].mode = zones[0].mode;
    zones[1].options = zones[0].options;
    zones[1].gap = zones[0].gap;
  }

  const LoopOptions options{"OnButtonSetAll", kNodeStatus, true, false};
  ForEachNode(context, from, to, options, outcome, [&](int) {
    const uint16_t reg96 = screen.ReadOne(96);
    const uint16_t reg6 = screen.ReadOne(6);
    RegisterPlan plan;
    const auto write = [&plan](int reg, std::optional<uint16_t> value) {
      if (value) plan.steps.push_back(PlanStep::Write(reg, *value));
    };
    for (Side side : {Side::A, Side::B}) {
      const DriveCopy& drive = drives[static_cast<size_t>(side)];
      write(RegisterOf(item::kSpeed, side), drive.speed);
      write(RegisterOf(item::kAcceleration, side), drive.acceleration);
      write(RegisterOf(item::kDeceleration, side), drive.deceleration);
      if (drive.direction == 0 || drive.direction == 1) {
        write(RegisterOf(item::kDirection, side),
              DirectionRegisterValue(drive.direction, reg96, reg6));
      }
    }
    const DriveCopy& left = drives[0];
    const DriveCopy& right = drives[1];
    for (const auto& [reg, value] :
         std::initializer_list<std::pair<int, uint16_t>>{{45, left.flag},
                                                         {41, left.current},
                                                         {42, left.constant},
                                                         {52, left.parameter},
                                                         {59, left.maxCurrent},
                                                         {69, right.flag},
                                                         {65, right.current},
                                                         {66, right.constant},
                                                         {76, right.parameter},
                                                         {83, right.maxCurrent},
                                                         {47, left.brake},
                                                         {71, right.brake},
                                                         {46, left.closedLoop},
                                                         {70, right.closedLoop}}) {
      plan.steps.push_back(PlanStep::Write(reg, value));
    }
    plan.steps.push_back(PlanStep::SaveGroup(40, 44));
    const auto save = [&plan](int reg, std::optional<uint16_t> value) {
      if (value) plan.steps.push_back(PlanStep::Save(reg, *value));
    };
    save(490, left.typeIndex);
    save(492, right.typeIndex);
    save(91, zones[0].mode);
    save(171, zones[1].mode);
    save(94, zones[0].options);
    save(174, zones[1].options);
    save(103, zones[0].gap);
    save(183, zones[1].gap);
    return screen.RunPlan(plan) ? NodeResult::Done : NodeResult::Lost;
  });
  FinishRange(context, from);
  return outcome;
}

SetAllTyped ReadTypedForSetAll(const ScreenFieldReader& fields) {
  SetAllTyped typed;
  if (!fields.text) return typed;
  for (Side side : {Side::A, Side::B}) {
    const size_t s = static_cast<size_t>(side);
    typed.speed[s] = fields.text(item::kSpeed, side);
    typed.acceleration[s] = fields.text(item::kAcceleration, side);
    typed.deceleration[s] = fields.text(item::kDeceleration, side);
    typed.gapTimer[s] = fields.text(item::kGapTimer, side);
    typed.tZoneAccept[s] = fields.text(item::kTZoneAccept, side);
  }
  return typed;
}

// ---- ZPA / DTA -------------------------------------------------------------------------

bool ConvertZoneLogicLeavingModuleUnchanged(RangeScreen&, ZoneLogic, std::string*) {
  return true;
}

RangeOutcome ZpaDtaSelected(RangeContext& context, const NodeRange& range, int entry,
                            const ZoneLogicConversion& convert) {
  RangeScreen& screen = context.screen;
  RangeOutcome outcome;
  if (!screen.Connected()) {
    outcome.clearSelection = true;
    return outcome;
  }
  if (entry < 0 || static_cast<size_t>(entry) >= kZpaDtaEntries.size()) return outcome;
  const int from = range.From();
  const auto conversionFailed = [&](const std::string& error, const std::string& address) {
    LogError("CMRegDlg::OnCbnSelchangeComboDta - %s", error.c_str());
    Warn(context, base::Format(kConnectionLost, address.c_str()));
  };

  if (entry == 0 || entry == 1) {
    const ZoneLogic target = entry == 0 ? ZoneLogic::Zpa : ZoneLogic::Dta;
    const bool isDta = screen.Image().ModuleType() == kTypeDta;
    if ((target == ZoneLogic::Dta) == isDta) return outcome;  // already of that kind
    screen.StopRefresh();
    std::string error;
    outcome.ran = true;
    const int node = screen.CurrentNode();
    if (convert(screen, target, &error)) {
      outcome.done.push_back(node);
    } else {
      outcome.failed.push_back(node);
      conversionFailed(error, screen.NodeAddress(node));
    }
    FinishRange(context, from);
    return outcome;
  }

  const ZoneLogic target = entry == 2 ? ZoneLogic::Zpa : ZoneLogic::Dta;
  const int to = range.To();
  screen.StopRefresh();
  if (const auto refusal = CheckNodeRange(from, to)) return Refuse(context, *refusal);
  const LoopOptions options{"OnCbnSelchangeComboDta", kZpaDtaNodeStatus, true, true};
  ForEachNode(context, from, to, options, outcome, [&](int node) {
    try {
      screen.ReadBlock(17, 2);
    } catch (const CBlockingSocketException& error) {
      conversionFailed(error.GetErrorMessage(), screen.NodeAddress(node));
      return NodeResult::Reported;
    }
    const ImageView image = screen.Image();
    const uint16_t type = image[18];
    const uint8_t family = static_cast<uint8_t>(image[17] >> 8);
    if (family == kFamilyDriveController || (type >= 1 && type <= 7)) return NodeResult::Done;
    const bool isDta = type == kTypeDta;
    if ((target == ZoneLogic::Dta) == isDta) return NodeResult::Done;
    std::string error;
    if (convert(screen, target, &error)) return NodeResult::Done;
    conversionFailed(error, screen.NodeAddress(node));
    return NodeResult::Reported;
  });
  FinishRange(context, from);
  return outcome;
}

// ---- Format Flash ----------------------------------------------------------------------

const std::array<DriveDefault, 13> kDriveDefaults{{{40, 64, 1000, 1000},
                                                   {41, 65, 3200, 3200},
                                                   {45, 69, 1, 1},
                                                   {42, 66, 430, 430},
                                                   {43, 67, 50, 30},
                                                   {44, 68, 50, 30},
                                                   {46, 70, 0, 0},
                                                   {47, 71, 0, 0},
                                                   {48, 72, 0, 0},
                                                   {95, 175, 0, 0},
                                                   {50, 74, 5, 5},
                                                   {51, 75, 0xFFFF, 0xFFFF},
                                                   {52, 76, 130, 130}}};

// Check kind 0 of the From node alone; a refusal is shown and kept in the outcome.
static bool RefusedFromNode(RangeContext& context, int from, RangeOutcome& outcome) {
  const auto refusal = CheckNodeNumber(from);
  if (!refusal) return false;
  outcome.refusal = *refusal;
  Warn(context, *refusal);
  return true;
}

RangeOutcome FormatFlash(RangeContext& context, const NodeRange& range,
                         const FormatOptions& options) {
  RangeScreen& screen = context.screen;
  RangeOutcome outcome;
  const int from = range.From();
  if (RefusedFromNode(context, from, outcome)) return outcome;
  int to = from;
  std::string question;
  if (range.ToEmpty()) {
    question = base::Format(kFormatSingleQuestion, from);
  } else {
    to = range.To();
    if (const auto refusal = CheckNodeRange(from, to)) {
      outcome.refusal = *refusal;
      Warn(context, *refusal);
      return outcome;
    }
    question = base::Format(kFormatRangeQuestion, from, to);
  }
  if (context.prompt.Ask(question, kFormatCaption, PromptButtons::YesNo, PromptIcon::Question) !=
      PromptAnswer::Yes) {
    return outcome;
  }
  screen.StopRefresh();

  std::vector<int> notFormatted;
  const LoopOptions loop{"FormatFlash", kNodeStatus, true, false};
  ForEachNode(context, from, to, loop, outcome, [&](int node) {
    FollowTargetOrientation(screen);
    if (!screen.WriteOne(reg::kCommand, reg::kFormatCommand)) return NodeResult::Lost;
    // The module clears 251 when it has cleared and saved everything; never wait unbounded.
    const uint32_t start = screen.Tick();
    bool formatted = false;
    for (;;) {
      try {
        if (screen.ReadOne(reg::kCommand) == 0) {
          formatted = true;
          break;
        }
      } catch (const CBlockingSocketException&) {
        // busy writing its flash; ask again until the limit
      }
      if (screen.Tick() - start >= options.limitMs) break;
      screen.Pause(options.pollMs);
    }
    if (!formatted) {
      LogError("CMRegDlg::FormatFlash - register 251 of node %d did not return to 0 within %u ms",
               node, options.limitMs);
      notFormatted.push_back(node);
      return NodeResult::Reported;
    }
    // The drive defaults, right drive first.
    RegisterPlan plan;
    for (const DriveDefault& entry : kDriveDefaults) {
      plan.steps.push_back(PlanStep::Write(entry.right, entry.rightValue));
    }
    for (const DriveDefault& entry : kDriveDefaults) {
      plan.steps.push_back(PlanStep::Write(entry.left, entry.leftValue));
    }
    plan.steps.push_back(PlanStep::SaveGroup(40, 13));
    plan.steps.push_back(PlanStep::SaveGroup(64, 13));
    return screen.RunPlan(plan) ? NodeResult::Done : NodeResult::Lost;
  });
  if (!notFormatted.empty()) {
    context.prompt.Tell(base::Format(kFormatFailed, NumberList(notFormatted).c_str()),
                        kFormatCaption, PromptIcon::Error);
  }
  FinishRange(context, from);
  return outcome;
}

// ---- Debugging -------------------------------------------------------------------------

bool DebugFlags::On(int node) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return node >= 0 && static_cast<size_t>(node) < flags_.size() &&
         flags_[static_cast<size_t>(node)];
}

void DebugFlags::Set(int node, bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (node >= 0 && static_cast<size_t>(node) < flags_.size())
    flags_[static_cast<size_t>(node)] = on;
}

std::vector<int> DebugFlags::NodesOn() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<int> nodes;
  for (size_t node = 0; node < flags_.size(); ++node) {
    if (flags_[node]) nodes.push_back(static_cast<int>(node));
  }
  return nodes;
}

std::optional<std::array<uint16_t, 2>> DebugAddressRegisters(const std::string& ipText) {
  in_addr parsed{};
  if (inet_pton(AF_INET, ipText.c_str(), &parsed) != 1) return std::nullopt;
  const uint32_t host = ntohl(parsed.s_addr);
  return std::array<uint16_t, 2>{static_cast<uint16_t>(host >> 16),
                                 static_cast<uint16_t>(host & 0xFFFF)};
}

RangeOutcome Debugging(RangeContext& context, const NodeRange& range, DebugFlags& flags) {
  RangeScreen& screen = context.screen;
  RangeOutcome outcome;
  const int from = range.From();
  if (RefusedFromNode(context, from, outcome)) return outcome;
  // An empty To field means the From node alone.
  const int to = range.ToEmpty() ? from : range.To();
  if (const auto refusal = CheckNodeRange(from, to)) {
    outcome.refusal = *refusal;
    Warn(context, *refusal);
    return outcome;
  }
  const bool wasConnected = screen.Connected();
  screen.EnterDisconnected();
  const std::string question = base::Format(kDebugQuestion, screen.NodeAddress(from).c_str(),
                                            screen.NodeAddress(to).c_str());
  const PromptAnswer answer =
      context.prompt.Ask(question, kDebugCaption, PromptButtons::YesNoCancel, PromptIcon::Question);
  if (answer != PromptAnswer::Yes && answer != PromptAnswer::No) {
    if (wasConnected) screen.ChangeToNode(from);
    return outcome;
  }
  const bool enable = answer == PromptAnswer::Yes;
  std::string debugAddress = "0.0.0.0";
  if (enable) {
    const std::optional<std::string> pc = screen.PcAddressFor(screen.NodeAddress(from));
    if (!pc) {
      LogError("CMRegDlg::Debugging - no adapter address fits %s",
               screen.NodeAddress(from).c_str());
      context.prompt.Beep();
      outcome.refusal = base::Format(kDebugNoAdapter, screen.NodeAddress(from).c_str());
      context.prompt.Tell(outcome.refusal, kDebugCaption, PromptIcon::Error);
      if (wasConnected) screen.ChangeToNode(from);
      return outcome;
    }
    debugAddress = *pc;
  }
  const auto words = DebugAddressRegisters(debugAddress).value_or(std::array<uint16_t, 2>{});
  const bool reversed = screen.Image().Mirrored();

  const LoopOptions loop{"Debugging", kNodeStatus, false, false};
  ForEachNode(context, from, to, loop, outcome, [&](int node) {
    if (!screen.SaveRegisterPair(screen.NodeAddress(node), 298, words[0], 299, words[1],
                                 reversed)) {
      context.prompt.Beep();
      return NodeResult::Reported;
    }
    flags.Set(node, enable);
    return NodeResult::Done;
  });
  FinishRange(context, from);
  return outcome;
}

// ---- on the node screen ------------------------------------------------------------------

ControllerRangeScreen::ControllerRangeScreen(NodeScreenController& controller,
                                             const ScreenRangeHooks& hooks)
    : controller_(controller), hooks_(hooks) {}

bool ControllerRangeScreen::Connected() const {
  return controller_.Connected();
}
int ControllerRangeScreen::CurrentNode() const {
  return controller_.Node();
}
std::string ControllerRangeScreen::NodeAddress(int node) const {
  return controller_.NodeAddress(node);
}
ImageView ControllerRangeScreen::Image() const {
  return controller_.Lookup();
}
ShowState ControllerRangeScreen::Shown() const {
  return controller_.View().show;
}
void ControllerRangeScreen::StopRefresh() {
  controller_.StopTimer();
}
void ControllerRangeScreen::ResumeRefresh() {
  controller_.StartTimer();
}
void ControllerRangeScreen::EnterDisconnected() {
  controller_.EnterDisconnected();
}
void ControllerRangeScreen::ChangeToNode(int node) {
  controller_.SetFromText(base::Format("%d", node));
  controller_.ChangeNode(0);
}
bool ControllerRangeScreen::ConnectNode(int node) {
  return controller_.ConnectTo(node);
}
void ControllerRangeScreen::ReadBlock(int first, int count) {
  controller_.ReadBlock(first, count);
}
uint16_t ControllerRangeScreen::ReadOne(int reg) {
  return controller_.ReadOne(reg);
}
bool ControllerRangeScreen::WriteOne(int reg, uint16_t value) {
  return controller_.WriteOne(reg, value);
}
bool ControllerRangeScreen::RunPlan(const RegisterPlan& plan) {
  return controller_.RunPlan(plan);
}
void ControllerRangeScreen::Pause(uint32_t ms) {
  controller_.Link().Sleep(ms);
}
uint32_t ControllerRangeScreen::Tick() {
  return controller_.Link().Tick();
}
bool ControllerRangeScreen::SaveRegisterPair(const std::string& address, uint16_t r1, uint16_t v1,
                                             uint16_t r2, uint16_t v2, bool reversed) {
  if (hooks_.savePair) return hooks_.savePair(address, r1, v1, r2, v2, reversed);
  return SaveRegisterPairStandalone(address, r1, v1, r2, v2, reversed);
}
std::optional<std::string> ControllerRangeScreen::PcAddressFor(const std::string& moduleAddress) {
  if (!hooks_.pcAddressFor) return std::nullopt;
  return hooks_.pcAddressFor(moduleAddress);
}

namespace {

// "Node: %d" goes into the screen's status field, which the worker publishes at once; the
// time left, once it can be estimated, into its own field beside it.
class StatusTextProgress : public base::Progress {
 public:
  explicit StatusTextProgress(NodeScreenController& controller) : controller_(controller) {}
  ~StatusTextProgress() override { controller_.SetTimeLeftText(std::string()); }
  void SetRange(int total) override {
    total_ = total;
    remaining_.Restart();
  }
  void SetPosition(int done) override {
    const std::optional<uint32_t> left = remaining_.SecondsLeft(done, total_);
    controller_.SetTimeLeftText(left ? base::RemainingTime::Text(*left) : std::string());
  }
  void SetText(const std::string& text) override { controller_.SetStatusText(text); }

 private:
  NodeScreenController& controller_;
  base::RemainingTime remaining_;
  int total_ = 0;
};

}  // namespace

ScreenRangeOperations::ScreenRangeOperations(ScreenRangeHooks hooks) : hooks_(std::move(hooks)) {}

template <typename Operation>
ScreenRangeOperations::Job ScreenRangeOperations::Wrap(Operation operation) {
  return [this, operation = std::move(operation)](NodeScreenController& controller) {
    ControllerRangeScreen screen(controller, hooks_);
    StatusTextProgress progress(controller);
    RangeContext context{screen, controller.prompt(), progress};
    {
      std::lock_guard<std::mutex> lock(outcomeMutex_);
      running_ = &progress;
    }
    RangeOutcome outcome = operation(context);
    std::lock_guard<std::mutex> lock(outcomeMutex_);
    running_ = nullptr;
    lastOutcome_ = std::move(outcome);
  };
}

ScreenRangeOperations::Job ScreenRangeOperations::SetAllFieldJob(NodeRange range,
                                                                 FieldSetAll field) {
  return Wrap([range = std::move(range), field = std::move(field)](RangeContext& context) {
    return SetAllField(context, range, field);
  });
}

ScreenRangeOperations::Job ScreenRangeOperations::SetAllModuleJob(NodeRange range,
                                                                  SetAllTyped typed) {
  return Wrap([range = std::move(range), typed = std::move(typed)](RangeContext& context) {
    return SetAllModule(context, range, typed);
  });
}

ScreenRangeOperations::Job ScreenRangeOperations::ZpaDtaJob(NodeRange range, int entry) {
  return Wrap([this, range = std::move(range), entry](RangeContext& context) {
    return ZpaDtaSelected(context, range, entry, hooks_.convertZoneLogic);
  });
}

ScreenRangeOperations::Job ScreenRangeOperations::FormatFlashJob(NodeRange range) {
  return Wrap([this, range = std::move(range)](RangeContext& context) {
    return FormatFlash(context, range, hooks_.format);
  });
}

ScreenRangeOperations::Job ScreenRangeOperations::DebuggingJob(NodeRange range) {
  return Wrap([this, range = std::move(range)](RangeContext& context) {
    return Debugging(context, range, flags_);
  });
}

void ScreenRangeOperations::CancelRunning() {
  std::lock_guard<std::mutex> lock(outcomeMutex_);
  if (running_ != nullptr) running_->Cancel().Cancel();
}

RangeOutcome ScreenRangeOperations::LastOutcome() const {
  std::lock_guard<std::mutex> lock(outcomeMutex_);
  return lastOutcome_;
}

}  // namespace params
