// Range operations of the node screen against a line of simulated modules behind the real
// controller: refusals that write nothing, the copy of a whole module with its direction
// flip per target, Format Flash with its bounded poll and drive defaults, Debugging, the
// ZPA / DTA list, and the run on the screen's worker thread.
#include "params/range_operations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "base/format.h"
#include "base/prompt.h"
#include "fixtures/fake_line_link.h"
#include "fixtures/fake_node_link.h"
#include "params/node_screen_controller.h"
#include "params/node_screen_worker.h"
#include "platform/profile.h"
#include "unit/params/plan_steps.h"

namespace {

using base::PromptAnswer;
using fixtures::FakeModule;
using params::FieldSetAll;
using params::NodeRange;
using params::RangeOutcome;
using params::Side;
namespace item = params::item;

constexpr const char* kSpeedMessage =
    "Ungültige Geschwindigkeit. Es sind nur Werte von 0.015 bis 6.20 m/s gültig.";
using params_test::kNodeMessage;

FieldSetAll Field(int itemId, Side side, std::string typed = "") {
  FieldSetAll field;
  field.itemId = itemId;
  field.side = side;
  field.typed = std::move(typed);
  return field;
}

std::string Address(int node) {
  return base::Format("192.168.202.%d", node + 19);
}

// The operations of a module up to its first disconnect (the range's end may show it again).
std::vector<std::string> FirstVisit(const std::vector<std::string>& ops) {
  const auto end = std::find(ops.begin(), ops.end(), "disconnect");
  return std::vector<std::string>(ops.begin(), end == ops.end() ? end : end + 1);
}

class RecordingProgress : public base::Progress {
 public:
  void SetText(const std::string& text) override {
    texts.push_back(text);
    if (!cancelAt.empty() && text == cancelAt) Cancel().Cancel();  // while this node runs
  }
  std::vector<std::string> texts;
  std::string cancelAt;
};

struct SavedPair {
  std::string address;
  uint16_t r1, v1, r2, v2;
  bool operator==(const SavedPair&) const = default;
};

class RangeOperationsTest : public ::testing::Test {
 protected:
  FakeModule& AddNode(int node, FakeModule module = fixtures::Family09Module()) {
    module.registers[28] = static_cast<uint16_t>(node);  // tells the nodes apart
    return line_.modules[Address(node)] = std::move(module);
  }
  FakeModule& Node(int node) { return line_.modules.at(Address(node)); }
  uint16_t Reg(int node, int reg) { return Node(node).registers[reg]; }

  void MakeController() {
    controller_ = std::make_unique<params::NodeScreenController>(
        std::make_unique<fixtures::FakeLineLink>(line_), prompt_, profile_);
    controller_->SetNetworkText("192.168.202.20");
  }
  // The screen connected to `node` after a full read; the line's record starts empty.
  void Show(int node) {
    MakeController();
    controller_->SetFromText(std::to_string(node));
    controller_->ChangeNode(0);
    ASSERT_TRUE(controller_->Connected());
    line_.ops.clear();
  }

  template <typename Operation>
  RangeOutcome Run(Operation operation) {
    params::ControllerRangeScreen screen(*controller_, hooks_);
    params::RangeContext context{screen, prompt_, progress_};
    return operation(context);
  }
  RangeOutcome SetAllField(const std::string& from, const std::string& to,
                           const FieldSetAll& field) {
    return Run([&](params::RangeContext& c) { return params::SetAllField(c, {from, to}, field); });
  }
  RangeOutcome SetAllModule(const std::string& from, const std::string& to,
                            const params::SetAllTyped& typed) {
    return Run([&](params::RangeContext& c) { return params::SetAllModule(c, {from, to}, typed); });
  }
  RangeOutcome Format(const std::string& from, const std::string& to,
                      params::FormatOptions options = {}) {
    return Run([&](params::RangeContext& c) {
      return params::FormatFlash(c, {from, to}, options);
    });
  }

  size_t Shown(const std::string& text) const {
    const auto texts = prompt_.Texts();
    return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
  }

