#include "params/register_plan.h"

#include "base/format.h"

namespace params {

std::string StepText(const PlanStep& step) {
  switch (step.kind) {
    case PlanStepKind::Write:
      return base::Format("write %d=%u", step.reg, step.value);
    case PlanStepKind::Save:
      return base::Format("save %d=%u", step.reg, step.value);
    case PlanStepKind::SaveGroup:
      return base::Format("savegroup %d+%u", step.reg, step.value);
    case PlanStepKind::Pause:
      return base::Format("pause %u", step.value);
    case PlanStepKind::Read:
      return base::Format("read %d", step.reg);
    case PlanStepKind::ShowCurrentLimit:
      return "show current limit";
    case PlanStepKind::HideCurrentLimit:
      return "hide current limit";
  }
  return std::string();
}

}  // namespace params
