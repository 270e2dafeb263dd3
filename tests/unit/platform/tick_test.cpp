#include "platform/tick.h"

#include <gtest/gtest.h>

namespace {

TEST(TickTest, ElapsedAndDeadlinesHoldAcrossTheWrap) {
  struct Case {
    uint32_t start;
    uint32_t now;
    uint32_t elapsed;
  };
  const Case cases[] = {
      {100, 350, 250},
      {0xFFFFFF00u, 0x00000010u, 0x110},  // wrapped between start and now
      {0xFFFFFFFFu, 0u, 1},
      {5, 5, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::TicksSince(c.start, c.now), c.elapsed) << c.start << " -> " << c.now;
    // The deadline start + elapsed is reached exactly at now, not one tick before.
    const uint32_t deadline = c.start + c.elapsed;
    EXPECT_TRUE(platform::TickReached(c.now, deadline));
    EXPECT_FALSE(platform::TickReached(c.now - 1, deadline));
  }
  // A deadline just past the wrap is not yet reached before it, though numerically smaller.
  EXPECT_FALSE(platform::TickReached(0xFFFFFFF0u, 0x00000010u));
  EXPECT_TRUE(platform::TickReached(0x00000011u, 0x00000010u));
}

TEST(TickTest, CounterAdvancesAtLeastBySleptTime) {
  const uint32_t start = platform::GetTickCount();
  platform::SleepMs(30);
  EXPECT_GE(platform::TicksSince(start), 30u);
}

}  // namespace
