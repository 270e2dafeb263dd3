// quillmar-cli param TARGET [FIELD=VALUE...] [--net NETWORK]: the node screen without its
// window.
//
// Without assignments it prints what the node screen shows for the module: every field the
// module's layout shows, with its German label, its value in the unit shown and its side
// (left / right drive, upstream / downstream zone). With assignments such as speed.left=0.5,
// accel.right=0.3, gap.upstream=1.5, drivetype.left="Oskarn ECO" or brake.left=Frei, every
// value is converted and checked by the same rules as the screen's Set, and only when all of
// them pass are they written and saved in the order given, as the screen writes them.
//
// TARGET goes through the one target parser (a decimal node number on the network from --net or
// the profile's "Default Net", an IPv4 address, or sn:SERIAL). The connection is the screen's:
// ARP clearing, ping, register connection and one full read.
//
// The steps of the plans run one at a time and the first failure ends the command: the report
// (text and JSON) lists every step carried out before it and names the one that failed, and
// each write and save, and the failure, is a line of the event log.
//
// Exit status (the program's table): 0 done; 1 no connection, a failed read or write, or a
// refused value (its message is printed); 2 a target or a field that does not exist, is not
// shown on this module or cannot be set; 3 no adapter could be chosen.
#include <cctype>

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/format.h"
#include "base/language.h"
#include "cli_command.h"
#include "comm/blocking_socket.h"
#include "comm/event_log.h"
#include "config/plc_program.h"
#include "discovery/connect_inventory_link.h"
#include "params/display_items.h"
#include "params/drive_catalogue.h"
#include "params/edit_rules.h"
#include "params/field_text.h"
#include "params/node_screen_controller.h"