  fixtures::FakeLine line_;
  base::ScriptedPrompt prompt_;
  platform::MemoryProfileStore profile_;
  params::ScreenRangeHooks hooks_;
  RecordingProgress progress_;
  std::unique_ptr<params::NodeScreenController> controller_;
};

// ---- SetAll of one field -------------------------------------------------------------------

TEST_F(RangeOperationsTest, SetAllOfAnOutOfRangeSpeedShowsTheMessageOnceAndTouchesNoNode) {
  for (int node = 1; node <= 3; ++node) AddNode(node);
  Show(1);
  const RangeOutcome outcome = SetAllField("1", "3", Field(item::kSpeed, Side::A, "7.0"));

  EXPECT_EQ(outcome.refusal, kSpeedMessage);
  EXPECT_FALSE(outcome.ran);
  EXPECT_EQ(Shown(kSpeedMessage), 1u);
  EXPECT_FALSE(line_.AnyWrite());
  EXPECT_TRUE(line_.OpsOf(Address(2)).empty());
  EXPECT_TRUE(line_.OpsOf(Address(3)).empty());
  EXPECT_TRUE(controller_->TimerRunning());  // the shown module keeps refreshing
}

TEST_F(RangeOperationsTest, SetAllOfASpeedAsksWritesEveryReachableNodeAndShowsFromAgain) {
  AddNode(1);
  AddNode(2).registers[6] = 0x0094;  // mounted reversed: its left drive is register 64
  AddNode(3).answersPing = false;
  AddNode(4);
  Show(1);
  const RangeOutcome outcome = SetAllField("1", "4", Field(item::kSpeed, Side::A, "0.5"));

  const auto texts = prompt_.Texts();
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[0],
            "Soll diese Einstellung für all Module von 192.168.202.20 bis 192.168.202.23 "
            "übernommen werden?");
  EXPECT_EQ(texts[1], "Verbindung zu Modul IP 3 (IP: \"192.168.202.22\") nicht möglich.");
  EXPECT_EQ(outcome.done, (std::vector<int>{1, 2, 4}));
  EXPECT_EQ(outcome.failed, (std::vector<int>{3}));
  EXPECT_EQ(Reg(1, 40), 500);
  EXPECT_EQ(Reg(4, 40), 500);
  EXPECT_EQ(Reg(2, 64), 500);  // the reversed module's left drive
  EXPECT_EQ(Reg(2, 40), 800);
  EXPECT_EQ(progress_.texts,
            (std::vector<std::string>{"Node: 1", "Node: 2", "Node: 3", "Node: 4", ""}));
  // The end changes to the From node again and the cycle runs.
  EXPECT_EQ(line_.ops.back().rfind(Address(1), 0), 0u) << line_.ops.back();
  EXPECT_TRUE(controller_->Connected());
  EXPECT_TRUE(controller_->TimerRunning());
}

TEST_F(RangeOperationsTest, ACancelEndsTheLoopAfterTheNodeUnderWay) {
  for (int node = 1; node <= 3; ++node) AddNode(node);
  Show(1);
  progress_.cancelAt = "Node: 2";
  const RangeOutcome outcome = SetAllField("1", "3", Field(item::kSpeed, Side::A, "0.5"));
  EXPECT_TRUE(outcome.cancelled);
  EXPECT_EQ(outcome.done, (std::vector<int>{1, 2}));
  EXPECT_EQ(Reg(2, 40), 500);
  EXPECT_TRUE(line_.OpsOf(Address(3)).empty());
  EXPECT_TRUE(controller_->Connected());  // the From node is shown again
}

TEST_F(RangeOperationsTest, SetAllRefusesABadRangeAndAnswerNoDoesNothing) {
  AddNode(1);
  AddNode(2);
  Show(1);
  prompt_.QueueAnswer(PromptAnswer::No);
  EXPECT_FALSE(SetAllField("1", "2", Field(item::kSpeed, Side::A, "0.5")).ran);
  EXPECT_TRUE(controller_->Connected());

  const RangeOutcome empty = SetAllField("1", "", Field(item::kSpeed, Side::A, "0.5"));
  EXPECT_EQ(empty.refusal, kNodeMessage);
  EXPECT_FALSE(controller_->Connected());  // a bad range leaves the screen disconnected
  EXPECT_FALSE(line_.AnyWrite());
}

TEST_F(RangeOperationsTest, SetAllOfTheReleaseBoxChangesOnlyThatBitOnEachNode) {
  AddNode(1);
  AddNode(2).registers[94] = 0x0011;
  AddNode(3).registers[94] = 0x0200;
  Show(1);
  FieldSetAll field = Field(item::kDynamicReleaseTermination, Side::A);
  field.ticked = true;
  SetAllField("2", "3", field);
  EXPECT_EQ(Reg(2, 94), 0x0019);
  EXPECT_EQ(Reg(3, 94), 0x0208);
}

