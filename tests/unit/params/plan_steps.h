#pragma once
// What the params tests share: a plan's steps as text and the node number refusal.
#include <string>
#include <vector>

#include "params/register_plan.h"

namespace params_test {

inline std::vector<std::string> Steps(const params::RegisterPlan& plan) {
  std::vector<std::string> texts;
  for (const params::PlanStep& step : plan.steps) texts.push_back(params::StepText(step));
  return texts;
}

inline constexpr const char* kNodeMessage =
    "Falsche Module Nummer. Nur Nummern von 1 bis 236 sind gültig.";

}  // namespace params_test
