// The modules' side of the topology protocol: buddy lists and announcements, neighbour
// reports with port codes, ROUTING / NORMAL mode and the discover out of one port.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "base/bytes.h"
#include "sim/frames.h"
#include "sim/udp_protocol.h"
#include "unit/sim/test_addresses.h"

namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;

using test_addresses::kBroadcast;
using test_addresses::kPcMac;

// A request from the PC to port 55555, written byte by byte here (not with BuildUdpFrame).
Bytes TopologyRequest(uint8_t code, const Bytes& data, uint16_t sourcePort = 44532,
                      const Mac& destination = kBroadcast) {
  Bytes frame(42 + 8 + data.size(), 0);
  std::memcpy(frame.data(), destination.data(), 6);
  std::memcpy(frame.data() + 6, kPcMac.data(), 6);
  frame[12] = 0x08;
  const uint16_t ipLength = static_cast<uint16_t>(28 + 8 + data.size());
  const uint8_t ip[20] = {0x45,
                          0,
                          static_cast<uint8_t>(ipLength >> 8),
                          static_cast<uint8_t>(ipLength),
                          0x13,
                          0x37,
                          0,
                          0,
                          128,
                          17,
                          0,
                          0,
                          192,
                          168,
                          202,
                          10,
                          255,
                          255,
                          255,
                          255};
  std::memcpy(frame.data() + 14, ip, 20);
  base::PutBE16(frame.data() + 24, InternetChecksum(frame.data() + 14, 20));
  base::PutBE16(frame.data() + 34, sourcePort);
  base::PutBE16(frame.data() + 36, 55555);
  base::PutBE16(frame.data() + 38, static_cast<uint16_t>(16 + data.size()));
  const uint8_t header[8] = {code, 0, 0, static_cast<uint8_t>(data.size()), 0x21, 0x43, 0x65, 0x87};
  std::memcpy(frame.data() + 42, header, 8);
  std::copy(data.begin(), data.end(), frame.begin() + 50);
  return frame;
}

Bytes Mgmt() {
  return {'M', 'G', 'M', 'T', 0, 0, 0, 32};
}

Bytes SerialAndAddress(const SimModule& module) {
  Bytes data(8);
  base::PutBE32(data.data(), module.Serial());
  base::Ipv4ToBytes(module.Address(), data.data() + 4);
  return data;
}

// Two chains from the PC's switch: A(0) - B(0) - C(1) and D(1) - E(1); (direction).
// Indexes: A 0, B 1, C 2, D 3, E 4.
std::vector<std::unique_ptr<SimModule>> Line() {
  const struct {
    uint32_t serial;
    int chain, position;
    uint8_t direction;
  } rows[] = {{100, 0, 0, 0}, {101, 0, 1, 0}, {102, 0, 2, 1}, {200, 1, 0, 1}, {201, 1, 1, 1}};
  std::vector<std::unique_ptr<SimModule>> modules;
  int node = 1;
  for (const auto& row : rows) {
    ModuleSetup setup;
    setup.serial = row.serial;
    setup.mac = MacFromSerial(row.serial);
    setup.address = *ParseIpv4("192.168.202." + std::to_string(19 + node++));
    setup.mask = *ParseIpv4("255.255.255.0");
    setup.chain = row.chain;
    setup.position = row.position;
    setup.direction = row.direction;
    setup.packetFlags = row.direction == 0 ? 0x10 : 0x00;
    modules.push_back(std::make_unique<SimModule>(setup));
  }
  return modules;
}

struct Sent {
  size_t module;
  uint32_t delayMs;
  UdpFrame frame;  // its payload pointer is not used: the frame is gone
  Bytes data;      // after the packet header
  uint8_t code, flags, dataLength;
};

std::vector<Sent> Parse(const std::vector<OutgoingFrame>& out) {
  std::vector<Sent> sent;
  for (const auto& o : out) {
    const auto frame = ParseUdpFrame(o.bytes.data(), o.bytes.size());
    EXPECT_TRUE(frame);
    if (!frame || frame->payloadLength < 8) continue;
    const uint8_t* p = frame->payload;
    EXPECT_EQ(Bytes(p + 4, p + 8), (Bytes{0x21, 0x43, 0x65, 0x87})) << "sequence echoed";
    EXPECT_EQ(frame->payloadLength, 8u + p[3]);
    sent.push_back(
        {o.module, o.delayMs, *frame, Bytes(p + 8, p + frame->payloadLength), p[0], p[2], p[3]});
  }
  return sent;
}

