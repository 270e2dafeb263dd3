#include "discovery/inventory.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <thread>

#include "base/format.h"
#include "comm/event_log.h"
#include "discovery/mreg_app.h"
#include "fixtures/temp_log.h"

namespace {

uint32_t Ip(const char* text) {
  uint32_t address = 0;
  EXPECT_TRUE(ParseAddress(text, &address)) << text;
  return address;
}

// A node as built from a discovery answer.
NodePtr Answer(uint32_t serial, const char* ip, MacAddress mac, uint16_t revision = 0x0401) {
  auto node = std::make_shared<CNode_Data>();
  node->serialNumber = serial;
  node->ipAddress = Ip(ip);
  node->ipText = ip;
  node->mask = Ip("255.255.255.0");
  node->maskText = "255.255.255.0";
  node->gatewayText = "192.168.1.1";
  node->revision = revision;
  node->mac = mac;
  node->recordCopy[0] = static_cast<uint8_t>(serial);
  return node;
}

const MacAddress kMacA{0x00, 0x50, 0xC2, 0x00, 0x00, 0x0A};
const MacAddress kMacB{0x00, 0x50, 0xC2, 0x00, 0x00, 0x0B};

TEST(NodeData, ConstructionMarksSerialAndAddressUnknownAndPortsThree) {
  CNode_Data node;
  EXPECT_EQ(node.serialNumber, 0xCCCCCCCCu);
  EXPECT_EQ(node.ipAddress, 0xCCCCCCCCu);
  EXPECT_EQ(node.leftPort, 3);
  EXPECT_EQ(node.rightPort, 3);
  EXPECT_FALSE(node.HasMac());
  EXPECT_EQ(node.stale, 0u);
  CNAdapter adapter;
  EXPECT_EQ(adapter.isNew, 1u);
  EXPECT_EQ(adapter.listIndex, -1);
  EXPECT_EQ(adapter.macText, "00:00:00:00:00:00");
}

// ---- merging discovery answers ----

class MergeTest : public ::testing::Test {
 protected:
  fixtures::ScopedTempLog log;
  CNAdapter adapter;
};

TEST_F(MergeTest, NewNodeTakesFlagsAndDirectionOnlyFromFullRecords) {
  struct Case {
    size_t length;
    uint8_t flags;
    uint8_t wantFlags;
    uint32_t wantDirection;
    bool flagLine;
  };
  const Case cases[] = {{20, 0x10, 0x10, 0, true},
                        {16, 0x00, 0x00, 1, true},
                        {20, 0x30, 0x30, 1, true},
                        {8, 0x00, 0x00, 0, false}};
  uint32_t serial = 100;
  for (const Case& c : cases) {
    const size_t linesBefore = log.Messages().size();
    NodePtr merged =
        MergeDiscoveryAnswer(adapter, Answer(++serial, "192.168.1.21", kMacA), c.length, c.flags);
    ASSERT_TRUE(merged);
    EXPECT_EQ(merged->packetFlags, c.wantFlags) << c.length;
    EXPECT_EQ(merged->direction, c.wantDirection) << c.length;
    const auto lines = log.Messages();
    ASSERT_EQ(lines.size(), linesBefore + (c.flagLine ? 1 : 0));
    if (c.flagLine) {
      EXPECT_EQ(lines.back(), base::Format("Node: 192.168.1.21, %u - got new packetFlag = 0x%X...",
                                           serial, c.flags));
    }
  }
  EXPECT_EQ(adapter.nodes.size(), 4u);
  EXPECT_EQ(adapter.newNodes, 4);
}

TEST_F(MergeTest, KnownNodeWithRecordLengthEightOnlyLosesItsStaleMark) {
  NodePtr node = MergeDiscoveryAnswer(adapter, Answer(7, "192.168.1.21", kMacA), 20, 0x10);
  node->stale = 1;
  const CNode_Data before = *node;
  NodePtr again = MergeDiscoveryAnswer(adapter, Answer(7, "10.0.0.99", kMacA, 0x0502), 8, 0x00);
  EXPECT_EQ(again, node);
  EXPECT_EQ(adapter.nodes.size(), 1u);
  EXPECT_EQ(adapter.newNodes, 1);
  EXPECT_EQ(node->stale, 0u);
  EXPECT_EQ(node->ipText, "192.168.1.21");
  EXPECT_EQ(node->ipAddress, before.ipAddress);
  EXPECT_EQ(node->revision, 0x0401);
  EXPECT_EQ(node->packetFlags, 0x10);
  EXPECT_EQ(node->direction, 0u);
  EXPECT_EQ(log.Messages().back(),
            "!!!!! IGNORING UDP DISCOVER ... the device 7 is already exist.");
}

TEST_F(MergeTest, KnownNodeTakesAddressesFromSixteenBytesAndRevisionFromTwenty) {
  NodePtr node = MergeDiscoveryAnswer(adapter, Answer(7, "192.168.1.21", kMacA), 20, 0x10);
  MergeDiscoveryAnswer(adapter, Answer(7, "192.168.1.30", kMacA, 0x0502), 16, 0x10);
  EXPECT_EQ(node->ipText, "192.168.1.30");
  EXPECT_EQ(node->ipAddress, Ip("192.168.1.30"));
  EXPECT_EQ(node->revision, 0x0401);  // 16 bytes carry no revision
  EXPECT_EQ(log.CountContaining("RevNo"), 0u);

  MergeDiscoveryAnswer(adapter, Answer(7, "192.168.1.30", kMacA, 0x0502), 20, 0x00);
  EXPECT_EQ(node->revision, 0x0502);
  EXPECT_EQ(node->packetFlags, 0x00);
  EXPECT_EQ(node->direction, 1u);
  const auto lines = log.Messages();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], "Node: 192.168.1.30, 7 - got new packetFlag = 0x0...");
  EXPECT_EQ(lines[lines.size() - 2], "But it has new RevNo = 0x502, old was 0x401 !?!");
  EXPECT_EQ(lines.back(), "!!!!! IGNORING UDP DISCOVER ... the device 7 is already exist.");
}

