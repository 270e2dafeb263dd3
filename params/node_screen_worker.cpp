#include "params/node_screen_worker.h"

#include <chrono>

#include "params/node_screen_controller.h"
#include "platform/tick.h"

namespace params {

NodeScreenWorker::NodeScreenWorker(NodeScreenController& controller, ViewListener listener,
                                   uint32_t cycleMs)
    : controller_(controller), listener_(std::move(listener)), cycleMs_(cycleMs) {
  controller_.SetProgressListener([this] { PublishView(); });
  thread_ = std::thread([this] { Run(); });
}

NodeScreenWorker::~NodeScreenWorker() {
  Stop();
  controller_.SetProgressListener(nullptr);
}

void NodeScreenWorker::Post(Job job, bool showWait) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    queue_.push_back(Posted{std::move(job), showWait});
  }
  wake_.notify_all();
}

void NodeScreenWorker::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  wake_.notify_all();
  idle_.notify_all();
  if (thread_.joinable()) thread_.join();
}

uint64_t NodeScreenWorker::PassesRun() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return passes_;
}

uint64_t NodeScreenWorker::JobsRun() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return jobs_;
}

void NodeScreenWorker::WaitIdle() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return stopping_ || (queue_.empty() && !working_); });
}

void NodeScreenWorker::PublishView() {
  if (listener_) listener_(controller_.View());
}

void NodeScreenWorker::Run() {
  // The one-shot timer of the cycle: armed whenever the controller (re)starts it, due
  // cycleMs_ after that moment, i.e. after the pass that started it has ended.
  bool armed = false;
  uint32_t deadline = 0;
  uint64_t seenGeneration = controller_.TimerGeneration();
  auto followTimer = [&] {
    if (!controller_.TimerRunning()) {
      armed = false;
    } else if (controller_.TimerGeneration() != seenGeneration || !armed) {
      seenGeneration = controller_.TimerGeneration();
      armed = true;
      deadline = platform::GetTickCount() + cycleMs_;
    }
  };

  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (!queue_.empty()) {
      Posted posted = std::move(queue_.front());
      queue_.pop_front();
      working_ = true;
      lock.unlock();
      if (posted.showWait) {
        controller_.SetBusy(true);
        PublishView();
      }
      posted.job(controller_);
      if (posted.showWait) controller_.SetBusy(false);
      followTimer();
      PublishView();
      lock.lock();
      working_ = false;
      ++jobs_;
      continue;
    }
    if (armed && platform::TickReached(platform::GetTickCount(), deadline)) {
      armed = false;
      working_ = true;
      lock.unlock();
      controller_.OnTimer();
      followTimer();
      PublishView();
      lock.lock();
      working_ = false;
      ++passes_;
      continue;
    }
    idle_.notify_all();
    if (armed) {
      const uint32_t left = deadline - platform::GetTickCount();
      wake_.wait_for(lock, std::chrono::milliseconds(left > cycleMs_ ? cycleMs_ : left));
    } else {
      wake_.wait(lock);
    }
  }
  idle_.notify_all();
}

}  // namespace params
