// The send helpers (destinations, pauses, the adapter's MAC in raw frames), AdapterAddressFor
// and the generic receiver ReceiveNodeAnswers, against the fake capture.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/bytes.h"
#include "base/format.h"
#include "base/prompt.h"
#include "discovery/discover.h"
#include "discovery/discover_environment.h"
#include "discovery/mreg_app.h"
#include "fixtures/fake_capture.h"
#include "fixtures/temp_log.h"

namespace {

using discovery::MacBytes;
using fakes::FakeModule;
using fakes::Ip;

using fakes::kPcMac;
const MacBytes kModuleMac = {0x00, 0x50, 0xC2, 0, 0, 0x21};

class SendReceiveTest : public ::testing::Test {
 protected:
  SendReceiveTest() : environment_(&net_), app_(&prompt_) {
    app_.SetCaptureDriver(&net_);
    net_.AddAdapter("eth-a", kPcMac, "192.168.202.10");
  }

  void SelectWithNode() {
    FakeModule m;
    m.serialNumber = 77;
    m.ip = "192.168.202.21";
    m.mac = kModuleMac;
    net_.AddModule("eth-a", m);
    ASSERT_EQ(app_.Discover(true, nullptr), 1);
    ASSERT_EQ(app_.SelectedAdapterName(), "eth-a");
    net_.ClearRecords();
  }

  std::vector<uint8_t> Frame(uint8_t code, const std::vector<uint8_t>& data,
                             const MacBytes& from = kModuleMac,
                             const std::string& fromIp = "192.168.202.21") {
    return fakes::BuildModuleAnswer(from, Ip(fromIp), kPcMac, discovery::kNodeCommandPort, code,
                                    0x10, 1, data);
  }