// The serials of the modules that answered with `code`.
std::set<uint32_t> Answering(const std::vector<std::unique_ptr<SimModule>>& modules,
                             const std::vector<Sent>& sent, uint8_t code) {
  std::set<uint32_t> serials;
  for (const auto& s : sent) {
    if (s.code == code) serials.insert(modules[s.module]->Serial());
  }
  return serials;
}

TEST(SimTopology, EveryModuleListsItsCabledModulesAndTheChainHeadsAnnounceThemselves) {
  auto modules = Line();
  Timing timing;
  UdpResponder responder(modules, timing, 3);
  const Bytes request = TopologyRequest(0x60, Mgmt(), 44544);
  const auto sent = Parse(responder.OnFrame(request.data(), request.size()));

  const std::map<uint32_t, std::set<uint32_t>> buddies = {
      {100, {101}}, {101, {100, 102}}, {102, {101}}, {200, {201}}, {201, {200}}};
  const std::map<uint32_t, uint32_t> hops = {{100, 1}, {101, 2}, {102, 3}, {200, 1}, {201, 2}};
  std::set<uint32_t> announced;
  size_t answers = 0;
  for (const auto& s : sent) {
    const SimModule& module = *modules[s.module];
    EXPECT_EQ(s.frame.sourceMac, module.MacAddress());
    EXPECT_EQ(s.frame.sourceAddress, module.Address());
    EXPECT_EQ(s.frame.sourcePort, 55555);
    EXPECT_EQ(s.flags, module.Setup().direction == 0 ? 0x10 : 0x00);
    EXPECT_EQ(s.delayMs, 2 * hops.at(module.Serial()));
    if (s.code == 0x61) {
      ++answers;
      EXPECT_EQ(s.frame.destinationMac, kPcMac);
      EXPECT_EQ(s.frame.destinationPort, 44544);
      ASSERT_EQ(s.dataLength % 8, 0);
      std::set<uint32_t> listed;
      for (size_t i = 0; i < s.dataLength; i += 8) {
        const uint32_t serial = base::GetBE32(s.data.data() + i);
        listed.insert(serial);
        for (const auto& m : modules) {
          if (m->Serial() != serial) continue;
          const Bytes address = SerialAndAddress(*m);
          EXPECT_EQ(Bytes(s.data.begin() + i + 4, s.data.begin() + i + 8),
                    Bytes(address.begin() + 4, address.end()));
        }
      }
      EXPECT_EQ(listed, buddies.at(module.Serial())) << module.Serial();
    } else {
      ASSERT_EQ(s.code, 0x10);
      announced.insert(module.Serial());
      EXPECT_EQ(s.frame.destinationMac, kBroadcast);
      EXPECT_EQ(s.frame.destinationPort, 55555);
      EXPECT_EQ(s.data, module.NodeRecord());
    }
  }
  EXPECT_EQ(answers, 5u);
  EXPECT_EQ(announced, (std::set<uint32_t>{100, 200}));
}

TEST(SimTopology, NeighbourReportsNameEachPortsModuleAndThePortItUses) {
  auto modules = Line();
  modules[4]->ModuleFaults().miswired = true;  // E reports its sides exchanged
  Timing timing;
  UdpResponder responder(modules, timing, 3);
  const Bytes request = TopologyRequest(0x78, Mgmt(), 44547);
  const auto sent = Parse(responder.OnFrame(request.data(), request.size()));
  const Mac none{};
  auto mac = [&](size_t i) { return modules[i]->MacAddress(); };
  // Left port code + MAC, right port code + MAC, worked out from the wiring by hand:
  // A(dir 0): left = PC switch, right = B's left port. B(dir 0): left = A's right port,
  // right = C's right port (C is reversed: its right port faces the PC). C(dir 1): right = B's
  // right port, left = nothing. D(dir 1): left = E's right port, right = PC switch.
  // E(dir 1, miswired): really right = D's left port, left = nothing; reported crossed.
  const struct {
    uint32_t serial;
    uint8_t leftPort;
    Mac leftMac;
    uint8_t rightPort;
    Mac rightMac;
  } expected[] = {{100, 0, none, 2, mac(1)},
                  {101, 1, mac(0), 1, mac(2)},
                  {102, 0, none, 1, mac(1)},
                  {200, 1, mac(4), 0, none},
                  {201, 2, mac(3), 0, none}};
  ASSERT_EQ(sent.size(), 5u);
  for (const auto& e : expected) {
    bool found = false;
    for (const auto& s : sent) {
      if (modules[s.module]->Serial() != e.serial) continue;
      found = true;
      EXPECT_EQ(s.code, 0x79);
      EXPECT_EQ(s.frame.destinationPort, 44547);
      ASSERT_EQ(s.dataLength, 14);
      EXPECT_EQ(s.data[0], e.leftPort) << e.serial;
      EXPECT_EQ(Mac({s.data[1], s.data[2], s.data[3], s.data[4], s.data[5], s.data[6]}), e.leftMac)
          << e.serial;
      EXPECT_EQ(s.data[7], e.rightPort) << e.serial;
      EXPECT_EQ(Mac({s.data[8], s.data[9], s.data[10], s.data[11], s.data[12], s.data[13]}),
                e.rightMac)
          << e.serial;
    }
    EXPECT_TRUE(found) << e.serial;
  }
}

