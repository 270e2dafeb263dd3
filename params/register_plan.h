#pragma once
// What applying an edit, a toggle or a drive type does to a module, as data: an ordered list
// of register operations that the node screen's worker runs (register numbers before the
// mirror map; the worker maps them). Plans are built by pure functions so that the screen,
// the CLI and the tests share one definition of every write.
#include <cstdint>
#include <string>
#include <vector>

namespace params {

enum class PlanStepKind {
  Write,             // function 6: reg = value; the image is updated with the value
  Save,              // SaveToFlash(reg, value): write, then the save command with count 1
  SaveGroup,         // SaveToFlashGroup(reg, count): the save command only
  Pause,             // wait `value` ms
  Read,              // read reg into the image
  ShowCurrentLimit,  // show the current-limit controls of the plan's drive
  HideCurrentLimit,  // hide them
};

struct PlanStep {
  PlanStepKind kind = PlanStepKind::Write;
  int reg = 0;
  uint16_t value = 0;  // the value, the group's count, or the pause in ms

  static PlanStep Write(int reg, uint16_t value) { return {PlanStepKind::Write, reg, value}; }
  static PlanStep Save(int reg, uint16_t value) { return {PlanStepKind::Save, reg, value}; }
  static PlanStep SaveGroup(int first, uint16_t count) {
    return {PlanStepKind::SaveGroup, first, count};
  }
  static PlanStep Pause(uint16_t ms) { return {PlanStepKind::Pause, 0, ms}; }
  static PlanStep Read(int reg) { return {PlanStepKind::Read, reg, 0}; }
  static PlanStep ShowCurrentLimit() { return {PlanStepKind::ShowCurrentLimit, 0, 0}; }
  static PlanStep HideCurrentLimit() { return {PlanStepKind::HideCurrentLimit, 0, 0}; }

  bool operator==(const PlanStep&) const = default;
};

// The rotating refresh group that holds a side's registers: read first after an apply.
enum class RefreshGroup { None = 0, LeftDrive = 1, RightDrive = 2, Upstream = 3, Downstream = 4 };

struct RegisterPlan {
  std::vector<PlanStep> steps;
  // Set when the value was refused: the message to show; the plan then has no steps.
  std::string refusal;
  RefreshGroup readNext = RefreshGroup::None;

  bool Refused() const { return !refusal.empty(); }
};

// A readable form of a step ("write 41=3000", "save 490=0", "savegroup 41+19", "pause 50",
// "read 108", "show current limit", "hide current limit") for logs, the CLI and tests.
std::string StepText(const PlanStep& step);

// Sides of a module: drives are Left / Right, zones Upstream / Downstream; A is the first.
enum class Side { A = 0, B = 1 };
// The value of side A or of side B.
inline int Pick(Side side, int a, int b) {
  return side == Side::A ? a : b;
}

}  // namespace params
