// The watch's judgement of rounds on a small recorded row of three modules: gone after K rounds
// and back with its outage, the comparison's categories reported once, a replacement told from
// a new module by its place and its configuration id, the line as recorded again after a
// restore, duplicates and failed rounds.
#include "watch/line_tracker.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace {

using nlohmann::json;
using watch::DrawnModule;
using watch::EventKind;
using watch::LineTracker;
using watch::Presence;
using watch::RoundView;
using watch::WatchEvent;

constexpr int kGoneAfter = 3;

json Recorded(uint32_t serial, int column, json parent, const char* ip) {
  return {{"serial", serial}, {"ip", ip}, {"firmware", "4.14"},
          {"column", column}, {"row", 0}, {"direction", "left-to-right"},
          {"parent", parent}};
}

// PC -- 101 -- 102 -- 103
json Record() {
  return {{"modules",
           {Recorded(101, 1, nullptr, "10.0.0.1"), Recorded(102, 2, 101, "10.0.0.2"),
            Recorded(103, 3, 102, "10.0.0.3")}}};
}

DrawnModule Drawn(uint32_t serial, int column, std::optional<uint32_t> parent, std::string ip,
                  std::string firmware = "4.14", std::string direction = "left-to-right",
                  int row = 0) {
  DrawnModule m;
  m.serial = serial;
  m.ip = std::move(ip);
  m.firmware = std::move(firmware);
  m.position = {row, column};
  m.direction = std::move(direction);
  m.parent = parent;
  return m;
}

std::vector<DrawnModule> AsRecordedDrawing() {
  return {Drawn(101, 1, std::nullopt, "10.0.0.1"), Drawn(102, 2, 101, "10.0.0.2"),
          Drawn(103, 3, 102, "10.0.0.3")};
}

// A round that saw the drawn modules answer (and drew them when `draw`).
RoundView Round(const std::vector<DrawnModule>& modules, bool draw = true) {
  RoundView view;
  for (const DrawnModule& m : modules) view.answered.push_back({m.serial, m.ip, m.firmware});
  if (draw) view.drawing = modules;
  return view;
}

std::vector<EventKind> Kinds(const std::vector<WatchEvent>& events) {
  std::vector<EventKind> kinds;
  for (const WatchEvent& e : events) kinds.push_back(e.kind);
  return kinds;
}

struct Clocked {
  watch::Clock::time_point at = watch::Clock::time_point{} + std::chrono::hours(1000);
  watch::Clock::time_point Next() { return at += std::chrono::seconds(10); }
};

LineTracker::ConfigurationIdOf Answering(std::optional<std::string> id) {
  return [id](uint32_t, const std::string&) { return id; };
}

TEST(LineTracker, AModuleIsGoneAfterKRoundsAndBackWithItsOutage) {
  LineTracker tracker(Record(), kGoneAfter);
  Clocked clock;
  EXPECT_TRUE(tracker.Apply(Round(AsRecordedDrawing()), clock.Next(), {}).empty());
  std::vector<DrawnModule> without = AsRecordedDrawing();
  without.pop_back();  // 103 stops answering
  const auto firstMissed = clock.Next();
  EXPECT_TRUE(tracker.Apply(Round(without, false), firstMissed, {}).empty());
  EXPECT_EQ(tracker.Recorded(103)->presence, Presence::Missing);
  EXPECT_TRUE(tracker.Apply(Round(without, false), clock.Next(), {}).empty());
  const std::vector<WatchEvent> gone = tracker.Apply(Round(without, false), clock.Next(), {});
  ASSERT_EQ(Kinds(gone), std::vector<EventKind>{EventKind::Gone});
  EXPECT_EQ(gone[0].serial, 103u);
  EXPECT_EQ(gone[0].ip, "10.0.0.3");
  ASSERT_TRUE(gone[0].position.has_value());
  EXPECT_EQ(gone[0].position->column, 3);
  EXPECT_EQ(tracker.Recorded(103)->presence, Presence::Gone);
  // Reported once, not every round it stays away.
  EXPECT_TRUE(tracker.Apply(Round(without, false), clock.Next(), {}).empty());
  const auto backAt = clock.Next();
  const std::vector<WatchEvent> back = tracker.Apply(Round(AsRecordedDrawing()), backAt, {});
  ASSERT_EQ(Kinds(back), (std::vector<EventKind>{EventKind::Back, EventKind::LineAsRecorded}));
  EXPECT_EQ(back[0].serial, 103u);
  ASSERT_TRUE(back[0].outage.has_value());
  EXPECT_EQ(*back[0].outage,
            std::chrono::duration_cast<std::chrono::milliseconds>(backAt - firstMissed));
  EXPECT_EQ(tracker.Snapshot().present, 3u);
}

