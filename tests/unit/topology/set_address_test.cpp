// Change of a module's address before AutoConfig: the refusals of typed addresses, the gateway
// rule, the packet's bytes, its sequence numbers, and the module's answer against the fake
// capture and its simulated clock.
#include "topology/set_address.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/prompt.h"
#include "discovery/discover_environment.h"
#include "discovery/mreg_app.h"
#include "discovery/packets.h"
#include "fixtures/fake_capture.h"
#include "fixtures/temp_log.h"

namespace {

using topology::AddressField;

CNode_Data Module() {
  CNode_Data node;
  node.serialNumber = 0x01020304;
  node.ipText = "192.168.202.21";
  node.maskText = "255.255.255.0";
  node.gatewayText = "192.168.202.1";
  node.recordCopy = {0x01, 0x02, 0x03, 0x04, 192, 168, 202,  21,   255,  255,
                     255,  0,    192,  168,  202, 1,   0x01, 0x30, 0x68, 0x10};
  return node;
}

struct RefusalCase {
  const char* name;
  topology::SetAddressRequest request;
  AddressField refused;
};

TEST(SetAddressCheck, RefusalsBeforeAnythingIsSent) {
  const CNode_Data node = Module();
  const RefusalCase cases[] = {
      {"first octet 255", {"255.1.1.5", "255.255.255.0", false, ""}, AddressField::Ip},
      {"last octet 255", {"10.0.0.255", "255.255.255.0", false, ""}, AddressField::Ip},
      {"plain address", {"10.0.0.5", "255.0.0.0", false, ""}, AddressField::None},
      {"middle octets 255", {"10.255.255.5", "255.0.0.0", false, ""}, AddressField::None},
      {"not an address", {"10.0.0", "255.0.0.0", false, ""}, AddressField::Ip},
      {"mask with a hole", {"10.0.0.5", "255.0.255.0", false, ""}, AddressField::Mask},
      {"gateway first 255", {"10.0.0.5", "255.0.0.0", true, "255.0.0.1"}, AddressField::Gateway},
      {"gateway last 255", {"10.0.0.5", "255.0.0.0", true, "10.0.0.255"}, AddressField::Gateway},
      // Without the box the gateway text is not used at all.
      {"gateway unticked", {"10.0.0.5", "255.0.0.0", false, "10.0.0.255"}, AddressField::None},
      {"blank keeps the module's", {"", "", true, ""}, AddressField::None},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    const topology::CheckedAddresses checked = topology::CheckSetAddress(node, c.request);
    EXPECT_EQ(checked.refused, c.refused);
    EXPECT_EQ(checked.reason.empty(), c.refused == AddressField::None) << checked.reason;
  }
  const auto kept = topology::CheckSetAddress(node, {"", "", true, ""});
  EXPECT_EQ(params::AddressText(kept.ip), "192.168.202.21");
  EXPECT_EQ(params::AddressText(kept.mask), "255.255.255.0");
  EXPECT_EQ(params::AddressText(kept.gateway), "192.168.202.1");
}

TEST(SetAddressPacketBytes, RecordWithTheNewSettings) {
  const CNode_Data node = Module();
  const auto checked =
      topology::CheckSetAddress(node, {"10.1.2.3", "255.255.0.0", true, "10.1.0.254"});
  ASSERT_FALSE(checked.Refused());
  const auto packet = topology::BuildSetAddressPacket(0x80000501u, node.recordCopy, checked);
  const std::vector<uint8_t> expected = {
      0x20, 0,    0,    20,   0x01, 0x05, 0x00, 0x80,  // header, sequence LSB first
      0x01, 0x02, 0x03, 0x04,                          // serial as the module reported it
      10,   1,    2,    3,                             // new address
      255,  255,  0,    0,                             // new mask
      10,   1,    0,    254,                           // new gateway
      0x01, 0x30, 0x68, 0x10};                         // flags word as reported
  EXPECT_EQ(std::vector<uint8_t>(packet.begin(), packet.end()), expected);

  // The gateway rule: without the box the packet's gateway is the new address.
  const auto unticked =
      topology::CheckSetAddress(node, {"10.1.2.3", "255.255.0.0", false, "10.1.0.254"});
  const auto plain = topology::BuildSetAddressPacket(1, node.recordCopy, unticked);
  EXPECT_EQ(std::vector<uint8_t>(plain.begin() + 20, plain.begin() + 24),
            (std::vector<uint8_t>{10, 1, 2, 3}));
  EXPECT_FALSE(unticked.gatewayGiven);
}

using fakes::kPcMac;
const discovery::MacBytes kModuleMac = {0x00, 0x50, 0xC2, 0, 0, 0x21};

class ChangeNodeAddressTest : public ::testing::Test {
 protected:
  ChangeNodeAddressTest() : environment_(&net_), app_(&prompt_) {
    app_.SetCaptureDriver(&net_);
    net_.AddAdapter("eth-a", kPcMac, "192.168.202.10");
    fakes::FakeModule m;
    m.serialNumber = 777;
    m.ip = "192.168.202.21";
    m.gateway = "192.168.202.1";
    m.mac = kModuleMac;
    net_.AddModule("eth-a", m);
    EXPECT_EQ(app_.Discover(true, nullptr), 1);
    node_ = app_.FindNodeBySerial(777, nullptr);
    EXPECT_TRUE(node_);
    net_.ClearRecords();
  }