TEST_F(MergeTest, SameSerialWithAnotherMacKeepsOneNodeWithTheLastMac) {
  MergeDiscoveryAnswer(adapter, Answer(7, "192.168.1.21", kMacA), 20, 0x10);
  MergeDiscoveryAnswer(adapter, Answer(7, "192.168.1.21", kMacB), 20, 0x10);
  MergeDiscoveryAnswer(adapter, Answer(7, "192.168.1.21", kMacB), 20, 0x10);        // no change now
  MergeDiscoveryAnswer(adapter, Answer(7, "192.168.1.21", MacAddress{}), 8, 0x10);  // MAC unknown
  ASSERT_EQ(adapter.nodes.size(), 1u);
  EXPECT_EQ(adapter.nodes[0]->mac, kMacB);
  EXPECT_EQ(log.CountContaining("MAC addr. has changed"), 1u);
  EXPECT_EQ(
      log.CountContaining("!!!!! Node SN: 7, MAC addr. has changed to: 00:50:C2:00:00:0B !?!"), 1u);
}

// ---- look-ups ----

TEST(Inventory, FindNodeByMacFallsBackToTheAdapterWithMostNodes) {
  fixtures::ScopedTempLog log;
  CMRegApp app;
  AdapterPtr found;
  int index = 7;
  EXPECT_EQ(app.FindNodeByMac(kMacA, &index, &found), nullptr);
  EXPECT_EQ(found, nullptr);  // no adapters at all

  auto make = [&](const char* name, int nodes) {
    auto adapter = std::make_shared<CNAdapter>();
    adapter->name = name;
    for (int i = 0; i < nodes; ++i) {
      MacAddress mac{2, 0, 0, 0, static_cast<uint8_t>(name[0]), static_cast<uint8_t>(i)};
      adapter->nodes.push_back(Answer(1000 + i, "192.168.1.50", mac));
    }
    app.adapters.push_back(adapter);
    return adapter;
  };
  make("eth0", 1);
  AdapterPtr busiest = make("eth1", 3);
  make("eth2", 3);  // a tie goes to the first
  EXPECT_EQ(app.FindNodeByMac(kMacA, &index, &found), nullptr);
  EXPECT_EQ(found, busiest);
  EXPECT_EQ(index, -1);

  const MacAddress known{2, 0, 0, 0, 'e', 2};  // eth0 has only index 0: found in eth1 first
  NodePtr node = app.FindNodeByMac(known, &index, &found);
  ASSERT_TRUE(node);
  EXPECT_EQ(found, busiest);
  EXPECT_EQ(index, 2);
}

