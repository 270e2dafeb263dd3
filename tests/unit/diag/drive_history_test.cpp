// The drive history: the service port's answer to "7" parsed into 32 record slots and rows.
#include "diag/drive_history.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using diag::HistoryRow;

// One record in the module's own layout, markers written out as the module sends them.
std::string Record(const std::string& index, const std::string& serial, const std::string& date,
                   const std::string& lock, const std::string& operating,
                   const std::string& currentLimit, const std::string& overheat,
                   const std::string& cycles, const std::string& overVoltage,
                   const std::string& underVoltage) {
  return "\r\nMDR [ " + index + "];Serial      " + serial + ";Date                   " + date +
         ",Lock  " + lock + "\r\n\r       Operating      " + operating +
         "; Current Limit         " + currentLimit + "; OverHeat       " + overheat +
         "\r\n\r   ON-OFF Cycles      " + cycles + "; OverVoltage           " + overVoltage +
         "; UnderVoltage   " + underVoltage + "\r\r\n";
}

std::string EmptyRecord(int index) {
  return Record(std::to_string(index), "0", "0", "0", "0", "0", "0", "0", "0", "0");
}

// The module's answer: a heading, three records with drives, 29 empty slots.
std::string ThreeDrives() {
  // Serial 2051: region bits 2 (USA), number 3; date 658188 = bytes 10, 11, 12.
  std::string answer = "Motor history\r\n";
  answer += Record("0", "2051", "658188", "1", "1234", "5", "6", "789", "2", "3");
  // Serial 1030: region 1 (JP), number 6; date 0x170C1F = 23.12.31.
  answer += Record("1", "1030", "1510431", "2", "77", "0", "1", "10", "0", "4");
  // Serial 7167 = 0x1BFF: region 2, number 1023; bit 12 is not the region's.
  answer += Record("2", "7167", "65793", "3", "9", "8", "7", "6", "5", "4");
  for (int k = 3; k < 32; ++k) answer += EmptyRecord(k);
  return answer;
}

TEST(DriveHistory, ThreeRecordsGiveThreeRows) {
  const std::vector<HistoryRow> rows = diag::HistoryRows(diag::ParseHistory(ThreeDrives()));
  ASSERT_EQ(rows.size(), 3u);
  const std::array<std::string, 9> first = {
      "1", "SN: USA 10.11.12-3", "Linker Motor", "1234", "5", "6", "789", "2", "3"};
  EXPECT_EQ(rows[0].columns, first);
  EXPECT_EQ(rows[0].record, 1);
  const std::array<std::string, 9> second = {
      "2", "SN: JP 23.12.31-6", "Rechter Motor", "77", "0", "1", "10", "0", "4"};
  EXPECT_EQ(rows[1].columns, second);
  // Lock 3 names neither port; serial 7167 = 0x1BFF: region 2, number 1023.
  const std::array<std::string, 9> third = {
      "3", "SN: USA 01.01.01-1023", "-", "9", "8", "7", "6", "5", "4"};
  EXPECT_EQ(rows[2].columns, third);
}

TEST(DriveHistory, FieldsAsTextAndNumber) {
  const auto records = diag::ParseHistory(ThreeDrives());
  const diag::HistoryRecord& r = records[0];
  const std::array<std::string, 10> texts = {"0", "2051", "658188", "1", "1234",
                                             "5", "6",    "789",    "2", "3"};
  EXPECT_EQ(r.text, texts);
  const std::array<uint32_t, 10> numbers = {0, 2051, 658188, 1, 1234, 5, 6, 789, 2, 3};
  EXPECT_EQ(r.number, numbers);
  EXPECT_EQ(records[31].text[0], "31");
  EXPECT_EQ(records[31].number[diag::kHistorySerial], 0u);
}

TEST(DriveHistory, SerialNumberText) {
  struct Case {
    uint32_t serial, date;
    const char* text;
  };
  const Case cases[] = {
      {(2u << 10) | 3, 0x0A0B0C, "SN: USA 10.11.12-3"},
      {(0u << 10) | 5, 0x010203, "SN: EU 01.02.03-5"},
      {(1u << 10) | 1023, 0x630000, "SN: JP 99.00.00-1023"},
      {(3u << 10) | 7, 0x000001, "SN: 00.00.01-7"},
      // Bits above the region and above the date's three bytes are not shown.
      {0xFFFFF000u | 12, 0xFF0A0B0Cu, "SN: EU 10.11.12-12"},
      {0, 0, "SN: EU 00.00.00-0"},
  };
  for (const Case& c : cases) EXPECT_EQ(diag::HistorySerialText(c.serial, c.date), c.text);
}

