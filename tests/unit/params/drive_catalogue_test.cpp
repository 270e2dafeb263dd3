#include "params/drive_catalogue.h"
#include "unit/params/plan_steps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace params {
namespace {

using params_test::Steps;

TEST(DriveCatalogue, RowsAreIndexedAndCurrentClassesFixOnlyCurrents) {
  ASSERT_EQ(kDriveCatalogue.size(), 35u);
  for (size_t i = 0; i < kDriveCatalogue.size(); ++i) {
    const DriveType& row = kDriveCatalogue[i];
    EXPECT_EQ(row.index, static_cast<int>(i));
    const bool currentClass = i >= 32;
    EXPECT_EQ(row.IsCurrentClass(), currentClass) << row.name;
    EXPECT_EQ(row.constant == kNotApplicable, currentClass) << row.name;
    EXPECT_EQ(row.parameter == kNotApplicable, currentClass) << row.name;
    EXPECT_EQ(row.code == kNotApplicable, currentClass) << row.name;
  }
  // Only these rows carry a family-0x09 name of their own.
  for (const DriveType& row : kDriveCatalogue) {
    const bool own =
        row.index == 9 || row.index == 10 || row.index == 11 || row.index == 30 || row.index == 31;
    EXPECT_EQ(std::string(row.name) != row.family09Name, own) << row.name;
  }
  EXPECT_STREQ(kDriveCatalogue[31].family09Name, "Oskarn-Ux Torque Limit");
  EXPECT_STREQ(kDriveCatalogue[34].name, "7.2 A");
}

struct RecognitionCase {
  const char* what;
  DriveTypeRegisters regs;  // flag, rated, constant, max, code
  const char* name;
  const char* family09Name;
};

TEST(DriveCatalogue, RecognisesByBothPasses) {
  const RecognitionCase cases[] = {
      {"current class, second pass by maximum current",
       {0xFFFF, 3000, 0xFFFF, 3500, 0},
       "3 A",
       "3 A"},
      {"current class 7.2 A", {0xFFFF, 7200, 0xFFFF, 9000, 0xFFFF}, "7.2 A", "7.2 A"},
      {"code 26 ignores the currents",
       {1, 1234, 483, 999, 26},
       "Oskarn Torque Limit",
       "Oskarn-Ux Torque Limit"},
      {"code 26 ignores the currents, both zero",
       {1, 0, 483, 0, 26},
       "Oskarn Torque Limit",
       "Oskarn-Ux Torque Limit"},
      {"code 26 with another constant falls to the second pass",
       {1, 3600, 350, 5000, 26},
       "Oskarn Vigor",
       "Oskarn-Ux Vigor"},
      {"exact first-pass match", {1, 3200, 430, 4000, 0}, "Tevlindor 28W", "Tevlindor 28W"},
      {"first pass tells rows apart by the maximum current",
       {1, 4000, 140, 7000, 0},
       "Tevlindor 50W,7A",
       "Tevlindor 50W,7A"},
      {"code column decides", {1, 3600, 483, 8000, 30}, "Oskarn Surge 8", "Oskarn Surge 8"},
      {"second pass by flag and constant", {1, 2800, 483, 1234, 0}, "Oskarn ECO", "Oskarn-Ux ECO"},
      {"second pass needs the rated current", {1, 2801, 483, 3000, 0}, "", ""},
      {"all zero is the unknown row", {0, 0, 0, 0, 0}, "Nicht bekannt", "Nicht bekannt"},
      {"nothing matches", {0, 1234, 7, 4321, 3}, "", ""},
  };
  for (const RecognitionCase& c : cases) {
    EXPECT_EQ(RecognisedDriveText(c.regs, false), c.name) << c.what;
    EXPECT_EQ(RecognisedDriveText(c.regs, true), c.family09Name) << c.what;
  }
}

TEST(DriveCatalogue, EveryTypeWrittenByItsPlanIsRecognisedAgain) {
  // Applying a type and reading the registers back must show the same type: a fault in a
  // column or in the plan's register order shows up here.
  for (const DriveType& row : kDriveCatalogue) {
    if (row.index == kDriveUnknown || row.IsValve()) continue;
    for (Side side : {Side::A, Side::B}) {
      DriveTypeRegisters regs{0, 0, 0, 0, 0};
      const DriveSideRegisters& r = DriveRegistersOf(side);
      for (const PlanStep& step : PlanApplyDriveType(side, row.name, 0, false).steps) {
        if (step.kind != PlanStepKind::Write && step.kind != PlanStepKind::Save) continue;
        if (step.reg == r.classFlag) regs.classFlag = step.value;
        if (step.reg == r.ratedCurrent) regs.ratedCurrent = step.value;
        if (step.reg == r.constant) regs.constant = step.value;
        if (step.reg == r.maxCurrent) regs.maxCurrent = step.value;
        if (step.reg == r.code) regs.code = step.value;
      }
      const std::optional<int> recognised = RecogniseDriveType(regs);
      ASSERT_TRUE(recognised.has_value()) << row.name;
      // Rows with identical columns: the first one wins.
      const DriveType& found = kDriveCatalogue[static_cast<size_t>(*recognised)];
      EXPECT_EQ(found.ratedCurrent, row.ratedCurrent) << row.name;
      EXPECT_EQ(found.maxCurrent, row.maxCurrent) << row.name;
      if (!row.IsCurrentClass()) {
        EXPECT_EQ(found.index, row.index) << row.name;
      }
    }
  }
}

TEST(DriveCatalogue, FindsRowsByTheNameShownOnTheFamily) {
  EXPECT_EQ(FindDriveType("Oskarn ECO", false), 9);
  EXPECT_EQ(FindDriveType("Oskarn ECO", true), -1);
  EXPECT_EQ(FindDriveType("Oskarn-Ux ECO", true), 9);
  EXPECT_EQ(FindDriveType("Oskarn-Ux ECO", false), -1);
  EXPECT_EQ(FindDriveType("3 A", true), 32);
  EXPECT_EQ(FindDriveType("Forkane Servo", false), kDriveForkaneServo);
  EXPECT_EQ(FindDriveType("Oskarn", false), -1);
}

TEST(DriveCatalogue, ApplyPlans) {
  struct Case {
    const char* what;
    Side side;
    const char* entry;
    int listIndex;
    bool family09;
    std::vector<std::string> steps;
  };
  const Case cases[] = {
      {"current class writes and saves only the currents",
       Side::A,
       "7.2 A",
       4,
       true,
       {"write 41=7200", "write 59=9000", "savegroup 41+19"}},
      {"full type on the right drive",
       Side::B,
       "Oskarn ECO",
       1,
       false,
       {"write 65=2800", "write 83=3000", "hide current limit", "write 69=1", "write 66=483",
        "write 73=0", "write 175=0", "write 76=105", "savegroup 65+19", "save 492=0"}},
      {"code 26 keeps the user's current limit and shows its controls",
       Side::A,
       "Oskarn-Ux Torque Limit",
       3,
       true,
       {"show current limit", "write 45=1", "write 42=483", "write 49=0", "write 95=0",
        "write 52=105", "savegroup 41+19", "save 490=26"}},
      {"valve saves the list index", Side::B, "Self Ctrl. Valve", 1, false, {"save 193=1"}},
      {"valve on the left", Side::A, "Upstream Ctrl. Valve", 0, false, {"save 113=0"}},
      {"unknown entry does nothing", Side::A, "Nicht bekannt", 0, false, {}},
      {"a name of the other family is not found", Side::A, "Oskarn ECO", 1, true, {}},
  };
  for (const Case& c : cases) {
    const RegisterPlan plan = PlanApplyDriveType(c.side, c.entry, c.listIndex, c.family09);
    EXPECT_EQ(Steps(plan), c.steps) << c.what;
    EXPECT_FALSE(plan.Refused()) << c.what;
  }
  EXPECT_EQ(PlanApplyDriveType(Side::B, "5 A", 2, false).readNext, RefreshGroup::RightDrive);
}

std::vector<std::string> Texts(DriveListKind kind) {
  std::vector<std::string> texts;
  for (const DriveListEntry& entry : DriveListEntries(kind)) texts.push_back(entry.text);
  return texts;
}

TEST(DriveCatalogue, ListsPerModuleKind) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Texts(DriveListKind::Valves), (V{"Upstream Ctrl. Valve", "Self Ctrl. Valve"}));
  EXPECT_EQ(Texts(DriveListKind::Family03),
            (V{"Nicht bekannt", "Oskarn ECO", "Oskarn ECO +", "Oskarn Vigor", "Oskarn Vigor,8A"}));
  EXPECT_EQ(Texts(DriveListKind::Family09Zentrik),
            (V{"Nicht bekannt", "3 A", "5 A", "7.2 A", "Oskarn-Ux Vigor,8A"}));
  EXPECT_EQ(Texts(DriveListKind::Family09), (V{"Nicht bekannt", "Oskarn-Ux ECO", "Oskarn-Ux ECO +",
                                               "Oskarn-Ux Vigor", "Oskarn-Ux Vigor,8A"}));
  EXPECT_EQ(Texts(DriveListKind::OtherAfterRefill),
            (V{"Nicht bekannt", "Oskarn ECO", "Oskarn Vigor", "Oskarn Vigor,8A"}));
  const V whole = Texts(DriveListKind::WholeCatalogue);
  ASSERT_EQ(whole.size(), 35u);
  EXPECT_EQ(whole[9], "Oskarn ECO");

  EXPECT_STREQ(DirectionListEntries(DriveListKind::Valves)[1], "OFF Running");
  EXPECT_STREQ(DirectionListEntries(DriveListKind::Family09)[1], "CCW");
  EXPECT_STREQ(kZpaModes[2], "Blocklückenabzug");
  EXPECT_STREQ(kBrakeMethods[3], "Servo Bremse 2");
}

