// linesim's service command register 22: operating-time resets per drive and the clear of the
// latched short-circuit bits, each reading 0 again once done.
#include <gtest/gtest.h>

#include <vector>

#include "sim/line.h"
#include "sim/module.h"

namespace {

using sim::ModuleSetup;
using sim::SimModule;

struct CommandCase {
  uint16_t command;
  std::vector<uint16_t> expected;  // registers 53, 77, 58, 82 afterwards
};

TEST(SimServiceCommands, Register22ActsOnTheNamedDriveOnly) {
  const CommandCase cases[] = {
      {0x3000, {0, 600, 0x0410, 0x0401}},
      {0xC000, {500, 0, 0x0410, 0x0401}},
      {1, {500, 600, 0x0010, 0x0001}},
      {0x0002, {500, 600, 0x0410, 0x0401}},  // no such command: nothing changes
  };
  for (const CommandCase& c : cases) {
    ModuleSetup setup;
    SimModule module(setup);
    ASSERT_TRUE(module.Poke(53, {500}, false));
    ASSERT_TRUE(module.Poke(77, {600}, false));
    ASSERT_TRUE(module.Poke(58, {0x0410}, false));
    ASSERT_TRUE(module.Poke(82, {0x0401}, false));
    ASSERT_EQ(module.Write(22, 1, &c.command), 0);
    std::vector<uint16_t> values;
    std::vector<uint16_t> got;
    for (uint16_t reg : {53, 77, 58, 82}) {
      ASSERT_TRUE(module.Peek(reg, 1, false, values));
      got.push_back(values[0]);
    }
    EXPECT_EQ(got, c.expected) << c.command;
    ASSERT_TRUE(module.Peek(22, 1, false, values));
    EXPECT_EQ(values[0], 0) << c.command;
  }
}

}  // namespace