TEST_F(RangeOperationsTest, SetAllOfTheZpaModeWritesTheCheckedGapTimerAfterTheMode) {
  AddNode(1);
  AddNode(2).registers[103] = 0;
  Show(1);
  FieldSetAll field = Field(item::kZpaMode, Side::A, "2.5");
  field.entry = 2;  // Blocklückenabzug
  SetAllField("2", "2", field);
  const auto ops = line_.OpsOf(Address(2));
  const std::vector<std::string> expected{"read 103+1", "save 103=1000", "save 91=2",
                                          "save 103=2500"};
  EXPECT_TRUE(std::search(ops.begin(), ops.end(), expected.begin(), expected.end()) != ops.end());

  field.typed = "70";  // beyond 65 s: refused before any node is touched
  line_.ops.clear();
  const RangeOutcome refused = SetAllField("2", "2", field);
  EXPECT_FALSE(refused.refusal.empty());
  EXPECT_TRUE(line_.OpsOf(Address(2)).empty());
}

TEST(ReadFieldForSetAll, TakesWhatEachFieldsWorkNeedsFromTheScreen) {
  params::ScreenFieldReader fields;
  fields.text = [](int id, Side side) {
    return base::Format("%d%c", id, side == Side::A ? 'a' : 'b');
  };
  fields.entry = [](int id, Side) { return id == item::kZpaMode ? 2 : 1; };
  fields.ticked = [](int id, Side) { return id == item::kDynamicReleaseTermination; };

  const FieldSetAll zpa = params::ReadFieldForSetAll(item::kZpaMode, Side::B, fields);
  EXPECT_EQ(zpa.entry, 2);
  EXPECT_EQ(zpa.typed, "24b");        // the GAP timer
  EXPECT_EQ(zpa.secondTyped, "28b");  // the not-full-stop time (type 3)
  const FieldSetAll high = params::ReadFieldForSetAll(item::kHighCurrent, Side::A, fields);
  EXPECT_EQ(high.typed, "30a");
  EXPECT_EQ(high.secondTyped, "31a");
  EXPECT_EQ(params::ReadFieldForSetAll(item::kSpeed, Side::A, fields).typed, "3a");
  EXPECT_EQ(params::ReadFieldForSetAll(item::kBrake, Side::A, fields).entry, 1);
  EXPECT_TRUE(params::ReadFieldForSetAll(item::kDynamicReleaseTermination, Side::A, fields).ticked);
  EXPECT_FALSE(params::ReadFieldForSetAll(item::kClosedLoop, Side::A, fields).ticked);

  const params::SetAllTyped typed = params::ReadTypedForSetAll(fields);
  EXPECT_EQ(typed.speed, (std::array<std::string, 2>{"3a", "3b"}));
  EXPECT_EQ(typed.tZoneAccept, (std::array<std::string, 2>{"25a", "25b"}));
}

TEST_F(RangeOperationsTest, SetAllOfAZoneFieldDependsOnTheShownModuleType) {
  struct Case {
    uint16_t type;
    int itemId;
    std::string typed, second;
    std::string expected;  // the save on the target, "" for none
  };
  const std::vector<Case> cases{
      {1, item::kGapTimer, "2", "", ""},
      {3, item::kGapTimer, "2", "", "save 103=2000"},
      {3, item::kZpaMode, "", "3", "save 101=3000"},  // the not-full-stop time
      {3, item::kInduct, "0.5", "", "save 99=500"},
      {4, item::kTZoneAccept, "1", "", "save 98=1000"},
      {1, item::kTZoneAccept, "1", "", ""},
      {3, item::kDynamicReleaseTermination, "", "", ""},
  };
  for (const Case& c : cases) {
    line_ = {};
    AddNode(1).registers[18] = c.type;
    AddNode(2);
    Show(1);
    FieldSetAll field = Field(c.itemId, Side::A, c.typed);
    field.secondTyped = c.second;
    field.ticked = true;
    SetAllField("2", "2", field);
    std::vector<std::string> saves;
    for (const std::string& op : FirstVisit(line_.OpsOf(Address(2)))) {
      if (op.rfind("save", 0) == 0) saves.push_back(op);
    }
    const auto expected =
        c.expected.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.expected};
    EXPECT_EQ(saves, expected) << "type " << c.type << " item " << c.itemId;
  }
}

