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
// TARGET is a node number (the network from --net or the profile's "Default Net") or the
// module's IPv4 address. The connection is the screen's: ARP clearing, ping, register
// connection and one full read.
//
// Exit status: 0 done; 1 no connection, a failed read or write, or a refused value (its message
// is printed); 2 a field that does not exist, is not shown on this module or cannot be set.
#include <arpa/inet.h>

#include <cctype>

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/format.h"
#include "cli_command.h"
#include "comm/blocking_socket.h"
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

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

void PrintError(const std::string& text) {
  std::fprintf(stderr, "quillmar-cli param: %s\n", text.c_str());
}

// What a shown control says, as text: the value of edits, values, lists and counters; the
// state of check boxes, buttons and indicators.
std::string ValueText(const DisplayItem& item, const params::ItemView& view) {
  switch (item.control) {
    case params::ControlKind::CheckBox:
      return view.checked ? "on" : "off";
    case params::ControlKind::Button:
      return view.checked ? "pressed" : "released";
    case params::ControlKind::Indicator:
      switch (view.colour) {
        case params::IndicatorColour::Green:
          return "green";
        case params::IndicatorColour::Red:
          return "red";
        case params::IndicatorColour::Yellow:
          return "yellow";
      }
      return "";
    default:
      return view.text;
  }
}

// `text` padded with blanks to `width` characters (UTF-8: the labels hold umlauts).
std::string Padded(const std::string& text, size_t width) {
  size_t characters = 0;
  for (unsigned char c : text) characters += (c & 0xC0) != 0x80 ? 1 : 0;
  return characters >= width ? text : text + std::string(width - characters, ' ');
}

std::string FieldKey(const DisplayItem& item, Side side) {
  if (!item.HasSides()) return item.key;
  return std::string(item.key) + "." + params::SideKey(item.group, side);
}

int PrintFields(params::NodeScreenController& controller, CliContext& context) {
  const params::NodeScreenView& view = controller.View();
  const params::ImageView image = controller.Lookup();
  json fields = json::array();
  for (const DisplayItem& item : params::kDisplayItems) {
    if (item.display == params::DisplayKind::None) continue;
    for (Side side : {Side::A, Side::B}) {
      if (!item.HasSides() && side == Side::B) continue;
      const size_t s = static_cast<size_t>(side);
      const params::ItemScreen& screen = view.items[static_cast<size_t>(item.id)];
      if (!screen.shown[s]) continue;
      const std::string value = ValueText(item, screen.view[s]);
      const bool measured =
          item.control == params::ControlKind::Edit || item.control == params::ControlKind::Value;
      const std::string unit =
          value.empty() || !measured ? std::string() : params::UnitTextOf(item, side, image);
      const std::string sideKey = item.HasSides() ? params::SideKey(item.group, side) : "";
      if (context.json) {
        fields.push_back({{"key", FieldKey(item, side)},
                          {"item", item.id},
                          {"side", sideKey},
                          {"label", screen.label[s]},
                          {"value", value},
                          {"unit", unit}});
      } else {
        std::fprintf(context.out, "%s %s %s%s%s\n", Padded(FieldKey(item, side), 28).c_str(),
                     Padded(screen.label[s], 36).c_str(), value.c_str(), unit.empty() ? "" : " ",
                     unit.c_str());
      }
    }
  }
  if (context.json) {
    const json out{{"ip", view.moduleAddress},
                   {"node", view.node},
                   {"layout", view.layout.code},
                   {"status", view.statusText},
                   {"fields", fields}};
    std::fprintf(context.out, "%s\n", out.dump().c_str());
  } else if (!view.statusText.empty()) {
    std::fprintf(context.out, "%-28s %-36s %s\n", "status", "", view.statusText.c_str());
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

  json written = json::array();
  for (const Assignment& a : assignments) {
    const bool ok = controller.RunPlan(a.plan);
    std::vector<std::string> steps;
    for (const params::PlanStep& step : a.plan.steps) steps.push_back(params::StepText(step));
    if (!ok) {
      PrintError(base::Format("%s: writing to the module %s failed (%s)", a.text.c_str(),
                              view.moduleAddress.c_str(), json(steps).dump().c_str()));
      return kExitFailed;
    }
    if (context.json) {
      written.push_back({{"field", a.key}, {"value", a.value}, {"steps", steps}});
    } else {
      std::string joined;
      for (const std::string& step : steps) joined += (joined.empty() ? "" : ", ") + step;
      std::fprintf(context.out, "%s = %s: %s\n", a.key.c_str(), a.value.c_str(), joined.c_str());
    }
  }
  if (context.json) {
    std::fprintf(context.out, "%s\n",
                 json{{"ip", view.moduleAddress}, {"written", written}}.dump().c_str());
  }
  return 0;
}

int RunParam(CliContext& context, const std::string& target, const std::string& network,
             const std::vector<std::string>& assignments) {
  discovery::ScopedConnectInventory inventoryLink(context.app);
  params::NodeScreenController controller(params::MakeSocketNodeLink(
          [](const std::string& ip) { return config::ReadPlcProgramName(ip); }), context.prompt,
                                          context.profile);
  in_addr parsed{};
  if (target.find('.') != std::string::npos) {
    if (inet_pton(AF_INET, target.c_str(), &parsed) != 1) {
      PrintError(base::Format("\"%s\" is not an IPv4 address", target.c_str()));
      return kExitUsage;
    }
    controller.Start(target);
  } else {
    if (target.empty() || target.find_first_not_of("0123456789") != std::string::npos) {
      PrintError(
          base::Format("\"%s\" is neither a node number nor an IPv4 address", target.c_str()));
      return kExitUsage;
    }
    controller.Start();
    if (!network.empty()) {
      if (inet_pton(AF_INET, network.c_str(), &parsed) != 1) {
        PrintError(base::Format("the network \"%s\" is not an IPv4 address", network.c_str()));
        return kExitUsage;
      }
      controller.SetNetworkText(network);
    }
    controller.SetFromText(target);
    controller.ChangeNode(0);
  }
  // The change of node has shown its refusal or connect failure through the prompt.
  if (!controller.Connected()) return kExitFailed;
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
      sub.add_option("target", *target, "Node number or the module's IPv4 address")->required();
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
