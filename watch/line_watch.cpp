#include "watch/line_watch.h"

#include <atomic>
#include <thread>

namespace watch {

const char* EventName(EventKind kind) {
  switch (kind) {
    case EventKind::Gone:
      return "gone";
    case EventKind::Back:
      return "back";
    case EventKind::Moved:
      return "moved";
    case EventKind::Turned:
      return "turned";
    case EventKind::OtherAddress:
      return "other_address";
    case EventKind::OtherFirmware:
      return "other_firmware";
    case EventKind::Replaced:
      return "replaced";
    case EventKind::NewModule:
      return "new_module";
    case EventKind::DuplicateAddress:
      return "duplicate_address";
    case EventKind::RestoreDone:
      return "restore_done";
    case EventKind::RestoreFailed:
      return "restore_failed";
    case EventKind::RestoreDeclined:
      return "restore_declined";
    case EventKind::RoundFailed:
      return "round_failed";
  }
  return "unknown";
}

const char* PresenceName(Presence presence) {
  switch (presence) {
    case Presence::Present:
      return "present";
    case Presence::Missing:
      return "missing";
    case Presence::Gone:
      return "gone";
    case Presence::Replaced:
      return "replaced";
  }
  return "unknown";
}

std::string PositionText(const ModulePosition& position) {
  return "row " + std::to_string(position.row) + ", column " + std::to_string(position.column);
}

std::string EventText(const WatchEvent& event) {
  return EventName(event.kind);
}
std::string EventJson(const WatchEvent& event) {
  return EventName(event.kind);
}

std::unique_ptr<LineProbe> MakeLineProbe(CMRegApp&, const WatchOptions&) {
  return nullptr;
}

struct LineWatch::State {
  std::unique_ptr<LineProbe> probe;
  WatchOptions options;
  mutable std::mutex lock;
  LineSnapshot snapshot;
};

LineWatch::LineWatch(CMRegApp& app, WatchOptions options)
    : LineWatch(MakeLineProbe(app, options), options) {}
LineWatch::LineWatch(std::unique_ptr<LineProbe> probe, WatchOptions options)
    : state_(std::make_unique<State>()) {
  state_->probe = std::move(probe);
  state_->options = std::move(options);
}
LineWatch::~LineWatch() {
  Stop();
}
bool LineWatch::Load(std::string* error) {
  *error = "not yet";
  return false;
}
void LineWatch::OnEvent(EventSink) {}
void LineWatch::OnSnapshot(SnapshotSink) {}
bool LineWatch::Start() {
  return false;
}
void LineWatch::Stop() {}
bool LineWatch::Running() const {
  return false;
}
void LineWatch::ConfirmRestore(uint32_t) {}
void LineWatch::DeclineRestore(uint32_t) {}
std::vector<uint32_t> LineWatch::PendingRestores() const {
  return {};
}
LineSnapshot LineWatch::Snapshot() const {
  std::lock_guard<std::mutex> hold(state_->lock);
  return state_->snapshot;
}

}  // namespace watch
