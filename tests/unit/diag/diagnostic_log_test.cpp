// The diagnostic event logs: entries decoded from the registers as read, one row per entry.
#include "diag/diagnostic_log.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using diag::DecodeLog;
using diag::LogRow;

// One entry as the module stores it: category and code, parameter, time low and high word.
void AddEntry(std::vector<uint16_t>& words, int category, int code, uint16_t parameter,
              uint32_t timeMs) {
  words.push_back(static_cast<uint16_t>(code << 8 | category));
  words.push_back(parameter);
  words.push_back(static_cast<uint16_t>(timeMs & 0xFFFF));
  words.push_back(static_cast<uint16_t>(timeMs >> 16));
}

// A whole log read: 600 registers, the given entries first, zeros after them.
std::vector<uint16_t> Log(const std::vector<uint16_t>& entries) {
  std::vector<uint16_t> words = entries;
  words.resize(600, 0);
  return words;
}

LogRow RowOf(int category, int code, uint16_t parameter, uint32_t timeMs = 1) {
  std::vector<uint16_t> words;
  AddEntry(words, category, code, parameter, timeMs);
  const std::vector<LogRow> rows = DecodeLog(Log(words));
  EXPECT_EQ(rows.size(), 1u);
  return rows.empty() ? LogRow{} : rows[0];
}

TEST(DiagnosticLog, MotorUndervoltageEntry) {
  const LogRow row = RowOf(1, 11, 230);
  EXPECT_EQ(row.cause, " MOTOR A");
  EXPECT_EQ(row.description, "Unterspannung Occur");
  EXPECT_EQ(row.value, "230");
}

TEST(DiagnosticLog, TimeSinceTheEvent) {
  struct Case {
    uint32_t ms;
    const char* text;
  };
  const Case cases[] = {
      {90061001, "1Tage, 01:01:01.001"},
      {61001, "00:01:01.001"},
      {1, "00:00:00.001"},
      {86399999, "23:59:59.999"},
      {86400000, "1Tage, 00:00:00.000"},
      {0xFFFFFFFF, "49Tage, 17:02:47.295"},
  };
  for (const Case& c : cases) {
    // Through the registers, so that the word order of the time is checked too.
    EXPECT_EQ(RowOf(1, 1, 0, c.ms).time, c.text) << c.ms;
    EXPECT_EQ(diag::EventAgeText(c.ms), c.text) << c.ms;
  }
}

TEST(DiagnosticLog, RowsByCategory) {
  struct Case {
    int category, code;
    uint16_t parameter;
    const char* cause;
    const char* description;
    const char* value;
  };
  const Case cases[] = {
      // Modbus and sensor rows show a hyphen as value; unknown pairs an empty text.
      {5, 1, 7, "MODBUS", "", "-"},
      {5, 1, 1, "MODBUS", "Peer Verbindung fehlgeschlagen", "-"},
      {5, 1, 6, "MODBUS", "SPS trennungen", "-"},
      {5, 2, 4, "MODBUS", "(Read/Write function) Register existiert nicht", "-"},
      {5, 2, 5, "MODBUS", "Nicht unterstützte Anzahl Register", "-"},
      {5, 2, 6, "MODBUS", "", "-"},
      {5, 0, 3, "MODBUS", "", "-"},
      {5, 3, 1, "MODBUS", "", "-"},
      // EtherNet/IP: the code's text and the parameter as a number.
      {4, 12, 3, "ETHERNETIP", "", "3"},
      {4, 1, 65535, "ETHERNETIP", "Forward Open", "65535"},
      {4, 9, 0, "ETHERNETIP", "UDP Server Error", "0"},
      // PROFINET: the code as a number, the parameter as low byte / high byte.
      {3, 7, 0x0201, "PROFINET", "7", "1/2"},
      {3, 255, 0xFF00, "PROFINET", "255", "0/255"},
      // Sensors: codes 20 to 23 with parameter 0 or 1; trailing blanks belong to the texts.
      {6, 20, 0, "SENSORS", "Left Sensor disattached ", "-"},
      {6, 20, 1, "SENSORS", "Left Sensor attached ", "-"},
      {6, 21, 0, "SENSORS", "Right Sensor disattached", "-"},
      {6, 21, 1, "SENSORS", "Right Sensor attached", "-"},
      {6, 22, 0, "SENSORS", "Left Sensor - Flicker counter was incremented", "-"},
      {6, 22, 1, "SENSORS", "", "-"},
      {6, 23, 0, "SENSORS", "Right Sensor - Flicker counter was incremented", "-"},
      {6, 24, 0, "SENSORS", "", "-"},
      {6, 19, 1, "SENSORS", "", "-"},
      {6, 20, 2, "SENSORS", "", "-"},
      // Drives: both motors, the parameter as a number.
      {2, 1, 5, " MOTOR B", "Leistungsgrenze Occur ", "5"},
      {2, 13, 0, " MOTOR B", "Überspannung Occur ", "0"},
      {1, 19, 40000, " MOTOR A", "Unterspannung", "40000"},
      {1, 20, 1, " MOTOR A", "", "1"},
      {1, 0, 1, " MOTOR A", "", "1"},
      // Other categories show only their time, even those the table names.
      {0, 1, 1, "", "", ""},
      {7, 1, 1, "", "", ""},
      {8, 1, 1, "", "", ""},
      {255, 1, 1, "", "", ""},
  };
  for (const Case& c : cases) {
    const LogRow row = RowOf(c.category, c.code, c.parameter);
    EXPECT_EQ(row.cause, c.cause) << c.category << "/" << c.code << "/" << c.parameter;
    EXPECT_EQ(row.description, c.description) << c.category << "/" << c.code << "/" << c.parameter;
    EXPECT_EQ(row.value, c.value) << c.category << "/" << c.code << "/" << c.parameter;
    EXPECT_EQ(row.time, "00:00:00.001");
  }
}

