#pragma once
// What the line watch window drives: the line watch itself, or a stand-in that feeds events
// and snapshots without a network (the GUI test and the screenshots). Toolkit-free.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "watch/line_watch.h"

class CMRegApp;

namespace watch::ui {

class WatchControl {
 public:
  virtual ~WatchControl() = default;
  // Reads the record and the backup file; false with the reason when either cannot be read.
  virtual bool Load(std::string* error) = 0;
  // Sinks are set before Start and are called on the watch's own thread.
  virtual void OnEvent(LineWatch::EventSink sink) = 0;
  virtual void OnSnapshot(LineWatch::SnapshotSink sink) = 0;
  virtual bool Start() = 0;
  // May wait for the network: the window never calls it (nor the destructor) on its thread.
  virtual void Stop() = 0;
  // The answer to the question of a replaced module (the new module's serial); quick.
  virtual void ConfirmRestore(uint32_t newSerial) = 0;
  virtual void DeclineRestore(uint32_t newSerial) = 0;
};

using WatchFactory = std::function<std::shared_ptr<WatchControl>(const WatchOptions& options)>;

// The real watch of the line through `app` (which must outlive every watch it makes).
WatchFactory LineWatchFactory(CMRegApp& app);
// The real watch through other probes (tests, the benchmark).
WatchFactory LineWatchFactory(
    std::function<std::unique_ptr<LineProbe>(const WatchOptions& options)> makeProbe);

}  // namespace watch::ui
