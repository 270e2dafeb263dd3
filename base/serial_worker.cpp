#include "base/serial_worker.h"

#include <chrono>

namespace base {

SerialWorker::SerialWorker(Cycle cycle, Hooks hooks, uint32_t cycleMs)
    : cycle_(std::move(cycle)), hooks_(std::move(hooks)), cycleMs_(cycleMs) {
  thread_ = std::thread([this] { Run(); });
}

SerialWorker::~SerialWorker() {
  Stop();
}

uint32_t SerialWorker::Now() const {
  if (hooks_.tick) return hooks_.tick();
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SerialWorker::Post(Job job, bool longWork) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    if (longWork) ++longWork_;
    queue_.push_back(Posted{std::move(job), longWork});
  }
  wake_.notify_all();
}

void SerialWorker::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    for (const Posted& posted : queue_) {
      if (posted.longWork) --longWork_;
    }
    queue_.clear();
  }
  wake_.notify_all();
  idle_.notify_all();
  if (thread_.joinable()) thread_.join();
}

uint64_t SerialWorker::PassesRun() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return passes_;
}

uint64_t SerialWorker::JobsRun() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return jobs_;
}

void SerialWorker::WaitIdle() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return stopping_ || (queue_.empty() && !working_); });
}

uint32_t SerialWorker::WaitBeforePass(uint32_t deadline, uint32_t now, uint32_t cycleMs) {
  // Signed distance: a deadline just passed is due now, not a whole wrap away.
  const auto left = static_cast<int32_t>(deadline - now);
  if (left <= 0) return 0;
  return static_cast<uint32_t>(left) > cycleMs ? cycleMs : static_cast<uint32_t>(left);
}

void SerialWorker::Run() {
  // The one-shot timer of the cycle: armed whenever the screen (re)starts it, due cycleMs_
  // after that moment, i.e. after the pass that started it has ended.
  bool armed = false;
  uint32_t deadline = 0;
  uint64_t seenGeneration = cycle_.generation ? cycle_.generation() : 0;
  auto followTimer = [&] {
    if (!cycle_.running || !cycle_.running()) {
      armed = false;
    } else if (cycle_.generation() != seenGeneration || !armed) {
      seenGeneration = cycle_.generation();
      armed = true;
      deadline = Now() + cycleMs_;
    }
  };
  auto afterWork = [&] {
    if (hooks_.afterWork) hooks_.afterWork();
  };

  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (!queue_.empty()) {
      Posted posted = std::move(queue_.front());
      queue_.pop_front();
      working_ = true;
      lock.unlock();
      if (posted.longWork && hooks_.busy) {
        hooks_.busy(true);
        afterWork();
      }
      posted.job();
      if (posted.longWork && hooks_.busy) hooks_.busy(false);
      followTimer();
      if (posted.longWork) --longWork_;
      afterWork();
      lock.lock();
      working_ = false;
      ++jobs_;
      continue;
    }
    if (armed && WaitBeforePass(deadline, Now(), cycleMs_) == 0) {
      armed = false;
      working_ = true;
      lock.unlock();
      if (cycle_.pass) cycle_.pass();
      followTimer();
      afterWork();
      lock.lock();
      working_ = false;
      ++passes_;
      continue;
    }
    idle_.notify_all();
    if (armed) {
      wake_.wait_for(lock, std::chrono::milliseconds(WaitBeforePass(deadline, Now(), cycleMs_)));
    } else {
      wake_.wait(lock);
    }
  }
  idle_.notify_all();
}

}  // namespace base