TEST(DriveHistory, EmptySlotsBetweenDrivesKeepTheRecordNumbers) {
  std::string answer = EmptyRecord(0);
  answer += Record("1", "2051", "658188", "1", "1", "1", "1", "1", "1", "1");
  answer += EmptyRecord(2);
  answer += Record("3", "1030", "658188", "2", "1", "1", "1", "1", "1", "1");
  const std::vector<HistoryRow> rows = diag::HistoryRows(diag::ParseHistory(answer));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].record, 2);
  EXPECT_EQ(rows[0].columns[0], "2");
  EXPECT_EQ(rows[1].record, 4);
  EXPECT_EQ(rows[1].columns[0], "4");
}

TEST(DriveHistory, MissingMarkerEmptiesTheRemainingFields) {
  // The second record breaks off after its serial number: no ",Lock  " follows the date.
  std::string answer = Record("0", "2051", "658188", "1", "1", "2", "3", "4", "5", "6");
  answer += "\r\nMDR [ 1];Serial      1030;Date                   658188";
  answer += Record("2", "2051", "658188", "1", "1", "2", "3", "4", "5", "6");
  const auto records = diag::ParseHistory(answer);
  EXPECT_EQ(records[0].number[diag::kHistoryUnderVoltage], 6u);
  // The date's end marker is found only in the third record: the text between is not a date.
  EXPECT_EQ(records[1].number[diag::kHistorySerial], 1030u);
  // Whatever the second record's later fields hold, nothing is read past a missing marker.
  const auto cut = diag::ParseHistory(answer.substr(0, answer.rfind("\r\nMDR [ 2]")));
  EXPECT_EQ(cut[1].text[diag::kHistorySerial], "1030");
  EXPECT_EQ(cut[1].text[diag::kHistoryDate], "");
  EXPECT_EQ(cut[1].number[diag::kHistoryDate], 0u);
  for (int f = diag::kHistoryDate; f < diag::kHistoryFields; ++f) {
    EXPECT_EQ(cut[1].text[static_cast<size_t>(f)], "") << f;
  }
  for (size_t r = 2; r < cut.size(); ++r) {
    EXPECT_EQ(cut[r].text[0], "") << r;
    EXPECT_EQ(cut[r].number[diag::kHistorySerial], 0u) << r;
  }
  // Rows only for records with a serial number: the broken one still has its own.
  const std::vector<HistoryRow> rows = diag::HistoryRows(cut);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].columns[1], "SN: JP 00.00.00-6");
  EXPECT_EQ(rows[1].columns[2], "-");
  EXPECT_EQ(rows[1].columns[3], "");
}

TEST(DriveHistory, EndMarkerBeforeTheStartMarkerIsNotTheField) {
  // The welcome text carries an end marker before the first record starts.
  std::string answer = "Welcome ];Serial      99;Date                   1,Lock  2\r\n";
  answer += Record("0", "2051", "658188", "1", "1", "2", "3", "4", "5", "6");
  const auto records = diag::ParseHistory(answer);
  EXPECT_EQ(records[0].text[diag::kHistoryIndex], "0");
  EXPECT_EQ(records[0].text[diag::kHistorySerial], "2051");
  const std::vector<HistoryRow> rows = diag::HistoryRows(records);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].columns[1], "SN: USA 10.11.12-3");
  EXPECT_EQ(rows[0].columns[2], "Linker Motor");
}

TEST(DriveHistory, NoAnswerNoRows) {
  EXPECT_TRUE(diag::HistoryRows(diag::ParseHistory("")).empty());
  EXPECT_TRUE(diag::HistoryRows(diag::ParseHistory("Welcome\r\n>")).empty());
  // Markers must match exactly, blanks included: one blank less is no marker.
  std::string answer = Record("0", "2051", "658188", "1", "1", "1", "1", "1", "1", "1");
  answer.replace(answer.find("];Serial      "), 14, "];Serial     ");
  EXPECT_TRUE(diag::HistoryRows(diag::ParseHistory(answer)).empty());
}

TEST(DriveHistory, NumberAtTheStartOfAField) {
  struct Case {
    const char* text;
    uint32_t number;
  };
  const Case cases[] = {
      {"42", 42},
      {"  42 h", 42},
      {"42abc", 42},
      {"abc", 0},
      {"", 0},
      {"-5", 0},
      {"4294967295", 4294967295u},
      {"99999999999", 4294967295u},
      {"007", 7},
  };
  for (const Case& c : cases) EXPECT_EQ(diag::HistoryNumber(c.text), c.number) << c.text;
}

TEST(DriveHistory, MotorPortFromTheLockField) {
  EXPECT_EQ(diag::HistoryMotorText("1"), "Linker Motor");
  EXPECT_EQ(diag::HistoryMotorText("12"), "Linker Motor");
  EXPECT_EQ(diag::HistoryMotorText("2"), "Rechter Motor");
  EXPECT_EQ(diag::HistoryMotorText("0"), "-");
  EXPECT_EQ(diag::HistoryMotorText(" 1"), "-");
  EXPECT_EQ(diag::HistoryMotorText(""), "-");
}

}  // namespace