// ---- Set All ---------------------------------------------------------------------------

params::SetAllTyped TypedValues() {
  params::SetAllTyped typed;
  typed.speed = {"0.5", "0.6"};
  typed.acceleration = {"200", "150"};  // mm on m/s drives
  typed.deceleration = {"150", "100"};
  typed.gapTimer = {"1.5", "2"};
  typed.tZoneAccept = {"1", "1"};
  return typed;
}

TEST_F(RangeOperationsTest, SetAllIsRefusedOnTransportAndPneumaticModules) {
  const std::vector<std::tuple<uint16_t, std::string>> cases{
      {3, "Can't Set to All. This is a Trasnsportation module."},
      {4, "Can't Set to All. This is a Pneumatic module."}};
  for (const auto& [type, text] : cases) {
    line_ = {};
    const size_t beeps = prompt_.CountOf("beep");
    AddNode(1).registers[18] = type;
    AddNode(2);
    Show(1);
    const RangeOutcome outcome = SetAllModule("1", "2", TypedValues());
    EXPECT_EQ(outcome.refusal, text) << type;
    EXPECT_EQ(Shown(text), 1u) << type;
    EXPECT_EQ(prompt_.CountOf("beep"), beeps + 1) << type;
    EXPECT_FALSE(line_.AnyWrite()) << type;
    EXPECT_TRUE(line_.OpsOf(Address(2)).empty()) << type;
  }
}

TEST_F(RangeOperationsTest, SetAllStopsOnAModuleWithoutZonesAndAsksAboutEmptyLists) {
  FakeModule& source = AddNode(1);
  source.registers[90] = 0;
  source.registers[170] = 0;
  AddNode(2);
  Show(1);
  EXPECT_EQ(SetAllModule("1", "2", TypedValues()).refusal, "Dieses Modul hat unbenutzte Zonen.");
  EXPECT_FALSE(line_.AnyWrite());

  // Both zones in use, but the brake list shows nothing: the question, and No stops.
  source.registers[90] = 1;
  source.registers[170] = 1;
  source.registers[47] = 9;
  line_.ops.clear();
  prompt_.QueueAnswer(PromptAnswer::No);
  const RangeOutcome outcome = SetAllModule("1", "2", TypedValues());
  EXPECT_FALSE(outcome.ran);
  EXPECT_EQ(prompt_.Texts().back(),
            "Dieses Modul hat unbenutzte Zonen. Duplizieren dieses in anderen Modulen können sie "
            "unbrauchbar machen.");
  EXPECT_FALSE(line_.AnyWrite());
}

TEST_F(RangeOperationsTest, SetAllRefusesACheckedValueBeforeAnyNode) {
  AddNode(1);
  AddNode(2);
  Show(1);
  params::SetAllTyped typed = TypedValues();
  typed.speed[1] = "6.5";  // layout 1 checks the right drive too
  EXPECT_EQ(SetAllModule("1", "2", typed).refusal, kSpeedMessage);
  EXPECT_EQ(Shown(kSpeedMessage), 1u);
  EXPECT_FALSE(line_.AnyWrite());
}

TEST_F(RangeOperationsTest, SetAllCopiesTheModuleWithTheDirectionFlipOfEachTarget) {
  FakeModule& source = AddNode(1);
  source.registers[94] = 0x0004;
  source.registers[174] = 0x0010;
  source.registers[52] = 120;
  source.registers[76] = 105;
  AddNode(2).registers[96] = 1;  // no flip
  AddNode(3).registers[96] = 0;  // flip
  FakeModule& reversed = AddNode(4);
  reversed.registers[96] = 1;
  reversed.registers[6] = 0x0094;  // the flip inverted, and the sides exchanged
  Show(1);
  const RangeOutcome outcome = SetAllModule("2", "4", TypedValues());
  EXPECT_EQ(outcome.done, (std::vector<int>{2, 3, 4}));

  // The shown module's lists: both directions show CCW (register 0 under its own flip).
  const std::vector<std::string> expected{
      "connect",         "read 96+1",   "read 6+1",      "write 40=500",  "write 43=200",
      "write 44=150",    "write 48=1",  "write 64=600",  "write 67=150",  "write 68=100",
      "write 72=1",      "write 45=1",  "write 41=2800", "write 42=483",  "write 52=120",
      "write 59=3000",   "write 69=1",  "write 65=2800", "write 66=483",  "write 76=105",
      "write 83=3000",   "write 47=0",  "write 71=0",    "write 46=0",    "write 70=0",
      "savegroup 40+44", "save 490=0",  "save 492=0",    "save 91=1",     "save 171=2",
      "save 94=4",       "save 174=16", "save 103=1500", "save 183=2000", "disconnect"};
  EXPECT_EQ(FirstVisit(line_.OpsOf(Address(2))), expected);
  EXPECT_EQ(Reg(3, 48), 0);
  EXPECT_EQ(Reg(3, 72), 0);
  EXPECT_EQ(Reg(4, 64), 500);  // left speed on the reversed module's own left drive
  EXPECT_EQ(Reg(4, 40), 600);
  EXPECT_EQ(Reg(4, 72), 0);
}

