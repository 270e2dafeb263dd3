// The node screen's controller and worker against a simulated module (FakeNodeLink).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "base/prompt.h"
#include "fixtures/fake_node_link.h"
#include "fixtures/temp_log.h"
#include "params/node_screen_controller.h"
#include "params/node_screen_worker.h"
#include "params/register_map.h"
#include "params/units.h"
#include "platform/profile.h"

namespace {

using fixtures::FakeModule;
using fixtures::FakeNodeLink;
using params::NodeScreenController;
using params::Side;
namespace item = params::item;

constexpr const char* kNodeRefusal =
    "Falsche Module Nummer. Nur Nummern von 1 bis 236 sind gültig.";

class NodeScreenTest : public ::testing::Test {
 protected:
  void SetUp() override { module = fixtures::Family09Module(); }

  NodeScreenController& Controller() {
    if (!controller) {
      controller = std::make_unique<NodeScreenController>(std::make_unique<FakeNodeLink>(module),
                                                          prompt, profile);
      controller->Start();
    }
    return *controller;
  }

  // Connects to `node` as the Refresh button does and forgets the traffic so far.
  void ConnectTo(const std::string& node) {
    Controller().SetFromText(node);
    Controller().ChangeNode(0);
    ASSERT_TRUE(Controller().Connected()) << ::testing::PrintToString(prompt.Texts());
    module.ops.clear();
  }

  // The register reads of the traffic so far ("read F+C"), in order.
  std::vector<std::string> Reads() const {
    std::vector<std::string> reads;
    for (const auto& op : module.ops)
      if (op.rfind("read ", 0) == 0) reads.push_back(op);
    return reads;
  }

  std::vector<std::string> Writes() const {
    std::vector<std::string> writes;
    for (const auto& op : module.ops)
      if (op.rfind("write", 0) == 0 || op.rfind("save", 0) == 0) writes.push_back(op);
    return writes;
  }

  const params::ItemView& Shown(int id, Side side = Side::A) {
    return Controller().View().items[static_cast<size_t>(id)].view[static_cast<size_t>(side)];
  }

