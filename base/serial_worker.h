#pragma once
// One thread that does a screen's module traffic, one thing at a time: a refresh cycle (the
// next pass starts a cycle after the previous one ended) and the user's jobs, which run between
// passes in the order they were posted. The window only posts work and paints what the worker
// reports, so the GUI thread never waits on the network. The node screen, the topology window,
// the diagnostic screen and the PLC data view each own one.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace base {

class SerialWorker {
 public:
  using Job = std::function<void()>;

  // The screen's refresh cycle as the worker follows it. `running` and `generation` are read on
  // the worker thread after every pass and job: a new generation (the screen restarted its
  // timer) arms the cycle again from that moment.
  struct Cycle {
    std::function<bool()> running;
    std::function<uint64_t()> generation;
    std::function<void()> pass;
  };
  struct Hooks {
    std::function<void()> afterWork;      // after every pass and job (publish the view)
    std::function<void(bool busy)> busy;  // around long work (the wait indication)
    std::function<uint32_t()> tick;       // milliseconds, wrapping; default: steady clock
  };

  SerialWorker(Cycle cycle, Hooks hooks, uint32_t cycleMs);
  ~SerialWorker();  // stops and joins
  SerialWorker(const SerialWorker&) = delete;
  SerialWorker& operator=(const SerialWorker&) = delete;

  // Queues a job. `longWork` marks work the user waits for (range operations, line
  // operations): busy(true) before it, busy(false) after it, and LongWorkPending() meanwhile.
  void Post(Job job, bool longWork = false);
  // Ends the thread after the work under way; queued work is dropped.
  void Stop();

  // True from the Post of long work until it has ended (any thread): the window takes no
  // further commands meanwhile.
  bool LongWorkPending() const { return longWork_.load() > 0; }

  // Counters for tests and benchmarks (read from any thread).
  uint64_t PassesRun() const;
  uint64_t JobsRun() const;
  // Blocks the caller until the worker has nothing queued and is not inside a job or pass.
  // For tests and tools only; a window never calls it.
  void WaitIdle();

  // How long the worker may sleep before a pass due at `deadline`, at `now` (ticks wrap).
  static uint32_t WaitBeforePass(uint32_t deadline, uint32_t now, uint32_t cycleMs);

 private:
  struct Posted {
    Job job;
    bool longWork = false;
  };
  void Run();
  uint32_t Now() const;

  Cycle cycle_;
  Hooks hooks_;
  const uint32_t cycleMs_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<Posted> queue_;
  bool stopping_ = false;
  bool working_ = false;
  uint64_t passes_ = 0;
  uint64_t jobs_ = 0;
  std::atomic<int> longWork_{0};
  std::thread thread_;
};

}  // namespace base
