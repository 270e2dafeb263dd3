// The line's topology against linesim inside a lab: GetTopology's buddies, neighbours and the
// modules on the PC's switch, and the recursive discovery's chains and directions, checked
// against the wiring of the line file and linesim's own view of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>

#include "base/bytes.h"
#include "base/prompt.h"
#include "discovery/discover.h"
#include "discovery/mreg_app.h"
#include "discovery/topology_protocol.h"
#include "discovery/topology_walk.h"
#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/temp_log.h"
#include "platform/tick.h"
#include "sim/line.h"
#include "topology/set_address.h"
#include "topology/topology_procedure.h"

namespace {

using nlohmann::json;

// The topology view for the walk: the temporary list, a counter and, for the orientation
// test, the columns where the modules would be drawn.
class ListView : public discovery::TopologyViewLink {
 public:
  std::mutex& TempNodesLock() override { return lock_; }
  NodeList& TempNodes() override { return temp_; }
  void CountPcSwitchNode() override { ++pcSwitch_; }
  bool Closing() const override { return false; }
  std::optional<uint16_t> DeviceColumn(uint32_t serial) override {
    const auto it = columns.find(serial);
    if (it == columns.end()) return std::nullopt;
    return it->second;
  }
  int PcSwitchCount() const { return pcSwitch_; }

  std::map<uint32_t, uint16_t> columns;  // where the window would draw each module

