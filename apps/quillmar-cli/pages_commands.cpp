// quillmar-cli flexzone / sensors / service: the advanced pages' work without a window.
//
//   flexzone [NET] [--enable|--disable|--time MS]   status of every module of the network, or
//                                                   switch flex zone / set the time on all
//   sensors TARGET [--blocked-left inverted|normal] [--blocked-right ...] [--error-left ...]
//           [--error-right ...] [--all FROM-TO]      register 34 of one module; --all copies
//                                                   it to nodes FROM..TO of its network
//   service TARGET hours-reset left|right | short-circuit-clear |
//           touch-go upstream|downstream on|off [--backward] | dta-reset upstream|downstream
//
// Sides are the module's as the pages show them: on a module mounted reversed the page's
// rules exchange them.
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/numbers.h"
#include "cli_command.h"
#include "comm/event_log.h"
#include "discovery/connect_inventory_link.h"
#include "pages/flex_zone.h"
#include "pages/sensors.h"
#include "pages/special_services.h"
#include "params/display_items.h"
#include "params/target.h"

namespace {

using nlohmann::json;

// ---- flexzone --------------------------------------------------------------------------------

const char* StateName(pages::FlexState state) {
  switch (state) {
    case pages::FlexState::Enabled:
      return "enabled";
    case pages::FlexState::Disabled:
      return "disabled";
    case pages::FlexState::Mixed:
      break;
  }
  return "mixed";
}

// The selected adapter's modules (every adapter's when none is selected).
std::vector<pages::ListedModule> ListedModules(CMRegApp& app) {
  std::vector<pages::ListedModule> modules;
  const AdapterPtr selected = app.SelectedAdapter();
  for (const AdapterPtr& adapter : app.AdaptersSnapshot()) {
    if (selected && adapter != selected) continue;
    std::lock_guard guard(adapter->lock);
    for (const auto& node : adapter->nodes) modules.push_back({node->ipText, node->serialNumber});
  }
  return modules;
}

void PrintFlexView(CliContext& context, const pages::FlexZoneView& view, const std::string& done) {
  if (context.json) {
    json result{{"modules", view.list.addresses},
                {"count", view.list.addresses.size()},
                {"first_module", view.list.firstModule},
                {"no_gap", view.list.noGap},
                {"usable", view.list.Usable()},
                {"state", StateName(view.state)},
                {"status", view.statusText},
                {"time_ms", view.timeText.empty() ? json(nullptr) : json(view.timeText)},
                {"failed", view.failed}};
    if (!done.empty()) result["done"] = done;
    std::fprintf(context.out, "%s\n", result.dump().c_str());
    return;
  }
  std::fprintf(context.out, "%s\n", view.countText.c_str());
  for (const std::string& address : view.list.addresses)
    std::fprintf(context.out, "  %s\n", address.c_str());
  std::fprintf(context.out, "%s\n", view.statusText.c_str());
  if (!view.timeText.empty())
    std::fprintf(context.out, "Time (registers 112 and 192 of the first module): %s ms\n",
                 view.timeText.c_str());
}

int RunFlexZone(CliContext& context, const std::string& networkText, bool enable, bool disable,
                const std::string& timeText) {
  const std::string command = "flexzone";
  if (static_cast<int>(enable) + static_cast<int>(disable) + (timeText.empty() ? 0 : 1) > 1) {
    cli::ReportFailure(command, "give only one of --enable, --disable and --time");
    return cli::kExitUsage;
  }
  if (!timeText.empty() && !base::WholeNumber(timeText, 0, 65535)) {
    cli::ReportFailure(command, base::Format(pages::kFlexTimeRefused, timeText.c_str()));
    return cli::kExitUsage;
  }
  const std::string network =
      networkText.empty()
          ? context.profile.GetString("Settings", params::kDefaultNetKey, params::kDefaultNet)
          : networkText;
  std::string refusal;
  const auto net = params::ParseDottedAddress(network, &refusal);
  if (!net) {
    cli::ReportFailure(command, "the network " + refusal + "; nothing was sent");
    return cli::kExitUsage;
  }
  discovery::ScopedConnectInventory inventoryLink(context.app);
  context.chooser.SetTargetAddress(params::NodeAddress(*net, 1));
  auto link = pages::MakeSocketModuleLink();
  bool listed = true;
  pages::FlexZone zone(*link, [&] {
    context.app.discoverDone = 0;
    if (context.app.Discover(true, nullptr) != 1) {
      listed = false;
      return std::vector<pages::ListedModule>{};
    }
    return ListedModules(context.app);
  });
  pages::FlexZoneView view = zone.Refresh(network);
  if (!listed) {
    cli::ReportFailure(command, "no capture device could be opened");
    return cli::kExitFailed;
  }
  if (context.chooser.ChoiceRefused()) {
    cli::ReportFailure(command,
                       "several adapters carry modules and none could be chosen; the command was "
                       "not carried out");
    return cli::kExitChooseAdapter;
  }
  auto progress = [&context](const pages::FlexZoneView& v) {
    if (!context.json && !v.progressText.empty())
      std::fprintf(stderr, "Modul %s\n", v.progressText.c_str());
  };
  std::string done;
  if (enable || disable) {
    if (!view.list.Usable()) {
      PrintFlexView(context, view, "");
      cli::ReportFailure(command, view.statusText + "; nothing was written");
      return cli::kExitFailed;
    }
    view = zone.SwitchAll(enable ? 0 : 1, progress);
    done = enable ? "enable" : "disable";
    cli::LogChange(command, base::Format("%s on %zu modules of %s", done.c_str(),
                                         view.list.addresses.size(), network.c_str()));
  } else if (!timeText.empty()) {
    view = zone.SetAll(timeText, progress);
    done = "time";
    cli::LogChange(command, base::Format("time %s ms on %zu modules of %s", timeText.c_str(),
                                         view.list.addresses.size(), network.c_str()));
  }
  PrintFlexView(context, view, done);
  if (!view.failed.empty()) {
    std::string list;
    for (const std::string& address : view.failed) list += (list.empty() ? "" : ", ") + address;
    const std::string setting = enable    ? "flex zone on and time 50 ms"
                                : disable ? "flex zone off and time 50 ms"
                                          : "time " + timeText + " ms";
    cli::ReportFailure(command, setting + " not written or not saved on " + list);
    return cli::kExitFailed;
  }
  const bool reached = (!enable || view.state == pages::FlexState::Enabled) &&
                       (!disable || view.state == pages::FlexState::Disabled);
  return reached ? cli::kExitDone : cli::kExitFailed;
}

// ---- targets of sensors and service ----------------------------------------------------------

// ---- sensors ---------------------------------------------------------------------------------

struct SensorArguments {
  std::array<std::string, 4> settings;  // per SensorSetting: "", "inverted" or "normal"
  std::string all;                      // FROM-TO
};

json SensorsJson(const pages::SensorsView& view) {
  auto state = [&view](pages::SensorSetting setting) -> json {
    const size_t k = static_cast<size_t>(setting);
    if (k >= 2 && !view.errorShown) return nullptr;
    return (view.current[k] & pages::SensorMask(setting, view.reversed)) ? "inverted" : "normal";
  };
  return {{"register34", view.register34},
          {"reversed", view.reversed},
          {"locked", view.locked},
          {"blocked_left", state(pages::SensorSetting::BlockedLeft)},
          {"blocked_right", state(pages::SensorSetting::BlockedRight)},
          {"error_left", state(pages::SensorSetting::ErrorLeft)},
          {"error_right", state(pages::SensorSetting::ErrorRight)}};
}

void PrintSensors(CliContext& context, const std::string& address, const pages::SensorsView& view,
                  const json& extra) {
  json result = SensorsJson(view);
  result["ip"] = address;
  if (!extra.is_null()) result.update(extra);
  if (context.json) {
    std::fprintf(context.out, "%s\n", result.dump().c_str());
    return;
  }
  std::fprintf(context.out, "module %s: register 34 = 0x%04X%s%s\n", address.c_str(),
               view.register34, view.reversed ? ", mounted reversed (sides exchanged)" : "",
               view.locked ? ", locked (controlled by a PLC, register 18 = 2)" : "");
  const char* names[4] = {"blocked left", "blocked right", "error left", "error right"};
  const char* keys[4] = {"blocked_left", "blocked_right", "error_left", "error_right"};
  for (size_t k = 0; k < 4; ++k) {
    const json& value = result[keys[k]];
    std::fprintf(context.out, "  %-14s %s\n", names[k],
                 value.is_null() ? "(not on this board)" : value.get<std::string>().c_str());
  }
  if (result.contains("written")) {
    for (const auto& a : result["written"])
      std::fprintf(context.out, "  copied to %s\n", a.get<std::string>().c_str());
  }
}

int RunSensors(CliContext& context, const cli::ResolvedTarget& target,
               const cli::TargetArguments& arguments, const SensorArguments& options) {
  const std::string command = "sensors";
  // Every option is checked before anything is sent.
  std::array<std::optional<bool>, 4> wanted;
  for (size_t k = 0; k < 4; ++k) {
    const std::string& text = options.settings[k];
    if (text.empty()) continue;
    if (text != "inverted" && text != "normal") {
      cli::ReportFailure(command, base::QuotedInput(text) +
                                      " is neither inverted nor normal; nothing was written");
      return cli::kExitUsage;
    }
    wanted[k] = text == "inverted";
  }
  std::vector<std::string> range;
  if (!options.all.empty()) {
    const size_t dash = options.all.find('-');
    const auto from = dash == std::string::npos
                          ? std::nullopt
                          : base::WholeNumber(options.all.substr(0, dash), 1, 236);
    const auto to = dash == std::string::npos
                        ? std::nullopt
                        : base::WholeNumber(options.all.substr(dash + 1), 1, 236);
    if (!from || !to || *to < *from) {
      cli::ReportFailure(command, base::QuotedInput(options.all) +
                                      " is not FROM-TO with node numbers 1 <= FROM <= TO <= 236; "
                                      "nothing was written");
      return cli::kExitUsage;
    }
    // The range lies on the target module's network.
    range = pages::RangeAddresses(target.address, static_cast<int>(*from), static_cast<int>(*to));
  }
  (void)arguments;
  auto link = pages::MakeSocketModuleLink();
  pages::Sensors sensors(*link);
  pages::SensorsView view = sensors.Refresh(target.address);
  if (!view.connected) {
    cli::ReportFailure(
        command, base::Format("Connection to the module \"%s\" is lost !", target.address.c_str()));
    return cli::kExitFailed;
  }
  for (size_t k = 2; k < 4; ++k) {
    if (wanted[k] && !view.errorShown) {
      cli::ReportFailure(command,
                         "this board has no sensor error polarity (register 17 high byte 0x03 or "
                         "0x09); nothing was written");
      return cli::kExitFailed;
    }
  }
  for (size_t k = 0; k < 4; ++k) {
    if (!wanted[k]) continue;
    const auto setting = static_cast<pages::SensorSetting>(k);
    view = sensors.SetBit(setting, *wanted[k]);
    const bool now =
        view.connected && (view.current[k] & pages::SensorMask(setting, view.reversed)) != 0;
    if (!view.writeFailure.empty() || !view.connected || now != *wanted[k]) {
      // The refresh after a failed save may show the new bit: it is in RAM only.
      cli::ReportFailure(
          command, !view.writeFailure.empty()
                       ? view.writeFailure
                       : pages::NotSavedText(target.address,
                                             std::string(pages::SensorSettingName(setting)) + " " +
                                                 options.settings[k],
                                             false));
      return cli::kExitFailed;
    }
    cli::LogChange(
        command, base::Format("%s: register 34 = 0x%04X", target.address.c_str(), view.register34));
  }
  json extra = nullptr;
  if (!range.empty()) {
    const std::string question =
        base::Format(pages::kSensorsSetAllQuestion, range.front().c_str(), range.back().c_str());
    if (context.prompt.Ask(question, pages::kSensorsCaption, base::PromptButtons::YesNo,
                           base::PromptIcon::Question) != base::PromptAnswer::Yes) {
      PrintSensors(context, target.address, view, nullptr);
      return cli::kExitDone;
    }
    const auto outcome = sensors.SetAll(range, [&context](const pages::SensorsView& v) {
      if (!context.json && !v.progressText.empty())
        std::fprintf(stderr, "%s\n", v.progressText.c_str());
    });
    extra = {{"written", outcome.written}, {"failed", outcome.failed}};
    cli::LogChange(command,
                   base::Format("Set All from %s to %zu of %zu modules", target.address.c_str(),
                                outcome.written.size(), range.size()));
    PrintSensors(context, target.address, view, extra);
    if (!outcome.failed.empty()) {
      std::string list;
      for (const std::string& a : outcome.failed) list += (list.empty() ? "" : ", ") + a;
      cli::ReportFailure(command,
                         "sensor settings (register 34) not written or not saved on " + list);
      return cli::kExitFailed;
    }
    return cli::kExitDone;
  }
  PrintSensors(context, target.address, view, nullptr);
  return cli::kExitDone;
}

// ---- service ---------------------------------------------------------------------------------

void PrintService(CliContext& context, const std::string& address, const pages::ServiceView& view,
                  const std::string& done) {
  if (context.json) {
    json result{{"ip", address},
                {"hours_reset_available", view.hoursResetShown},
                {"touch_go_upstream", view.touchGo[0]},
                {"touch_go_upstream_backward", view.touchGo[1]},
                {"touch_go_downstream", view.touchGo[2]},
                {"touch_go_downstream_backward", view.touchGo[3]}};
    if (!done.empty()) result["done"] = done;
    std::fprintf(context.out, "%s\n", result.dump().c_str());
    return;
  }
  if (!done.empty()) std::fprintf(context.out, "%s: %s\n", address.c_str(), done.c_str());
  std::fprintf(context.out,
               "module %s: operating-time reset %s; Touch & Go upstream %s%s, downstream %s%s\n",
               address.c_str(), view.hoursResetShown ? "available" : "not on this board",
               view.touchGo[0] ? "on" : "off", view.touchGo[1] ? " (backward)" : "",
               view.touchGo[2] ? "on" : "off", view.touchGo[3] ? " (backward)" : "");
}

int RunService(CliContext& context, const cli::ResolvedTarget& target,
               const std::vector<std::string>& words, bool backward) {
  const std::string command = "service";
  const std::string usage =
      "expected hours-reset left|right, short-circuit-clear, touch-go upstream|downstream on|off "
      "or dta-reset upstream|downstream";
  auto refuse = [&](const std::string& text) {
    cli::ReportFailure(command, text + "; nothing was sent");
    return cli::kExitUsage;
  };
  const std::string action = words.empty() ? std::string() : words[0];
  auto word = [&words](size_t k) { return k < words.size() ? words[k] : std::string(); };
  size_t expected = 1;
  if (action == "hours-reset") {
    if (word(1) != "left" && word(1) != "right") return refuse(usage);
    expected = 2;
  } else if (action == "touch-go") {
    if ((word(1) != "upstream" && word(1) != "downstream") || (word(2) != "on" && word(2) != "off"))
      return refuse(usage);
    expected = 3;
  } else if (action == "dta-reset") {
    if (word(1) != "upstream" && word(1) != "downstream") return refuse(usage);
    expected = 2;
  } else if (action != "short-circuit-clear" && !action.empty()) {
    return refuse(usage);
  }
  if (!action.empty() && words.size() != expected) return refuse(usage);
  if (backward && action != "touch-go") return refuse("--backward belongs to touch-go");

  auto link = pages::MakeSocketModuleLink();
  pages::SpecialServices services(*link);
  pages::ServiceView view = services.Refresh(target.address);
  if (!view.connected) {
    cli::ReportFailure(
        command, base::Format("Connection to the module \"%s\" is lost !", target.address.c_str()));
    return cli::kExitFailed;
  }
  bool ok = true;
  std::string done;
  const pages::Zone zone = word(1) == "upstream" ? pages::Zone::Upstream : pages::Zone::Downstream;
  if (action == "hours-reset") {
    if (!view.hoursResetShown) {
      cli::ReportFailure(command,
                         "this board has no operating-time reset (register 17 has 0x800 and "
                         "0x100 set); nothing was sent");
      return cli::kExitFailed;
    }
    ok = services.ResetHours(word(1) == "left" ? pages::Motor::Left : pages::Motor::Right);
    done = "operating time of the " + word(1) + " motor reset";
  } else if (action == "short-circuit-clear") {
    ok = services.ClearShortCircuit();
    done = "motor short-circuit errors cleared";
  } else if (action == "dta-reset") {
    ok = services.ResetDta(zone);
    done = "DTA of the " + word(1) + " zone reset";
  } else if (action == "touch-go") {
    const bool on = word(2) == "on";
    if (on) std::fprintf(stderr, "%s\n", pages::kServiceTouchGoWarning);
    view = services.SetTouchGo(zone, backward, on);
    const size_t box = (zone == pages::Zone::Upstream ? 0u : 2u) + (backward ? 1u : 0u);
    done = pages::TouchGoName(zone, backward) + " " + word(2);
    if (!view.writeFailure.empty() || !view.connected || view.touchGo[box] != on) {
      // The refresh after a failed save may show the new bit: it is in RAM only.
      cli::ReportFailure(command, !view.writeFailure.empty()
                                      ? view.writeFailure
                                      : pages::NotSavedText(target.address, done, false));
      return cli::kExitFailed;
    }
  }
  if (!ok) {
    cli::ReportFailure(
        command, base::Format("module %s: %s failed", target.address.c_str(), action.c_str()));
    return cli::kExitFailed;
  }
  if (!done.empty()) cli::LogChange(command, target.address + ": " + done);
  PrintService(context, target.address, services.View(), done);
  return cli::kExitDone;
}

const CliCommandRegistrar kFlexZoneCommand(
    "flexzone",
    "Flex zone of every module of a network: status, or --enable / --disable / --time MS",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto network = std::make_shared<std::string>();
      auto enable = std::make_shared<bool>(false);
      auto disable = std::make_shared<bool>(false);
      auto time = std::make_shared<std::string>();
      sub.add_option("net", *network,
                     "The network (an address on it; default: the profile's \"Default Net\")");
      sub.add_flag("--enable", *enable, "Switch flex zone on at every module (time 50 ms)");
      sub.add_flag("--disable", *disable, "Switch flex zone off at every module (time 50 ms)");
      sub.add_option("--time", *time,
                     "Inter-module communication time in ms (0..65535) for every module");
      return [&context, network, enable, disable, time] {
        return RunFlexZone(context, *network, *enable, *disable, *time);
      };
    });

