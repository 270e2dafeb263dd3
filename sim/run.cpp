#include "sim/run.h"

#include <exception>

namespace sim {

RunOutcome RunSimulator(Simulator& simulator, const std::function<void()>& started) {
  RunOutcome outcome;
  try {
    std::string error;
    if (!simulator.Start(&error)) return {1, error};
    if (started) started();
    simulator.Run();
    if (const std::string failure = simulator.CaptureError(); !failure.empty()) {
      return {1, "capture failed: " + failure};
    }
  } catch (const std::exception& failure) {
    return {1, std::string("stopped by an error: ") + failure.what()};
  } catch (...) {
    return {1, "stopped by an unknown error"};
  }
  return outcome;
}

}  // namespace sim