TEST_F(RangeOperationsTest, SetAllWithOneDriveCopiesItToBothSides) {
  FakeModule& source = AddNode(1);
  source.registers[90] = 3;  // layout 4: left drive and upstream zone only
  source.registers[170] = 0;
  AddNode(2);
  Show(1);
  params::SetAllTyped typed = TypedValues();
  typed.speed[1] = "6.5";  // not checked on this layout, and replaced by the left value
  typed.gapTimer[1] = "";  // the hidden downstream field: the shown module's own value
  const RangeOutcome outcome = SetAllModule("2", "2", typed);
  ASSERT_TRUE(outcome.refusal.empty()) << outcome.refusal;
  EXPECT_EQ(Reg(2, 64), 500);
  EXPECT_EQ(Reg(2, 67), 200);
  EXPECT_EQ(Reg(2, 183), 1500);
  EXPECT_EQ(Reg(2, 171), 1);
}

// ---- Format Flash ----------------------------------------------------------------------

TEST_F(RangeOperationsTest, FormatFlashOfOneNodeAsksAndWritesTheRightDriveDefaultsFirst) {
  AddNode(1);
  AddNode(2);
  line_.formatBusyReads[Address(2)] = 2;
  Show(1);
  prompt_.QueueAnswer(PromptAnswer::No);
  EXPECT_FALSE(Format("2", "").ran);
  const auto history = prompt_.History();
  ASSERT_FALSE(history.empty());
  EXPECT_EQ(history.back().text,
            "Do You want to Clear and Save All Modbus registers of module with Number : 2");
  EXPECT_EQ(history.back().caption, "Format Flash");
  EXPECT_EQ(history.back().buttons, base::PromptButtons::YesNo);
  EXPECT_FALSE(line_.AnyWrite());

  EXPECT_EQ(Format("2", "").done, (std::vector<int>{2}));
  const std::vector<std::string> expected{
      "connect",        "read 6+1",      "write 251=100",   "read 251+1",      "read 251+1",
      "read 251+1",     "write 64=1000", "write 65=3200",   "write 69=1",      "write 66=430",
      "write 67=30",    "write 68=30",   "write 70=0",      "write 71=0",      "write 72=0",
      "write 175=0",    "write 74=5",    "write 75=65535",  "write 76=130",    "write 40=1000",
      "write 41=3200",  "write 45=1",    "write 42=430",    "write 43=50",     "write 44=50",
      "write 46=0",     "write 47=0",    "write 48=0",      "write 95=0",      "write 50=5",
      "write 51=65535", "write 52=130",  "savegroup 40+13", "savegroup 64+13", "disconnect"};
  EXPECT_EQ(FirstVisit(line_.OpsOf(Address(2))), expected);
}

