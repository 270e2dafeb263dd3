// Discover() against the fake capture: which frames go out, which answers are taken, which rule
// ends the collection, what lands in the inventory, and how the adapter is chosen. All times
// are ticks of the fake's simulated clock.
#include <gtest/gtest.h>

#include "base/bytes.h"
#include "base/prompt.h"
#include "discovery/discover.h"
#include "discovery/discover_environment.h"
#include "discovery/mreg_app.h"
#include "fixtures/fake_capture.h"
#include "fixtures/temp_log.h"

namespace {

using discovery::MacBytes;
using fakes::FakeModule;
using fakes::FakeNetwork;
using fakes::Ip;

const MacBytes kPcMacA = {0x02, 0, 0, 0, 0, 0x0A};
const MacBytes kPcMacB = {0x02, 0, 0, 0, 0, 0x0B};

FakeModule Module(uint32_t serial, const std::string& ip, uint8_t last) {
  FakeModule m;
  m.serialNumber = serial;
  m.ip = ip;
  m.mac = {0x00, 0x50, 0xC2, 0x11, 0x22, last};
  return m;
}

class DiscoverTest : public ::testing::Test {
 protected:
  DiscoverTest() : environment_(&net_), app_(&prompt_) {
    app_.SetCaptureDriver(&net_);
    discovery::ResetCaptureRecoveryCounterForTests();
  }

  // An answer frame on the discover port with the given sequence, code and record.
  std::vector<uint8_t> Answer(const FakeModule& m, uint32_t sequence,
                              uint8_t code = discovery::kPacketDiscoverAnswer,
                              uint16_t toPort = discovery::kDiscoverPort) {
    return fakes::BuildModuleAnswer(m.mac, Ip(m.ip), kPcMacA, toPort, code, m.packetFlags, sequence,
                                    m.Record());
  }

  std::vector<CNode_Data> NodesOf(const std::string& adapterName) {
    std::vector<CNode_Data> nodes;
    if (AdapterPtr adapter = app_.FindAdapterByName(adapterName)) {
      std::lock_guard guard(adapter->lock);
      for (const auto& n : adapter->nodes) nodes.push_back(*n);
    }
    return nodes;
  }

  fixtures::ScopedTempLog log_;
  FakeNetwork net_;
  discovery::ScopedDiscoverEnvironment environment_;
  base::ScriptedPrompt prompt_;
  CMRegApp app_;
};

TEST_F(DiscoverTest, FastDiscoverySendsThreeRequestsAndFindsEveryModule) {
  net_.AddAdapter("eth-a", kPcMacA, "192.168.202.10");
  FakeModule left = Module(1001, "192.168.202.21", 1);
  FakeModule right = Module(1002, "192.168.202.20", 2);
  right.packetFlags = 0x00;
  right.revisionMajor = 104;
  right.revisionMinor = 3;
  net_.AddModule("eth-a", left);
  net_.AddModule("eth-a", right);
  const uint32_t sequence = discovery::SequenceCounter().load();
  const uint32_t t0 = net_.Now();

  NodeList list;
  ASSERT_EQ(app_.Discover(true, &list), 1);
  EXPECT_EQ(app_.discoverDone.load(), 1);

  const auto sent = net_.Sent();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].at - t0, 0u);
  EXPECT_EQ(sent[1].at - t0, 5u);
  EXPECT_EQ(sent[2].at - t0, 15u);
  for (const auto& frame : sent) {
    EXPECT_EQ(frame.bytes, sent[0].bytes);
    const auto c = discovery::ParseCandidateFrame(frame.bytes.data(), frame.bytes.size(),
                                                  discovery::kDiscoverPort, discovery::kModulePort);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->destinationMac, discovery::kBroadcastMac);
    EXPECT_EQ(c->sourceMac, kPcMacA);
    EXPECT_EQ(base::Ipv4FromBytes(&frame.bytes[26]), Ip("192.168.202.10"));
    EXPECT_EQ(base::Ipv4FromBytes(&frame.bytes[30]), 0xFFFFFFFFu);
    EXPECT_EQ(c->payloadLength, 8u);
    EXPECT_EQ(base::GetLE32(c->payload + 4), sequence);
  }
  // The sequence counter moved on by one request.
  EXPECT_EQ(discovery::SequenceCounter().load(), sequence + 1);

  EXPECT_EQ(app_.SelectedAdapterName(), "eth-a");
  EXPECT_EQ(prompt_.CountOf("choose"), 0u);  // one adapter: chosen silently
  const auto nodes = NodesOf("eth-a");
  ASSERT_EQ(nodes.size(), 2u);
  // Sorted by address: .20 before .21.
  EXPECT_EQ(nodes[0].serialNumber, 1002u);
  EXPECT_EQ(nodes[0].ipText, "192.168.202.20");
  EXPECT_EQ(nodes[0].maskText, "255.255.255.0");
  EXPECT_EQ(nodes[0].gatewayText, "192.168.202.1");
  EXPECT_EQ(nodes[0].mac, right.mac);
  EXPECT_EQ(nodes[0].revision, 0x6803);
  EXPECT_EQ(nodes[0].packetFlags, 0x00);
  EXPECT_EQ(nodes[0].direction, 1u);
  EXPECT_EQ(nodes[1].serialNumber, 1001u);
  EXPECT_EQ(nodes[1].direction, 0u);
  EXPECT_EQ(nodes[1].revision, 0x0402);

  // The caller's list holds copies, in the same order.
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->serialNumber, 1002u);
  EXPECT_EQ(list[0]->mac, right.mac);
  EXPECT_EQ(list[0]->gatewayText, "192.168.202.1");
  EXPECT_EQ(list[0]->revision, 0x6803);
  EXPECT_NE(list[0].get(), app_.SelectedAdapter()->nodes[0].get());

  EXPECT_EQ(log_.CountContaining("_discover 1- eth-a, Desc.fake eth-a, flags: 0x6"), 1u);
  EXPECT_EQ(log_.CountContaining("_discover >> Discovering nodes on adapter: eth-a..."), 1u);
  EXPECT_EQ(log_.CountContaining("> Got UDP packet with DataLen = 20, from 192.168.202.21 ..."),
            1u);
}

