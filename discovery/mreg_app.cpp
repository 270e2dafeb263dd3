#include "discovery/mreg_app.h"

#include <algorithm>
#include <ctime>

#include "base/format.h"
#include "comm/event_log.h"
#include "platform/folders.h"
#include "platform/tick.h"

CMRegApp::CMRegApp(base::Prompt* prompt, platform::ProfileStore* profile)
    : prompt_(prompt), profile_(profile) {
  if (!prompt_) {
    ownPrompt_ = std::make_unique<base::SilentPrompt>();
    prompt_ = ownPrompt_.get();
  }
  if (!profile_) {
    ownProfile_ = std::make_unique<platform::MemoryProfileStore>();
    profile_ = ownProfile_.get();
  }
}

CMRegApp::~CMRegApp() {
  StopWorkers();
  FreeInventory();
}

// ---- start and end ----

std::string CMRegApp::WorkingFolderText(const std::string& cwd) {
  if (!cwd.empty() && cwd.back() == '/') return cwd;
  return cwd + '/';
}

std::string CMRegApp::ExitBanner(std::chrono::system_clock::time_point now) {
  const time_t seconds = std::chrono::system_clock::to_time_t(now);
  tm local{};
  localtime_r(&seconds, &local);
  // "%H:%M:%S" is the same in every locale; formatted by hand to stay clear of setlocale.
  const std::string time =
      base::Format("%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
  return "-------------------------------------\n<<<< Exit Quillmar at " + time + ">>>>\n";
}

void CMRegApp::StartSequence() {
  workingFolder = WorkingFolderText(platform::CurrentFolder());
  LogInfo("\nStaring Quillmar...\n");
}

void CMRegApp::EndSequence() {
  if (ended_.exchange(true)) return;
  // Workers may still log and hold nodes: they end first, so that the banner is the last line
  // of the run and nothing walks the inventory while it is freed.
  StopWorkers();
  WriteLogText(ExitBanner(std::chrono::system_clock::now()));
  CloseLog();
  FreeInventory();
}

int CMRegApp::RegisterWorker(std::function<void()> stopAndJoin) {
  std::lock_guard guard(workersLock_);
  const int id = nextWorkerId_++;
  workers_.emplace_back(id, std::move(stopAndJoin));
  return id;
}

void CMRegApp::UnregisterWorker(int id) {
  std::lock_guard guard(workersLock_);
  std::erase_if(workers_, [id](const auto& worker) { return worker.first == id; });
}

void CMRegApp::StopWorkers() {
  std::vector<std::pair<int, std::function<void()>>> workers;
  {
    std::lock_guard guard(workersLock_);
    workers.swap(workers_);
  }
  for (auto it = workers.rbegin(); it != workers.rend(); ++it) {
    if (it->second) it->second();
  }
}

// ---- collaborators ----

void CMRegApp::SetPrompt(base::Prompt* prompt) {
  if (prompt) {
    prompt_ = prompt;
  } else {
    if (!ownPrompt_) ownPrompt_ = std::make_unique<base::SilentPrompt>();
    prompt_ = ownPrompt_.get();
  }
}

platform::CaptureDriver& CMRegApp::captureDriver() {
  std::lock_guard guard(captureDriverLock_);
  if (captureDriver_) return *captureDriver_;
  if (!ownCaptureDriver_) ownCaptureDriver_ = platform::MakePcapDriver();
  return *ownCaptureDriver_;
}

void CMRegApp::SetCaptureDriver(platform::CaptureDriver* driver) {
  std::lock_guard guard(captureDriverLock_);
  captureDriver_ = driver;
}

// ---- inventory ----

AdapterPtr CMRegApp::FindAdapterByName(const std::string& name) {
  if (name.empty()) return nullptr;
  std::lock_guard guard(inventoryLock);
  for (const auto& adapter : adapters) {
    if (adapter->name == name) return adapter;
  }
  return nullptr;
}

AdapterPtr CMRegApp::SelectedAdapter() {
  std::lock_guard guard(inventoryLock);
  if (selectedAdapter.empty()) return nullptr;
  for (const auto& adapter : adapters) {
    if (adapter->name == selectedAdapter) return adapter;
  }
  return nullptr;
}

std::string CMRegApp::SelectedAdapterName() {
  std::lock_guard guard(inventoryLock);
  return selectedAdapter;
}

void CMRegApp::SetSelectedAdapter(const std::string& name) {
  std::lock_guard guard(inventoryLock);
  selectedAdapter = name;
}

std::vector<AdapterPtr> CMRegApp::AdaptersSnapshot() {
  std::lock_guard guard(inventoryLock);
  return adapters;
}

NodePtr CMRegApp::FindNodeByMac(const MacAddress& mac, int* index, AdapterPtr* adapter) {
  std::lock_guard guard(inventoryLock);
  AdapterPtr busiest;
  size_t busiestCount = 0;
  for (const auto& candidate : adapters) {
    std::lock_guard adapterGuard(candidate->lock);
    if (NodePtr node = FindNodeByMacIn(mac, index, candidate->nodes)) {
      if (adapter) *adapter = candidate;
      return node;
    }
    if (!busiest || candidate->nodes.size() > busiestCount) {
      busiest = candidate;
      busiestCount = candidate->nodes.size();
    }
  }
  if (index) *index = -1;
  if (adapter) *adapter = busiest;
  return nullptr;
}

NodePtr CMRegApp::FindNodeBySerial(uint32_t serial, int* index, const NodeList* nodes) {
  if (nodes) return ::FindNodeBySerial(serial, index, *nodes);
  std::lock_guard guard(inventoryLock);
  for (const auto& adapter : adapters) {
    if (selectedAdapter.empty() || adapter->name != selectedAdapter) continue;
    return adapter->FindNodeBySerial(serial, index, true);
  }
  if (index) *index = -1;
  return nullptr;
}

bool CMRegApp::SortSelectedNodes() {
  std::lock_guard guard(inventoryLock);
  for (const auto& adapter : adapters) {
    if (selectedAdapter.empty() || adapter->name != selectedAdapter) continue;
    SortNodes(*adapter);
    return true;
  }
  return false;
}

void CMRegApp::MarkAdaptersUnconfirmed() {
  std::lock_guard guard(inventoryLock);
  for (const auto& adapter : adapters) {
    adapter->unconfirmed = 1;
    adapter->isNew = 0;
  }
}

AdapterPtr CMRegApp::BeginAdapterDiscovery(const std::string& deviceName, bool fullDiscovery) {
  std::lock_guard guard(inventoryLock);
  for (const auto& adapter : adapters) {
    if (deviceName.empty() || adapter->name != deviceName) continue;
    std::lock_guard adapterGuard(adapter->lock);
    if (fullDiscovery) {
      adapter->nodes.clear();
    } else {
      for (const auto& node : adapter->nodes) node->stale = 1;
    }
    adapter->newNodes = 0;
    adapter->isNew = 0;
    return adapter;
  }
  auto adapter = std::make_shared<CNAdapter>();
  adapter->name = deviceName;
  adapter->isNew = 1;
  return adapter;
}

void CMRegApp::RefreshAdapterIdentity(CNAdapter& adapter, const MacAddress& mac,
                                      const std::string& name, const std::string& description) {
  // Written under both locks, so that a reader holding either one sees them whole.
  std::lock_guard guard(inventoryLock);
  std::lock_guard adapterGuard(adapter.lock);
  if (adapter.mac != mac) {
    adapter.mac = mac;
    adapter.macText = base::MacText(mac.data());
  }
  if (adapter.name != name) adapter.name = name;
  if (adapter.description != description) adapter.description = description;
}

void CMRegApp::EndAdapterDiscovery(const AdapterPtr& adapter, const CAdapterInfo& info,
                                   const platform::CaptureDevice& device) {
  if (!adapter) return;
  std::lock_guard guard(inventoryLock);
  const bool known = std::find(adapters.begin(), adapters.end(), adapter) != adapters.end();
  std::lock_guard adapterGuard(adapter->lock);
  adapter->info = info;
  adapter->captureDevice = device;
  if (!known) {
    // A new adapter joins the inventory only when something answered on it.
    if (!adapter->nodes.empty()) adapters.push_back(adapter);
    return;
  }
  adapter->unconfirmed = 0;
  const auto firstStale = std::stable_partition(adapter->nodes.begin(), adapter->nodes.end(),
                                                [](const NodePtr& n) { return !n->stale; });
  adapter->lostNodes = static_cast<int32_t>(adapter->nodes.end() - firstStale);
  adapter->nodes.erase(firstStale, adapter->nodes.end());
}

bool CMRegApp::RemoveUnconfirmedAdapters() {
  std::lock_guard guard(inventoryLock);
  bool selectedRemoved = false;
  const uint32_t now = platform::GetTickCount();
  for (auto it = adapters.begin(); it != adapters.end();) {
    CNAdapter& adapter = **it;
    if (!adapter.unconfirmed) {
      ++it;
      continue;
    }
    {
      std::lock_guard adapterGuard(adapter.lock);
      adapter.DropNodesLocked(now);
    }
    if (!selectedAdapter.empty() && adapter.name == selectedAdapter) {
      selectedAdapter.clear();
      selectedRemoved = true;
    }
    it = adapters.erase(it);
  }
  return selectedRemoved;
}

void CMRegApp::FreeInventory() {
  std::lock_guard guard(inventoryLock);
  const uint32_t now = platform::GetTickCount();
  for (auto it = adapters.rbegin(); it != adapters.rend(); ++it) {
    std::lock_guard adapterGuard((*it)->lock);
    if (!(*it)->nodes.empty()) (*it)->DropNodesLocked(now);
  }
  adapters.clear();
}
