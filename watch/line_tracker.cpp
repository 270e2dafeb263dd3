#include "watch/line_tracker.h"

#include <algorithm>

#include "base/format.h"
#include "topology/line_record.h"
#include "watch/event_detail.h"

namespace watch {

using nlohmann::json;

namespace {

std::string TextOf(const json& module, const char* key) {
  if (!module.contains(key) || module.at(key).is_null()) return std::string();
  const json& value = module.at(key);
  return value.is_string() ? value.get<std::string>() : value.dump();
}

std::string ClockText(Clock::time_point at) {
  const std::time_t seconds = Clock::to_time_t(at);
  std::tm local{};
  gmtime_r(&seconds, &local);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

// The comparison's categories and the flag of the module state each one sets.
struct Category {
  const char* name;
  EventKind kind;
  bool ModuleWatchState::*flag;
};
constexpr Category kCategories[] = {
    {"moved", EventKind::Moved, &ModuleWatchState::moved},
    {"turned", EventKind::Turned, &ModuleWatchState::turned},
    {"other address", EventKind::OtherAddress, &ModuleWatchState::otherAddress},
    {"other firmware", EventKind::OtherFirmware, &ModuleWatchState::otherFirmware},
};

}  // namespace

json DrawingDocument(const std::vector<DrawnModule>& drawing) {
  json modules = json::array();
  for (const DrawnModule& m : drawing) {
    modules.push_back({{"serial", m.serial},
                       {"ip", m.ip},
                       {"firmware", m.firmware},
                       {"column", m.position.column},
                       {"row", m.position.row},
                       {"direction", m.direction},
                       {"parent", m.parent ? json(*m.parent) : json(nullptr)}});
  }
  return {{"modules", modules}};
}

LineTracker::LineTracker(json record, int goneAfterRounds)
    : record_(std::move(record)), goneAfterRounds_(std::max(1, goneAfterRounds)) {
  for (const json& m : record_.at("modules")) {
    Tracked tracked;
    ModuleWatchState& s = tracked.state;
    s.serial = m.at("serial").get<uint32_t>();
    s.ip = TextOf(m, "ip");
    s.firmware = TextOf(m, "firmware");
    s.position = {m.at("row").get<int>(), m.at("column").get<int>()};
    s.direction = m.at("direction").get<std::string>();
    if (!m.at("parent").is_null()) s.parent = m.at("parent").get<uint32_t>();
    // Until the first round has answered, nothing is known to be missing.
    s.presence = Presence::Present;
    indexOf_[s.serial] = modules_.size();
    modules_.push_back(tracked);
  }
}

uint32_t LineTracker::AsRecorded(uint32_t serial) const {
  const auto found = standsFor_.find(serial);
  return found == standsFor_.end() ? serial : found->second;
}

bool LineTracker::NeedsTopology(const RoundView& view) const {
  if (rounds_ == 0) return true;
  for (const SeenModule& m : view.answered) {
    const auto last = lastAnswered_.find(m.serial);
    if (last == lastAnswered_.end() || last->second != m.ip) return true;
  }
  return false;
}

WatchEvent LineTracker::Event(EventKind kind, const Tracked& module, Clock::time_point now) const {
  WatchEvent event;
  event.time = now;
  event.kind = kind;
  event.serial = module.state.serial;
  event.ip = module.state.ipNow.empty() ? module.state.ip : module.state.ipNow;
  event.position = module.state.position;
  return event;
}

std::vector<WatchEvent> LineTracker::Apply(const RoundView& view, Clock::time_point now,
                                           const ConfigurationIdOf& configurationIdOf) {
  std::vector<WatchEvent> out;
  ++rounds_;
  lastRound_ = now;
  if (view.failed) {
    // A round that could not look at the line says nothing of its modules.
    if (!lastRoundFailed_) {
      WatchEvent event;
      event.time = now;
      event.kind = EventKind::RoundFailed;
      event.detail = view.failure;
      event.germanDetail = view.germanFailure;
      out.push_back(event);
    }
    lastRoundFailed_ = true;
    return out;
  }
  lastRoundFailed_ = false;
  ApplyPresence(view, now, out);
  ApplyDuplicates(view, now, out);
  if (view.drawing) ApplyDrawing(*view.drawing, now, configurationIdOf, out);
  // Only what was reported counts: a module missing for fewer than K rounds is no change yet.
  bool asRecorded = replacing_.empty() && view.duplicates.empty();
  for (const uint32_t serial : unrecorded_) asRecorded = asRecorded && !newReported_.count(serial);
  for (const Tracked& t : modules_) {
    const ModuleWatchState& s = t.state;
    asRecorded = asRecorded &&
                 (s.presence == Presence::Present || s.presence == Presence::Missing) && !s.moved &&
                 !s.turned && !s.otherAddress && !s.otherFirmware;
  }
  if (asRecorded && !asRecorded_) {
    WatchEvent event;
    event.time = now;
    event.kind = EventKind::LineAsRecorded;
    SetDetail(event, QM_TRANSLATE_NOOP("LineWatch", "alle %zu Module antworten wie aufgezeichnet"),
              modules_.size());
    out.push_back(event);
  }
  asRecorded_ = asRecorded;
  lastAnswered_.clear();
  for (const SeenModule& m : view.answered) lastAnswered_[m.serial] = m.ip;
  return out;
}

void LineTracker::ApplyPresence(const RoundView& view, Clock::time_point now,
                                std::vector<WatchEvent>& out) {
  std::map<uint32_t, const SeenModule*> answered;
  unrecorded_.clear();
  for (const SeenModule& m : view.answered) {
    const uint32_t serial = AsRecorded(m.serial);
    answered[serial] = &m;
    if (indexOf_.count(serial) == 0 && replacing_.count(m.serial) == 0) unrecorded_.insert(serial);
  }
  for (Tracked& t : modules_) {
    ModuleWatchState& s = t.state;
    const auto found = answered.find(s.serial);
    if (found != answered.end()) {
      s.ipNow = found->second->ip;
      if (t.goneReported) {
        WatchEvent back = Event(EventKind::Back, t, now);
        if (s.goneSince)
          back.outage = std::chrono::duration_cast<std::chrono::milliseconds>(now - *s.goneSince);
        SetDetail(back, QM_TRANSLATE_NOOP("LineWatch", "antwortet wieder nach %.1f s"),
                  back.outage ? back.outage->count() / 1000.0 : 0.0);
        if (found->second->serial != s.serial)
          AppendDetail(
              back,
              QM_TRANSLATE_NOOP("LineWatch", " (als SN %u, an seinem Platz wiederhergestellt)"),
              found->second->serial);
        out.push_back(back);
      }
      t.goneReported = false;
      t.missedRounds = 0;
      s.goneSince.reset();
      s.presence = Presence::Present;
      continue;
    }
    s.ipNow.clear();
    if (t.missedRounds == 0) s.goneSince = now;
    ++t.missedRounds;
    if (s.presence == Presence::Present) s.presence = Presence::Missing;
    if (t.missedRounds >= goneAfterRounds_ && !t.goneReported) {
      t.goneReported = true;
      if (s.presence == Presence::Missing) s.presence = Presence::Gone;
      WatchEvent gone = Event(EventKind::Gone, t, now);
      SetDetail(gone, QM_TRANSLATE_NOOP("LineWatch", "%d Runden ohne Antwort, seit %s UTC"),
                t.missedRounds, ClockText(*s.goneSince).c_str());
      out.push_back(gone);
    }
  }
}

void LineTracker::ApplyDuplicates(const RoundView& view, Clock::time_point now,
                                  std::vector<WatchEvent>& out) {
  std::set<std::pair<uint32_t, std::string>> current(view.duplicates.begin(),
                                                     view.duplicates.end());
  for (const auto& [serial, ip] : view.duplicates) {
    if (!duplicatesReported_.insert({serial, ip}).second) continue;
    WatchEvent event;
    event.time = now;
    event.kind = EventKind::DuplicateAddress;
    event.serial = serial;
    event.ip = ip;
    const auto recorded = indexOf_.find(AsRecorded(serial));
    if (recorded != indexOf_.end()) event.position = modules_[recorded->second].state.position;
    SetDetail(event, QM_TRANSLATE_NOOP("LineWatch", "%s wird von mehr als einem Modul beantwortet"),
              ip.c_str());
    out.push_back(event);
  }
  // A pair that ended may be reported again when it comes back.
  std::erase_if(duplicatesReported_, [&](const auto& pair) { return current.count(pair) == 0; });
}

void LineTracker::ApplyDrawing(const std::vector<DrawnModule>& drawing, Clock::time_point now,
                               const ConfigurationIdOf& configurationIdOf,
                               std::vector<WatchEvent>& out) {
  std::vector<DrawnModule> compared = drawing;
  for (DrawnModule& m : compared) {
    m.serial = AsRecorded(m.serial);
    if (m.parent) m.parent = AsRecorded(*m.parent);
  }
  const std::vector<topology::ModuleChange> changes =
      topology::CompareLine(record_, DrawingDocument(compared));
  std::set<uint32_t> drawn;
  for (const DrawnModule& m : compared) drawn.insert(m.serial);
  std::map<uint32_t, const topology::ModuleChange*> changeOf;
  for (const topology::ModuleChange& c : changes) changeOf[c.serial] = &c;

  for (Tracked& t : modules_) {
    ModuleWatchState& s = t.state;
    if (drawn.count(s.serial) == 0) continue;  // not drawn: its place says nothing now
    const auto change = changeOf.find(s.serial);
    for (const Category& category : kCategories) {
      const bool now_changed =
          change != changeOf.end() &&
          std::find(change->second->changes.begin(), change->second->changes.end(),
                    category.name) != change->second->changes.end();
      if (now_changed && !(s.*category.flag)) {
        topology::ModuleChange one = *change->second;
        one.changes = {category.name};
        WatchEvent event = Event(category.kind, t, now);
        event.detail = topology::DescribeChange(one);
        event.germanDetail = topology::DescribeChange(one, base::Language::German);
        out.push_back(event);
      }
      s.*category.flag = now_changed;
    }
  }

  for (const DrawnModule& m : compared) {
    if (indexOf_.count(m.serial) != 0) continue;
    if (replacing_.count(m.serial) != 0 || newReported_.count(m.serial) != 0) continue;
    const ModulePosition position = m.position;
    Tracked* replaced = nullptr;
    for (Tracked& t : modules_) {
      if (t.state.position == position && t.state.presence != Presence::Present &&
          t.state.replacementSerial == 0) {
        replaced = &t;
        break;
      }
    }
    WatchEvent event;
    event.time = now;
    event.serial = m.serial;
    event.ip = m.ip;
    event.position = position;
    if (replaced != nullptr) {
      const std::optional<std::string> id =
          configurationIdOf ? configurationIdOf(m.serial, m.ip) : std::nullopt;
      if (id && *id == kFactoryConfigurationId) {
        event.kind = EventKind::Replaced;
        event.replacedSerial = replaced->state.serial;
        SetDetail(event,
                  QM_TRANSLATE_NOOP("LineWatch",
                                    "SN %u steht, wo SN %u (%s) stand, mit den Registern ab Werk "
                                    "(Konfigurations-ID 0)"),
                  m.serial, replaced->state.serial, replaced->state.ip.c_str());
        replaced->state.presence = Presence::Replaced;
        replaced->state.replacementSerial = m.serial;
        replacing_[m.serial] = replaced->state.serial;
        out.push_back(event);
        continue;
      }
      event.kind = EventKind::NewModule;
      if (id) {
        SetDetail(event,
                  QM_TRANSLATE_NOOP("LineWatch",
                                    "nicht aufgezeichnet; steht, wo SN %u stand, ist aber "
                                    "konfiguriert (Konfigurations-ID %s): nicht als Ersatz "
                                    "genommen"),
                  replaced->state.serial, id->c_str());
      } else {
        SetDetail(event,
                  QM_TRANSLATE_NOOP("LineWatch",
                                    "nicht aufgezeichnet; steht, wo SN %u stand, aber seine "
                                    "Konfigurations-ID war nicht zu lesen: nicht als Ersatz "
                                    "genommen"),
                  replaced->state.serial);
      }
    } else {
      event.kind = EventKind::NewModule;
      SetDetail(event, QM_TRANSLATE_NOOP("LineWatch", "dieses Modul ist nicht aufgezeichnet"));
    }
    newReported_.insert(m.serial);
    out.push_back(event);
  }
}

void LineTracker::RestoreEnded(uint32_t recordSerial, bool done) {
  const auto index = indexOf_.find(recordSerial);
  if (index == indexOf_.end()) return;
  ModuleWatchState& s = modules_[index->second].state;
  s.restorePending = false;
  s.restoreRunning = false;
  if (!done || s.replacementSerial == 0) return;
  standsFor_[s.replacementSerial] = recordSerial;
  replacing_.erase(s.replacementSerial);
}

void LineTracker::SetRestoreState(uint32_t recordSerial, bool pending, bool running) {
  const auto index = indexOf_.find(recordSerial);
  if (index == indexOf_.end()) return;
  modules_[index->second].state.restorePending = pending;
  modules_[index->second].state.restoreRunning = running;
}

const ModuleWatchState* LineTracker::Recorded(uint32_t serial) const {
  const auto index = indexOf_.find(serial);
  return index == indexOf_.end() ? nullptr : &modules_[index->second].state;
}

uint32_t LineTracker::ReplacedBy(uint32_t newSerial) const {
  const auto found = replacing_.find(newSerial);
  return found == replacing_.end() ? 0 : found->second;
}

LineSnapshot LineTracker::Snapshot() const {
  LineSnapshot snapshot;
  for (const Tracked& t : modules_) {
    snapshot.modules.push_back(t.state);
    if (t.state.presence == Presence::Present) ++snapshot.present;
  }
  snapshot.unrecorded.assign(unrecorded_.begin(), unrecorded_.end());
  snapshot.expected = modules_.size();
  snapshot.round = rounds_;
  snapshot.lastRound = lastRound_;
  snapshot.lastRoundFailed = lastRoundFailed_;
  return snapshot;
}

}  // namespace watch