TEST(Inventory, LookUpsByNameSerialAndAddress) {
  CMRegApp app;
  auto adapter = std::make_shared<CNAdapter>();
  adapter->name = "eth1";
  adapter->nodes = {Answer(5, "192.168.1.21", kMacA), Answer(6, "192.168.1.22", kMacB)};
  app.adapters.push_back(adapter);
  EXPECT_EQ(app.FindAdapterByName(""), nullptr);
  EXPECT_EQ(app.FindAdapterByName("eth1"), adapter);

  int index = 0;
  EXPECT_EQ(app.FindNodeBySerial(6, &index), nullptr);  // nothing selected
  EXPECT_EQ(index, -1);
  app.SetSelectedAdapter("eth1");
  EXPECT_EQ(app.FindNodeBySerial(6, &index), adapter->nodes[1]);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(adapter->FindNodeBySerial(5, &index, true), adapter->nodes[0]);

  EXPECT_EQ(FindNodeByIp("", &index, adapter->nodes), nullptr);
  EXPECT_EQ(FindNodeByIp("192.168.1.22", &index, adapter->nodes), adapter->nodes[1]);
  EXPECT_EQ(FindNodeByMacIn(kMacA, &index, adapter->nodes), adapter->nodes[0]);
  EXPECT_EQ(index, 0);
}

// ---- addresses and order ----

TEST(ParseAddressTest, AcceptsDottedTextsAndRefusesWhatWouldWrap) {
  struct Case {
    const char* text;
    bool ok;
    std::array<uint8_t, 4> bytes;
  };
  const Case cases[] = {
      {"192.168.202.20", true, {192, 168, 202, 20}},
      {"10.0.1", true, {10, 0, 1, 1}},
      {"10.5", true, {10, 5, 5, 5}},
      {"7", true, {7, 7, 7, 7}},
      {"0.0.0.0", true, {0, 0, 0, 0}},
      {"255.255.255.255", true, {255, 255, 255, 255}},
      {"192.168.1.256", false, {}},
      {"300.1.1.1", false, {}},
      {"1.2.3.4.5", false, {}},
      {"1..3.4", false, {}},
      {"1.2.3.", false, {}},
      {"", false, {}},
      {"a.b.c.d", false, {}},
      {"1.2.3.4x", false, {}},
      {"-1.2.3.4", false, {}},
      {" 1.2.3.4", false, {}},
      {"0001.2.3.4", false, {}},
  };
  for (const Case& c : cases) {
    std::array<uint8_t, 4> bytes{};
    EXPECT_EQ(ParseAddress(c.text, bytes), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(bytes, c.bytes) << c.text;
    }
  }
  uint32_t address = 0;
  ASSERT_TRUE(ParseAddress("192.168.1.2", &address));
  EXPECT_EQ(ntohl(address), 0xC0A80102u);
}

TEST(SortNodesTest, OrdersByNumericAddressThenSerial) {
  NodeList nodes = {Answer(30, "192.168.1.10", kMacA), Answer(20, "192.168.1.9", kMacA),
                    Answer(12, "192.168.1.9", kMacA), Answer(1, "192.168.2.1", kMacA),
                    Answer(5, "10.0.0.200", kMacA)};
  SortNodes(nodes);
  std::vector<uint32_t> serials;
  for (const auto& node : nodes) serials.push_back(node->serialNumber);
  EXPECT_EQ(serials, (std::vector<uint32_t>{5, 12, 20, 30, 1}));
}

// ---- bookkeeping of a discovery ----

class BookkeepingTest : public ::testing::Test {
 protected:
  fixtures::ScopedTempLog log;
  CMRegApp app;
  CAdapterInfo info = [] {
    CAdapterInfo i;
    i.valid = 1;
    i.addressText = "192.168.202.10";
    return i;
  }();
  platform::CaptureDevice device{"veth0", "veth0 192.168.202.10", 0};