TEST_F(RangeOperationsTest, FormatFlashOfARangeGivesUpOnAModuleThatNeverFinishes) {
  for (int node = 1; node <= 3; ++node) AddNode(node);
  line_.formatBusyReads[Address(2)] = -1;
  Show(1);
  const RangeOutcome outcome = Format("2", "3");
  EXPECT_EQ(prompt_.History().front().text,
            "Do You want to Clear and Save All Modbus registers of modules with Numbers : 2 to 3 ");
  EXPECT_EQ(outcome.failed, (std::vector<int>{2}));
  EXPECT_EQ(outcome.done, (std::vector<int>{3}));
  EXPECT_EQ(Reg(2, 64), 800);  // no defaults on the module still formatting
  EXPECT_EQ(Reg(3, 64), 1000);
  EXPECT_EQ(Shown("Clear and Save All Modbus registers failed on modules with Numbers : 2"), 1u);
  // The poll stopped at its bound (simulated time), with one read per 100 ms.
  const auto ops = line_.OpsOf(Address(2));
  const auto polls = std::count(ops.begin(), ops.end(), "read 251+1");
  EXPECT_GE(polls, 300);
  EXPECT_LE(polls, 302);

  EXPECT_EQ(Format("0", "").refusal, kNodeMessage);
  EXPECT_EQ(Format("3", "2").refusal, kNodeMessage);
  // 2^32 + 1 .. 2^32 + 3 must not wrap to nodes 1 to 3.
  EXPECT_EQ(Format("4294967297", "4294967299").refusal, kNodeMessage);
}

// ---- Debugging -------------------------------------------------------------------------

TEST_F(RangeOperationsTest, DebuggingSwitchesEachNodeAndKeepsItsFlag) {
  for (int node = 1; node <= 3; ++node) AddNode(node);
  std::vector<SavedPair> saved;
  hooks_.pcAddressFor = [](const std::string& module) -> std::optional<std::string> {
    return module.rfind("192.168.202.", 0) == 0 ? std::optional<std::string>("192.168.202.10")
                                                : std::nullopt;
  };
  hooks_.savePair = [&saved](const std::string& address, uint16_t r1, uint16_t v1, uint16_t r2,
                             uint16_t v2, bool) {
    saved.push_back({address, r1, v1, r2, v2});
    return address != Address(3);
  };
  params::DebugFlags flags;
  Show(1);
  const auto debug = [&](const std::string& to) {
    return Run([&](params::RangeContext& c) { return params::Debugging(c, {"1", to}, flags); });
  };

  const RangeOutcome on = debug("3");
  EXPECT_EQ(prompt_.History().front().text,
            "Do you want to Enable/Disable Debug to nodes with IP From# 192.168.202.20 To# "
            "192.168.202.22)?\n\rPress Yes to Enable Debug to All selected nodes, \n\rPress No "
            "to Disable Debug to All selected nodes, \n\rPress Cancel to Exit.");
  EXPECT_EQ(prompt_.History().front().buttons, base::PromptButtons::YesNoCancel);
  EXPECT_EQ(saved, (std::vector<SavedPair>{{Address(1), 298, 0xC0A8, 299, 0xCA0A},
                                           {Address(2), 298, 0xC0A8, 299, 0xCA0A},
                                           {Address(3), 298, 0xC0A8, 299, 0xCA0A}}));
  EXPECT_EQ(on.failed, (std::vector<int>{3}));
  EXPECT_EQ(prompt_.CountOf("beep"), 1u);
  EXPECT_EQ(flags.NodesOn(), (std::vector<int>{1, 2}));
  EXPECT_FALSE(line_.AnyWrite());  // the pair goes through its own connection only
  EXPECT_TRUE(controller_->Connected());

  saved.clear();
  prompt_.QueueAnswer(PromptAnswer::No);
  debug("");  // empty To: the From node alone
  EXPECT_EQ(saved, (std::vector<SavedPair>{{Address(1), 298, 0, 299, 0}}));
  EXPECT_EQ(flags.NodesOn(), (std::vector<int>{2}));

  saved.clear();
  prompt_.QueueAnswer(PromptAnswer::Cancel);
  EXPECT_FALSE(debug("3").ran);
  EXPECT_TRUE(saved.empty());
  EXPECT_TRUE(controller_->Connected());

  hooks_.pcAddressFor = nullptr;  // no adapter fits: nothing is switched
  EXPECT_FALSE(debug("3").ran);
  EXPECT_TRUE(saved.empty());
}

TEST(DebugAddress, RegistersHoldTheAddressFirstByteHigh) {
  EXPECT_EQ(params::DebugAddressRegisters("192.168.202.10"),
            (std::array<uint16_t, 2>{0xC0A8, 0xCA0A}));
  EXPECT_EQ(params::DebugAddressRegisters("0.0.0.0"), (std::array<uint16_t, 2>{0, 0}));
  EXPECT_FALSE(params::DebugAddressRegisters("192.168.202").has_value());
}

// ---- ZPA / DTA -------------------------------------------------------------------------

