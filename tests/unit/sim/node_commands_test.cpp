// The modules' side of the AutoConfig, Replace and factory reset frames.
#include "sim/node_commands.h"
#include "unit/sim/test_addresses.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/bytes.h"

namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;
using test_addresses::kPcMac;

// One chain from the PC's switch: A B C D, directions 0 1 0 0, addresses out of order.
struct NodeCommandLine {
  NodeCommandLine() : udp(modules, timing, 1), responder(modules, udp, timing) {
    const uint32_t serials[] = {300, 301, 302, 303};
    const uint8_t directions[] = {0, 1, 0, 0};
    const char* addresses[] = {"192.168.202.40", "192.168.202.33", "192.168.202.90",
                               "192.168.202.21"};
    for (int i = 0; i < 4; ++i) {
      ModuleSetup setup;
      setup.serial = serials[i];
      setup.mac = MacFromSerial(serials[i]);
      setup.address = *ParseIpv4(addresses[i]);
      setup.mask = *ParseIpv4("255.255.255.0");
      setup.family = 0x03;
      setup.position = i;
      setup.direction = directions[i];
      modules.push_back(std::make_unique<SimModule>(setup));
    }
  }

  std::vector<uint16_t> Regs(size_t module, uint16_t first, uint16_t count, bool flash = false) {
    std::vector<uint16_t> out;
    EXPECT_TRUE(modules[module]->Peek(first, count, flash, out));
    return out;
  }
  uint32_t Host(size_t module) {
    const uint32_t a = modules[module]->Address();
    return base::GetBE32(reinterpret_cast<const uint8_t*>(&a));
  }

  NodeCommandResult Send(const Bytes& frame) {
    NodeCommandResult r = responder.OnFrame(frame.data(), frame.size());
    if (r.apply) r.apply();
    return r;
  }

  Timing timing;
  std::vector<std::unique_ptr<SimModule>> modules;
  UdpResponder udp;
  NodeCommandResponder responder;
};

Bytes Frame(uint16_t command, const Mac& to, const Mac* last = nullptr, uint8_t firstPort = 0,
            uint8_t lastPort = 0) {
  Bytes f = {0,
             0,
             0,
             0,
             0,
             0,
             0,
             0,
             0,
             0,
             0,
             0,
             static_cast<uint8_t>(command >> 8),
             static_cast<uint8_t>(command),
             'T',
             'r',
             'e',
             'l',
             'b',
             'i',
             'x',
             0xA0,
             0x42,
             0x47,
             0,
             0,
             0,
             0,
             0,
             0,
             0,
             0,
             0};
  std::memcpy(f.data(), to.data(), 6);
  std::memcpy(f.data() + 6, kPcMac.data(), 6);
  if (last != nullptr) {
    std::memcpy(f.data() + 24, last->data(), 6);
    f[30] = firstPort;
    f[31] = lastPort;
  }
  return f;
}

TEST(SimNodeCommands, OnlyWholeSignedFramesToTheModulesOwnMac) {
  NodeCommandLine line;
  const Mac a = line.modules[0]->MacAddress();
  Bytes shortFrame = Frame(kEtherAutoConfig, a);
  shortFrame.pop_back();
  Bytes badSignature = Frame(kEtherAutoConfig, a);
  badSignature[20] = 'y';
  const Mac stranger = {0x02, 9, 9, 9, 9, 9};
  Bytes otherType = Frame(kEtherAutoConfig, a);
  otherType[13] = 0x4C;
  for (const Bytes& frame : {shortFrame, badSignature, Frame(kEtherAutoConfig, stranger), otherType,
                             Frame(kEtherFactoryReset, MacFromSerial(999))}) {
    const NodeCommandResult r = line.responder.OnFrame(frame.data(), frame.size());
    EXPECT_FALSE(r.apply);
    EXPECT_TRUE(r.frames.empty());
  }
  // A longer frame (padded to the Ethernet minimum) is accepted.
  Bytes padded = Frame(kEtherAutoConfig, a);
  padded.resize(60, 0);
  EXPECT_TRUE(line.responder.OnFrame(padded.data(), padded.size()).apply);
}

TEST(SimNodeCommands, AutoConfigFromTheFirstModuleNumbersTheChain) {
  NodeCommandLine line;
  line.Send(Frame(kEtherAutoConfig, line.modules[0]->MacAddress()));
  const uint32_t base = line.Host(0);
  const auto id = line.Regs(0, 1, 4);
  EXPECT_NE(id, std::vector<uint16_t>(4, 0));
  const uint8_t positions[] = {1, 0, 0, 2};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(line.Host(i), base + i);
    EXPECT_EQ(line.Regs(i, 1, 4), id);
    EXPECT_EQ(line.Regs(i, 1, 4, true), id);  // saved
    EXPECT_EQ(line.modules[i]->LinePosition(), positions[i]);
    const auto up = line.Regs(i, kUpstreamDescriptor, 8, true);
    const auto down = line.Regs(i, kDownstreamDescriptor, 8, true);
    if (i == 0) {
      EXPECT_EQ(up, std::vector<uint16_t>(8, 0));
    } else {
      const uint32_t prev = base + i - 1;
      EXPECT_EQ(up, (std::vector<uint16_t>{static_cast<uint16_t>(prev >> 16),
                                           static_cast<uint16_t>(prev), 1, 116, 232, 15, 1, 0}));
    }
    if (i == 3) {
      EXPECT_EQ(down, std::vector<uint16_t>(8, 0));
    } else {
      const uint32_t next = base + i + 1;
      EXPECT_EQ(down, (std::vector<uint16_t>{static_cast<uint16_t>(next >> 16),
                                             static_cast<uint16_t>(next), 1, 196, 134, 15, 1, 0}));
    }
  }
}

