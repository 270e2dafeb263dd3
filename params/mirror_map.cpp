#include "params/mirror_map.h"

namespace params {
namespace {

std::array<uint16_t, MirrorMap::kSize> BuildTable() {
  std::array<uint16_t, MirrorMap::kSize> table{};
  for (int n = 0; n < MirrorMap::kSize; ++n) table[n] = static_cast<uint16_t>(n);
  for (int n = 40; n <= 63; ++n) table[n] = static_cast<uint16_t>(n + 24);
  for (int n = 64; n <= 87; ++n) table[n] = static_cast<uint16_t>(n - 24);
  const int pairs[][2] = {{90, 170}, {280, 281}, {282, 283}};
  for (const auto& pair : pairs) {
    table[pair[0]] = static_cast<uint16_t>(pair[1]);
    table[pair[1]] = static_cast<uint16_t>(pair[0]);
  }
  return table;
}

}  // namespace

const std::array<uint16_t, MirrorMap::kSize>& MirrorMap::Table() {
  static const std::array<uint16_t, kSize> table = BuildTable();
  return table;
}

uint32_t MirrorMap::Map(uint32_t reg) {
  if (reg >= static_cast<uint32_t>(kSize)) return reg;
  return Table()[reg];
}

}  // namespace params
