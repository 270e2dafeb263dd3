// The modules' side of Set NodeIP: the module addressed (by its MAC, or by its address under the
// broadcast MAC) takes the new settings and answers with its new record and the request's
// sequence; nobody else changes, and a module behind a ROUTING module does not hear it.
#include <gtest/gtest.h>

#include "base/bytes.h"
#include "sim/frames.h"
#include "sim/simulator.h"
#include "sim/udp_protocol.h"
#include "unit/sim/test_addresses.h"

namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;
using test_addresses::kBroadcast;
using test_addresses::kPcMac;

std::vector<std::unique_ptr<SimModule>> Chain() {
  std::vector<std::unique_ptr<SimModule>> modules;
  for (int i = 0; i < 2; ++i) {
    ModuleSetup setup;
    setup.serial = 500 + static_cast<uint32_t>(i);
    setup.mac = MacFromSerial(setup.serial);
    setup.address = *ParseIpv4("192.168.202." + std::to_string(20 + i));
    setup.mask = *ParseIpv4("255.255.255.0");
    setup.gateway = *ParseIpv4("192.168.202.1");
    setup.position = i;
    modules.push_back(std::make_unique<SimModule>(setup));
  }
  return modules;
}

Bytes SetNodeIp(const Mac& to, uint32_t toAddress, uint32_t serial, const char* ip,
                const char* mask, const char* gateway, uint8_t dataLength = 20) {
  Bytes payload = {0x20, 0, 0, dataLength, 0x01, 0x05, 0x00, 0x80};
  payload.resize(28, 0);
  base::PutBE32(payload.data() + 8, serial);
  base::Ipv4ToBytes(*ParseIpv4(ip), payload.data() + 12);
  base::Ipv4ToBytes(*ParseIpv4(mask), payload.data() + 16);
  base::Ipv4ToBytes(*ParseIpv4(gateway), payload.data() + 20);
  UdpFrameFields fields;
  fields.destinationMac = to;
  fields.sourceMac = kPcMac;
  fields.sourceAddress = *ParseIpv4("192.168.202.10");
  fields.destinationAddress = toAddress;
  fields.sourcePort = 44532;
  fields.destinationPort = kModulePort;
  return BuildUdpFrame(fields, payload.data(), 8u + dataLength);
}

TEST(SimSetNodeIp, TheAddressedModuleTakesItAndAnswers) {
  auto modules = Chain();
  const Timing timing;
  UdpResponder udp(modules, timing, 1);
  const Bytes request =
      SetNodeIp(modules[1]->MacAddress(), 0xFFFFFFFFu, 501, "10.0.0.7", "255.0.0.0", "10.0.0.1");
  const auto out = udp.OnFrame(request.data(), request.size());
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].module, 1u);
  EXPECT_EQ(modules[1]->Address(), *ParseIpv4("10.0.0.7"));
  EXPECT_EQ(modules[1]->Setup().mask, *ParseIpv4("255.0.0.0"));
  EXPECT_EQ(modules[1]->Setup().gateway, *ParseIpv4("10.0.0.1"));
  EXPECT_EQ(modules[0]->Address(), *ParseIpv4("192.168.202.20"));

  const auto frame = ParseUdpFrame(out[0].bytes.data(), out[0].bytes.size());
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->destinationMac, kPcMac);
  EXPECT_EQ(frame->destinationPort, 44532);
  EXPECT_EQ(frame->sourceAddress, *ParseIpv4("10.0.0.7"));
  ASSERT_GE(frame->payloadLength, 8u + 16u);
  const uint8_t* p = frame->payload;
  EXPECT_EQ(p[0], kCodeSetNodeIpAnswer);
  EXPECT_EQ(Bytes(p + 4, p + 8), (Bytes{0x01, 0x05, 0x00, 0x80}));  // the request's sequence
  EXPECT_GE(p[3], 16);
  EXPECT_EQ(base::GetBE32(p + 8), 501u);
  EXPECT_EQ(Bytes(p + 12, p + 24), (Bytes{10, 0, 0, 7, 255, 0, 0, 0, 10, 0, 0, 1}));
}

