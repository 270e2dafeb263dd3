// The one parser of module targets: node numbers, addresses and serial numbers, decimal
// everywhere, with the node screen's message for node numbers out of range.
#include "params/target.h"
#include "unit/params/plan_steps.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using params::ModuleTarget;
using Kind = ModuleTarget::Kind;

using params_test::kNodeMessage;

TEST(Target, ParsesNodesAddressesAndSerials) {
  struct Case {
    std::string text;
    Kind kind;
    std::string expected;  // node number, address or serial as text; "" when refused
    bool nodeMessage = false;
  };
  const Case cases[] = {
      {"1", Kind::Node, "1"},
      {"010", Kind::Node, "10"},  // decimal, not node 8
      {"08", Kind::Node, "8"},
      {"236", Kind::Node, "236"},
      {"237", Kind::Node, "", true},
      {"0", Kind::Node, "", true},
      {"000", Kind::Node, "", true},
      {"4294967297", Kind::Node, "", true},  // 2^32 + 1 is not node 1
      {"99999999999999999999999", Kind::Node, "", true},
      {"", Kind::Node, ""},
      {"-1", Kind::Node, ""},
      {"+1", Kind::Node, ""},
      {" 1", Kind::Node, ""},
      {"1e3", Kind::Node, ""},
      {"0x1", Kind::Node, ""},
      {"\xEF\xBC\x91", Kind::Node, ""},  // FULLWIDTH DIGIT ONE
      {"192.168.202.20", Kind::Address, "192.168.202.20"},
      {"192.168.202.020", Kind::Address, "192.168.202.20"},  // parts are decimal too
      {"192.168.202.256", Kind::Address, ""},
      {"192.168.202", Kind::Address, ""},
      {"192.168.202.20.1", Kind::Address, ""},
      {"192.168..20", Kind::Address, ""},
      {"192.168.202.0x14", Kind::Address, ""},
      {"192.168.202.-1", Kind::Address, ""},
      {"192.168.202.4294967316", Kind::Address, ""},  // 2^32 + 20 does not wrap to .20
      {"sn:3100101", Kind::Serial, "3100101"},
      {"SN:0003100101", Kind::Serial, "3100101"},
      {"sn:4294967295", Kind::Serial, "4294967295"},
      {"sn:4294967296", Kind::Serial, ""},
      {"sn:0", Kind::Serial, ""},
      {"sn:", Kind::Serial, ""},
      {"sn:-5", Kind::Serial, ""},
  };
  for (const Case& c : cases) {
    const ModuleTarget target = params::ParseTarget(c.text);
    EXPECT_EQ(target.kind, c.kind) << '"' << c.text << '"';
    EXPECT_EQ(target.Refused(), c.expected.empty()) << '"' << c.text << "\": " << target.refusal;
    if (c.nodeMessage) {
      EXPECT_EQ(target.refusal, kNodeMessage) << c.text;
    }
    if (!c.expected.empty() && !c.nodeMessage) {
      switch (c.kind) {
        case Kind::Node:
          EXPECT_EQ(std::to_string(target.node), c.expected);
          break;
        case Kind::Address:
          EXPECT_EQ(params::AddressText(target.address), c.expected);
          break;
        case Kind::Serial:
          EXPECT_EQ(std::to_string(target.serial), c.expected);
          break;
      }
    }
  }
}

TEST(Target, NodeAddressIsTheNetworkWithNodePlusNineteen) {
  const params::Ipv4Bytes net{192, 168, 202, 0};
  EXPECT_EQ(params::AddressText(params::NodeAddress(net, 1)), "192.168.202.20");
  EXPECT_EQ(params::AddressText(params::NodeAddress(net, 236)), "192.168.202.255");
}

}  // namespace
