#include "plc/exchange.h"

#include <algorithm>

#include "platform/tick.h"

namespace plc {

CTagRequest RunRequest(CRequestManager& manager, CTagRequest request, uint32_t waitMs) {
  CRequestQueue& queue = manager.Queue();
  CTagRequest* queued = queue.Append(std::move(request));
  manager.SubmitRequest(queued);
  const uint32_t start = platform::GetTickCount();
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(queue.Lock());
      const bool last = platform::TicksSince(start) > waitMs;
      if (IsFinalState(queued->state) || last) {
        if (!IsFinalState(queued->state)) queued->state = kStateNoAnswer;
        CTagRequest result = *queued;
        auto& items = queue.Items();
        items.erase(std::remove_if(items.begin(), items.end(),
                                   [queued](const auto& item) { return item.get() == queued; }),
                    items.end());
        return result;
      }
    }
    platform::SleepMs(2);
  }
}

}  // namespace plc
