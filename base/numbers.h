#pragma once
// Numbers a user types on a command line or into a field that takes a whole number: a node,
// a register, a count, a register value, a part of an address.
//
// They are decimal, always: "010" is ten, never eight. Only ASCII digits are taken; a sign, a
// blank, an exponent ("1e3"), a separator or any other character makes the text not a
// number. A value above the allowed maximum is refused, however many digits it has (no
// wrap-around at 2^32 or 2^64). Register values may also be written as explicit hexadecimal
// with "0x" when the caller allows it; a "0x" text is never read as decimal or octal.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace base {

enum class NumberBase { Decimal, DecimalOrHex };

struct ParsedNumber {
  std::optional<uint64_t> value;
  // Why the text was refused: "" when it was taken; otherwise one of the Refusal texts below.
  std::string refusal;
  bool outOfRange = false;  // a well-formed number outside minValue..maxValue
};

// Parses `text` as a whole number from minValue to maxValue.
ParsedNumber ParseWholeNumber(std::string_view text, uint64_t minValue, uint64_t maxValue,
                              NumberBase base = NumberBase::Decimal);

// The same, returning only the value (nullopt when refused).
std::optional<uint64_t> WholeNumber(std::string_view text, uint64_t minValue, uint64_t maxValue,
                                    NumberBase base = NumberBase::Decimal);

// `text` in double quotes for a message, with control characters and bytes outside ASCII
// written as \xNN so that the message shows exactly what was typed.
std::string QuotedInput(std::string_view text);

}  // namespace base
