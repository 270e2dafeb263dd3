#pragma once
// The figures of `CDlgDiagnostic` ("Diagnose") that need no module: the last-reset text from
// registers 275 and 17, the parsers of the service text port's answers, the statistics text of
// one module and the file names and texts of the statistics files. Every parser reads only the
// bytes it was given.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace diag {

// Registers the dialog reads one at a time.
inline constexpr uint16_t kUndervoltageResetRegister = 23;
inline constexpr uint16_t kPlainResetRegister = 265;
inline constexpr uint16_t kLastResetRegister = 275;
inline constexpr uint16_t kReconnectRegister = 286;
inline constexpr uint16_t kResponseTimeoutRegister = 287;

// The text a field shows when its figure could not be read.
inline constexpr char kNotRead[] = "---";

// Module numbers 1 to 236 sit at host addresses 20 to 255.
inline constexpr int kFirstModule = 1;
inline constexpr int kLastModule = 236;
inline constexpr int kModuleHostOffset = 19;

// "Quelle letzten Resets:" from register 275 (`reason`) and register 17 (`hardware`).
std::string LastResetText(uint16_t reason, uint16_t hardware);

// The text port's figures, one single-letter command each.
struct FlashSaveCounters {
  std::optional<uint32_t> numSavedL;
  std::optional<uint32_t> numSavedH;
  std::optional<uint32_t> validCrcL;
  std::optional<uint32_t> validCrcH;
};
// `b`: the numbers after "numSavedL: ", "numSavedH: ", "bValidCRC_L: " and "bValidCRC_H: ".
FlashSaveCounters ParseFlashSaveCounters(std::string_view answer);

struct CpuLoad {
  int minimum = 100;
  int maximum = 0;
  double average = 0;
  int samples = 0;
};
// `l`: after an 11-character header and before 2 final characters, one 2-digit decimal sample
// every 3 characters. nullopt for an answer without samples or with a sample that is not two
// digits (the dialog then shows "---").
std::optional<CpuLoad> ParseCpuLoad(std::string_view answer);
// The average as the dialog and the file show it: "%.2f" (the programs format in the C locale).
std::string AverageText(double average);

// `m`: the text between ": " and " Bytes Free", "---" when absent.
std::string ParseFreeMemory(std::string_view answer);
// `r`: the whole answer.
std::string ParseFirmwareRevision(std::string_view answer);
// `t`, `g`, `i` and `f`: the answer without its first 2 characters.
std::string ParseListAnswer(std::string_view answer);

// Everything one module's statistics text is made of. A register that could not be read is
// empty and shows "---".
struct ModuleStatistics {
  std::string address;                         // "a.b.c.d"
  std::optional<uint16_t> undervoltageResets;  // register 23
  std::optional<uint16_t> plainResets;         // register 265
  std::optional<std::string> lastReset;        // registers 275 and 17
  std::optional<uint16_t> reconnects;          // register 286
  std::optional<uint16_t> responseTimeouts;    // register 287
  std::string flashCounters;                   // answer to b, as received
  std::optional<CpuLoad> cpuLoad;              // answer to l
  std::string freeMemory = kNotRead;           // answer to m, parsed
  std::string firmwareRevision;                // answer to r
  std::string tasks;                           // answer to t, parsed
  std::string guardedTasks;                    // answer to g, parsed
  std::string stackStatistics;                 // answer to i, parsed
  std::string lastAnswer;                      // answer to f, parsed
};
// One module's statistics text, the same in both kinds of file.
std::string StatisticsText(const ModuleStatistics& statistics);

// The first line of a statistics file: "Statistics Time: " and "%H:%M:%S, %B %d, %Y", line end.
std::string StatisticsTimeLine(const std::tm& localTime);
// A range file: the time line, then per module "\r\n\r\n" and its text, or "\r\nRead Error!\r\n"
// for a module that could not be read.
std::string StatisticsRangeText(const std::tm& localTime,
                                const std::vector<std::optional<std::string>>& modules);

// "<folder>/QuillmarStatistics_%d_%d_%d_%d_%s.txt" with the time as "%B_%d_%Y_%H_%M_%S".
std::string StatisticsFileName(const std::string& folder, const uint8_t (&address)[4],
                               const std::tm& localTime);
// "<folder>/QuillmarStatisticsRange_%d_%d_%d_%d__%d_%d_%d_%d_%s.txt": first and last address.
std::string StatisticsRangeFileName(const std::string& folder, const uint8_t (&first)[4],
                                    const uint8_t (&last)[4], const std::tm& localTime);

// The module number typed in the dialog: a plain decimal number from 1 to 236, else nullopt.
std::optional<int> ParseModuleNumber(std::string_view text);
// The host addresses of modules `from` to `to` (module n at n + 19); empty when either number
// is outside 1 to 236.
std::vector<int> RangeHostAddresses(int from, int to);
// The network as the dialog shows it: "%d.%d.%d.XX".
std::string NetworkText(const uint8_t (&network)[3]);

}  // namespace diag
