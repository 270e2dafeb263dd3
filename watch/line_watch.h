#pragma once
// The line watch: a worker that, every interval, runs a discovery of one adapter and, every Nth
// round or when the discovery shows a change, the topology procedure, and holds what it sees
// against the line's as-built record (topology --save) and, when given, its last backup file.
// It reports modules gone and back, moved, turned, with another address or firmware, new
// modules, duplicate addresses and replaced modules (a new serial with factory registers at
// the place of a module that is gone). A replaced module is restored from the backup record of
// the module it replaces, and only after ConfirmRestore: the watch never writes to a module
// on its own.
//
// Toolkit-free. Events and snapshots are handed to the sinks on the watch's worker thread; a
// window passes them on to its own thread. Snapshot() and the Confirm/Decline calls may be
// made from any thread.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class CMRegApp;

namespace watch {

using Clock = std::chrono::system_clock;

struct WatchOptions {
  std::string adapter;     // capture device name; empty: the adapter the discovery selects
  std::string recordPath;  // the as-built record (topology --save)
  std::string backupPath;  // the backup file; empty: no restore is offered
  std::chrono::milliseconds interval{10000};
  int goneAfterRounds = 3;      // rounds without an answer before a module is reported gone
  int topologyEveryRounds = 6;  // the topology procedure runs at least every Nth round
};

enum class EventKind {
  Gone,
  Back,
  Moved,
  Turned,
  OtherAddress,
  OtherFirmware,
  Replaced,
  NewModule,
  DuplicateAddress,
  RestoreDone,
  RestoreFailed,
  RestoreDeclined,
  RoundFailed,  // the discovery or topology of a round could not run (no capture device, ...)
  // After a reported change: every recorded module answers again where the record has it, as
  // recorded (a restored replacement standing for its module), and no reported module is left.
  LineAsRecorded,
};
// The stable machine name of a kind, the "event" value of the JSON lines: "gone", "back",
// "moved", "turned", "other_address", "other_firmware", "replaced", "new_module",
// "duplicate_address", "restore_done", "restore_failed", "restore_declined", "round_failed",
// "line_as_recorded".
const char* EventName(EventKind kind);

// A module's place in the drawing of the line: device steps from the PC's switch (column 1 is
// the first module) and the row.
struct ModulePosition {
  int row = 0;
  int column = 0;
  bool operator==(const ModulePosition&) const = default;
};
std::string PositionText(const ModulePosition& position);  // "row 0, column 3"

struct WatchEvent {
  Clock::time_point time;
  EventKind kind = EventKind::RoundFailed;
  uint32_t serial = 0;  // 0 when the event names no module
  std::string ip;
  std::optional<ModulePosition> position;
  std::string detail;
  // The same detail in German, as the window shows it in German; empty where the detail has no
  // German text (then the window shows `detail`).
  std::string germanDetail;
  // Gone to back: how long the module did not answer (Back only).
  std::optional<std::chrono::milliseconds> outage;
  // Replaced, RestoreDone/Failed/Declined: the recorded module that the new one replaces.
  uint32_t replacedSerial = 0;
};
// One line of text ("2026-12-11 04:05:06 gone SN 3100102 (192.168.202.21) row 0, column 3:
// ...") and the JSON line {"time","event","serial","ip","position","detail"[,"outage_ms",
// "replaced_serial"]}.
std::string EventText(const WatchEvent& event);
std::string EventJson(const WatchEvent& event);

enum class Presence {
  Present,
  Missing,   // no answer for fewer than goneAfterRounds rounds
  Gone,      // reported gone
  Replaced,  // gone, and a factory-fresh module stands at its place
};
const char* PresenceName(Presence presence);  // "present", "missing", "gone", "replaced"

// One module of the record with what the watch knows of it now.
struct ModuleWatchState {
  // As recorded.
  uint32_t serial = 0;
  std::string ip;
  std::string firmware;
  ModulePosition position;
  std::string direction;           // "left-to-right", ... as the record names it
  std::optional<uint32_t> parent;  // serial of the module it hangs off; none on the PC's switch
  // Now.
  Presence presence = Presence::Present;
  std::optional<Clock::time_point> goneSince;  // first round without an answer
  bool moved = false;
  bool turned = false;
  bool otherAddress = false;
  bool otherFirmware = false;
  std::string ipNow;  // the address it answers with, when present
  // When replaced: the new module and whether its restore waits for a confirmation.
  uint32_t replacementSerial = 0;
  bool restorePending = false;
  bool restoreRunning = false;
};

// What the watch knows of the line after a round, for drawing it.
struct LineSnapshot {
  std::vector<ModuleWatchState> modules;  // in the record's order
  std::vector<uint32_t> unrecorded;       // serials answering that the record does not hold
  size_t present = 0;                     // recorded modules that answer
  size_t expected = 0;                    // modules in the record
  uint64_t round = 0;                     // rounds run so far
  std::optional<Clock::time_point> lastRound;
  bool lastRoundFailed = false;
};

// What one round saw of the line. Filled by a LineProbe.
struct SeenModule {
  uint32_t serial = 0;
  std::string ip;
  std::string firmware;  // "%d.%02d", as the record writes it
};
struct DrawnModule {
  uint32_t serial = 0;
  std::string ip;
  std::string firmware;
  ModulePosition position;
  std::string direction;
  std::optional<uint32_t> parent;
};
struct RoundView {
  bool failed = false;
  std::string failure;
  std::string germanFailure;         // the failure as the window shows it in German
  std::vector<SeenModule> answered;  // the discovery's modules
  // The topology procedure's drawing, when it ran this round.
  std::optional<std::vector<DrawnModule>> drawing;
  std::vector<std::pair<uint32_t, std::string>> duplicates;  // serial, shared address
};

// The network side of the watch; the real one works through CMRegApp, tests and the benchmark
// give their own. Called on the worker thread only.
class LineProbe {
 public:
  virtual ~LineProbe() = default;
  virtual RoundView Discover() = 0;
  // The topology procedure on the modules the last discovery found (fills `drawing`).
  virtual void DrawTopology(RoundView& view) = 0;
  // The configuration id of a module (registers 1 to 4) as ConfIdText shows it, or nullopt
  // when it could not be read.
  virtual std::optional<std::string> ConfigurationId(uint32_t serial, const std::string& ip) = 0;
  // Restores the backup record of `recordSerial` onto the module `serial`: address, then
  // registers, flash, PLC program. Empty when done; else the failed step and why ("registers:
  // no connection").
  virtual std::string Restore(uint32_t serial, const std::string& ip, uint32_t recordSerial) = 0;
  // Ends any wait on the network early (called by Stop from another thread).
  virtual void Cancel() {}
};
std::unique_ptr<LineProbe> MakeLineProbe(CMRegApp& app, const WatchOptions& options);

class LineWatch {
 public:
  using EventSink = std::function<void(const WatchEvent&)>;
  using SnapshotSink = std::function<void(const LineSnapshot&)>;

