// The time left of a long operation: no estimate before a second has passed or before
// anything is done, a linear estimate after that, rounded up, and the texts.
#include <gtest/gtest.h>

#include "base/remaining_time.h"

namespace {

TEST(RemainingTime, EstimatesFromTheShareDoneOnceItMeansSomething) {
  uint64_t now = 5000;
  base::RemainingTime remaining([&] { return now; });
  now += 500;
  EXPECT_FALSE(remaining.SecondsLeft(5, 10).has_value());  // too early
  now += 1500;                                             // 2 s in
  EXPECT_FALSE(remaining.SecondsLeft(0, 10).has_value());  // nothing done yet
  EXPECT_EQ(remaining.SecondsLeft(1, 10), 18u);            // 2 s per module, 9 left
  EXPECT_EQ(remaining.SecondsLeft(3, 4), 1u);              // 0.67 s rounds up
  EXPECT_FALSE(remaining.SecondsLeft(10, 10).has_value());
  remaining.Restart();
  EXPECT_FALSE(remaining.SecondsLeft(1, 10).has_value());
}

TEST(RemainingTime, Texts) {
  EXPECT_EQ(base::RemainingTime::Text(42), "0:42");
  EXPECT_EQ(base::RemainingTime::Text(725), "12:05");
  EXPECT_EQ(base::RemainingTime::Text(3723), "1:02:03");
}

}  // namespace