TEST(DiagnosticLog, EveryCategoryText) {
  const char* texts[8] = {"UNKNOWN",    " MOTOR A", " MOTOR B", "PROFINET",
                          "ETHERNETIP", "MODBUS",   "SENSORS",  "DIAG_CODES_MAX"};
  for (unsigned category = 0; category < 8; ++category) {
    EXPECT_EQ(diag::CategoryText(category), texts[category]);
  }
  EXPECT_EQ(diag::CategoryText(8), "");
}

TEST(DiagnosticLog, EveryDriveEventText) {
  const char* texts[20] = {"",
                           "Leistungsgrenze Occur ",
                           "Leistungsgrenze Over",
                           "CPU überhitzt Occur",
                           "CPU überhitzt Over",
                           "Hitze Stopp Occur ",
                           "Hitze Stopp Over",
                           "Motorfehler Occur",
                           "Motorfehler Over",
                           "Kurzschluss Occur",
                           "Kurzschluss Over",
                           "Unterspannung Occur",
                           "Unterspannung Over",
                           "Überspannung Occur ",
                           "Überspannung Over",
                           "Motor blockiert Occur ",
                           "Motor blockiert Over",
                           "Überlast Occur",
                           "Überlast Over",
                           "Unterspannung"};
  for (unsigned code = 0; code < 20; ++code) EXPECT_EQ(diag::DriveEventText(code), texts[code]);
  EXPECT_EQ(diag::DriveEventText(20), "");
  EXPECT_EQ(diag::DriveEventText(255), "");
}

TEST(DiagnosticLog, EveryEthernetIpAndModbusText) {
  const char* ethernetIp[10] = {"",
                                "Forward Open",
                                "Forward Close",
                                "Attribute All Error",
                                "Common Services Error",
                                "Reset Request Error",
                                "Disconnect reason",
                                "Register Session Error",
                                "TCP Server Error",
                                "UDP Server Error"};
  for (unsigned code = 0; code < 10; ++code) {
    EXPECT_EQ(diag::EthernetIpEventText(code), ethernetIp[code]);
  }
  EXPECT_EQ(diag::EthernetIpEventText(10), "");
  const char* modbus[3][7] = {
      {"", "", "", "", "", "", ""},
      {"", "Peer Verbindung fehlgeschlagen", "Peer wiederverbunden", "Server buffer error",
       "Server nichtunterstützte Funktion", "SPS verbindet", "SPS trennungen"},
      {"", "(Read function) Register existiert nicht", "(Write function) Register existiert nicht",
       "(Multi Write function) Register existiert nicht",
       "(Read/Write function) Register existiert nicht", "Nicht unterstützte Anzahl Register", ""}};
  for (unsigned code = 0; code < 3; ++code) {
    for (unsigned parameter = 0; parameter < 7; ++parameter) {
      EXPECT_EQ(diag::ModbusEventText(code, parameter), modbus[code][parameter])
          << code << "/" << parameter;
    }
    EXPECT_EQ(diag::ModbusEventText(code, 7), "");
  }
}

