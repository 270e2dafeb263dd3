// The flex zone page's work against a fake line: which lists make the page usable, the
// status sentences and their colours, Enable / Disable All (always 50 ms) and Set All (the
// typed time; a time that is not a plain number writes nothing).
#include "pages/flex_zone.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_pages_line.h"

namespace {

using pages::FlexState;
using pages::FlexZone;
using pages::ListedModule;
using pagestest::FakePagesLine;
using pagestest::Node;

constexpr const char* kNetwork = "192.168.202.20";

struct ListCase {
  const char* name;
  std::vector<ListedModule> discovered;
  std::vector<uint16_t> register21;  // per module in list order; empty: none on the line
  std::vector<std::string> expectedList;
  const char* status;
  FlexState state;
  bool buttons;
};
// A failing case is named, not dumped as bytes.
void PrintTo(const ListCase& c, std::ostream* os) {
  *os << c.name;
}

class FlexZoneListTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(FlexZoneListTest, ListStatusAndColour) {
  const ListCase& c = GetParam();
  FakePagesLine line;
  for (size_t k = 0; k < c.register21.size(); ++k) {
    auto& registers = line.Add(c.expectedList.at(k));
    registers[21] = c.register21[k];
    registers[112] = static_cast<uint16_t>(70 + k);
  }
  FlexZone page(line, [&] { return c.discovered; });
  const auto view = page.Refresh(kNetwork);
  EXPECT_EQ(view.list.addresses, c.expectedList);
  EXPECT_EQ(view.countText, base::Format("%d Module sind gefunden worden.",
                                         static_cast<int>(c.expectedList.size())));
  EXPECT_EQ(view.statusText, c.status);
  EXPECT_EQ(view.state, c.state);
  EXPECT_EQ(view.buttonsEnabled, c.buttons);
  EXPECT_EQ(pages::FlexStateColour(view.state), c.state == FlexState::Enabled    ? 0u
                                                : c.state == FlexState::Disabled ? 0xFF0000u
                                                                                 : 234u);
  // The time field shows the first module's register 112, blank while the page is unusable.
  EXPECT_EQ(view.timeText, c.buttons ? std::string("70") : std::string());
  EXPECT_TRUE(line.Changes().empty());
}

const ListCase kListCases[] = {
    {"StartsAtNode2",
     {{Node(2), 2}, {Node(3), 3}},
     {},
     {Node(2), Node(3)},
     pages::kFlexNoFirstModule,
     FlexState::Mixed,
     false},
    {"Gap",
     {{Node(1), 1}, {Node(2), 2}, {Node(4), 4}},
     {},
     {Node(1), Node(2), Node(4)},
     pages::kFlexMissingModule,
     FlexState::Mixed,
     false},
    {"GapAndNoFirst",
     {{Node(2), 2}, {Node(5), 5}},
     {},
     {Node(2), Node(5)},
     pages::kFlexMissingModule,
     FlexState::Mixed,
     false},
    {"NoModules", {}, {}, {}, pages::kFlexNoModules, FlexState::Mixed, false},
    {"OnlyOtherNetworks",
     {{"192.168.203.20", 1}, {"10.0.0.20", 2}},
     {},
     {},
     pages::kFlexNoModules,
     FlexState::Mixed,
     false},
    {"AllDisabledBlue",
     {{Node(2), 2}, {Node(1), 1}, {Node(3), 3}},
     {1, 1, 1},
     {Node(1), Node(2), Node(3)},
     pages::kFlexAllDisabled,
     FlexState::Disabled,
     true},
    {"AllEnabledBlack",
     {{Node(1), 1}, {Node(2), 2}, {"192.168.203.22", 9}},
     {0, 0},
     {Node(1), Node(2)},
     pages::kFlexAllEnabled,
     FlexState::Enabled,
     true},
    {"MixedRed",
     {{Node(1), 1}, {Node(2), 2}},
     {0, 1},
     {Node(1), Node(2)},
     pages::kFlexMixed,
     FlexState::Mixed,
     true},
    {"NeitherValueIsMixed",
     {{Node(1), 1}, {Node(2), 2}},
     {1, 7},
     {Node(1), Node(2)},
     pages::kFlexMixed,
     FlexState::Mixed,
     true},
    // Numeric order, not text order: .100 comes after .29.
    {"NumericOrder",
     {{"192.168.202.100", 1}, {Node(1), 2}},
     {},
     {Node(1), "192.168.202.100"},
     pages::kFlexMissingModule,
     FlexState::Mixed,
     false},
};
INSTANTIATE_TEST_SUITE_P(Lists, FlexZoneListTest, ::testing::ValuesIn(kListCases),
                         [](const auto& info) { return std::string(info.param.name); });

class FlexZoneWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int node = 1; node <= 3; ++node) {
      auto& registers = line_.Add(Node(node));
      registers[21] = 0;
      registers[112] = registers[192] = 80;
      discovered_.push_back({Node(node), static_cast<uint32_t>(node)});
    }
  }
  std::vector<std::string> Expected(const std::vector<std::pair<int, uint16_t>>& writes) {
    std::vector<std::string> expected;
    for (int node = 1; node <= 3; ++node) {
      for (const auto& [reg, value] : writes)
        expected.push_back(base::Format("%s save %d=%u", Node(node).c_str(), reg, value));
    }
    return expected;
  }
  FakePagesLine line_;
  std::vector<ListedModule> discovered_;
};

