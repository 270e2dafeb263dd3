#include "base/numbers.h"

#include "base/format.h"

namespace base {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Accumulates digits of `radix`; false when the value passes `limit` (so that nothing wraps).
bool Accumulate(std::string_view digits, unsigned radix, uint64_t limit, uint64_t* value) {
  uint64_t result = 0;
  for (char c : digits) {
    const int digit = radix == 16 ? HexDigit(c) : c - '0';
    if (result > (limit - static_cast<uint64_t>(digit)) / radix) return false;
    result = result * radix + static_cast<uint64_t>(digit);
  }
  *value = result;
  return true;
}

}  // namespace

std::string QuotedInput(std::string_view text) {
  // Control characters and bytes outside ASCII are shown as escapes, so that the message
  // itself says what was typed.
  std::string shown;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F) {
      shown.push_back(static_cast<char>(c));
    } else {
      shown += Format("\\x%02X", c);
    }
  }
  return "\"" + shown + "\"";
}

namespace {

std::string RangeText(uint64_t minValue, uint64_t maxValue) {
  return Format("%llu to %llu", static_cast<unsigned long long>(minValue),
                static_cast<unsigned long long>(maxValue));
}

}  // namespace

ParsedNumber ParseWholeNumber(std::string_view text, uint64_t minValue, uint64_t maxValue,
                              NumberBase base) {
  ParsedNumber parsed;
  const auto refuse = [&](const std::string& why) {
    parsed.refusal = why;
    return parsed;
  };
  if (text.empty()) return refuse("an empty text is not a number");
  const bool hex = text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (hex) {
    if (base != NumberBase::DecimalOrHex) {
      return refuse(QuotedInput(text) + " is not a decimal number (write numbers in decimal)");
    }
    const std::string_view digits = text.substr(2);
    for (char c : digits) {
      if (HexDigit(c) < 0) return refuse(QuotedInput(text) + " is not a hexadecimal number");
    }
    if (digits.empty()) return refuse(QuotedInput(text) + " is not a hexadecimal number");
    uint64_t value = 0;
    if (!Accumulate(digits, 16, maxValue, &value) || value < minValue) {
      parsed.outOfRange = true;
      return refuse(QuotedInput(text) + " is outside " + RangeText(minValue, maxValue));
    }
    parsed.value = value;
    return parsed;
  }
  for (char c : text) {
    if (!IsDigit(c)) {
      return refuse(QuotedInput(text) +
                    " is not a whole decimal number (digits 0 to 9 only, no sign, blank, "
                    "exponent or separator)");
    }
  }
  uint64_t value = 0;
  if (!Accumulate(text, 10, maxValue, &value) || value < minValue) {
    parsed.outOfRange = true;
    return refuse(QuotedInput(text) + " is outside " + RangeText(minValue, maxValue));
  }
  parsed.value = value;
  return parsed;
}

std::optional<uint64_t> WholeNumber(std::string_view text, uint64_t minValue, uint64_t maxValue,
                                    NumberBase base) {
  return ParseWholeNumber(text, minValue, maxValue, base).value;
}

}  // namespace base
