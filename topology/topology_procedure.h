#pragma once
// The topology procedure of the topology window, run on the window's worker thread: discovery,
// the duplicate-address check, GetTopology, the layout, the register readers (one thread per
// drawn module, all at once), directions and checks, the title and the outcome with its one
// retry in installation-topology mode. What the window shows while it runs (the texts of the
// wait indication, the readers' progress) is reported through ProcedureEvents, which the
// window turns into queued calls on its own thread. Toolkit-free.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "discovery/inventory.h"
#include "discovery/topology_walk.h"
#include "topology/topology_model.h"

class CMRegApp;

namespace topology {

// Modes of a run (the view message's wParam).
constexpr uint32_t kRunWithDiscovery = 0;
constexpr uint32_t kRunOffline = 1;           // only its first text differs
constexpr uint32_t kRunWithoutDiscovery = 8;  // draw the inventory as it is

constexpr uint16_t kReaderFirstRegister = 1;
constexpr uint16_t kReaderRegisterCount = 20;
constexpr int kReaderConnectPasses = 3;
constexpr uint32_t kReaderPassSpacingMs = 1501;

// The steps of a run that talk to the network; tests and the benchmark put in their own.
struct ProcedureSteps {
  // The window's Discover: a full discovery of the selected adapter (or of all when none is).
  std::function<void()> discover;
  // GetTopology for the adapter's nodes under the adapter's lock.
  std::function<void(NodeList& nodes, std::mutex& nodesLock)> getTopology;
  // One register reader (runs on its own thread; `slot` numbers it in the log). `stop` turns
  // true when the window closes.
  std::function<ReaderResult(const std::string& ipText, uint32_t serial, int slot,
                             const std::function<bool()>& stop)>
      readModule;
};
// The steps against the real line: app.Discover, app.GetTopology and ReadModuleRegisters.
ProcedureSteps LineSteps(CMRegApp& app);

// The register reader against a module: connect (3 passes, 1501 ms apart), registers 1..20,
// 90, 170 and 96 (their failures logged only), then 17..36 and the serial they hold.
ReaderResult ReadModuleRegisters(const std::string& ipText, uint32_t serial, int slot,
                                 const std::function<bool()>& stop);

struct ProcedureEvents {
  std::function<void(const std::string& text)> text;  // the wait indication's text
  std::function<void(int done, int total)> readers;   // one more register reader finished
};

struct ProcedureRequest {
  uint32_t mode = kRunWithDiscovery;
  bool installationMode = false;
};

struct ProcedureResult {
  bool ran = false;        // false when stopped by closing or without an adapter
  bool stopped = false;    // the window closed during the run
  bool noAdapter = false;  // no adapter is selected
  std::string duplicates;  // the "Duplicated IPs" message; nothing was drawn
  DeviceArray view;        // devices with the adapter's own nodes (use under its lock)
  size_t found = 0;        // nodes of the adapter
  int problems = 0;        // modules drawn red
  Outcome outcome = Outcome::Complete;
  std::string title;       // the window title for the base title given to Run
  std::string message;     // what the outcome shows (empty for a complete run)
  uint32_t elapsedMs = 0;  // of the whole run, retry included
  int passes = 0;          // 2 when the retry ran
  uint32_t readersMs = 0;  // the register readers' share of the run
  size_t readersStarted = 0;
  size_t peakReaders = 0;  // readers running at the same time, at most
};

// The state the topology window keeps between runs and that the recursive discovery and
// _determineNode_Direction need of it (discovery::TopologyViewLink).
class TopologyViewState : public discovery::TopologyViewLink {
 public:
  std::mutex& TempNodesLock() override { return tempLock_; }
  NodeList& TempNodes() override { return temp_; }
  void CountPcSwitchNode() override { pcSwitchCount_.fetch_add(1); }
  bool Closing() const override { return closing_.load(); }
  std::optional<uint16_t> DeviceColumn(uint32_t serial) override;

  void SetClosing() { closing_.store(true); }
  int PcSwitchCount() const { return pcSwitchCount_.load(); }
  // The drawing the worker works with (adapter's nodes); set after every run.
  void SetView(const DeviceArray& view);
  DeviceArray View() const;

 private:
  std::mutex tempLock_;
  NodeList temp_;
  std::atomic<int> pcSwitchCount_{0};
  std::atomic<bool> closing_{false};
  mutable std::mutex viewLock_;
  DeviceArray view_;
};

class TopologyProcedure {
 public:
  TopologyProcedure(CMRegApp& app, ProcedureSteps steps) : app_(app), steps_(std::move(steps)) {}

  ProcedureResult Run(const ProcedureRequest& request, TopologyViewState& state,
                      const ProcedureEvents& events, const std::string& baseTitle);

  // Serial numbers whose register serial differed from their discovered one. Such a module
  // gets no register reader in the next run and is shown as a duplicate address there; the
  // mark is then spent, so the run after reads it again and marks it again only while the
  // address is still shared. A module whose address changed meanwhile is read at once.
  std::set<uint32_t> DuplicateFlagged() const;

 private:
  ReaderResults RunReaders(const DeviceArray& view, const TopologyViewState& state,
                           const ProcedureEvents& events, ProcedureResult& result);

  CMRegApp& app_;
  ProcedureSteps steps_;
  mutable std::mutex flaggedLock_;
  std::map<uint32_t, std::string> flagged_;  // serial -> the address it was flagged at
};

// A copy of the drawing whose devices hold copies of their nodes, for the GUI thread to paint
// while the worker goes on with the originals. The caller holds the adapter's lock.
DeviceArray SnapshotOf(const DeviceArray& view);

}  // namespace topology
