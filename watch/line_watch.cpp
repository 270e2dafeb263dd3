#include "watch/line_watch.h"

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "backup/backup_file.h"
#include "base/format.h"
#include "comm/event_log.h"
#include "topology/line_record.h"
#include "watch/event_detail.h"
#include "watch/line_tracker.h"

namespace watch {

using nlohmann::json;

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
    case EventKind::LineAsRecorded:
      return "line_as_recorded";
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
  return base::Format("row %d, column %d", position.row, position.column);
}

namespace {

// "2026-12-11T04:05:06.123Z": UTC, so that lines of several PCs sort together.
std::string TimeText(Clock::time_point at) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  return base::Format("%s.%03dZ", text, static_cast<int>(ms % 1000));
}

}  // namespace

// Appended piece by piece: GCC 12 at -O3 takes `"literal" + std::string` for an overlapping
// copy (-Wrestrict).
std::string EventText(const WatchEvent& event) {
  std::string text = TimeText(event.time);
  text.append(" ").append(EventName(event.kind));
  if (event.serial != 0) text.append(base::Format(" SN %u", event.serial));
  if (!event.ip.empty()) text.append(" (").append(event.ip).append(")");
  if (event.position) text.append(" ").append(PositionText(*event.position));
  if (!event.detail.empty()) text.append(": ").append(event.detail);
  return text;
}

std::string EventJson(const WatchEvent& event) {
  json line{{"time", TimeText(event.time)},
            {"event", EventName(event.kind)},
            {"serial", event.serial != 0 ? json(event.serial) : json(nullptr)},
            {"ip", event.ip.empty() ? json(nullptr) : json(event.ip)},
            {"position",
             event.position ? json{{"row", event.position->row}, {"column", event.position->column}}
                            : json(nullptr)},
            {"detail", event.detail}};
  if (event.outage) line["outage_ms"] = event.outage->count();
  if (event.replacedSerial != 0) line["replaced_serial"] = event.replacedSerial;
  return line.dump(-1, ' ', false, json::error_handler_t::replace);
}

struct LineWatch::State {
  std::unique_ptr<LineProbe> probe;
  WatchOptions options;
  std::optional<LineTracker> tracker;      // set by Load; used on the worker only once started
  std::map<uint32_t, bool> backupSerials;  // serials the backup file holds a record of

  EventSink eventSink;
  SnapshotSink snapshotSink;

  mutable std::mutex lock;  // guards what follows
  std::condition_variable wake;
  bool stopping = false;
  LineSnapshot snapshot;
  struct Pending {
    uint32_t recordSerial = 0;
    std::string ip;
  };
  std::map<uint32_t, Pending> pending;  // new serial -> its question
  std::vector<uint32_t> confirmed, declined;
  std::thread worker;
  std::atomic<bool> running{false};
  bool workerEnded = true;  // guarded by lock
  // Held while a sink is called, so that Stop can be sure none is running once it returns.
  std::mutex sinkLock;
  bool sinksOff = false;  // guarded by sinkLock

  void Deliver(const std::vector<WatchEvent>& events);
  void PublishSnapshot();
  void Round();
  void AnswerQuestions();
  void Loop();
};

void LineWatch::State::Deliver(const std::vector<WatchEvent>& events) {
  for (const WatchEvent& event : events) {
    LogInfo("line watch: %s", EventText(event).c_str());
    std::lock_guard<std::mutex> hold(sinkLock);
    if (eventSink && !sinksOff) eventSink(event);
  }
}

void LineWatch::State::PublishSnapshot() {
  LineSnapshot now = tracker->Snapshot();
  {
    std::lock_guard<std::mutex> hold(lock);
    snapshot = now;
  }
  std::lock_guard<std::mutex> hold(sinkLock);
  if (snapshotSink && !sinksOff) snapshotSink(now);
}

