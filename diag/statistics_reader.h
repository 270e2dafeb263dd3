#pragma once
// Reading the figures of `CDlgDiagnostic` from one module: the counters and the last-reset
// source through the register client, one register at a time, and the service text port's
// answers (one letter each, 1 s to send and 1 s to answer). The reset of the counters goes
// through the register map. Toolkit-free; every function blocks its caller.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "diag/statistics.h"

namespace params {
class RegisterAccess;
class RegisterMap;
}  // namespace params

namespace diag {

// The service text port as the reader sees it: one letter out, its answer back; nullopt when
// the letter could not be sent or nothing came back in time.
class ServiceTextPort {
 public:
  virtual ~ServiceTextPort() = default;
  virtual std::optional<std::string> Ask(char command) = 0;
};

// The letters the statistics ask for, in the order the text shows their answers.
inline constexpr char kStatisticsCommands[] = {'b', 'l', 'm', 'r', 't', 'g', 'i', 'f'};
// How long each letter may take to go out, and its answer to start coming back.
inline constexpr uint32_t kServiceSendMs = 1000;
inline constexpr uint32_t kServiceAnswerMs = 1000;

// What one read gave. `registersAnswered` / `textAnswered`: at least one register / one letter
// came back. A module for which neither did is one that cannot be read ("Read Error!").
struct StatisticsRead {
  ModuleStatistics figures;
  bool registersAnswered = false;
  bool textAnswered = false;
  bool Answered() const { return registersAnswered || textAnswered; }
};

// Reads the figures of the module at `address` through `registers` and `port`; either may be
// null (its connection could not be made) and then its figures stay "---".
StatisticsRead ReadStatistics(const std::string& address, params::RegisterAccess* registers,
                              ServiceTextPort* port);

// Connects the register client and the service text port to `address`, reads, and closes both.
// nullopt when the module answered on neither.
std::optional<ModuleStatistics> ReadModuleStatistics(const std::string& address);

// The statistics text of the module at `address`, or nullopt when it cannot be read.
std::optional<std::string> ReadStatisticsText(const std::string& address);

// The two counter resets the dialog offers: the undervoltage counter alone, or every counter
// but that one.
enum class CounterReset { kUndervoltage, kOthers };
// The registers a reset clears.
std::vector<uint16_t> CounterResetRegisters(CounterReset which);
// Writes 0 into each counter of `which` and saves it to flash (the counters outlive a
// restart). False at the first counter the module refused; the ones before it are cleared.
bool ResetCounters(params::RegisterMap& map, CounterReset which);

}  // namespace diag