  fixtures::ScopedTempLog log_;
  fakes::FakeNetwork net_;
  discovery::ScopedDiscoverEnvironment environment_;
  base::ScriptedPrompt prompt_;
  CMRegApp app_;
};

TEST_F(SendReceiveTest, NodeSendDestinationsAndPauses) {
  discovery::CaptureHandlePtr handle;
  const auto payload = discovery::MakePacketHeader(0x53, 0, 0, 9);
  // Nothing without a selected adapter or a payload.
  EXPECT_EQ(discovery::_send_UDP_to_Node(app_, handle, nullptr, payload.data(), 8, 55555, 3),
            nullptr);
  SelectWithNode();
  EXPECT_EQ(discovery::_send_UDP_to_Node(app_, handle, nullptr, nullptr, 8, 55555, 3), nullptr);
  EXPECT_TRUE(net_.Sent().empty());

  CNode_Data withMac;
  withMac.mac = kModuleMac;
  withMac.ipAddress = Ip("192.168.202.21");
  CNode_Data withoutMac;
  withoutMac.ipAddress = Ip("192.168.202.44");
  struct Case {
    const CNode_Data* node;
    MacBytes mac;
    uint32_t ip;
  };
  const Case cases[] = {{&withMac, kModuleMac, 0xFFFFFFFFu},
                        {&withoutMac, discovery::kBroadcastMac, Ip("192.168.202.44")},
                        {nullptr, discovery::kBroadcastMac, 0xFFFFFFFFu}};
  for (const auto& c : cases) {
    net_.ClearRecords();
    handle.reset();
    ASSERT_NE(discovery::_send_UDP_to_Node(app_, handle, c.node, payload.data(), 8, 55555, 4),
              nullptr);
    const auto sent = net_.Sent();
    ASSERT_EQ(sent.size(), 4u);
    const auto& f = sent[0].bytes;
    EXPECT_EQ((MacBytes{f[0], f[1], f[2], f[3], f[4], f[5]}), c.mac);
    EXPECT_EQ(base::Ipv4FromBytes(&f[30]), c.ip);
    EXPECT_EQ(base::GetBE16(&f[34]), discovery::kNodeCommandPort);
    EXPECT_EQ(base::GetBE16(&f[36]), 55555);
    EXPECT_EQ(net_.Sleeps(), (std::vector<uint32_t>{5, 30, 10}));
  }
  // The handle is handed back and reused: no second open.
  const size_t opens = net_.Opens().size();
  ASSERT_GT(opens, 0u);
  EXPECT_EQ(net_.Opens().back().snapLength, 2048);
  EXPECT_TRUE(net_.Opens().back().promiscuous);
  discovery::_send_UDP_to_Node(app_, handle, nullptr, payload.data(), 8, 55555, 1);
  EXPECT_EQ(net_.Opens().size(), opens);

  // By address text: the known node's MAC, pauses 5 and 30.
  net_.ClearRecords();
  handle.reset();
  ASSERT_NE(
      discovery::_send_UDP_to_NodeIP(app_, handle, "192.168.202.21", payload.data(), 8, 55555, 3),
      nullptr);
  EXPECT_EQ(net_.Sleeps(), (std::vector<uint32_t>{5, 30}));
  EXPECT_EQ(net_.Sent()[0].bytes[5], kModuleMac[5]);
}

TEST_F(SendReceiveTest, CommandSendsPauseAndRawFramesCarryTheAdapterMac) {
  SelectWithNode();
  const auto payload = discovery::MakePacketHeader(0xB0, 0xCC, 0, 3);
  ASSERT_TRUE(discovery::SendBroadcastCommand(app_, payload.data(), 8, 55555, 4, false));
  EXPECT_EQ(net_.Sleeps(), (std::vector<uint32_t>{50, 100, 200}));
  EXPECT_EQ(base::GetBE16(&net_.Sent()[0].bytes[34]), discovery::kBroadcastCommandPort);
  net_.ClearRecords();
  ASSERT_TRUE(discovery::SendBroadcastCommand(app_, payload.data(), 8, 55555, 3, true));
  EXPECT_TRUE(net_.Sleeps().empty());
  EXPECT_EQ(net_.Sent().size(), 3u);

  net_.ClearRecords();
  std::vector<uint8_t> raw(33, 0);
  std::copy(kModuleMac.begin(), kModuleMac.end(), raw.begin());
  raw[12] = 0x80;
  raw[13] = 0x4A;
  ASSERT_TRUE(discovery::SendRawFrame(app_, raw.data(), raw.size(), 2));
  ASSERT_EQ(net_.Sent().size(), 2u);
  const auto rawSent = net_.Sent()[0].bytes;
  EXPECT_EQ(std::vector<uint8_t>(rawSent.begin() + 6, rawSent.begin() + 12),
            std::vector<uint8_t>(kPcMac.begin(), kPcMac.end()));
  EXPECT_EQ(net_.Sleeps(), (std::vector<uint32_t>{50}));
  EXPECT_TRUE(net_.Opens().back().closed);  // the one-call form closes
  EXPECT_EQ(net_.Opens().back().snapLength, 2048);
  EXPECT_TRUE(net_.Opens().back().promiscuous);
  std::vector<uint8_t> tooShort(10, 0);
  EXPECT_FALSE(discovery::SendRawFrame(app_, tooShort.data(), tooShort.size(), 1));

  // On all adapters: the known node by its MAC on its adapter, broadcast elsewhere.
  net_.AddAdapter("eth-b", {2, 0, 0, 0, 0, 0x0B}, "192.168.203.10");
  net_.ClearRecords();
  const size_t opensBefore = net_.Opens().size();
  EXPECT_EQ(discovery::SendOnAllAdapters(app_, "192.168.202.21", payload.data(), 8, 55555, 2), 2);
  const auto sent = net_.Sent();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[0].device, "eth-a");
  EXPECT_EQ(sent[0].bytes[5], kModuleMac[5]);
  EXPECT_EQ(sent[2].device, "eth-b");
  EXPECT_EQ(sent[2].bytes[0], 0xFF);
  EXPECT_EQ(net_.Sleeps(), (std::vector<uint32_t>{50, 30, 50, 30}));
  const auto opens = net_.Opens();
  ASSERT_EQ(opens.size(), opensBefore + 2);  // one per adapter
  for (size_t k = opensBefore; k < opens.size(); ++k) {
    const auto& open = opens[k];
    EXPECT_EQ(open.snapLength, 2048) << open.device;
    EXPECT_TRUE(open.promiscuous) << open.device;
  }
}

TEST_F(SendReceiveTest, AdapterAddressForPicksTheFittingAddress) {
  std::string address = "x", mask = "y";
  EXPECT_FALSE(discovery::AdapterAddressFor(app_, "10.0.0.1", &address, &mask));  // none selected
  EXPECT_EQ(address, "x");

  net_.AddAdapter("multi", kPcMac, "10.1.2.10", "255.255.255.0");
  net_.AddAddress("multi", "10.1.2.20", "255.255.255.0");
  net_.AddAddress("multi", "172.20.0.5", "255.255.0.0");
  app_.SetSelectedAdapter("multi");
  struct Case {
    std::string target;
    std::string address;
    std::string mask;
  };
  const Case cases[] = {
      {"10.1.2.99", "10.1.2.20", "255.255.255.0"},  // the last of the same first three octets
      {"172.20.9.9", "172.20.0.5", "255.255.0.0"},  // the first subnet that holds it
      {"0.0.0.0", "10.1.2.10", "255.255.255.0"},    // no target: the current address
      {"", "10.1.2.10", "255.255.255.0"},
      {"192.168.1.1", "0.0.0.0", "0.0.0.0"},  // nothing fits
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(discovery::AdapterAddressFor(app_, c.target, &address, &mask)) << c.target;
    EXPECT_EQ(address, c.address) << c.target;
    EXPECT_EQ(mask, c.mask) << c.target;
  }
}

