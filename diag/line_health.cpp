#include "diag/line_health.h"

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <thread>

#include "comm/blocking_socket.h"
#include "diag/diagnostic_log.h"
#include "diag/diagnostic_screen.h"
#include "diag/statistics.h"
#include "params/register_map.h"

namespace diag {

namespace {

constexpr int kFaultWeight = 10;

std::optional<uint16_t> ReadOne(params::RegisterAccess& registers, uint16_t reg) {
  uint16_t value = 0;
  try {
    if (registers.ReadRegisters(reg, 1, &value)) return value;
  } catch (const CBlockingSocketException&) {
  }
  return std::nullopt;
}

std::optional<std::vector<uint16_t>> ReadLog(params::RegisterAccess& registers, uint16_t first) {
  std::vector<uint16_t> words(kLogRegisters, 0);
  try {
    if (registers.ReadRegisters(first, kLogRegisters, words.data())) return words;
  } catch (const CBlockingSocketException&) {
  }
  return std::nullopt;
}

uint32_t AddressValue(const std::string& address) {
  in_addr parsed{};
  if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) return UINT32_MAX;
  return ntohl(parsed.s_addr);
}

}  // namespace

int TroubleScore(const ModuleHealth& h) {
  if (!h.answered) return INT_MAX;
  int score = 0;
  score += h.undervoltageResets.value_or(0);
  score += h.plainResets.value_or(0);
  score += h.reconnects.value_or(0);
  score += h.responseTimeouts.value_or(0);
  score += h.recentEvents.value_or(0);
  score += kFaultWeight * h.motorFaults.value_or(0);
  score += kFaultWeight * h.stoppedZones.value_or(0);
  return score;
}

void SortWorstFirst(std::vector<ModuleHealth>& modules) {
  std::stable_sort(modules.begin(), modules.end(),
                   [](const ModuleHealth& a, const ModuleHealth& b) {
                     const int scoreA = TroubleScore(a);
                     const int scoreB = TroubleScore(b);
                     if (scoreA != scoreB) return scoreA > scoreB;
                     return AddressValue(a.address) < AddressValue(b.address);
                   });
}

int RecentEventCount(std::span<const uint16_t> logWords) {
  int count = 0;
  for (const LogEntry& entry : DecodeLogEntries(logWords)) {
    if (entry.timeMs < kRecentEventMs) ++count;
  }
  return count;
}

ModuleHealth ReadHealth(const std::string& address, params::RegisterAccess* registers) {
  ModuleHealth h;
  h.address = address;
  if (registers == nullptr) return h;
  h.answered = true;
  h.undervoltageResets = ReadOne(*registers, kUndervoltageResetRegister);
  h.plainResets = ReadOne(*registers, kPlainResetRegister);
  h.reconnects = ReadOne(*registers, kReconnectRegister);
  h.responseTimeouts = ReadOne(*registers, kResponseTimeoutRegister);

  // Log 1 is not kept by every family; register 17 tells, and without it log 1 is tried.
  const std::optional<uint16_t> hardware = ReadOne(*registers, 17);
  int events = 0;
  bool anyLog = false;
  if (!hardware || HasFirstLog(*hardware)) {
    if (const auto words = ReadLog(*registers, kFirstLogRegister)) {
      events += RecentEventCount(*words);
      anyLog = true;
    }
  }
  if (const auto words = ReadLog(*registers, kSecondLogRegister)) {
    events += RecentEventCount(*words);
    anyLog = true;
  }
  if (anyLog) h.recentEvents = events;

  int motors = 0;
  bool motorRead = false;
  for (const int reg : kMotorStatusRegister) {
    if (const auto word = ReadOne(*registers, static_cast<uint16_t>(reg))) {
      motorRead = true;
      // The screen marks these bits as a fault; a drive that is not connected is not one.
      if (MotorStatusOf(*word).marker != FaultMarker::kNone) ++motors;
    }
  }
  if (motorRead) h.motorFaults = motors;

  int zones = 0;
  bool zoneRead = false;
  for (const int reg : kZoneErrorRegister) {
    if (const auto word = ReadOne(*registers, static_cast<uint16_t>(reg))) {
      zoneRead = true;
      if (*word != 0) ++zones;
    }
  }
  if (zoneRead) h.stoppedZones = zones;
  return h;
}

ModuleHealth ReadModuleHealth(const std::string& address) {
  CBlockingSocket client;
  bool connected = false;
  try {
    connected = client._Connect(address, CBlockingSocket::kModbusPort, true) == 1;
  } catch (const CBlockingSocketException&) {
    connected = false;
  }
  params::ClientRegisterAccess access(client);
  return ReadHealth(address, connected ? &access : nullptr);
}

void RunBounded(size_t count, unsigned threads, const std::function<void(size_t)>& work) {
  const size_t workers = std::min<size_t>(std::max(1u, threads), count);
  std::atomic<size_t> next{0};
  std::vector<std::thread> pool;
  pool.reserve(workers);
  for (size_t t = 0; t < workers; ++t) {
    pool.emplace_back([&] {
      for (size_t k = next++; k < count; k = next++) work(k);
    });
  }
  for (std::thread& thread : pool) thread.join();
}

}  // namespace diag
