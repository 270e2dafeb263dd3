// AutoConfig, Replace and factory reset: the checks before sending, the frame, the port codes,
// the waits and the reset acknowledgement, against the fake capture and a simulated clock.
#include "topology/node_command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/prompt.h"
#include "discovery/discover_environment.h"
#include "discovery/mreg_app.h"
#include "fixtures/fake_capture.h"
#include "fixtures/temp_log.h"

namespace {

using discovery::MacBytes;
using topology::kCommandAutoConfig;
using topology::kCommandFactoryReset;
using topology::kCommandReplace;

using fakes::kPcMac;
const MacBytes kFirstMac = {0x00, 0x50, 0xC2, 0, 0, 0x21};
const MacBytes kLastMac = {0x00, 0x50, 0xC2, 0, 0, 0x29};

class RecordingWindow : public topology::NodeCommandWindow {
 public:
  void SetBusy(bool on) override { busy.push_back(on); }
  void EnableCommandButtons(bool enable) override { buttons.push_back(enable); }
  void RequestRedraw() override { ++redraws; }
  void RememberAutoConfig(uint32_t first, uint32_t last) override { remembered = {first, last}; }
  int DetermineDirection(const NodePtr&) override {
    ++directionQueries;
    return direction;
  }
  std::vector<bool> busy;
  std::vector<bool> buttons;
  int redraws = 0;
  std::pair<uint32_t, uint32_t> remembered{0, 0};
  int direction = 2;
  int directionQueries = 0;
};

class RecordingProgress : public base::Progress {
 public:
  void SetRange(int total) override { range = total; }
  void SetPosition(int done) override { positions.push_back(done); }
  void SetText(const std::string& text) override { texts.push_back(text); }
  int range = -1;
  std::vector<int> positions;
  std::vector<std::string> texts;
};

class NodeCommandTest : public ::testing::Test {
 protected:
  NodeCommandTest() : environment_(&net_), app_(&prompt_) {
    app_.SetCaptureDriver(&net_);
    net_.AddAdapter("eth-a", kPcMac, "192.168.202.10");
    fakes::FakeModule m;
    m.serialNumber = 501;
    m.ip = "192.168.202.21";
    m.mac = kFirstMac;
    m.capability = 0x30;
    m.revisionMajor = 104;
    m.revisionMinor = 16;
    net_.AddModule("eth-a", m);
    m.serialNumber = 509;
    m.ip = "192.168.202.29";
    m.mac = kLastMac;
    net_.AddModule("eth-a", m);
    EXPECT_EQ(app_.Discover(true, nullptr), 1);
    first_ = app_.FindNodeBySerial(501, nullptr);
    last_ = app_.FindNodeBySerial(509, nullptr);
    EXPECT_TRUE(first_ && last_);
    net_.ClearRecords();
  }

  // A drawing with the first module in column 5 and the last in column 10 of row 0.
  void Draw(uint32_t firstDirection, uint32_t lastDirection, bool known = true) {
    view_ = topology::DeviceArray();
    topology::CPLViewDevice a;
    a.node = first_;
    a.column = 5;
    a.direction = firstDirection;
    a.directionKnown = known ? 1 : 0;
    topology::CPLViewDevice b = a;
    b.node = last_;
    b.column = 10;
    b.direction = lastDirection;
    view_.devices.push_back(a);
    view_.devices.push_back(b);
  }

  int Run(uint16_t command, const NodePtr& first, const NodePtr& last, size_t listed = 2) {
    topology::NodeCommandContext context{app_, prompt_, progress_, window_, &view_, listed};
    return topology::RunNodeCommand(context, {command, first, last});
  }

  std::vector<std::vector<uint8_t>> SentBytes() const {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& s : net_.Sent()) out.push_back(s.bytes);
    return out;
  }