TEST_F(SendReceiveTest, ReceiverActsOnEveryAnswerCode) {
  SelectWithNode();
  discovery::CaptureHandlePtr handle = net_.Open("eth-a", 65536, true, nullptr);
  const uint32_t t = net_.Now();
  FakeModule a;
  a.serialNumber = 501;
  a.ip = "192.168.202.51";
  FakeModule b = a;
  b.serialNumber = 502;
  b.ip = "192.168.202.52";
  b.recordLength = 8;
  FakeModule shortOne = a;
  shortOne.recordLength = 6;
  FakeModule list1 = a;
  list1.serialNumber = 503;
  list1.ip = "192.168.202.53";
  auto twoRecords = list1.Record();
  FakeModule list2 = a;
  list2.serialNumber = 501;  // already listed by its PING1
  const auto second = list2.Record();
  twoRecords.insert(twoRecords.end(), second.begin(), second.end());
  // Set NodeIP answer: node 77 now at .99 with a new MAC.
  FakeModule moved;
  moved.serialNumber = 77;
  moved.ip = "192.168.202.99";
  const MacBytes newMac = {0x00, 0x50, 0xC2, 0, 0, 0x99};
  // ReadLock answer: record + lock state 1.
  FakeModule lockAnswer = moved;
  auto lockData = lockAnswer.Record();
  lockData.insert(lockData.end(), {0, 0, 0, 1});

  net_.InjectFrame("eth-a", t + 10, Frame(0x1F, a.Record()));
  net_.InjectFrame("eth-a", t + 20, Frame(0x1F, b.Record()));
  net_.InjectFrame("eth-a", t + 30, Frame(0x1F, shortOne.Record()));
  net_.InjectFrame("eth-a", t + 40, Frame(0x58, twoRecords));
  net_.InjectFrame("eth-a", t + 50, Frame(0x71, a.Record()));
  net_.InjectFrame("eth-a", t + 60, Frame(0x1F, a.Record(), newMac));  // known: MAC changes
  net_.InjectFrame("eth-a", t + 70, Frame(0x21, moved.Record(), newMac, "192.168.202.99"));
  net_.InjectFrame("eth-a", t + 80, Frame(0x73, lockData, newMac, "192.168.202.99"));
  net_.InjectFrame("eth-a", t + 90, Frame(0x75, moved.Record(), newMac, "192.168.202.99"));
  net_.InjectFrame("eth-a", t + 350, Frame(0x1F, list1.Record()));  // after the time-out

  NodeList list;
  EXPECT_EQ(discovery::ReceiveNodeAnswersLoggingSender(app_, handle.get(), 300, &list), 1);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0]->serialNumber, 501u);
  EXPECT_EQ(list[0]->packetFlags, 0x10);
  EXPECT_EQ(list[0]->mac, newMac);
  EXPECT_EQ(list[1]->serialNumber, 502u);
  EXPECT_EQ(list[1]->maskText, "0.0.0.0");
  EXPECT_EQ(list[2]->serialNumber, 503u);

  const AdapterPtr adapter = app_.SelectedAdapter();
  {
    std::lock_guard guard(adapter->lock);
    ASSERT_EQ(adapter->nodes.size(), 1u);
    const CNode_Data& node = *adapter->nodes[0];
    EXPECT_EQ(node.ipText, "192.168.202.99");
    EXPECT_EQ(node.mac, newMac);
    EXPECT_EQ(node.lockState, 1);
  }
  EXPECT_EQ(log_.CountContaining(
                "PING1 broadcast from NodeIP:\"192.168.202.51\", 501, packetFlags: 0x10 !"),
            2u);
  EXPECT_EQ(log_.CountContaining("PING2 broadcast from NodeIP:\"192.168.202.52\", 502"), 1u);
  EXPECT_EQ(
      log_.CountContaining(
          "!!!!! IGNORING UDP DISCOVER responce packet - wrong Payload size 6, PacketLength = 14"),
      0u);  // data length byte below 8 is not even read
  EXPECT_EQ(log_.CountContaining("PING3 broadcast from NodeIP:\"192.168.202.53\", 503"), 1u);
  EXPECT_EQ(log_.CountContaining("PING3 Add new NodeIP:\"192.168.202.53\" !"), 1u);
  EXPECT_EQ(log_.CountContaining("- Got a Set NodeIP answer from node: 192.168.202.99"), 1u);
  EXPECT_EQ(log_.CountContaining("Node SN: 501, MAC addr. has changed to: 00:50:C2:00:00:99 !?!"),
            1u);
  EXPECT_EQ(log_.CountContaining("Node SN: 77, MAC addr. has changed to: 00:50:C2:00:00:99 !?!"),
            1u);
  EXPECT_EQ(log_.CountContaining("the device 501 is already exist."), 1u);
  EXPECT_EQ(
      log_.CountContaining(
          "Strange got ReadLock resp. from node: 192.168.202.99, but Packet payload is 20  !?!"),
      1u);
  EXPECT_EQ(log_.CountContaining(
                "Got UDP packet with DataLen = 20, from SenderIP = \"192.168.202.21\"..."),
            3u);  // 0x1F twice, 0x71
  // The receive ended at its time-out: the late frame is still waiting.
  EXPECT_EQ(net_.Taken().size(), 9u);

  // Nothing to act on: 0.
  EXPECT_EQ(discovery::ReceiveNodeAnswers(app_, handle.get(), 100, &list), 1);  // the late PING1
  EXPECT_EQ(discovery::ReceiveNodeAnswers(app_, handle.get(), 100, &list), 0);
  EXPECT_EQ(discovery::ReceiveNodeAnswers(app_, nullptr, 100, &list), 0);
}