  FakeModule module;
  base::ScriptedPrompt prompt;
  platform::MemoryProfileStore profile;
  std::unique_ptr<NodeScreenController> controller;
};

TEST_F(NodeScreenTest, RefreshConnectsToTheNodeAndReadsEveryGroupOnce) {
  profile.SetString("Settings", "Default Net", "10.4.7.20");
  Controller().SetFromText("");  // an empty From field means node 1
  Controller().ChangeNode(0);

  ASSERT_TRUE(Controller().Connected());
  EXPECT_EQ(Controller().Node(), 1);
  EXPECT_EQ(module.ops,
            (std::vector<std::string>{
                "flush",       "connect 10.4.7.20", "read 17+20",  "read 40+25",   "read 362+24",
                "sleep 50",    "read 490+20",       "read 507+5",  "read 10002+1", "read 64+25",
                "read 362+24", "sleep 50",          "read 490+20", "read 507+5",   "read 10102+1",
                "sleep 50",    "read 254+1",        "read 90+28",  "read 170+28",  "read 6+7"}));
  EXPECT_EQ(module.pings, 1 + 15);  // the connect, then every block read
  EXPECT_TRUE(Controller().TimerRunning());
  EXPECT_FALSE(Controller().FullReadPending());

  const auto& view = Controller().View();
  EXPECT_EQ(view.title,
            "Quillmar Version 0.1 (Deutsch)                  Angezeigte Moduladresse: 10.4.7.20");
  EXPECT_EQ(view.fromText, "1");
  EXPECT_EQ(Shown(item::kSpeed, Side::A).text, "0.800");
  EXPECT_EQ(Shown(item::kDriveType, Side::B).text, "Oskarn-Ux ECO");
  EXPECT_EQ(Shown(item::kFirmware).text, "4.14.2");
  EXPECT_EQ(Shown(item::kSerialNumber).text, "3100101");
  EXPECT_EQ(Shown(item::kModuleTemperature, Side::B).text, "31");
  EXPECT_EQ(Shown(item::kZpaMode, Side::A).text, "Einzelabzug");
  EXPECT_EQ(Shown(item::kZpaMode, Side::B).text, "Blocklückenabzug");
  EXPECT_TRUE(view.picture.connected);
  EXPECT_TRUE(prompt.Texts().empty());
}

TEST_F(NodeScreenTest, RotatingPassesReadOneGroupThenGroupsFiveAndEight) {
  for (uint16_t family : {0x09, 0x02}) {
    SCOPED_TRACE(family);
    controller.reset();
    module.registers[17] = static_cast<uint16_t>(family << 8 | 1);
    ConnectTo("1");
    std::vector<std::string> firstReads;
    for (int pass = 0; pass < 5; ++pass) {
      module.ops.clear();
      Controller().OnTimer();
      ASSERT_TRUE(Controller().TimerRunning());
      const auto reads = Reads();
      ASSERT_GE(reads.size(), 3u);
      firstReads.push_back(reads.front());
      EXPECT_EQ(reads[reads.size() - 2], "read 17+20");
      EXPECT_EQ(reads.back(), "read 279+16");
      EXPECT_EQ(module.ops.back(), "sleep 50");
    }
    if (family == 0x09) {
      EXPECT_EQ(firstReads, (std::vector<std::string>{"read 40+25", "read 64+25", "read 90+28",
                                                      "read 170+28", "read 40+25"}));
    } else {  // the drive controller has no downstream zone group in the rotation
      EXPECT_EQ(firstReads, (std::vector<std::string>{"read 40+25", "read 64+25", "read 90+28",
                                                      "read 40+25", "read 64+25"}));
    }
  }
}

TEST_F(NodeScreenTest, NodeNumbersOutsideOneTo236AreRefusedBeforeAnyTraffic) {
  struct Case {
    const char* from;
    int delta;
  };
  for (const Case& c :
       {Case{"237", 0}, Case{"0", 0}, Case{"236", 1}, Case{"1", -1}, Case{"-4", 0},
        Case{"4294967297", 0}, Case{"-4294967295", 0}}) {  // 2^32 + 1 and its negative wrap to 1
    SCOPED_TRACE(std::string(c.from) + " " + std::to_string(c.delta));
    const size_t shownBefore = prompt.Texts().size();
    Controller().SetFromText(c.from);
    Controller().ChangeNode(c.delta);
    ASSERT_EQ(prompt.Texts().size(), shownBefore + 1);
    EXPECT_EQ(prompt.Texts().back(), kNodeRefusal);
    EXPECT_FALSE(Controller().Connected());
    EXPECT_EQ(module.flushes, 0);
    EXPECT_TRUE(module.connects.empty());
  }
  // Node 236 is the last address byte 255.
  Controller().SetFromText("236");
  Controller().ChangeNode(0);
  EXPECT_EQ(module.connects, (std::vector<std::string>{"192.168.202.255"}));
}

TEST_F(NodeScreenTest, StartAddressSelectsNetworkAndNode) {
  controller = std::make_unique<NodeScreenController>(std::make_unique<FakeNodeLink>(module),
                                                      prompt, profile);
  controller->Start("10.1.2.27");
  EXPECT_TRUE(controller->Connected());
  EXPECT_EQ(controller->Node(), 8);
  EXPECT_EQ(controller->View().fromText, "8");
  EXPECT_EQ(controller->View().networkText, "10.1.2.27");
  EXPECT_EQ(module.connects, std::vector<std::string>{"10.1.2.27"});
}

TEST_F(NodeScreenTest, ArrowKeysStayInsideTheNodeRange) {
  ConnectTo("236");
  Controller().NextNode();  // already the last node: nothing happens
  EXPECT_TRUE(module.ops.empty());
  Controller().PreviousNode();
  EXPECT_EQ(Controller().Node(), 235);
  EXPECT_EQ(module.connects.back(), "192.168.202.254");
  EXPECT_TRUE(prompt.Texts().empty());
}

TEST_F(NodeScreenTest, FailedPingOrConnectLeavesTheScreenDisconnectedWithTheText) {
  const std::string expected = "Verbindung zu Modul IP 7 (IP: \"192.168.202.26\") nicht möglich.";
  module.answersPing = false;
  Controller().SetFromText("7");
  Controller().ChangeNode(0);
  EXPECT_EQ(module.pings, 3);
  EXPECT_TRUE(module.connects.empty());
  EXPECT_FALSE(Controller().Connected());
  EXPECT_FALSE(Controller().TimerRunning());
  EXPECT_EQ(prompt.Texts(), std::vector<std::string>{expected});

  module.answersPing = true;
  module.acceptsConnect = false;
  Controller().ChangeNode(0);
  EXPECT_EQ(module.connects.size(), 1u);
  EXPECT_FALSE(Controller().Connected());
  EXPECT_EQ(prompt.Texts(), (std::vector<std::string>{expected, expected}));
  EXPECT_EQ(Controller().View().title, "Quillmar Version 0.1 (Deutsch)");
}

TEST_F(NodeScreenTest, SlowNeighbourFlushIsLogged) {
  fixtures::ScopedTempLog log;
  module.flushMs = 2001;
  ConnectTo("1");
  EXPECT_EQ(log.CountContaining("Clearing ARP table was took 2001 ms.!?!"), 1u);
  module.flushMs = 2000;
  ConnectTo("1");
  EXPECT_EQ(log.CountContaining("Clearing ARP table was took"), 1u);
}

TEST_F(NodeScreenTest, ReadErrorEndsTheCycleAndRefreshStartsOverWithAFullRead) {
  ConnectTo("1");
  module.failingReads = {64};
  Controller().OnTimer();  // group 1: fine
  ASSERT_TRUE(Controller().TimerRunning());
  Controller().OnTimer();  // group 2 fails
  EXPECT_FALSE(Controller().TimerRunning());
  EXPECT_EQ(Controller().View().errorText, "Read Reg Group 2 Error");
  EXPECT_TRUE(Controller().Connected());

  module.failingReads.clear();
  module.ops.clear();
  Controller().ChangeNode(0);
  EXPECT_TRUE(Controller().TimerRunning());
  const auto reads = Reads();
  ASSERT_FALSE(reads.empty());
  EXPECT_EQ(reads.front(), "read 17+20");
  EXPECT_EQ(reads.back(), "read 6+7");
  EXPECT_EQ(Controller().View().errorText, "");
}

TEST_F(NodeScreenTest, FailureTextsOfEachReadOfTheRefresh) {
  struct Case {
    int failingRead;
    bool fullRead;
    const char* text;
  };
  for (const Case& c :
       {Case{17, true, "Read Reg Group 5 Error"}, Case{90, true, "Read Reg Group 3 Error"},
        Case{6, true, "Read Reg [6] - [12]"}, Case{254, true, "Read Reg [254]"},
        Case{17, false, "Read Reg Group 5"}, Case{279, false, "Read Reg Group 8"}}) {
    SCOPED_TRACE(c.text);
    ConnectTo("1");
    module.failingReads = {c.failingRead};
    if (c.fullRead) Controller().RequestFullRead();
    Controller().OnTimer();
    EXPECT_EQ(Controller().View().errorText, c.text);
    EXPECT_FALSE(Controller().TimerRunning());
    module.failingReads.clear();
  }
}

TEST_F(NodeScreenTest, AnswerOfAnotherRequestIsAReadErrorAndNeverReachesTheImage) {
  // The register client returns 0 without throwing when the answer carries another
  // transaction id; its words must not be shown as the module's.
  ConnectTo("1");
  const uint16_t speedBefore = Controller().Image().Get(64);
  module.strayAnswerReads = {64};
  Controller().OnTimer();  // group 1: fine
  ASSERT_TRUE(Controller().TimerRunning());
  Controller().OnTimer();  // group 2 gets the stray answer
  EXPECT_FALSE(Controller().TimerRunning());
  EXPECT_EQ(Controller().View().errorText, "Read Reg Group 2 Error");
  EXPECT_EQ(Controller().Image().Get(64), speedBefore);
  EXPECT_NE(Controller().Image().Get(64), 0xDEAD);

  // A single read before a write (Blink reads 19 first): nothing is written from it.
  module.strayAnswerReads = {19};
  module.registers[19] = 0x1000;
  module.ops.clear();
  Controller().Toggle(item::kBlink, Side::A);
  EXPECT_EQ(module.ops, (std::vector<std::string>{"read 19+1"}));
  EXPECT_NE(Controller().Image().Get(19), 0xDEAD);
}

TEST_F(NodeScreenTest, ModuleThatStopsAnsweringPingsIsShownDisconnected) {
  ConnectTo("1");
  module.answersPing = false;
  Controller().OnTimer();
  EXPECT_FALSE(Controller().Connected());
  EXPECT_FALSE(Controller().TimerRunning());
  EXPECT_EQ(Controller().View().errorText, "Read Reg Group 1 Error");
  EXPECT_EQ(Shown(item::kSpeed).text, "");
  EXPECT_EQ(Shown(item::kFirmware).text, "");
  EXPECT_FALSE(Controller().View().picture.connected);
  // Only the three pings of the one read: no traffic after the screen went disconnected.
  EXPECT_EQ(Reads().size(), 0u);
}

TEST_F(NodeScreenTest, SpeedIsWrittenAndSavedInRegisterUnitsOrRefusedWithItsMessage) {
  ConnectTo("1");
  Controller().ApplyEdit(item::kSpeed, Side::B, "0.5");
  EXPECT_EQ(Writes(), std::vector<std::string>{"save 64=500"});
  EXPECT_EQ(module.registers[64], 500);
  EXPECT_EQ(module.saves, 1);
  EXPECT_EQ(Controller().RotatingGroup(), 2);  // the right drive's group is read next
  EXPECT_EQ(Shown(item::kSpeed, Side::B).text, "0.500");

  module.ops.clear();
  Controller().ApplyEdit(item::kSpeed, Side::A, "0.0149");
  EXPECT_TRUE(module.ops.empty());
  EXPECT_EQ(prompt.Texts(),
            std::vector<std::string>{
                "Ungültige Geschwindigkeit. Es sind nur Werte von 0.015 bis 6.20 m/s gültig."});
  EXPECT_EQ(module.registers[40], 800);

  // The German decimal comma is the decimal point.
  module.ops.clear();
  Controller().ApplyEdit(item::kSpeed, Side::A, "0,75");
  EXPECT_EQ(Writes(), std::vector<std::string>{"save 40=750"});
  EXPECT_EQ(module.registers[40], 750);
}

TEST_F(NodeScreenTest, MirroredModuleExchangesSidesExceptZoneBlockReads) {
  module.registers[6] = 0x0094;
  ConnectTo("1");  // the first full read learns register 6
  Controller().ChangeNode(0);
  const auto reads = Reads();
  ASSERT_GE(reads.size(), 12u);
  EXPECT_EQ(reads[1], "read 64+25");  // group 1 (left drive) comes from the right block
  EXPECT_NE(std::find(reads.begin(), reads.end(), "read 90+28"), reads.end());
  EXPECT_NE(std::find(reads.begin(), reads.end(), "read 170+28"), reads.end());
  module.ops.clear();
  Controller().ApplyEdit(item::kSpeed, Side::A, "0.5");
  EXPECT_EQ(Writes(), std::vector<std::string>{"save 64=500"});
  EXPECT_EQ(Shown(item::kSpeed, Side::A).text, "0.500");
}

TEST_F(NodeScreenTest, DirectionIsExchangedByRegister96ReadJustBefore) {
  struct Case {
    uint16_t reg96, reg6;
    int entry;
    const char* saved;
  };
  for (const Case& c : {Case{0, 0x90, 0, "save 48=1"}, Case{1, 0x90, 0, "save 48=0"},
                        Case{1, 0x90, 1, "save 48=1"}, Case{0, 0x94, 0, "save 72=0"}}) {
    SCOPED_TRACE(c.saved);
    module.registers[6] = c.reg6;
    ConnectTo("1");
    Controller().RequestFullRead();
    Controller().OnTimer();          // learn register 6
    module.registers[96] = c.reg96;  // changed behind the screen's back
    module.ops.clear();
    Controller().ApplyList(item::kDirection, Side::A, c.entry);
    ASSERT_GE(module.ops.size(), 3u);
    EXPECT_EQ(module.ops[0], "read 96+1");
    EXPECT_EQ(module.ops[1], "read 6+1");
    EXPECT_EQ(module.ops[2], c.saved);
  }
}

TEST_F(NodeScreenTest, ZpaGapTrainReadsTheGapTimerAndSetsItWhenZero) {
  ConnectTo("1");
  module.registers[103] = 0;
  Controller().ApplyList(item::kZpaMode, Side::A, 2);
  EXPECT_EQ(module.ops, (std::vector<std::string>{"read 103+1", "save 103=1000", "save 91=2"}));
  EXPECT_EQ(Shown(item::kZpaMode).listIndex, 2);
  EXPECT_TRUE(Shown(item::kGapTimer).enabled);
  module.ops.clear();
  Controller().ApplyList(item::kZpaMode, Side::A, 0);
  EXPECT_EQ(module.ops, (std::vector<std::string>{"save 91=1"}));
  EXPECT_FALSE(Shown(item::kGapTimer).enabled);
}

// Module 5 runs GAP train (mode 2, GAP 1.5 s); module 6 block train (mode 2, GAP 0). What was
// shown for module 5 must not turn module 6 into GAP train.
TEST_F(NodeScreenTest, ZpaEntryOfOneModuleIsNotCarriedToTheNext) {
  module.registers[91] = 2;
  module.registers[103] = 1500;
  ConnectTo("5");
  EXPECT_EQ(Shown(item::kZpaMode).text, "Blocklückenabzug");
  EXPECT_TRUE(Shown(item::kGapTimer).enabled);
  module.registers[103] = 0;  // the next node's module
  Controller().NextNode();
  ASSERT_EQ(Controller().Node(), 6);
  EXPECT_EQ(Shown(item::kZpaMode).text, "Blockabzug");
  EXPECT_FALSE(Shown(item::kGapTimer).enabled);
  // The user's own choice is kept for the module it was made on.
  module.ops.clear();
  Controller().ApplyList(item::kZpaMode, Side::A, 2);
  EXPECT_EQ(Shown(item::kZpaMode).text, "Blocklückenabzug");
}

// After seven failed extended reads on one module the next module was shown, and written, with
// the first one's speed unit: m/s against RPM is a factor of 100.
TEST_F(NodeScreenTest, NextModuleIsReadWholeAfterExtendedReadsFailedOnThePrevious) {
  module.failingReads = {362};  // the extended block of this module never answers
  ConnectTo("1");
  for (int pass = 0; pass < 16; ++pass) Controller().OnTimer();  // groups 1 and 2 try again
  EXPECT_GE(Controller().ExtendedReadFailures(), params::RegisterMap::kExtendedFailureLimit);
  EXPECT_EQ(Shown(item::kSpeed).text, "0.800");  // m/s

  module.failingReads.clear();  // node 2: a module with an RPM drive
  module.registers[10002] = 1;
  Controller().NextNode();
  ASSERT_TRUE(Controller().Connected());
  EXPECT_EQ(Controller().ExtendedReadFailures(), 0);
  EXPECT_EQ(Shown(item::kSpeed).text, "80.0");  // RPM
  module.ops.clear();
  Controller().ApplyEdit(item::kSpeed, Side::A, "100");
  EXPECT_EQ(Writes(), std::vector<std::string>{"save 40=1000"});
}

TEST_F(NodeScreenTest, TogglesWriteWithoutSaving) {
  ConnectTo("1");
  module.registers[19] = 0x1000;
  Controller().Toggle(item::kBlink, Side::A);
  EXPECT_EQ(module.ops, (std::vector<std::string>{"read 19+1", "write 19=4097"}));
  module.ops.clear();
  Controller().Toggle(item::kJamClear, Side::B);
  EXPECT_EQ(module.ops, (std::vector<std::string>{"write 189=1", "sleep 50", "read 188+1"}));
  EXPECT_EQ(module.saves, 0);
}

TEST_F(NodeScreenTest, EditsWhileDisconnectedSendNothing) {
  Controller().ApplyEdit(item::kSpeed, Side::A, "0.5");
  Controller().ApplyList(item::kDriveType, Side::A, 1);
  Controller().Toggle(item::kBlink, Side::A);
  EXPECT_TRUE(module.ops.empty());
  EXPECT_TRUE(prompt.Texts().empty());
}

TEST_F(NodeScreenTest, DisconnectedScreenShowsTheDriveFamilyLayoutEmpty) {
  module.registers[490] = 26;  // a drive with a current limit
  ConnectTo("1");
  EXPECT_TRUE(Controller().View().items[item::kCurrentLimit].shown[0]);
  module.ops.clear();
  Controller().EnterDisconnected();
  const auto& view = Controller().View();
  EXPECT_FALSE(view.connected);
  EXPECT_EQ(module.ops, std::vector<std::string>{"disconnect"});
  EXPECT_TRUE(view.items[item::kSpeed].shown[0]);
  EXPECT_TRUE(view.items[item::kRealSpeed].shown[1]);  // family 0x09 layout
  EXPECT_FALSE(view.items[item::kCurrentLimit].shown[0]);
  for (const auto& screen : view.items) {
    EXPECT_EQ(screen.view[0].text, "");
    EXPECT_EQ(screen.view[1].text, "");
  }
  EXPECT_FALSE(view.linkShown);
  EXPECT_FALSE(view.diagnosticLogButton);
  EXPECT_EQ(Controller().Image().Get(507), 0);
}

TEST_F(NodeScreenTest, PlcStatusTextFollowsRegisters12And254) {
  module.registers[12] = 0x0201;
  module.registers[254] = 0;
  module.registers[17] = 0x0C01;
  ConnectTo("1");
  EXPECT_EQ(Controller().View().statusText,
            "Das Modul wartet auf Verbindung und Konfiguration von der SPS.");
}

// ---- the worker -------------------------------------------------------------------------

// Waits (bounded) until `done` holds, checking after each view the worker publishes.
class ViewWaiter {
 public:
  void Notify(const params::NodeScreenView& view) {
    std::lock_guard<std::mutex> lock(mutex_);
    last_ = view.passes;
    changed_.notify_all();
  }
  bool WaitForPasses(uint64_t passes) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return last_ >= passes; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t last_ = 0;
};

TEST_F(NodeScreenTest, WorkerCyclesUntilAReadFailsAndNeverOverlapsTraffic) {
  ViewWaiter waiter;
  FakeNodeLink::Overlapped() = false;
  auto* c = &Controller();
  params::NodeScreenWorker worker(
      *c, [&](const params::NodeScreenView& v) { waiter.Notify(v); }, 5);
  worker.Post([](NodeScreenController& screen) {
    screen.SetFromText("3");
    screen.ChangeNode(0);
  });
  ASSERT_TRUE(waiter.WaitForPasses(6));  // the change of node's pass and five timed passes
  // Edits posted while the cycle runs are done between passes.
  for (int i = 0; i < 20; ++i) {
    worker.Post(
        [](NodeScreenController& screen) { screen.ApplyEdit(item::kSpeed, Side::A, "1.5"); });
  }
  worker.Post([this](NodeScreenController&) { module.failingReads = {17}; });
  worker.WaitIdle();
  bool running = true;
  uint64_t passes = 0;
  worker.Post([&](NodeScreenController& screen) {
    running = screen.TimerRunning();
    passes = screen.View().passes;
  });
  worker.WaitIdle();
  // The failing pass may still have been due when the fault was set; after it, no timer.
  uint64_t posted = 23;
  if (running) {
    ++posted;
    ASSERT_TRUE(waiter.WaitForPasses(passes + 1));
    worker.Post([&](NodeScreenController& screen) { running = screen.TimerRunning(); });
    worker.WaitIdle();
  }
  EXPECT_FALSE(running);
  worker.Stop();
  EXPECT_FALSE(FakeNodeLink::Overlapped().load());
  EXPECT_EQ(module.registers[40], 1500);
  EXPECT_EQ(module.saves, 20);
  EXPECT_EQ(worker.JobsRun(), posted);
}

TEST_F(NodeScreenTest, WorkerStartsTheNextPassOneCycleAfterThePreviousEnded) {
  // Each read takes real time, so a pass lasts clearly longer than the clock's millisecond.
  module.readDelayMs = 2;
  // The reads done when each pass's view came out: the view follows the pass's last read on
  // the worker's thread, so this marks where one pass's reads end and the next one's begin.
  std::vector<size_t> readsAtPassEnd;
  uint64_t passesSeen = 0;
  ViewWaiter waiter;
  auto* c = &Controller();
  {
    params::NodeScreenWorker worker(
        *c,
        [&](const params::NodeScreenView& v) {
          if (v.passes != passesSeen) {
            passesSeen = v.passes;
            readsAtPassEnd.push_back(module.readTimes.size());
          }
          waiter.Notify(v);
        },
        40);
    worker.Post([](NodeScreenController& screen) { screen.ChangeNode(0); });
    ASSERT_TRUE(waiter.WaitForPasses(4));
  }
  // From the end of a pass's last read to the start of the next pass's first read: at least
  // the cycle (less the clock's millisecond). A cycle counted from the pass's start would leave
  // 40 ms less the pass's own reads (three of at least 2 ms each).
  ASSERT_GE(readsAtPassEnd.size(), 4u);
  for (size_t i = 1; i < 4; ++i) {
    const size_t firstOfNext = readsAtPassEnd[i - 1];
    ASSERT_GT(readsAtPassEnd[i], firstOfNext) << "pass " << i + 1 << " read nothing";
    ASSERT_GT(firstOfNext, 0u);
    EXPECT_GE(module.readTimes[firstOfNext].first - module.readTimes[firstOfNext - 1].second,
              std::chrono::milliseconds(39))
        << "between pass " << i << " and pass " << i + 1;
  }
}

}  // namespace