  // One run over one adapter with the given answering serials.
  AdapterPtr Run(const std::string& name, bool full, std::vector<uint32_t> serials) {
    AdapterPtr adapter = app.BeginAdapterDiscovery(name, full);
    app.RefreshAdapterIdentity(*adapter, kMacA, name, name + " 192.168.202.10");
    for (uint32_t serial : serials) {
      MergeDiscoveryAnswer(*adapter, Answer(serial, "192.168.202.21", kMacB), 20, 0x10);
    }
    app.EndAdapterDiscovery(adapter, info, device);
    return adapter;
  }
};

TEST_F(BookkeepingTest, NewAdapterJoinsOnlyWithNodes) {
  Run("veth0", true, {});
  EXPECT_TRUE(app.AdaptersSnapshot().empty());
  AdapterPtr adapter = Run("veth0", true, {1, 2});
  ASSERT_EQ(app.AdaptersSnapshot().size(), 1u);
  EXPECT_EQ(adapter->isNew, 1u);
  EXPECT_EQ(adapter->newNodes, 2);
  EXPECT_EQ(adapter->macText, "00:50:C2:00:00:0A");
  EXPECT_EQ(adapter->description, "veth0 192.168.202.10");
  EXPECT_EQ(adapter->info.addressText, "192.168.202.10");
  ASSERT_TRUE(adapter->captureDevice);
  EXPECT_EQ(adapter->captureDevice->name, "veth0");
}

TEST_F(BookkeepingTest, SelectedAdapterRunDropsOnlyNodesThatDidNotAnswer) {
  AdapterPtr adapter = Run("veth0", true, {1, 2, 3});
  NodePtr kept = adapter->nodes[0];
  NodePtr lost = adapter->nodes[1];
  EXPECT_EQ(Run("veth0", false, {1, 3, 4}), adapter);
  EXPECT_EQ(adapter->isNew, 0u);
  EXPECT_EQ(adapter->newNodes, 1);
  EXPECT_EQ(adapter->lostNodes, 1);
  ASSERT_EQ(adapter->nodes.size(), 3u);
  EXPECT_EQ(adapter->nodes[0], kept);  // the same record, merged in place
  EXPECT_EQ(FindNodeBySerial(2, nullptr, adapter->nodes), nullptr);
  // A screen that held the lost node still has a valid record.
  EXPECT_EQ(lost->serialNumber, 2u);
}

TEST_F(BookkeepingTest, FullRunRemovesUnconfirmedAdaptersAndTheirSelection) {
  Run("veth0", true, {1});
  AdapterPtr second = Run("veth1", true, {2, 3});
  app.SetSelectedAdapter("veth1");
  NodePtr held = second->nodes[0];

  app.MarkAdaptersUnconfirmed();
  AdapterPtr first = Run("veth0", true, {1});  // veth1 is not met in this run
  EXPECT_EQ(first->unconfirmed, 0u);
  EXPECT_EQ(second->unconfirmed, 1u);
  EXPECT_TRUE(app.RemoveUnconfirmedAdapters());
  EXPECT_EQ(app.SelectedAdapterName(), "");
  ASSERT_EQ(app.AdaptersSnapshot().size(), 1u);
  EXPECT_EQ(app.AdaptersSnapshot()[0], first);
  EXPECT_EQ(second->lostNodes, 2);
  EXPECT_TRUE(second->nodes.empty());
  EXPECT_EQ(held->serialNumber, 2u);

  app.MarkAdaptersUnconfirmed();
  Run("veth0", true, {1});
  EXPECT_FALSE(app.RemoveUnconfirmedAdapters());
}

TEST_F(BookkeepingTest, FreeInventoryEmptiesEveryAdapter) {
  AdapterPtr a = Run("veth0", true, {1, 2});
  AdapterPtr b = Run("veth1", true, {3});
  app.FreeInventory();
  EXPECT_TRUE(app.AdaptersSnapshot().empty());
  EXPECT_EQ(a->lostNodes, 2);
  EXPECT_EQ(b->lostNodes, 1);
  EXPECT_EQ(a->newNodes, 0);
  EXPECT_TRUE(a->nodes.empty());
}

