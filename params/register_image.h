#pragma once
// The node screen's copy of one module's registers: 513 words indexed by register number
// (index 0 carries nothing), plus the slots of the pseudo-registers above 10000.
#include <array>
#include <cstdint>
#include <optional>

namespace params {

class RegisterImage {
 public:
  static constexpr int kSize = 513;

  // Slot of a register in the image: the number itself below 513; 10001 -> 3, 10002 -> 1,
  // 10101 -> 4, 10102 -> 2; nothing for any other number.
  static std::optional<int> SlotOf(uint32_t reg);

  // Value of a slot; 0 for a slot outside the image.
  uint16_t Get(int slot) const;
  // Stores into a slot; a slot outside the image is dropped.
  void Set(int slot, uint16_t value);
  // Stores the words of a block read that started at `first` (host order): word k goes to the
  // slot of first + k; words without a slot are dropped.
  void StoreBlock(uint32_t first, const uint16_t* hostValues, int count);
  void Clear() { words_.fill(0); }
  const std::array<uint16_t, kSize>& Words() const { return words_; }

 private:
  std::array<uint16_t, kSize> words_{};
};

}  // namespace params
