// The topology procedure with its network steps replaced: the register readers run in
// parallel (one per drawn module, at most 170), duplicate addresses stop the run before
// anything is drawn, installation-topology mode retries once, a module whose registers name
// another serial is flagged and gets no reader in the next run, and a closing window stops it.
#include "topology/topology_procedure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "discovery/mreg_app.h"
#include "fixtures/temp_log.h"

namespace {

using topology::ProcedureRequest;
using topology::ProcedureResult;
using topology::ProcedureSteps;
using topology::TopologyProcedure;
using topology::TopologyViewState;

// An adapter with `count` modules, selected in the app.
AdapterPtr AddLine(CMRegApp& app, uint32_t count) {
  auto adapter = std::make_shared<CNAdapter>();
  adapter->name = "lab0";
  for (uint32_t i = 0; i < count; ++i) {
    auto node = std::make_shared<CNode_Data>();
    node->serialNumber = 1000 + i;
    node->ipAddress = 0x0A000000u + i + 1;
    node->ipText = "10.0." + std::to_string((i + 1) / 256) + "." + std::to_string((i + 1) % 256);
    node->neighborsAnswered = 1;
    adapter->nodes.push_back(node);
  }
  {
    std::lock_guard guard(app.inventoryLock);
    app.adapters.push_back(adapter);
  }
  app.SetSelectedAdapter("lab0");
  return adapter;
}

// What GetTopology would learn: chains of `chainLength` modules, the first of each on the
// PC's switch.
void Wire(NodeList& nodes, size_t chainLength) {
  for (size_t i = 0; i < nodes.size(); ++i) {
    nodes[i]->buddies.clear();
    nodes[i]->linkedToPcSwitch = i % chainLength == 0 ? 1 : 0;
  }
  for (size_t i = 0; i + 1 < nodes.size(); ++i) {
    if ((i + 1) % chainLength == 0) continue;
    nodes[i]->buddies.push_back(nodes[i + 1]);
    nodes[i + 1]->buddies.push_back(nodes[i]);
  }
}

topology::ReaderResult Connected(uint32_t serial) {
  topology::ReaderResult r;
  r.connected = true;
  r.regs.assign(20, 0);
  (void)serial;
  return r;
}

struct Fixture : ::testing::Test {
  fixtures::ScopedTempLog log;
  CMRegApp app;
  TopologyViewState state;
  std::atomic<int> topologyRuns{0};
  std::atomic<int> readerCalls{0};
};

TEST_F(Fixture, ReadersRunInParallelAndEveryDrawnModuleIsRead) {
  const AdapterPtr adapter = AddLine(app, 30);
  ProcedureSteps steps;
  steps.getTopology = [&](NodeList& nodes, std::mutex& lock) {
    std::lock_guard guard(lock);
    Wire(nodes, 10);
  };
  // A reader stays until another one has run beside it: readers that run one after the other
  // never meet (the first gives up after a deadline, the rest do not wait).
  std::atomic<int> inside{0};
  std::atomic<bool> met{false};
  std::atomic<bool> gaveUp{false};
  steps.readModule = [&](const std::string&, uint32_t serial, int, const std::function<bool()>&) {
    ++readerCalls;
    if (++inside >= 2) met = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!met && !gaveUp && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!met) gaveUp = true;
    --inside;
    return Connected(serial);
  };
  std::atomic<int> reported{0};
  topology::ProcedureEvents events;
  events.readers = [&](int, int total) {
    EXPECT_EQ(total, 30);
    ++reported;
  };
  TopologyProcedure procedure(app, steps);
  const ProcedureResult result = procedure.Run({}, state, events, "PL Conveyors Dialog");
  ASSERT_TRUE(result.ran);
  EXPECT_EQ(result.view.ModuleCount(), 30u);
  EXPECT_EQ(readerCalls.load(), 30);
  EXPECT_EQ(reported.load(), 30);
  EXPECT_TRUE(met.load());
  EXPECT_GT(result.peakReaders, 1u);
  EXPECT_EQ(result.outcome, topology::Outcome::Complete);
  EXPECT_EQ(result.title, "PL Conveyors Dialog - (30 Module sind dargestellt)");
  EXPECT_EQ(state.View().ModuleCount(), 30u);
}

