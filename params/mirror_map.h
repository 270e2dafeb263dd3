#pragma once
// Register-number translation for a module mounted reversed (low nibble of register 6 = 4):
// its left and right sides are exchanged, so the drive blocks 40..63 / 64..87, the zone uses
// 90 / 170 and the counter pairs 280 / 281 and 282 / 283 change places.
#include <array>
#include <cstdint>

namespace params {

class MirrorMap {
 public:
  static constexpr int kSize = 513;
  static constexpr uint16_t kVariantRegister = 6;
  static constexpr uint16_t kReversedVariant = 4;

  // The number sent to a reversed module for register `reg`; numbers of 513 and above pass.
  static uint32_t Map(uint32_t reg);
  // True when register 6 (the module variant) marks a reversed module.
  static bool ReversedVariant(uint16_t register6) { return (register6 & 0x0F) == kReversedVariant; }
  // A block read starting at 90 or 170 with two or more registers goes out unmapped.
  static bool BlockReadUnmapped(uint32_t first, uint32_t count) {
    return (first == 90 || first == 170) && count >= 2;
  }
  static const std::array<uint16_t, kSize>& Table();
};

}  // namespace params