void LineWatch::State::Round() {
  RoundView view = probe->Discover();
  const uint64_t round = tracker->Snapshot().round + 1;
  const int every = std::max(1, options.topologyEveryRounds);
  if (!view.failed && view.duplicates.empty() &&
      (tracker->NeedsTopology(view) || round % static_cast<uint64_t>(every) == 0)) {
    probe->DrawTopology(view);
  }
  std::vector<WatchEvent> events =
      tracker->Apply(view, Clock::now(), [this](uint32_t serial, const std::string& ip) {
        return probe->ConfigurationId(serial, ip);
      });
  for (WatchEvent& event : events) {
    if (event.kind != EventKind::Replaced) continue;
    if (backupSerials.count(event.replacedSerial) == 0) {
      if (options.backupPath.empty()) {
        AppendDetail(event, QM_TRANSLATE_NOOP("LineWatch",
                                              "; keine Sicherungsdatei angegeben: "
                                              "nichts wiederherzustellen"));
      } else {
        AppendDetail(event,
                     QM_TRANSLATE_NOOP("LineWatch",
                                       "; die Sicherungsdatei enthält keinen Eintrag "
                                       "von SN %u: nichts wiederherzustellen"),
                     event.replacedSerial);
      }
      continue;
    }
    AppendDetail(event, QM_TRANSLATE_NOOP("LineWatch",
                                          "; die Wiederherstellung wartet auf eine Bestätigung"));
    tracker->SetRestoreState(event.replacedSerial, true, false);
    std::lock_guard<std::mutex> hold(lock);
    pending[event.serial] = {event.replacedSerial, event.ip};
  }
  // The snapshot is stored before the events go out, so that a sink that looks at it sees the
  // state the events tell of.
  const LineSnapshot now = tracker->Snapshot();
  {
    std::lock_guard<std::mutex> hold(lock);
    snapshot = now;
  }
  Deliver(events);
  std::lock_guard<std::mutex> hold(sinkLock);
  if (snapshotSink && !sinksOff) snapshotSink(now);
}

void LineWatch::State::AnswerQuestions() {
  std::vector<uint32_t> yes, no;
  std::map<uint32_t, Pending> asked;
  {
    std::lock_guard<std::mutex> hold(lock);
    yes.swap(confirmed);
    no.swap(declined);
    asked = pending;
    for (uint32_t serial : yes) pending.erase(serial);
    for (uint32_t serial : no) pending.erase(serial);
  }
  for (uint32_t serial : no) {
    const auto question = asked.find(serial);
    if (question == asked.end()) continue;
    tracker->SetRestoreState(question->second.recordSerial, false, false);
    WatchEvent event;
    event.time = Clock::now();
    event.kind = EventKind::RestoreDeclined;
    event.serial = serial;
    event.ip = question->second.ip;
    event.replacedSerial = question->second.recordSerial;
    if (const ModuleWatchState* s = tracker->Recorded(event.replacedSerial))
      event.position = s->position;
    SetDetail(event,
              QM_TRANSLATE_NOOP("LineWatch",
                                "nicht wiederhergestellt: auf SN %u wurde nichts geschrieben"),
              serial);
    Deliver({event});
  }
  for (uint32_t serial : yes) {
    const auto question = asked.find(serial);
    if (question == asked.end()) continue;
    const uint32_t recordSerial = question->second.recordSerial;
    tracker->SetRestoreState(recordSerial, false, true);
    PublishSnapshot();
    const std::string failure = probe->Restore(serial, question->second.ip, recordSerial);
    tracker->RestoreEnded(recordSerial, failure.empty());
    WatchEvent event;
    event.time = Clock::now();
    event.kind = failure.empty() ? EventKind::RestoreDone : EventKind::RestoreFailed;
    event.serial = serial;
    event.ip = question->second.ip;
    event.replacedSerial = recordSerial;
    if (const ModuleWatchState* s = tracker->Recorded(recordSerial)) {
      event.position = s->position;
      if (failure.empty()) event.ip = s->ip;
    }
    if (failure.empty()) {
      SetDetail(event,
                QM_TRANSLATE_NOOP("LineWatch",
                                  "die Sicherung von SN %u wurde auf SN %u wiederhergestellt"),
                recordSerial, serial);
    } else {
      SetDetail(event,
                QM_TRANSLATE_NOOP("LineWatch",
                                  "die Wiederherstellung der Sicherung von SN %u "
                                  "auf SN %u scheiterte bei: %s"),
                recordSerial, serial, failure.c_str());
    }
    Deliver({event});
    PublishSnapshot();
  }
}

void LineWatch::State::Loop() {
  auto next = std::chrono::steady_clock::now();
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(lock);
      if (stopping) break;
    }
    Round();
    next += options.interval;
    const auto now = std::chrono::steady_clock::now();
    if (next < now) next = now;  // a round longer than the interval: the next starts at once
    for (;;) {
      {
        std::unique_lock<std::mutex> hold(lock);
        wake.wait_until(hold, next,
                        [this] { return stopping || !confirmed.empty() || !declined.empty(); });
        if (stopping) return;
        if (confirmed.empty() && declined.empty()) break;  // the interval has passed
      }
      AnswerQuestions();
    }
  }
}

LineWatch::LineWatch(CMRegApp& app, WatchOptions options) : state_(std::make_shared<State>()) {
  state_->options = std::move(options);
  state_->probe = MakeLineProbe(app, state_->options);
}

LineWatch::LineWatch(std::unique_ptr<LineProbe> probe, WatchOptions options)
    : state_(std::make_shared<State>()) {
  state_->probe = std::move(probe);
  state_->options = std::move(options);
}

