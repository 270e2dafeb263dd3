// One write path per field: for every settable item of the display table, the node screen's
// Set, SetAll over one node and the CLI's FIELD=VALUE write the same registers, and the table's
// columns (settable, SetAll, pre-reads) agree with what the three paths do.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/prompt.h"
#include "fixtures/fake_line_link.h"
#include "params/display_items.h"
#include "params/edit_rules.h"
#include "params/field_text.h"
#include "params/node_screen_controller.h"
#include "params/range_operations.h"
#include "platform/profile.h"

namespace {

using params::DisplayItem;
using params::FieldInput;
using params::SetAllScope;
using params::SetKind;
using params::Side;
namespace item = params::item;

constexpr const char* kAddress = "192.168.202.20";

// What a user gives each settable item, in the units the test module shows (m/s, mm, s, A).
struct Given {
  FieldInput input;
  std::string text;  // the CLI's VALUE
};

Given GivenFor(const DisplayItem& item) {
  switch (item.set) {
    case SetKind::Typed: {
      const char* typed = item.id == item::kSpeed          ? "0.5"
                          : item.id == item::kAcceleration ? "300"
                          : item.id == item::kDeceleration ? "250"
                          : item.id == item::kCurrentLimit ? "1000"
                                                           : "1.5";
      return {FieldInput{typed, "", -1, false}, typed};
    }
    case SetKind::TypedPair:
      return {FieldInput{"1.5", "2.5", -1, false}, item.id == item::kLowCurrent ? "1.5" : "2.5"};
    case SetKind::List: {
      // The second entry of each list, named as the script names it (the drive type's list is
      // the module's own).
      const char* text = item.id == item::kBrake       ? params::kBrakeMethods[1]
                         : item.id == item::kDirection ? params::kDirections[1]
                         : item.id == item::kZpaMode   ? params::kZpaModes[2]
                                                       : "";
      const int entry = item.id == item::kZpaMode ? 2 : 1;
      return {FieldInput{"", "", entry, false}, text};
    }
    case SetKind::Check:
      return {FieldInput{"", "", -1, true}, "on"};
    case SetKind::None:
      break;
  }
  return {};
}

// The module type on which SetAll reaches the item.
uint16_t ModuleTypeFor(const DisplayItem& item) {
  return item.setAll == SetAllScope::TransportOnly || item.setAll == SetAllScope::TransportOrValves
             ? params::kTypeTransport
             : 1;
}

class FieldPlanTest : public ::testing::Test {
 protected:
  // A fresh line with the test module at node 1, the screen connected to it after a full read.
  std::unique_ptr<params::NodeScreenController> Screen(fixtures::FakeLine& line, uint16_t type) {
    fixtures::FakeModule module = fixtures::Family09Module();
    module.registers[18] = type;
    module.registers[96] = 1;
    module.registers[103] = 0;  // "Blocklückenabzug" must write the GAP timer first
    line.modules[kAddress] = module;
    auto screen = std::make_unique<params::NodeScreenController>(
        std::make_unique<fixtures::FakeLineLink>(line), prompt_, profile_);
    screen->SetNetworkText(kAddress);
    screen->SetFromText("1");
    screen->ChangeNode(0);
    EXPECT_TRUE(screen->Connected());
    line.ops.clear();
    return screen;
  }

  // The writes and saves a module received, in order.
  static std::vector<std::string> Writes(const fixtures::FakeLine& line) {
    std::vector<std::string> writes;
    for (const std::string& op : line.OpsOf(kAddress)) {
      if (op.rfind("write", 0) == 0 || op.rfind("save", 0) == 0) writes.push_back(op);
    }
    return writes;
  }

