#include "params/node_screen_worker.h"

#include "params/node_screen_controller.h"
#include "platform/tick.h"

namespace params {

NodeScreenWorker::NodeScreenWorker(NodeScreenController& controller, ViewListener listener,
                                   uint32_t cycleMs)
    : controller_(controller),
      listener_(std::move(listener)),
      worker_(base::SerialWorker::Cycle{
                  [&controller] { return controller.TimerRunning(); },
                  [&controller] { return controller.TimerGeneration(); },
                  [&controller] { controller.OnTimer(); },
              },
              base::SerialWorker::Hooks{
                  [this] { PublishView(); },
                  [&controller](bool busy) { controller.SetBusy(busy); },
                  [] { return platform::GetTickCount(); },
              },
              cycleMs) {
  controller_.SetProgressListener([this] { PublishView(); });
}

NodeScreenWorker::~NodeScreenWorker() {
  Stop();
  controller_.SetProgressListener(nullptr);
}

void NodeScreenWorker::Post(Job job, bool showWait) {
  worker_.Post([this, job = std::move(job)] { job(controller_); }, showWait);
}

void NodeScreenWorker::Stop() {
  worker_.Stop();
}

void NodeScreenWorker::PublishView() {
  if (listener_) listener_(controller_.View());
}

}  // namespace params
