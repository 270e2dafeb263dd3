// The diagnostic screen's content read through the node screen (a simulated module behind its
// link): the blocks go through the screen's image and mirror rule, a lost module gives the
// unreachable text, and the emergency stop's Warning lines are written once per change.
#include "diag/diagnostic_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
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