  fixtures::ScopedTempLog log_;
  fakes::FakeNetwork net_;
  discovery::ScopedDiscoverEnvironment environment_;
  base::ScriptedPrompt prompt_;
  CMRegApp app_;
  RecordingWindow window_;
  RecordingProgress progress_;
  topology::DeviceArray view_;
  NodePtr first_;
  NodePtr last_;
};

TEST(NodeCommandFrame, BytesOfTheFrame) {
  const MacAddress dest = {1, 2, 3, 4, 5, 6};
  const MacAddress last = {0xA, 0xB, 0xC, 0xD, 0xE, 0xF};
  const auto frame = topology::BuildAutoConfigFrame(kCommandReplace, dest, &last, 2, 1);
  const std::vector<uint8_t> expected = {
      1,   2,   3,   4,   5,    6,    0x00, 0x00, 0x00, 0x12, 0x34, 0x56, 0x80, 0x4B, 'T', 'r', 'e',
      'l', 'b', 'i', 'x', 0xA0, 0x42, 0x47, 0xA,  0xB,  0xC,  0xD,  0xE,  0xF,  2,    1,   0};
  EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.end()), expected);
  EXPECT_TRUE(topology::HasAutoConfigSignature(frame.data(), frame.size()));
  EXPECT_FALSE(topology::HasAutoConfigSignature(frame.data(), 32));
  auto spoilt = frame;
  spoilt[23] ^= 1;
  EXPECT_FALSE(topology::HasAutoConfigSignature(spoilt.data(), spoilt.size()));

  // Without a last module bytes 24..32 stay zero whatever codes are passed.
  const auto alone = topology::BuildAutoConfigFrame(kCommandFactoryReset, dest, nullptr, 2, 2);
  EXPECT_EQ(alone[12], 0x80);
  EXPECT_EQ(alone[13], 0x4D);
  EXPECT_TRUE(std::all_of(alone.begin() + 24, alone.end(), [](uint8_t b) { return b == 0; }));
}

TEST(NodeCommandFrame, PortCodes) {
  struct Case {
    bool reversed;
    uint32_t firstDirection, lastDirection;
    uint8_t first, last;
  };
  const Case cases[] = {
      {false, 0, 0, 1, 2}, {false, 1, 1, 2, 1}, {false, 0, 1, 1, 1},
      {true, 0, 0, 2, 1},  {true, 1, 1, 1, 2},  {true, 1, 0, 1, 1},
  };
  for (const Case& c : cases) {
    const auto codes = topology::PortCodesFor(c.reversed, c.firstDirection, c.lastDirection);
    EXPECT_EQ(codes.first, c.first) << c.reversed << c.firstDirection << c.lastDirection;
    EXPECT_EQ(codes.last, c.last) << c.reversed << c.firstDirection << c.lastDirection;
  }
}

TEST(NodeCommandFrame, WaitTable) {
  EXPECT_EQ(topology::CommandWaitMs(kCommandAutoConfig, 25, false), 41750u);
  EXPECT_EQ(topology::CommandWaitMs(kCommandAutoConfig, 25, true), 48750u);
  EXPECT_EQ(topology::CommandWaitMs(kCommandAutoConfig, 10, false), 32000u);
  EXPECT_EQ(topology::CommandWaitMs(kCommandAutoConfig, 3, false), 32000u);
  EXPECT_EQ(topology::CommandWaitMs(kCommandReplace, 40, false, false), 81000u);
  EXPECT_EQ(topology::CommandWaitMs(kCommandReplace, 40, false, true), 111000u);
  EXPECT_EQ(topology::CommandWaitMs(kCommandFactoryReset, 40, true), 21000u);
}

TEST(NodeCommandFrame, Revisions) {
  EXPECT_TRUE(topology::FirmwareAtLeast(0x6802, 4, 2));   // 104.2 is 4.2
  EXPECT_FALSE(topology::FirmwareAtLeast(0x6801, 4, 2));  // 104.1 is 4.1
  EXPECT_TRUE(topology::FirmwareAtLeast(0x0500, 4, 16));
  EXPECT_FALSE(topology::FirmwareAtLeast(0x040F, 4, 16));
  EXPECT_TRUE(topology::FirmwareAtLeast(0x0410, 4, 16));
}

