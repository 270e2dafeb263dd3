#pragma once
// The health of a line at a glance: per module the figures that mean trouble (resets,
// reconnects, connection time-outs, events logged in the last 24 hours, motor faults, zones
// stopped by an error), and the order that puts the module in the worst state first.
// Toolkit-free; the read blocks its caller and may run on any thread.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace params {
class RegisterAccess;
}

namespace diag {

// Log entries younger than this count as recent.
inline constexpr uint32_t kRecentEventMs = 24u * 60u * 60u * 1000u;

struct ModuleHealth {
  std::string address;
  bool answered = false;                       // the register client could be connected
  std::optional<uint16_t> undervoltageResets;  // register 23
  std::optional<uint16_t> plainResets;         // register 265
  std::optional<uint16_t> reconnects;          // register 286
  std::optional<uint16_t> responseTimeouts;    // register 287
  std::optional<int> recentEvents;             // entries of both logs younger than 24 h
  std::optional<int> motorFaults;              // motors whose status word marks a fault
  std::optional<int> stoppedZones;             // zones whose error word is not 0
};

// How bad a module stands: a module that does not answer is worst of all; a motor fault or a
// zone stopped by an error weighs as much as ten counted resets, since the line stands now.
int TroubleScore(const ModuleHealth& health);
// Worst first; equal ones by address (numerically).
void SortWorstFirst(std::vector<ModuleHealth>& modules);

// Entries of a log's decoded words younger than kRecentEventMs.
int RecentEventCount(std::span<const uint16_t> logWords);

// Reads the figures of one module through `registers` (null: the module did not answer).
ModuleHealth ReadHealth(const std::string& address, params::RegisterAccess* registers);
// Connects a register client to `address` and reads.
ModuleHealth ReadModuleHealth(const std::string& address);

// `work(k)` runs once for every k below `count`, on at most `threads` threads at once.
void RunBounded(size_t count, unsigned threads, const std::function<void(size_t)>& work);

// Runs `read` for every address on at most `threads` threads at once; the results in the order
// of `addresses`.
template <typename Result>
std::vector<Result> ForEachModule(const std::vector<std::string>& addresses, unsigned threads,
                                  const std::function<Result(const std::string&)>& read) {
  std::vector<Result> results(addresses.size());
  RunBounded(addresses.size(), threads, [&](size_t k) { results[k] = read(addresses[k]); });
  return results;
}

}  // namespace diag
