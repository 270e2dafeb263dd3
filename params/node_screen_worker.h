#pragma once
// The node screen's worker thread. It does all of the screen's module traffic, one thing at a
// time: the refresh cycle (the next pass starts 500 ms after the previous one ended; a pass
// that fails ends the cycle until the user acts) and the user's actions, which run between
// passes in the order they were given. The window only posts work and paints what the worker
// reports, so its thread never waits on the network.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace params {

class NodeScreenController;
struct NodeScreenView;

class NodeScreenWorker {
 public:
  using Job = std::function<void(NodeScreenController&)>;
  // Called on the worker thread after every pass and every job, and whenever the controller
  // reports progress in between (status texts of range operations).
  using ViewListener = std::function<void(const NodeScreenView&)>;

  static constexpr uint32_t kCycleMs = 500;

  NodeScreenWorker(NodeScreenController& controller, ViewListener listener,
                   uint32_t cycleMs = kCycleMs);
  ~NodeScreenWorker();  // stops and joins
  NodeScreenWorker(const NodeScreenWorker&) = delete;
  NodeScreenWorker& operator=(const NodeScreenWorker&) = delete;

  // Queues a user action. `showWait` marks long work (range operations): the view reports
  // busy from its start to its end.
  void Post(Job job, bool showWait = false);
  // Ends the thread after the work under way; queued work is dropped.
  void Stop();

  // Counters for tests and benchmarks (read from any thread).
  uint64_t PassesRun() const;
  uint64_t JobsRun() const;
  // Blocks the caller until the worker has nothing queued and is not inside a job or pass.
  // For tests and tools only; the window never calls it.
  void WaitIdle();

 private:
  struct Posted {
    Job job;
    bool showWait = false;
  };
  void Run();
  void PublishView();

  NodeScreenController& controller_;
  ViewListener listener_;
  const uint32_t cycleMs_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<Posted> queue_;
  bool stopping_ = false;
  bool working_ = false;
  uint64_t passes_ = 0;
  uint64_t jobs_ = 0;
  std::thread thread_;
};

}  // namespace params
