// AutoConfig and factory reset against linesim inside a lab: the procedure's frame really
// renumbers the demo line's first chain, and a reset is acknowledged or, from a module that
// cannot answer, reported as failed without the long wait.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "base/prompt.h"
#include "discovery/discover.h"
#include "discovery/mreg_app.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/temp_log.h"
#include "platform/tick.h"
#include "sim/line.h"
#include "topology/node_command.h"

namespace {

using nlohmann::json;

// Ends the countdown once it has run for a few seconds: the modules are done long before the
// tool's fixed wait, and the test need not sit through it.
class ShortWait : public base::Progress {
 public:
  void SetRange(int total) override { total_ = total; }
  void SetPosition(int remaining) override {
    positions.push_back(remaining);
    if (total_ - remaining >= 4) Cancel().Cancel();
  }
  std::vector<int> positions;

 private:
  int total_ = 0;
};

struct Run {
  int result = -1;
  std::vector<std::string> texts;
  uint32_t ms = 0;
  uint32_t acknowledged = 0;
  size_t countdownSteps = 0;
};

// In the PC namespace: a discovery, then the command for the module with that serial (or, when
// it was not discovered, for a node with the given MAC).
json CommandInPc(const test::Lab& lab, uint16_t command, uint32_t serial, const std::string& mac) {
  discovery::SequenceCounter().fetch_add(1000);
  const auto text = lab.RunInNamespaceForText(
      "pc",
      [&] {
        base::ScriptedPrompt prompt;
        CMRegApp app(&prompt);
        json result;
        result["discover"] = app.Discover(true, nullptr);
        NodePtr node = app.FindNodeBySerial(serial, nullptr);
        if (!node) {
          node = std::make_shared<CNode_Data>();
          node->serialNumber = serial;
          node->revision = 0x0414;
          const auto parsed = sim::ParseMac(mac);
          if (parsed) std::copy(parsed->begin(), parsed->end(), node->mac.begin());
        }
        topology::NodeCommandWindow window;
        ShortWait progress;
        topology::NodeCommandContext context{app, prompt, progress, window, nullptr, 12};
        const uint32_t start = platform::GetTickCount();
        result["result"] = topology::RunNodeCommand(context, {command, node, nullptr});
        result["ms"] = platform::TicksSince(start);
        result["texts"] = prompt.Texts();
        result["acknowledged"] = node->resetAcknowledged;
        result["countdown"] = progress.positions;
        return result.dump();
      },
      120000);
  if (!text) {
    ADD_FAILURE() << "the run in the PC namespace failed";
    return json::object();
  }
  return json::parse(*text);
}

TEST(NodeCommandIntegration, AutoConfigFromTheFirstModuleConfiguresItsChain) {
  QM_SKIP_WITHOUT_LAB();
  fixtures::ScopedTempLog log;
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  const json run = CommandInPc(lab, topology::kCommandAutoConfig, 3100101, "");
  ASSERT_EQ(run.value("discover", 0), 1);
  EXPECT_EQ(run["result"], 1);
  ASSERT_FALSE(run["texts"].empty());
  EXPECT_EQ(run["texts"][0], topology::kTextProductSearch);
  EXPECT_FALSE(run["countdown"].empty());

  const auto id = line.Read(3100101, 1, 4, true);
  EXPECT_NE(id, std::vector<uint16_t>(4, 0));
  const uint32_t chain[] = {3100101, 3100102, 3100103, 3100104, 3100105, 3100106};
  for (size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(chain[i]);
    EXPECT_EQ(line.Read(chain[i], 1, 4, true), id);
    const auto m = line.Module(chain[i]);
    EXPECT_EQ(m.address, "192.168.202." + std::to_string(20 + i));
    EXPECT_EQ(m.linePosition, i == 0 ? 1 : (i == 5 ? 2 : 0));
    const auto up = line.Read(chain[i], 300, 2, true);
    const uint16_t previousLow = static_cast<uint16_t>((202 << 8) | (19 + i));
    const std::vector<uint16_t> expected =
        i == 0 ? std::vector<uint16_t>{0, 0}
               : std::vector<uint16_t>{static_cast<uint16_t>((192 << 8) | 168), previousLow};
    EXPECT_EQ(up, expected);
  }
  // The other chain heard nothing meant for it.
  EXPECT_EQ(line.Read(3100201, 1, 4, true), std::vector<uint16_t>(4, 0));
}

TEST(NodeCommandIntegration, FactoryResetIsAcknowledgedOrFailsAtOnce) {
  QM_SKIP_WITHOUT_LAB();
  fixtures::ScopedTempLog log;
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  line.Write(3100106, 1, {1, 2, 3, 4}, true);
  line.Write(3100106, 1, {1, 2, 3, 4}, false);

  const json reset = CommandInPc(lab, topology::kCommandFactoryReset, 3100106, "");
  EXPECT_EQ(reset["result"], 1);
  EXPECT_EQ(reset["acknowledged"], 1);
  EXPECT_EQ(reset["texts"], json::array({topology::kTextFactoryResetQuestion}));
  EXPECT_TRUE(test::Linesim::WaitUntil(
      [&] { return line.Read(3100106, 1, 4, true) == std::vector<uint16_t>(4, 0); }, 2000));
  EXPECT_EQ(line.Module(3100106).address, "192.168.202.25");
  EXPECT_EQ(line.Module(3100106).linePosition, 0xFF);

  // A dead module cannot acknowledge: the failure comes within the listen, not after 14 s.
  const std::string mac = line.Module(3100206).mac;
  line.Kill(3100206);
  const json failed = CommandInPc(lab, topology::kCommandFactoryReset, 3100206, mac);
  EXPECT_EQ(failed["result"], 1);
  EXPECT_EQ(failed["acknowledged"], 0);
  ASSERT_EQ(failed["texts"].size(), 2u);
  EXPECT_EQ(failed["texts"][1], topology::kTextFactoryResetFailed);
  EXPECT_LT(failed["ms"].get<uint32_t>(), 3000u);
  EXPECT_TRUE(failed["countdown"].empty());
}

}  // namespace