TEST_F(SendReceiveTest, NoAddressOrAFailedSendSendsNoMore) {
  SelectWithNode();
  const auto payload = discovery::MakePacketHeader(0x70, 0, 0, 5);
  discovery::CaptureHandlePtr handle;
  EXPECT_EQ(
      discovery::_send_UDP_to_NodeIP(app_, handle, "not an address", payload.data(), 8, 55555, 3),
      nullptr);
  EXPECT_TRUE(net_.Sent().empty());

  net_.FailSends("eth-a");
  handle.reset();
  EXPECT_EQ(discovery::_send_UDP_to_Node(app_, handle, nullptr, payload.data(), 8, 55555, 3),
            nullptr);
  EXPECT_TRUE(handle);                 // opened: the caller still owns and closes it
  EXPECT_TRUE(net_.Sleeps().empty());  // no pauses after the first failure
  EXPECT_FALSE(discovery::SendBroadcastCommand(app_, payload.data(), 8, 55555, 3, false));
  EXPECT_EQ(log_.CountContaining("pcap_sendpacket was FAILED"), 2u);
}

// Discover answers and lists are kept only in the caller's list: without one the receiver has
// acted on nothing, so a caller waiting for another answer does not count them as one.
TEST_F(SendReceiveTest, DiscoverAnswersCountOnlyWhenAListTakesThem) {
  SelectWithNode();
  FakeModule stray;
  stray.serialNumber = 601;
  stray.ip = "192.168.202.61";
  struct Case {
    uint8_t code;
    bool withList;
    int result;
  };
  const Case cases[] = {{0x1F, false, 0}, {0x58, false, 0}, {0x59, false, 0},
                        {0x1F, true, 1},  {0x58, true, 1},  {0x59, true, 1}};
  for (const auto& c : cases) {
    discovery::CaptureHandlePtr handle = net_.Open("eth-a", 65536, true, nullptr);
    net_.InjectFrame("eth-a", net_.Now() + 10, Frame(c.code, stray.Record()));
    NodeList list;
    EXPECT_EQ(discovery::ReceiveNodeAnswers(app_, handle.get(), 100, c.withList ? &list : nullptr),
              c.result)
        << int(c.code) << " list " << c.withList;
    EXPECT_EQ(list.size(), c.withList ? 1u : 0u);
    EXPECT_EQ(net_.Taken().size(), 1u) << "the answer was read";
    net_.ClearRecords();
  }
}

