#pragma once
// A read-only view of a module's 513-word register image, indexed by register number.
// Lookups pass through the side exchange of mirrored modules (low nibble of register 6 = 4),
// exactly as the node screen's own lookups do; Raw() reads a slot as stored.
#include <cstdint>
#include <span>

#include "params/mirror_map.h"

namespace params {

inline constexpr int kImageWords = 513;
using ImageSpan = std::span<const uint16_t, kImageWords>;

class ImageView {
 public:
  explicit ImageView(ImageSpan words) : words_(words) {}

  // Register 6's low nibble 4 marks a module mounted with its sides exchanged.
  bool Mirrored() const { return MirrorMap::ReversedVariant(words_[6]); }
  // The value of register `reg` as the screen sees it (mirror map applied); 0 outside 0..512.
  uint16_t operator[](int reg) const {
    if (reg < 0) return 0;
    return Raw(Mirrored() ? static_cast<int>(MirrorMap::Map(static_cast<uint32_t>(reg))) : reg);
  }
  // The slot as stored, without the mirror map; 0 outside 0..512.
  uint16_t Raw(int reg) const {
    return reg >= 0 && reg < kImageWords ? words_[static_cast<size_t>(reg)] : 0;
  }

  uint8_t Family() const { return static_cast<uint8_t>(Raw(17) >> 8); }
  uint16_t ModuleType() const { return Raw(18); }
  uint16_t Variant() const { return Raw(6); }

 private:
  ImageSpan words_;
};

}  // namespace params
