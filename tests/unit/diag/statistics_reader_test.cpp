// Reading one module's statistics through a scripted register client and text port: which
// registers and letters are asked, what a missing answer leaves, when a module counts as not
// read at all, and which counters each reset clears.
#include "diag/statistics_reader.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "comm/blocking_socket.h"
#include "params/register_map.h"

namespace {

class ScriptedRegisters : public params::RegisterAccess {
 public:
  bool ReadRegisters(uint16_t first, uint16_t count, uint16_t* values) override {
    reads.push_back(first);
    EXPECT_EQ(count, 1) << "the statistics read one register at a time";
    if (dead) throw CBlockingSocketException("Receive timeout", 16);
    const auto found = registers.find(first);
    if (found == registers.end()) return false;
    values[0] = found->second;
    return true;
  }
  bool WriteRegister(uint16_t, uint16_t) override { return false; }
  bool WriteRegisters(uint16_t, uint16_t, const uint16_t*) override { return false; }
  bool SaveToFlash(uint16_t reg, uint16_t value) override {
    if (refusedSaves.count(reg)) return false;
    saved.push_back({reg, value});
    return true;
  }
  bool SaveToFlashGroup(uint16_t, uint16_t) override { return false; }

  std::map<uint16_t, uint16_t> registers;
  std::set<uint16_t> refusedSaves;
  bool dead = false;
  std::vector<uint16_t> reads;
  std::vector<std::pair<uint16_t, uint16_t>> saved;
};

class ScriptedPort : public diag::ServiceTextPort {
 public:
  std::optional<std::string> Ask(char command) override {
    asked += command;
    const auto found = answers.find(command);
    if (found == answers.end()) return std::nullopt;
    return found->second;
  }
  std::map<char, std::string> answers;
  std::string asked;
};

ScriptedRegisters HealthyRegisters() {
  ScriptedRegisters registers;
  registers.registers = {{23, 4}, {265, 7}, {275, 0x0200}, {17, 0x0001}, {286, 3}, {287, 9}};
  return registers;
}

ScriptedPort HealthyPort() {
  ScriptedPort port;
  port.answers = {{'b', "numSavedL: 12\r\n"},
                  {'l', "CPU Load:  05 10 85 \r\n"},
                  {'m', "Heap: 20480 Bytes Free\r\n"},
                  {'r', "4.14.2"},
                  {'t', "\r\nidle task\r\n"},
                  {'g', "\r\nguarded\r\n"},
                  {'i', "\r\nTCP ok\r\n"},
                  {'f', "\r\nlast\r\n"}};
  return port;
}

TEST(StatisticsReader, ReadsEveryRegisterAndLetterIntoTheText) {
  ScriptedRegisters registers = HealthyRegisters();
  ScriptedPort port = HealthyPort();
  const diag::StatisticsRead read = diag::ReadStatistics("192.168.202.20", &registers, &port);
  EXPECT_TRUE(read.Answered());
  EXPECT_EQ(registers.reads, (std::vector<uint16_t>{23, 265, 275, 17, 286, 287}));
  EXPECT_EQ(port.asked, "blmrtgif");
  const std::string text = diag::StatisticsText(read.figures);
  EXPECT_NE(text.find("Reset Counter after Voltage < 18V: 4\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Reset Counter without Voltage Drop: 7\r\n"), std::string::npos);
  EXPECT_NE(text.find("Last Reset Type: Watchdog Reset\r\n"), std::string::npos);
  EXPECT_NE(text.find("Reconnect Counter: 3\r\n"), std::string::npos);
  EXPECT_NE(text.find("Connection Response Timeout Counter: 9\r\n"), std::string::npos);
  EXPECT_NE(text.find("Average: 33.33\r\n"), std::string::npos);
  EXPECT_NE(text.find("Free Memory, [Bytes]: 20480\r\n"), std::string::npos);
  EXPECT_NE(text.find("List all the tasks\r\nidle task\r\n"), std::string::npos);
}

TEST(StatisticsReader, WhatDoesNotAnswerShowsDashesAndOnlySilenceIsAReadError) {
  struct Case {
    const char* name;
    bool registers;
    bool registersDead;
    bool port;
    bool answered;
  };
  const Case cases[] = {
      {"both answer", true, false, true, true},
      {"no register client", false, false, true, true},
      {"register client dies", true, true, true, true},
      {"no text port", true, false, false, true},
      {"nothing answers", true, true, false, false},
      {"nothing connects", false, false, false, false},
  };
  for (const Case& c : cases) {
    ScriptedRegisters registers = HealthyRegisters();
    registers.dead = c.registersDead;
    ScriptedPort port = HealthyPort();
    const diag::StatisticsRead read = diag::ReadStatistics(
        "192.168.202.21", c.registers ? &registers : nullptr, c.port ? &port : nullptr);
    EXPECT_EQ(read.Answered(), c.answered) << c.name;
    const std::string text = diag::StatisticsText(read.figures);
    const bool registersRead = c.registers && !c.registersDead;
    EXPECT_EQ(text.find("Reconnect Counter: ---\r\n") != std::string::npos, !registersRead)
        << c.name;
    EXPECT_EQ(text.find("Last Reset Type: ---\r\n") != std::string::npos, !registersRead) << c.name;
    EXPECT_EQ(text.find("Min: ---\r\n") != std::string::npos, !c.port) << c.name;
  }
}

TEST(StatisticsReader, ARefusedRegisterLeavesOnlyItsOwnFigureUnread) {
  ScriptedRegisters registers = HealthyRegisters();
  registers.registers.erase(17);  // family unknown: the last reset cannot be told
  registers.registers.erase(287);
  ScriptedPort port;  // nothing on the text port
  const diag::StatisticsRead read = diag::ReadStatistics("10.0.0.1", &registers, &port);
  EXPECT_TRUE(read.Answered());
  EXPECT_FALSE(read.textAnswered);
  EXPECT_EQ(read.figures.undervoltageResets, 4);
  EXPECT_EQ(read.figures.reconnects, 3);
  EXPECT_FALSE(read.figures.lastReset.has_value());
  EXPECT_FALSE(read.figures.responseTimeouts.has_value());
  EXPECT_EQ(read.figures.freeMemory, "---");
}

TEST(StatisticsReader, EachResetClearsItsCountersAndSavesThem) {
  struct Case {
    diag::CounterReset which;
    std::vector<std::pair<uint16_t, uint16_t>> saved;
  };
  const Case cases[] = {
      {diag::CounterReset::kUndervoltage, {{23, 0}}},
      {diag::CounterReset::kOthers, {{265, 0}, {286, 0}, {287, 0}}},
  };
  for (const Case& c : cases) {
    ScriptedRegisters registers = HealthyRegisters();
    params::RegisterMap map(registers);
    EXPECT_TRUE(diag::ResetCounters(map, c.which));
    EXPECT_EQ(registers.saved, c.saved);
  }
}

TEST(StatisticsReader, AResetStopsAtTheFirstRefusedCounter) {
  ScriptedRegisters registers = HealthyRegisters();
  registers.refusedSaves = {286};
  params::RegisterMap map(registers);
  EXPECT_FALSE(diag::ResetCounters(map, diag::CounterReset::kOthers));
  EXPECT_EQ(registers.saved, (std::vector<std::pair<uint16_t, uint16_t>>{{265, 0}}));

  struct Throwing : ScriptedRegisters {
    bool SaveToFlash(uint16_t, uint16_t) override {
      throw CBlockingSocketException("Send error", 104);
    }
  } throwing;
  params::RegisterMap lost(throwing);
  EXPECT_FALSE(diag::ResetCounters(lost, diag::CounterReset::kUndervoltage));
}

}  // namespace
