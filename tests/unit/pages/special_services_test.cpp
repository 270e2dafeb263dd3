// The special services page's work against a fake line: the operating-hours reset per motor
// (exchanged on a reversed module), the board rule that hides it, the Touch & Go bits written
// and saved, and the plain command writes.
#include "pages/special_services.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_pages_line.h"

namespace {

using pages::Motor;
using pages::SpecialServices;
using pages::Zone;
using pagestest::FakePagesLine;
using pagestest::Node;

struct HoursCase {
  uint16_t register6;
  Motor motor;
  uint16_t written;
};

TEST(SpecialServices, HoursResetWritesRegister22WithoutSaving) {
  const HoursCase cases[] = {{0, Motor::Left, 0x3000},    {0, Motor::Right, 0xC000},
                             {4, Motor::Left, 0xC000},    {4, Motor::Right, 0x3000},
                             {0x94, Motor::Left, 0xC000}, {0x95, Motor::Left, 0x3000}};
  for (const HoursCase& c : cases) {
    FakePagesLine line;
    line.Add(Node(1))[6] = c.register6;
    SpecialServices page(line);
    ASSERT_TRUE(page.Refresh(Node(1)).connected);
    line.ops.clear();
    EXPECT_TRUE(page.ResetHours(c.motor));
    EXPECT_EQ(line.Changes(),
              (std::vector<std::string>{Node(1) + base::Format(" write 22=%u", c.written)}))
        << "register 6 = " << c.register6;
  }
}

TEST(SpecialServices, CommandsArePlainWrites) {
  FakePagesLine line;
  line.Add(Node(1));
  SpecialServices page(line);
  page.Refresh(Node(1));
  line.ops.clear();
  EXPECT_TRUE(page.ClearShortCircuit());
  EXPECT_TRUE(page.ResetDta(Zone::Upstream));
  EXPECT_TRUE(page.ResetDta(Zone::Downstream));
  EXPECT_EQ(line.Changes(),
            (std::vector<std::string>{Node(1) + " write 22=1", Node(1) + " write 109=255",
                                      Node(1) + " write 189=255"}));
}

struct TouchGoCase {
  const char* name;
  Zone zone;
  bool backward;
  bool ticked;
  uint16_t before94, before174;
  const char* change;
};
// A failing case is named, not dumped as bytes.
void PrintTo(const TouchGoCase& c, std::ostream* os) {
  *os << c.name;
}

class TouchGoTest : public ::testing::TestWithParam<TouchGoCase> {};

TEST_P(TouchGoTest, WritesAndSavesTheOptionWord) {
  const TouchGoCase& c = GetParam();
  FakePagesLine line;
  auto& registers = line.Add(Node(1));
  registers[94] = c.before94;
  registers[174] = c.before174;
  SpecialServices page(line);
  page.Refresh(Node(1));
  line.ops.clear();
  const auto view = page.SetTouchGo(c.zone, c.backward, c.ticked);
  EXPECT_EQ(line.Changes(), (std::vector<std::string>{Node(1) + " " + c.change}));
  const size_t box = (c.zone == Zone::Upstream ? 0u : 2u) + (c.backward ? 1u : 0u);
  EXPECT_EQ(view.touchGo[box], c.ticked);
  // The next refresh reads the same state back from the module.
  EXPECT_EQ(page.Refresh(Node(1)).touchGo, view.touchGo);
}

const TouchGoCase kTouchGoCases[] = {
    {"UpstreamOnKeepsBit0", Zone::Upstream, false, true, 0x0001, 0, "save 94=8193"},
    {"UpstreamOff", Zone::Upstream, false, false, 0x6001, 0, "save 94=16385"},
    {"UpstreamBackward", Zone::Upstream, true, true, 0x0000, 0, "save 94=16384"},
    {"DownstreamOn", Zone::Downstream, false, true, 0x0001, 0x0200, "save 174=8704"},
    {"DownstreamBackwardOff", Zone::Downstream, true, false, 0, 0xFFFF, "save 174=49151"},
};
INSTANTIATE_TEST_SUITE_P(TouchGo, TouchGoTest, ::testing::ValuesIn(kTouchGoCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SpecialServices, AnUnconfirmedTouchGoSaveIsAFailedWriteAlthoughTheModuleShowsTheBit) {
  FakePagesLine line;
  auto& registers = line.Add(Node(1));
  line.unconfirmedSaves.insert(Node(1));
  SpecialServices page(line);
  page.Refresh(Node(1));
  const auto view = page.SetTouchGo(Zone::Downstream, false, true);
  EXPECT_EQ(registers[174], 0x2000);  // in RAM, read back by the refresh
  EXPECT_TRUE(view.touchGo[2]);
  EXPECT_EQ(view.writeFailure, pages::NotSavedText(Node(1), "Touch & Go downstream on", true));
  line.unconfirmedSaves.clear();
  EXPECT_TRUE(page.SetTouchGo(Zone::Downstream, false, false).writeFailure.empty());
  EXPECT_EQ(pages::TouchGoName(Zone::Upstream, true), "Touch & Go backward upstream");
}

TEST(SpecialServices, BoardWithBits0x800And0x100HidesTheHoursReset) {
  const std::pair<uint16_t, bool> cases[] = {
      {0x0000, true}, {0x0800, true}, {0x0100, true}, {0x0900, false}, {0x0B03, false}};
  for (const auto& [board, shown] : cases) {
    FakePagesLine line;
    line.Add(Node(1))[17] = board;
    SpecialServices page(line);
    EXPECT_EQ(page.Refresh(Node(1)).hoursResetShown, shown) << board;
  }
}

TEST(SpecialServices, NothingIsSentWhenNotConnected) {
  FakePagesLine line;
  line.Add(Node(1))[94] = 0;
  line.silent.insert(Node(1));
  SpecialServices page(line);
  EXPECT_FALSE(page.Refresh(Node(1)).connected);
  EXPECT_FALSE(page.ResetHours(Motor::Left));
  EXPECT_FALSE(page.ClearShortCircuit());
  EXPECT_FALSE(page.ResetDta(Zone::Upstream));
  EXPECT_FALSE(page.SetTouchGo(Zone::Upstream, false, true).touchGo[0]);
  EXPECT_TRUE(line.Changes().empty());
}

}  // namespace