namespace {

using nlohmann::json;
using params::DisplayItem;
using params::Side;
namespace item = params::item;

using cli::kExitFailed;
using cli::kExitUsage;

void PrintError(const std::string& text) {
  cli::ReportFailure("param", text);
}

// `text` padded with blanks to `width` characters (UTF-8: the labels hold umlauts).
std::string Padded(const std::string& text, size_t width) {
  size_t characters = 0;
  for (unsigned char c : text) characters += (c & 0xC0) != 0x80 ? 1 : 0;
  return characters >= width ? text : text + std::string(width - characters, ' ');
}

int PrintFields(params::NodeScreenController& controller, CliContext& context) {
  const params::NodeScreenView& view = controller.View();
  const params::ImageView image = controller.Lookup();
  json fields = json::array();
  for (const params::ShownField& field : params::ShownFields(view, image)) {
    if (context.json) {
      fields.push_back({{"key", field.key},
                        {"item", field.item},
                        {"side", field.side},
                        {"label", field.label},
                        {"value", field.value},
                        {"unit", field.unit}});
    } else {
      // Label and list entry in the language shown; --json keeps the screen's own texts.
      const std::string label = params::ShownLabelIn(field, base::CurrentLanguage());
      const std::string value = params::ShownValueIn(field, base::CurrentLanguage());
      std::fprintf(context.out, "%s %s %s%s%s\n", Padded(field.key, 28).c_str(),
                   Padded(label, 36).c_str(), value.c_str(), field.unit.empty() ? "" : " ",
                   field.unit.c_str());
    }
  }
  if (context.json) {
    const json out{{"ip", view.moduleAddress},
                   {"node", view.node},
                   {"layout", view.layout.code},
                   {"status", view.statusText},
                   {"fields", fields}};
    std::fprintf(context.out, "%s\n", out.dump().c_str());
  } else if (!view.statusTextShown.empty()) {
    std::fprintf(context.out, "%-28s %-36s %s\n", "status", "", view.statusTextShown.c_str());
  }
  return 0;
}

// ---- assignments ---------------------------------------------------------------------------

struct Assignment {
  std::string text;  // as given
  std::string key;   // before '='
  std::string value;
  const DisplayItem* item = nullptr;
  Side side = Side::A;
  params::RegisterPlan plan;
};

std::optional<Side> SideFromKey(const DisplayItem& item, std::string_view key) {
  for (Side side : {Side::A, Side::B}) {
    if (key == params::SideKey(item.group, side)) return side;
  }
  return std::nullopt;
}

// Builds the plan of one assignment as the screen's Set would; an empty `error` and a plan
// (possibly refused) on success, else the usage error.
std::string PlanAssignment(params::NodeScreenController& controller, Assignment& a,
                           const std::vector<Assignment>& all) {
  const params::NodeScreenView& view = controller.View();
  const DisplayItem& item = *a.item;
  std::string error;
  std::optional<params::FieldInput> input =
      params::FieldInputFromText(item, a.side, a.value, view, controller.Lookup(), &error);
  if (!input) return error;
  if (item.set == params::SetKind::TypedPair) {
    // Both currents share one register: the other one as shown, or as assigned too.
    const size_t s = static_cast<size_t>(a.side);
    input->typed = view.items[item::kLowCurrent].view[s].text;
    input->secondTyped = view.items[item::kHighCurrent].view[s].text;
    for (const Assignment& other : all) {
      if (other.item == nullptr || other.side != a.side) continue;
      if (other.item->id == item::kLowCurrent) input->typed = other.value;
      if (other.item->id == item::kHighCurrent) input->secondTyped = other.value;
    }
  }
  a.plan = controller.PlanFor(item.id, a.side, *input);
  if (!a.plan.Refused() && a.plan.steps.empty()) {
    return base::Format("%s: nothing to write for this module", a.key.c_str());
  }
  return std::string();
}

int ApplyAssignments(params::NodeScreenController& controller, CliContext& context,
                     const std::vector<std::string>& texts) {
  const params::NodeScreenView& view = controller.View();
  std::vector<Assignment> assignments;
  for (const std::string& text : texts) {
    Assignment a;
    a.text = text;
    const size_t equals = text.find('=');
    if (equals == std::string::npos) {
      PrintError(base::Format("\"%s\" is not FIELD=VALUE; nothing was written", text.c_str()));
      return kExitUsage;
    }
    a.key = text.substr(0, equals);
    a.value = text.substr(equals + 1);
    const size_t dot = a.key.find('.');
    const std::string itemKey = a.key.substr(0, dot);
    a.item = params::DisplayItemByKey(itemKey);
    std::optional<Side> side;
    if (a.item != nullptr && a.item->HasSides() && dot != std::string::npos) {
      side = SideFromKey(*a.item, std::string_view(a.key).substr(dot + 1));
    }
    if (a.item == nullptr || !side) {
      PrintError(base::Format(
          "\"%s\": no such field (FIELD is KEY.SIDE, e.g. speed.left or gap.upstream; keys "
          "that can be set: %s); nothing was written",
          a.key.c_str(), params::SettableKeys().c_str()));
      return kExitUsage;
    }
    a.side = *side;
    if (!view.items[static_cast<size_t>(a.item->id)].shown[static_cast<size_t>(a.side)]) {
      PrintError(
          base::Format("%s is not shown for this module; nothing was written", a.key.c_str()));
      return kExitUsage;
    }
    assignments.push_back(std::move(a));
  }

  // Every value is converted and checked before the first write.
  if (const auto refusal = params::CheckNodeNumber(controller.Node())) {
    PrintError(*refusal);
    return kExitFailed;
  }
  for (Assignment& a : assignments) {
    std::string error;
    try {
      error = PlanAssignment(controller, a, assignments);
    } catch (const CBlockingSocketException& e) {
      PrintError(base::Format("%s: %s", a.text.c_str(), e.GetErrorMessage().c_str()));
      return kExitFailed;
    }
    if (!error.empty()) {
      PrintError(error + "; nothing was written");
      return kExitUsage;
    }
    if (a.plan.Refused()) {
      PrintError(base::Format("%s: %s", a.text.c_str(), a.plan.refusal.c_str()));
      if (context.json) {
        std::fprintf(context.out, "%s\n",
                     json{{"ip", view.moduleAddress},
                          {"refused", a.text},
                          {"message", a.plan.refusal},
                          {"written", json::array()}}
                         .dump()
                         .c_str());
      }
      return kExitFailed;
    }
  }

  // The plans run step by step, so that a failure names its step and nothing after it is
  // sent on a module that stopped answering.
  json written = json::array();
  json failed = nullptr;
  for (size_t index = 0; index < assignments.size() && failed.is_null(); ++index) {
    const Assignment& a = assignments[index];
    std::vector<std::string> steps;
    for (const params::PlanStep& step : a.plan.steps) {
      params::RegisterPlan single;
      single.steps = {step};
      if (&step == &a.plan.steps.back()) single.readNext = a.plan.readNext;
      const std::string stepText = params::StepText(step);
      if (!controller.RunPlan(single)) {
        std::string reason =
            step.kind == params::PlanStepKind::Write
                ? "the module did not confirm the write; the value may have been written"
            : step.kind == params::PlanStepKind::Save
                ? "the module did not confirm the write and its save; the value may have "
                  "been written but not saved"
            : step.kind == params::PlanStepKind::SaveGroup
                ? "the module did not confirm the save; the written values may not "
                  "be in flash"
                : "the module did not answer";
        // The register client's own record of the failure, with its cause in words.
        const std::string detail = controller.Link().LastFailure();
        if (!detail.empty()) {
          reason += " (" + cli::DescribeSocketFailure(CBlockingSocketException(detail, 16)) + ")";
        }
        failed = {{"field", a.key},
                  {"value", a.value},
                  {"stepsDone", steps},
                  {"step", stepText},
                  {"reason", reason}};
        PrintError(base::Format("%s: module %s: step \"%s\" failed: %s", a.text.c_str(),
                                view.moduleAddress.c_str(), stepText.c_str(), reason.c_str()) +
                   (steps.empty()
                        ? std::string()
                        : base::Format(" (done before it: %s)", json(steps).dump().c_str())));
        break;
      }
      steps.push_back(stepText);
      if (step.kind == params::PlanStepKind::Write || step.kind == params::PlanStepKind::Save ||
          step.kind == params::PlanStepKind::SaveGroup) {
        cli::LogChange("param", base::Format("module %s: %s: %s done", view.moduleAddress.c_str(),
                                             a.text.c_str(), stepText.c_str()));
      }
    }
    if (!failed.is_null()) break;
    written.push_back({{"field", a.key}, {"value", a.value}, {"steps", steps}});
    if (!context.json) {
      std::string joined;
      for (const std::string& step : steps) joined += (joined.empty() ? "" : ", ") + step;
      std::fprintf(context.out, "%s = %s: %s\n", a.key.c_str(), a.value.c_str(), joined.c_str());
    }
  }
  if (!failed.is_null()) {
    json notDone = json::array();
    bool after = false;
    for (const Assignment& a : assignments) {
      if (after) notDone.push_back(a.text);
      after = after || a.key == failed["field"].get<std::string>();
    }
    failed["notWritten"] = notDone;
    if (!context.json && !notDone.empty()) {
      std::fprintf(stderr, "quillmar-cli param: not written: %s\n", notDone.dump().c_str());
    }
  }
  if (context.json) {
    json result{{"ip", view.moduleAddress}, {"written", written}, {"ok", failed.is_null()}};
    if (!failed.is_null()) result["failed"] = failed;
    std::fprintf(context.out, "%s\n", result.dump().c_str());
  }
  return failed.is_null() ? 0 : kExitFailed;
}

int RunParam(CliContext& context, const std::string& targetText, const std::string& network,
             const std::vector<std::string>& assignments) {
  discovery::ScopedConnectInventory inventoryLink(context.app);
  const cli::ResolvedTarget target = cli::ResolveTarget(context, "param", targetText, network);
  if (target.exitCode != cli::kExitDone) return target.exitCode;
  params::NodeScreenController controller(params::MakeSocketNodeLink([](const std::string& ip) {
                                            return config::ReadPlcProgramName(ip);
                                          }),
                                          context.prompt, context.profile);
  // The screen's own start with an address: its network, and its host byte as the node.
  controller.Start(target.address);
  // The change of node has shown its refusal or connect failure through the prompt.
  if (!controller.Connected()) {
    LogError("quillmar-cli param: no connection to the module %s", target.address.c_str());
    return context.chooser.ChoiceRefused() ? cli::kExitChooseAdapter : kExitFailed;
  }
  if (context.chooser.ChoiceRefused()) {
    PrintError(
        "several adapters carry modules and none could be chosen; the command was not carried out");
    return cli::kExitChooseAdapter;
  }
  const params::NodeScreenView& view = controller.View();
  if (!view.errorText.empty()) {
    PrintError(base::Format("module %s: %s", view.moduleAddress.c_str(), view.errorText.c_str()));
    return kExitFailed;
  }
  if (assignments.empty()) return PrintFields(controller, context);
  return ApplyAssignments(controller, context, assignments);
}

const CliCommandRegistrar kParamCommand(
    "param", "Show the node screen's fields of a module, or set them (FIELD=VALUE)",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto target = std::make_shared<std::string>();
      auto network = std::make_shared<std::string>();
      auto assignments = std::make_shared<std::vector<std::string>>();
      sub.add_option("target", *target,
                     "Node number (1..236, decimal), the module's IPv4 address, or sn:SERIAL")
          ->required();
      sub.add_option("assignments", *assignments,
                     "FIELD=VALUE with FIELD as KEY.SIDE (speed.left, accel.right, "
                     "gap.upstream, drivetype.left=\"Oskarn ECO\", brake.left=Frei …)");
      sub.add_option("--net", *network,
                     "Network of node numbers (default: the profile's \"Default Net\")");
      return [&context, target, network, assignments] {
        return RunParam(context, *target, *network, *assignments);
      };
    });

}  // namespace