TEST_F(RangeOperationsTest, MakeAllZpaToDtaConvertsOnlyZpaModulesAndStopsAtAFailure) {
  AddNode(1).registers[18] = 1;  // slave: skipped
  AddNode(2).registers[18] = 8;  // already DTA
  AddNode(3).registers[18] = 9;  // converted
  FakeModule& controllerFamily = AddNode(4);
  controllerFamily.registers[17] = 0x0201;  // family 0x02: skipped
  controllerFamily.registers[18] = 0;
  AddNode(5).registers[18] = 0;  // converted
  AddNode(6).registers[18] = 10;
  Show(1);
  std::vector<uint16_t> converted;
  bool failOnSix = true;
  const params::ZoneLogicConversion convert = [&](params::RangeScreen& screen,
                                                  params::ZoneLogic target, std::string* error) {
    EXPECT_EQ(target, params::ZoneLogic::Dta);
    const uint16_t node = screen.ReadOne(28);
    if (failOnSix && node == 6) {
      *error = "conversion refused";
      return false;
    }
    converted.push_back(node);
    return true;
  };
  const RangeOutcome outcome = Run([&](params::RangeContext& c) {
    return params::ZpaDtaSelected(c, {"1", "6"}, 3, convert);
  });
  EXPECT_EQ(converted, (std::vector<uint16_t>{3, 5}));
  EXPECT_EQ(outcome.failed, (std::vector<int>{6}));
  EXPECT_EQ(Shown("Connection to the module \"192.168.202.25\" is lost !"), 1u);
  EXPECT_EQ(progress_.texts[0], "#1");

  // A failure ends the loop: node 7 is never reached.
  AddNode(7).registers[18] = 0;
  converted.clear();
  line_.ops.clear();
  Run([&](params::RangeContext& c) { return params::ZpaDtaSelected(c, {"6", "7"}, 3, convert); });
  EXPECT_TRUE(line_.OpsOf(Address(7)).empty());

  // The single entries convert the shown module only when it is of the other kind.
  failOnSix = false;
  converted.clear();
  Show(3);
  Run([&](params::RangeContext& c) { return params::ZpaDtaSelected(c, {"3", ""}, 0, convert); });
  EXPECT_TRUE(converted.empty());  // already ZPA
  Run([&](params::RangeContext& c) { return params::ZpaDtaSelected(c, {"3", ""}, 1, convert); });
  EXPECT_EQ(converted, (std::vector<uint16_t>{3}));
}

TEST_F(RangeOperationsTest, ZpaDtaListWithoutConnectionOnlyClearsTheSelection) {
  AddNode(1);
  MakeController();
  const RangeOutcome outcome = Run([&](params::RangeContext& c) {
    return params::ZpaDtaSelected(c, {"1", "1"}, 3);
  });
  EXPECT_TRUE(outcome.clearSelection);
  EXPECT_TRUE(line_.ops.empty());
}

// ---- on the worker thread ----------------------------------------------------------------

TEST_F(RangeOperationsTest, AJobOnTheWorkerShowsTheNodeStatusAndTheWaitIndication) {
  AddNode(1);
  AddNode(2);
  MakeController();
  std::mutex mutex;
  std::vector<std::string> statuses;
  bool sawBusy = false;
  params::NodeScreenWorker worker(
      *controller_,
      [&](const params::NodeScreenView& view) {
        std::lock_guard<std::mutex> lock(mutex);
        if (statuses.empty() || statuses.back() != view.statusText) {
          statuses.push_back(view.statusText);
        }
        sawBusy = sawBusy || view.busy;
      },
      60000);
  worker.Post([](params::NodeScreenController& c) {
    c.SetFromText("1");
    c.ChangeNode(0);
  });
  params::ScreenRangeOperations ranges;
  worker.Post(ranges.SetAllFieldJob({"1", "2"}, Field(item::kSpeed, Side::B, "1.25")), true);
  worker.WaitIdle();
  worker.Stop();

  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_TRUE(sawBusy);
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Node: 1"), statuses.end());
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Node: 2"), statuses.end());
  EXPECT_NE(statuses.back(), "Node: 2");
  EXPECT_FALSE(controller_->View().busy);
  EXPECT_EQ(ranges.LastOutcome().done, (std::vector<int>{1, 2}));
  EXPECT_EQ(Reg(2, 64), 1250);
  EXPECT_EQ(Node(2).saves, 1);
}

}  // namespace
