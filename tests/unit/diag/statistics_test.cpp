// The statistics figures: last-reset text, the service port's answers, the statistics text and
// the statistics files' names.
#include "diag/statistics.h"

#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace {

std::tm December10() {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 10;
  t.tm_hour = 14;
  t.tm_min = 5;
  t.tm_sec = 9;
  t.tm_wday = 4;
  t.tm_yday = 343;
  return t;
}

TEST(Statistics, CpuLoadMinimumMaximumAverage) {
  // 11 header characters, the values 05, 10 and 85 each followed by a blank, 2 final ones.
  const std::optional<diag::CpuLoad> load = diag::ParseCpuLoad("CPU Load:  05 10 85 \r\n");
  ASSERT_TRUE(load.has_value());
  EXPECT_EQ(load->minimum, 5);
  EXPECT_EQ(load->maximum, 85);
  EXPECT_EQ(load->samples, 3);
  EXPECT_EQ(diag::AverageText(load->average), "33.33");
}

TEST(Statistics, CpuLoadAnswersThatCarryNoLoad) {
  struct Case {
    const char* answer;
    std::optional<int> samples;
  };
  const Case cases[] = {
      {"", std::nullopt},
      {"CPU Load:  \r", std::nullopt},      // 12 characters: not even header and end
      {"CPU Load:  \r\n", std::nullopt},    // header and end, no sample
      {"CPU Load:  5 \r\n", std::nullopt},  // one character is not a sample
      {"CPU Load:  05 1x 85 \r\n", std::nullopt},
      {"CPU Load:  -5 \r\n", std::nullopt},
      {"CPU Load:  99\r\n", 1},       // the last sample needs no blank after it
      {"CPU Load:  00 99 4\r\n", 2},  // a lone digit at the end is no sample
  };
  for (const Case& c : cases) {
    const auto load = diag::ParseCpuLoad(c.answer);
    EXPECT_EQ(load.has_value(), c.samples.has_value()) << c.answer;
    if (load && c.samples) {
      EXPECT_EQ(load->samples, *c.samples) << c.answer;
    }
  }
  const auto two = diag::ParseCpuLoad("CPU Load:  00 99 4\r\n");
  ASSERT_TRUE(two.has_value());
  EXPECT_EQ(two->minimum, 0);
  EXPECT_EQ(two->maximum, 99);
  EXPECT_EQ(diag::AverageText(two->average), "49.50");
}