// Which answers a collection takes and which rule ends it. Answers are injected at ticks after
// the start of the collection (the last send); the capture closes when the collection ends.
TEST_F(DiscoverTest, CollectionEndRules) {
  struct Case {
    const char* what;
    bool fast;
    std::vector<uint32_t> answersAt;
    size_t taken;
    uint32_t endsAt;  // after the start of the collection
  };
  const Case cases[] = {
      {"normal, nobody answers: 700 ms", false, {}, 0, 700},
      {"fast, nobody answers: 300 ms", true, {}, 0, 300},
      {"normal, 300 ms after the last answer", false, {100, 350, 640, 941}, 3, 940},
      {"normal, an answer at 699 ms keeps it open", false, {699}, 1, 999},
      {"normal, first answer after 700 ms is too late", false, {701}, 0, 700},
      {"normal, steady answers end at the 3500 ms window",
       false,
       {250, 500, 750, 1000, 1250, 1500, 1750, 2000, 2250, 2500, 2750, 3000, 3250, 3499, 3600},
       14,
       3500},
      {"fast, window of 300 ms", true, {100, 250, 320}, 2, 300},
  };
  uint32_t serial = 5000;
  for (const auto& c : cases) {
    FakeNetwork net;
    discovery::ScopedDiscoverEnvironment environment(&net);
    CMRegApp app(&prompt_);
    app.SetCaptureDriver(&net);
    app.discoverDone = c.fast ? 0 : 1;
    net.AddAdapter("eth-a", kPcMacA, "192.168.202.10");
    const uint32_t sequence = discovery::SequenceCounter().load();
    const uint32_t collectStart = net.Now() + (c.fast ? 15 : 5);
    for (uint32_t at : c.answersAt) {
      net.InjectFrame("eth-a", collectStart + at,
                      Answer(Module(++serial, "192.168.202.30", 1), sequence));
    }
    ASSERT_EQ(app.Discover(true, nullptr), 1) << c.what;
    // Frames due after the end are never read.
    EXPECT_EQ(net.Taken().size(), c.taken) << c.what;
    ASSERT_EQ(net.Opens().size(), 1u);
    EXPECT_EQ(net.Opens()[0].closedAt - collectStart, c.endsAt) << c.what;
    const AdapterPtr adapter = app.FindAdapterByName("eth-a");
    EXPECT_EQ(adapter ? adapter->NodeCount() : 0u, c.taken) << c.what;
  }
}

