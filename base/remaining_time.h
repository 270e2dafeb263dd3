#pragma once
// The time a long operation still needs, estimated from its progress so far, for progress bars
// on the terminal and in the windows.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace base {

class RemainingTime {
 public:
  // `nowMs`: a monotonic clock in milliseconds (a seam for tests).
  explicit RemainingTime(std::function<uint64_t()> nowMs = {});
  // Starts the clock again (the constructor starts it).
  void Restart();
  // Seconds left at `done` of `total`; nullopt until an estimate means something (a second has
  // passed and something is done) and once everything is done.
  std::optional<uint32_t> SecondsLeft(int done, int total) const;

  // "0:42", "12:05", "1:02:03".
  static std::string Text(uint32_t seconds);

 private:
  std::function<uint64_t()> nowMs_;
  uint64_t startMs_ = 0;
};

}  // namespace base