  // Watches the line through `app` (its discovery, topology procedure and restore).
  LineWatch(CMRegApp& app, WatchOptions options);
  // Watches through another probe (tests, the benchmark).
  LineWatch(std::unique_ptr<LineProbe> probe, WatchOptions options);
  // StopAndWait(): the worker never outlives the object, so nothing it uses (the inventory of
  // the CMRegApp) is freed under it. A window calls Stop() when it closes and lets the object
  // go later (or on a worker of its own).
  ~LineWatch();
  LineWatch(const LineWatch&) = delete;
  LineWatch& operator=(const LineWatch&) = delete;

  // Reads the record and the backup file; false with the reason when either cannot be read.
  // Called before Start.
  bool Load(std::string* error);
  // Sinks are set before Start; both are called on the worker thread.
  void OnEvent(EventSink sink);
  void OnSnapshot(SnapshotSink sink);

  // Starts the worker (after a successful Load). The first round runs at once.
  bool Start();
  // Stops the worker; waits at most kStopWaitMs (one short socket timeout). A worker still in
  // a network step then finishes that step on its own (a restore already begun is not cut
  // off) and ends; no sink is called once Stop has returned. The CMRegApp given must outlive
  // that step. Safe to call twice.
  static constexpr uint32_t kStopWaitMs = 500;
  void Stop();
  // Stop, then waits until the worker has ended (a program about to exit).
  void StopAndWait();
  bool Running() const;

  // Answers the question of a replaced module (by the new module's serial). A confirmed
  // restore runs on the worker before its next round; its outcome is an event.
  void ConfirmRestore(uint32_t newSerial);
  void DeclineRestore(uint32_t newSerial);
  std::vector<uint32_t> PendingRestores() const;  // new serials waiting for an answer

  LineSnapshot Snapshot() const;

 private:
  struct State;
  std::shared_ptr<State> state_;  // shared with the worker, which may end after Stop
};

}  // namespace watch
