#include "config/firmware_upgrade.h"

#include <arpa/inet.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>
#include <thread>

#include "base/format.h"
#include "comm/blocking_socket.h"
#include "comm/event_log.h"
#include "comm/tftp_client.h"
#include "config/plc_program.h"
#include "discovery/discover.h"
#include "discovery/mreg_app.h"
#include "platform/tick.h"

namespace config {

namespace {
constexpr int kStateRequested = 1;
constexpr int kStateLeave = 2;  // abort: leave the transfer loop
constexpr int kStateIdle = 3;
constexpr int kStateStop = 4;
constexpr uint32_t kStarredRetransmissions = 5;
constexpr uint32_t kWaitStepMs = 5;
}  // namespace

struct FirmwareUploader::Job {
  size_t module = 0;  // index into the run's modules (its list index)
  std::string ip;
  std::string localPath;  // "xxx" for the intermediate image
  std::string displayName;
  std::string remoteName;
  uint32_t size = 0;
  const std::vector<uint8_t>* image = nullptr;  // the intermediate image, when it is one
  std::atomic<int> state{kStateIdle};
  std::atomic<bool> done{false};
  uint32_t readTimeouts = 0;
  uint32_t retransmissions = 0;
  uint32_t socketErrors = 0;
  std::string error;
  std::thread thread;
};

bool UpgradeOutcome::AllDone() const {
  if (!started || aborted) return false;
  return std::all_of(modules.begin(), modules.end(),
                     [](const UpgradeModuleResult& m) { return m.result == "Done"; });
}

FirmwareUploader::FirmwareUploader(CMRegApp& app, UpgradeListener& listener, UpgradeOptions options)
    : app_(app), listener_(listener), options_(std::move(options)) {}

void FirmwareUploader::Abort() {
  abort_.store(true);
  std::lock_guard guard(jobsMutex_);
  if (!running_) return;
  for (auto& job : *running_) job->state.store(kStateLeave);
}

uint32_t FirmwareUploader::Elapsed() const {
  return platform::TicksSince(start_);
}

bool FirmwareUploader::Wait(uint32_t ms) {
  const uint32_t start = platform::GetTickCount();
  while (!abort_.load() && platform::TicksSince(start) < ms) platform::SleepMs(kWaitStepMs);
  return !abort_.load();
}

void FirmwareUploader::Emit(const Job& job, const std::string& text) {
  listener_.Line(static_cast<int>(job.module), text);
}

bool FirmwareUploader::ReadVersion(const std::string& ip, int connects, uint16_t* register17,
                                   uint16_t* register25) {
  *register17 = 0;
  *register25 = 0;
  for (int attempt = 0; attempt < connects && !abort_.load(); ++attempt) {
    try {
      CBlockingSocket client;
      client._Connect(ip, options_.modbusPort, false);
      for (int read = 0; read < options_.readsPerConnect; ++read) {
        if (read > 0 && !Wait(options_.readPauseMs)) return false;
        uint16_t words[9] = {};
        if (client.ReadMultiplyRegisters(17, 9, words) != 1) continue;
        *register17 = ntohs(words[0]);
        *register25 = ntohs(words[8]);
        if (*register25 != 0) return true;  // 0 counts as not read
      }
    } catch (const CBlockingSocketException& e) {
      LogInfo("Upgrade: version of %s not read (%s)", ip.c_str(), e.GetErrorMessage().c_str());
      if (!Wait(options_.readPauseMs)) return false;
    }
  }
  return false;
}

std::optional<uint16_t> FirmwareUploader::ReadRegister6(const std::string& ip, int connects) {
  for (int attempt = 0; attempt < connects && !abort_.load(); ++attempt) {
    try {
      CBlockingSocket client;
      client._Connect(ip, options_.modbusPort, false);
      for (int read = 0; read < options_.readsPerConnect; ++read) {
        if (read > 0 && !Wait(options_.readPauseMs)) return std::nullopt;
        uint16_t word = 0;
        if (client.ReadMultiplyRegisters(6, 1, &word) == 1) return ntohs(word);
      }
    } catch (const CBlockingSocketException& e) {
      LogInfo("PLC upload: register 6 of %s not read (%s)", ip.c_str(),
              e.GetErrorMessage().c_str());
      if (!Wait(options_.readPauseMs)) return std::nullopt;
    }
  }
  return std::nullopt;
}

std::string FirmwareUploader::CheckPlcFamilies(const std::string& path,
                                               const std::vector<std::string>& modules) {
  std::string unread;
  std::vector<RangeModule> range;
  for (const std::string& ip : modules) {
    if (abort_.load()) return {};
    const auto register6 = ReadRegister6(ip, options_.versionConnects);
    if (!register6) {
      unread += base::Format("\r\nEine Verbindung zum Modul \"%s\" ist nicht möglich.", ip.c_str());
      continue;
    }
    range.push_back({ip, ModuleFamilyCode(*register6)});
  }
  if (!unread.empty()) return "Vorgang abgebrochen" + unread;
  base::SilentPrompt silent;
  const PlcFileCheck check = CheckPlcFileForRange(path, range, nullptr, silent);
  return check.ok ? std::string() : check.message;
}

void FirmwareUploader::SendReset(const std::vector<std::string>& ips) {
  if (app_.SelectedAdapterName().empty()) app_.Discover(false, nullptr);
  for (const std::string& ip : ips) {
    discovery::CaptureHandlePtr handle;
    if (!discovery::_send_UDP_to_NodeIP(app_, handle, ip, kUpgradeResetRequest,
                                        sizeof kUpgradeResetRequest, discovery::kModulePort, 1))
      LogError("Upgrade: the reset request to %s could not be sent", ip.c_str());
  }
  if (!discovery::SendBroadcastCommand(app_, kUpgradeResetRequest, sizeof kUpgradeResetRequest,
                                       discovery::kModulePort, 3, false))
    LogError("Upgrade: the reset request could not be broadcast");
}

void FirmwareUploader::UploadThread(Job& job) {
  while (job.state.load() == kStateIdle) platform::SleepMs(kWaitStepMs);
  if (job.state.load() != kStateRequested) return;
  CTFTPClient client;
  const bool embedded = job.image != nullptr;
  int result = embedded
                   ? client.Put_Buf(job.image->data(), static_cast<uint32_t>(job.image->size()),
                                    job.remoteName, job.ip, options_.tftpPort)
                   : client.Put(job.localPath, job.remoteName, job.ip, options_.tftpPort);
  const auto star = [&client] {
    return client.GetRetransmissions() > kStarredRetransmissions ? "* " : "";
  };
  const uint32_t tenth = std::max<uint32_t>(job.size / 10, 1);
  uint32_t lastLine = 0;
  while (result == CTFTPClient::kGoOn && job.state.load() == kStateRequested) {
    result = client.ContinuePut();
    const uint32_t done = std::min(client.GetBytesDone(), job.size);
    listener_.Progress(static_cast<int>(job.module), done, job.size);
    if (done - lastLine >= tenth) {
      lastLine = done;
      Emit(job, star() + (embedded ? base::Format("Uploading firmware to %s (%u of %u)... ",
                                                  job.ip.c_str(), done, job.size)
                                   : base::Format("Uploading %s to %s (%u of %u)... ",
                                                  job.displayName.c_str(), job.ip.c_str(), done,
                                                  job.size)));
    }
  }
  if (result == CTFTPClient::kDone) {
    job.done.store(true);
    Emit(job, std::string(star()) + "... FTP upload OK. ");
  } else if (result == CTFTPClient::kGoOn) {
    job.error = "aborted";
    Emit(job, std::string(star()) + "... aborted !");
  } else {
    job.error = client.GetLastError();
    Emit(job, std::string(star()) + "... Error: " + job.error);
  }
  job.readTimeouts = client.GetReadTimeouts();
  job.retransmissions = client.GetRetransmissions();
  job.socketErrors = client.GetSocketErrors();
  int expected = kStateRequested;
  job.state.compare_exchange_strong(expected, kStateIdle);
}

void FirmwareUploader::UploadRun(Jobs& jobs, const FirmwareFileCheck& file,
                                 std::vector<UpgradeModuleResult>& results) {
  if (jobs.empty()) return;
  listener_.Stage("upload");
  {
    std::lock_guard guard(jobsMutex_);
    running_ = &jobs;
  }
  for (auto& job : jobs) {
    try {
      job->thread = std::thread(&FirmwareUploader::UploadThread, this, std::ref(*job));
      Emit(*job, base::Format("Start uploading at %s", job->ip.c_str()));
    } catch (const std::system_error&) {
      job->error = "no thread";
      Emit(*job, base::Format("Unable to start uploading to %s... ERROR: No enough Windows Virtual "
                              "Memmory!",
                              job->ip.c_str()));
    }
  }
  // Started from the last to the first, as the threads were made.
  for (auto it = jobs.rbegin(); it != jobs.rend(); ++it) {
    int expected = kStateIdle;
    if (!abort_.load()) (*it)->state.compare_exchange_strong(expected, kStateRequested);
  }
  for (auto& job : jobs) {
    if (!job->thread.joinable()) continue;
    // A thread still waiting for its start (abort came first) is told to stop.
    int expected = kStateIdle;
    job->state.compare_exchange_strong(expected, kStateStop);
    job->thread.join();
    job->state.store(kStateStop);
  }
  {
    std::lock_guard guard(jobsMutex_);
    running_ = nullptr;
  }
  std::vector<Job*> upgraded;
  for (auto& job : jobs) {
    UpgradeModuleResult& result = results[job->module];
    result.ms = Elapsed();
    if (job->done.load()) {
      upgraded.push_back(job.get());
      result.result = "Uploaded";
      result.detail.clear();
    } else {
      result.result = abort_.load() ? "aborted" : "Failed";
      result.detail = job->error;
    }
  }
  if (file.name.plc) {
    // "Done" only when the module keeps the program as sent (length and check bytes read back).
    listener_.Stage("verify");
    for (Job* job : upgraded) {
      UpgradeModuleResult& result = results[job->module];
      std::string error;
      if (VerifyStoredPlcProgram(job->ip, plcProgram_, &error, options_.servicePort,
                                 options_.tftpPort)) {
        Emit(*job, base::Format("Uploading file %s - Done.", job->displayName.c_str()));
        result.result = "Done";
      } else {
        Emit(*job, base::Format("Uploading file %s - Error. %s", job->displayName.c_str(),
                                error.c_str()));
        LogError("PLC upload to %s: %s", job->ip.c_str(), error.c_str());
        result.result = "Error";
        result.detail = error;
      }
      result.ms = Elapsed();
    }
    return;
  }
  if (upgraded.empty()) return;
  listener_.Stage("reset");
  const auto markAborted = [&] {
    for (Job* job : upgraded) results[job->module].result = "aborted";
  };
  if (!Wait(options_.resetWaitMs)) return markAborted();
  std::vector<std::string> ips;
  for (Job* job : upgraded) ips.push_back(job->ip);
  SendReset(ips);
  if (!Wait(options_.restartWaitMs)) return markAborted();
  listener_.Stage("verify");
  const bool bypass = file.version.Bypass();
  for (Job* job : upgraded) {
    if (abort_.load()) return markAborted();
    uint16_t register17 = 0, register25 = 0;
    const char* star = job->retransmissions > kStarredRetransmissions ? "* " : "";
    UpgradeModuleResult& result = results[job->module];
    if (!ReadVersion(job->ip, options_.verifyConnects, &register17, &register25)) {
      if (abort_.load()) return markAborted();
      result.result = "WARN";
      result.detail = "Unable to connect/check node FW rev.";
      result.versionRead.reset();
      Emit(*job, base::Format("%sUpgrading %s with FW file %s - WARN. Unable to connect/check "
                              "node FW rev.",
                              star, job->ip.c_str(), file.fileName.c_str()));
    } else {
      int major = register25 >> 8;
      const int minor = register25 & 0xFF;
      if (file.name.mode == kModeUx && major > 99) major -= 100;
      const bool ok = bypass || (major == file.version.major && minor == file.version.minor);
      result.result = ok ? "Done" : "Error";
      result.detail = base::Format("%d.%02d", major, minor);
      result.versionRead = FirmwareVersion{major, minor};
      Emit(*job, base::Format("%sUpgrading %s with FW file %s revision %d.%02d - %s.", star,
                              job->ip.c_str(), file.fileName.c_str(), major, minor,
                              ok ? "Done" : "Error"));
    }
    result.ms = Elapsed();
  }
}

UpgradeOutcome FirmwareUploader::Run(const std::string& path,
                                     const std::vector<std::string>& modules) {
  UpgradeOutcome outcome;
  start_ = platform::GetTickCount();
  abort_.store(false);
  const FirmwareFileCheck file = CheckFirmwareFile(path, options_.plcMode);
  if (!file.ok) {
    outcome.abortText = file.message;
    return outcome;
  }
  outcome.modules.resize(modules.size());
  for (size_t i = 0; i < modules.size(); ++i) outcome.modules[i].ip = modules[i];
  std::vector<ModuleDecision> decisions(modules.size(), ModuleDecision::kUpload);
  if (file.name.plc) {
    // The connections page's file rules: every module of the program's device family.
    listener_.Stage("family check");
    outcome.abortText = CheckPlcFamilies(path, modules);
    if (abort_.load()) {
      outcome.aborted = true;
      return outcome;
    }
    if (!outcome.abortText.empty()) {
      LogInfo("PLC upload: %s", outcome.abortText.c_str());
      return outcome;
    }
    if (uint64_t{file.size} + 2 > kMaxStoredPlcProgram) {
      outcome.abortText = base::Format(
          "The file \"%s\" has %u bytes: more than one transfer carries (%u with its 2 check "
          "bytes)",
          path.c_str(), file.size, kMaxStoredPlcProgram);
      return outcome;
    }
    std::ifstream in(path, std::ios::binary);
    plcProgram_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.eof() && !in) {
      outcome.abortText = base::Format("Die Datei\"%s\" Existiert nicht.", path.c_str());
      return outcome;
    }
  }
  if (!file.name.plc && !file.version.Bypass()) {
    listener_.Stage("version test");
    std::string abortText;
    for (size_t i = 0; i < modules.size() && !abort_.load(); ++i) {
      uint16_t register17 = 0, register25 = 0;
      ReadVersion(modules[i], options_.versionConnects, &register17, &register25);
      decisions[i] = DecideModule(register17, register25, file.name.mode, file.version, file.size);
      if (decisions[i] == ModuleDecision::kNotRead) {
        abortText += base::Format("\r\nEine Verbindung zum Modul \"%s\" ist nicht möglich.",
                                  modules[i].c_str());
      } else if (decisions[i] == ModuleDecision::kDowngrade) {
        abortText += base::Format(
            "\r\nDowngrade des Knotens \"%s\" mit der Version %d.%02d, und Firmwareversion "
            "%d.%02d ist nicht möglich.",
            modules[i].c_str(), register25 >> 8, register25 & 0xFF, file.version.major,
            file.version.minor);
      }
    }
    if (abort_.load()) {
      outcome.aborted = true;
      return outcome;
    }
    if (!abortText.empty()) {
      outcome.abortText = "Vorgang abgebrochen" + abortText;
      LogInfo("Upgrade: %s", outcome.abortText.c_str());
      return outcome;
    }
  }
  outcome.started = true;
  const std::string folder =
      options_.dataFolder.empty() ? FirmwareDataFolder() : options_.dataFolder;
  std::optional<std::vector<uint8_t>> image;
  std::string imageError;
  bool imageTried = false;
  Jobs jobs;
  std::vector<size_t> intermediate;
  for (size_t i = 0; i < modules.size(); ++i) {
    UpgradeModuleResult& result = outcome.modules[i];
    if (decisions[i] == ModuleDecision::kSkip) {
      result.result = "SKIPPED";
      result.ms = Elapsed();
      listener_.Line(
          static_cast<int>(i),
          base::Format("Upgrade of %s... SKIPPED - different FW file needed!", modules[i].c_str()));
      continue;
    }
    auto job = std::make_unique<Job>();
    job->module = i;
    job->ip = modules[i];
    if (decisions[i] == ModuleDecision::kIntermediate) {
      if (!imageTried) {
        imageTried = true;
        image = LoadIntermediateImage(file.name.mode, folder, &imageError);
      }
      if (!image) {
        // Without its intermediate image the module cannot take the file: it gets nothing.
        result.result = "Failed";
        result.detail = imageError;
        result.ms = Elapsed();
        listener_.Line(static_cast<int>(i),
                       base::Format("Upgrade of %s... ERROR: %s - nothing uploaded!",
                                    modules[i].c_str(), imageError.c_str()));
        LogError("Upgrade of %s: %s", modules[i].c_str(), imageError.c_str());
        continue;
      }
      const IntermediateImage& info = IntermediateImageFor(file.name.mode);
      job->localPath = "xxx";
      job->displayName = info.name;
      job->remoteName = ExamineFirmwareName(info.name, false).remoteName;
      job->size = info.size;
      job->image = &*image;
      intermediate.push_back(i);
    } else {
      job->localPath = path;
      job->displayName = file.fileName;
      job->remoteName = file.name.remoteName;
      job->size = file.size;
    }
    jobs.push_back(std::move(job));
  }
  UploadRun(jobs, file, outcome.modules);
  // Only modules whose version shows that the intermediate image took can take the chosen file
  // now; the others keep their "Error" or "WARN" and get nothing more.
  const IntermediateImage& bridge = IntermediateImageFor(file.name.mode);
  const std::optional<FirmwareVersion> bridgeVersion = VersionFromFileName(bridge.name);
  std::vector<size_t> second;
  for (size_t i : intermediate) {
    UpgradeModuleResult& result = outcome.modules[i];
    if (result.result != "Done" && result.result != "Error" && result.result != "WARN") continue;
    if (result.versionRead && result.versionRead == bridgeVersion) {
      second.push_back(i);
      continue;
    }
    if (result.result == "Done" || abort_.load()) continue;  // already runs the file's version
    const std::string shown =
        result.versionRead
            ? base::Format("version %d.%02d", result.versionRead->major, result.versionRead->minor)
            : std::string("version not read");
    listener_.Line(
        static_cast<int>(i),
        base::Format("Upgrade of %s... the intermediate image %s did not take (%s) - "
                     "%s is not sent!",
                     modules[i].c_str(), bridge.name, shown.c_str(), file.fileName.c_str()));
    LogError("Upgrade of %s: the intermediate image %s did not take (%s)", modules[i].c_str(),
             bridge.name, shown.c_str());
  }
  if (!second.empty() && !abort_.load()) {
    listener_.Stage("second run");
    Jobs again;
    for (size_t i : second) {
      auto job = std::make_unique<Job>();
      job->module = i;
      job->ip = modules[i];
      job->localPath = path;
      job->displayName = file.fileName;
      job->remoteName = file.name.remoteName;
      job->size = file.size;
      again.push_back(std::move(job));
    }
    UploadRun(again, file, outcome.modules);
  }
  outcome.aborted = abort_.load();
  return outcome;
}

}  // namespace config
