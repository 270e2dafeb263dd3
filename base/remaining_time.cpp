#include "base/remaining_time.h"

#include <chrono>

#include "base/format.h"

namespace base {
namespace {

constexpr uint64_t kFirstEstimateMs = 1000;

uint64_t SteadyMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

}  // namespace

RemainingTime::RemainingTime(std::function<uint64_t()> nowMs)
    : nowMs_(nowMs ? std::move(nowMs) : SteadyMs) {
  Restart();
}

void RemainingTime::Restart() {
  startMs_ = nowMs_();
}

std::optional<uint32_t> RemainingTime::SecondsLeft(int done, int total) const {
  if (done <= 0 || total <= 0 || done >= total) return std::nullopt;
  const uint64_t elapsed = nowMs_() - startMs_;
  if (elapsed < kFirstEstimateMs) return std::nullopt;
  const uint64_t leftMs =
      elapsed * static_cast<uint64_t>(total - done) / static_cast<uint64_t>(done);
  return static_cast<uint32_t>((leftMs + 999) / 1000);  // never "0:00" while work is left
}

std::string RemainingTime::Text(uint32_t seconds) {
  if (seconds >= 3600)
    return Format("%u:%02u:%02u", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return Format("%u:%02u", seconds / 60, seconds % 60);
}

}  // namespace base