TEST_F(NodeCommandTest, AutoConfigChecks) {
  struct Case {
    const char* name;
    bool withLast;
    uint16_t firstRevision, lastRevision;
    uint8_t lastFamily;
    size_t buddies;
    bool directionKnown;
    int determined;       // what _determineNode_Direction answers
    const char* refusal;  // null: accepted and sent
  };
  const Case cases[] = {
      {"middle module", false, 0x0402, 0x0402, 0x30, 2, true, 2, topology::kTextNotAtLineEnd},
      {"line end", false, 0x0402, 0x0402, 0x30, 1, true, 2, nullptr},
      {"both on 4.1", true, 0x0401, 0x0401, 0x30, 1, true, 2, topology::kTextFirmware42},
      {"first on 4.2", true, 0x0402, 0x0401, 0x30, 1, true, 2, nullptr},
      {"last on 4.2", true, 0x0401, 0x0402, 0x90, 1, true, 2, nullptr},
      {"104.1 at both ends", true, 0x6801, 0x6801, 0x30, 1, true, 2, topology::kTextFirmware42},
      {"104.2 at one end", true, 0x6802, 0x6801, 0xC0, 1, true, 2, nullptr},
      {"last not capable", true, 0x0402, 0x0402, 0x10, 1, true, 2, topology::kTextNotUxModule},
      {"direction missing", true, 0x0402, 0x0402, 0x30, 1, false, 2, topology::kTextNoDirection},
      {"direction learnt", true, 0x0402, 0x0402, 0x30, 1, false, 1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    net_.ClearRecords();
    const size_t shownBefore = prompt_.Texts().size();
    window_ = RecordingWindow();
    window_.direction = c.determined;
    first_->revision = c.firstRevision;
    last_->revision = c.lastRevision;
    last_->recordCopy[17] = c.lastFamily;
    first_->buddies.assign(c.buddies, last_);
    first_->linkedToPcSwitch = 0;
    Draw(0, 0, c.directionKnown);
    const int result = Run(kCommandAutoConfig, first_, c.withLast ? last_ : nullptr);
    auto texts = prompt_.Texts();
    texts.erase(texts.begin(), texts.begin() + static_cast<long>(shownBefore));
    if (c.refusal != nullptr) {
      EXPECT_EQ(result, 0);
      ASSERT_EQ(texts.size(), 1u);
      EXPECT_EQ(texts[0], c.refusal);
      EXPECT_TRUE(net_.Sent().empty());
      EXPECT_TRUE(window_.busy.empty());
    } else {
      EXPECT_EQ(result, 1);
      ASSERT_FALSE(texts.empty());
      EXPECT_EQ(texts[0], topology::kTextProductSearch);
      ASSERT_EQ(net_.Sent().size(), 1u);
      EXPECT_EQ(net_.Sent()[0].bytes.size(), 33u);
      EXPECT_EQ(window_.redraws, 1);
    }
    if (!c.directionKnown && c.determined != 2) {
      EXPECT_EQ(view_.devices[1].direction, 1u);
      EXPECT_EQ(view_.devices[1].directionKnown, 1u);
      EXPECT_EQ(first_->direction, 1u);
    }
  }
}

TEST_F(NodeCommandTest, ModuleOnThePcSwitchWithAnotherInAnotherRow) {
  first_->linkedToPcSwitch = 1;
  last_->linkedToPcSwitch = 1;
  Draw(0, 0);
  view_.devices[2].column = 5;
  view_.devices[2].row = 5;
  EXPECT_EQ(Run(kCommandAutoConfig, first_, nullptr), 0);
  const auto texts = prompt_.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].find("Die folgenden Knoten 1 müssen vom PC-Switch getrennt werden"),
            std::string::npos);
  EXPECT_NE(texts[0].find("\r\n    - Knoten \"192.168.202.29\" with SerNr: 509"),
            std::string::npos);
  EXPECT_TRUE(net_.Sent().empty());
}

