// Numbers typed by a user are decimal: leading zeros never make octal, nothing wraps, and
// anything that is not plain digits is refused with a reason.
#include "base/numbers.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using base::NumberBase;

struct Case {
  std::string text;
  uint64_t min, max;
  NumberBase base;
  std::optional<uint64_t> value;
  bool outOfRange;
};

TEST(Numbers, WholeNumbersAreDecimalAndBounded) {
  const NumberBase D = NumberBase::Decimal;
  const NumberBase H = NumberBase::DecimalOrHex;
  const Case cases[] = {
      {"10", 0, 65535, D, 10, false},
      {"010", 0, 65535, D, 10, false},  // never octal
      {"0200", 0, 65535, D, 200, false},
      {"08", 0, 65535, D, 8, false},  // not an invalid octal
      {"0", 0, 65535, D, 0, false},
      {"00000000000000000000001", 0, 65535, D, 1, false},
      {"65535", 0, 65535, D, 65535, false},
      {"65536", 0, 65535, D, std::nullopt, true},
      {"4294967297", 1, 236, D, std::nullopt, true},              // 2^32 + 1 does not wrap to 1
      {"18446744073709551617", 0, ~0ull, D, std::nullopt, true},  // 2^64 + 1 neither
      {"18446744073709551615", 0, ~0ull, D, ~0ull, false},
      {"0", 1, 236, D, std::nullopt, true},
      {"", 0, 65535, D, std::nullopt, false},
      {"-1", 0, 65535, D, std::nullopt, false},
      {"+1", 0, 65535, D, std::nullopt, false},
      {" 1", 0, 65535, D, std::nullopt, false},
      {"1 ", 0, 65535, D, std::nullopt, false},
      {"1e3", 0, 65535, D, std::nullopt, false},
      {"1.0", 0, 65535, D, std::nullopt, false},
      {"1,0", 0, 65535, D, std::nullopt, false},
      {"0x10", 0, 65535, D, std::nullopt, false},  // hex only where it is allowed
      {"0x10", 0, 65535, H, 16, false},
      {"0XfFfF", 0, 65535, H, 65535, false},
      {"0x10000", 0, 65535, H, std::nullopt, true},
      {"0x", 0, 65535, H, std::nullopt, false},
      {"0x1g", 0, 65535, H, std::nullopt, false},
      {"010", 0, 65535, H, 10, false},                     // a leading zero is still decimal
      {"\xD9\xA1", 0, 65535, D, std::nullopt, false},      // ARABIC-INDIC DIGIT ONE
      {"\xEF\xBC\x91", 0, 65535, D, std::nullopt, false},  // FULLWIDTH DIGIT ONE
      {std::string("1\0", 2), 0, 65535, D, std::nullopt, false},
  };
  for (const Case& c : cases) {
    const base::ParsedNumber parsed = base::ParseWholeNumber(c.text, c.min, c.max, c.base);
    EXPECT_EQ(parsed.value, c.value) << '"' << c.text << '"';
    EXPECT_EQ(parsed.outOfRange, c.outOfRange) << '"' << c.text << '"';
    EXPECT_EQ(parsed.refusal.empty(), c.value.has_value()) << '"' << c.text << '"';
  }
}

TEST(Numbers, RefusalsShowWhatWasTyped) {
  EXPECT_EQ(base::ParseWholeNumber("4294967297", 1, 236).refusal,
            "\"4294967297\" is outside 1 to 236");
  EXPECT_NE(base::ParseWholeNumber("0x10", 0, 65535).refusal.find("decimal"), std::string::npos);
  // Bytes outside ASCII are escaped, not copied into the message.
  EXPECT_EQ(base::QuotedInput("\xEF\xBC\x91\t"), "\"\\xEF\\xBC\\x91\\x09\"");
}

}  // namespace
