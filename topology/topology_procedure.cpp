#include "topology/topology_procedure.h"

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "comm/blocking_socket.h"
#include "comm/event_log.h"
#include "discovery/mreg_app.h"
#include "platform/tick.h"

namespace topology {

namespace {

constexpr const char* kTextSearching = "Suche alle Knoten...";
constexpr const char* kTextOffline = "Drawing the topology (OFFLINE mode)...";
constexpr const char* kTextDuplicates = "Prüfe auf doppelte IP-Adressen...";
constexpr const char* kTextTopology =
    "    - Topologie wird abgefragt;\n    - Warten auf Antworten;\n    - Verarbeiten von "
    "Antworten...";
constexpr const char* kTextDrawing = "Empfangen der Daten und Zeichnen der Topologie...";
constexpr const char* kTextGroups = "Check for PL Conveyor groups...";
constexpr const char* kTextCheckNodes = "Prüfe Knotenkonfiguration...";
constexpr const char* kTextBuilding = "Aufbau der Knoten Baumstruktur...";

void Say(const ProcedureEvents& events, const char* text) {
  if (events.text) events.text(text);
}

bool ReadOnce(CBlockingSocket& socket, uint16_t first, uint16_t count, std::vector<uint16_t>& out) {
  out.assign(count, 0);
  try {
    if (socket.ReadMultiplyRegisters(first, count, out.data()) != 1) return false;
  } catch (const CBlockingSocketException&) {
    return false;
  }
  for (uint16_t& word : out) word = ntohs(word);
  return true;
}

}  // namespace

ReaderResult ReadModuleRegisters(const std::string& ipText, uint32_t serial, int slot,
                                 const std::function<bool()>& stop) {
  ReaderResult result;
  CBlockingSocket socket;
  bool connected = false;
  for (int pass = 0; pass < kReaderConnectPasses && !connected; ++pass) {
    if (stop && stop()) return result;
    const uint32_t started = platform::GetTickCount();
    try {
      connected = socket._Connect(ipText, CBlockingSocket::kModbusPort, false) == 1;
    } catch (const CBlockingSocketException&) {
      connected = false;
    }
    if (!connected && pass + 1 < kReaderConnectPasses) {
      const uint32_t spent = platform::TicksSince(started);
      // Sleep in short steps so that a closing window is not held up.
      for (uint32_t waited = spent; waited < kReaderPassSpacingMs; waited += 50) {
        if (stop && stop()) return result;
        platform::SleepMs(50);
      }
    }
  }
  if (!connected) return result;
  std::vector<uint16_t> regs;
  if (!ReadOnce(socket, kReaderFirstRegister, kReaderRegisterCount, regs) &&
      !ReadOnce(socket, kReaderFirstRegister, kReaderRegisterCount, regs)) {
    return result;
  }
  result.connected = true;
  result.regs = regs;
  LogInfo(" > th.No.%d got registers from %d to %d from nodeIP: %s", slot, kReaderFirstRegister,
          kReaderFirstRegister + kReaderRegisterCount - 1, ipText.c_str());
  std::vector<uint16_t> one;
  for (uint16_t reg : {uint16_t{90}, uint16_t{170}, uint16_t{96}}) {
    if (stop && stop()) return result;
    if (!ReadOnce(socket, reg, 1, one)) {
      LogWarning(" > th.No.%d FAILED to got Reg. %d from nodeIP: %s", slot, reg, ipText.c_str());
    }
  }
  std::vector<uint16_t> identity;
  if (ReadOnce(socket, 17, 20, identity)) {
    // Registers 28 and 29 hold the serial number, low word first.
    const uint32_t read = static_cast<uint32_t>(identity[12]) << 16 | identity[11];
    if (read != serial) {
      LogWarning(
          " > WARN !?!  the connection is made to other node => there is duplicated IP over the "
          "network for nodeIP: %s",
          ipText.c_str());
      result.otherSerial = true;
    }
  }
  return result;
}

ProcedureSteps LineSteps(CMRegApp& app) {
  ProcedureSteps steps;
  steps.discover = [&app] {
    app.discoverDone = 1;  // a full discovery
    app.Discover(app.SelectedAdapterName().empty(), nullptr);
  };
  steps.getTopology = [&app](NodeList& nodes, std::mutex& lock) { app.GetTopology(nodes, lock); };
  steps.readModule = ReadModuleRegisters;
  return steps;
}

std::optional<uint16_t> TopologyViewState::DeviceColumn(uint32_t serial) {
  std::lock_guard guard(viewLock_);
  const int index = view_.FindDeviceBySerial(serial);
  if (index < 0) return std::nullopt;
  return view_.devices[static_cast<size_t>(index)].column;
}

void TopologyViewState::SetView(const DeviceArray& view) {
  std::lock_guard guard(viewLock_);
  view_ = view;
}

DeviceArray TopologyViewState::View() const {
  std::lock_guard guard(viewLock_);
  return view_;
}

std::set<uint32_t> TopologyProcedure::DuplicateFlagged() const {
  std::lock_guard guard(flaggedLock_);
  std::set<uint32_t> serials;
  for (const auto& [serial, ip] : flagged_) serials.insert(serial);
  return serials;
}

ReaderResults TopologyProcedure::RunReaders(const DeviceArray& view, const TopologyViewState& state,
                                            const ProcedureEvents& events,
                                            ProcedureResult& result) {
  struct Slot {
    std::string ip;
    uint32_t serial = 0;
    ReaderResult got;
  };
  // The drawn modules' addresses, read under the adapter's lock (their records are its own).
  std::vector<Slot> modules;
  {
    const AdapterPtr adapter = app_.SelectedAdapter();
    std::unique_lock<std::mutex> nodesLock;
    if (adapter) nodesLock = std::unique_lock<std::mutex>(adapter->lock);
    for (size_t i = 1; i < view.devices.size(); ++i) {
      const CPLViewDevice& device = view.devices[i];
      if (device.kind != kKindModule || !device.node) continue;
      modules.push_back({device.node->ipText, device.Serial(), {}});
    }
  }
  // Marks of the last run: honoured once (no reader, shown as a duplicate), then spent. A
  // module that has another address by now is read at once.
  std::set<uint32_t> flagged;
  {
    std::lock_guard guard(flaggedLock_);
    for (const Slot& module : modules) {
      const auto mark = flagged_.find(module.serial);
      if (mark != flagged_.end() && mark->second == module.ip) flagged.insert(module.serial);
    }
    flagged_.clear();
  }
  std::vector<Slot> slots;
  for (Slot& module : modules) {
    if (flagged.count(module.serial) == 0) slots.push_back(std::move(module));
  }
  const uint32_t started = platform::GetTickCount();
  std::mutex lock;
  int running = 0;
  int done = 0;
  const int total = static_cast<int>(slots.size());
  const std::function<bool()> stop = [&state] { return state.Closing(); };
  std::vector<std::thread> threads;
  threads.reserve(slots.size());
  for (Slot& slot : slots) {
    const int number = static_cast<int>(threads.size());
    threads.emplace_back([&, this, number, slotPtr = &slot] {
      {
        std::lock_guard guard(lock);
        ++running;
        result.peakReaders = std::max(result.peakReaders, static_cast<size_t>(running));
      }
      slotPtr->got = steps_.readModule(slotPtr->ip, slotPtr->serial, number, stop);
      int now = 0;
      {
        std::lock_guard guard(lock);
        --running;
        now = ++done;
      }
      if (events.readers) events.readers(now, total);
    });
  }
  for (std::thread& thread : threads) thread.join();
  result.readersStarted = slots.size();
  result.readersMs = platform::TicksSince(started);

  ReaderResults readers;
  for (const Slot& slot : slots) {
    readers[slot.serial] = slot.got;
    if (slot.got.otherSerial) {
      std::lock_guard guard(flaggedLock_);
      flagged_[slot.serial] = slot.ip;
    }
  }
  // A module flagged in the last run at the same address is checked as a duplicate, unread.
  for (uint32_t serial : flagged) readers[serial].otherSerial = true;
  return readers;
}

ProcedureResult TopologyProcedure::Run(const ProcedureRequest& request, TopologyViewState& state,
                                       const ProcedureEvents& events,
                                       const std::string& baseTitle) {
  ProcedureResult result;
  const uint32_t started = platform::GetTickCount();
  bool retryAllowed = true;
  auto closing = [&] {
    if (!state.Closing()) return false;
    LogInfo(">>> Finishing the oper. because m_bNT_Destroying");
    result.stopped = true;
    result.elapsedMs = platform::TicksSince(started);
    return true;
  };
  const std::function<bool()> layoutStop = [&state] { return state.Closing(); };

  for (;;) {
    ++result.passes;
    if (closing()) return result;
    Say(events, request.mode == kRunOffline ? kTextOffline : kTextSearching);
    if (request.mode != kRunWithoutDiscovery) {
      const uint32_t discoverStart = platform::GetTickCount();
      if (steps_.discover) steps_.discover();
      LogInfo(">>> Drawing NodesTREE phase#1 (DiscoverAll) elapsed time %u ms.",
              platform::TicksSince(discoverStart));
    } else {
      LogInfo(">>> Drawing NodesTREE without Discovering...");
    }
    if (closing()) return result;

    const AdapterPtr adapter = app_.SelectedAdapter();
    if (!adapter) {
      result.noAdapter = true;
      result.elapsedMs = platform::TicksSince(started);
      return result;
    }

    Say(events, kTextDuplicates);
    {
      std::lock_guard guard(adapter->lock);
      const DuplicateIps duplicates = FindDuplicateIps(adapter->nodes);
      if (!duplicates.nodes.empty()) {
        result.duplicates = duplicates.Message();
        result.found = adapter->nodes.size();
        result.elapsedMs = platform::TicksSince(started);
        return result;
      }
    }

    Say(events, kTextTopology);
    if (request.mode == kRunWithDiscovery) {
      std::lock_guard guard(adapter->lock);
      for (const NodePtr& node : adapter->nodes) node->linkedToPcSwitch = 0;
    }
    {
      std::lock_guard guard(state.TempNodesLock());
      state.TempNodes().clear();
    }
    if (steps_.getTopology) steps_.getTopology(adapter->nodes, adapter->lock);
    if (closing()) return result;

    Say(events, kTextDrawing);
    {
      std::lock_guard guard(adapter->lock);
      result.view = LayOut(adapter->nodes, kMaxDrawnModules, layoutStop);
      result.found = adapter->nodes.size();
    }
    if (closing()) return result;

    const RunFacts facts{result.view.ModuleCount(), result.found, request.installationMode,
                         platform::TicksSince(started), retryAllowed};
    result.outcome = RunOutcome(facts);
    if (result.outcome == Outcome::Retry) {
      LogWarning("WARN. nUnExistErrors = %i, iS_PriorOper = %i, nDeviceCountAfterOper = %i !?!",
                 static_cast<int>(result.found - result.view.ModuleCount()), 1,
                 static_cast<int>(result.view.ModuleCount()));
      retryAllowed = false;
      continue;
    }
    break;
  }

  Say(events, request.installationMode ? kTextCheckNodes : kTextGroups);
  const ReaderResults readers = RunReaders(result.view, state, events, result);
  if (closing()) return result;

  Say(events, kTextBuilding);
  const AdapterPtr adapter = app_.SelectedAdapter();
  if (adapter) {
    std::lock_guard guard(adapter->lock);
    result.problems = SettleDevices(result.view, &readers);
  }
  result.title = WindowTitle(baseTitle, result.view.ModuleCount(), result.found, result.problems);
  result.elapsedMs = platform::TicksSince(started);
  result.message = OutcomeMessage(
      result.outcome,
      {result.view.ModuleCount(), result.found, request.installationMode, result.elapsedMs, false});
  LogInfo("m_rect.right= %u, m_rect.left= %u, g_RecursiveMAXRowNum= %u, X_Y= %u, m_nCurWidth= %u",
          static_cast<unsigned>(result.view.maxColumn + kGridStep), 0u,
          static_cast<unsigned>(result.view.g_RecursiveMAXRowNum), 0u, 0u);
  state.SetView(result.view);
  result.ran = true;
  return result;
}

DeviceArray SnapshotOf(const DeviceArray& view) {
  DeviceArray copy = view;
  for (CPLViewDevice& device : copy.devices) {
    if (device.node) device.node = std::make_shared<CNode_Data>(*device.node);
  }
  return copy;
}

}  // namespace topology