TEST(SimNodeCommands, AutoConfigRules) {
  struct Case {
    const char* name;
    size_t first;
    int last;  // -1: none
    uint8_t firstPort, lastPort;
    std::vector<size_t> configured;  // in numbering order
  };
  // D (3) has direction 0: its left port faces C. B (1) has direction 1: its right port faces A.
  const Case cases[] = {
      {"middle module alone", 1, -1, 0, 0, {}},
      {"last module alone numbers towards the PC", 3, -1, 0, 0, {3, 2, 1, 0}},
      {"range D..B", 3, 1, kPortLeft, kPortLeft, {3, 2, 1}},
      {"range D..B, wrong first port", 3, 1, kPortRight, kPortLeft, {}},
      {"range D..B, wrong last port", 3, 1, kPortLeft, kPortRight, {}},
      {"range B..D", 1, 3, kPortLeft, kPortLeft, {1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NodeCommandLine line;
    std::vector<uint32_t> before;
    for (size_t i = 0; i < 4; ++i) before.push_back(line.Host(i));
    const Mac lastMac =
        c.last >= 0 ? line.modules[static_cast<size_t>(c.last)]->MacAddress() : Mac{};
    line.Send(Frame(kEtherAutoConfig, line.modules[c.first]->MacAddress(),
                    c.last >= 0 ? &lastMac : nullptr, c.firstPort, c.lastPort));
    for (size_t i = 0; i < 4; ++i) {
      const auto at = std::find(c.configured.begin(), c.configured.end(), i);
      if (at == c.configured.end()) {
        EXPECT_EQ(line.Host(i), before[i]) << i;
        EXPECT_EQ(line.Regs(i, 1, 4), std::vector<uint16_t>(4, 0)) << i;
      } else {
        EXPECT_EQ(line.Host(i), before[c.first] + (at - c.configured.begin())) << i;
      }
    }
  }
}

TEST(SimNodeCommands, ReplaceTakesThePredecessorsConfiguration) {
  NodeCommandLine line;
  line.Send(Frame(kEtherAutoConfig, line.modules[0]->MacAddress()));
  const uint32_t address = line.modules[2]->Address();
  const auto id = line.Regs(2, 1, 4);
  const auto up = line.Regs(2, kUpstreamDescriptor, 16);
  // A new module in C's place: another address, nothing configured.
  line.modules[2]->SetNetwork(*ParseIpv4("192.168.202.200"), line.modules[2]->Setup().mask, 0);
  line.modules[2]->Poke(1, std::vector<uint16_t>(4, 0), false);
  line.modules[2]->Poke(kUpstreamDescriptor, std::vector<uint16_t>(16, 0), false);
  line.modules[2]->SetLinePosition(kPositionUnknown);
  line.Send(Frame(kEtherReplace, line.modules[2]->MacAddress()));
  EXPECT_EQ(line.modules[2]->Address(), address);
  EXPECT_EQ(line.Regs(2, 1, 4, true), id);
  EXPECT_EQ(line.Regs(2, kUpstreamDescriptor, 16, true), up);
  EXPECT_EQ(line.modules[2]->LinePosition(), 0);
}

TEST(SimNodeCommands, FactoryResetAcknowledgesThenClears) {
  NodeCommandLine line;
  line.Send(Frame(kEtherAutoConfig, line.modules[0]->MacAddress()));
  const uint32_t address = line.modules[1]->Address();
  const Mac mac = line.modules[1]->MacAddress();
  NodeCommandResponder responder(line.modules, line.udp, line.timing);
  const Bytes frame = Frame(kEtherFactoryReset, mac);
  NodeCommandResult r = responder.OnFrame(frame.data(), frame.size());
  ASSERT_EQ(r.frames.size(), 1u);
  const Bytes& ack = r.frames[0].bytes;
  ASSERT_GE(ack.size(), 14u);
  EXPECT_TRUE(std::equal(kPcMac.begin(), kPcMac.end(), ack.begin()));
  EXPECT_TRUE(std::equal(mac.begin(), mac.end(), ack.begin() + 6));
  EXPECT_EQ(ack[12], 0x80);
  EXPECT_EQ(ack[13], 0x4E);
  EXPECT_LE(r.frames[0].delayMs, 100u);
  EXPECT_GE(r.applyAfterMs, r.frames[0].delayMs);
  EXPECT_NE(line.Regs(1, 1, 4), std::vector<uint16_t>(4, 0));  // nothing cleared yet
  ASSERT_TRUE(r.apply);
  r.apply();
  EXPECT_EQ(line.modules[1]->Address(), address);
  EXPECT_EQ(line.Regs(1, 1, 4, true), std::vector<uint16_t>(4, 0));
  EXPECT_EQ(line.Regs(1, kUpstreamDescriptor, 16, true), std::vector<uint16_t>(16, 0));
  EXPECT_EQ(line.modules[1]->LinePosition(), kPositionUnknown);
  EXPECT_NE(line.Regs(2, 1, 4), std::vector<uint16_t>(4, 0));  // the others keep theirs
}

}  // namespace
}  // namespace sim
