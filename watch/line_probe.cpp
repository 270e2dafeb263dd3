// The watch's probe of the real line: the discovery of the chosen adapter, the topology
// procedure on what it found, the register reader for a configuration id, and the restore of
// one module (Set NodeIP, then the restore job: registers, flash, PLC program).
#include <atomic>
#include <mutex>

#include "backup/backup_file.h"
#include "backup/backup_job.h"
#include "backup/backup_run.h"
#include "backup/line_operations.h"
#include "backup/module_link.h"
#include "backup/module_network.h"
#include "base/format.h"
#include "comm/event_log.h"
#include "discovery/mreg_app.h"
#include "topology/line_drawing.h"
#include "topology/node_command.h"
#include "topology/topology_model.h"
#include "topology/topology_procedure.h"
#include "watch/event_detail.h"
#include "watch/line_watch.h"

namespace watch {

namespace {

// The step of the restore job a result code stopped at.
std::string RestoreStep(uint32_t result) {
  switch (result) {
    case backup::kRestoreNoPing:
    case backup::kRestoreNoConnection:
      return "connection";
    case backup::kRestoreCommunication:
    case backup::kRestoreWrite:
      return "registers";
    case backup::kRestoreFlashCommand:
      return "flash";
    case backup::kRestoreUpload:
    case backup::kRestoreClear:
      return "PLC program";
    default:
      return "restore";
  }
}

class RealLineProbe : public LineProbe {
 public:
  RealLineProbe(CMRegApp& app, const WatchOptions& options) : app_(app), options_(options) {}

  RoundView Discover() override {
    RoundView view;
    if (!options_.adapter.empty()) app_.SetSelectedAdapter(options_.adapter);
    app_.discoverDone = 1;  // a full discovery: a module that no longer answers is dropped
    const bool everyAdapter = options_.adapter.empty() && adapterName_.empty();
    if (app_.Discover(everyAdapter, nullptr) != 1) {
      view.failed = true;
      SetFailure(view, QM_TRANSLATE_NOOP("LineWatch", "kein Aufnahmegerät ließ sich öffnen"));
      return view;
    }
    AdapterPtr adapter = app_.SelectedAdapter();
    if (!adapter && !adapterName_.empty()) {
      // Every module of the adapter stopped answering: its adapter left the inventory.
      app_.SetSelectedAdapter(adapterName_);
      return view;
    }
    if (!adapter) {
      view.failed = true;
      if (options_.adapter.empty()) {
        SetFailure(view,
                   QM_TRANSLATE_NOOP("LineWatch", "an keinem Adapter wurde ein Modul gefunden"));
      } else {
        SetFailure(view, QM_TRANSLATE_NOOP("LineWatch", "an %s wurde kein Modul gefunden"),
                   options_.adapter.c_str());
      }
      return view;
    }
    adapterName_ = adapter->name;
    std::lock_guard<std::mutex> guard(adapter->lock);
    for (const NodePtr& node : adapter->nodes) {
      SeenModule seen;
      seen.serial = node->serialNumber;
      seen.ip = node->ipText;
      seen.firmware = base::Format("%d.%02d", topology::RevisionMajor(node->revision),
                                   topology::RevisionMinor(node->revision));
      view.answered.push_back(seen);
    }
    for (const NodePtr& node : topology::FindDuplicateIps(adapter->nodes).nodes)
      view.duplicates.push_back({node->serialNumber, node->ipText});
    return view;
  }

