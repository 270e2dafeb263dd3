#pragma once
// The watch's judgement of one round, without threads or network: what a round saw (the
// discovery's modules and, when it ran, the topology drawing) held against the as-built record
// and against what earlier rounds saw. Each change is reported once, when it starts.
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "watch/line_watch.h"

namespace watch {

// "0000000000000000": the configuration id of a module with factory registers.
inline constexpr char kFactoryConfigurationId[] = "0000000000000000";

class LineTracker {
 public:
  // `record` has passed topology::IsLineRecord.
  LineTracker(nlohmann::json record, int goneAfterRounds);

  // Whether this discovery shows what only the topology procedure can place: a serial not seen
  // in the last round, or a module that answers with another address than last round.
  bool NeedsTopology(const RoundView& view) const;

  // The configuration id of a new module at the place of a module that does not answer
  // (kFactoryConfigurationId for a factory-fresh one); nullopt when it could not be read.
  using ConfigurationIdOf =
      std::function<std::optional<std::string>(uint32_t serial, const std::string& ip)>;
  // Takes one round and returns its events in order.
  std::vector<WatchEvent> Apply(const RoundView& view, Clock::time_point now,
                                const ConfigurationIdOf& configurationIdOf);

  // After a restore of the recorded module `recordSerial` onto its replacement: the new module
  // stands for the recorded one from now on (its serial is mapped onto the recorded one before
  // every comparison), or, when the restore failed, stays replaced.
  void RestoreEnded(uint32_t recordSerial, bool done);
  // The replaced module's restore: waiting for an answer, running, or neither.
  void SetRestoreState(uint32_t recordSerial, bool pending, bool running);

  LineSnapshot Snapshot() const;
  const ModuleWatchState* Recorded(uint32_t serial) const;
  // The recorded module a new serial replaces, or 0.
  uint32_t ReplacedBy(uint32_t newSerial) const;

 private:
  struct Tracked {
    ModuleWatchState state;
    int missedRounds = 0;
    bool goneReported = false;
  };
  WatchEvent Event(EventKind kind, const Tracked& module, Clock::time_point now) const;
  void ApplyPresence(const RoundView& view, Clock::time_point now, std::vector<WatchEvent>& out);
  void ApplyDrawing(const std::vector<DrawnModule>& drawing, Clock::time_point now,
                    const ConfigurationIdOf& configurationIdOf, std::vector<WatchEvent>& out);
  void ApplyDuplicates(const RoundView& view, Clock::time_point now, std::vector<WatchEvent>& out);
  // The serial a module of the line is compared as (a replacement's recorded serial).
  uint32_t AsRecorded(uint32_t serial) const;

  nlohmann::json record_;
  int goneAfterRounds_;
  std::vector<Tracked> modules_;            // record order
  std::map<uint32_t, size_t> indexOf_;      // recorded serial -> modules_
  std::map<uint32_t, uint32_t> standsFor_;  // restored replacement -> recorded serial
  std::map<uint32_t, uint32_t> replacing_;  // replacement not (yet) restored -> recorded serial
  std::set<uint32_t> newReported_;          // serials reported as new modules
  std::set<std::pair<uint32_t, std::string>> duplicatesReported_;
  std::map<uint32_t, std::string> lastAnswered_;  // serial -> address, of the last round
  std::set<uint32_t> unrecorded_;
  uint64_t rounds_ = 0;
  std::optional<Clock::time_point> lastRound_;
  bool lastRoundFailed_ = false;
  bool asRecorded_ = true;  // the last round found the line as recorded
};

// The drawing as a document topology::CompareLine takes (the fields it compares).
nlohmann::json DrawingDocument(const std::vector<DrawnModule>& drawing);

}  // namespace watch
