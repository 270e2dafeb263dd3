#pragma once
// The tick counter: CLOCK_MONOTONIC milliseconds as a u32 that wraps about every 49.7 days.
// Elapsed time is always taken by unsigned subtraction so that a wrap does no harm.
#include <cstdint>

namespace platform {

uint32_t GetTickCount();
inline uint32_t TicksSince(uint32_t start, uint32_t now) { return now - start; }
inline uint32_t TicksSince(uint32_t start) { return GetTickCount() - start; }
// True once `now` has reached `deadline`, across a wrap (for spans below 2^31 ms).
inline bool TickReached(uint32_t now, uint32_t deadline) {
  return static_cast<int32_t>(now - deadline) >= 0;
}
void SleepMs(uint32_t ms);

}  // namespace platform
