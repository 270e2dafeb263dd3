// The line watch window over the demo line's record, fed by a stand-in watch: a replaced module
// with its restore question, a module gone, one not answering, one moved, one with another
// address, a module the record does not hold, and the events that told of them.
#include <QPushButton>
#include <memory>

#include "discovery/mreg_app.h"
#include "fixtures/fake_watch_control.h"
#include "shots.h"
#include "watch/ui/line_watch_dlg.h"

namespace {

using watch::Clock;

int RenderLineWatch(shots::Context& context) {
  CMRegApp app(&context.prompt);
  auto record = std::make_shared<fixtures::FakeWatchControl::Record>();
  watch::ui::CLineWatchDlg window(app, nullptr, fixtures::FakeWatchControl::Factory(record));
  window.SetRecordPath(QStringLiteral("/home/service/linie3/linie3-abnahme.json"));
  window.SetBackupPath(QStringLiteral("/home/service/linie3/linie3.backup"));
  window.show();
  window.StartWatch();
  if (!record->snapshotSink || !record->eventSink) return 1;

  const Clock::time_point now = Clock::now();
  watch::LineSnapshot line;
  const uint32_t firsts[] = {3100101, 3100201};
  for (int chain = 0; chain < 2; ++chain) {
    for (int k = 0; k < 6; ++k) {
      watch::ModuleWatchState module;
      module.serial = firsts[chain] + static_cast<uint32_t>(k);
      module.ip = "192.168.202." + std::to_string(20 + chain * 6 + k + 1);
      module.firmware = "4.14";
      module.position = {chain, k + 1};
      module.direction = chain == 0 && k != 3 ? "left-to-right" : "right-to-left";
      if (k > 0) module.parent = module.serial - 1;
      line.modules.push_back(module);
    }
  }
  auto state = [&](uint32_t serial) -> watch::ModuleWatchState& {
    for (auto& module : line.modules)
      if (module.serial == serial) return module;
    return line.modules.front();
  };
  state(3100102).presence = watch::Presence::Replaced;
  state(3100102).goneSince = now - std::chrono::seconds(95);
  state(3100102).replacementSerial = 3999102;
  state(3100102).restorePending = true;
  state(3100104).presence = watch::Presence::Gone;
  state(3100104).goneSince = now - std::chrono::seconds(192);
  state(3100203).presence = watch::Presence::Missing;
  state(3100203).goneSince = now - std::chrono::seconds(15);
  state(3100205).moved = true;
  state(3100206).otherAddress = true;
  state(3100206).ipNow = "192.168.202.40";
  line.unrecorded = {3999500};
  line.expected = line.modules.size();
  line.present = line.modules.size() - 3;
  line.round = 57;
  line.lastRound = now;

  const auto event = [&](watch::EventKind kind, uint32_t serial, const std::string& ip,
                         std::optional<watch::ModulePosition> position, int secondsAgo) {
    watch::WatchEvent e;
    e.time = now - std::chrono::seconds(secondsAgo);
    e.kind = kind;
    e.serial = serial;
    e.ip = ip;
    e.position = position;
    return e;
  };
  watch::WatchEvent back =
      event(watch::EventKind::Back, 3100105, "192.168.202.25", watch::ModulePosition{0, 5}, 400);
  back.outage = std::chrono::seconds(41);
  watch::WatchEvent replaced =
      event(watch::EventKind::Replaced, 3999102, "192.168.202.22", watch::ModulePosition{0, 2}, 60);
  replaced.replacedSerial = 3100102;
  replaced.detail = "configuration id 0000000000000000";
  replaced.germanDetail = "Konfigurations-ID 0000000000000000";
  watch::WatchEvent moved =
      event(watch::EventKind::Moved, 3100205, "192.168.202.31", watch::ModulePosition{1, 5}, 30);
  moved.detail = "row 1, column 5 -> row 1, column 6";
  moved.germanDetail = "Reihe 1, Spalte 5 -> Reihe 1, Spalte 6";
  for (const watch::WatchEvent& e :
       {event(watch::EventKind::Gone, 3100105, "192.168.202.25", watch::ModulePosition{0, 5}, 441),
        back,
        event(watch::EventKind::Gone, 3100104, "192.168.202.24", watch::ModulePosition{0, 4}, 192),
        event(watch::EventKind::Gone, 3100102, "192.168.202.22", watch::ModulePosition{0, 2}, 95),
        replaced, moved,
        event(watch::EventKind::NewModule, 3999500, "192.168.202.99", std::nullopt, 20)}) {
    record->eventSink(e);
  }
  record->snapshotSink(line);
  const bool asked = shots::WaitFor([&] { return window.QuestionSerial() == 3999102; }, 5000);
  window.resize(1100, 720);
  const bool saved = shots::Save(&window, context.folder, QStringLiteral("line_watch.png"));
  return (asked ? 0 : 1) + (saved ? 0 : 1);
}

const shots::Registrar lineWatchShot("watch", RenderLineWatch);

}  // namespace