TEST_F(DiscoverTest, OnlyAnswersToThisRequestAreTaken) {
  net_.AddAdapter("eth-a", kPcMacA, "192.168.202.10");
  app_.discoverDone = 1;
  const uint32_t sequence = discovery::SequenceCounter().load();
  const uint32_t start = net_.Now() + 5;
  FakeModule good = Module(1, "192.168.202.20", 1);
  FakeModule shortData = Module(7, "192.168.202.27", 7);
  shortData.recordLength = 7;
  struct Injected {
    uint32_t serial;
    std::vector<uint8_t> frame;
  };
  const std::vector<Injected> frames = {
      {2, Answer(Module(2, "192.168.202.22", 2), sequence - 1)},  // late answer of another run
      {3, Answer(Module(3, "192.168.202.23", 3), sequence + 1)},
      {4, Answer(Module(4, "192.168.202.24", 4), sequence, discovery::kPacketSetNodeIpAnswer)},
      {5, Answer(Module(5, "192.168.202.25", 5), sequence, discovery::kPacketDiscoverAnswer,
                 discovery::kTopologyPort)},
      {7, Answer(shortData, sequence)},
      {1, Answer(good, sequence)},
  };
  uint32_t at = 10;
  for (const auto& f : frames) net_.InjectFrame("eth-a", start + (at += 10), f.frame);
  // A list answer (0x58) counts too: its first record is merged.
  FakeModule listed = Module(8, "192.168.202.28", 8);
  auto listRecord = listed.Record();
  auto second = Module(9, "192.168.202.29", 9).Record();
  listRecord.insert(listRecord.end(), second.begin(), second.end());
  net_.InjectFrame(
      "eth-a", start + 100,
      fakes::BuildModuleAnswer(listed.mac, Ip(listed.ip), kPcMacA, discovery::kDiscoverPort,
                               discovery::kPacketDiscoverList1, 0x10, sequence, listRecord));

  ASSERT_EQ(app_.Discover(true, nullptr), 1);
  const auto nodes = NodesOf("eth-a");
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(nodes[0].serialNumber, 1u);
  EXPECT_EQ(nodes[1].serialNumber, 8u);
  // The collection ran 300 ms past the last answer it took (at 100), not past the ignored ones.
  EXPECT_EQ(net_.Opens()[0].closedAt - start, 400u);
  // Answers go to the modules' own addresses: only a promiscuous capture sees them; 2048 bytes
  // hold every answer acted on.
  EXPECT_EQ(net_.Opens()[0].snapLength, 2048);
  EXPECT_TRUE(net_.Opens()[0].promiscuous);
}

TEST_F(DiscoverTest, RecordLengthDecidesWhichFieldsAreKnown) {
  net_.AddAdapter("eth-a", kPcMacA, "192.168.202.10");
  FakeModule eight = Module(81, "192.168.202.81", 1);
  eight.recordLength = 8;
  FakeModule sixteen = Module(82, "192.168.202.82", 2);
  sixteen.recordLength = 16;
  FakeModule rev40 = Module(83, "192.168.202.83", 3);
  rev40.revisionMinor = 0;
  rev40.capability = 1;
  FakeModule rev41 = Module(84, "192.168.202.84", 4);
  rev41.revisionMinor = 1;
  rev41.capability = 1;
  for (const auto& m : {eight, sixteen, rev40, rev41}) net_.AddModule("eth-a", m);

  NodeList list;
  ASSERT_EQ(app_.Discover(true, &list), 1);
  const auto nodes = NodesOf("eth-a");
  ASSERT_EQ(nodes.size(), 4u);
  EXPECT_EQ(nodes[0].serialNumber, 81u);
  EXPECT_EQ(nodes[0].ipText, "192.168.202.81");
  EXPECT_EQ(nodes[0].maskText, "0.0.0.0");
  EXPECT_EQ(nodes[0].gatewayText, "0.0.0.0");
  EXPECT_EQ(nodes[0].mask, 0u);
  EXPECT_EQ(nodes[0].revision, 0u);
  EXPECT_EQ(nodes[0].packetFlags, 0u);  // flags are taken from records of 16 bytes and more
  EXPECT_EQ(nodes[1].maskText, "255.255.255.0");
  EXPECT_EQ(nodes[1].revision, 0u);
  EXPECT_EQ(nodes[2].revision, 0x0400);
  EXPECT_EQ(nodes[2].record[17], 0);
  EXPECT_EQ(nodes[3].revision, 0x0401);
  EXPECT_EQ(nodes[3].record[17], 1);
  // The copies for the caller read the same.
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0]->maskText, "0.0.0.0");
  EXPECT_EQ(list[0]->ipText, "192.168.202.81");
  EXPECT_EQ(list[2]->record[17], 0);
  EXPECT_EQ(list[3]->record[17], 1);
}

