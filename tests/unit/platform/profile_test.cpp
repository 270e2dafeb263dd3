#include "platform/profile.h"

#include <gtest/gtest.h>

namespace {

TEST(ProfileTest, StringsAreKeptPerSectionAndKey) {
  platform::MemoryProfileStore store;
  EXPECT_EQ(store.GetString("Settings", "Default Net", "192.168.202.20"), "192.168.202.20");
  store.SetString("Settings", "Default Net", "10.0.1.20");
  store.SetString("Other", "Default Net", "x");
  EXPECT_EQ(store.GetString("Settings", "Default Net", "192.168.202.20"), "10.0.1.20");
  EXPECT_EQ(store.GetString("Other", "Default Net", ""), "x");
  // Section and key are not simply concatenated.
  store.SetString("ab", "c", "1");
  EXPECT_EQ(store.GetString("a", "bc", "none"), "none");
  store.SetString("Settings", "Default Net", "");
  EXPECT_EQ(store.GetString("Settings", "Default Net", "d"), "");
}

TEST(ProfileTest, IntegersRoundTripAndBadEntriesGiveTheDefault) {
  platform::MemoryProfileStore store;
  EXPECT_EQ(store.GetInt("S", "k", 7), 7);
  for (int value : {0, -5, 123456, 2147483647, -2147483647 - 1}) {
    store.SetInt("S", "k", value);
    EXPECT_EQ(store.GetInt("S", "k", 7), value);
  }
  const struct {
    const char* text;
    int expected;
  } cases[] = {{"", 7}, {"abc", 7}, {"99999999999", 7}, {"42", 42}, {" 12", 12}, {"-3", -3}};
  for (const auto& c : cases) {
    store.SetString("S", "k", c.text);
    EXPECT_EQ(store.GetInt("S", "k", 7), c.expected) << '"' << c.text << '"';
  }
}

}  // namespace