TEST(Statistics, LastResetText) {
  struct Case {
    uint16_t reason, hardware;
    const char* text;
  };
  const Case cases[] = {
      // Other modules: bits 8 to 10 of register 275 name the source.
      {0x0000, 0x0001, "Spannungsabschaltung Reset"},
      {0x0100, 0x0001, ""},
      {0x0200, 0x0001, "Watchdog Reset"},
      {0x0300, 0x0001, "Software Reset"},
      {0x0400, 0x0201, "Benutzer Reset"},
      {0x0500, 0x0401, "Brownout Reset"},
      {0x0600, 0x0001, ""},
      {0x0700, 0x0A01, ""},
      {0xF8FF, 0x0200, "Spannungsabschaltung Reset"},  // other bits do not count
      {0x0600, 0x0C00 - 0x0100, ""},                   // 0x0B is not one of the five
      // Modules of types 0x03, 0x05, 0x06, 0x09 and 0x0C: one flag per source.
      {0x0600, 0x0301, "Low Voltage Detect Reset,Loss of Clock Reset,"},
      {0x0000, 0x0501, ""},
      {0x0001, 0x0601, "JTAC Reset,"},
      {0x001F, 0x0901,
       "JTAC Reset,LockUp Core Reset,Software Reset,MDM-AP System Reset Request,EzPort Reset,"},
      {0x0000, 0x0C20, "Stop mode Ack Error Reset,"},
      {0x0020, 0x0C00, ""},  // bit 5 is taken from register 17, not from 275
      {0x0105, 0x0320, "Low Leakage WakeUp Reset,"},
      {0x0305, 0x0300, "Low Leakage WakeUp Reset,Low Voltage Detect Reset,"},
      {0x0800, 0x0900, "Loss of Lock Reset,"},
      {0x6000, 0x0900, "Watchdog Reset,Benutzer Reset,"},
      {0x1000, 0x0900, ""},  // bit 12 names no source
      {0xFFFF, 0x0CFF, "Spannungsabschaltung Reset,"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(diag::LastResetText(c.reason, c.hardware), c.text)
        << std::hex << c.reason << " " << c.hardware;
  }
}

TEST(Statistics, FlashSaveCounters) {
  const diag::FlashSaveCounters all = diag::ParseFlashSaveCounters(
      "Serial Flash Stats\r\nReplace Info Save Counters\r\nnumSavedL: 12\r\nnumSavedH: 3\r\n"
      "bValidCRC_L: 1\r\nbValidCRC_H: 4294967295\r\n");
  EXPECT_EQ(all.numSavedL, 12u);
  EXPECT_EQ(all.numSavedH, 3u);
  EXPECT_EQ(all.validCrcL, 1u);
  EXPECT_EQ(all.validCrcH, 4294967295u);
  const diag::FlashSaveCounters broken =
      diag::ParseFlashSaveCounters("numSavedL: x\r\nnumSavedH: 4294967296\r\nbValidCRC_L: 7");
  EXPECT_EQ(broken.numSavedL, std::nullopt);
  EXPECT_EQ(broken.numSavedH, std::nullopt);
  EXPECT_EQ(broken.validCrcL, 7u);
  EXPECT_EQ(broken.validCrcH, std::nullopt);
  EXPECT_EQ(diag::ParseFlashSaveCounters("numSavedL: ").numSavedL, std::nullopt);
}

TEST(Statistics, OtherServiceAnswers) {
  EXPECT_EQ(diag::ParseFreeMemory("Heap: 1234 Bytes Free\r\n"), "1234");
  EXPECT_EQ(diag::ParseFreeMemory("Heap: 1234 bytes\r\n"), "---");
  EXPECT_EQ(diag::ParseFreeMemory("1234 Bytes Free"), "---");
  EXPECT_EQ(diag::ParseFreeMemory(" Bytes Free: 12"), "---");
  EXPECT_EQ(diag::ParseFreeMemory(""), "---");
  EXPECT_EQ(diag::ParseFirmwareRevision("V3.2.1 Dec 1 2026\r\n"), "V3.2.1 Dec 1 2026\r\n");
  EXPECT_EQ(diag::ParseListAnswer("\r\nTask A\r\nTask B\r\n"), "Task A\r\nTask B\r\n");
  EXPECT_EQ(diag::ParseListAnswer("\r\n"), "");
  EXPECT_EQ(diag::ParseListAnswer("x"), "");
  EXPECT_EQ(diag::ParseListAnswer(""), "");
}

TEST(Statistics, StatisticsTextOfOneModule) {
  diag::ModuleStatistics s;
  s.address = "192.168.202.20";
  s.undervoltageResets = 4;
  s.plainResets = 65535;
  s.lastReset = "Watchdog Reset";
  s.reconnects = 2;
  s.responseTimeouts = 0;
  s.flashCounters = "numSavedL: 12\r\n";
  s.cpuLoad = diag::ParseCpuLoad("CPU Load:  05 10 85 \r\n");
  s.freeMemory = diag::ParseFreeMemory("Heap: 1234 Bytes Free\r\n");
  s.firmwareRevision = "V3.2.1";
  s.tasks = "T1\r\n";
  s.guardedTasks = "G1\r\n";
  s.stackStatistics = "S1\r\n";
  s.lastAnswer = "F1";
  EXPECT_EQ(diag::StatisticsText(s),
            "IP Address: 192.168.202.20\r\n"
            "Reset Counter after Voltage < 18V: 4\r\n"
            "Reset Counter without Voltage Drop: 65535\r\n"
            "Last Reset Type: Watchdog Reset\r\n"
            "Reconnect Counter: 2\r\n"
            "Connection Response Timeout Counter: 0\r\n"
            "\r\nReplace Info Save Counters\r\n"
            "numSavedL: 12\r\n"
            "\r\nCPU Load, [%]\r\n"
            "Min: 5\r\n"
            "Max: 85\r\n"
            "Average: 33.33\r\n"
            "\r\nFree Memory, [Bytes]: 1234\r\n"
            "\r\nFirmware revision\r\n"
            "V3.2.1\r\n"
            "\r\nList all the tasks\r\n"
            "T1\r\n"
            "\r\nDisplay Guarded Tasks\r\n"
            "G1\r\n"
            "\r\nLwIP statistics\r\n"
            "S1\r\n"
            "\r\nF1\r\n");
}

TEST(Statistics, UnreadFiguresShowDashes) {
  diag::ModuleStatistics s;
  s.address = "192.168.202.21";
  EXPECT_EQ(diag::StatisticsText(s),
            "IP Address: 192.168.202.21\r\n"
            "Reset Counter after Voltage < 18V: ---\r\n"
            "Reset Counter without Voltage Drop: ---\r\n"
            "Last Reset Type: ---\r\n"
            "Reconnect Counter: ---\r\n"
            "Connection Response Timeout Counter: ---\r\n"
            "\r\nReplace Info Save Counters\r\n"
            "\r\nCPU Load, [%]\r\n"
            "Min: ---\r\n"
            "Max: ---\r\n"
            "Average: ---\r\n"
            "\r\nFree Memory, [Bytes]: ---\r\n"
            "\r\nFirmware revision\r\n"
            "\r\n"
            "\r\nList all the tasks\r\n"
            "\r\nDisplay Guarded Tasks\r\n"
            "\r\nLwIP statistics\r\n"
            "\r\n\r\n");
}

TEST(Statistics, RangeCoversHostAddresses) {
  EXPECT_EQ(diag::RangeHostAddresses(1, 3), (std::vector<int>{20, 21, 22}));
  EXPECT_EQ(diag::RangeHostAddresses(236, 236), (std::vector<int>{255}));
  EXPECT_EQ(diag::RangeHostAddresses(1, 236).size(), 236u);
  EXPECT_TRUE(diag::RangeHostAddresses(3, 1).empty());
  EXPECT_TRUE(diag::RangeHostAddresses(0, 3).empty());
  EXPECT_TRUE(diag::RangeHostAddresses(1, 237).empty());
}

TEST(Statistics, ModuleNumberTyped) {
  struct Case {
    const char* text;
    std::optional<int> number;
  };
  const Case cases[] = {{"1", 1},
                        {"236", 236},
                        {"17", 17},
                        {"0", std::nullopt},
                        {"237", std::nullopt},
                        {"", std::nullopt},
                        {"1a", std::nullopt},
                        {" 5", std::nullopt},
                        {"-1", std::nullopt},
                        {"+5", std::nullopt},
                        {"99999999999", std::nullopt}};
  for (const Case& c : cases) EXPECT_EQ(diag::ParseModuleNumber(c.text), c.number) << c.text;
}

TEST(Statistics, FileNamesAndTimeLine) {
  const uint8_t first[4] = {192, 168, 202, 20};
  const uint8_t last[4] = {192, 168, 202, 22};
  EXPECT_EQ(diag::StatisticsFileName("/home/u/Desktop", first, December10()),
            "/home/u/Desktop/QuillmarStatistics_192_168_202_20_December_10_2026_14_05_09.txt");
  EXPECT_EQ(diag::StatisticsRangeFileName("/opt/q/", first, last, December10()),
            "/opt/q/QuillmarStatisticsRange_192_168_202_20__192_168_202_22_December_10_2026_14_05_"
            "09.txt");
  EXPECT_EQ(diag::StatisticsTimeLine(December10()),
            "Statistics Time: 14:05:09, December 10, 2026\r\n");
  const uint8_t network[3] = {192, 168, 202};
  EXPECT_EQ(diag::NetworkText(network), "192.168.202.XX");
}

TEST(Statistics, RangeTextMarksModulesThatCouldNotBeRead) {
  EXPECT_EQ(diag::StatisticsRangeText(December10(),
                                      {std::string("A\r\n"), std::nullopt, std::string("C\r\n")}),
            "Statistics Time: 14:05:09, December 10, 2026\r\n"
            "\r\n\r\nA\r\n"
            "\r\n\r\n\r\nRead Error!\r\n"
            "\r\n\r\nC\r\n");
}

}  // namespace