TEST_F(NodeCommandTest, AutoConfigSendsOneFrameAndCountsDown) {
  Draw(1, 1);
  const uint32_t before = net_.Now();
  EXPECT_EQ(Run(kCommandAutoConfig, first_, last_, 25), 1);
  const auto sent = SentBytes();
  ASSERT_EQ(sent.size(), 1u);
  const std::vector<uint8_t>& f = sent[0];
  ASSERT_EQ(f.size(), 33u);
  EXPECT_TRUE(std::equal(kFirstMac.begin(), kFirstMac.end(), f.begin()));
  EXPECT_TRUE(std::equal(kPcMac.begin(), kPcMac.end(), f.begin() + 6));
  EXPECT_EQ(f[12], 0x80);
  EXPECT_EQ(f[13], 0x4A);
  EXPECT_TRUE(std::equal(kLastMac.begin(), kLastMac.end(), f.begin() + 24));
  EXPECT_EQ(f[30], 2);  // not reversed, first runs right to left
  EXPECT_EQ(f[31], 1);
  // 41750 + 7000 ms, reported as a countdown of seconds down to 0.
  EXPECT_GE(net_.Now() - before, 48750u);
  EXPECT_LT(net_.Now() - before, 48750u + 100);
  EXPECT_EQ(progress_.range, 49);
  ASSERT_FALSE(progress_.positions.empty());
  EXPECT_EQ(progress_.positions.front(), 49);
  EXPECT_EQ(progress_.positions.back(), 0);
  EXPECT_TRUE(std::is_sorted(progress_.positions.rbegin(), progress_.positions.rend()));
  EXPECT_EQ(progress_.texts.back(),
            "Die AutoConfig wurde im Netzwerk 192.168.202.0 gestartet.\r\nDas erste Modul hat "
            "die Seriennummer: 501\r\nBitte warten...");
  EXPECT_EQ(window_.remembered, std::make_pair(501u, 509u));
  EXPECT_EQ(window_.buttons, (std::vector<bool>{false, true}));
  EXPECT_EQ(window_.busy, (std::vector<bool>{true, false}));
}

TEST_F(NodeCommandTest, CancelEndsTheWait) {
  Draw(0, 0);
  const uint32_t before = net_.Now();
  progress_.Cancel().Cancel();
  EXPECT_EQ(Run(kCommandReplace, first_, nullptr), 1);
  EXPECT_LT(net_.Now() - before, 1000u);
  EXPECT_EQ(window_.redraws, 1);
}

TEST_F(NodeCommandTest, ReplaceWaitsLongerForANeighbourOnOtherFirmware) {
  Draw(0, 0);
  last_->revision = first_->revision + 1;
  const uint32_t before = net_.Now();
  EXPECT_EQ(Run(kCommandReplace, first_, nullptr), 1);
  EXPECT_GE(net_.Now() - before, 111000u);
  EXPECT_EQ(progress_.texts.back(),
            "Das Modul mit der Seriennummer 501 wird ersetzt. \r\n\r\nBitte warten...");
  EXPECT_TRUE(prompt_.Texts().empty());  // Replace asks nothing
}

TEST_F(NodeCommandTest, SendFailureIsShown) {
  Draw(0, 0);
  net_.FailSends("eth-a");
  const uint32_t before = net_.Now();
  EXPECT_EQ(Run(kCommandReplace, first_, nullptr), 1);
  const auto texts = prompt_.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], "  WARN. Unable to Send AutoConfig/Replace packet to adapter:  eth-a !?!");
  EXPECT_EQ(window_.redraws, 0);
  EXPECT_LT(net_.Now() - before, 1000u);
  EXPECT_EQ(window_.buttons.back(), true);
}

