// The pages' register helpers: the mirror map follows the connected module's own register 6,
// and the node range of the window becomes addresses.
#include "pages/module_link.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_pages_line.h"

namespace {

using pagestest::FakePagesLine;
using pagestest::Node;

TEST(PageRegisters, NumbersAreMirroredOnAReversedModuleOnly) {
  const std::pair<uint16_t, bool> cases[] = {
      {0x0000, false}, {0x0004, true}, {0x0094, true}, {0x0034, true}, {0x0005, false}};
  for (const auto& [variant, mirrored] : cases) {
    FakePagesLine line;
    line.Add(Node(1))[6] = variant;
    pages::PageRegisters registers(line);
    ASSERT_TRUE(registers.Connect(Node(1)));
    EXPECT_EQ(registers.Mirrored(), mirrored) << variant;
    line.ops.clear();
    EXPECT_TRUE(registers.WriteOne(40, 7));
    EXPECT_TRUE(registers.SaveToFlash(90, 1));
    EXPECT_TRUE(registers.WriteOne(34, 2));  // not in the map
    const std::vector<std::string> expected =
        mirrored ? std::vector<std::string>{"write 64=7", "save 170=1", "write 34=2"}
                 : std::vector<std::string>{"write 40=7", "save 90=1", "write 34=2"};
    EXPECT_EQ(line.ops, expected) << variant;
  }
}

TEST(PageRegisters, NothingIsSentWithoutAConnection) {
  FakePagesLine line;
  line.Add(Node(1));
  pages::PageRegisters registers(line);
  EXPECT_FALSE(registers.WriteOne(21, 1));
  EXPECT_FALSE(registers.SaveToFlash(21, 1));
  EXPECT_FALSE(registers.ReadOne(21));
  EXPECT_TRUE(line.ops.empty());
}

TEST(RangeAddresses, NodesOfTheNetwork) {
  struct Case {
    int from, to;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {1, 0, {"192.168.202.20"}},
      {2, 4, {"192.168.202.21", "192.168.202.22", "192.168.202.23"}},
      {5, 5, {"192.168.202.24"}},
      {236, 0, {"192.168.202.255"}},
      {4, 2, {}},
      {0, 3, {}},
      {1, 237, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pages::RangeAddresses("192.168.202.20", c.from, c.to), c.expected)
        << c.from << ".." << c.to;
  }
  EXPECT_TRUE(pages::RangeAddresses("192.168.202", 1, 2).empty());
}

}  // namespace