TEST(DiagnosticLog, AllZeroFirstEntryShowsNoRows) {
  EXPECT_TRUE(DecodeLog(Log({})).empty());
  // Entries after the first all-zero one are not the log's.
  std::vector<uint16_t> words = {0, 0, 0, 0};
  AddEntry(words, 1, 11, 230, 5);
  EXPECT_TRUE(DecodeLog(Log(words)).empty());
}

TEST(DiagnosticLog, EntryWithSomeZeroWordsStillCounts) {
  // Only an entry whose four registers are all 0 ends the log: a time of zero does not.
  std::vector<uint16_t> words;
  AddEntry(words, 0, 0, 0, 0x10000);  // category 0, code 0, parameter 0, time 65.536 s
  AddEntry(words, 1, 11, 0, 0);
  const std::vector<LogRow> rows = DecodeLog(Log(words));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].time, "00:01:05.536");
  EXPECT_EQ(rows[0].cause, "");
  EXPECT_EQ(rows[1].time, "00:00:00.000");
  EXPECT_EQ(rows[1].description, "Unterspannung Occur");
}

TEST(DiagnosticLog, RowsInOrderUpToTheEnd) {
  std::vector<uint16_t> words;
  AddEntry(words, 1, 11, 230, 61001);
  AddEntry(words, 5, 1, 5, 90061001);
  AddEntry(words, 4, 2, 9, 3);
  const std::vector<LogRow> rows = DecodeLog(Log(words));
  const std::vector<LogRow> expected = {
      {"00:01:01.001", " MOTOR A", "Unterspannung Occur", "230"},
      {"1Tage, 01:01:01.001", "MODBUS", "SPS verbindet", "-"},
      {"00:00:00.003", "ETHERNETIP", "Forward Close", "9"},
  };
  EXPECT_EQ(rows, expected);
}

TEST(DiagnosticLog, FullLogHas150Rows) {
  std::vector<uint16_t> words;
  for (int k = 0; k < 150; ++k) AddEntry(words, 2, 18, static_cast<uint16_t>(k), 1000u * k);
  ASSERT_EQ(words.size(), 600u);
  const std::vector<LogRow> rows = DecodeLog(words);
  ASSERT_EQ(rows.size(), 150u);
  EXPECT_EQ(rows[149].value, "149");
  EXPECT_EQ(rows[149].time, "00:02:29.000");
  EXPECT_EQ(rows[149].description, "Überlast Over");
  // Words beyond the 600 of a log are not read as a 151st entry.
  AddEntry(words, 1, 1, 1, 1);
  EXPECT_EQ(DecodeLog(words).size(), 150u);
}

TEST(DiagnosticLog, ShortReadYieldsOnlyWholeEntries) {
  std::vector<uint16_t> words;
  AddEntry(words, 1, 11, 230, 61001);
  AddEntry(words, 2, 12, 231, 61002);
  words.resize(7);  // the second entry lacks its high time word
  const std::vector<LogRow> rows = DecodeLog(words);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].value, "230");
  EXPECT_TRUE(DecodeLog(std::vector<uint16_t>{1, 2, 3}).empty());
}

TEST(DiagnosticLog, FirstLogOnlyOutsideTheIoFamily) {
  EXPECT_TRUE(diag::HasFirstLog(0x0901));
  EXPECT_TRUE(diag::HasFirstLog(0x000C));
  EXPECT_TRUE(diag::HasFirstLog(0x0D00));
  EXPECT_FALSE(diag::HasFirstLog(0x0C00));
  EXPECT_FALSE(diag::HasFirstLog(0x0C07));
  EXPECT_TRUE(diag::HidesFirstList(0xC0));
  EXPECT_TRUE(diag::HidesFirstList(0xC7));
  EXPECT_FALSE(diag::HidesFirstList(0x0C));
  EXPECT_FALSE(diag::HidesFirstList(0x90));
  EXPECT_EQ(diag::kFirstLogRegister, 10200);
  EXPECT_EQ(diag::kSecondLogRegister, 10300);
  EXPECT_EQ(diag::kLogRegisters, 600);
}

}  // namespace