TEST(SimTopology, ModulesInRoutingModeHoldBroadcastsBack) {
  auto modules = Line();
  Timing timing;
  UdpResponder responder(modules, timing, 3);
  auto discover = [&] {
    const Bytes request = TopologyRequest(0x10, {}, 44532);
    return Answering(modules, Parse(responder.OnFrame(request.data(), request.size())), 0x1F);
  };
  auto send = [&](const Bytes& frame) { responder.OnFrame(frame.data(), frame.size()); };

  // Broadcast GO_ROUTING: every module hears it before anyone changes mode.
  send(TopologyRequest(0x53, {}));
  for (const auto& m : modules) EXPECT_TRUE(m->Routing()) << m->Serial();
  EXPECT_EQ(discover(), (std::set<uint32_t>{100, 200}));

  // GO_NORMAL names its module by serial; then the module behind A hears again.
  send(TopologyRequest(0x41, SerialAndAddress(*modules[0])));
  EXPECT_FALSE(modules[0]->Routing());
  EXPECT_EQ(discover(), (std::set<uint32_t>{100, 101, 200}));
  // B is behind A (NORMAL) and hears its GO_NORMAL; C is behind B and still does not.
  send(TopologyRequest(0x41, SerialAndAddress(*modules[2])));
  EXPECT_TRUE(modules[2]->Routing());
  send(TopologyRequest(0x41, SerialAndAddress(*modules[1])));
  EXPECT_EQ(discover(), (std::set<uint32_t>{100, 101, 102, 200}));

  // GO_ROUTING to one MAC affects that module only; the topology query stops behind it.
  send(TopologyRequest(0x41, SerialAndAddress(*modules[2])));
  send(TopologyRequest(0x41, SerialAndAddress(*modules[3])));
  send(TopologyRequest(0x41, SerialAndAddress(*modules[4])));
  for (const auto& m : modules) ASSERT_FALSE(m->Routing()) << m->Serial();
  send(TopologyRequest(0x53, {}, 44532, modules[0]->MacAddress()));
  EXPECT_TRUE(modules[0]->Routing());
  EXPECT_FALSE(modules[1]->Routing());
  const Bytes topology = TopologyRequest(0x60, Mgmt(), 44544);
  EXPECT_EQ(Answering(modules, Parse(responder.OnFrame(topology.data(), topology.size())), 0x61),
            (std::set<uint32_t>{100, 200, 201}));
  // A restart brings a module back in NORMAL mode.
  modules[0]->Restart();
  EXPECT_FALSE(modules[0]->Routing());
}

TEST(SimTopology, DiscoverOnOnePortIsAnsweredByTheModuleCabledThere) {
  auto modules = Line();
  ModuleSetup shortRecord = modules[2]->Setup();
  shortRecord.recordLength = 8;
  modules[2] = std::make_unique<SimModule>(shortRecord);
  Timing timing;
  UdpResponder responder(modules, timing, 3);
  const struct {
    size_t target;
    uint8_t code;  // 0x50 left, 0x51 right
    std::set<uint32_t> answering;
  } cases[] = {
      {0, 0x50, {}},     // A's left port is on the PC's switch
      {0, 0x51, {101}},  // A's right: B
      {1, 0x50, {100}},
      {1, 0x51, {102}},
      {2, 0x50, {}},  // C is reversed: its left port leads
                      // away, to nothing
      {2, 0x51, {101}},
      {3, 0x50, {201}},
      {3, 0x51, {}},
      {4, 0x51, {200}},
  };
  for (const auto& c : cases) {
    const Bytes request = TopologyRequest(c.code, SerialAndAddress(*modules[c.target]), 44532);
    const auto sent = Parse(responder.OnFrame(request.data(), request.size()));
    EXPECT_EQ(Answering(modules, sent, 0x1F), c.answering)
        << "module " << c.target << " code " << int(c.code);
    for (const auto& s : sent) {
      EXPECT_EQ(s.frame.destinationMac, kPcMac);
      EXPECT_EQ(s.frame.destinationPort, 44532);
      EXPECT_LE(s.delayMs, 300u);
      // At least 16 bytes of record, also from a module whose discovery record is shorter.
      ASSERT_GE(s.dataLength, 16);
      const Bytes record = modules[s.module]->NodeRecord(16);
      EXPECT_EQ(s.data, record);
      EXPECT_EQ(s.dataLength, s.module == 2 ? 16 : 28);
    }
  }
  // A module in ROUTING mode passes no request on: C does not hear a discover-on meant for it.
  const Bytes routeB = TopologyRequest(0x53, {}, 44532, modules[1]->MacAddress());
  responder.OnFrame(routeB.data(), routeB.size());
  const Bytes toC = TopologyRequest(0x51, SerialAndAddress(*modules[2]), 44532);
  EXPECT_TRUE(responder.OnFrame(toC.data(), toC.size()).empty());
  // B itself still hears (only the modules between it and the PC count) and answers through C.
  const Bytes toB = TopologyRequest(0x51, SerialAndAddress(*modules[1]), 44532);
  EXPECT_EQ(Answering(modules, Parse(responder.OnFrame(toB.data(), toB.size())), 0x1F),
            (std::set<uint32_t>{102}));
}

