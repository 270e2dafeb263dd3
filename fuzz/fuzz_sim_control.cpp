// linesim's control commands: any bytes, split into lines as the control socket splits them,
// answered by a small line that was never started (no sockets, no addresses). Every line gets
// one answer line of JSON, and no two modules end up on one address unless one was asked to
// share it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "sim/control.h"
#include "sim/simulator.h"

namespace {

using nlohmann::json;

const sim::LineSetup& FuzzLine() {
  static const sim::LineSetup line = sim::ParseLine(json::parse(R"({"chains": [[
      {"serial": 101, "node": 1, "family": "0x09"}, {"serial": 102, "node": 2},
      {"serial": 103, "node": 3, "alive": false}]]})"));
  return line;
}

void CheckAnswer(const std::string& answer) {
  if (answer.find('\n') != std::string::npos) __builtin_trap();
  const json parsed = json::parse(answer, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object() || !parsed.contains("ok") ||
      !parsed["ok"].is_boolean()) {
    __builtin_trap();
  }
  if (!parsed["ok"].get<bool>() && !(parsed.contains("error") && parsed["error"].is_string()))
    __builtin_trap();
}

void CheckAddresses(sim::Simulator& simulator) {
  for (size_t i = 0; i < simulator.ModuleCount(); ++i) {
    for (size_t j = i + 1; j < simulator.ModuleCount(); ++j) {
      sim::SimModule& a = simulator.Module(i);
      sim::SimModule& b = simulator.Module(j);
      if (a.Address() == b.Address() && !a.ModuleFaults().sharesAddressOf &&
          !b.ModuleFaults().sharesAddressOf) {
        __builtin_trap();
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sim::Simulator simulator(FuzzLine(), sim::SimulatorOptions{});
  const sim::ControlServer::Dispatch dispatch = [&simulator](const json& request) {
    return simulator.HandleControl(request);
  };
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start < input.size()) {
    size_t end = input.find('\n', start);
    if (end == std::string_view::npos) end = input.size();
    CheckAnswer(sim::AnswerControlLine(dispatch, input.substr(start, end - start)));
    CheckAddresses(simulator);
    start = end + 1;
  }
  return 0;
}
