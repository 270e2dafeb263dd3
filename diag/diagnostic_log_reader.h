#pragma once
// Reading the two diagnostic event logs of one module through a register client, as
// `CDiagnosticLog` does on the node screen's connection. Blocks its caller.
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "diag/diagnostic_log.h"

namespace params {
class RegisterAccess;
}

namespace diag {

struct DiagnosticLogs {
  std::optional<uint16_t> register17;  // nullopt: it could not be read (log 1 is tried anyway)
  bool firstLogKept = true;            // false for the family that keeps no log 1
  // Per log: its rows, and whether its read succeeded (a failed log is shown empty).
  std::array<std::vector<LogRow>, 2> rows;
  std::array<bool, 2> read{false, false};
};

DiagnosticLogs ReadDiagnosticLogs(params::RegisterAccess& registers);

// The drive history answer of the module at `address`: the welcome within 1 s, the command "7"
// (1 s to send), then up to 31 receives of 2048 bytes with 1 s each, appended. nullopt when no
// connection was made or nothing came back.
std::optional<std::string> ReadDriveHistoryAnswer(const std::string& address);

}  // namespace diag
