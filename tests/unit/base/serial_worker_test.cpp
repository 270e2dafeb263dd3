// The serial worker: jobs in order between passes, long work flagged until it has ended, and the
// wait before a pass that never sleeps a whole cycle past its deadline.
#include "base/serial_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

TEST(SerialWorker, WaitBeforeAPassAcrossTheTickWrap) {
  struct Case {
    uint32_t deadline, now, expected;
  };
  for (const Case& c : {
           Case{1000, 600, 400},       // due in 400 ms
           Case{1000, 1000, 0},        // due now
           Case{1000, 1001, 0},        // just passed: due now, not 2^32 - 1 ms away
           Case{1000, 1800, 0},        // long passed
           Case{10, 0xFFFFFFF0u, 26},  // the deadline lies past the wrap
           Case{0xFFFFFFF0u, 10, 0},   // the deadline passed before the wrap
           Case{5000, 0, 500},         // never more than one cycle
       }) {
    EXPECT_EQ(base::SerialWorker::WaitBeforePass(c.deadline, c.now, 500), c.expected)
        << c.deadline << " " << c.now;
  }
}

TEST(SerialWorker, JobsRunInOrderAndLongWorkIsPendingUntilItEnds) {
  std::mutex mutex;
  std::condition_variable released;
  bool go = false;
  std::vector<int> order;
  std::vector<bool> busy;
  base::SerialWorker worker({}, {nullptr, [&](bool b) { busy.push_back(b); }, nullptr}, 500);
  EXPECT_FALSE(worker.LongWorkPending());
  worker.Post(
      [&] {
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return go; });
        order.push_back(1);
      },
      true);
  worker.Post([&] { order.push_back(2); });
  EXPECT_TRUE(worker.LongWorkPending());
  {
    std::lock_guard lock(mutex);
    go = true;
  }
  released.notify_all();
  worker.WaitIdle();
  EXPECT_FALSE(worker.LongWorkPending());
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_EQ(busy, (std::vector<bool>{true, false}));
  EXPECT_EQ(worker.JobsRun(), 2u);
}

TEST(SerialWorker, StopDropsQueuedLongWork) {
  std::atomic<bool> ran{false};
  base::SerialWorker worker({}, {}, 500);
  worker.Stop();
  worker.Post([&] { ran = true; }, true);
  EXPECT_FALSE(worker.LongWorkPending());
  EXPECT_FALSE(ran);
}

}  // namespace
