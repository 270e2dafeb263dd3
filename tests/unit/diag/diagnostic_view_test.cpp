// The diagnostic screen's content read through the node screen (a simulated module behind its
// link): the blocks go through the screen's image and mirror rule, a lost module gives the
// unreachable text, and the emergency stop's Warning lines are written once per change.
#include "diag/diagnostic_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/prompt.h"
#include "fixtures/fake_node_link.h"
#include "fixtures/temp_log.h"
#include "params/mirror_map.h"
#include "params/node_screen_controller.h"
#include "platform/profile.h"

namespace {

class DiagnosticViewTest : public ::testing::Test {
 protected:
  void SetUp() override { module = fixtures::Family09Module(); }

  params::NodeScreenController& Connected() {
    controller = std::make_unique<params::NodeScreenController>(
        std::make_unique<fixtures::FakeNodeLink>(module), prompt, profile);
    controller->Start();
    controller->SetFromText("1");
    controller->ChangeNode(0);
    EXPECT_TRUE(controller->Connected());
    module.ops.clear();
    return *controller;
  }
  bool Read(const std::string& op) const {
    return std::find(module.ops.begin(), module.ops.end(), op) != module.ops.end();
  }

  fixtures::FakeModule module;
  base::ScriptedPrompt prompt;
  platform::MemoryProfileStore profile;
  std::unique_ptr<params::NodeScreenController> controller;
};

TEST_F(DiagnosticViewTest, ReadsItsBlocksThroughTheNodeScreenEveryTime) {
  module.registers[19] = 0;
  module.registers[104] = 0;
  module.registers[373] = 7;
  module.registers[58] = 0x0A00;
  params::NodeScreenController& screen = Connected();
  diag::DiagnosticContent content = diag::ReadDiagnosticContent(screen);
  ASSERT_TRUE(content.reachable);
  EXPECT_EQ(content.address, screen.View().moduleAddress);
  EXPECT_EQ(content.title, std::string(diag::kScreenTitle) + content.address);
  EXPECT_EQ(content.zones[0].reason.text, "Quillmar oder Lane Full Signal");
  EXPECT_EQ(content.motors[0].faultText, "Motorverbindungsfehler\n\rÜberstrom\n\r");
  EXPECT_TRUE(content.motors[0].missing);
  for (const char* op : {"read 6+1", "read 17+20", "read 370+14", "read 40+22"}) {
    EXPECT_TRUE(Read(op)) << op;
  }
  // A change on the module shows on the next read, not the image of the last pass.
  module.registers[373] = 3;
  module.registers[58] = 0;
  content = diag::ReadDiagnosticContent(screen);
  EXPECT_EQ(content.zones[0].reason.text, "Behälter zwischen Zonen");
  EXPECT_TRUE(content.motors[0].faults.empty());
}

TEST_F(DiagnosticViewTest, MirroredModuleReadsTheLeftMotorWhereTheMirrorRulePutsIt) {
  const int mapped = static_cast<int>(params::MirrorMap::Map(58));
  ASSERT_NE(mapped, 58);
  module.registers[6] = (module.registers[6] & 0xFFF0) | 0x0004;
  module.registers[mapped] = 0x0400;  // short circuit on the drive the screen calls left
  module.registers[58] = 0;
  const diag::DiagnosticContent content = diag::ReadDiagnosticContent(Connected());
  ASSERT_TRUE(content.reachable);
  EXPECT_EQ(content.motors[0].faultText, "Motorkurzschluss");
}

TEST_F(DiagnosticViewTest, ModuleThatCannotBeReadShowsTheUnreachableText) {
  params::NodeScreenController& screen = Connected();
  module.failingReads.insert(370);
  const diag::DiagnosticContent failed = diag::ReadDiagnosticContent(screen);
  EXPECT_FALSE(failed.reachable);
  EXPECT_EQ(failed.unreachableText,
            "Es kann keine Verbindung zu Modul mit IP: \"" + failed.address + " aufgebaut werden");

  module.failingReads.clear();
  screen.EnterDisconnected();
  module.ops.clear();
  EXPECT_FALSE(diag::ReadDiagnosticContent(screen).reachable);
  EXPECT_TRUE(module.ops.empty()) << "nothing is read without the node screen's connection";
}

struct RefusedCase {
  const char* name;
  int lastRegister;                // the module's register count (0: all)
  std::set<int> strayAnswerReads;  // blocks answered with another request's answer
  uint16_t register19;             // emergency stop
  const char* reason;              // upstream zone
  const char* leftMotor;           // fault text
  bool rightMotorKnown;
};
void PrintTo(const RefusedCase& c, std::ostream* os) {
  *os << c.name;
}

class DiagnosticViewRefusedTest : public DiagnosticViewTest,
                                  public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(DiagnosticViewRefusedTest, ARefusedBlockCostsOnlyItsOwnFields) {
  const RefusedCase& c = GetParam();
  module.registers[19] = c.register19;
  module.registers[104] = 0;
  module.registers[373] = 7;
  module.registers[108] = 0x0001;
  module.registers[58] = 0x0A00;
  module.registers[82] = 0x0400;
  params::NodeScreenController& screen = Connected();
  // A first reading of every block fills the image: a later refusal must not show it again.
  ASSERT_EQ(diag::ReadDiagnosticContent(screen).zones[0].reason.text,
            c.register19 ? "Marrowhalt" : "Quillmar oder Lane Full Signal");
  module.lastRegister = c.lastRegister;
  module.strayAnswerReads = c.strayAnswerReads;
  const diag::DiagnosticContent content = diag::ReadDiagnosticContent(screen);
  ASSERT_TRUE(content.reachable) << "a refused block is no lost connection";
  EXPECT_TRUE(content.unreachableText.empty());
  EXPECT_EQ(content.zones[0].reason.text, c.reason);
  EXPECT_EQ(content.zones[0].reasonKnown, std::string(c.reason) != diag::kUnknownField);
  // Zone errors (108) and sensors (35, 36, 282) lie below register 363.
  EXPECT_EQ(content.zones[0].errorText, "Sensor Blockade\n\r");
  EXPECT_TRUE(content.zones[0].sensorKnown);
  EXPECT_EQ(content.motors[0].faultText, c.leftMotor);
  EXPECT_EQ(content.motorsKnown[0], std::string(c.leftMotor) != "");
  EXPECT_EQ(content.motorsKnown[1], c.rightMotorKnown);
  const std::string text = diag::DiagnosticText(content);
  EXPECT_EQ(text.find("Es kann keine Verbindung"), std::string::npos);
  if (!content.zones[0].reasonKnown) {
    EXPECT_NE(text.find("  Grund:    ---\n"), std::string::npos) << text;
  }
  if (!content.motorsKnown[0]) {
    EXPECT_NE(text.find("Linker Motor: ---\n"), std::string::npos) << text;
  }
  // The emergency stop hides a code the module does not have: the log line says so.
  if (c.register19 != 0) {
    EXPECT_EQ(content.zones[0].reason.hiddenCodeKnown, c.lastRegister == 0 || c.lastRegister > 373);
  }
}

const RefusedCase kRefusedCases[] = {
    {"AllRegisters",
     0,
     {},
     0,
     "Quillmar oder Lane Full Signal",
     "Motorverbindungsfehler\n\rÜberstrom\n\r",
     true},
    // 383 registers: 488..509 refused, nothing shown needs them.
    {"Firmware383",
     383,
     {},
     0,
     "Quillmar oder Lane Full Signal",
     "Motorverbindungsfehler\n\rÜberstrom\n\r",
     true},
    // 363 registers: the reason codes 373 / 383 are refused.
    {"Firmware363", 363, {}, 0, "---", "Motorverbindungsfehler\n\rÜberstrom\n\r", true},
    // The emergency stop decides the reason without the code.
    {"Firmware363EmergencyStop",
     363,
     {},
     1,
     "Marrowhalt",
     "Motorverbindungsfehler\n\rÜberstrom\n\r",
     true},
    // Another request's answer for the left drive block: that motor only is unknown.
    {"StrayAnswerForTheLeftDrive", 0, {40}, 0, "Quillmar oder Lane Full Signal", "", true},
};
INSTANTIATE_TEST_SUITE_P(Refused, DiagnosticViewRefusedTest, ::testing::ValuesIn(kRefusedCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DiagnosticViewLog, EmergencyStopWarningOncePerChange) {
  fixtures::ScopedTempLog log;
  diag::DiagnosticContent content;
  content.address = "192.168.202.20";
  content.reachable = true;
  for (diag::ZoneContent& zone : content.zones) {
    zone.reason = {"Marrowhalt", true, 1, 7};
  }
  diag::LogHiddenReasons(content, nullptr);
  EXPECT_EQ(log.CountContaining("Marrowhalt (Register 19 = 0x0001), Code 7"), 2u);
  diag::LogHiddenReasons(content, &content);  // the next refresh, nothing changed
  EXPECT_EQ(log.CountContaining("Marrowhalt"), 2u);
  diag::DiagnosticContent changed = content;
  changed.zones[1].reason.hiddenCode = 13;
  diag::LogHiddenReasons(changed, &content);
  EXPECT_EQ(log.CountContaining("Marrowhalt"), 3u);
  EXPECT_EQ(log.CountContaining("Code 13 (MD)"), 1u);
  // Another module is news even with the same figures.
  diag::DiagnosticContent other = changed;
  other.address = "192.168.202.21";
  diag::LogHiddenReasons(other, &changed);
  EXPECT_EQ(log.CountContaining("Marrowhalt"), 5u);
  for (const std::string& line : log.Messages()) {
    EXPECT_EQ(line.find("Warning"), std::string::npos) << "the level is its own column";
  }
  EXPECT_NE(log.Contents().find("\tWarning\t"), std::string::npos);
}

}  // namespace

namespace {

// The screen's text in either language: the tables' texts (reasons, zone errors, motor faults,
// markers) and the screen's own words translated, joined texts piece by piece; a text without
// a translation (the lane-full reason with the program's name) stays as it is.
TEST(DiagnosticViewText, FollowsTheLanguage) {
  diag::DiagnosticContent content;
  content.reachable = true;
  content.address = "192.168.202.20";
  content.title = std::string(diag::kScreenTitle) + content.address;
  content.zones[0].reason.text = "Kein Nachfolger Modul";
  content.zones[0].errorText = "Sensor Blockade\n\rVerbindungsfehler\n\r";
  content.zones[0].sensor = {false, true, 3, false};
  content.zones[1].reason.text = "Quillmar oder Lane Full Signal";
  content.zones[1].errorText = "Unbekannter Fehler";
  content.motors[0].faults = {"Motorverbindungsfehler", "Überstrom"};
  content.motors[0].faultText = "Motorverbindungsfehler\n\rÜberstrom\n\r";
  content.motors[0].marker = diag::FaultMarker::kOvercurrent;
  content.motors[0].missing = true;
  content.motorsKnown[1] = false;

  EXPECT_EQ(diag::DiagnosticText(content, base::Language::German),
            "Diagnostik         Angezeigte Moduladresse: 192.168.202.20\n"
            "Vorgelagerte Zone (MU)\n"
            "  Grund:    Kein Nachfolger Modul\n"
            "  Fehler:   Sensor Blockade; Verbindungsfehler\n"
            "  Sensor:   ausgesteckt, verschmutzt An (3)\n"
            "Nachgelagerte Zone (MD)\n"
            "  Grund:    Quillmar oder Lane Full Signal\n"
            "  Fehler:   Unbekannter Fehler\n"
            "  Sensor:   angeschlossen, verschmutzt Aus (0)\n"
            "Linker Motor: Motorverbindungsfehler; Überstrom (nicht angeschlossen)\n"
            "  Marke:    Überstrom-Marke\n"
            "Rechter Motor: ---\n"
            "  Marke:    ---\n");
  EXPECT_EQ(diag::DiagnosticText(content, base::Language::English),
            "Diagnostics         Module address shown: 192.168.202.20\n"
            "Upstream zone (MU)\n"
            "  Reason:   No downstream module\n"
            "  Error:    Sensor jam; Connection error\n"
            "  Sensor:   unplugged, dirty On (3)\n"
            "Downstream zone (MD)\n"
            "  Reason:   Quillmar or lane full signal\n"
            "  Error:    Unknown error\n"
            "  Sensor:   connected, dirty Off (0)\n"
            "Left motor: Motor connection error; Overcurrent (not connected)\n"
            "  Marker:   Overcurrent marker\n"
            "Right motor: ---\n"
            "  Marker:   ---\n");

  // A module that cannot be reached: only the title and the unreachable text.
  const diag::DiagnosticContent lost = diag::UnreachableContent("192.168.202.21");
  EXPECT_EQ(diag::DiagnosticText(lost, base::Language::German),
            lost.title +
                "\nEs kann keine Verbindung zu Modul mit IP: \"192.168.202.21 aufgebaut "
                "werden\n");
  EXPECT_EQ(diag::DiagnosticText(lost, base::Language::English),
            "Diagnostics         Module address shown: 192.168.202.21\n"
            "Cannot connect to the module with IP: \"192.168.202.21\n");
}

}  // namespace