TEST_F(DiscoverTest, AdapterChoice) {
  net_.AddAdapter("eth-a", kPcMacA, "192.168.202.10");
  net_.AddAdapter("eth-b", kPcMacB, "192.168.203.10");
  net_.AddAdapter("eth-c", {2, 0, 0, 0, 0, 0x0C}, "192.168.204.10");  // nothing behind it
  net_.AddModule("eth-a", Module(1, "192.168.202.20", 1));
  net_.AddModule("eth-b", Module(2, "192.168.203.20", 2));
  net_.AddModule("eth-b", Module(3, "192.168.203.21", 3));

  prompt_.QueueChoice(1);
  ASSERT_EQ(app_.Discover(true, nullptr), 1);
  ASSERT_EQ(prompt_.CountOf("choose"), 1u);
  EXPECT_EQ(prompt_.History()[0].entries,
            (std::vector<std::string>{"eth-a 192.168.202.10 - (1 Knoten)",
                                      "eth-b 192.168.203.10 - (2 Knoten)"}));
  EXPECT_EQ(app_.SelectedAdapterName(), "eth-b");
  EXPECT_EQ(app_.AdaptersSnapshot().size(), 2u);  // the empty adapter is not kept
  EXPECT_EQ(log_.CountContaining(
                ">discover: eth-b 192.168.203.10 - (2 Knoten) found in adapter with index = 1"),
            1u);

  // A later full discovery with a selection and no new adapter does not ask again.
  ASSERT_EQ(app_.Discover(true, nullptr), 1);
  EXPECT_EQ(prompt_.CountOf("choose"), 1u);
  EXPECT_EQ(app_.SelectedAdapterName(), "eth-b");

  // Cancel leaves no adapter selected.
  CMRegApp other(&prompt_);
  other.SetCaptureDriver(&net_);
  prompt_.QueueChoice(-1);
  ASSERT_EQ(other.Discover(true, nullptr), 1);
  EXPECT_EQ(prompt_.CountOf("choose"), 2u);
  EXPECT_EQ(other.SelectedAdapterName(), "");
  EXPECT_EQ(log_.CountContaining("Strange - there is no one NetworkAdapter choosen !?!"), 1u);
}

TEST_F(DiscoverTest, SelectedAdapterOnlyAndItsDisappearance) {
  net_.AddAdapter("eth-a", kPcMacA, "192.168.202.10");
  net_.AddAdapter("eth-b", kPcMacB, "192.168.203.10");
  net_.AddModule("eth-a", Module(1, "192.168.202.20", 1));
  net_.AddModule("eth-b", Module(2, "192.168.203.20", 2));
  prompt_.QueueChoice(0);
  ASSERT_EQ(app_.Discover(true, nullptr), 1);
  ASSERT_EQ(app_.SelectedAdapterName(), "eth-a");

  // Only the selected adapter is scanned.
  net_.ClearRecords();
  ASSERT_EQ(app_.Discover(false, nullptr), 1);
  for (const auto& s : net_.Sent()) EXPECT_EQ(s.device, "eth-a");
  EXPECT_EQ(net_.Sent().size(), 2u);  // not the first discovery: two sends

  // The selected adapter is gone: a full discovery runs and selects what is left silently.
  net_.RemoveAdapter("eth-a");
  net_.ClearRecords();
  ASSERT_EQ(app_.Discover(false, nullptr), 1);
  EXPECT_EQ(app_.SelectedAdapterName(), "eth-b");
  EXPECT_FALSE(app_.FindAdapterByName("eth-a"));
  EXPECT_EQ(prompt_.CountOf("choose"), 1u);
}

