#pragma once
// The tick counter: CLOCK_MONOTONIC milliseconds as a u32 that wraps about every 49.7 days.
// Elapsed time is always taken by unsigned subtraction so that a wrap does no harm.
#include <cstdint>

namespace platform {

uint32_t GetTickCount();
inline uint32_t TicksSince(uint32_t start, uint32_t now) {
  return now - start;
}
inline uint32_t TicksSince(uint32_t start) {
  return GetTickCount() - start;
}
// True once `now` has reached `deadline`, across a wrap (for spans below 2^31 ms).
inline bool TickReached(uint32_t now, uint32_t deadline) {
  return static_cast<int32_t>(now - deadline) >= 0;
}
void SleepMs(uint32_t ms);
// Milliseconds since boot (CLOCK_BOOTTIME): one clock for every process of the machine, never
// stepped back, 64 bits wide. For ordering across processes, not for waits.
uint64_t BootTimeMs();

}  // namespace platform
