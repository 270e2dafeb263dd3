#include "params/register_image.h"

namespace params {

std::optional<int> RegisterImage::SlotOf(uint32_t reg) {
  if (reg < static_cast<uint32_t>(kSize)) return static_cast<int>(reg);
  switch (reg) {
    case 10001:
      return 3;
    case 10002:
      return 1;
    case 10101:
      return 4;
    case 10102:
      return 2;
    default:
      return std::nullopt;
  }
}

uint16_t RegisterImage::Get(int slot) const {
  if (slot < 0 || slot >= kSize) return 0;
  return words_[static_cast<size_t>(slot)];
}

void RegisterImage::Set(int slot, uint16_t value) {
  if (slot < 0 || slot >= kSize) return;
  words_[static_cast<size_t>(slot)] = value;
}

void RegisterImage::StoreBlock(uint32_t first, const uint16_t* hostValues, int count) {
  for (int k = 0; k < count; ++k) {
    if (const auto slot = SlotOf(first + static_cast<uint32_t>(k))) Set(*slot, hostValues[k]);
  }
}

}  // namespace params