TEST_F(Fixture, AtMost170AreDrawnAndReadAndTheLimitIsNamed) {
  AddLine(app, 175);
  ProcedureSteps steps;
  steps.getTopology = [&](NodeList& nodes, std::mutex& lock) {
    std::lock_guard guard(lock);
    Wire(nodes, 25);
  };
  steps.readModule = [&](const std::string&, uint32_t serial, int, const std::function<bool()>&) {
    ++readerCalls;
    return Connected(serial);
  };
  TopologyProcedure procedure(app, steps);
  const ProcedureResult result = procedure.Run({}, state, {}, "T");
  ASSERT_TRUE(result.ran);
  EXPECT_EQ(result.view.ModuleCount(), 170u);
  EXPECT_EQ(readerCalls.load(), 170);
  EXPECT_EQ(result.outcome, topology::Outcome::Partial);
  EXPECT_NE(result.message.find("von 170 der 175 Knoten"), std::string::npos) << result.message;
  EXPECT_NE(result.message.find("maximal 170 Knoten"), std::string::npos);
  EXPECT_EQ(result.title, "T - (170 Module sind dargestellt, 175 sind gefunden)");
}

TEST_F(Fixture, DuplicateAddressesStopBeforeTopology) {
  const AdapterPtr adapter = AddLine(app, 4);
  adapter->nodes[2]->ipAddress = adapter->nodes[1]->ipAddress;
  adapter->nodes[2]->ipText = adapter->nodes[1]->ipText;
  ProcedureSteps steps;
  steps.getTopology = [&](NodeList&, std::mutex&) { ++topologyRuns; };
  steps.readModule = [&](const std::string&, uint32_t serial, int, const std::function<bool()>&) {
    ++readerCalls;
    return Connected(serial);
  };
  TopologyProcedure procedure(app, steps);
  const ProcedureResult result = procedure.Run({}, state, {}, "T");
  EXPECT_FALSE(result.ran);
  EXPECT_EQ(topologyRuns.load(), 0);
  EXPECT_EQ(readerCalls.load(), 0);
  EXPECT_NE(result.duplicates.find("{ser.no: 1001 - ip:\"10.0.0.2\"}, {ser.no: 1002"),
            std::string::npos)
      << result.duplicates;
}

// Installation-topology mode runs the procedure once more when modules were missed; the
// second miss is reported as incomplete. Normal mode never retries.
TEST_F(Fixture, InstallationModeRetriesOnceThenReportsIncomplete) {
  struct Case {
    bool installation;
    int reachAfter;  // GetTopology run from which every module is reached (99: never)
    int passes;
    topology::Outcome outcome;
  };
  const Case cases[] = {{true, 2, 2, topology::Outcome::Complete},
                        {true, 99, 2, topology::Outcome::Incomplete},
                        {false, 2, 1, topology::Outcome::Incomplete}};
  for (const Case& c : cases) {
    CMRegApp local;
    TopologyViewState localState;
    AddLine(local, 12);
    int runs = 0;
    ProcedureSteps steps;
    steps.getTopology = [&](NodeList& nodes, std::mutex& lock) {
      std::lock_guard guard(lock);
      ++runs;
      Wire(nodes, 6);
      // The second chain is not reached until run `reachAfter`.
      if (runs < c.reachAfter) nodes[6]->linkedToPcSwitch = 0;
    };
    steps.readModule = [](const std::string&, uint32_t serial, int, const std::function<bool()>&) {
      return Connected(serial);
    };
    TopologyProcedure procedure(local, steps);
    ProcedureRequest request;
    request.installationMode = c.installation;
    const ProcedureResult result = procedure.Run(request, localState, {}, "T");
    EXPECT_EQ(result.passes, c.passes) << c.installation << " " << c.reachAfter;
    EXPECT_EQ(result.outcome, c.outcome) << c.installation << " " << c.reachAfter;
    EXPECT_EQ(runs, c.passes);
  }
}

TEST_F(Fixture, OtherSerialIsFlaggedAndNotReadAgain) {
  AddLine(app, 6);
  ProcedureSteps steps;
  steps.getTopology = [&](NodeList& nodes, std::mutex& lock) {
    std::lock_guard guard(lock);
    Wire(nodes, 6);
  };
  std::mutex seenLock;
  std::vector<uint32_t> seen;
  steps.readModule = [&](const std::string&, uint32_t serial, int, const std::function<bool()>&) {
    {
      std::lock_guard guard(seenLock);
      seen.push_back(serial);
    }
    topology::ReaderResult r = Connected(serial);
    r.otherSerial = serial == 1003;
    return r;
  };
  TopologyProcedure procedure(app, steps);
  ProcedureResult first = procedure.Run({}, state, {}, "T");
  ASSERT_TRUE(first.ran);
  const int device = first.view.FindDeviceBySerial(1003);
  ASSERT_GT(device, 0);
  EXPECT_EQ(first.view.devices[static_cast<size_t>(device)].errorText, topology::kErrorDuplicateIp);
  EXPECT_EQ(first.problems, 1);
  seen.clear();
  ProcedureResult second = procedure.Run({}, state, {}, "T");
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1003u), 0);
  EXPECT_EQ(seen.size(), 5u);
  const int again = second.view.FindDeviceBySerial(1003);
  ASSERT_GT(again, 0);
  EXPECT_EQ(second.view.devices[static_cast<size_t>(again)].errorText, topology::kErrorDuplicateIp);
}

