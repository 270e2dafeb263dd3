// GetTopology, the recursive discovery and _determineNode_Direction against the fake capture:
// which answers are taken, what they leave in the nodes, what is logged and which rule ends
// each phase. All times are ticks of the fake's simulated clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <thread>

#include "base/bytes.h"
#include "base/format.h"
#include "base/prompt.h"
#include "discovery/discover.h"
#include "discovery/discover_environment.h"
#include "discovery/mreg_app.h"
#include "discovery/topology_protocol.h"
#include "discovery/topology_walk.h"
#include "fixtures/fake_capture.h"
#include "fixtures/temp_log.h"

namespace {

using discovery::MacBytes;
using fakes::FakeNetwork;
using fakes::Ip;
using Bytes = std::vector<uint8_t>;

using fakes::kPcMac;
const MacBytes kBroadcast = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

MacBytes MacOf(uint32_t serial) {
  return {0x00, 0x50, 0xC2, 0x00, static_cast<uint8_t>(serial >> 8), static_cast<uint8_t>(serial)};
}
std::string IpOf(uint32_t serial) {
  return "192.168.202." + std::to_string(20 + serial % 200);
}

NodePtr Node(uint32_t serial) {
  auto node = std::make_shared<CNode_Data>();
  node->serialNumber = serial;
  node->mac = MacOf(serial);
  node->ipText = IpOf(serial);
  node->ipAddress = Ip(node->ipText);
  return node;
}

Bytes Entries(const std::vector<uint32_t>& serials) {
  Bytes data;
  for (uint32_t serial : serials) {
    uint8_t entry[8] = {};
    base::PutBE32(entry, serial);
    data.insert(data.end(), entry, entry + 8);
  }
  return data;
}

Bytes Record(uint32_t serial) {
  Bytes record(20, 0);
  base::PutBE32(record.data(), serial);
  const uint32_t ip = Ip(IpOf(serial));
  std::memcpy(record.data() + 4, &ip, 4);
  return record;
}

size_t Count(const std::string& haystack, const std::string& needle) {
  size_t count = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

class TopologyTest : public ::testing::Test {
 protected:
  TopologyTest() : environment_(&net_), app_(&prompt_) {
    app_.SetCaptureDriver(&net_);
    net_.AddAdapter("eth-a", kPcMac, "192.168.202.10");
    app_.SetSelectedAdapter("eth-a");
    t0_ = net_.Now();
  }

  // A frame from module `serial` (its MAC and address) to the PC's `port`.
  void Answer(uint32_t at, uint32_t serial, uint16_t port, uint8_t code, const Bytes& data,
              uint8_t flags = 0x10, const MacBytes& to = kPcMac) {
    net_.InjectFrame("eth-a", t0_ + at,
                     fakes::BuildModuleAnswer(MacOf(serial), Ip(IpOf(serial)), to, port, code,
                                              flags, 0x80000001u, data));
  }
  void TopologyAnswer(uint32_t at, uint32_t serial, const Bytes& data) {
    Answer(at, serial, discovery::kTopologyPort, discovery::kPacketTopologyAnswer, data);
  }
  void NeighborsAnswer(uint32_t at, uint32_t serial, const MacBytes& left, const MacBytes& right) {
    Bytes data(14, 0);
    data[0] = 2;
    std::copy(left.begin(), left.end(), data.begin() + 1);
    data[7] = 1;
    std::copy(right.begin(), right.end(), data.begin() + 8);
    Answer(at, serial, discovery::kNeighborsPort, discovery::kPacketNeighborsAnswer, data);
  }

  int Run() { return app_.GetTopology(nodes_, lock_); }

  // Ticks after t0 of the first GET_NEIGHBORS send (the end of phase 1), or nullopt.
  std::optional<uint32_t> NeighborsSentAt() {
    for (const auto& sent : net_.Sent()) {
      const auto c = discovery::ParseCandidateFrame(sent.bytes.data(), sent.bytes.size(),
                                                    discovery::kNeighborsPort, 0);
      if (c) return sent.at - t0_;
    }
    return std::nullopt;
  }
  uint32_t ClosedAt() {
    const auto opens = net_.Opens();  // the last one is this run's
    EXPECT_TRUE(!opens.empty() && opens.back().closed);
    return opens.empty() ? 0 : opens.back().closedAt - t0_;
  }
  // The log keeps a message without its leading and trailing white space.
  std::string Log() const { return log_.Contents(); }

  fixtures::ScopedTempLog log_;
  FakeNetwork net_;
  discovery::ScopedDiscoverEnvironment environment_;
  base::ScriptedPrompt prompt_;
  CMRegApp app_;
  uint32_t t0_ = 0;
  NodeList nodes_;
  std::mutex lock_;
};

TEST_F(TopologyTest, RequestsGoOutThreeTimesWithTheirPortsAndData) {
  nodes_ = {Node(1)};
  Run();
  const auto sent = net_.Sent();
  ASSERT_EQ(sent.size(), 6u);
  const uint32_t neighbours = *NeighborsSentAt();
  const struct {
    uint32_t at;
    uint16_t port;
    uint8_t code;
  } expected[] = {{0, 44544, 0x60},
                  {5, 44544, 0x60},
                  {15, 44544, 0x60},
                  {neighbours, 44547, 0x78},
                  {neighbours + 5, 44547, 0x78},
                  {neighbours + 15, 44547, 0x78}};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(sent[i].at - t0_, expected[i].at) << i;
    const auto c = discovery::ParseCandidateFrame(sent[i].bytes.data(), sent[i].bytes.size(),
                                                  expected[i].port, 55555);
    ASSERT_TRUE(c) << i;
    EXPECT_EQ(c->destinationMac, kBroadcast);
    EXPECT_EQ(c->sourceMac, kPcMac);
    ASSERT_EQ(c->payloadLength, 16u);
    const uint8_t* p = c->payload;
    EXPECT_EQ(Bytes(p, p + 4), (Bytes{expected[i].code, 0, 0, 8}));
    EXPECT_EQ(Bytes(p + 8, p + 16), (Bytes{'M', 'G', 'M', 'T', 0, 0, 0, 32}));
  }
  // Each request takes a fresh sequence number; its three copies share it.
  EXPECT_EQ(base::GetLE32(sent[3].bytes.data() + 46), base::GetLE32(sent[0].bytes.data() + 46) + 1);
  EXPECT_EQ(sent[0].bytes, sent[2].bytes);
  EXPECT_EQ(Count(Log(), "UDP packet PACKET_GET_TOPOLOGY broadcast - Sent!"), 1u);
  EXPECT_EQ(Count(Log(), "UDP packet PACKET_GET_NEIGHBORS broadcast - Sent!"), 1u);
}

TEST_F(TopologyTest, DataLengthByte13GivesOneBuddy) {
  nodes_ = {Node(1), Node(2), Node(3)};
  Bytes data = Entries({2, 3});
  data.resize(13);  // the second entry is cut: it does not count
  TopologyAnswer(50, 1, data);
  Run();
  ASSERT_EQ(nodes_[0]->buddies.size(), 1u);
  EXPECT_EQ(nodes_[0]->buddies[0].lock(), nodes_[1]);
  EXPECT_EQ(nodes_[0]->topologyAnswered, 1u);
  EXPECT_NE(Log().find("TOPOLOGY ANSWER from node \"192.168.202.21\" , return buddies list with 1 "
                       "nodes:"),
            std::string::npos);
  EXPECT_EQ(Count(Log(), "buddy[0] (SerNo. = 2)"), 1u);
}

TEST_F(TopologyTest, AModuleAnsweringTwiceAddsItsBuddiesOnce) {
  nodes_ = {Node(1), Node(2), Node(3)};
  TopologyAnswer(50, 1, Entries({2, 3}));
  TopologyAnswer(80, 1, Entries({2, 3}));
  // The answering node is found by MAC, else by address: a changed MAC still finds node 2.
  nodes_[1]->mac = MacOf(99);
  TopologyAnswer(90, 2, Entries({1, 2, 2, 7}));
  Run();
  ASSERT_EQ(nodes_[0]->buddies.size(), 2u);
  EXPECT_EQ(nodes_[0]->buddies[0].lock(), nodes_[1]);
  EXPECT_EQ(nodes_[0]->buddies[1].lock(), nodes_[2]);
  EXPECT_EQ(Count(Log(), "buddy[0] (SerNo. = 2)"), 1u);
  EXPECT_EQ(Count(Log(), "OP_GET_TOPOLOGY answer from RemoteHostIP:\"192.168.202.21\"!"), 2u);
  // The repeat is not read as a second list (which would report every entry as a duplicate).
  EXPECT_EQ(Count(Log(), "TOPOLOGY ANSWER from node \"192.168.202.21\""), 1u);
  EXPECT_EQ(Count(Log(), "CRITICAL ERROR!?! node \"192.168.202.21\""), 0u);
  // Node 2 lists itself and 2 twice: one buddy entry for each, the repeat is an error line.
  ASSERT_EQ(nodes_[1]->buddies.size(), 2u);
  EXPECT_EQ(Count(Log(),
                  "CRITICAL ERROR!?! node \"192.168.202.22\", return buddies list in which "
                  "there is duplicated items (duplicate node with SerNo. = 2) !?!"),
            1u);
  EXPECT_EQ(Count(Log(),
                  "The Buddy with SerNo.7 of the node \"192.168.202.22\",2 does not exist in "
                  "the Input(discovered) nodes array!?!"),
            1u);
}

TEST_F(TopologyTest, EveryRunLearnsTheWiringAnew) {
  // First run: 1 - 2 - 3 in a chain.
  nodes_ = {Node(1), Node(2), Node(3)};
  TopologyAnswer(50, 1, Entries({2}));
  TopologyAnswer(52, 2, Entries({1, 3}));
  TopologyAnswer(54, 3, Entries({2}));
  NeighborsAnswer(150, 2, MacOf(1), MacOf(3));
  NeighborsAnswer(152, 1, MacBytes{}, MacOf(2));
  Run();
  ASSERT_EQ(nodes_[1]->buddies.size(), 2u);
  ASSERT_EQ(nodes_[1]->leftSerial, 1u);
  ASSERT_EQ(nodes_[0]->rightSerial, 2u);

  // Modules 2 and 3 swapped places: 1 - 3 - 2. The same node records answer again.
  t0_ = net_.Now();
  TopologyAnswer(50, 1, Entries({3}));
  TopologyAnswer(52, 3, Entries({1, 2}));
  TopologyAnswer(54, 2, Entries({3}));
  NeighborsAnswer(150, 2, MacOf(3), MacBytes{});
  Run();
  ASSERT_EQ(nodes_[0]->buddies.size(), 1u);
  EXPECT_EQ(nodes_[0]->buddies[0].lock(), nodes_[2]);
  ASSERT_EQ(nodes_[1]->buddies.size(), 1u);
  EXPECT_EQ(nodes_[1]->buddies[0].lock(), nodes_[2]);
  EXPECT_EQ(nodes_[2]->buddies.size(), 2u);
  EXPECT_EQ(nodes_[1]->leftSerial, 3u);
  EXPECT_EQ(nodes_[1]->rightSerial, 0u);  // nothing cabled there any more
  EXPECT_EQ(nodes_[1]->rightMac, MacBytes{});
  // A module that did not answer this time keeps nothing of the old wiring.
  EXPECT_EQ(nodes_[0]->neighborsAnswered, 0u);
  EXPECT_EQ(nodes_[0]->rightSerial, 0u);
  EXPECT_EQ(nodes_[0]->rightPort, 3);
}

TEST_F(TopologyTest, NeighboursAnswersSetOnlyTheSerialsOfKnownMacs) {
  nodes_ = {Node(1), Node(2), Node(3), Node(4)};
  nodes_[3]->mac = {};  // a node whose MAC is not known yet matches no "nothing cabled" side
  const MacBytes unknown = {0x00, 0x50, 0xC2, 0x77, 0x77, 0x77};
  NeighborsAnswer(620, 1, unknown, MacOf(2));
  NeighborsAnswer(630, 2, MacOf(1), MacOf(3));
  NeighborsAnswer(640, 3, unknown, MacBytes{});
  Run();  // no topology answers: phase 2 starts at 600
  EXPECT_EQ(nodes_[0]->leftSerial, 0u);
  EXPECT_EQ(nodes_[0]->rightSerial, 2u);
  EXPECT_EQ(nodes_[0]->leftMac, unknown);
  EXPECT_EQ(nodes_[0]->leftPort, 2);
  EXPECT_EQ(nodes_[0]->rightPort, 1);
  EXPECT_EQ(nodes_[1]->leftSerial, 1u);
  EXPECT_EQ(nodes_[1]->rightSerial, 3u);
  EXPECT_EQ(nodes_[2]->leftSerial, 0u);
  EXPECT_EQ(nodes_[2]->rightSerial, 0u);
  for (const auto& node : nodes_) EXPECT_EQ(node->neighborsAnswered, node == nodes_[3] ? 0u : 1u);
  const std::string log = Log();
  EXPECT_EQ(Count(log,
                  ">> TOPOLOGY_MACs ANSWER from node 192.168.202.21 : 1, return "
                  "LeftMAC=\"00:80:194:119:119:119\"-2, RightMAC=\"00:80:194:00:00:02\"-1"),
            1u);
  EXPECT_EQ(Count(log, ">>>>   =>          RightNode.SerNo = 2"), 1u);
  EXPECT_EQ(Count(log, ">>>>   =>          LeftNode.SerNo = 1, RightNode.SerNo = 3"), 1u);
  EXPECT_EQ(Count(log, "LeftNode"), 1u);
  EXPECT_EQ(Count(log, "RightNode"), 2u);
}

TEST_F(TopologyTest, ShortAnswersAreSkipped) {
  nodes_ = {Node(1), Node(2)};
  TopologyAnswer(50, 1, Bytes(7, 0));  // no whole entry
  Answer(620, 2, discovery::kNeighborsPort, discovery::kPacketNeighborsAnswer, Bytes(13, 1));
  Run();
  EXPECT_TRUE(nodes_[0]->buddies.empty());
  EXPECT_EQ(nodes_[0]->topologyAnswered, 1u);
  EXPECT_EQ(nodes_[1]->neighborsAnswered, 0u);
  EXPECT_EQ(nodes_[1]->leftPort, 3);
}

TEST_F(TopologyTest, ModulesOnThePcSwitchAnnounceThemselves) {
  nodes_ = {Node(1), Node(2)};
  const MacBytes newMac = {0x00, 0x50, 0xC2, 0x00, 0x0F, 0x0F};
  net_.InjectFrame(
      "eth-a", t0_ + 30,
      fakes::BuildModuleAnswer(newMac, Ip(IpOf(1)), kBroadcast, 55555, 0x10, 0x10, 1, Record(1)));
  Answer(40, 2, 55555, 0x1F, Record(2), 0x10, kBroadcast);  // another code on that port pair
  const Bytes record2 = Record(2);
  Answer(45, 2, 55555, 0x10, Bytes(record2.begin(), record2.begin() + 7), 0x10, kBroadcast);
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(nodes_[0]->linkedToPcSwitch, 1u);
  EXPECT_EQ(nodes_[0]->mac, newMac);
  EXPECT_EQ(nodes_[1]->linkedToPcSwitch, 0u);
  const std::string log = Log();
  EXPECT_EQ(Count(log, "- Got a discover answer from node: 192.168.202.21"), 1u);
  EXPECT_EQ(Count(log, "NOTE: Found device 192.168.202.21, 1 -> Linked_To_PC_Switch!!!!!"), 1u);
  EXPECT_EQ(Count(log, "!!!!! Node SN: 1, MAC addr. has changed to: 00:50:C2:00:0F:0F !?!"), 1u);
  EXPECT_EQ(Count(log,
                  "!!!!! IGNORING UDP packet from 192.168.202.22 with PacketCode = 31, "
                  "during GET_TOPOLOGY"),
            1u);
}

TEST_F(TopologyTest, NoAnnouncementMeansZero) {
  nodes_ = {Node(1)};
  TopologyAnswer(50, 1, Entries({}));
  EXPECT_EQ(Run(), 0);
}

TEST_F(TopologyTest, OverallLimit) {
  EXPECT_EQ(discovery::TopologyOverallLimitMs(300), 6000u);
  EXPECT_EQ(discovery::TopologyOverallLimitMs(10), 4000u);
  EXPECT_EQ(discovery::TopologyOverallLimitMs(0), 4000u);
  EXPECT_EQ(discovery::TopologyOverallLimitMs(201), 4020u);
  // A run where answers keep coming (one module repeating itself every 150 ms) ends at the
  // limit, in phase 1: the neighbours query is never sent.
  for (const size_t count : {size_t{10}, size_t{300}}) {
    SCOPED_TRACE(count);
    net_.ClearRecords();
    t0_ = net_.Now();
    nodes_.clear();
    for (uint32_t s = 1; s <= count; ++s) nodes_.push_back(Node(s));
    for (uint32_t at = 100; at < 7000; at += 150) TopologyAnswer(at, 1, Entries({}));
    Run();
    EXPECT_EQ(ClosedAt(), count == 300 ? 6000u : 4000u);
    EXPECT_FALSE(NeighborsSentAt());
    net_.Sleep(8000);  // past the frames still queued
  }
}

TEST_F(TopologyTest, PhaseEndRules) {
  struct Case {
    const char* what;
    size_t nodes;
    std::vector<uint32_t> topologyAt;    // answers from nodes 1, 2, ... in turn
    std::vector<uint32_t> neighboursAt;  // after the start of phase 2
    uint32_t phase1Ends;
    uint32_t phase2Lasts;
    size_t topologyTaken;
  };
  const Case cases[] = {
      {"nothing answers", 3, {}, {}, 600, 400, 0},
      {"200 ms after the last topology answer", 3, {100, 250}, {}, 450, 400, 2},
      {"an answer just before 600 ms", 3, {590}, {}, 790, 400, 1},
      {"every node answered", 2, {100, 120}, {}, 120, 400, 2},
      {"an answer after 600 ms is too late", 3, {610}, {}, 600, 400, 0},
      {"200 ms after the last neighbours answer", 3, {}, {50, 150}, 600, 350, 0},
      {"neighbours answers keep phase 2 going", 3, {}, {300, 450}, 600, 650, 0},
      {"a neighbours answer after 400 ms is too late", 3, {}, {410}, 600, 400, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    net_.Sleep(5000);
    net_.ClearRecords();
    t0_ = net_.Now();
    nodes_.clear();
    for (uint32_t s = 1; s <= c.nodes; ++s) nodes_.push_back(Node(s));
    uint32_t serial = 1;
    for (uint32_t at : c.topologyAt) TopologyAnswer(at, serial++, Entries({}));
    serial = 1;
    for (uint32_t at : c.neighboursAt) {
      NeighborsAnswer(c.phase1Ends + at, serial++, MacBytes{}, MacBytes{});
    }
    Run();
    ASSERT_TRUE(NeighborsSentAt());
    EXPECT_EQ(*NeighborsSentAt(), c.phase1Ends);
    EXPECT_EQ(ClosedAt(), c.phase1Ends + c.phase2Lasts);
    size_t taken = 0;
    for (const auto& node : nodes_) taken += node->topologyAnswered;
    EXPECT_EQ(taken, c.topologyTaken);
  }
}

TEST_F(TopologyTest, NothingHappensWithoutAnAdapter) {
  nodes_ = {Node(1)};
  app_.SetSelectedAdapter("");
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(net_.Sent().empty());
  app_.SetSelectedAdapter("eth-gone");
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(net_.Sent().empty());
  EXPECT_EQ(prompt_.CountOf("ask"), 1u);
  EXPECT_NE(prompt_.Texts().back().find("Netzwerkadapter nicht verfügbar. Erneut Finden "
                                        "aktivieren, um die Liste der Module erneut zu laden."),
            std::string::npos);
}

// ---- the recursive discovery and the orientation test ----

// The topology view as the walk sees it: a temporary list, a counter, a stop flag, columns.
class FakeView : public discovery::TopologyViewLink {
 public:
  std::mutex& TempNodesLock() override { return lock; }
  NodeList& TempNodes() override { return temp; }
  void CountPcSwitchNode() override { ++pcSwitchCount; }
  bool Closing() const override { return closing; }
  std::optional<uint16_t> DeviceColumn(uint32_t serial) override {
    const auto it = columns.find(serial);
    if (it == columns.end()) return std::nullopt;
    return it->second;
  }

  std::mutex lock;
  NodeList temp;
  int pcSwitchCount = 0;
  bool closing = false;
  std::map<uint32_t, uint16_t> columns;
};

// Code and serial of every frame the tool sent, in order.
std::vector<std::pair<uint8_t, uint32_t>> SentCommands(const FakeNetwork& net) {
  std::vector<std::pair<uint8_t, uint32_t>> commands;
  for (const auto& sent : net.Sent()) {
    const auto c = discovery::ParseCandidateFrame(sent.bytes.data(), sent.bytes.size(),
                                                  discovery::kNodeCommandPort, 55555);
    if (!c) continue;
    const uint32_t serial = c->payloadLength >= 12 ? base::GetBE32(c->payload + 8) : 0;
    commands.emplace_back(c->payload[0], serial);
  }
  return commands;
}

TEST_F(TopologyTest, TheLastModuleOfAChainTakesItsDirectionFromItsPacketFlags) {
  const struct {
    uint8_t flags;
    uint32_t direction;
    const char* text;
  } cases[] = {{0x10, 0, "Left To Right"}, {0x00, 1, "Right To Left"}, {0x11, 1, "Right To Left"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.flags));
    net_.Sleep(5000);
    net_.ClearRecords();
    t0_ = net_.Now();
    // The adapter knows the module with its packet flags from the discovery.
    auto adapter = std::make_shared<CNAdapter>();
    adapter->name = "eth-a";
    NodePtr known = Node(5);
    known->packetFlags = c.flags;
    adapter->nodes.push_back(known);
    {
      std::lock_guard guard(app_.inventoryLock);
      app_.adapters = {adapter};
    }
    // The module on the PC's switch answers the init discover; nothing answers on its sides.
    Answer(20, 5, discovery::kNodeCommandPort, 0x1F, Record(5), 0x10);
    FakeView view;
    discovery::CaptureHandlePtr handle;
    discovery::DiscoverRecursive(app_, view, nullptr, handle);
    handle.reset();

    ASSERT_EQ(view.temp.size(), 1u);
    const NodePtr& node = view.temp[0];
    EXPECT_EQ(node->serialNumber, 5u);
    EXPECT_EQ(node->direction, c.direction);
    EXPECT_EQ(node->linkedToPcSwitch, 1u);
    EXPECT_EQ(node->processed, 1u);
    EXPECT_EQ(view.pcSwitchCount, 1);
    const std::vector<std::pair<uint8_t, uint32_t>> expected = {{0x10, 0}, {0x10, 0}, {0x10, 0},
                                                                {0x51, 5}, {0x51, 5}, {0x50, 5},
                                                                {0x50, 5}, {0x41, 5}, {0x41, 5}};
    EXPECT_EQ(SentCommands(net_), expected);
    EXPECT_EQ(Count(Log(), std::string(">> Recursive( LastDev.SerNo = 5, packetFlags = 0x") +
                               base::Format("%x", c.flags) + " ) direction is " + c.text + "!"),
              1u);
  }
  const std::string log = Log();
  EXPECT_EQ(Count(log, ">> Recursive( parentDev= NULL ) discovered new node (5, 192.168.202.25)"),
            3u);
  EXPECT_EQ(Count(log,
                  ">> Recursive( parentDev= NULL ) no right module discovered -> going to "
                  "Normal..."),
            3u);
}

TEST_F(TopologyTest, DetermineDirectionComparesTheAnsweringBuddysColumn) {
  const struct {
    const char* what;
    std::optional<uint16_t> buddyColumn;
    bool answersOnLeft;  // else on the right
    int result;
  } cases[] = {
      {"buddy drawn to the right answers on the left", 15, true, 1},
      {"buddy drawn to the left answers on the left", 5, true, 0},
      {"buddy in the same column answers on the left", 10, true, 0},
      {"buddy drawn to the right answers on the right", 15, false, 0},
      {"buddy drawn to the left answers on the right", 5, false, 1},
      {"buddy not drawn", std::nullopt, true, 2},
      {"buddy two columns away", 20, true, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    net_.Sleep(5000);
    net_.ClearRecords();
    t0_ = net_.Now();
    FakeView view;
    view.temp = {Node(77)};  // emptied first
    NodePtr node = Node(5);
    NodePtr buddy = Node(6);
    node->buddies.push_back(buddy);
    view.columns[5] = 10;
    if (c.buddyColumn) view.columns[6] = *c.buddyColumn;
    // GO_ROUTING (3 sends, 35 ms), 1000 ms, then the left pass from 1035 and the right one
    // from about 1640.
    Answer(c.answersOnLeft ? 1100 : 1700, 6, discovery::kNodeCommandPort, 0x1F, Record(6));
    EXPECT_EQ(discovery::_determineNode_Direction(app_, view, node), c.result);
    const auto sent = net_.Sent();
    ASSERT_GE(sent.size(), 3u);
    // GO_ROUTING goes to the module's own MAC.
    const auto routing = discovery::ParseCandidateFrame(sent[0].bytes.data(), sent[0].bytes.size(),
                                                        discovery::kNodeCommandPort, 55555);
    ASSERT_TRUE(routing);
    EXPECT_EQ(routing->destinationMac, MacOf(5));
    std::vector<std::pair<uint8_t, uint32_t>> expected = {
        {0x53, 0}, {0x53, 0}, {0x53, 0}, {0x50, 5}, {0x50, 5}};
    if (!c.answersOnLeft || c.result == 2) {
      expected.insert(expected.end(), {{0x51, 5}, {0x51, 5}});
    }
    expected.insert(expected.end(), {{0x41, 5}, {0x41, 5}, {0x41, 5}});
    EXPECT_EQ(SentCommands(net_), expected);
    EXPECT_EQ(view.temp.size(), 1u);
    EXPECT_EQ(view.temp[0]->serialNumber, 6u);
  }
}

// The node is one of the adapter's records: _determineNode_Direction reads it under the
// adapter's lock, so while another thread holds the lock it has not even named the node yet.
TEST_F(TopologyTest, DetermineDirectionReadsTheNodeUnderTheAdaptersLock) {
  fakes::FakeModule m;
  m.serialNumber = 5;
  m.ip = IpOf(5);
  m.mac = MacOf(5);
  net_.AddModule("eth-a", m);
  ASSERT_EQ(app_.Discover(true, nullptr), 1);
  const AdapterPtr adapter = app_.SelectedAdapter();
  ASSERT_TRUE(adapter);
  const NodePtr node = adapter->FindNodeBySerial(5, nullptr, true);
  ASSERT_TRUE(node);
  FakeView link;
  std::unique_lock<std::mutex> held(adapter->lock);
  int result = -1;
  std::thread probe([&] { result = discovery::_determineNode_Direction(app_, link, node); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Count(Log(), ">> _determineNode_Direction Sending GO_ROUTING to Node 5"), 0u);
  held.unlock();
  probe.join();
  EXPECT_EQ(result, 2);
  EXPECT_EQ(Count(Log(), ">> _determineNode_Direction Sending GO_ROUTING to Node 5"), 1u);
}

}  // namespace