// The English detail is what the JSON line, the CLI and the event log carry in every language;
// the German one is what the window shows in German.
TEST(LineTracker, EachDetailIsWrittenInEnglishAndInGerman) {
  LineTracker tracker(Record(), kGoneAfter);
  Clocked clock;
  tracker.Apply(Round(AsRecordedDrawing()), clock.Next(), {});
  std::vector<DrawnModule> without = AsRecordedDrawing();
  without.pop_back();
  std::vector<WatchEvent> events;
  for (int round = 0; round < kGoneAfter; ++round)
    events = tracker.Apply(Round(without, false), clock.Next(), {});
  std::vector<DrawnModule> moved = AsRecordedDrawing();
  moved[2] = Drawn(103, 4, 102, "10.0.0.3");
  const std::vector<WatchEvent> back = tracker.Apply(Round(moved), clock.Next(), {});
  const std::vector<WatchEvent> asRecorded =
      tracker.Apply(Round(AsRecordedDrawing()), clock.Next(), {});
  ASSERT_EQ(events.size(), 1u);
  ASSERT_EQ(Kinds(back), (std::vector<EventKind>{EventKind::Back, EventKind::Moved}));
  ASSERT_EQ(asRecorded.size(), 1u);
  const std::vector<std::tuple<WatchEvent, std::string, std::string>> cases = {
      {events[0], "no answer for 3 rounds, since ", "3 Runden ohne Antwort, seit "},
      {back[0], "answers again after 30.0 s", "antwortet wieder nach 30.0 s"},
      {back[1], "SN 103 (10.0.0.3): moved (row 0, column 3 -> row 0, column 4)",
       "SN 103 (10.0.0.3): versetzt (Reihe 0, Spalte 3 -> Reihe 0, Spalte 4)"},
      {asRecorded[0], "all 3 modules answer as recorded",
       "alle 3 Module antworten wie aufgezeichnet"},
  };
  for (const auto& [event, english, german] : cases) {
    SCOPED_TRACE(watch::EventName(event.kind));
    EXPECT_EQ(event.detail.substr(0, english.size()), english) << event.detail;
    EXPECT_EQ(event.germanDetail.substr(0, german.size()), german) << event.germanDetail;
  }
}

TEST(LineTracker, AShortOutageIsNoEvent) {
  LineTracker tracker(Record(), kGoneAfter);
  Clocked clock;
  tracker.Apply(Round(AsRecordedDrawing()), clock.Next(), {});
  std::vector<DrawnModule> without = AsRecordedDrawing();
  without.erase(without.begin() + 1);
  for (int round = 1; round < kGoneAfter; ++round)
    EXPECT_TRUE(tracker.Apply(Round(without, false), clock.Next(), {}).empty());
  EXPECT_TRUE(tracker.Apply(Round(AsRecordedDrawing(), false), clock.Next(), {}).empty());
  EXPECT_EQ(tracker.Recorded(102)->presence, Presence::Present);
}

TEST(LineTracker, EachCategoryOfTheComparisonIsReportedOnceWhenItStarts) {
  const std::vector<std::pair<DrawnModule, EventKind>> cases = {
      {Drawn(103, 4, 102, "10.0.0.3"), EventKind::Moved},
      {Drawn(103, 3, 102, "10.0.0.3", "4.14", "right-to-left"), EventKind::Turned},
      {Drawn(103, 3, 102, "10.0.0.33"), EventKind::OtherAddress},
      {Drawn(103, 3, 102, "10.0.0.3", "4.20"), EventKind::OtherFirmware},
  };
  for (const auto& [changed, kind] : cases) {
    SCOPED_TRACE(watch::EventName(kind));
    LineTracker tracker(Record(), kGoneAfter);
    Clocked clock;
    tracker.Apply(Round(AsRecordedDrawing()), clock.Next(), {});
    std::vector<DrawnModule> now = AsRecordedDrawing();
    now[2] = changed;
    const std::vector<WatchEvent> events = tracker.Apply(Round(now), clock.Next(), {});
    ASSERT_EQ(Kinds(events), std::vector<EventKind>{kind});
    EXPECT_EQ(events[0].serial, 103u);
    EXPECT_NE(events[0].detail.find("SN 103"), std::string::npos) << events[0].detail;
    EXPECT_TRUE(tracker.Apply(Round(now), clock.Next(), {}).empty());
    EXPECT_EQ(Kinds(tracker.Apply(Round(AsRecordedDrawing()), clock.Next(), {})),
              std::vector<EventKind>{EventKind::LineAsRecorded});
  }
}