TEST_F(DiscoverTest, NoCaptureDeviceRecovery) {
  net_.AddAdapter("eth-a", kPcMacA, "192.168.202.10");
  net_.AddModule("eth-a", Module(1, "192.168.202.20", 1));

  // Two failures, then the devices appear: two messages, one second apart each, then success.
  net_.FailListing(2, true);
  ASSERT_EQ(app_.Discover(true, nullptr), 1);
  const auto texts = prompt_.Texts();
  ASSERT_EQ(texts.size(), 2u);
  const std::string head = "Achtung, Urmigat kann keinen verfügbaren Netzwerkadapter finden.";
  EXPECT_EQ(texts[0].rfind(head + "\r\nEs wird erneut versucht Netzwerkadapter zu finden.", 0), 0u);
  EXPECT_EQ(texts[1].rfind(head + " Bitte den Produktsupport kontaktieren.", 0), 0u);
  for (const auto& text : texts)
    EXPECT_NE(text.find("setcap cap_net_raw,cap_net_admin+eip"), std::string::npos) << text;
  const auto sleeps = net_.Sleeps();
  EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 1000u), 2);
  EXPECT_EQ(app_.SelectedAdapterName(), "eth-a");
  EXPECT_EQ(log_.CountContaining("WinPCAP AdapterBrowse was FAILED!"), 2u);
  EXPECT_EQ(discovery::CaptureRecoveryCounter(), 1);  // success resets it

  // Three failures in a row: the third returns 0 without a message; the next call stays silent.
  net_.FailListing(4, false);
  EXPECT_EQ(app_.Discover(true, nullptr), 0);
  EXPECT_EQ(prompt_.Texts().size(), 4u);
  EXPECT_EQ(net_.ListingCalls(), 3 + 3);
  EXPECT_EQ(app_.Discover(true, nullptr), 0);
  EXPECT_EQ(prompt_.Texts().size(), 4u);
}

TEST_F(DiscoverTest, DevicesThatCannotBeOpenedOrHaveNoAdapterInfoAreSkipped) {
  net_.AddAdapter("eth-a", kPcMacA, "192.168.202.10");
  net_.AddAdapter("eth-b", kPcMacB, "192.168.203.10");
  net_.AddDeviceOnly("any");
  net_.FailOpen("eth-a");
  net_.AddModule("eth-b", Module(2, "192.168.203.20", 2));
  ASSERT_EQ(app_.Discover(true, nullptr), 1);
  EXPECT_EQ(app_.SelectedAdapterName(), "eth-b");
  EXPECT_EQ(log_.CountContaining("> discover: Unable to open capturing on the adapter!?!"), 1u);
  EXPECT_EQ(
      log_.CountContaining(
          "_discover > GetAdapterInfo was failed for this adapter, continue with the next..."),
      1u);
}

// The caller's copy reads the record as 28 bytes, or as 16 when the revision bytes are unset
// (0x0000 or 0xFFFF): then revision and flags byte count as absent.
TEST(CopyNodeForList, RevisionBytesDecideHowMuchOfTheRecordIsRead) {
  struct Case {
    uint8_t major, minor;
    uint16_t revision;
    uint8_t capability;
  };
  const Case cases[] = {
      {0x04, 0x02, 0x0402, 0x30}, {0xFF, 0xFF, 0, 0}, {0x00, 0x00, 0, 0}, {0x04, 0x00, 0x0400, 0}};
  for (const auto& c : cases) {
    FakeModule m = Module(42, "10.0.0.42", 1);
    m.revisionMajor = c.major;
    m.revisionMinor = c.minor;
    m.capability = 0x30;
    const auto bytes = m.Record();
    const auto record = discovery::ParseNodeRecord(bytes.data(), bytes.size());
    const NodePtr node = discovery::NodeFromRecord(*record, m.mac);
    node->packetFlags = 0x10;
    node->stale = 1;
    const NodePtr copy = discovery::CopyNodeForList(*node);
    EXPECT_NE(copy.get(), node.get());
    EXPECT_EQ(copy->serialNumber, 42u);
    EXPECT_EQ(copy->ipText, "10.0.0.42");
    EXPECT_EQ(copy->maskText, "255.255.255.0");
    EXPECT_EQ(copy->gatewayText, "192.168.202.1");
    EXPECT_EQ(copy->mac, m.mac);
    EXPECT_EQ(copy->packetFlags, 0x10);
    EXPECT_EQ(copy->stale, 1u);
    EXPECT_EQ(copy->revision, c.revision) << int(c.major) << "." << int(c.minor);
    EXPECT_EQ(copy->record[17], c.capability) << int(c.major) << "." << int(c.minor);
  }
}

