#include "diag/diagnostic_log_reader.h"

#include "comm/blocking_socket.h"
#include "diag/drive_history.h"
#include "params/register_map.h"

namespace diag {

namespace {

std::optional<std::vector<uint16_t>> ReadWords(params::RegisterAccess& registers, uint16_t first,
                                               int count) {
  std::vector<uint16_t> words(static_cast<size_t>(count), 0);
  try {
    if (registers.ReadRegisters(first, static_cast<uint16_t>(count), words.data())) return words;
  } catch (const CBlockingSocketException&) {
  }
  return std::nullopt;
}

}  // namespace

DiagnosticLogs ReadDiagnosticLogs(params::RegisterAccess& registers) {
  DiagnosticLogs logs;
  if (const auto words = ReadWords(registers, 17, 1)) logs.register17 = words->at(0);
  logs.firstLogKept = !logs.register17 || HasFirstLog(*logs.register17);
  static constexpr uint16_t kFirst[2] = {kFirstLogRegister, kSecondLogRegister};
  for (size_t k = 0; k < 2; ++k) {
    if (k == 0 && !logs.firstLogKept) continue;
    if (const auto words = ReadWords(registers, kFirst[k], kLogRegisters)) {
      logs.rows[k] = DecodeLog(*words);
      logs.read[k] = true;
    }
  }
  return logs;
}

std::optional<std::string> ReadDriveHistoryAnswer(const std::string& address) {
  CCommandSocket port;
  if (port.Create() != comm::kStatusOk || !port.ConnectTelnet(address)) {
    port.Cleanup();
    return std::nullopt;
  }
  if (port.Send(kHistoryCommand, 1, 1000) != 1) {
    port.Cleanup();
    return std::nullopt;
  }
  std::string answer;
  char buffer[2048];
  for (int k = 0; k < 31; ++k) {
    const int got = port.Receive(buffer, sizeof buffer, 1000);
    // A second without data ends the answer early.
    if (got <= 0) break;
    answer.append(buffer, static_cast<size_t>(got));
  }
  port.Cleanup();
  if (answer.empty()) return std::nullopt;
  return answer;
}

}  // namespace diag