const CliCommandRegistrar kSensorsCommand(
    "sensors",
    "Sensor polarities of a module (register 34); --all FROM-TO copies them to a node range",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto arguments = cli::AddTargetArgument(sub);
      auto options = std::make_shared<SensorArguments>();
      const char* names[4] = {"--blocked-left", "--blocked-right", "--error-left", "--error-right"};
      for (size_t k = 0; k < 4; ++k)
        sub.add_option(names[k], options->settings[k], "inverted or normal");
      sub.add_option("--all", options->all,
                     "Copy the settings to nodes FROM-TO of the module's network (asks first)");
      cli::AddNetOption(sub, *arguments);
      return [&context, arguments, options] {
        return cli::RunOnTarget(context, "sensors", *arguments, [&](const cli::ResolvedTarget& t) {
          return RunSensors(context, t, *arguments, *options);
        });
      };
    });

const CliCommandRegistrar kServiceCommand(
    "service",
    "Special services of a module: hours-reset left|right, short-circuit-clear, touch-go "
    "upstream|downstream on|off [--backward], dta-reset upstream|downstream",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto arguments = cli::AddTargetArgument(sub);
      auto words = std::make_shared<std::vector<std::string>>();
      auto backward = std::make_shared<bool>(false);
      sub.add_option("action", *words, "The service and its arguments (none: show the state)");
      sub.add_flag("--backward", *backward, "touch-go: the zone's Backward option");
      cli::AddNetOption(sub, *arguments);
      return [&context, arguments, words, backward] {
        return cli::RunOnTarget(context, "service", *arguments, [&](const cli::ResolvedTarget& t) {
          return RunService(context, t, *words, *backward);
        });
      };
    });

}  // namespace
