#include "discovery/discover_environment.h"

#include <atomic>

#include "platform/tick.h"

namespace discovery {
namespace {
DiscoverEnvironment& RealEnvironment() {
  static DiscoverEnvironment real;
  return real;
}
std::atomic<DiscoverEnvironment*> g_installed{nullptr};
}  // namespace

uint32_t DiscoverEnvironment::Now() {
  return platform::GetTickCount();
}
void DiscoverEnvironment::Sleep(uint32_t ms) {
  platform::SleepMs(ms);
}
std::optional<std::vector<platform::AdapterInfo>> DiscoverEnvironment::ListAdapters() {
  return platform::ListAdapters();
}

DiscoverEnvironment& Environment() {
  DiscoverEnvironment* installed = g_installed.load();
  return installed != nullptr ? *installed : RealEnvironment();
}

ScopedDiscoverEnvironment::ScopedDiscoverEnvironment(DiscoverEnvironment* environment)
    : previous_(g_installed.exchange(environment)) {}

ScopedDiscoverEnvironment::~ScopedDiscoverEnvironment() {
  g_installed.store(previous_);
}

}  // namespace discovery