LineWatch::~LineWatch() {
  StopAndWait();
}

bool LineWatch::Load(std::string* error) {
  std::ifstream in(state_->options.recordPath, std::ios::binary);
  if (!in) {
    *error = base::Format("cannot read the record \"%s\": %s", state_->options.recordPath.c_str(),
                          std::strerror(errno));
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  json record = json::parse(text.str(), nullptr, false);
  std::string reason = "it is not JSON";
  if (record.is_discarded() || !topology::IsLineRecord(record, &reason)) {
    *error = base::Format("the record \"%s\" cannot be used: %s",
                          state_->options.recordPath.c_str(), reason.c_str());
    return false;
  }
  state_->backupSerials.clear();
  if (!state_->options.backupPath.empty()) {
    const backup::LoadResult loaded = backup::LoadBackupFile(state_->options.backupPath);
    if (loaded.status != backup::LoadStatus::kLoaded) {
      *error = backup::LoadMessage(loaded, state_->options.backupPath);
      return false;
    }
    for (const backup::CNode_DataBackup& r : loaded.records)
      state_->backupSerials[r.serialNumber] = true;
  }
  state_->tracker.emplace(std::move(record), state_->options.goneAfterRounds);
  state_->snapshot = state_->tracker->Snapshot();
  return true;
}

void LineWatch::OnEvent(EventSink sink) {
  state_->eventSink = std::move(sink);
}
void LineWatch::OnSnapshot(SnapshotSink sink) {
  state_->snapshotSink = std::move(sink);
}

bool LineWatch::Start() {
  if (!state_->tracker || !state_->probe || state_->running.load()) return false;
  {
    std::lock_guard<std::mutex> hold(state_->lock);
    state_->stopping = false;
  }
  {
    std::lock_guard<std::mutex> hold(state_->sinkLock);
    state_->sinksOff = false;
  }
  {
    std::lock_guard<std::mutex> hold(state_->lock);
    state_->workerEnded = false;
  }
  state_->running.store(true);
  // The worker holds the state too: after a Stop that did not wait for it, it ends its last
  // network step with the state still alive.
  state_->worker = std::thread([state = state_] {
    state->Loop();
    state->running.store(false);
    std::lock_guard<std::mutex> hold(state->lock);
    state->workerEnded = true;
    state->wake.notify_all();
  });
  return true;
}

void LineWatch::Stop() {
  {
    std::lock_guard<std::mutex> hold(state_->lock);
    state_->stopping = true;
  }
  state_->wake.notify_all();
  if (state_->probe) state_->probe->Cancel();
  bool ended = false;
  {
    std::unique_lock<std::mutex> hold(state_->lock);
    ended = state_->wake.wait_for(hold, std::chrono::milliseconds(kStopWaitMs),
                                  [this] { return state_->workerEnded; });
  }
  {
    // A sink running now finishes first; none is called after this.
    std::lock_guard<std::mutex> hold(state_->sinkLock);
    state_->sinksOff = true;
  }
  if (!state_->worker.joinable()) return;
  if (ended) {
    state_->worker.join();
  } else {
    state_->worker.detach();
  }
}

void LineWatch::StopAndWait() {
  Stop();
  std::unique_lock<std::mutex> hold(state_->lock);
  state_->wake.wait(hold, [this] { return state_->workerEnded; });
}

bool LineWatch::Running() const {
  return state_->running.load();
}

void LineWatch::ConfirmRestore(uint32_t newSerial) {
  {
    std::lock_guard<std::mutex> hold(state_->lock);
    if (state_->pending.count(newSerial) == 0) return;
    state_->confirmed.push_back(newSerial);
  }
  state_->wake.notify_all();
}

void LineWatch::DeclineRestore(uint32_t newSerial) {
  {
    std::lock_guard<std::mutex> hold(state_->lock);
    if (state_->pending.count(newSerial) == 0) return;
    state_->declined.push_back(newSerial);
  }
  state_->wake.notify_all();
}

std::vector<uint32_t> LineWatch::PendingRestores() const {
  std::lock_guard<std::mutex> hold(state_->lock);
  std::vector<uint32_t> out;
  for (const auto& [serial, question] : state_->pending) {
    if (std::find(state_->confirmed.begin(), state_->confirmed.end(), serial) ==
            state_->confirmed.end() &&
        std::find(state_->declined.begin(), state_->declined.end(), serial) ==
            state_->declined.end())
      out.push_back(serial);
  }
  return out;
}

LineSnapshot LineWatch::Snapshot() const {
  std::lock_guard<std::mutex> hold(state_->lock);
  return state_->snapshot;
}

}  // namespace watch
