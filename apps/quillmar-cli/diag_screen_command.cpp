// quillmar-cli diag TARGET [--watch]: what the diagnostic screen shows of a module (why each
// zone stops or accumulates, motor faults, zone errors, sensor states), read through the node
// screen's register image as the window does. --watch shows it again on every cycle of the node
// screen until SIGINT or SIGTERM; --json prints one object per refresh.
#include <arpa/inet.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "base/format.h"
#include "base/language.h"
#include "cli_command.h"
#include "comm/event_log.h"
#include "config/plc_program.h"
#include "diag/diagnostic_view.h"
#include "discovery/connect_inventory_link.h"
#include "params/node_screen_controller.h"
#include "params/node_screen_worker.h"

namespace {

using nlohmann::json;

struct DiagArguments {
  std::string target;
  std::string network;
  bool watch = false;
};

json MarkerJson(diag::FaultMarker marker) {
  switch (marker) {
    case diag::FaultMarker::kOvercurrent:
      return "overcurrent";
    case diag::FaultMarker::kFault:
      return "fault";
    case diag::FaultMarker::kNone:
      break;
  }
  return nullptr;
}

json ContentJson(const diag::DiagnosticContent& content) {
  json result{{"ip", content.address}, {"title", content.title}, {"reachable", content.reachable}};
  if (!content.reachable) {
    result["error"] = content.unreachableText;
    return result;
  }
  static constexpr const char* kZoneNames[2] = {"upstream", "downstream"};
  json zones = json::array();
  for (size_t z = 0; z < 2; ++z) {
    const diag::ZoneContent& zone = content.zones[z];
    // A field whose registers the module refused is null.
    auto known = [](bool isKnown, json value) { return isKnown ? value : json(nullptr); };
    zones.push_back({{"zone", kZoneNames[z]},
                     {"reason", known(zone.reasonKnown, zone.reason.text)},
                     {"emergency_stop", known(zone.reasonKnown, zone.reason.emergencyStop)},
                     {"errors", known(zone.errorsKnown, zone.errorText)},
                     {"sensor_connected", known(zone.sensorKnown, zone.sensor.connected)},
                     {"sensor_dirty", known(zone.sensorKnown, zone.sensor.dirty)},
                     {"dirt_counter", known(zone.sensorKnown, zone.sensor.dirtCounter)}});
  }
  static constexpr const char* kMotorNames[2] = {"left", "right"};
  json motors = json::array();
  for (size_t m = 0; m < 2; ++m) {
    const diag::MotorStatus& motor = content.motors[m];
    json faults = json::array();
    for (const std::string_view fault : motor.faults) faults.push_back(std::string(fault));
    const bool known = content.motorsKnown[m];
    motors.push_back({{"motor", kMotorNames[m]},
                      {"faults", known ? faults : json(nullptr)},
                      {"marker", known ? MarkerJson(motor.marker) : json(nullptr)},
                      {"missing", known ? json(motor.missing) : json(nullptr)}});
  }
  result["zones"] = zones;
  result["motors"] = motors;
  return result;
}

void Print(CliContext& context, const diag::DiagnosticContent& content) {
  if (context.json) {
    std::fprintf(context.out, "%s\n", ContentJson(content).dump().c_str());
  } else {
    std::fprintf(context.out, "%s", diag::DiagnosticText(content, base::CurrentLanguage()).c_str());
  }
  std::fflush(context.out);
}

// Sleeps one cycle of the node screen in short steps; false once the run is to end.
bool WaitCycle(const base::CancelToken& cancel) {
  constexpr uint32_t kStepMs = 20;
  for (uint32_t slept = 0; slept < params::NodeScreenWorker::kCycleMs; slept += kStepMs) {
    if (cancel.IsCancelled()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
  }
  return !cancel.IsCancelled();
}

int RunDiag(CliContext& context, const DiagArguments& arguments) {
  discovery::ScopedConnectInventory inventoryLink(context.app);
  const cli::ResolvedTarget target =
      cli::ResolveTarget(context, "diag", arguments.target, arguments.network);
  if (target.exitCode != cli::kExitDone) return target.exitCode;
  params::NodeScreenController screen(params::MakeSocketNodeLink([](const std::string& ip) {
                                        return config::ReadPlcProgramName(ip);
                                      }),
                                      context.prompt, context.profile);
  // The node screen's own start with an address: the module is its current node.
  screen.Start(target.address);
  if (context.chooser.ChoiceRefused()) {
    cli::ReportFailure("diag",
                       "several adapters carry modules and none could be chosen; the command was "
                       "not carried out");
    return cli::kExitChooseAdapter;
  }
  diag::DiagnosticContent previous;
  bool first = true;
  for (;;) {
    const diag::DiagnosticContent content = diag::ReadDiagnosticContent(screen);
    diag::LogHiddenReasons(content, first ? nullptr : &previous);
    Print(context, content);
    if (!content.reachable && !arguments.watch) {
      cli::ReportFailure("diag", content.unreachableText);
      return cli::kExitFailed;
    }
    if (!arguments.watch) return cli::kExitDone;
    previous = content;
    first = false;
    if (!WaitCycle(context.cancel)) return cli::kExitDone;
    // A module that was lost is connected again once it answers a ping: a connect failure
    // would be a question on the terminal every cycle.
    if (!screen.Connected()) {
      in_addr address{};
      if (inet_pton(AF_INET, target.address.c_str(), &address) == 1 &&
          screen.Link().PingOnce(address.s_addr)) {
        screen.ConnectTo(screen.Node());
      }
    }
    if (!context.json) std::fprintf(context.out, "\n");
  }
}

const CliCommandRegistrar kDiagCommand(
    "diag",
    "Show the diagnostic screen of a module: stop reasons, motor faults, zone errors, sensors "
    "(DIAG TARGET [--watch])",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto arguments = std::make_shared<DiagArguments>();
      sub.add_option("target", arguments->target,
                     "Node number (1..236, decimal), the module's IPv4 address, or sn:SERIAL")
          ->required();
      sub.add_option("--net", arguments->network,
                     "Network of node numbers (default: the profile's \"Default Net\")");
      sub.add_flag("--watch", arguments->watch,
                   "Show it again on every cycle of the node screen (500 ms) until interrupted");
      return [&context, arguments] { return RunDiag(context, *arguments); };
    });

}  // namespace