  base::ScriptedPrompt prompt_;  // answers Yes to SetAll's question
  platform::MemoryProfileStore profile_;
};

TEST_F(FieldPlanTest, SetSetAllAndTheCliWriteTheSameForEverySettableItem) {
  int settable = 0;
  for (const DisplayItem& item : params::kDisplayItems) {
    if (!item.Settable()) continue;
    for (Side side : {Side::A, Side::B}) {
      SCOPED_TRACE(base::Format("%s side %d", item.key, static_cast<int>(side)));
      ++settable;
      const Given given = GivenFor(item);
      const uint16_t type = ModuleTypeFor(item);

      // The screen's Set.
      fixtures::FakeLine setLine;
      auto screen = Screen(setLine, type);
      screen->ApplyField(item.id, side, given.input);
      const std::vector<std::string> set = Writes(setLine);
      ASSERT_FALSE(set.empty()) << ::testing::PrintToString(prompt_.Texts());

      // The CLI: the value as text, then the screen's own plan.
      fixtures::FakeLine cliLine;
      auto cliScreen = Screen(cliLine, type);
      std::string error;
      const std::string text =
          item.id == item::kDriveType
              ? cliScreen->View().driveEntries[static_cast<size_t>(side)].at(1).text
              : given.text;
      const auto input = params::FieldInputFromText(item, side, text, cliScreen->View(),
                                                    cliScreen->Lookup(), &error);
      ASSERT_TRUE(input) << error;
      FieldInput paired = *input;
      if (item.set == SetKind::TypedPair) paired = given.input;  // the CLI pairs the currents
      ASSERT_TRUE(cliScreen->RunPlan(cliScreen->PlanFor(item.id, side, paired)));
      EXPECT_EQ(Writes(cliLine), set);

      // SetAll over node 1..1, where the table says it reaches this module.
      if (!item.HasSetAll()) continue;
      fixtures::FakeLine rangeLine;
      auto rangeScreen = Screen(rangeLine, type);
      params::ScreenRangeHooks hooks;
      params::ControllerRangeScreen range(*rangeScreen, hooks);
      base::NullProgress progress;
      params::RangeContext context{range, prompt_, progress};
      params::FieldSetAll field;
      field.itemId = item.id;
      field.side = side;
      field.typed = given.input.typed;
      field.secondTyped = given.input.secondTyped;
      field.entry = given.input.entry;
      field.ticked = given.input.ticked;
      if (item.id == item::kZpaMode) field.typed = "2";  // the GAP timer typed beside it
      const params::RangeOutcome outcome = params::SetAllField(context, {"1", "1"}, field);
      EXPECT_EQ(outcome.done, std::vector<int>{1});
      std::vector<std::string> expected = set;
      // "Blocklückenabzug" over a range also writes the GAP timer typed beside it.
      if (item.id == item::kZpaMode) {
        expected.push_back(side == Side::A ? "save 103=2000" : "save 183=2000");
      }
      EXPECT_EQ(Writes(rangeLine), expected);
    }
  }
  EXPECT_EQ(settable, 2 * 22);
}

// The pre-reads of the table are made on the module about to be written, in the table's order.
TEST_F(FieldPlanTest, PreReadsComeFromTheTable) {
  const std::array<uint16_t, params::kImageWords> zeros{};
  const params::ImageView empty{params::ImageSpan(zeros)};
  std::vector<int> read;
  const params::ModuleRead record = [&](int reg) -> uint16_t {
    read.push_back(reg);
    return 0;
  };
  for (const DisplayItem& item : params::kDisplayItems) {
    if (!item.Settable()) continue;
    for (Side side : {Side::A, Side::B}) {
      read.clear();
      params::PlanField(item, side, GivenFor(item).input, empty, params::ShowState{}, record);
      std::vector<int> expected;
      const auto& aux = side == Side::A ? item.auxA : item.auxB;
      if (item.preRead == params::PreRead::DirectionExchange) expected = {aux[0], aux[1]};
      if (item.preRead == params::PreRead::GapForGapTrain) expected = {aux[0]};
      EXPECT_EQ(read, expected) << item.key;
    }
  }
}

TEST_F(FieldPlanTest, TextsNoEntryOrNoSettableFieldAreRefusedWithTheChoices) {
  fixtures::FakeLine line;
  auto screen = Screen(line, 1);
  std::string error;
  EXPECT_FALSE(params::FieldInputFromText(params::DisplayItemById(item::kBrake), Side::A, "Bremse",
                                          screen->View(), screen->Lookup(), &error));
  EXPECT_EQ(error.rfind("\"Bremse\" is none of: ", 0), 0u) << error;
  EXPECT_FALSE(params::FieldInputFromText(params::DisplayItemById(item::kClosedLoop), Side::A,
                                          "maybe", screen->View(), screen->Lookup(), &error));
  EXPECT_EQ(error, "\"maybe\" is none of: on, off");
  EXPECT_FALSE(params::FieldInputFromText(params::DisplayItemById(item::kFirmware), Side::A, "1",
                                          screen->View(), screen->Lookup(), &error));
  EXPECT_EQ(error.rfind("firmware cannot be set; fields that can: drivetype, brake, closedloop, "
                        "speed, direction, accel, decel",
                        0),
            0u)
      << error;
  EXPECT_TRUE(line.ops.empty());
}

}  // namespace
