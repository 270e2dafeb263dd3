#include "backup/backup_run.h"

#include <algorithm>
#include <system_error>
#include <thread>

#include "backup/backup_file.h"
#include "base/format.h"
#include "comm/event_log.h"
#include "discovery/inventory.h"
#include "params/target.h"
#include "platform/tick.h"

namespace backup {

namespace {

constexpr int kUnitsPerBackup = 100;
constexpr uint32_t kPollMs = 2;
constexpr uint32_t kSetNodeIpGapMs = 10;
constexpr uint32_t kAnswerWaitMs = 4000;
constexpr int kRestoreUnits = 125;
constexpr int kRestoreFixedUnits = 220;

// Adds each job's progress steps to the bar, at most its own share per module.
class RunProgress {
 public:
  RunProgress(base::Progress& progress, size_t modules, int unitsPerModule, int extra = 0)
      : progress_(progress),
        units_(modules),
        perModule_(unitsPerModule),
        total_(static_cast<int>(modules) * unitsPerModule + extra) {
    progress_.SetRange(total_);
    Publish();
  }
  std::function<void(int)> For(size_t module) {
    return [this, module](int units) {
      auto& value = units_[module];
      int now = value.load();
      while (now < perModule_ &&
             !value.compare_exchange_weak(now, std::min(perModule_, now + units))) {
      }
    };
  }
  void Add(int units) { extra_ += units; }
  void Publish() {
    int done = extra_;
    for (const auto& value : units_) done += value.load();
    done = std::min(done, total_);
    if (done == shown_) return;
    shown_ = done;
    progress_.SetPosition(done);
    progress_.SetText(base::Format("%i %%", total_ ? done * 100 / total_ : 100));
  }
  void Complete() {
    for (auto& value : units_) value.store(perModule_);
    extra_ = total_;
    Publish();
  }

