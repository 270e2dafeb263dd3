#include "watch/ui/watch_control.h"

namespace watch::ui {

namespace {

class LineWatchControl : public WatchControl {
 public:
  explicit LineWatchControl(std::unique_ptr<LineWatch> watch) : watch_(std::move(watch)) {}

  bool Load(std::string* error) override { return watch_->Load(error); }
  void OnEvent(LineWatch::EventSink sink) override { watch_->OnEvent(std::move(sink)); }
  void OnSnapshot(LineWatch::SnapshotSink sink) override { watch_->OnSnapshot(std::move(sink)); }
  bool Start() override { return watch_->Start(); }
  void Stop() override { watch_->Stop(); }
  void ConfirmRestore(uint32_t newSerial) override { watch_->ConfirmRestore(newSerial); }
  void DeclineRestore(uint32_t newSerial) override { watch_->DeclineRestore(newSerial); }

 private:
  std::unique_ptr<LineWatch> watch_;
};

}  // namespace

WatchFactory LineWatchFactory(CMRegApp& app) {
  return [&app](const WatchOptions& options) -> std::shared_ptr<WatchControl> {
    return std::make_shared<LineWatchControl>(std::make_unique<LineWatch>(app, options));
  };
}

WatchFactory LineWatchFactory(
    std::function<std::unique_ptr<LineProbe>(const WatchOptions& options)> makeProbe) {
  return [makeProbe](const WatchOptions& options) -> std::shared_ptr<WatchControl> {
    return std::make_shared<LineWatchControl>(
        std::make_unique<LineWatch>(makeProbe(options), options));
  };
}

}  // namespace watch::ui