TEST_F(BookkeepingTest, ReadersWalkingNodesDuringFullDiscoveriesSeeWholeRecords) {
  Run("veth0", true, {1, 2, 3});
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop) {
      AdapterPtr adapter = app.FindAdapterByName("veth0");
      if (!adapter) continue;
      std::lock_guard guard(adapter->lock);
      for (const auto& node : adapter->nodes) ASSERT_EQ(node->ipText, "192.168.202.21");
    }
  });
  for (int i = 0; i < 200; ++i) {
    app.MarkAdaptersUnconfirmed();
    Run("veth0", true, {1, 2, 3});
    app.RemoveUnconfirmedAdapters();
  }
  stop = true;
  reader.join();
}

// ---- start and end of a run ----

TEST(MRegAppRun, WorkingFolderKeepsOneTrailingSlash) {
  EXPECT_EQ(CMRegApp::WorkingFolderText("/"), "/");
  EXPECT_EQ(CMRegApp::WorkingFolderText("/home/user"), "/home/user/");
  EXPECT_EQ(CMRegApp::WorkingFolderText("/home/user/"), "/home/user/");
}

TEST(MRegAppRun, StartAndEndWriteTheirLinesAndStopWorkersBeforeTheBanner) {
  fixtures::ScopedTempLog log;
  CMRegApp app;
  app.StartSequence();
  char cwd[4096];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd));
  EXPECT_EQ(app.workingFolder, CMRegApp::WorkingFolderText(cwd));

  auto adapter = std::make_shared<CNAdapter>();
  adapter->name = "veth0";
  adapter->nodes.push_back(Answer(1, "192.168.202.21", kMacA));
  app.adapters.push_back(adapter);

  // A worker that walks the inventory until told to stop.
  std::atomic<bool> stop{false};
  std::atomic<size_t> seenAdapters{0};
  std::thread worker([&] {
    do {
      seenAdapters = app.AdaptersSnapshot().size();
    } while (!stop);
    LogInfo("worker ended with %zu adapters", seenAdapters.load());
  });
  std::vector<int> order;
  app.RegisterWorker([&] {
    order.push_back(1);
    stop = true;
    worker.join();
  });
  const int gone = app.RegisterWorker([&] { order.push_back(2); });
  app.UnregisterWorker(gone);
  app.RegisterWorker([&] { order.push_back(3); });

  app.EndSequence();
  app.EndSequence();  // only the first call acts
  EXPECT_EQ(order, (std::vector<int>{3, 1}));
  EXPECT_TRUE(app.AdaptersSnapshot().empty());
  EXPECT_EQ(adapter->lostNodes, 1);

  const std::string text = log.Contents();
  EXPECT_EQ(log.Messages(),
            (std::vector<std::string>{"Staring Quillmar...", "worker ended with 1 adapters"}));
  const std::string bannerStart = "-------------------------------------\r\n<<<< Exit Quillmar at ";
  const size_t at = text.find(bannerStart);
  ASSERT_NE(at, std::string::npos);
  const std::string tail = text.substr(at + bannerStart.size());
  ASSERT_EQ(tail.size(), 8u + 6u);  // "HH:MM:SS>>>>\r\n", the last bytes of the file
  EXPECT_EQ(tail.substr(8), ">>>>\r\n");
  // The log was closed: the next line reopens the same file.
  LogInfo("after");
  EXPECT_EQ(log.Messages().back(), "after");
}

TEST(MRegAppRun, ExitBannerUsesLocalHoursMinutesSeconds) {
  setenv("TZ", "UTC", 1);
  tzset();
  tm t{};
  t.tm_year = 126;
  t.tm_mon = 0;
  t.tm_mday = 2;
  t.tm_hour = 7;
  t.tm_min = 8;
  t.tm_sec = 9;
  EXPECT_EQ(CMRegApp::ExitBanner(std::chrono::system_clock::from_time_t(timegm(&t))),
            "-------------------------------------\n<<<< Exit Quillmar at 07:08:09>>>>\n");
}

}  // namespace