// A module known from an earlier discovery answers with a new record (firmware upgrade, new
// mask and gateway): the list copies, made from the raw record, show what it says now. An
// answer of 8 bytes (PING2) carries none of it and leaves record and fields as they were.
TEST_F(DiscoverTest, ListCopiesFollowTheLatestRecordOfAKnownModule) {
  net_.AddAdapter("eth-a", kPcMacA, "192.168.202.10");
  FakeModule module = Module(3101, "192.168.202.31", 1);
  net_.AddModule("eth-a", module);
  NodeList list;
  ASSERT_EQ(app_.Discover(true, &list), 1);
  ASSERT_EQ(list.size(), 1u);
  ASSERT_EQ(list[0]->revision, 0x0402);

  module.revisionMajor = 5;
  module.revisionMinor = 1;
  module.mask = "255.255.0.0";
  module.gateway = "192.168.202.254";
  module.capability = 1;
  net_.RemoveModules("eth-a");
  net_.AddModule("eth-a", module);
  ASSERT_EQ(app_.Discover(false, &list), 1);  // the selected adapter: the node is merged
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->revision, 0x0501);
  EXPECT_EQ(list[0]->maskText, "255.255.0.0");
  EXPECT_EQ(list[0]->gatewayText, "192.168.202.254");
  EXPECT_EQ(list[0]->record[17], 1);
  EXPECT_EQ(NodesOf("eth-a").at(0).record[18], 5);

  FakeModule ping2 = module;
  ping2.recordLength = 8;
  net_.RemoveModules("eth-a");
  net_.AddModule("eth-a", ping2);
  ASSERT_EQ(app_.Discover(false, &list), 1);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->revision, 0x0501);
  EXPECT_EQ(list[0]->maskText, "255.255.0.0");
}

TEST_F(DiscoverTest, TheCallersListIsEmptiedFirst) {
  net_.AddAdapter("eth-a", kPcMacA, "192.168.202.10");
  NodeList list = {std::make_shared<CNode_Data>(), std::make_shared<CNode_Data>()};
  ASSERT_EQ(app_.Discover(true, &list), 1);
  EXPECT_TRUE(list.empty());
}

// Without capture rights the devices are listed but cannot be opened: the same recovery.
TEST_F(DiscoverTest, DevicesThatCannotBeOpenedForLackOfRightsStartTheRecovery) {
  net_.AddAdapter("eth-a", kPcMacA, "192.168.202.10");
  net_.FailOpen("eth-a", "eth-a: You don't have permission to perform this capture on that device");
  EXPECT_EQ(app_.Discover(true, nullptr), 0);
  EXPECT_EQ(prompt_.Texts().size(), 2u);
  EXPECT_EQ(net_.ListingCalls(), 3);
}

TEST_F(DiscoverTest, AFullDiscoveryThatLosesTheSelectedAdapterRunsAgain) {
  net_.AddAdapter("eth-a", kPcMacA, "192.168.202.10");
  net_.AddAdapter("eth-b", kPcMacB, "192.168.203.10");
  net_.AddModule("eth-a", Module(1, "192.168.202.20", 1));
  net_.AddModule("eth-b", Module(2, "192.168.203.20", 2));
  prompt_.QueueChoice(0);
  ASSERT_EQ(app_.Discover(true, nullptr), 1);
  ASSERT_EQ(app_.SelectedAdapterName(), "eth-a");
  net_.RemoveAdapter("eth-a");
  net_.ClearRecords();
  NodeList list;
  ASSERT_EQ(app_.Discover(true, &list), 1);
  EXPECT_EQ(app_.SelectedAdapterName(), "eth-b");
  EXPECT_EQ(app_.AdaptersSnapshot().size(), 1u);
  // Two passes over eth-b: the first found eth-a gone, the second chose what was left.
  EXPECT_EQ(net_.Opens().size(), 2u + 2u);  // two opens from the first discovery, two now
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->serialNumber, 2u);
  EXPECT_EQ(prompt_.CountOf("choose"), 1u);
}

}  // namespace
