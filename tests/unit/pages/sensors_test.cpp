// The sensors page's work against a fake line: the side bits of register 34 (exchanged on a
// reversed module), the locked state of a PLC module, the picture buttons, and Set All with
// its board rule.
#include "pages/sensors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_pages_line.h"

namespace {

using pages::Sensors;
using pages::SensorSetting;
using pagestest::FakePagesLine;
using pagestest::Node;

struct MaskCase {
  SensorSetting setting;
  bool reversed;
  uint16_t mask;
};

TEST(SensorMask, EachSideHasItsBitExchangedOnAReversedModule) {
  const MaskCase cases[] = {
      {SensorSetting::BlockedLeft, false, 0x10}, {SensorSetting::BlockedRight, false, 0x40},
      {SensorSetting::ErrorLeft, false, 0x01},   {SensorSetting::ErrorRight, false, 0x04},
      {SensorSetting::BlockedLeft, true, 0x40},  {SensorSetting::BlockedRight, true, 0x10},
      {SensorSetting::ErrorLeft, true, 0x04},    {SensorSetting::ErrorRight, true, 0x01},
  };
  for (const MaskCase& c : cases) {
    EXPECT_EQ(pages::SensorMask(c.setting, c.reversed), c.mask)
        << static_cast<int>(c.setting) << " reversed " << c.reversed;
  }
}

struct ToggleCase {
  const char* name;
  uint16_t register6;
  uint16_t register18;
  uint16_t register34;
  SensorSetting setting;
  uint16_t saved;  // register 34 as written and saved
};
// A failing case is named, not dumped as bytes.
void PrintTo(const ToggleCase& c, std::ostream* os) {
  *os << c.name;
}

class SensorsToggleTest : public ::testing::TestWithParam<ToggleCase> {};

TEST_P(SensorsToggleTest, WritesAndSavesRegister34) {
  const ToggleCase& c = GetParam();
  FakePagesLine line;
  auto& registers = line.Add(Node(1));
  registers[6] = c.register6;
  registers[18] = c.register18;
  registers[34] = c.register34;
  Sensors page(line);
  const auto before = page.Refresh(Node(1));
  ASSERT_TRUE(before.connected);
  EXPECT_EQ(before.locked, c.register18 == 2);
  line.ops.clear();
  const auto after = page.Toggle(c.setting);
  EXPECT_EQ(line.Changes(),
            (std::vector<std::string>{Node(1) + base::Format(" save 34=%u", c.saved)}));
  EXPECT_EQ(registers[34], c.saved);
  EXPECT_EQ(after.register34, c.saved);
}

const ToggleCase kToggleCases[] = {
    {"SetsLeftBlocked", 0, 1, 0x00, SensorSetting::BlockedLeft, 0x10},
    {"ClearsLeftBlocked", 0, 1, 0x55, SensorSetting::BlockedLeft, 0x45},
    {"SetsRightError", 0, 1, 0x10, SensorSetting::ErrorRight, 0x14},
    {"ReversedLeftBlockedIsBit6", 4, 1, 0x00, SensorSetting::BlockedLeft, 0x40},
    {"ReversedLeftBlockedClearsBit6", 4, 1, 0x50, SensorSetting::BlockedLeft, 0x10},
    {"ReversedRightErrorIsBit0", 4, 1, 0x00, SensorSetting::ErrorRight, 0x01},
    {"LockedWrittenBackUnchanged", 0, 2, 0x50, SensorSetting::BlockedLeft, 0x50},
    {"LockedClearBitUnchanged", 0, 2, 0x00, SensorSetting::ErrorLeft, 0x00},
};
INSTANTIATE_TEST_SUITE_P(Toggles, SensorsToggleTest, ::testing::ValuesIn(kToggleCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Sensors, LockedModuleShowsMaskPlus0x100) {
  FakePagesLine line;
  auto& registers = line.Add(Node(1));
  registers[18] = 2;
  registers[34] = 0x14;
  Sensors page(line);
  const auto view = page.Refresh(Node(1));
  EXPECT_EQ(view.current, (std::array<uint16_t, 4>{0x110, 0x100, 0x100, 0x104}));
}

TEST(Sensors, PictureButtonsSetAndClearTheBitOfTheSide) {
  FakePagesLine line;
  auto& registers = line.Add(Node(1));
  registers[6] = 4;
  registers[34] = 0x10;
  Sensors page(line);
  page.Refresh(Node(1));
  page.SetBit(SensorSetting::BlockedLeft, true);  // bit 6 on a reversed module
  EXPECT_EQ(registers[34], 0x50);
  page.SetBit(SensorSetting::BlockedRight, false);  // bit 4
  EXPECT_EQ(registers[34], 0x40);
  page.SetBit(SensorSetting::BlockedRight, false);  // already clear: unchanged
  EXPECT_EQ(registers[34], 0x40);
}

TEST(Sensors, ErrorControlsHiddenOnBoards03And09) {
  const std::pair<uint16_t, bool> cases[] = {
      {0x0000, true}, {0x0201, true}, {0x0300, false}, {0x0907, false}, {0x0C00, true}};
  for (const auto& [board, shown] : cases) {
    FakePagesLine line;
    line.Add(Node(1))[17] = board;
    Sensors page(line);
    EXPECT_EQ(page.Refresh(Node(1)).errorShown, shown) << board;
  }
}

TEST(Sensors, NothingIsWrittenWhenNotConnected) {
  FakePagesLine line;
  line.Add(Node(1));
  line.silent.insert(Node(1));
  Sensors page(line);
  EXPECT_FALSE(page.Refresh(Node(1)).connected);
  page.Toggle(SensorSetting::BlockedLeft);
  page.SetBit(SensorSetting::BlockedLeft, true);
  EXPECT_FALSE(page.SetAll({Node(1)}).ran);
  EXPECT_TRUE(line.Changes().empty());
}

TEST(Sensors, AnUnconfirmedSaveIsAFailedWriteAlthoughTheModuleShowsTheBit) {
  FakePagesLine line;
  auto& registers = line.Add(Node(1));
  line.unconfirmedSaves.insert(Node(1));
  Sensors page(line);
  page.Refresh(Node(1));
  const auto view = page.SetBit(SensorSetting::BlockedLeft, true);
  EXPECT_EQ(registers[34], 0x10);  // in RAM, read back by the refresh
  EXPECT_EQ(view.current[0], 0x10);
  EXPECT_EQ(view.writeFailure, pages::NotSavedText(Node(1), "blocked left inverted", true));
  EXPECT_NE(view.writeFailure.find("blocked left inverted is not saved"), std::string::npos);
  // The next write that is saved clears the mark.
  line.unconfirmedSaves.clear();
  EXPECT_TRUE(page.Toggle(SensorSetting::BlockedRight).writeFailure.empty());
  // A module that cannot be reached for the write is a failed write too.
  line.silent.insert(Node(1));
  EXPECT_EQ(page.SetBit(SensorSetting::BlockedLeft, false).writeFailure,
            pages::NotSavedText(Node(1), "blocked left normal", false));
}

TEST(Sensors, SetAllCountsAnUnconfirmedSaveAsFailed) {
  FakePagesLine line;
  line.Add(Node(1))[34] = 0x10;
  line.Add(Node(2));
  line.Add(Node(3));
  line.unconfirmedSaves.insert(Node(3));
  Sensors page(line);
  page.Refresh(Node(1));
  const auto outcome = page.SetAll({Node(2), Node(3)});
  EXPECT_EQ(outcome.written, (std::vector<std::string>{Node(2)}));
  EXPECT_EQ(outcome.failed, (std::vector<std::string>{Node(3)}));
}

struct SetAllCase {
  const char* name;
  uint16_t sourceBoard;  // register 17 of the shown module
  uint16_t source34;
  uint16_t target34;
  uint16_t expected;
};
// A failing case is named, not dumped as bytes.
void PrintTo(const SetAllCase& c, std::ostream* os) {
  *os << c.name;
}

class SensorsSetAllTest : public ::testing::TestWithParam<SetAllCase> {};

TEST_P(SensorsSetAllTest, CopiesTheSourceBits) {
  const SetAllCase& c = GetParam();
  FakePagesLine line;
  auto& source = line.Add(Node(1));
  source[17] = c.sourceBoard;
  source[34] = c.source34;
  for (int node = 2; node <= 3; ++node) line.Add(Node(node))[34] = c.target34;
  line.Add(Node(4))[34] = c.target34;
  line.silent.insert(Node(4));
  Sensors page(line);
  page.Refresh(Node(1));
  line.ops.clear();
  std::vector<std::string> progress;
  const auto outcome = page.SetAll({Node(2), Node(3), Node(4)}, [&](const pages::SensorsView& v) {
    progress.push_back(v.progressText);
  });
  EXPECT_TRUE(outcome.ran);
  EXPECT_EQ(outcome.written, (std::vector<std::string>{Node(2), Node(3)}));
  EXPECT_EQ(outcome.failed, (std::vector<std::string>{Node(4)}));
  EXPECT_EQ(line.modules[Node(2)][34], c.expected);
  EXPECT_EQ(line.modules[Node(3)][34], c.expected);
  EXPECT_EQ(line.modules[Node(4)][34], c.target34);  // not reached: untouched
  EXPECT_EQ(line.Changes(),
            (std::vector<std::string>{Node(2) + base::Format(" save 34=%u", c.expected),
                                      Node(3) + base::Format(" save 34=%u", c.expected)}));
  EXPECT_EQ(progress, (std::vector<std::string>{Node(2), Node(3), Node(4), ""}));
}

const SetAllCase kSetAllCases[] = {
    // Other bits of the target stay; blocked and error bits come from the source.
    {"AllFourBits", 0x0001, 0x0050, 0xFF05, 0xFF50},
    {"ErrorBitsToo", 0x0001, 0x0015, 0x8040, 0x8015},
    // A source without error polarity copies only the blocked bits.
    {"Board09KeepsTargetErrorBits", 0x0900, 0x0050, 0x0005, 0x0055},
    {"Board09ClearsBlocked", 0x0902, 0x0005, 0x0050, 0x0000},
    {"Board03KeepsTargetErrorBits", 0x0300, 0x0010, 0x0004, 0x0014},
};
INSTANTIATE_TEST_SUITE_P(SetAll, SensorsSetAllTest, ::testing::ValuesIn(kSetAllCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