  void DrawTopology(RoundView& view) override {
    AdapterPtr adapter = app_.SelectedAdapter();
    if (!adapter) return;
    topology::ProcedureSteps steps = topology::LineSteps(app_);
    // The discovery of this round is the one drawn; the watch asks no registers of every
    // module each time it draws (only of a module that may be a replacement).
    steps.discover = [] {};
    steps.readModule = [](const std::string&, uint32_t, int, const std::function<bool()>&) {
      return topology::ReaderResult{};
    };
    topology::TopologyProcedure procedure(app_, steps);
    {
      std::lock_guard<std::mutex> hold(stateLock_);
      state_ = std::make_shared<topology::TopologyViewState>();
      if (cancelled_.load()) state_->SetClosing();
    }
    const topology::ProcedureResult run =
        procedure.Run({topology::kRunWithoutDiscovery, false}, *state_, {}, "PL Conveyors Dialog");
    if (!run.ran || run.stopped) return;
    topology::LineDrawing drawing;
    topology::DrawingOf(*adapter, run, drawing);
    if (!drawing.duplicates.empty()) return;
    std::vector<DrawnModule> drawn;
    for (const topology::DrawnModule& m : drawing.modules) {
      DrawnModule d;
      d.serial = m.serial;
      d.ip = m.ip;
      d.firmware = m.firmware;
      d.position = {m.row, m.column};
      d.direction = topology::DirectionName(m.direction);
      d.parent = m.parent;
      drawn.push_back(d);
    }
    view.drawing = std::move(drawn);
  }

  std::optional<std::string> ConfigurationId(uint32_t serial, const std::string& ip) override {
    const topology::ReaderResult read =
        topology::ReadModuleRegisters(ip, serial, 0, [this] { return cancelled_.load(); });
    if (!read.connected || read.otherSerial) return std::nullopt;
    const std::string id = topology::ConfIdText(read.regs);
    if (id.empty()) return std::nullopt;
    return id;
  }

  std::string Restore(uint32_t serial, const std::string& ip, uint32_t recordSerial) override {
    const backup::LoadResult loaded = backup::LoadBackupFile(options_.backupPath);
    if (loaded.status != backup::LoadStatus::kLoaded) return "backup file: it cannot be read";
    const backup::CNode_DataBackup* record = nullptr;
    for (const backup::CNode_DataBackup& r : loaded.records)
      if (r.serialNumber == recordSerial) record = &r;
    if (record == nullptr) return base::Format("backup file: no record of SN %u", recordSerial);
    const NodePtr node = app_.FindNodeBySerial(serial, nullptr);
    if (!node) return base::Format("address: SN %u no longer answers", serial);
    backup::ModuleInfo module;
    if (AdapterPtr adapter = app_.SelectedAdapter()) {
      std::lock_guard<std::mutex> guard(adapter->lock);
      module = backup::ModuleFromNode(*node);
    }
    // The address first (Set NodeIP carries mask and gateway too); the job then talks to the
    // module at its restored address.
    std::unique_ptr<backup::LineOperations> line = backup::MakeLineOperations(app_);
    if (!line->SetNodeIp(module, record->ipText, record->maskText, record->gatewayText))
      return "address: Set NodeIP could not be sent";
    const std::vector<backup::SettingsNotTaken> refused =
        line->AwaitAnswers(backup::kSetNodeIpAnswerMs);
    if (!refused.empty()) return "address: " + refused.front().reason;
    LogInfo("line watch: SN %u now has the address %s of SN %u (was %s)", serial,
            record->ipText.c_str(), recordSerial, ip.c_str());

    backup::BackupJob job;
    job.state.store(backup::kJobRestore);
    job.record = *record;
    job.record.serialNumber = serial;
    const std::unique_ptr<backup::ModuleLink> link = backup::MakeModuleLink(record->ipText);
    backup::RestoreTh(job, *link);
    if (job.state.load() == backup::kJobDone) return std::string();
    const uint32_t result = job.result.load();
    std::string why = backup::RestoreResultName(result);
    if (!job.errorText.empty()) why += " (" + job.errorText + ")";
    return RestoreStep(result) + ": " + why;
  }

  void Cancel() override {
    cancelled_.store(true);
    std::lock_guard<std::mutex> hold(stateLock_);
    if (state_) state_->SetClosing();
  }

 private:
  CMRegApp& app_;
  WatchOptions options_;
  std::string adapterName_;  // the adapter the first round found the line on
  std::atomic<bool> cancelled_{false};
  std::mutex stateLock_;
  std::shared_ptr<topology::TopologyViewState> state_;
};

}  // namespace

std::unique_ptr<LineProbe> MakeLineProbe(CMRegApp& app, const WatchOptions& options) {
  return std::make_unique<RealLineProbe>(app, options);
}

}  // namespace watch
