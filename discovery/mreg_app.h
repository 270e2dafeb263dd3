#pragma once
// The application object: owns the adapter inventory, runs the start and end sequences of a
// run and the discovery (discover.cpp). Toolkit-free; the programs give it a Prompt and a
// profile store.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/prompt.h"
#include "discovery/inventory.h"
#include "platform/capture.h"
#include "platform/profile.h"

class CMRegApp {
 public:
  static constexpr const char* kProductTitle = "Quillmar";
  static constexpr const char* kRegistryKey = "Corvenna";

  // prompt and profile may be null: the app then uses its own SilentPrompt / MemoryProfileStore.
  // Neither is owned.
  explicit CMRegApp(base::Prompt* prompt = nullptr, platform::ProfileStore* profile = nullptr);
  ~CMRegApp();  // stops workers and frees the inventory if EndSequence did not run
  CMRegApp(const CMRegApp&) = delete;
  CMRegApp& operator=(const CMRegApp&) = delete;

  // ---- start and end of a run ----
  // Records the working folder (current directory with a trailing '/') and logs the start line.
  void StartSequence();
  // Stops and joins registered workers, writes the exit banner, closes the log and frees the
  // inventory. Safe to call more than once; only the first call acts.
  void EndSequence();
  // Start directory as recorded by StartSequence, always ending in '/'.
  std::string workingFolder;
  // cwd with exactly one '/' appended when it does not end in one.
  static std::string WorkingFolderText(const std::string& cwd);
  // "-------------------------------------\n<<<< Exit Quillmar at HH:MM:SS>>>>\n".
  static std::string ExitBanner(std::chrono::system_clock::time_point now);

  // Worker threads that must end before the inventory is freed: `stopAndJoin` asks the worker
  // to stop and waits for it. Returns an id for UnregisterWorker (call it when the worker
  // ended on its own). Workers are stopped in reverse order of registration.
  int RegisterWorker(std::function<void()> stopAndJoin);
  void UnregisterWorker(int id);
  void StopWorkers();

  // ---- collaborators ----
  base::Prompt& prompt() { return *prompt_; }
  platform::ProfileStore& profile() { return *profile_; }
  void SetPrompt(base::Prompt* prompt);
  // The capture driver used by discovery; the libpcap driver unless a test set another.
  platform::CaptureDriver& captureDriver();
  void SetCaptureDriver(platform::CaptureDriver* driver);  // not owned; null = libpcap

  // ---- inventory (guarded by inventoryLock; lock order inventoryLock, then adapter lock) ----
  std::mutex inventoryLock;
  std::vector<AdapterPtr> adapters;  // ordered
  std::string selectedAdapter;       // device name; empty until chosen
  // 0 makes the next discovery a fast one.
  std::atomic<int> discoverDone{0};

  // Look-ups that take inventoryLock themselves (do not call them while holding it).
  AdapterPtr FindAdapterByName(const std::string& name);
  AdapterPtr SelectedAdapter();
  std::string SelectedAdapterName();
  void SetSelectedAdapter(const std::string& name);
  std::vector<AdapterPtr> AdaptersSnapshot();
  // Searches every adapter in order for a node with that MAC. When none has it, the node is
  // null and *adapter is the adapter with the most nodes (the first on ties), or null when
  // there are no adapters.
  NodePtr FindNodeByMac(const MacAddress& mac, int* index, AdapterPtr* adapter);
  // First node with that serial in `nodes` (caller holds their lock) or, when nodes is null, in
  // the selected adapter (locks taken here).
  NodePtr FindNodeBySerial(uint32_t serial, int* index, const NodeList* nodes = nullptr);
  // Sorts the selected adapter's nodes; false when no adapter is selected.
  bool SortSelectedNodes();

  // ---- bookkeeping of one discovery ----
  // Start of a full discovery: every adapter unconfirmed = 1 and isNew = 0.
  void MarkAdaptersUnconfirmed();
  // Before discovering one adapter: the known adapter of that device name with its nodes
  // deleted (full) or marked stale (not full) and newNodes 0, or a new adapter (isNew 1) not
  // yet in the inventory.
  AdapterPtr BeginAdapterDiscovery(const std::string& deviceName, bool fullDiscovery);
  // Refreshes the adapter's MAC (and its text), name and description where they differ (takes
  // the inventory lock, then the adapter's).
  void RefreshAdapterIdentity(CNAdapter& adapter, const MacAddress& mac, const std::string& name,
                              const std::string& description);
  // After discovering one adapter: a new adapter is appended when it has nodes (else dropped);
  // a known one is confirmed, and its nodes still stale are removed and counted in lostNodes.
  // The information block and the capture device are stored in both cases.
  void EndAdapterDiscovery(const AdapterPtr& adapter, const CAdapterInfo& info,
                           const platform::CaptureDevice& device);
  // End of a full discovery: adapters still unconfirmed are emptied and removed. Returns true
  // when the selected adapter was among them (the selection is then empty).
  bool RemoveUnconfirmedAdapters();
  // End of the run: every adapter emptied and deleted, last to first; the array cleared.
  void FreeInventory();

  // ---- discovery (discover.cpp) ----
  // Runs a discovery over every adapter (allAdapters) or the selected one; list, when given,
  // receives copies of the selected adapter's nodes. Returns 1 on completion, 0 when no
  // capture device could be listed.
  int Discover(bool allAdapters, std::vector<std::shared_ptr<CNode_Data>>* list);

  // ---- topology (topology_protocol.cpp) ----
  // Both topology phases on the selected adapter for `nodes`, whose fields are changed under
  // `nodesLock`. 1 when a node announced itself on the PC's switch during the run, else 0.
  int GetTopology(NodeList& nodes, std::mutex& nodesLock);
  // The same for the selected adapter's own nodes, under its lock.
  int GetTopology();

 private:
  base::Prompt* prompt_;
  platform::ProfileStore* profile_;
  std::unique_ptr<base::Prompt> ownPrompt_;
  std::unique_ptr<platform::ProfileStore> ownProfile_;
  platform::CaptureDriver* captureDriver_ = nullptr;
  std::unique_ptr<platform::CaptureDriver> ownCaptureDriver_;
  std::mutex captureDriverLock_;

  std::mutex workersLock_;
  std::vector<std::pair<int, std::function<void()>>> workers_;
  int nextWorkerId_ = 1;
  std::atomic<bool> ended_{false};
};