TEST(SimSetNodeIp, TheSameAddressWithAnotherSerialChangesTheSerial) {
  auto modules = Chain();
  const Timing timing;
  UdpResponder udp(modules, timing, 1);
  const Bytes request = SetNodeIp(modules[0]->MacAddress(), 0xFFFFFFFFu, 123456, "192.168.202.20",
                                  "255.255.255.0", "192.168.202.1");
  const auto out = udp.OnFrame(request.data(), request.size());
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(modules[0]->Serial(), 123456u);
  const auto frame = ParseUdpFrame(out[0].bytes.data(), out[0].bytes.size());
  ASSERT_TRUE(frame && frame->payloadLength >= 12u);
  EXPECT_EQ(base::GetBE32(frame->payload + 8), 123456u);
  // A new address with another serial: only the address changes.
  const Bytes moved = SetNodeIp(modules[1]->MacAddress(), 0xFFFFFFFFu, 999, "192.168.202.40",
                                "255.255.255.0", "192.168.202.1");
  udp.OnFrame(moved.data(), moved.size());
  EXPECT_EQ(modules[1]->Serial(), 501u);
  EXPECT_EQ(modules[1]->Address(), *ParseIpv4("192.168.202.40"));
}

TEST(SimSetNodeIp, AnAddressAnotherModuleHasIsTakenSoThatTwoModulesCanSwap) {
  // The line's conflict is discovery's to show; the module just takes what it is sent.
  Simulator simulator(ParseLine(nlohmann::json::parse(R"({"network": "127.0.0.0",
      "mask": "255.0.0.0", "chains": [[{"serial": 1, "node": 1}, {"serial": 2, "node": 2}]]})")),
                      SimulatorOptions{});
  const uint32_t first = simulator.Module(0).Address();
  const uint32_t second = simulator.Module(1).Address();
  const uint32_t mask = *ParseIpv4("255.0.0.0");
  simulator.TakeSetNodeIp(0, second, mask, 0);
  EXPECT_EQ(simulator.Module(0).Address(), second);  // both on one address for a moment
  simulator.TakeSetNodeIp(1, first, mask, 0);
  EXPECT_EQ(simulator.Module(1).Address(), first);
  EXPECT_EQ(simulator.Module(0).Address(), second);
  // An address no host can have is taken too: the module is left without one to answer on.
  simulator.TakeSetNodeIp(1, 0, mask, 0);
  EXPECT_EQ(simulator.Module(1).Address(), 0u);
  std::vector<uint16_t> words;
  ASSERT_TRUE(simulator.Module(1).Peek(26, 2, false, words));
  EXPECT_EQ(words, (std::vector<uint16_t>{0, 0}));
}

TEST(SimSetNodeIp, OnlyTheAddressedModuleThatHearsIt) {
  auto modules = Chain();
  const Timing timing;
  UdpResponder udp(modules, timing, 1);
  // By address under the broadcast MAC: the module with that address.
  Bytes request = SetNodeIp(kBroadcast, *ParseIpv4("192.168.202.20"), 500, "192.168.202.30",
                            "255.255.255.0", "192.168.202.1");
  auto out = udp.OnFrame(request.data(), request.size());
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].module, 0u);
  EXPECT_EQ(modules[0]->Address(), *ParseIpv4("192.168.202.30"));
  EXPECT_EQ(modules[1]->Address(), *ParseIpv4("192.168.202.21"));

  // Behind a ROUTING module the request does not arrive.
  modules[0]->SetRouting(true);
  request = SetNodeIp(modules[1]->MacAddress(), 0xFFFFFFFFu, 501, "192.168.202.31", "255.255.255.0",
                      "192.168.202.1");
  out = udp.OnFrame(request.data(), request.size());
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(modules[1]->Address(), *ParseIpv4("192.168.202.21"));

  // The silentSetNodeIp fault: neither taken nor answered.
  modules[0]->SetRouting(false);
  modules[1]->ModuleFaults().silentSetNodeIp = true;
  request = SetNodeIp(modules[1]->MacAddress(), 0xFFFFFFFFu, 501, "192.168.202.31", "255.255.255.0",
                      "192.168.202.1");
  EXPECT_TRUE(udp.OnFrame(request.data(), request.size()).empty());
  EXPECT_EQ(modules[1]->Address(), *ParseIpv4("192.168.202.21"));
  modules[1]->ModuleFaults().silentSetNodeIp = false;

  // Too short to carry the gateway: nothing happens.
  modules[0]->SetRouting(false);
  request = SetNodeIp(modules[1]->MacAddress(), 0xFFFFFFFFu, 501, "192.168.202.31", "255.255.255.0",
                      "192.168.202.1", 12);
  out = udp.OnFrame(request.data(), request.size());
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(modules[1]->Address(), *ParseIpv4("192.168.202.21"));
}

}  // namespace
}  // namespace sim