// The mark is honoured by the next run only: once the address is no longer shared the module
// is read again and drawn without the mark; a module moved to another address is read at once.
TEST_F(Fixture, DuplicateMarkClearsOnceTheAddressIsNoLongerShared) {
  const AdapterPtr adapter = AddLine(app, 6);
  ProcedureSteps steps;
  steps.getTopology = [&](NodeList& nodes, std::mutex& lock) {
    std::lock_guard guard(lock);
    Wire(nodes, 6);
  };
  std::mutex seenLock;
  std::vector<uint32_t> seen;
  std::atomic<bool> shared{true};
  steps.readModule = [&](const std::string&, uint32_t serial, int, const std::function<bool()>&) {
    {
      std::lock_guard guard(seenLock);
      seen.push_back(serial);
    }
    topology::ReaderResult r = Connected(serial);
    r.otherSerial = serial == 1003 && shared.load();
    return r;
  };
  TopologyProcedure procedure(app, steps);
  auto errorOf = [](const ProcedureResult& result, uint32_t serial) {
    const int index = result.view.FindDeviceBySerial(serial);
    return index > 0 ? result.view.devices[static_cast<size_t>(index)].errorText : "not drawn";
  };
  ASSERT_EQ(errorOf(procedure.Run({}, state, {}, "T"), 1003), topology::kErrorDuplicateIp);
  shared = false;  // the other device with that address is gone
  ASSERT_EQ(errorOf(procedure.Run({}, state, {}, "T"), 1003), topology::kErrorDuplicateIp);
  seen.clear();
  const ProcedureResult third = procedure.Run({}, state, {}, "T");
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1003u), 1);
  EXPECT_EQ(errorOf(third, 1003), "");
  EXPECT_EQ(third.problems, 0);
  EXPECT_TRUE(procedure.DuplicateFlagged().empty());

  // Flagged again, then given another address: the next run reads it at once.
  shared = true;
  ASSERT_EQ(errorOf(procedure.Run({}, state, {}, "T"), 1003), topology::kErrorDuplicateIp);
  shared = false;
  {
    std::lock_guard guard(adapter->lock);
    adapter->nodes[3]->ipText = "10.0.0.99";
  }
  seen.clear();
  const ProcedureResult moved = procedure.Run({}, state, {}, "T");
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1003u), 1);
  EXPECT_EQ(errorOf(moved, 1003), "");
}

TEST_F(Fixture, ClosingWindowStopsTheRun) {
  AddLine(app, 6);
  ProcedureSteps steps;
  steps.getTopology = [&](NodeList& nodes, std::mutex& lock) {
    std::lock_guard guard(lock);
    Wire(nodes, 6);
    state.SetClosing();
  };
  steps.readModule = [&](const std::string&, uint32_t serial, int, const std::function<bool()>&) {
    ++readerCalls;
    return Connected(serial);
  };
  TopologyProcedure procedure(app, steps);
  const ProcedureResult result = procedure.Run({}, state, {}, "T");
  EXPECT_TRUE(result.stopped);
  EXPECT_FALSE(result.ran);
  EXPECT_EQ(readerCalls.load(), 0);
}

TEST(TopologySnapshot, CopiesNodesSoTheWorkerMayGoOn) {
  NodeList nodes;
  auto node = std::make_shared<CNode_Data>();
  node->serialNumber = 7;
  node->ipText = "1.2.3.4";
  node->linkedToPcSwitch = 1;
  nodes.push_back(node);
  const topology::DeviceArray view = topology::LayOut(nodes);
  const topology::DeviceArray copy = topology::SnapshotOf(view);
  ASSERT_EQ(copy.ModuleCount(), 1u);
  EXPECT_NE(copy.devices[1].node.get(), node.get());
  node->ipText = "9.9.9.9";
  EXPECT_EQ(copy.devices[1].node->ipText, "1.2.3.4");
}

}  // namespace