  // The module's answer to packet `sequence`, readable 40 ms from now.
  void Answer(uint32_t sequence, const std::string& ip, const std::string& mask,
              const std::string& gateway, uint32_t serial = 777) {
    std::vector<uint8_t> record(20, 0);
    base::PutBE32(record.data(), serial);
    base::Ipv4ToBytes(fakes::Ip(ip), record.data() + 4);
    base::Ipv4ToBytes(fakes::Ip(mask), record.data() + 8);
    base::Ipv4ToBytes(fakes::Ip(gateway), record.data() + 12);
    net_.InjectFrame(
        "eth-a", net_.Now() + 40,
        fakes::BuildModuleAnswer(kModuleMac, fakes::Ip(ip), kPcMac, discovery::kNodeCommandPort,
                                 discovery::kPacketSetNodeIpAnswer, 0x10, sequence, record));
  }

  topology::SetAddressResult Change(const topology::SetAddressRequest& request) {
    topology::SetAddressContext context{app_, prompt_, sequence_};
    return topology::ChangeNodeAddress(context, node_, request);
  }

  // Sequence numbers of the set-address packets sent (UDP data after 42 bytes of headers).
  std::vector<uint32_t> SentSequences() const {
    std::vector<uint32_t> out;
    for (const auto& sent : net_.Sent()) {
      const auto& b = sent.bytes;
      if (b.size() < 42 + 28 || b[42] != discovery::kPacketSetNodeIp) continue;
      out.push_back(uint32_t{b[46]} | uint32_t{b[47]} << 8 | uint32_t{b[48]} << 16 |
                    uint32_t{b[49]} << 24);
    }
    return out;
  }