 private:
  base::Progress& progress_;
  std::vector<std::atomic<int>> units_;
  int perModule_;
  int total_;
  int extra_ = 0;
  int shown_ = -1;
};

std::string Entries(const std::vector<std::string>& items, bool quoted) {
  std::string text;
  for (const auto& item : items) text += (quoted ? "\"" + item + "\"" : item) + ", ";
  return text;
}

ModuleOutcome OutcomeOf(const BackupJob& job) {
  ModuleOutcome outcome;
  outcome.serial = job.record.serialNumber;
  outcome.ipText = job.record.ipText;
  outcome.failed = job.state.load() == kJobFailed && job.result != 0;
  outcome.result = job.result;
  outcome.errorText = job.errorText;
  outcome.elapsedMs = platform::TicksSince(job.startTick, job.endTick);
  return outcome;
}

// The first of the record's address texts that a Set NodeIP would carry (mask and gateway, and
// with `withIp` the address too) that is no IPv4 address: its name and text.
std::optional<std::pair<const char*, std::string>> BadAddressText(const CNode_DataBackup& record,
                                                                  bool withIp) {
  const std::pair<const char*, const std::string*> fields[] = {
      {"the IP address", &record.ipText},
      {"the subnet mask", &record.maskText},
      {"the gateway", &record.gatewayText}};
  for (const auto& [name, text] : fields) {
    if (!withIp && text == &record.ipText) continue;
    if (!params::ParseDottedAddress(*text, nullptr)) return std::make_pair(name, *text);
  }
  return std::nullopt;
}

CNode_DataBackup RecordFor(const ModuleInfo& module) {
  CNode_DataBackup record;
  record.serialNumber = module.serial;
  record.ipText = module.ipText;
  record.maskText = module.maskText;
  record.gatewayText = module.gatewayText;
  record.ipAddress = module.ipAddress;
  record.linePosition = module.linePosition;
  record.moduleFamily = module.familyByte;
  record.firmwareVersion = module.firmwareVersion;
  record.registerCount = RegisterSlotsFor(module.firmwareVersion);
  record.nodeBlock = module.nodeBlock;
  return record;
}

// Runs one thread per job and waits (2 ms polls) until every job is below state 4 or the
// progress is cancelled; then asks every job that has not failed to stop and waits for the
// threads. True when cancelled.
bool RunJobs(std::vector<std::unique_ptr<BackupJob>>& jobs,
             std::vector<std::unique_ptr<ModuleLink>>& links, bool restore, const JobTiming& timing,
             base::Progress& progress, RunProgress& bar, const JobObserver& observer,
             size_t* started = nullptr) {
  std::vector<std::pair<int32_t, uint32_t>> seen(jobs.size(), {-1, 0});
  auto tell = [&] {
    if (!observer) return;
    for (size_t i = 0; i < jobs.size(); ++i) {
      const std::pair<int32_t, uint32_t> now{jobs[i]->state.load(), jobs[i]->result.load()};
      if (now == seen[i]) continue;
      seen[i] = now;
      observer(i, now.first, now.second);
    }
  };
  std::vector<std::thread> threads;
  threads.reserve(jobs.size());
  for (size_t i = 0; i < jobs.size(); ++i) {
    BackupJob* job = jobs[i].get();
    ModuleLink* link = links[i].get();
    job->running.store(true);
    try {
      threads.emplace_back([job, link, restore, timing] {
        if (restore)
          RestoreTh(*job, *link, timing);
        else
          BackupTh(*job, *link, timing);
      });
    } catch (const std::system_error&) {
      // No thread for this job (nor for the ones after it): they never start.
      for (size_t k = i; k < jobs.size(); ++k) {
        jobs[k]->running.store(false);
        jobs[k]->errorText = "no thread could be started for it";
        jobs[k]->result = restore ? kRestoreNoConnection : 0u;
        jobs[k]->state.store(kJobFailed);
      }
      break;
    }
  }
  if (started) *started = threads.size();
  bool cancelled = false;
  for (;;) {
    bar.Publish();
    tell();
    const bool allEnded = std::all_of(jobs.begin(), jobs.end(), [restore](const auto& job) {
      const int32_t state = job->state.load();
      return state < kJobBackup || (restore && !job->running.load());
    });
    if (allEnded) break;
    if (progress.Cancelled()) {
      cancelled = true;
      break;
    }
    platform::SleepMs(kPollMs);
  }
  // A finished backup job waits for this. A restore job that has ended keeps its state, also
  // when its thread has not yet left (done, but still running): only one still at work is
  // told to stop, and never over a state it sets meanwhile.
  for (auto& job : jobs) {
    if (!restore) {
      if (job->state.load() != kJobFailed) job->state.store(kJobStop);
      job->state.notify_all();  // a finished job sleeps on its state
      continue;
    }
    int32_t state = job->state.load();
    while (state >= kJobBackup && !job->state.compare_exchange_weak(state, kJobStop)) {
    }
    job->state.notify_all();
  }
  for (auto& thread : threads) thread.join();
  bar.Publish();
  tell();
  return cancelled;
}

}  // namespace

ModuleInfo ModuleFromNode(const CNode_Data& node) {
  ModuleInfo module;
  module.serial = node.serialNumber;
  module.ipText = node.ipText;
  module.maskText = node.maskText;
  module.gatewayText = node.gatewayText;
  module.ipAddress = node.ipAddress;
  module.linePosition = node.record[16];
  module.familyByte = node.record[17];
  module.firmwareVersion = node.revision;
  std::copy(node.record.begin(), node.record.begin() + kNodeBlockSize, module.nodeBlock.begin());
  return module;
}

std::string ModuleOutcome::Describe(bool restore, base::Language language) const {
  const auto shown = [language](const std::string& text) -> std::string {
    return base::Translate(language, kOutcomeContext, text.c_str());
  };
  if (!reason.empty()) return shown(reason);
  if (!restore && !failed && errorText.rfind("Achtung!", 0) == 0)
    return shown(QM_TRANSLATE_NOOP("backup::ModuleOutcome", "done, old firmware: registers only"));
  if (!failed && result == 0) return shown(QM_TRANSLATE_NOOP("backup::ModuleOutcome", "done"));
  const std::string name = shown(restore ? RestoreResultName(result) : BackupResultName(result));
  if (failed) return name;
  return base::Format(
      shown(QM_TRANSLATE_NOOP("backup::ModuleOutcome", "done, warning: %s")).c_str(), name.c_str());
}

BackupRunResult RunBackup(const std::vector<ModuleInfo>& modules, const LinkFactory& links,
                          base::Prompt& prompt, base::Progress& progress, const JobTiming& timing,
                          const JobObserver& observer, const ReachabilityCheck& reachable) {
  BackupRunResult run;
  if (modules.empty()) {
    run.failureText = kNoSelectionBackupText;
    prompt.Tell(run.failureText);
    return run;
  }
  for (size_t i = 0; i < modules.size(); ++i) {
    for (size_t j = i + 1; j < modules.size(); ++j) {
      if (modules[i].ipText == modules[j].ipText) {
        run.failureText = base::Format(kDuplicateSelectedText, modules[i].serial, modules[j].serial,
                                       modules[i].ipText.c_str());
        prompt.Tell(run.failureText, "Quillmar", base::PromptIcon::Error);
        return run;
      }
    }
  }
  // A module the adapter's settings do not reach: retry (after the user changed them), ignore
  // or cancel the run.
  for (size_t i = 0; reachable && i < modules.size(); ++i) {
    for (;;) {
      const auto problem = reachable(modules[i]);
      if (!problem) break;
      const base::PromptAnswer answer =
          prompt.Ask(base::Format(kUnreachableText, modules[i].ipText.c_str(),
                                  problem->adapter.c_str(), problem->proposal.c_str()),
                     "Quillmar", base::PromptButtons::AbortRetryIgnore, base::PromptIcon::Warning);
      if (answer == base::PromptAnswer::Ignore) break;
      if (answer != base::PromptAnswer::Retry) {
        run.cancelled = true;
        return run;
      }
    }
  }
  const uint32_t start = platform::GetTickCount();
  std::vector<std::unique_ptr<BackupJob>> jobs;
  std::vector<std::unique_ptr<ModuleLink>> moduleLinks;
  RunProgress bar(progress, modules.size(), kUnitsPerBackup);
  for (size_t i = 0; i < modules.size(); ++i) {
    auto job = std::make_unique<BackupJob>();
    job->index = static_cast<uint8_t>(i);
    job->record = RecordFor(modules[i]);
    job->registerCount = job->record.registerCount;
    job->nextRegister = 1;
    job->state.store(kJobBackup);
    job->startTick = platform::GetTickCount();
    job->onProgress = bar.For(i);
    jobs.push_back(std::move(job));
    moduleLinks.push_back(links(modules[i].ipText));
  }
  size_t started = 0;
  run.cancelled = RunJobs(jobs, moduleLinks, false, timing, progress, bar, observer, &started);
  if (started < jobs.size()) {
    run.failureText = base::Format(kThreadsText, static_cast<unsigned>(started),
                                   static_cast<unsigned>(jobs.size()));
    ::LogError("%s", run.failureText.c_str());
    prompt.Tell(run.failureText, "Quillmar", base::PromptIcon::Error);
    run.elapsedMs = platform::TicksSince(start);
    for (const auto& job : jobs) run.outcomes.push_back(OutcomeOf(*job));
    for (size_t i = started; i < run.outcomes.size(); ++i) run.outcomes[i].failed = true;
    return run;
  }
  run.elapsedMs = platform::TicksSince(start);
  for (const auto& job : jobs) run.outcomes.push_back(OutcomeOf(*job));
  if (run.cancelled) return run;

  std::vector<std::string> duplicates, unreachable, warnings;
  std::vector<std::pair<uint32_t, std::vector<std::string>>> failures = {{kBackupRegisters, {}},
                                                                         {kBackupFlashImage, {}},
                                                                         {kBackupServicePort, {}},
                                                                         {kBackupPlcProgram, {}}};
  bool anyFailed = false;
  for (const auto& job : jobs) {
    const std::string& ip = job->record.ipText;
    if (job->state.load() == kJobFailed && job->result != 0) {
      anyFailed = true;
      if (job->result == kBackupDuplicateIp) duplicates.push_back(ip);
      if (job->result == kBackupNoConnection) unreachable.push_back(ip);
      for (auto& [code, list] : failures) {
        if (job->result == code) list.push_back(ip);
      }
    } else if (job->result == kBackupFlashSkipped || job->result == kBackupServiceParse) {
      warnings.push_back(ip);
    }
  }
  if (anyFailed) {
    std::string text;
    auto add = [&text](const std::string& part) {
      if (!text.empty()) text += "\r\n";
      text += part;
    };
    if (!duplicates.empty())
      add(base::Format(kDuplicateIpsText, Entries(duplicates, true).c_str()));
    if (!unreachable.empty())
      add(base::Format(kNoConnectionText, Entries(unreachable, true).c_str()));
    for (const auto& [code, list] : failures) {
      if (list.empty()) continue;
      add(std::string(kBackupFailedText) +
          base::Format(kBackupFailedDetail, code, Entries(list, true).c_str()));
      break;
    }
    // Every failed module is named, whatever its code.
    for (const auto& job : jobs) {
      if (job->state.load() != kJobFailed || job->result == 0) continue;
      if (text.find("\"" + job->record.ipText + "\"") == std::string::npos)
        add(base::Format("\"%s\" (%s)", job->record.ipText.c_str(),
                         BackupResultName(job->result).c_str()));
    }
    run.failureText = text;
    prompt.Tell(text, "Quillmar", base::PromptIcon::Error);
    return run;
  }
  run.warningEntries = Entries(warnings, true);
  for (auto& job : jobs) run.records.push_back(std::move(job->record));
  // Old firmware (registers only) and jobs whose registers stayed incomplete are noted.
  for (size_t i = 0; i < jobs.size(); ++i) {
    const bool oldFirmware = jobs[i]->state.load() == kJobFailed && jobs[i]->result == 0;
    if (oldFirmware || jobs[i]->nextRegister < jobs[i]->registerCount) {
      run.outcomes[i].errorText = base::Format(kOldFirmwareText, run.records[i].ipText.c_str(),
                                               static_cast<int>(jobs[i]->nextRegister));
      run.outcomes[i].incomplete = true;
    }
    // Such a record has no flash image: a restore cannot use it.
    if (jobs[i]->result == kBackupFlashSkipped || jobs[i]->result == kBackupServiceParse)
      run.outcomes[i].incomplete = true;
  }
  run.writeFile = true;
  bar.Complete();
  return run;
}

bool SaveBackupRun(const BackupRunResult& run, const std::string& path, base::Prompt& prompt) {
  if (!run.writeFile) return false;
  for (const auto& outcome : run.outcomes) {
    if (outcome.errorText.rfind("Achtung!", 0) == 0) {
      ::LogWarning("%s", outcome.errorText.c_str());
      prompt.Tell(outcome.errorText, "Quillmar", base::PromptIcon::Warning);
    }
  }
  const SaveResult saved = SaveBackupFile(path, run.records);
  if (!saved.ok) {
    ::LogError("Backup file \"%s\" not written: %s", path.c_str(), saved.error.c_str());
    prompt.Tell(base::Format(kOpenFailedText, path.c_str()) + "\r\n" + saved.error, "Quillmar",
                base::PromptIcon::Error);
    return false;
  }
  if (!run.warningEntries.empty()) {
    prompt.Tell(base::Format(kBackupWarningsText, run.warningEntries.c_str()), "Warning",
                base::PromptIcon::Warning);
  } else {
    const std::string text = base::Format(kBackupDoneText, static_cast<int>(run.records.size()),
                                          static_cast<int>(run.elapsedMs), path.c_str());
    ::LogInfo("%s", text.c_str());
    prompt.Tell(text);
  }
  return true;
}

size_t RestoreMatch::Count(bool RestoreMatch::Pair::*flag) const {
  return static_cast<size_t>(
      std::count_if(pairs.begin(), pairs.end(), [flag](const Pair& pair) { return pair.*flag; }));
}

namespace {

bool FamilyDiffers(const CNode_DataBackup& record, const ModuleInfo& module) {
  return (record.nodeBlock[17] & 0xF0) != (module.familyByte & 0xF0);
}

}  // namespace

RestoreMatch MatchByIpText(const std::vector<CNode_DataBackup>& records,
                           const std::vector<ModuleInfo>& modules) {
  RestoreMatch match;
  std::vector<bool> taken(records.size(), false);
  for (size_t m = 0; m < modules.size(); ++m) {
    const ModuleInfo& module = modules[m];
    bool found = false;
    for (size_t r = 0; r < records.size() && !found; ++r) {
      if (taken[r] || records[r].ipText != module.ipText) continue;
      taken[r] = found = true;
      RestoreMatch::Pair pair{m, r};
      pair.positionChange = records[r].linePosition != module.linePosition;
      pair.settingsChange =
          records[r].maskText != module.maskText || records[r].gatewayText != module.gatewayText;
      if (FamilyDiffers(records[r], module)) match.typeMismatch.push_back(m);
      match.pairs.push_back(pair);
    }
    if (!found) match.withoutRecord.push_back(m);
  }
  return match;
}

RestoreMatch MatchBySerial(const std::vector<CNode_DataBackup>& records,
                           const std::vector<ModuleInfo>& modules) {
  RestoreMatch match;
  for (size_t m = 0; m < modules.size(); ++m) {
    const ModuleInfo& module = modules[m];
    bool found = false;
    for (size_t r = 0; r < records.size() && !found; ++r) {
      if (records[r].serialNumber != module.serial) continue;
      found = true;
      RestoreMatch::Pair pair{m, r};
      pair.positionChange = records[r].linePosition != module.linePosition;
      pair.addressChange = records[r].ipText != module.ipText ||
                           records[r].maskText != module.maskText ||
                           records[r].gatewayText != module.gatewayText;
      if (FamilyDiffers(records[r], module)) match.typeMismatch.push_back(m);
      match.pairs.push_back(pair);
    }
    if (!found) match.withoutRecord.push_back(m);
  }
  return match;
}

namespace {

// Address change of restore by IP (at most two passes). Updates `modules` to what discovery
// finds afterwards; false (with the message shown) when the restore must end.
bool ChangeAddresses(const std::vector<CNode_DataBackup>& records, RestoreMatch& match,
                     std::vector<ModuleInfo>& modules, LineOperations& line, base::Prompt& prompt,
                     base::Progress& progress, const RestoreOptions& options,
                     RestoreRunResult& result) {
  std::vector<size_t> marked;
  for (const auto& pair : match.pairs) {
    if (pair.addressChange) marked.push_back(pair.module);
  }
  for (int pass = 0; pass < 2 && !marked.empty(); ++pass) {
    for (size_t m : marked) {
      const auto& pair = *std::find_if(match.pairs.begin(), match.pairs.end(),
                                       [m](const auto& p) { return p.module == m; });
      const CNode_DataBackup& record = records[pair.record];
      if (!line.SetNodeIp(modules[m], record.ipText, record.maskText, record.gatewayText)) {
        result.message = kChangeFailedText;
        prompt.Tell(result.message, "Quillmar", base::PromptIcon::Error);
        return false;
      }
      platform::SleepMs(kSetNodeIpGapMs);
    }
    line.AwaitAnswers(kAnswerWaitMs);
    progress.SetText(kResettingText);
    line.BroadcastReset();
    if (!line.Wait(options.addressWaitMs, progress)) {
      result.cancelled = true;
      result.message = kRestoreCancelledText;
      prompt.Tell(result.message);
      return false;
    }
    const std::vector<ModuleInfo> found = line.Rediscover();
    std::vector<std::string> missing;
    std::vector<size_t> again;
    for (const auto& pair : match.pairs) {
      const CNode_DataBackup& record = records[pair.record];
      const auto it = std::find_if(found.begin(), found.end(), [&](const ModuleInfo& module) {
        return module.serial == record.serialNumber;
      });
      if (it == found.end()) {
        missing.push_back(std::to_string(record.serialNumber));
        continue;
      }
      modules[pair.module] = *it;
      if (it->ipText != record.ipText || it->maskText != record.maskText ||
          it->gatewayText != record.gatewayText)
        again.push_back(pair.module);
    }
    if (!missing.empty()) {
      result.message = base::Format(kMissingAfterChangeText, Entries(missing, false).c_str());
      prompt.Tell(result.message, "Quillmar", base::PromptIcon::Error);
      return false;
    }
    marked = again;
  }
  if (!marked.empty()) {
    std::vector<std::string> serials;
    for (size_t m : marked) serials.push_back(std::to_string(modules[m].serial));
    result.message = base::Format(kAddressNotChangedText, Entries(serials, false).c_str());
    prompt.Tell(result.message, "Quillmar", base::PromptIcon::Error);
    return false;
  }
  for (size_t i = 0; i < match.pairs.size(); ++i) {
    for (size_t j = i + 1; j < match.pairs.size(); ++j) {
      const auto& a = modules[match.pairs[i].module];
      const auto& b = modules[match.pairs[j].module];
      if (a.ipText == b.ipText) {
        result.message = base::Format(kSharedAfterChangeText, a.ipText.c_str());
        prompt.Tell(result.message, "Quillmar", base::PromptIcon::Error);
        return false;
      }
    }
  }
  return true;
}

// The report of failed restore jobs: the first non-empty list in the order 7/8, 6, 3, 4, 9/10.
std::string RestoreFailureText(const std::vector<std::unique_ptr<BackupJob>>& jobs) {
  struct List {
    std::vector<uint32_t> codes;
    const char* text;
    bool withError;
    std::string entries;
  };
  std::vector<List> lists = {{{kRestoreUpload, kRestoreClear}, kProgramFailedText, true, {}},
                             {{kRestoreWrite}, kFlashFailedText, true, {}},
                             {{kRestoreFlashCommand}, kFirmwareCheckText, false, {}},
                             {{kRestoreCommunication}, kConnectionProblemText, true, {}},
                             {{kRestoreNoPing, kRestoreNoConnection}, kNoPingText, false, {}}};
  for (const auto& job : jobs) {
    if (job->state.load() == kJobDone) continue;
    for (auto& list : lists) {
      if (std::find(list.codes.begin(), list.codes.end(), job->result) == list.codes.end())
        continue;
      list.entries += job->record.ipText + ", ";
      if (list.withError && job->errorText.size() > 3)
        list.entries += " (err.desc: \"" + job->errorText + "\")";
    }
  }
  for (const auto& list : lists) {
    if (!list.entries.empty()) return base::Format(list.text, list.entries.c_str());
  }
  return {};
}

}  // namespace

RestoreRunResult RunRestore(std::vector<CNode_DataBackup> records,
                            const std::vector<ModuleInfo>& selected, const LinkFactory& links,
                            LineOperations& line, base::Prompt& prompt, base::Progress& progress,
                            const RestoreOptions& options) {
  RestoreRunResult result;
  std::vector<ModuleInfo> modules = selected;
  if (modules.empty()) {
    result.message = kNoSelectionRestoreText;
    prompt.Tell(result.message);
    return result;
  }
  RestoreMatch match =
      options.byIp ? MatchBySerial(records, modules) : MatchByIpText(records, modules);
  if (!match.typeMismatch.empty()) {
    std::string list;
    for (size_t m : match.typeMismatch) list += modules[m].ipText + ", ";
    result.message = base::Format(kTypeMismatchText, list.c_str());
    prompt.Tell(result.message, "Quillmar", base::PromptIcon::Warning);
    return result;
  }
  if (match.pairs.empty()) {
    result.message = kNoMatchText;
    prompt.Tell(result.message, "Quillmar", base::PromptIcon::Warning);
    return result;
  }
  // A record whose texts would go into a Set NodeIP must carry real addresses: an unreadable
  // one would be sent as 0.0.0.0 and leave the module unreachable.
  for (const auto& pair : match.pairs) {
    if (!pair.settingsChange && !pair.addressChange) continue;
    const CNode_DataBackup& record = records[pair.record];
    if (const auto bad = BadAddressText(record, pair.addressChange)) {
      result.message =
          base::Format(kBadRecordText, record.serialNumber, modules[pair.module].ipText.c_str(),
                       bad->first, bad->second.c_str());
      ::LogError("%s", result.message.c_str());
      prompt.Tell(result.message, "Quillmar", base::PromptIcon::Error);
      return result;
    }
  }
  if (!match.withoutRecord.empty()) {
    std::string list;
    for (size_t m : match.withoutRecord) list += modules[m].ipText + ", ";
    prompt.Tell(base::Format(kWithoutRecordText, static_cast<int>(match.withoutRecord.size()),
                             static_cast<int>(modules.size()), list.c_str()),
                "Quillmar", base::PromptIcon::Warning);
  }
  const size_t settings = match.Count(&RestoreMatch::Pair::settingsChange);
  const size_t addresses = match.Count(&RestoreMatch::Pair::addressChange);
  const size_t positions = match.Count(&RestoreMatch::Pair::positionChange);
  std::string question = base::Format(kConfirmRestoreText, static_cast<int>(match.pairs.size()));
  if (settings) question += base::Format(kConfirmSettingsText, static_cast<int>(settings));
  if (addresses) question += base::Format(kConfirmAddressText, static_cast<int>(addresses));
  if (prompt.Ask(question, "Quillmar", base::PromptButtons::YesNoCancel,
                 base::PromptIcon::Question) != base::PromptAnswer::Yes) {
    result.cancelled = true;
    return result;
  }
  const uint32_t start = platform::GetTickCount();
  int extra = kRestoreFixedUnits;
  if (positions) extra += 40 + 3 * static_cast<int>(positions);
  if (addresses) extra += 100 + 3 * static_cast<int>(addresses);

  // Network settings (by IP text: mask and gateway on the module's own address), confirmed by
  // each module's answer before any register is written.
  if (settings) {
    std::vector<std::string> notTaken;
    for (const auto& pair : match.pairs) {
      if (!pair.settingsChange) continue;
      const CNode_DataBackup& record = records[pair.record];
      if (!line.SetNodeIp(modules[pair.module], modules[pair.module].ipText, record.maskText,
                          record.gatewayText)) {
        notTaken.push_back(modules[pair.module].ipText + " (the request could not be sent)");
      }
      platform::SleepMs(kSetNodeIpGapMs);
    }
    for (const SettingsNotTaken& module : line.AwaitAnswers(kAnswerWaitMs)) {
      const auto it = std::find_if(modules.begin(), modules.end(),
                                   [&](const ModuleInfo& m) { return m.serial == module.serial; });
      notTaken.push_back(base::Format("%s (SN %u): %s",
                                      it != modules.end() ? it->ipText.c_str() : "?", module.serial,
                                      module.reason.c_str()));
    }
    if (!notTaken.empty()) {
      std::string list;
      for (const auto& entry : notTaken) list += (list.empty() ? "" : "\r\n\t") + entry;
      result.message = base::Format(kSettingsNotTakenText, list.c_str());
      ::LogError("%s", result.message.c_str());
      prompt.Tell(result.message, "Quillmar", base::PromptIcon::Error);
      return result;
    }
  }
  if (addresses &&
      !ChangeAddresses(records, match, modules, line, prompt, progress, options, result))
    return result;
  for (const auto& pair : match.pairs) {
    if (!pair.positionChange) continue;
    const CNode_DataBackup& record = records[pair.record];
    if (!line.SetFirstLast(modules[pair.module], record.linePosition)) {
      result.message =
          base::Format(kPositionFailedText, std::to_string(record.serialNumber).c_str());
      prompt.Tell(result.message, "Quillmar", base::PromptIcon::Error);
      return result;
    }
  }

  // Records whose flash image is all zero cannot be restored.
  std::vector<size_t> dropped;  // modules whose record is dropped for it
  std::string empty;
  for (const auto& pair : match.pairs) {
    const auto& image = records[pair.record].flashImage;
    if (std::all_of(image.begin(), image.end(), [](uint16_t w) { return w == 0; }))
      empty += base::Format("%s, ", records[pair.record].ipText.c_str());
  }
  if (!empty.empty()) {
    if (prompt.Ask(kEmptyFlashText + empty + kEmptyFlashQuestion, "Achtung",
                   base::PromptButtons::YesNo,
                   base::PromptIcon::Warning) != base::PromptAnswer::Yes) {
      result.cancelled = true;
      return result;
    }
    std::erase_if(match.pairs, [&records, &dropped](const RestoreMatch::Pair& pair) {
      const auto& image = records[pair.record].flashImage;
      const bool drop = std::all_of(image.begin(), image.end(), [](uint16_t w) { return w == 0; });
      if (drop) dropped.push_back(pair.module);
      return drop;
    });
  }

  RunProgress bar(progress, match.pairs.size(), kRestoreUnits, extra);
  std::vector<std::unique_ptr<BackupJob>> jobs;
  std::vector<std::unique_ptr<ModuleLink>> moduleLinks;
  for (size_t i = 0; i < match.pairs.size(); ++i) {
    const auto& pair = match.pairs[i];
    auto job = std::make_unique<BackupJob>();
    job->index = static_cast<uint8_t>(i);
    job->record = records[pair.record];
    // The record goes to the module's address as it is now.
    job->record.ipText = modules[pair.module].ipText;
    job->registerCount = job->record.registerCount;
    job->nextRegister = kRestoreFirst;
    job->state.store(kJobRestore);
    job->startTick = platform::GetTickCount();
    job->onProgress = bar.For(i);
    jobs.push_back(std::move(job));
    moduleLinks.push_back(links(modules[pair.module].ipText));
  }
  if (options.onJobs) {
    std::vector<size_t> served;
    for (const auto& pair : match.pairs) served.push_back(pair.module);
    options.onJobs(served);
  }
  result.cancelled =
      RunJobs(jobs, moduleLinks, true, options.timing, progress, bar, options.observer);
  // Every selected module has its outcome, also those that got no job.
  result.outcomes.resize(modules.size());
  std::vector<bool> served(modules.size(), false);
  for (size_t i = 0; i < jobs.size(); ++i) {
    ModuleOutcome outcome = OutcomeOf(*jobs[i]);
    outcome.failed = jobs[i]->state.load() != kJobDone;
    result.outcomes[match.pairs[i].module] = outcome;
    served[match.pairs[i].module] = true;
  }
  for (size_t m = 0; m < modules.size(); ++m) {
    if (served[m]) continue;
    ModuleOutcome& outcome = result.outcomes[m];
    outcome.serial = modules[m].serial;
    outcome.ipText = modules[m].ipText;
    outcome.failed = true;
    const bool wasDropped = std::find(dropped.begin(), dropped.end(), m) != dropped.end();
    outcome.reason = wasDropped ? kEmptyFlashOutcome : kNoRecordOutcome;
  }
  if (result.cancelled) {
    result.message = kRestoreCancelledText;
    prompt.Tell(result.message);
    return result;
  }
  const std::string failure = RestoreFailureText(jobs);
  const bool anyFailed = std::any_of(jobs.begin(), jobs.end(),
                                     [](const auto& job) { return job->state.load() != kJobDone; });
  if (anyFailed) {
    std::string text = failure;
    // Every failed module is named, whatever list it belongs to.
    for (const auto& job : jobs) {
      if (job->state.load() == kJobDone) continue;
      if (text.find(job->record.ipText + ",") == std::string::npos)
        text += base::Format("\r\n%s (%s)", job->record.ipText.c_str(),
                             RestoreResultName(job->result).c_str());
    }
    result.message = text;
    ::LogError("%s", text.c_str());
    prompt.Tell(text, "Quillmar", base::PromptIcon::Error);
    return result;
  }
  progress.SetText(kResettingText);
  line.BroadcastReset();
  for (uint32_t waited = 0; waited < options.resetWaitMs; waited += 3000) {
    if (!line.Wait(std::min<uint32_t>(3000, options.resetWaitMs - waited), progress)) break;
    bar.Add(30);
    bar.Publish();
  }
  bar.Complete();
  progress.SetText("100 %");
  result.done = true;
  result.message =
      base::Format(kRestoreDoneText, static_cast<int>(jobs.size()),
                   static_cast<int>(platform::TicksSince(start)), options.fileName.c_str());
  ::LogInfo("%s", result.message.c_str());
  prompt.Tell(result.message);
  return result;
}

}  // namespace backup