TEST(LineTracker, AFactoryFreshModuleWhereAMissingOneStoodIsAReplacement) {
  LineTracker tracker(Record(), kGoneAfter);
  Clocked clock;
  tracker.Apply(Round(AsRecordedDrawing()), clock.Next(), {});
  std::vector<DrawnModule> now = AsRecordedDrawing();
  now[1] = Drawn(902, 2, 101, "10.0.0.99");
  now[2].parent = 902;
  std::vector<std::pair<uint32_t, std::string>> asked;
  const std::vector<WatchEvent> events =
      tracker.Apply(Round(now), clock.Next(), [&](uint32_t serial, const std::string& ip) {
        asked.push_back({serial, ip});
        return std::optional<std::string>(watch::kFactoryConfigurationId);
      });
  ASSERT_EQ(Kinds(events), std::vector<EventKind>{EventKind::Replaced});
  EXPECT_EQ(events[0].serial, 902u);
  EXPECT_EQ(events[0].replacedSerial, 102u);
  EXPECT_EQ(events[0].ip, "10.0.0.99");
  EXPECT_EQ(asked, (std::vector<std::pair<uint32_t, std::string>>{{902, "10.0.0.99"}}));
  EXPECT_EQ(tracker.Recorded(102)->presence, Presence::Replaced);
  EXPECT_EQ(tracker.Recorded(102)->replacementSerial, 902u);
  EXPECT_EQ(tracker.ReplacedBy(902), 102u);
  // Not reported again while it waits.
  EXPECT_TRUE(
      tracker.Apply(Round(now), clock.Next(), Answering(watch::kFactoryConfigurationId)).empty());
}