  fixtures::ScopedTempLog log_;
  fakes::FakeNetwork net_;
  discovery::ScopedDiscoverEnvironment environment_;
  base::ScriptedPrompt prompt_;
  CMRegApp app_;
  topology::SetAddressSequence sequence_;
  NodePtr node_;
};

TEST_F(ChangeNodeAddressTest, TakenAddressEndsWithOkAndConsecutiveSequences) {
  Answer(0x80000501u, "192.168.202.40", "255.255.255.0", "192.168.202.40");
  EXPECT_EQ(Change({"192.168.202.40", "255.255.255.0", false, ""}), topology::SetAddressResult::Ok);
  EXPECT_TRUE(prompt_.Texts().empty());
  EXPECT_EQ(node_->ipText, "192.168.202.40");
  EXPECT_EQ(node_->ipAddress, fakes::Ip("192.168.202.40"));

  Answer(0x80000502u, "192.168.202.41", "255.255.255.0", "192.168.202.1");
  EXPECT_EQ(Change({"192.168.202.41", "255.255.255.0", true, "192.168.202.1"}),
            topology::SetAddressResult::Ok);
  EXPECT_EQ(SentSequences(), (std::vector<uint32_t>{0x80000501u, 0x80000502u}));
  EXPECT_EQ(node_->gatewayText, "192.168.202.1");
}

TEST_F(ChangeNodeAddressTest, RefusedAddressSendsNothing) {
  EXPECT_EQ(Change({"255.1.1.5", "255.255.255.0", false, ""}), topology::SetAddressResult::Refused);
  EXPECT_EQ(Change({"10.0.0.255", "255.255.255.0", false, ""}),
            topology::SetAddressResult::Refused);
  EXPECT_TRUE(net_.Sent().empty());
  EXPECT_EQ(prompt_.CountOf("beep"), 2u);
  EXPECT_EQ(sequence_.Next(), 0x80000501u);  // no number was used
}

TEST_F(ChangeNodeAddressTest, FailuresShowTheirTextAndCancel) {
  struct Case {
    const char* name;
    bool answer;
    uint32_t sequenceOffset;
    uint32_t serial;
    std::string ip, mask, gateway;
    topology::SetAddressRequest request;
    const char* text;
  };
  const Case cases[] = {
      {"no answer",
       false,
       0,
       777,
       "",
       "",
       "",
       {"192.168.202.40", "", false, ""},
       topology::kTextSetAddressNoAnswer},
      {"answer to an earlier packet",
       true,
       0xFFFFFFFFu,
       777,
       "192.168.202.40",
       "255.255.255.0",
       "192.168.202.40",
       {"192.168.202.40", "", false, ""},
       topology::kTextSetAddressNoAnswer},
      {"another module's answer",
       true,
       0,
       778,
       "192.168.202.40",
       "255.255.255.0",
       "192.168.202.40",
       {"192.168.202.40", "", false, ""},
       topology::kTextSetAddressNoAnswer},
      {"address kept",
       true,
       0,
       777,
       "192.168.202.21",
       "255.255.255.0",
       "192.168.202.40",
       {"192.168.202.40", "", false, ""},
       topology::kTextSetAddressIpNotChanged},
      {"mask kept",
       true,
       0,
       777,
       "192.168.202.40",
       "255.255.255.0",
       "192.168.202.40",
       {"192.168.202.40", "255.255.0.0", false, ""},
       topology::kTextSetAddressMaskNotChanged},
      {"gateway kept",
       true,
       0,
       777,
       "192.168.202.40",
       "255.255.255.0",
       "192.168.202.1",
       {"192.168.202.40", "", true, "192.168.202.2"},
       topology::kTextSetAddressGatewayNotChanged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t shown = prompt_.Texts().size();
    node_->ipText = "192.168.202.21";
    node_->maskText = "255.255.255.0";
    node_->gatewayText = "192.168.202.1";
    if (c.answer) Answer(sequence_.Next() + c.sequenceOffset, c.ip, c.mask, c.gateway, c.serial);
    EXPECT_EQ(Change(c.request), topology::SetAddressResult::Cancel);
    const auto texts = prompt_.Texts();
    EXPECT_EQ(
        std::vector<std::string>(texts.begin() + static_cast<std::ptrdiff_t>(shown), texts.end()),
        std::vector<std::string>{c.text});
  }
  // Without the box a gateway the module kept is no failure.
  const size_t shown = prompt_.Texts().size();
  Answer(sequence_.Next(), "192.168.202.42", "255.255.255.0", "192.168.202.1");
  EXPECT_EQ(Change({"192.168.202.42", "", false, ""}), topology::SetAddressResult::Ok);
  EXPECT_EQ(prompt_.Texts().size(), shown);
}

// A clock that jumps past the answer's time-out between two of its readings (a thread woken
// late), and a capture that records every time-out it is asked to wait.
class JumpingClock : public fakes::FakeNetwork {
 public:
  uint32_t Now() override {
    const uint32_t now = fakes::FakeNetwork::Now();
    if (armed_ > 0 && --armed_ == 0) jump_ = topology::kSetAddressAnswerMs + 1;
    return now + jump_;
  }
  // The second reading from now on is the late one.
  void ArmJump() { armed_ = 2; }

 private:
  int armed_ = 0;
  uint32_t jump_ = 0;
};

class RecordingDriver : public platform::CaptureDriver {
 public:
  explicit RecordingDriver(JumpingClock& net) : net_(net) {}
  platform::CaptureDeviceList ListDevices() override { return net_.ListDevices(); }
  std::unique_ptr<platform::CaptureHandle> Open(const std::string& device, int snapLength,
                                                bool promiscuous, std::string* error) override {
    auto inner = net_.Open(device, snapLength, promiscuous, error);
    if (!inner) return nullptr;
    return std::make_unique<Handle>(*this, std::move(inner));
  }
  bool watch = false;  // record the waits from now on
  std::vector<uint32_t> timeouts;

 private:
  class Handle : public platform::CaptureHandle {
   public:
    Handle(RecordingDriver& owner, std::unique_ptr<platform::CaptureHandle> inner)
        : owner_(owner), inner_(std::move(inner)) {}
    bool Send(const uint8_t* frame, size_t length) override { return inner_->Send(frame, length); }
    bool Read(std::vector<uint8_t>& frame, uint32_t timeoutMs) override {
      if (!owner_.watch) return inner_->Read(frame, timeoutMs);
      owner_.timeouts.push_back(timeoutMs);
      if (owner_.timeouts.size() == 1) {
        owner_.net_.ArmJump();  // the late wake-up comes right after this first wait
        return false;
      }
      // A wrapped time-out would wait for ever: recorded above, not waited here.
      if (timeoutMs > topology::kSetAddressAnswerMs) return false;
      return inner_->Read(frame, timeoutMs);
    }
    std::string LastError() const override { return inner_->LastError(); }

   private:
    RecordingDriver& owner_;
    std::unique_ptr<platform::CaptureHandle> inner_;
  };
  JumpingClock& net_;
};

TEST(ChangeNodeAddressClock, LateWakeUpEndsTheWaitInsteadOfWrappingIt) {
  fixtures::ScopedTempLog log;
  JumpingClock net;
  discovery::ScopedDiscoverEnvironment environment(&net);
  RecordingDriver driver(net);
  base::ScriptedPrompt prompt;
  CMRegApp app(&prompt);
  app.SetCaptureDriver(&driver);
  net.AddAdapter("eth-a", kPcMac, "192.168.202.10");
  fakes::FakeModule m;
  m.serialNumber = 777;
  m.ip = "192.168.202.21";
  m.mac = kModuleMac;
  net.AddModule("eth-a", m);
  ASSERT_EQ(app.Discover(true, nullptr), 1);
  const NodePtr node = app.FindNodeBySerial(777, nullptr);
  ASSERT_TRUE(node);

  driver.watch = true;
  topology::SetAddressSequence sequence;
  topology::SetAddressContext context{app, prompt, sequence};
  EXPECT_EQ(topology::ChangeNodeAddress(context, node, {"192.168.202.40", "", false, ""}),
            topology::SetAddressResult::Cancel);
  ASSERT_FALSE(driver.timeouts.empty());
  for (uint32_t timeout : driver.timeouts) EXPECT_LE(timeout, topology::kSetAddressAnswerMs);
  EXPECT_EQ(prompt.Texts(), std::vector<std::string>{topology::kTextSetAddressNoAnswer});
}

}  // namespace