TEST_F(FlexZoneWriteTest, EnableAllWritesFiftyWhateverTheFieldHoldsAndSetAllWritesTheTime) {
  FlexZone page(line_, [&] { return discovered_; });
  page.Refresh(kNetwork);
  // The user typed 120; Disable All still writes 50 ms.
  std::vector<std::string> progress;
  auto view =
      page.SwitchAll(1, [&](const pages::FlexZoneView& v) { progress.push_back(v.progressText); });
  EXPECT_EQ(line_.Changes(), Expected({{21, 1}, {112, 50}, {192, 50}}));
  EXPECT_EQ(progress, (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(view.statusText, pages::kFlexAllDisabled);
  EXPECT_EQ(view.state, FlexState::Disabled);
  EXPECT_EQ(view.timeText, "50");

  line_.ops.clear();
  view = page.SetAll("120");
  EXPECT_EQ(line_.Changes(), Expected({{112, 120}, {192, 120}}));
  EXPECT_EQ(view.timeText, "120");
  EXPECT_EQ(view.countText, "3 Module sind gefunden worden.");
  EXPECT_TRUE(view.refusal.empty());

  line_.ops.clear();
  view = page.SwitchAll(0);
  EXPECT_EQ(line_.Changes(), Expected({{21, 0}, {112, 50}, {192, 50}}));
  EXPECT_EQ(view.statusText, pages::kFlexAllEnabled);
}

TEST_F(FlexZoneWriteTest, ATimeThatIsNotAPlainNumberWritesNothing) {
  FlexZone page(line_, [&] { return discovered_; });
  page.Refresh(kNetwork);
  for (const char* typed : {"", "abc", "12a", " 120", "-5", "1e3", "70000", "12.5", "0x20"}) {
    line_.ops.clear();
    const auto view = page.SetAll(typed);
    EXPECT_TRUE(line_.ops.empty()) << typed;
    EXPECT_EQ(view.refusal, base::Format(pages::kFlexTimeRefused, typed)) << typed;
  }
  EXPECT_EQ(line_.modules[Node(2)][112], 80);
}

TEST_F(FlexZoneWriteTest, SwitchOnAnUnusableListWritesNothing) {
  discovered_.erase(discovered_.begin());  // node 1 missing
  FlexZone page(line_, [&] { return discovered_; });
  page.Refresh(kNetwork);
  page.SwitchAll(1);
  EXPECT_TRUE(line_.Changes().empty());
}

TEST_F(FlexZoneWriteTest, AModuleThatDoesNotAnswerShowsTheMixedStateInRed) {
  FlexZone page(line_, [&] { return discovered_; });
  page.Refresh(kNetwork);
  line_.silent.insert(Node(2));
  const auto view = page.SwitchAll(1);
  EXPECT_EQ(line_.modules[Node(1)][21], 1);
  EXPECT_EQ(line_.modules[Node(2)][21], 0);
  EXPECT_EQ(line_.modules[Node(3)][21], 1);
  EXPECT_EQ(view.statusText, pages::kFlexMixed);
  EXPECT_EQ(pages::FlexStateColour(view.state), 234u);
  EXPECT_EQ(view.failed, std::vector<std::string>{Node(2)});
}

TEST_F(FlexZoneWriteTest, AnUnconfirmedSaveNamesTheModuleAlthoughItShowsTheNewState) {
  FlexZone page(line_, [&] { return discovered_; });
  page.Refresh(kNetwork);
  line_.unconfirmedSaves.insert(Node(3));
  auto view = page.SwitchAll(1);
  // Every module reads 1 in RAM, but node 3's flash keeps the old state.
  EXPECT_EQ(view.state, FlexState::Disabled);
  EXPECT_EQ(view.failed, std::vector<std::string>{Node(3)});
  view = page.SetAll("70");
  EXPECT_EQ(view.failed, std::vector<std::string>{Node(3)});
  line_.unconfirmedSaves.clear();
  EXPECT_TRUE(page.SetAll("70").failed.empty());
}

}  // namespace