TEST_F(NodeCommandTest, FactoryResetNeedsFirmware416) {
  first_->revision = 0x040F;
  EXPECT_EQ(Run(kCommandFactoryReset, first_, nullptr), 0);
  ASSERT_EQ(prompt_.Texts().size(), 1u);
  EXPECT_EQ(prompt_.Texts()[0], topology::kTextFirmware416);
  EXPECT_TRUE(net_.Sent().empty());
}

TEST_F(NodeCommandTest, FactoryResetAcknowledged) {
  Draw(0, 0);
  const uint32_t before = net_.Now();
  std::vector<uint8_t> ack(60, 0);
  std::copy(kPcMac.begin(), kPcMac.end(), ack.begin());
  std::copy(kFirstMac.begin(), kFirstMac.end(), ack.begin() + 6);
  ack[12] = 0x80;
  ack[13] = 0x4E;
  net_.InjectFrame("eth-a", before + 60, ack);
  EXPECT_EQ(Run(kCommandFactoryReset, first_, nullptr), 1);
  ASSERT_EQ(net_.Sent().size(), 1u);
  EXPECT_EQ(net_.Sent()[0].bytes[13], 0x4D);
  EXPECT_EQ(first_->resetAcknowledged, 1u);
  EXPECT_EQ(prompt_.Texts(), std::vector<std::string>{topology::kTextFactoryResetQuestion});
  EXPECT_GE(net_.Now() - before, 14000u);
  EXPECT_EQ(window_.redraws, 1);
}

TEST_F(NodeCommandTest, FactoryResetWithoutAcknowledgementFailsAtOnce) {
  Draw(0, 0);
  // An acknowledgement from another MAC, and one too late, do not count.
  std::vector<uint8_t> ack(60, 0);
  std::copy(kLastMac.begin(), kLastMac.end(), ack.begin() + 6);
  ack[12] = 0x80;
  ack[13] = 0x4E;
  const uint32_t before = net_.Now();
  net_.InjectFrame("eth-a", before + 20, ack);
  std::copy(kFirstMac.begin(), kFirstMac.end(), ack.begin() + 6);
  net_.InjectFrame("eth-a", before + 400, ack);
  EXPECT_EQ(Run(kCommandFactoryReset, first_, nullptr), 1);
  EXPECT_EQ(first_->resetAcknowledged, 0u);
  const auto texts = prompt_.Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[1], topology::kTextFactoryResetFailed);
  EXPECT_LT(net_.Now() - before, 1000u);
  EXPECT_EQ(window_.redraws, 0);
}

TEST_F(NodeCommandTest, FactoryResetNotConfirmedSendsNothing) {
  prompt_.QueueAnswer(base::PromptAnswer::Cancel);
  Run(kCommandFactoryReset, first_, nullptr);
  EXPECT_TRUE(net_.Sent().empty());
  EXPECT_EQ(window_.busy.back(), false);
}

// The modules' records are the adapter's: a discovery may change them at any time, so the
// procedure reads them under the adapter's lock. While another thread holds it, the procedure
// has read nothing and asked nothing.
TEST_F(NodeCommandTest, ReadsTheModulesOnlyUnderTheAdaptersLock) {
  Draw(topology::kLeftToRight, topology::kLeftToRight);
  prompt_.QueueAnswer(base::PromptAnswer::No);  // the product-search question
  const AdapterPtr adapter = app_.SelectedAdapter();
  ASSERT_TRUE(adapter);
  std::unique_lock<std::mutex> held(adapter->lock);
  int result = -1;
  std::thread command([&] { result = Run(kCommandAutoConfig, first_, last_); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(prompt_.Texts().empty());
  held.unlock();
  command.join();
  EXPECT_EQ(result, 0);  // answered No
  EXPECT_EQ(prompt_.Texts(), std::vector<std::string>{topology::kTextProductSearch});
}

}  // namespace
