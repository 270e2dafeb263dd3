// The node screen's range operations against linesim modules inside a lab, through the real
// controller, register client, ping and adapter look-up: SetAll of a speed over two nodes,
// Format Flash of one node with its drive defaults, Debugging with the PC's own address.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/prompt.h"
#include "discovery/connect_inventory_link.h"
#include "discovery/mreg_app.h"
#include "discovery/pc_address.h"
#include "fixtures/integration_helpers.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/temp_log.h"
#include "params/node_screen_controller.h"
#include "params/range_operations.h"
#include "platform/profile.h"

namespace {

using nlohmann::json;

using test::demo_line::kNode1;        // family 0x09, speed in m/s
using test::demo_line::kNode2;        // family 0x09
constexpr uint32_t kNode3 = 3100103;  // family 0x00

json OutcomeJson(const params::RangeOutcome& outcome) {
  return {{"ran", outcome.ran},
          {"refusal", outcome.refusal},
          {"done", outcome.done},
          {"failed", outcome.failed}};
}

TEST(RangeOperationsLab, SetAllFormatFlashAndDebuggingReachTheModules) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  line.ResetCounters();

  const auto report = lab.RunInNamespaceForText("pc", [&]() -> std::string {
    fixtures::ScopedTempLog log;
    json result;
    CMRegApp app;
    discovery::ScopedConnectInventory link(app);
    base::ScriptedPrompt prompt;  // answers every question with Yes
    platform::MemoryProfileStore profile;
    params::NodeScreenController controller(params::MakeSocketNodeLink(), prompt, profile);
    controller.SetNetworkText("192.168.202.20");
    controller.SetFromText("1");
    controller.ChangeNode(0);
    result["connected"] = controller.Connected();

    params::ScreenRangeHooks hooks;
    hooks.pcAddressFor = [&app](const std::string& module) {
      return discovery::PcAddressFor(app, module);
    };
    params::ScreenRangeOperations ranges(hooks);
    params::FieldSetAll speed;
    speed.itemId = params::item::kSpeed;
    speed.side = params::Side::A;
    speed.typed = "0.7";
    ranges.SetAllFieldJob({"1", "2"}, speed)(controller);
    result["setAll"] = OutcomeJson(ranges.LastOutcome());
    ranges.FormatFlashJob({"3", ""})(controller);
    result["format"] = OutcomeJson(ranges.LastOutcome());
    ranges.DebuggingJob({"1", "2"})(controller);
    result["debug"] = OutcomeJson(ranges.LastOutcome());
    result["debugFlags"] = ranges.Flags().NodesOn();
    result["texts"] = prompt.Texts();
    result["connectedAfter"] = controller.Connected();
    result["node"] = controller.Node();
    return result.dump();
  });
  ASSERT_TRUE(report.has_value());
  const json result = json::parse(*report);
  ASSERT_EQ(result["connected"], true) << result.dump(1);

  EXPECT_EQ(result["setAll"]["done"], json({1, 2})) << result.dump(1);
  for (uint32_t serial : {kNode1, kNode2}) {
    EXPECT_EQ(line.Read(serial, 40, 1, true).at(0), 700) << serial;
  }

  EXPECT_EQ(result["format"]["done"], json({3})) << result.dump(1);
  EXPECT_EQ(line.Counters(kNode3).formats, 1u);
  EXPECT_EQ(line.Read(kNode3, 64, 13, true),
            (std::vector<uint16_t>{1000, 3200, 430, 30, 30, 1, 0, 0, 0, 0, 5, 0xFFFF, 130}));
  EXPECT_EQ(line.Read(kNode3, 40, 13, true),
            (std::vector<uint16_t>{1000, 3200, 430, 50, 50, 1, 0, 0, 0, 0, 5, 0xFFFF, 130}));

  // Debugging: the PC's address on the lab's adapter, 192.168.202.10, in 298 / 299.
  EXPECT_EQ(result["debug"]["done"], json({1, 2})) << result.dump(1);
  EXPECT_EQ(result["debugFlags"], json({1, 2}));
  for (uint32_t serial : {kNode1, kNode2}) {
    EXPECT_EQ(line.Read(serial, 298, 2, true), (std::vector<uint16_t>{0xC0A8, 0xCA0A})) << serial;
  }
  // Each range ends on its From node again, with the refresh cycle running.
  EXPECT_EQ(result["connectedAfter"], true);
  EXPECT_EQ(result["node"], 1);
}

}  // namespace