// The lock state of a ReadLock answer lives apart from the raw record: the next discovery answer
// refreshes the record (new firmware revision) and leaves the state alone.
TEST_F(SendReceiveTest, ReadLockStateOutlivesTheRecordRefreshOfTheNextDiscovery) {
  SelectWithNode();
  discovery::CaptureHandlePtr handle = net_.Open("eth-a", 65536, true, nullptr);
  FakeModule module;
  module.serialNumber = 77;
  module.ip = "192.168.202.21";
  module.mac = kModuleMac;
  auto lockData = module.Record();
  lockData.insert(lockData.end(), {0, 0, 0, 1});
  net_.InjectFrame("eth-a", net_.Now() + 10, Frame(0x73, lockData));
  ASSERT_EQ(discovery::ReceiveNodeAnswers(app_, handle.get(), 50, nullptr), 1);
  handle.reset();

  module.revisionMajor = 5;
  module.revisionMinor = 7;
  net_.RemoveModules("eth-a");
  net_.AddModule("eth-a", module);
  ASSERT_EQ(app_.Discover(false, nullptr), 1);
  const AdapterPtr adapter = app_.SelectedAdapter();
  std::lock_guard guard(adapter->lock);
  ASSERT_EQ(adapter->nodes.size(), 1u);
  const CNode_Data& node = *adapter->nodes[0];
  EXPECT_EQ(node.lockState, 1);
  EXPECT_EQ(node.record[18], 5);
  EXPECT_EQ(node.record[19], 7);
  EXPECT_EQ(node.record[20], 0);  // no lock state bytes in the record
}

// Races (run under ThreadSanitizer): a discovery on one worker rewrites the selected adapter's
// identity and its nodes while another thread logs a ReadLock answer for an unknown node or
// sends to a node of the inventory. Both read what they need under the adapter's lock.
TEST_F(SendReceiveTest, ReadLockLogLineWhileADiscoveryRewritesTheAdapter) {
  SelectWithNode();
  discovery::CaptureHandlePtr handle = net_.Open("eth-a", 65536, true, nullptr);
  FakeModule unknown;
  unknown.serialNumber = 999;
  unknown.ip = "192.168.202.98";
  auto lockData = unknown.Record();
  lockData.insert(lockData.end(), {0, 0, 0, 1});
  std::atomic<bool> done{false};
  std::thread discovering([&] {
    for (int i = 0; i < 150; ++i) app_.Discover(true, nullptr);
    done = true;
  });
  int rounds = 0;
  while (!done) {
    // One answer at a time keeps the fake's queue short (the discovery may take it too).
    net_.InjectFrame("eth-a", net_.Now() + 2, Frame(0x75, lockData));
    discovery::ReceiveNodeAnswers(app_, handle.get(), 10, nullptr);
    ++rounds;
  }
  discovering.join();
  EXPECT_GT(rounds, 0);
  EXPECT_GE(log_.CountContaining("Strange got ReadLock resp. but didn't find the node: "
                                 "192.168.202.98 in the current Adapter(\"eth-a"),
            1u);
  EXPECT_GE(log_.CountContaining("\", ip: 192.168.202.10) nodes collection !?!"), 1u);
}

TEST_F(SendReceiveTest, SendToAnInventoryNodeWhileADiscoveryMergesItsAnswers) {
  SelectWithNode();
  // The module answers from two MACs in turn (a second port), so that every merge rewrites
  // the node's MAC while the sends read it.
  const MacBytes otherMac = {0x00, 0x50, 0xC2, 0, 0, 0x22};
  FakeModule first;
  first.serialNumber = 77;
  first.ip = "192.168.202.21";
  first.mac = kModuleMac;
  first.answerEveryCopy = true;
  FakeModule second = first;
  second.mac = otherMac;
  second.delayMs = 12;
  net_.RemoveModules("eth-a");
  net_.AddModule("eth-a", first);
  net_.AddModule("eth-a", second);
  const AdapterPtr adapter = app_.SelectedAdapter();
  NodePtr node;
  {
    std::lock_guard guard(adapter->lock);
    node = adapter->nodes.at(0);
  }
  const auto payload = discovery::MakePacketHeader(0x53, 0, 0, 9);
  std::atomic<bool> done{false};
  std::thread discovering([&] {
    for (int i = 0; i < 40; ++i) app_.Discover(false, nullptr);
    done = true;
  });
  discovery::CaptureHandlePtr handle;
  int sends = 0;
  while (!done) {
    if (discovery::_send_UDP_to_Node(app_, handle, node.get(), payload.data(), 8, 55555, 1)) {
      ++sends;
    }
  }
  discovering.join();
  EXPECT_GT(sends, 0);
  for (const auto& sent : net_.Sent()) {
    if (base::GetBE16(&sent.bytes[34]) != discovery::kNodeCommandPort) continue;
    const MacBytes to = {sent.bytes[0], sent.bytes[1], sent.bytes[2],
                         sent.bytes[3], sent.bytes[4], sent.bytes[5]};
    EXPECT_TRUE(to == kModuleMac || to == otherMac) << base::MacText(to.data());
  }
}

}  // namespace