TEST(SimTopology, FaultsAndMalformedRequests) {
  auto modules = Line();
  modules[1]->ModuleFaults().noTopology = true;
  modules[3]->ModuleFaults().noTopology = true;  // a chain head: no announcement either
  Timing timing;
  UdpResponder responder(modules, timing, 3);
  const Bytes topology = TopologyRequest(0x60, Mgmt(), 44544);
  const auto sent = Parse(responder.OnFrame(topology.data(), topology.size()));
  EXPECT_EQ(Answering(modules, sent, 0x61), (std::set<uint32_t>{100, 102, 201}));
  EXPECT_EQ(Answering(modules, sent, 0x10), (std::set<uint32_t>{100}));
  const Bytes neighbours = TopologyRequest(0x78, Mgmt(), 44547);
  EXPECT_EQ(
      Answering(modules, Parse(responder.OnFrame(neighbours.data(), neighbours.size())), 0x79),
      (std::set<uint32_t>{100, 102, 201}));

  Bytes wrongTag = Mgmt();
  wrongTag[0] = 'X';
  Bytes wrongValue = Mgmt();
  wrongValue[7] = 33;
  const Bytes whole = SerialAndAddress(*modules[0]);
  const Bytes shortNode(whole.begin(), whole.begin() + 4);
  const Bytes mgmt = Mgmt();
  const struct {
    const char* what;
    Bytes frame;
  } ignored[] = {
      {"topology without MGMT", TopologyRequest(0x60, wrongTag, 44544)},
      {"topology with another value", TopologyRequest(0x60, wrongValue, 44544)},
      {"topology without data", TopologyRequest(0x60, {}, 44544)},
      {"neighbours cut to 4 bytes", TopologyRequest(0x78, Bytes(mgmt.begin(), mgmt.begin() + 4))},
      {"discover-on with half a serial and address", TopologyRequest(0x51, shortNode)},
      {"from the module port", TopologyRequest(0x60, Mgmt(), 55555)},
  };
  for (const auto& c : ignored)
    EXPECT_TRUE(responder.OnFrame(c.frame.data(), c.frame.size()).empty()) << c.what;
  // GO_NORMAL that names nobody leaves every mode as it was.
  const Bytes route = TopologyRequest(0x53, {});
  responder.OnFrame(route.data(), route.size());
  const Bytes normal = TopologyRequest(0x41, shortNode);
  responder.OnFrame(normal.data(), normal.size());
  for (const auto& m : modules) EXPECT_TRUE(m->Routing()) << m->Serial();
}

TEST(SimTopology, TopologyFaultsComeFromTheLineFileAndTheControlSocket) {
  Faults faults;
  ApplyFaults(nlohmann::json{{"noTopology", true}, {"miswired", true}}, faults);
  EXPECT_TRUE(faults.noTopology);
  EXPECT_TRUE(faults.miswired);
  EXPECT_TRUE(faults.Any());
  const nlohmann::json shown = FaultsToJson(faults);
  EXPECT_EQ(shown["noTopology"], true);
  EXPECT_EQ(shown["miswired"], true);
  EXPECT_THROW(ApplyFaults(nlohmann::json{{"miswired", "yes"}}, faults), LineError);
  ApplyFaults(nlohmann::json{{"noTopology", false}}, faults);
  EXPECT_FALSE(faults.noTopology);
}

}  // namespace
}  // namespace sim
