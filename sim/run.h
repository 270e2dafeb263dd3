#pragma once
// linesim's run from start to end. Whatever ends it (a stop from a signal, the capture
// failing, an exception escaping a handler), the run returns, so that the simulator's
// destructor removes the modules' addresses and the control socket.
#include <functional>
#include <string>

#include "sim/simulator.h"

namespace sim {

struct RunOutcome {
  int status = 0;       // linesim's exit status: 0 stopped, 1 failed
  std::string message;  // why it failed; empty when it was stopped
};

// Starts the simulator, calls `started` once it runs, and runs its loop until Stop().
RunOutcome RunSimulator(Simulator& simulator, const std::function<void()>& started = {});

}  // namespace sim