TEST(LineTracker, ANewModuleIsNoReplacementWhenConfiguredUnreadOrElsewhere) {
  struct Case {
    const char* name;
    int column;                     // where the new module is drawn
    bool recordedLeaves;            // 102 stops answering
    std::optional<std::string> id;  // its configuration id
  };
  const Case cases[] = {
      {"configured", 2, true, std::string("0000000000000123")},
      {"id unread", 2, true, std::nullopt},
      {"no missing module there", 4, false, std::string(watch::kFactoryConfigurationId)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LineTracker tracker(Record(), kGoneAfter);
    Clocked clock;
    tracker.Apply(Round(AsRecordedDrawing()), clock.Next(), {});
    std::vector<DrawnModule> now = AsRecordedDrawing();
    if (c.recordedLeaves) {
      now[1] = Drawn(902, c.column, 101, "10.0.0.99");
      now[2].parent = 902;
    } else {
      now.push_back(Drawn(902, c.column, 103, "10.0.0.99"));
    }
    const std::vector<WatchEvent> events = tracker.Apply(Round(now), clock.Next(), Answering(c.id));
    ASSERT_EQ(Kinds(events), std::vector<EventKind>{EventKind::NewModule});
    EXPECT_EQ(events[0].serial, 902u);
    EXPECT_EQ(events[0].replacedSerial, 0u);
    EXPECT_EQ(tracker.ReplacedBy(902), 0u);
    EXPECT_TRUE(tracker.Apply(Round(now), clock.Next(), Answering(c.id)).empty());
  }
}

TEST(LineTracker, ARestoredReplacementStandsForItsModule) {
  LineTracker tracker(Record(), kGoneAfter);
  Clocked clock;
  tracker.Apply(Round(AsRecordedDrawing()), clock.Next(), {});
  std::vector<DrawnModule> now = AsRecordedDrawing();
  now[1] = Drawn(902, 2, 101, "10.0.0.99");
  now[2].parent = 902;
  tracker.Apply(Round(now), clock.Next(), Answering(watch::kFactoryConfigurationId));

  // A failed restore leaves it replaced.
  tracker.RestoreEnded(102, false);
  EXPECT_TRUE(tracker.Apply(Round(now), clock.Next(), {}).empty());
  EXPECT_EQ(tracker.Recorded(102)->presence, Presence::Replaced);

  tracker.RestoreEnded(102, true);
  now[1].ip = "10.0.0.2";  // the restore gave it the recorded address
  EXPECT_TRUE(tracker.NeedsTopology(Round(now, false)));
  EXPECT_EQ(Kinds(tracker.Apply(Round(now), clock.Next(), {})),
            std::vector<EventKind>{EventKind::LineAsRecorded});
  const watch::LineSnapshot snapshot = tracker.Snapshot();
  EXPECT_EQ(snapshot.present, snapshot.expected);
  EXPECT_TRUE(snapshot.unrecorded.empty());
  EXPECT_EQ(snapshot.modules[1].presence, Presence::Present);
  EXPECT_EQ(snapshot.modules[1].ipNow, "10.0.0.2");
}

TEST(LineTracker, DuplicateAddressesAreReportedWhileTheyLastOnce) {
  LineTracker tracker(Record(), kGoneAfter);
  Clocked clock;
  RoundView view = Round(AsRecordedDrawing(), false);
  view.duplicates = {{102, "10.0.0.2"}, {103, "10.0.0.2"}};
  const std::vector<WatchEvent> events = tracker.Apply(view, clock.Next(), {});
  ASSERT_EQ(Kinds(events),
            (std::vector<EventKind>{EventKind::DuplicateAddress, EventKind::DuplicateAddress}));
  EXPECT_EQ(events[1].serial, 103u);
  EXPECT_EQ(events[1].ip, "10.0.0.2");
  EXPECT_TRUE(tracker.Apply(view, clock.Next(), {}).empty());
  tracker.Apply(Round(AsRecordedDrawing(), false), clock.Next(), {});
  EXPECT_EQ(tracker.Apply(view, clock.Next(), {}).size(), 2u);
}

TEST(LineTracker, AFailedRoundIsReportedOnceAndCountsNoModuleAsMissing) {
  LineTracker tracker(Record(), kGoneAfter);
  Clocked clock;
  tracker.Apply(Round(AsRecordedDrawing()), clock.Next(), {});
  RoundView failed;
  failed.failed = true;
  failed.failure = "no capture device could be opened";
  const std::vector<WatchEvent> first = tracker.Apply(failed, clock.Next(), {});
  ASSERT_EQ(Kinds(first), std::vector<EventKind>{EventKind::RoundFailed});
  EXPECT_EQ(first[0].detail, failed.failure);
  for (int round = 0; round < kGoneAfter + 1; ++round)
    EXPECT_TRUE(tracker.Apply(failed, clock.Next(), {}).empty());
  EXPECT_EQ(tracker.Recorded(101)->presence, Presence::Present);
  EXPECT_TRUE(tracker.Snapshot().lastRoundFailed);
}

TEST(LineTracker, TheTopologyIsNeededForANewSerialOrAnotherAddress) {
  LineTracker tracker(Record(), kGoneAfter);
  Clocked clock;
  EXPECT_TRUE(tracker.NeedsTopology(Round(AsRecordedDrawing(), false)));  // the first round
  tracker.Apply(Round(AsRecordedDrawing()), clock.Next(), {});
  EXPECT_FALSE(tracker.NeedsTopology(Round(AsRecordedDrawing(), false)));
  std::vector<DrawnModule> fewer = AsRecordedDrawing();
  fewer.pop_back();
  EXPECT_FALSE(tracker.NeedsTopology(Round(fewer, false)));
  std::vector<DrawnModule> readdressed = AsRecordedDrawing();
  readdressed[0].ip = "10.0.0.50";
  EXPECT_TRUE(tracker.NeedsTopology(Round(readdressed, false)));
  std::vector<DrawnModule> more = AsRecordedDrawing();
  more.push_back(Drawn(904, 4, 103, "10.0.0.4"));
  EXPECT_TRUE(tracker.NeedsTopology(Round(more, false)));
}

TEST(WatchEventJson, CarriesTheFieldsOfALine) {
  WatchEvent event;
  event.time = watch::Clock::time_point{} + std::chrono::milliseconds(1765425906123);
  event.kind = EventKind::Back;
  event.serial = 3100102;
  event.ip = "192.168.202.22";
  event.position = watch::ModulePosition{1, 3};
  event.detail = "answers again";
  event.outage = std::chrono::milliseconds(31500);
  const json line = json::parse(watch::EventJson(event));
  EXPECT_EQ(line["time"], "2025-12-11T04:05:06.123Z");
  EXPECT_EQ(line["event"], "back");
  EXPECT_EQ(line["serial"], 3100102);
  EXPECT_EQ(line["ip"], "192.168.202.22");
  EXPECT_EQ(line["position"], (json{{"row", 1}, {"column", 3}}));
  EXPECT_EQ(line["detail"], "answers again");
  EXPECT_EQ(line["outage_ms"], 31500);
  EXPECT_EQ(watch::EventText(event),
            "2025-12-11T04:05:06.123Z back SN 3100102 (192.168.202.22) row 1, column 3: answers "
            "again");
}

}  // namespace
