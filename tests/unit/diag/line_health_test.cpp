// The line's health: the figures of one module from its registers, and the order that puts
// the worst module first.
#include "diag/line_health.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "comm/blocking_socket.h"
#include "diag/diagnostic_log.h"
#include "diag/diagnostic_screen.h"
#include "params/register_map.h"

namespace {

class ScriptedHealthRegisters : public params::RegisterAccess {
 public:
  bool ReadRegisters(uint16_t first, uint16_t count, uint16_t* values) override {
    if (throwing.count(first)) throw CBlockingSocketException("Receive timeout", 16);
    if (count == diag::kLogRegisters) {
      const auto log = logs.find(first);
      if (log == logs.end()) return false;
      std::fill(values, values + count, 0);
      std::copy(log->second.begin(), log->second.end(), values);
      return true;
    }
    for (uint16_t k = 0; k < count; ++k) {
      const auto found = registers.find(static_cast<uint16_t>(first + k));
      if (found == registers.end()) return false;
      values[k] = found->second;
    }
    return true;
  }
  bool WriteRegister(uint16_t, uint16_t) override { return false; }
  bool WriteRegisters(uint16_t, uint16_t, const uint16_t*) override { return false; }
  bool SaveToFlash(uint16_t, uint16_t) override { return false; }
  bool SaveToFlashGroup(uint16_t, uint16_t) override { return false; }

  std::map<uint16_t, uint16_t> registers;
  std::map<uint16_t, std::vector<uint16_t>> logs;
  std::set<uint16_t> throwing;
};

// One log entry: category, code, parameter, age in ms (low word first).
void AddHealthEntry(std::vector<uint16_t>& words, uint8_t category, uint8_t code, uint32_t ageMs) {
  words.push_back(static_cast<uint16_t>(code << 8 | category));
  words.push_back(1);
  words.push_back(static_cast<uint16_t>(ageMs & 0xFFFF));
  words.push_back(static_cast<uint16_t>(ageMs >> 16));
}

ScriptedHealthRegisters Module(uint16_t family) {
  ScriptedHealthRegisters m;
  m.registers = {{23, 2}, {265, 1}, {286, 1}, {287, 0}, {17, static_cast<uint16_t>(family << 8)},
                 {58, 0}, {82, 0},  {108, 0}, {188, 0}};
  m.logs[diag::kFirstLogRegister] = {};
  m.logs[diag::kSecondLogRegister] = {};
  return m;
}

TEST(LineHealth, FiguresOfOneModule) {
  ScriptedHealthRegisters m = Module(0x09);
  AddHealthEntry(m.logs[diag::kFirstLogRegister], 1, 3, 1000);
  AddHealthEntry(m.logs[diag::kFirstLogRegister], 2, 11, diag::kRecentEventMs - 1);
  AddHealthEntry(m.logs[diag::kFirstLogRegister], 6, 21,
                 diag::kRecentEventMs);  // a day old: not recent
  AddHealthEntry(m.logs[diag::kSecondLogRegister], 5, 2, 60000);
  m.registers[58] = diag::kMotorOvercurrent;
  m.registers[82] = diag::kMotorNotConnected;  // no drive: not a fault
  m.registers[188] = 0x0004;
  const diag::ModuleHealth h = diag::ReadHealth("192.168.202.28", &m);
  EXPECT_TRUE(h.answered);
  EXPECT_EQ(h.undervoltageResets, 2);
  EXPECT_EQ(h.plainResets, 1);
  EXPECT_EQ(h.reconnects, 1);
  EXPECT_EQ(h.responseTimeouts, 0);
  EXPECT_EQ(h.recentEvents, 3);
  EXPECT_EQ(h.motorFaults, 1);
  EXPECT_EQ(h.stoppedZones, 1);
}

TEST(LineHealth, TheIoFamilyKeepsNoFirstLogAndUnreadFiguresStayEmpty) {
  ScriptedHealthRegisters io = Module(0x0C);
  // Whatever the first log's registers hold, a module of family 0x0C keeps no log 1.
  AddHealthEntry(io.logs[diag::kFirstLogRegister], 1, 3, 1000);
  AddHealthEntry(io.logs[diag::kSecondLogRegister], 6, 20, 1000);
  EXPECT_EQ(diag::ReadHealth("10.0.0.2", &io).recentEvents, 1);

  ScriptedHealthRegisters lost = Module(0x00);
  lost.throwing = {286, diag::kSecondLogRegister, 58, 82};
  lost.logs.erase(diag::kFirstLogRegister);
  const diag::ModuleHealth h = diag::ReadHealth("10.0.0.3", &lost);
  EXPECT_FALSE(h.reconnects.has_value());
  EXPECT_FALSE(h.recentEvents.has_value());
  EXPECT_FALSE(h.motorFaults.has_value());
  EXPECT_EQ(h.stoppedZones, 0);

  const diag::ModuleHealth silent = diag::ReadHealth("10.0.0.4", nullptr);
  EXPECT_FALSE(silent.answered);
  EXPECT_FALSE(silent.undervoltageResets.has_value());
}

diag::ModuleHealth Health(const std::string& address, int resets, int events, int motors, int zones,
                          bool answered = true) {
  diag::ModuleHealth h;
  h.address = address;
  h.answered = answered;
  h.undervoltageResets = static_cast<uint16_t>(resets);
  h.plainResets = 0;
  h.reconnects = 0;
  h.responseTimeouts = 0;
  h.recentEvents = events;
  h.motorFaults = motors;
  h.stoppedZones = zones;
  return h;
}

TEST(LineHealth, WorstFirstThenByAddress) {
  std::vector<diag::ModuleHealth> modules = {
      Health("192.168.202.9", 0, 0, 0, 0),          // healthy
      Health("192.168.202.10", 0, 0, 0, 0),         // healthy, same score: numeric address order
      Health("192.168.202.30", 3, 4, 0, 0),         // score 7
      Health("192.168.202.31", 0, 0, 1, 0),         // a motor fault weighs more than 7 counts
      Health("192.168.202.32", 0, 0, 0, 0, false),  // does not answer: worst
      Health("192.168.202.33", 0, 2, 0, 1),         // a stopped zone and 2 events
  };
  diag::SortWorstFirst(modules);
  std::vector<std::string> order;
  for (const auto& m : modules) order.push_back(m.address);
  EXPECT_EQ(order, (std::vector<std::string>{"192.168.202.32", "192.168.202.33", "192.168.202.31",
                                             "192.168.202.30", "192.168.202.9", "192.168.202.10"}));
  EXPECT_EQ(diag::TroubleScore(modules[3]), 7);
  EXPECT_EQ(diag::TroubleScore(modules[1]), 12);
}

TEST(LineHealth, BoundedThreadsReadEveryModuleOnceInOrder) {
  std::vector<std::string> addresses;
  for (int k = 0; k < 40; ++k) addresses.push_back("10.0.0." + std::to_string(k));
  std::atomic<int> running{0};
  std::atomic<int> most{0};
  const std::vector<std::string> results =
      diag::ForEachModule<std::string>(addresses, 4, [&](const std::string& address) {
        const int now = ++running;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        --running;
        return address + "!";
      });
  ASSERT_EQ(results.size(), addresses.size());
  for (size_t k = 0; k < addresses.size(); ++k) EXPECT_EQ(results[k], addresses[k] + "!");
  EXPECT_LE(most.load(), 4);
  EXPECT_TRUE(diag::ForEachModule<int>({}, 4, [](const std::string&) { return 1; }).empty());
}

}  // namespace
