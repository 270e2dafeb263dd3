#pragma once
// What the discovery code asks of the system besides the capture driver: the tick counter, a
// pause, and the operating system's adapter list. The real one uses platform/; tests put a
// scripted one in place (one per process at a time) so that timing rules can be checked on a
// simulated clock instead of the wall clock.
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/adapters.h"

namespace discovery {

class DiscoverEnvironment {
 public:
  virtual ~DiscoverEnvironment() = default;
  virtual uint32_t Now();
  virtual void Sleep(uint32_t ms);
  virtual std::optional<std::vector<platform::AdapterInfo>> ListAdapters();
};

// The environment in use (the real one unless a test installed another).
DiscoverEnvironment& Environment();

// Installs `environment` for its lifetime and restores the previous one afterwards.
class ScopedDiscoverEnvironment {
 public:
  explicit ScopedDiscoverEnvironment(DiscoverEnvironment* environment);
  ~ScopedDiscoverEnvironment();
  ScopedDiscoverEnvironment(const ScopedDiscoverEnvironment&) = delete;
  ScopedDiscoverEnvironment& operator=(const ScopedDiscoverEnvironment&) = delete;

 private:
  DiscoverEnvironment* previous_;
};

}  // namespace discovery