TEST(DriveCatalogue, ListRefillFollowsTheModuleKind) {
  const ModuleKind standard{0x00, 1, 0x01};
  const ModuleKind valves{0x00, 4, 0x01};
  const ModuleKind family03{0x03, 1, 0x31};
  const ModuleKind zentrik{0x09, 1, 0x97};
  const ModuleKind family09{0x09, 1, 0x95};
  const ModuleKind io{0x0C, 1, 0xC1};
  struct Case {
    ModuleKind now, before;
    DriveListKind shown, expected;
  };
  const Case cases[] = {
      {valves, standard, DriveListKind::WholeCatalogue, DriveListKind::Valves},
      {family03, standard, DriveListKind::WholeCatalogue, DriveListKind::Family03},
      {zentrik, family09, DriveListKind::Family09, DriveListKind::Family09Zentrik},
      {family09, zentrik, DriveListKind::Family09Zentrik, DriveListKind::Family09},
      {standard, valves, DriveListKind::Valves, DriveListKind::OtherAfterRefill},
      {standard, family09, DriveListKind::Family09, DriveListKind::OtherAfterRefill},
      // No refill between standard modules: the list keeps what it shows.
      {standard, io, DriveListKind::WholeCatalogue, DriveListKind::WholeCatalogue},
      {io, standard, DriveListKind::OtherAfterRefill, DriveListKind::OtherAfterRefill},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NextDriveList(c.now, c.before, c.shown), c.expected)
        << int(c.now.family) << "/" << c.now.moduleType << " after " << int(c.before.family) << "/"
        << c.before.moduleType;
  }
}

}  // namespace
}  // namespace params