 private:
  std::mutex lock_;
  NodeList temp_;
  int pcSwitch_ = 0;
};

json BuddySerials(const CNode_Data& node) {
  json serials = json::array();
  for (const auto& buddy : node.buddies) {
    if (const NodePtr b = buddy.lock()) serials.push_back(b->serialNumber);
  }
  return serials;
}

// In the PC namespace: a discovery, GetTopology on the adapter's nodes and, when asked, every
// module sent to ROUTING and the recursive discovery from the PC's switch.
json TopologyInPc(const test::Lab& lab, bool walk, const std::map<uint32_t, uint16_t>& columns = {},
                  const std::vector<uint32_t>& orient = {}) {
  discovery::SequenceCounter().fetch_add(1000);  // each run is a fork: no shared numbers
  const auto text = lab.RunInNamespaceForText(
      "pc",
      [&] {
        base::ScriptedPrompt prompt;
        CMRegApp app(&prompt);
        json result;
        result["discover"] = app.Discover(true, nullptr);
        const uint32_t topologyStart = platform::GetTickCount();
        result["topology"] = app.GetTopology();
        result["topologyMs"] = platform::TicksSince(topologyStart);
        result["nodes"] = json::object();
        if (const AdapterPtr adapter = app.SelectedAdapter()) {
          std::lock_guard guard(adapter->lock);
          for (const auto& node : adapter->nodes) {
            result["nodes"][std::to_string(node->serialNumber)] = {
                {"linked", node->linkedToPcSwitch},
                {"buddies", BuddySerials(*node)},
                {"topologyAnswered", node->topologyAnswered},
                {"neighborsAnswered", node->neighborsAnswered},
                {"leftSerial", node->leftSerial},
                {"rightSerial", node->rightSerial},
                {"leftPort", node->leftPort},
                {"rightPort", node->rightPort}};
          }
        }
        // The orientation test of single modules, with the buddies GetTopology found.
        result["orientation"] = json::object();
        for (uint32_t serial : orient) {
          NodePtr node;
          if (const AdapterPtr adapter = app.SelectedAdapter()) {
            node = adapter->FindNodeBySerial(serial, nullptr, true);
          }
          if (!node) continue;
          ListView view;
          view.columns = columns;
          result["orientation"][std::to_string(serial)] =
              discovery::_determineNode_Direction(app, view, node);
        }
        if (!walk) return result.dump();

        // Every module to ROUTING, then the walk from the PC's switch.
        discovery::CaptureHandlePtr handle;
        const auto routing =
            discovery::MakeHeaderOnly(discovery::kPacketGoRouting, discovery::NextSequenceNumber());
        discovery::_send_UDP_to_Node(app, handle, nullptr, routing.data(), routing.size(),
                                     discovery::kModulePort, 3);
        platform::SleepMs(100);
        ListView view;
        const uint32_t started = platform::GetTickCount();
        discovery::DiscoverRecursive(app, view, nullptr, handle);
        handle.reset();
        result["walkMs"] = platform::TicksSince(started);
        result["pcSwitchCount"] = view.PcSwitchCount();
        result["walk"] = json::array();
        std::lock_guard guard(view.TempNodesLock());
        for (const auto& node : view.TempNodes()) {
          result["walk"].push_back({{"serial", node->serialNumber},
                                    {"direction", node->direction},
                                    {"linked", node->linkedToPcSwitch},
                                    {"buddies", BuddySerials(*node)}});
        }
        return result.dump();
      },
      120000);
  if (!text) {
    ADD_FAILURE() << "the topology run in the PC namespace failed";
    return json::object();
  }
  return json::parse(*text);
}

// The chains as the walk found them: from each module on the PC's switch along the buddies.
std::map<uint32_t, std::vector<uint32_t>> ChainsOfWalk(const json& walk) {
  std::map<uint32_t, json> bySerial;
  for (const auto& node : walk) bySerial[node["serial"].get<uint32_t>()] = node;
  std::map<uint32_t, std::vector<uint32_t>> chains;
  for (const auto& [serial, node] : bySerial) {
    if (node["linked"] != 1) continue;
    std::vector<uint32_t> chain = {serial};
    std::optional<uint32_t> previous;
    uint32_t at = serial;
    for (;;) {
      std::optional<uint32_t> next;
      for (const auto& b : bySerial[at]["buddies"]) {
        if (b.get<uint32_t>() != previous.value_or(0)) next = b.get<uint32_t>();
      }
      if (!next || chain.size() > walk.size()) break;
      chain.push_back(*next);
      previous = at;
      at = *next;
    }
    chains[serial] = chain;
  }
  return chains;
}

uint32_t NeighbourSerial(const json& side) {
  return side.is_null() ? 0 : side["serial"].get<uint32_t>();
}
int NeighbourPort(const json& side) {
  return side.is_null() ? 0 : side["port"].get<int>();
}

TEST(TopologyIntegration, TheDemoLineIsLearntAsItIsCabled) {
  QM_SKIP_WITHOUT_LAB();
  fixtures::ScopedTempLog log;
  test::Lab lab;
  const std::string demo = test::SourceFile("sim/lines/demo.json");
  test::Linesim line(lab, demo);
  const sim::LineSetup setup = sim::LoadLineFile(demo);
  ASSERT_EQ(setup.chains.size(), 2u);
  ASSERT_EQ(setup.ModuleCount(), 12u);

  const json found = TopologyInPc(lab, true);
  ASSERT_EQ(found.value("discover", 0), 1);
  EXPECT_EQ(found["topology"], 1);
  ASSERT_EQ(found["nodes"].size(), 12u);

  // GetTopology: the chain heads on the PC's switch, buddies and neighbours as cabled.
  for (const auto& m : line.List()) {
    SCOPED_TRACE(m.serial);
    const json& node = found["nodes"][std::to_string(m.serial)];
    ASSERT_FALSE(node.is_null());
    EXPECT_EQ(node["linked"], m.position == 0 ? 1 : 0);
    EXPECT_EQ(node["topologyAnswered"], 1);
    EXPECT_EQ(node["neighborsAnswered"], 1);
    const auto& chain = setup.chains[m.chain];
    std::set<uint32_t> cabled;
    if (m.position > 0) cabled.insert(chain[m.position - 1].serial);
    if (m.position + 1 < static_cast<int>(chain.size()))
      cabled.insert(chain[m.position + 1].serial);
    const auto buddies = node["buddies"].get<std::vector<uint32_t>>();
    EXPECT_EQ(std::set<uint32_t>(buddies.begin(), buddies.end()), cabled);
    EXPECT_EQ(buddies.size(), cabled.size());
    EXPECT_EQ(node["leftSerial"], NeighbourSerial(m.raw["left"]));
    EXPECT_EQ(node["rightSerial"], NeighbourSerial(m.raw["right"]));
    EXPECT_EQ(node["leftPort"], NeighbourPort(m.raw["left"]));
    EXPECT_EQ(node["rightPort"], NeighbourPort(m.raw["right"]));
    // Left and right by the module's orientation: direction 0 has the PC on its left.
    const uint32_t towardsPc = m.position > 0 ? chain[m.position - 1].serial : 0;
    EXPECT_EQ(node[m.direction == 0 ? "leftSerial" : "rightSerial"], towardsPc);
  }

  // The walk: the same chains, module by module, with each module's orientation.
  EXPECT_EQ(found["pcSwitchCount"], 2);
  ASSERT_EQ(found["walk"].size(), 12u);
  const auto chains = ChainsOfWalk(found["walk"]);
  ASSERT_EQ(chains.size(), 2u);
  for (const auto& chain : setup.chains) {
    std::vector<uint32_t> expected;
    for (const auto& m : chain) expected.push_back(m.serial);
    ASSERT_TRUE(chains.count(expected.front())) << expected.front();
    EXPECT_EQ(chains.at(expected.front()), expected);
    for (const auto& m : chain) {
      for (const auto& node : found["walk"]) {
        if (node["serial"] == m.serial) {
          EXPECT_EQ(node["direction"], m.direction) << m.serial;
        }
      }
    }
  }
  // Every module was returned to NORMAL mode on the way.
  for (const auto& m : line.List()) EXPECT_EQ(m.raw["routing"], false) << m.serial;
  std::cout << "GetTopology of 12 modules: " << found["topologyMs"]
            << " ms, walk of the chains: " << found["walkMs"] << " ms\n";
}

TEST(TopologyIntegration, ASilentAndAMiswiredModule) {
  QM_SKIP_WITHOUT_LAB();
  fixtures::ScopedTempLog log;
  const json lineJson = {{"network", "192.168.202.0"},
                         {"mask", "255.255.255.0"},
                         {"gateway", "192.168.202.1"},
                         {"chains",
                          {{{{"serial", 701}, {"node", 1}},
                            {{"serial", 702}, {"node", 2}, {"faults", {{"miswired", true}}}},
                            {{"serial", 703}, {"node", 3}},
                            {{"serial", 704}, {"node", 4}, {"faults", {{"noTopology", true}}}}}}}};
  fixtures::TempFolder folder;
  const std::string path = folder.path() + "line.json";
  std::ofstream(path) << lineJson.dump(2);
  test::Lab lab;
  test::Linesim line(lab, path);

  const json found = TopologyInPc(lab, false);
  ASSERT_EQ(found.value("discover", 0), 1);
  EXPECT_EQ(found["topology"], 1);
  const json& nodes = found["nodes"];
  ASSERT_EQ(nodes.size(), 4u);
  // The silent module keeps its marks and fields; the others still list it as their buddy.
  EXPECT_EQ(nodes["704"]["topologyAnswered"], 0);
  EXPECT_EQ(nodes["704"]["neighborsAnswered"], 0);
  EXPECT_EQ(nodes["704"]["leftPort"], 3);
  EXPECT_EQ(nodes["703"]["buddies"], json({702, 704}));
  EXPECT_EQ(nodes["703"]["rightSerial"], 704);
  // The miswired module names its neighbours on the wrong sides; its neighbours do not.
  EXPECT_EQ(nodes["702"]["leftSerial"], 703);
  EXPECT_EQ(nodes["702"]["rightSerial"], 701);
  EXPECT_EQ(nodes["701"]["rightSerial"], 702);
  EXPECT_EQ(nodes["703"]["leftSerial"], 702);
  EXPECT_EQ(nodes["701"]["linked"], 1);
}

TEST(TopologyIntegration, AModulesOrientationFromWhereItsAnsweringBuddyIsDrawn) {
  QM_SKIP_WITHOUT_LAB();
  fixtures::ScopedTempLog log;
  test::Lab lab;
  const std::string demo = test::SourceFile("sim/lines/demo.json");
  test::Linesim line(lab, demo);
  const sim::LineSetup setup = sim::LoadLineFile(demo);
  // Drawn as the window lays a chain out: from the PC's switch to the right, 5 units a module.
  std::map<uint32_t, uint16_t> columns;
  std::map<uint32_t, uint8_t> direction;
  for (const auto& chain : setup.chains) {
    for (const auto& m : chain) {
      columns[m.serial] = static_cast<uint16_t>(5 * (m.position + 1));
      direction[m.serial] = m.direction;
    }
  }
  const std::vector<uint32_t> probed = {3100102, 3100106, 3100201, 3100203};
  const json found = TopologyInPc(lab, false, columns, probed);
  ASSERT_EQ(found.value("discover", 0), 1);
  for (uint32_t serial : probed) {
    EXPECT_EQ(found["orientation"][std::to_string(serial)], direction[serial]) << serial;
  }
  // Each test ends with the module back in NORMAL mode.
  for (const auto& m : line.List()) EXPECT_EQ(m.raw["routing"], false) << m.serial;
}

// The window keeps its node records from run to run (its Discover merges the answers into
// them). A second run after two modules changed places, and a third after a module was
// replaced by one with another serial number, must draw the line as it is cabled now.
TEST(TopologyIntegration, EveryRunOfTheWindowLearnsTheWiringAnew) {
  QM_SKIP_WITHOUT_LAB();
  fixtures::ScopedTempLog log;
  test::Lab lab;
  test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
  constexpr uint32_t kReplaced = 3100106;
  constexpr uint32_t kNewSerial = 3100199;
  discovery::SequenceCounter().fetch_add(1000);
  const auto text = lab.RunInNamespaceForText(
      "pc",
      [&] {
        base::ScriptedPrompt prompt;
        CMRegApp app(&prompt);
        topology::TopologyProcedure procedure(app, topology::LineSteps(app));
        topology::TopologyViewState state;
        // The first chain as drawn (serials by column) and the counts of a run.
        auto run = [&] {
          const topology::ProcedureResult result = procedure.Run({}, state, {}, "T");
          json out = {{"drawn", result.view.ModuleCount()},
                      {"found", result.found},
                      {"outcome", topology::OutcomeName(result.outcome)}};
          const AdapterPtr adapter = app.SelectedAdapter();
          if (!adapter) return out;
          std::lock_guard guard(adapter->lock);
          const int head = result.view.FindDeviceBySerial(3100101);
          std::map<uint16_t, uint32_t> row;
          for (size_t i = 1; head > 0 && i < result.view.devices.size(); ++i) {
            const auto& device = result.view.devices[i];
            if (device.row == result.view.devices[static_cast<size_t>(head)].row)
              row[device.column] = device.Serial();
          }
          json chain = json::array();
          for (const auto& [column, serial] : row) chain.push_back(serial);
          out["chain"] = chain;
          return out;
        };
        json result;
        result["first"] = run();
        line.Ok({{"cmd", "swap"}, {"module", 3100102}, {"with", 3100103}});
        result["swapped"] = run();
        // The module in the last place is replaced by one with another serial number: the
        // module takes it with an unchanged address (as a new module with its predecessor's
        // settings would answer).
        NodePtr replaced;
        if (const AdapterPtr adapter = app.SelectedAdapter()) {
          std::lock_guard guard(adapter->lock);
          if (const NodePtr node = FindNodeBySerial(kReplaced, nullptr, adapter->nodes)) {
            replaced = std::make_shared<CNode_Data>(*node);
          }
        }
        if (replaced) {
          replaced->serialNumber = kNewSerial;
          base::PutBE32(replaced->recordCopy.data(), kNewSerial);
          topology::SetAddressSequence sequence;
          topology::SetAddressContext context{app, prompt, sequence};
          result["serialChanged"] =
              topology::ChangeNodeAddress(context, replaced, {"", "", false, ""}) ==
              topology::SetAddressResult::Ok;
        }
        result["replaced"] = run();
        return result.dump();
      },
      240000);
  ASSERT_TRUE(text);
  const json found = json::parse(*text);
  const json first = {3100101, 3100102, 3100103, 3100104, 3100105, 3100106};
  EXPECT_EQ(found["first"]["chain"], first);
  EXPECT_EQ(found["first"]["drawn"], 12);
  const json swapped = {3100101, 3100103, 3100102, 3100104, 3100105, 3100106};
  EXPECT_EQ(found["swapped"]["chain"], swapped);
  EXPECT_EQ(found["swapped"]["outcome"], "complete");
  ASSERT_EQ(found.value("serialChanged", false), true);
  EXPECT_EQ(line.Module(kNewSerial).serial, kNewSerial);
  const json replaced = {3100101, 3100103, 3100102, 3100104, 3100105, kNewSerial};
  EXPECT_EQ(found["replaced"]["chain"], replaced);
  EXPECT_EQ(found["replaced"]["drawn"], 12);
  EXPECT_EQ(found["replaced"]["found"], 12);
  EXPECT_EQ(found["replaced"]["outcome"], "complete");
}

}  // namespace
