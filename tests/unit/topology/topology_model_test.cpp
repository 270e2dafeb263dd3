// The topology view's model on hand-built node arrays as GetTopology leaves them: the rows and
// columns of branching lines, directions, the module checks, the limit of 170 drawn modules,
// duplicate addresses, titles and outcomes.
#include "topology/topology_model.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fixtures/temp_log.h"

namespace {

using topology::DeviceArray;

// A line: serial numbers linked to the PC's switch and the cables between modules (each cable
// makes the two modules buddies of each other, in the order given).
struct Line {
  std::vector<uint32_t> onSwitch;
  std::vector<std::pair<uint32_t, uint32_t>> cables;
};

NodeList Nodes(const Line& line, uint32_t count, uint32_t first = 1) {
  NodeList nodes;
  for (uint32_t serial = first; serial < first + count; ++serial) {
    auto node = std::make_shared<CNode_Data>();
    node->serialNumber = serial;
    node->ipAddress = 0x0A000000u + serial;  // distinct, the order does not matter here
    node->ipText = "10.0." + std::to_string(serial / 256) + "." + std::to_string(serial % 256);
    node->neighborsAnswered = 1;
    nodes.push_back(node);
  }
  auto find = [&](uint32_t serial) { return FindNodeBySerial(serial, nullptr, nodes); };
  for (uint32_t serial : line.onSwitch) find(serial)->linkedToPcSwitch = 1;
  for (const auto& [a, b] : line.cables) {
    find(a)->buddies.push_back(find(b));
    find(b)->buddies.push_back(find(a));
  }
  return nodes;
}

// serial -> (column, row) of every drawn module, in the device array's order.
std::vector<std::pair<uint32_t, std::pair<int, int>>> Places(const DeviceArray& view) {
  std::vector<std::pair<uint32_t, std::pair<int, int>>> places;
  for (size_t i = 1; i < view.devices.size(); ++i) {
    places.push_back({view.devices[i].Serial(), {view.devices[i].column, view.devices[i].row}});
  }
  return places;
}

struct LayoutCase {
  const char* name;
  Line line;
  uint32_t nodeCount;
  std::vector<std::pair<uint32_t, std::pair<int, int>>> places;  // array order
};

TEST(TopologyLayout, RowsAndColumnsOfBranchingLines) {
  const std::vector<LayoutCase> cases = {
      {"two chains on the switch",
       {{1, 4}, {{1, 2}, {2, 3}, {4, 5}}},
       5,
       // Every module on the switch gets its device before any branch is followed.
       {{1, {5, 0}}, {4, {5, 5}}, {2, {10, 0}}, {3, {15, 0}}, {5, {10, 5}}}},
      {"a module with two branches: the second takes the next row",
       {{1}, {{1, 2}, {1, 4}, {2, 3}, {4, 5}}},
       5,
       {{1, {5, 0}}, {2, {10, 0}}, {4, {10, 5}}, {3, {15, 0}}, {5, {15, 5}}}},
      {"a later chain sinks below a branch that filled its column",
       {{1, 5}, {{1, 2}, {2, 3}, {2, 4}, {5, 6}, {6, 7}}},
       7,
       {{1, {5, 0}},
        {5, {5, 5}},
        {2, {10, 0}},
        {3, {15, 0}},
        {4, {15, 5}},
        {6, {10, 5}},
        {7, {15, 10}}}},
      {"a longer later chain keeps its row past the end of the first",
       {{1, 3}, {{1, 2}, {3, 4}, {4, 5}}},
       5,
       {{1, {5, 0}}, {3, {5, 5}}, {2, {10, 0}}, {4, {10, 5}}, {5, {15, 5}}}},
      {"a ring is drawn once per module",
       {{1}, {{1, 2}, {2, 3}, {3, 1}}},
       3,
       {{1, {5, 0}}, {2, {10, 0}}, {3, {10, 5}}}},
      {"nothing on the switch: only the switch is drawn", {{}, {{1, 2}}}, 2, {}},
      {"a module no cable reaches is not drawn", {{1}, {{1, 2}}}, 3, {{1, {5, 0}}, {2, {10, 0}}}},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    const NodeList nodes = Nodes(c.line, c.nodeCount);
    const DeviceArray view = topology::LayOut(nodes);
    ASSERT_EQ(view.devices[0].kind, topology::kKindPcSwitch);
    EXPECT_EQ(view.devices[0].node, nullptr);
    EXPECT_EQ(Places(view), c.places);
    for (size_t i = 1; i < view.devices.size(); ++i) {
      const auto& device = view.devices[i];
      EXPECT_EQ(device.kind, topology::kKindModule);
      // The parent is the device the module was reached from, one column to the left.
      ASSERT_GE(device.parent, 0);
      EXPECT_EQ(view.devices[static_cast<size_t>(device.parent)].column + 5, device.column);
    }
  }
}

TEST(TopologyLayout, LookupsOfTheDeviceArray) {
  const NodeList nodes = Nodes({{1, 4}, {{1, 2}, {2, 3}, {4, 5}}}, 5);
  const DeviceArray view = topology::LayOut(nodes);
  const int one = view.FindDeviceBySerial(1), two = view.FindDeviceBySerial(2),
            three = view.FindDeviceBySerial(3), four = view.FindDeviceBySerial(4),
            five = view.FindDeviceBySerial(5);
  EXPECT_EQ(view.FindDeviceBySerial(0), -1);
  EXPECT_EQ(view.FindDeviceBySerial(99), -1);
  EXPECT_EQ(view.FindDeviceByIp(0x0A000002u), two);
  EXPECT_EQ(view.LeftBuddy(two), one);
  EXPECT_EQ(view.RightBuddy(two), three);
  EXPECT_EQ(view.LeftBuddy(one), -1);
  EXPECT_EQ(view.RightBuddy(three), -1);
  EXPECT_EQ(view.RightBuddy(four), five);  // its own row, not the first chain's
  EXPECT_EQ(view.RowEnd(one), three);
  EXPECT_EQ(view.RowEnd(five), five);
  EXPECT_EQ(view.LeftBuddy(0), -1);
  EXPECT_EQ(view.RowEnd(100), -1);
  // Cells: columns x CellSize wide, from half a cell below the row's top.
  const topology::CellRect cell = topology::CellOf(view.devices[static_cast<size_t>(five)], 10);
  EXPECT_EQ(cell.left, 100);
  EXPECT_EQ(cell.top, 55);
  EXPECT_EQ(cell.right, 150);
  EXPECT_EQ(cell.bottom, 100);
  EXPECT_EQ(view.HitTest(120, 80, 10), five);
  EXPECT_EQ(view.HitTest(120, 52, 10), -1);  // above the cell's top
  EXPECT_EQ(view.HitTest(10, 10, 10), 0);    // the switch
}

TEST(TopologyLayout, StopsAtTheLimitOf170Modules) {
  // 171 modules on the switch, and a chain of 200.
  Line wide;
  for (uint32_t s = 1; s <= 171; ++s) wide.onSwitch.push_back(s);
  Line longChain{{1}, {}};
  for (uint32_t s = 1; s < 200; ++s) longChain.cables.push_back({s, s + 1});
  for (const auto& [line, count] : {std::pair{wide, 171u}, std::pair{longChain, 200u}}) {
    const NodeList nodes = Nodes(line, count);
    const DeviceArray view = topology::LayOut(nodes);
    EXPECT_EQ(view.ModuleCount(), topology::kMaxDrawnModules);
    const topology::RunFacts facts{view.ModuleCount(), nodes.size(), false, 1000, true};
    const topology::Outcome outcome = topology::RunOutcome(facts);
    EXPECT_EQ(outcome, topology::Outcome::Partial);
    EXPECT_EQ(topology::OutcomeMessage(outcome, facts),
              "Es wurde die Topologieinformation von 170 der " + std::to_string(count) +
                  " Knoten im System ermittelt !\r\nEs können maximal 170 Knoten erfasst "
                  "werden..");
  }
  // Exactly 170 are all drawn.
  Line exact;
  for (uint32_t s = 1; s <= 170; ++s) exact.onSwitch.push_back(s);
  EXPECT_EQ(topology::LayOut(Nodes(exact, 170)).ModuleCount(), 170u);
}

TEST(TopologyLayout, TallDrawingPutsTheSwitchAtMidHeight) {
  Line line;
  for (uint32_t s = 1; s <= 4; ++s) line.onSwitch.push_back(s);
  const DeviceArray view = topology::LayOut(Nodes(line, 4));
  EXPECT_EQ(view.g_RecursiveMAXRowNum, 15);
  EXPECT_EQ(view.devices[0].row, 4);  // (15 - 7) / 2
  const DeviceArray low = topology::LayOut(Nodes({{1, 2}, {}}, 2));
  EXPECT_EQ(low.devices[0].row, 0);
}

TEST(TopologyLayout, ClosingStopsTheLayout) {
  const NodeList nodes = Nodes({{1, 4}, {{1, 2}, {2, 3}, {4, 5}}}, 5);
  int asked = 0;
  const DeviceArray view = topology::LayOut(nodes, 170, [&] { return ++asked > 2; });
  EXPECT_LT(view.ModuleCount(), 5u);
}

struct DirectionCase {
  const char* name;
  bool answered;  // the module answered GET_NEIGHBORS
  uint32_t known;
  uint8_t flags;
  uint32_t expected;
};

TEST(TopologySettle, DirectionsOfModulesWithoutANeighboursAnswer) {
  // Chain 1-2-3; the case is module 3 (the row's end) or module 2 (in the middle, whose left
  // buddy 1 answered with Right To Left).
  const std::vector<DirectionCase> rowEnd = {
      {"answered: kept", true, 1, 0x10, 1},
      {"row end, flags 0x10", false, 1, 0x10, 0},
      {"row end, flags 0x00", false, 0, 0x00, 1},
      {"row end, flags 0x30 is not read: from the left buddy", false, 0, 0x30, 1},
  };
  for (const DirectionCase& c : rowEnd) {
    SCOPED_TRACE(c.name);
    NodeList nodes = Nodes({{1}, {{1, 2}, {2, 3}}}, 3);
    nodes[0]->direction = 1;  // answered
    nodes[1]->direction = 1;  // answered
    nodes[2]->neighborsAnswered = c.answered ? 1 : 0;
    nodes[2]->direction = c.known;
    nodes[2]->packetFlags = c.flags;
    DeviceArray view = topology::LayOut(nodes);
    topology::SettleDevices(view, nullptr);
    const auto& device = view.devices[static_cast<size_t>(view.FindDeviceBySerial(3))];
    EXPECT_EQ(device.direction, c.expected);
    EXPECT_EQ(device.directionKnown, 1u);
    EXPECT_EQ(nodes[2]->direction, c.expected);  // stored back in the node
  }
  // In the middle: from the left buddy; with none that knows, the default, which a neighbour
  // to the right then does not copy as if it were learnt.
  NodeList nodes = Nodes({{1}, {{1, 2}, {2, 3}}}, 3);
  nodes[0]->direction = 1;
  nodes[1]->neighborsAnswered = 0;
  nodes[1]->packetFlags = 0x10;
  DeviceArray view = topology::LayOut(nodes);
  topology::SettleDevices(view, nullptr);
  EXPECT_EQ(view.devices[2].direction, 1u);
  nodes = Nodes({{1}, {{1, 2}}}, 2);
  nodes[0]->neighborsAnswered = 0;
  nodes[0]->packetFlags = 0x40;
  nodes[1]->neighborsAnswered = 0;
  nodes[1]->packetFlags = 0x40;
  view = topology::LayOut(nodes);
  topology::SettleDevices(view, nullptr);
  EXPECT_EQ(view.devices[1].direction, 0u);
  EXPECT_EQ(view.devices[1].directionKnown, 0u);
  EXPECT_EQ(view.devices[2].directionKnown, 0u);
}

TEST(TopologySettle, AModuleOnTheSwitchMovesToTheRowOfItsBranch) {
  // 1 branches into 2 and 3 (rows 0 and 5 of column 10); 4's buddy 5 then lands in row 10.
  const NodeList nodes = Nodes({{1, 4}, {{1, 2}, {1, 3}, {4, 5}}}, 5);
  DeviceArray view = topology::LayOut(nodes);
  const auto four = static_cast<size_t>(view.FindDeviceBySerial(4));
  const auto five = static_cast<size_t>(view.FindDeviceBySerial(5));
  EXPECT_EQ(view.devices[four].row, 5);
  EXPECT_EQ(view.devices[five].row, 10);
  topology::SettleDevices(view, nullptr);
  EXPECT_EQ(view.devices[four].row, 10);
  EXPECT_EQ(view.devices[static_cast<size_t>(view.FindDeviceBySerial(1))].row, 0);
}

struct CheckCase {
  const char* name;
  bool present;  // a reader ran for the module
  topology::ReaderResult reader;
  const char* error;  // nullptr: none
};

std::vector<uint16_t> Regs(uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
  std::vector<uint16_t> regs(20, 0);
  regs[0] = a;
  regs[1] = b;
  regs[2] = c;
  regs[3] = d;
  return regs;
}

TEST(TopologySettle, ModuleChecksAsATable) {
  // Chain 1-2; module 1 sets the row's configuration 0001000200030004, module 2 is the case.
  const std::vector<CheckCase> cases = {
      {"same configuration", true, {true, false, Regs(1, 2, 3, 4)}, nullptr},
      {"other configuration", true, {true, false, Regs(1, 2, 3, 5)}, "Konfiguration passt nicht."},
      {"no configuration", true, {true, false, Regs(0, 0, 0, 0)}, nullptr},
      {"registers cannot be read",
       true,
       {false, false, {}},
       "Eine Verbindung zum Modul ist nicht möglich."},
      {"another module answered on its address",
       true,
       {true, true, Regs(1, 2, 3, 5)},
       "Module mit gleicher IP Adresse vorhanden."},
      {"not asked", false, {}, nullptr},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    fixtures::ScopedTempLog log;
    const NodeList nodes = Nodes({{1}, {{1, 2}}}, 2);
    DeviceArray view = topology::LayOut(nodes);
    topology::ReaderResults readers;
    readers[1] = {true, false, Regs(1, 2, 3, 4)};
    if (c.present) readers[2] = c.reader;
    const int problems = topology::SettleDevices(view, &readers);
    EXPECT_EQ(view.devices[1].error, 0u);
    const auto& device = view.devices[2];
    EXPECT_EQ(problems, c.error ? 1 : 0);
    EXPECT_EQ(device.error != 0, c.error != nullptr);
    EXPECT_EQ(device.errorText, c.error ? c.error : "");
    EXPECT_EQ(log.CountContaining("WARN. bErr for node: \"10.0.0.2\" at Row = 0, Col = 10"),
              c.error ? 1u : 0u);
  }
  EXPECT_EQ(topology::ConfIdText(Regs(0x1A, 2, 0xBEEF, 4)), "001A0002BEEF0004");
  EXPECT_EQ(topology::ConfIdText({1, 2, 3}), "");
}

// One chain on the PC's switch with these addresses, from the switch outwards; `first` marks
// that module's record as the line's first (record byte 16 bit 0), -1 for none (0xFF unknown).
DeviceArray Chain(const std::vector<std::string>& addresses, int first = -1) {
  std::vector<std::pair<uint32_t, uint32_t>> cables;
  for (uint32_t i = 1; i < addresses.size(); ++i) cables.push_back({i, i + 1});
  NodeList nodes = Nodes({{1}, cables}, static_cast<uint32_t>(addresses.size()));
  for (size_t i = 0; i < nodes.size(); ++i) {
    nodes[i]->ipText = addresses[i];
    EXPECT_TRUE(ParseAddress(addresses[i], &nodes[i]->ipAddress));
    nodes[i]->record[16] = static_cast<int>(i) == first ? 1 : 0xFF;
  }
  return topology::LayOut(nodes);
}

std::string Expect(const char* address) {
  std::string subnet = address;
  const int last = std::stoi(subnet.substr(subnet.rfind('.') + 1));
  uint32_t ip = 0;
  EXPECT_TRUE(ParseAddress(address, &ip));
  return topology::ExpectedAddressError(ip, last);
}

TEST(TopologyChecks, LineAddressingAsATable) {
  const std::string notALine = topology::kErrorSubnetNotALine;
  const std::string doNotFit = topology::kErrorAddressesDoNotFit;
  struct Case {
    const char* name;
    std::vector<std::string> addresses;
    int first;
    std::vector<std::string> errors;  // per module, "" for none
  };
  const std::vector<Case> cases = {
      {"numbered away from the switch",
       {"192.168.202.20", "192.168.202.21", "192.168.202.22"},
       0,
       {"", "", ""}},
      {"numbered towards the switch",
       {"192.168.202.52", "192.168.202.51", "192.168.202.50"},
       2,
       {"", "", ""}},
      {"half numbered: the rest keeps old addresses",
       {"192.168.202.20", "192.168.202.21", "192.168.202.22", "192.168.202.23", "192.168.202.90",
        "192.168.202.71"},
       0,
       {"", "", "", "", Expect("192.168.202.24"), Expect("192.168.202.25")}},
      {"a tie goes to the numbering of the module marked first",
       {"192.168.202.40", "192.168.202.41", "192.168.202.26", "192.168.202.27"},
       2,
       {Expect("192.168.202.24"), Expect("192.168.202.25"), "", ""}},
      {"two swapped modules",
       {"192.168.202.20", "192.168.202.22", "192.168.202.21", "192.168.202.23"},
       0,
       {"", Expect("192.168.202.21"), Expect("192.168.202.22"), ""}},
      {"no two modules agree",
       {"192.168.202.20", "192.168.202.40", "192.168.202.60"},
       -1,
       {doNotFit, doNotFit, doNotFit}},
      {"the expected address leaves the subnet",
       {"192.168.202.253", "192.168.202.254", "192.168.202.3"},
       -1,
       {"", "", doNotFit}},
      {"one subnet in two places of the row",
       {"192.168.202.20", "10.1.1.5", "192.168.202.22", "192.168.202.23", "192.168.202.24"},
       -1,
       {notALine, "", "", "", ""}},
      {"another subnet at the end is its own line",
       {"192.168.202.20", "192.168.202.21", "10.1.1.5"},
       -1,
       {"", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fixtures::ScopedTempLog log;
    DeviceArray view = Chain(c.addresses, c.first);
    int expectedMarks = 0;
    for (const std::string& e : c.errors) expectedMarks += e.empty() ? 0 : 1;
    EXPECT_EQ(topology::CheckLineAddresses(view), expectedMarks);
    for (size_t i = 0; i < c.errors.size(); ++i) {
      const int index = view.FindDeviceBySerial(static_cast<uint32_t>(i + 1));
      ASSERT_GT(index, 0);
      EXPECT_EQ(view.devices[static_cast<size_t>(index)].errorText, c.errors[i]) << "module " << i;
    }
  }
  EXPECT_EQ(Expect("192.168.202.24"),
            "Dieses Subnetz ist nicht richtig konfiguriert. (es wird ein Modul mit IP "
            "\"192.168.202.24\" erwartet) !?!");
}

// A half-numbered line is drawn red by the procedure's step, readers or not asked.
TEST(TopologyChecks, SettleMarksAHalfNumberedLine) {
  fixtures::ScopedTempLog log;
  DeviceArray view = Chain(
      {"192.168.202.20", "192.168.202.21", "192.168.202.22", "192.168.202.60", "192.168.202.61"},
      0);
  topology::ReaderResults readers;
  for (uint32_t serial = 1; serial <= 5; ++serial)
    readers[serial] = {true, false, Regs(0, 0, 0, 0)};
  EXPECT_EQ(topology::SettleDevices(view, &readers), 2);
  EXPECT_EQ(view.devices[4].errorText, Expect("192.168.202.23"));
  EXPECT_EQ(view.devices[5].errorText, Expect("192.168.202.24"));
  EXPECT_EQ(log.CountContaining("WARN. bErr for node: \"192.168.202.60\""), 1u);
}

// The configuration expected of a row is its majority's: one foreign module at the head of
// the row is the one marked, not the rest of the row.
TEST(TopologyChecks, ConfigurationOfTheRowsMajority) {
  struct Case {
    const char* name;
    std::vector<std::vector<uint16_t>> regs;
    std::vector<bool> marked;
  };
  const std::vector<Case> cases = {
      {"foreign head module",
       {Regs(9, 9, 9, 9), Regs(1, 2, 3, 4), Regs(1, 2, 3, 4), Regs(1, 2, 3, 4)},
       {true, false, false, false}},
      {"foreign module in the middle",
       {Regs(1, 2, 3, 4), Regs(9, 9, 9, 9), Regs(1, 2, 3, 4), Regs(1, 2, 3, 4)},
       {false, true, false, false}},
      {"a tie keeps the left-most",
       {Regs(9, 9, 9, 9), Regs(1, 2, 3, 4), Regs(0, 0, 0, 0), Regs(0, 0, 0, 0)},
       {false, true, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fixtures::ScopedTempLog log;
    DeviceArray view =
        Chain({"192.168.202.20", "192.168.202.21", "192.168.202.22", "192.168.202.23"}, 0);
    topology::ReaderResults readers;
    for (uint32_t serial = 1; serial <= 4; ++serial)
      readers[serial] = {true, false, c.regs[serial - 1]};
    int marked = 0;
    for (bool m : c.marked) marked += m ? 1 : 0;
    EXPECT_EQ(topology::SettleDevices(view, &readers), marked);
    for (uint32_t serial = 1; serial <= 4; ++serial) {
      const auto& device = view.devices[static_cast<size_t>(view.FindDeviceBySerial(serial))];
      EXPECT_EQ(device.errorText, c.marked[serial - 1] ? topology::kErrorConfiguration : "")
          << "module " << serial;
    }
  }
}

TEST(TopologyChecks, DuplicateAddressesStopTheDrawing) {
  NodeList nodes = Nodes({{1}, {}}, 4);
  fixtures::ScopedTempLog log;
  EXPECT_TRUE(topology::FindDuplicateIps(nodes).nodes.empty());
  EXPECT_EQ(topology::FindDuplicateIps(nodes).Message(), "");
  nodes[3]->ipAddress = nodes[1]->ipAddress;
  nodes[3]->ipText = nodes[1]->ipText;
  const topology::DuplicateIps duplicates = topology::FindDuplicateIps(nodes);
  ASSERT_EQ(duplicates.nodes.size(), 2u);
  EXPECT_EQ(duplicates.list, "{ser.no: 2 - ip:\"10.0.0.2\"}, {ser.no: 4 - ip:\"10.0.0.2\"}, ");
  EXPECT_EQ(duplicates.Message(),
            "Unable to use PL features since there is Duplicated IPs on the networks!\r\n The "
            "following nodes (see mentioned SerNo) has duplicated IPs:\r\n{ser.no: 2 - "
            "ip:\"10.0.0.2\"}, {ser.no: 4 - ip:\"10.0.0.2\"}, ");
  EXPECT_EQ(log.CountContaining("Discovered 2 nodes with Duplicated IPs !!!"), 1u);
}

TEST(TopologyChecks, TitlesAndLinePositions) {
  EXPECT_EQ(topology::WindowTitle("PL Conveyors Dialog", 12, 12, 0),
            "PL Conveyors Dialog - (12 Module sind dargestellt)");
  EXPECT_EQ(topology::WindowTitle("PL Conveyors Dialog", 10, 12, 2),
            "PL Conveyors Dialog - (10 Module sind dargestellt, 12 sind gefunden)    Achtung - 2 "
            "mögliches Problem gefunden (Module mit roter LED prüfen)");
  EXPECT_EQ(topology::LinePositionName(0), "Unknown");
  EXPECT_EQ(topology::LinePositionName(1), "First");
  EXPECT_EQ(topology::LinePositionName(2), "Last");
  EXPECT_EQ(topology::LinePositionName(3), "First && Last");
  fixtures::ScopedTempLog log;
  EXPECT_EQ(topology::LinePositionName(4), std::nullopt);
  EXPECT_EQ(log.CountContaining("4 -> unexpected !?!"), 1u);
}

struct OutcomeCase {
  topology::RunFacts facts;
  topology::Outcome outcome;
};

TEST(TopologyChecks, OutcomesAsATable) {
  using topology::Outcome;
  const std::vector<OutcomeCase> cases = {
      {{12, 12, false, 1000, true}, Outcome::Complete},
      {{12, 12, true, 200000, false}, Outcome::Complete},
      {{10, 12, true, 1000, true}, Outcome::Retry},
      {{10, 12, true, 1000, false}, Outcome::Incomplete},
      {{10, 12, false, 1000, true}, Outcome::Incomplete},
      {{10, 12, true, 180001, true}, Outcome::Partial},
      {{10, 12, false, 180001, false}, Outcome::Partial},
      {{0, 3, false, 10, true}, Outcome::Incomplete},
  };
  for (const OutcomeCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.facts.drawn << "/" << c.facts.found << " installation "
                                    << c.facts.installationMode << " " << c.facts.elapsedMs);
    EXPECT_EQ(topology::RunOutcome(c.facts), c.outcome);
  }
  EXPECT_EQ(topology::OutcomeMessage(Outcome::Partial, {10, 12, false, 190000, false}),
            "Es wurde die Topologieinformation von 10 der 12 Knoten im System ermittelt !");
  EXPECT_EQ(topology::OutcomeMessage(Outcome::Incomplete, {10, 12, false, 1, false}),
            "Es sind Fehler bei der Erfassung der Topologie der Knoten aufgetreten. Bitte die "
            "Verkabelung und die Verbindung zwischen den Modulen prüfen und erneut versuchen.");
  EXPECT_EQ(topology::OutcomeMessage(Outcome::Complete, {12, 12, false, 1, false}), "");
}

}  // namespace
