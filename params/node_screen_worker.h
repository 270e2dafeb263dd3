#pragma once
// The node screen's worker: a serial worker (base/serial_worker.h) whose cycle is the
// controller's 500 ms refresh timer and whose jobs get the controller. The window only posts
// work and paints what the worker reports, so its thread never waits on the network.
#include <cstdint>
#include <functional>

#include "base/serial_worker.h"

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
  // busy from its start to its end, and LongWorkPending() holds until it has ended.
  void Post(Job job, bool showWait = false);
  // Ends the thread after the work under way; queued work is dropped.
  void Stop();
  bool LongWorkPending() const { return worker_.LongWorkPending(); }

  uint64_t PassesRun() const { return worker_.PassesRun(); }
  uint64_t JobsRun() const { return worker_.JobsRun(); }
  // For tests and tools only; the window never calls it.
  void WaitIdle() { worker_.WaitIdle(); }
  // The serial worker itself (pages that run on the node screen's worker post plain jobs).
  base::SerialWorker& Serial() { return worker_; }

 private:
  void PublishView();

  NodeScreenController& controller_;
  ViewListener listener_;
  base::SerialWorker worker_;
};

}  // namespace params
