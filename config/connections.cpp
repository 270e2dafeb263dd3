#include "config/connections.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "base/format.h"
#include "comm/blocking_socket.h"
#include "comm/event_log.h"
#include "config/module_registers.h"
#include "platform/tick.h"

namespace config {
namespace {

using base::Format;
using base::PromptAnswer;
using base::PromptButtons;
using base::PromptIcon;

constexpr size_t kMaxWorkerError = 200;
constexpr uint32_t kRestartPauseMs = 2000;
constexpr uint32_t kApplySettleMs = 10000;
constexpr uint32_t kPollMs = 5;

void RealSleep(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SetProgress(const ConnectionServices& services, int position) {
  if (services.progress) services.progress->SetPosition(position);
}

void ShowLost(const ConnectionServices& services, const std::string& ip) {
  if (services.prompt)
    services.prompt->Tell(Format(kLostText, ip.c_str()), "Quillmar", PromptIcon::Error);
}

void Tell(const ConnectionServices& services, const std::string& text,
          PromptIcon icon = PromptIcon::Information) {
  if (services.prompt) services.prompt->Tell(text, "Quillmar", icon);
}

std::unique_ptr<ModuleRegisters> Open(const ConnectionServices& services, const std::string& ip) {
  return services.open ? services.open(ip) : OpenModule(ip);
}

// The address a link choice stands for; empty for no module. *valid false for a typed address
// that is not one.
std::string ChoiceAddress(const LinkChoice& choice, const std::string& selected, bool* valid) {
  *valid = true;
  if (choice.byAddress) {
    if (choice.address.empty() || choice.address == "0.0.0.0") return {};
    if (!ParseIpv4(choice.address)) {
      *valid = false;
      return {};
    }
    return choice.address;
  }
  return NodeToAddress(selected, choice.node);
}

// The mode of a linked module, read over its own connection; nothing when it cannot be read
// (logged and the loss of that module shown: its descriptor words depend on it).
std::optional<uint16_t> LinkedMode(const ConnectionServices& services, const std::string& ip) {
  if (ip.empty()) return uint16_t{0};
  std::unique_ptr<ModuleRegisters> linked = Open(services, ip);
  std::optional<uint16_t> value;
  if (linked) value = linked->ReadOne(conn_reg::kMode);
  if (!value) {
    LogError("CDlgConn::OnButtonApply - Read Type Error (RegNo. 18) \"%s\" ERROR !", ip.c_str());
    ShowLost(services, ip);
  }
  return value;
}

// Both descriptors from the settings, as registers 300..315. Nothing when a typed address is
// refused (*lost false) or a linked module cannot be read (*lost true).
std::optional<std::array<uint16_t, 16>> BuildLinks(const std::string& ip, uint16_t selectedMode,
                                                   const ConnectionSettings& settings,
                                                   ConnectionServices& services, bool* lost) {
  *lost = false;
  std::array<uint16_t, 16> words{};
  const LinkChoice* sides[2] = {&settings.upstream, &settings.downstream};
  for (int side = 0; side < 2; ++side) {
    bool valid = true;
    const std::string linked = ChoiceAddress(*sides[side], ip, &valid);
    if (!valid) {
      Tell(services, Format("\"%s\" is not a valid IP address!", sides[side]->address.c_str()),
           PromptIcon::Error);
      return std::nullopt;
    }
    const std::optional<uint16_t> linkedMode = LinkedMode(services, linked);
    if (!linkedMode) {
      *lost = true;
      return std::nullopt;
    }
    const Descriptor descriptor =
        MakeConnectionDescriptor(side == 0, linked, selectedMode, *linkedMode);
    std::copy(descriptor.begin(), descriptor.end(), words.begin() + side * 8);
  }
  return words;
}

// The PLC lock sent and its answer: true when the module reports the state sent (-1: no
// answer). A refusal is logged and shown.
bool LockAcknowledged(const ConnectionServices& services, const std::string& ip, bool lock) {
  if (!services.readLock) return true;
  const int state = services.readLock(ip, lock);
  if (state == (lock ? 1 : 0)) return true;
  const std::string text =
      state < 0 ? Format("The module \"%s\" did not answer the PLC lock request !", ip.c_str())
                : Format("The module \"%s\" reports PLC lock state %d instead of %d !", ip.c_str(),
                         state, lock ? 1 : 0);
  LogError("CDlgConn::OnButtonApply - _ReadLock \"%s\" ERROR ! %s", ip.c_str(), text.c_str());
  Tell(services, text, PromptIcon::Error);
  return false;
}

bool IsPlcFamily(uint16_t register6) {
  const uint16_t family = register6 & 0xF0;
  return family == 0x20 || family == 0xC0;
}

// Step 8 of Apply: restart, settle, read again.
ApplyOutcome RestartAfterApply(ModuleRegisters& module, const std::string& ip,
                               ConnectionServices& services) {
  if (!RestartModule(module, [&](uint32_t ms) { Sleep(services, ms); })) {
    LogError("CDlgConn::OnButtonApply - Reset \"%s\" ERROR !", ip.c_str());
    ShowLost(services, ip);
    return ApplyOutcome::kFailed;
  }
  Sleep(services, kApplySettleMs);
  if (services.reread) services.reread();
  return ApplyOutcome::kDone;
}

// A write of a block and its group save, with the log texts of `where`.
bool WriteAndSave(ModuleRegisters& module, uint16_t first, const uint16_t* values, uint16_t count,
                  const std::string& ip, const char* where, std::string* step) {
  if (!module.WriteBlock(first, count, values)) {
    LogError("%s - WriteMultipleRegisters(%u, %u) \"%s\" ERROR !", where, first, count, ip.c_str());
    if (step) *step = Format("WriteMultipleRegisters(%u, %u) Error!", first, count);
    return false;
  }
  if (!module.SaveGroup(first, count)) {
    LogError("%s - SaveToFlash(%u, %u) \"%s\" ERROR !", where, first, count, ip.c_str());
    if (step) *step = Format("SaveToFlash(%u, %u) Error!", first, count);
    return false;
  }
  return true;
}

std::string Truncated(const std::string& text) {
  return text.size() > kMaxWorkerError ? text.substr(0, kMaxWorkerError) : text;
}

}  // namespace

// ---- descriptors ----

std::optional<std::array<uint8_t, 4>> ParseIpv4(const std::string& text) {
  std::array<uint8_t, 4> bytes{};
  size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    size_t digits = 0;
    unsigned value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
      value = value * 10 + static_cast<unsigned>(text[at] - '0');
      ++at;
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
    bytes[static_cast<size_t>(part)] = static_cast<uint8_t>(value);
    if (part < 3) {
      if (at >= text.size() || text[at] != '.') return std::nullopt;
      ++at;
    }
  }
  if (at != text.size()) return std::nullopt;
  return bytes;
}

std::string NodeToAddress(const std::string& selected, int node) {
  const auto bytes = ParseIpv4(selected);
  // Node n is the last octet n + 19; beyond 236 it would not fit one octet.
  if (!bytes || node <= 0 || node > 236) return {};
  return Format("%u.%u.%u.%d", (*bytes)[0], (*bytes)[1], (*bytes)[2], node + 19);
}

Descriptor MakeConnectionDescriptor(bool upstream, const std::string& linked, uint16_t selectedMode,
                                    uint16_t linkedMode) {
  Descriptor words{};
  const auto bytes = ParseIpv4(linked);
  if (!bytes) return words;
  const bool selected6 = selectedMode == mode::kLinkVariant;
  const bool linked6 = linkedMode == mode::kLinkVariant;
  words[0] = static_cast<uint16_t>((*bytes)[0] << 8 | (*bytes)[1]);
  words[1] = static_cast<uint16_t>((*bytes)[2] << 8 | (*bytes)[3]);
  words[2] = 1;
  if (upstream) {
    words[3] = selected6 ? 156 : 116;
    words[4] = (selected6 || !linked6) ? 232 : 243;
  } else {
    words[3] = selected6 ? 236 : 196;
    words[4] = (selected6 || !linked6) ? 134 : 163;
  }
  words[5] = (!linked6 && !selected6) ? 15 : 7;
  words[6] = 1;
  words[7] = 0;
  return words;
}

Descriptor MakeAccumulationDescriptor(const std::string& controller, int fromZone, int toZone) {
  Descriptor words{};
  if (const auto bytes = ParseIpv4(controller)) {
    words[0] = static_cast<uint16_t>((*bytes)[0] << 8 | (*bytes)[1]);
    words[1] = static_cast<uint16_t>((*bytes)[2] << 8 | (*bytes)[3]);
  }
  words[2] = 1;
  words[3] = fromZone == 1 ? 196 : 116;
  words[4] = toZone == 1 ? 249 : 169;
  words[5] = 1;
  words[6] = 1;
  words[7] = 0;
  return words;
}

const std::array<uint16_t, 16>& TransparentBlock() {
  static const std::array<uint16_t, 16> block = {0, 0, 0, 232, 116, 15, 2, 0,
                                                 0, 0, 0, 134, 196, 15, 2, 0};
  return block;
}

uint16_t OutputsValue(int entry) {
  return entry == 1 ? kAllOff : 0;
}

std::string DescriptorAddress(const Descriptor& descriptor) {
  if (descriptor[0] == 0 && descriptor[1] == 0) return {};
  return Format("%u.%u.%u.%u", descriptor[0] >> 8, descriptor[0] & 0xFF, descriptor[1] >> 8,
                descriptor[1] & 0xFF);
}

// ---- rules ----

void ConnectionChoices::TickPlcIo(bool on) {
  settings_.plcIo = on;
  if (on) settings_.hardware = settings_.slave = settings_.pallet = false;
  plcEnabled_ = on;
}

void ConnectionChoices::TickHardware(bool on) {
  settings_.hardware = on;
  if (on) {
    settings_.plcIo = settings_.slave = settings_.pallet = false;
    plcEnabled_ = false;
  }
}

void ConnectionChoices::TickSlave(bool on) {
  settings_.slave = on;
  if (on) {
    settings_.plcIo = settings_.hardware = settings_.pallet = false;
    plcEnabled_ = false;
  }
}

void ConnectionChoices::TickPallet(bool on) {
  settings_.pallet = on;
  if (on) {
    settings_.plcIo = settings_.hardware = settings_.slave = false;
    plcEnabled_ = false;
  }
}

void ConnectionChoices::TickClear(bool on) {
  if (on == settings_.clear) return;
  settings_.clear = on;
  if (on) {
    settings_.transparent = false;
    savedUp_ = settings_.upstream;
    savedDown_ = settings_.downstream;
    settings_.upstream = LinkChoice{};
    settings_.downstream = LinkChoice{};
  } else {
    settings_.upstream = savedUp_;
    settings_.downstream = savedDown_;
  }
}

void ConnectionChoices::TickTransparent(bool on) {
  if (on && settings_.clear) TickClear(false);
  settings_.transparent = on;
}

// ---- operations ----

std::string UnusedChoice(const ConnectionSettings& s, bool plcFamily) {
  const bool plcChoices = s.outputs != 0 || !s.plcFile.empty() || s.lockPlc || s.deletePlc;
  if (plcFamily) {
    // Apply on these modules loads the program, sends the lock and, with PLC I/O mode, writes
    // the links; nothing else.
    if (s.hardware || s.slave || s.pallet)
      return "Modules of this family only take PLC I/O mode; nothing was written.";
    if (s.transparent)
      return "The transparent block is not written on modules of this family; nothing was "
             "written.";
    if (s.outputs != 0)
      return "The outputs on PLC disconnection are not set on modules of this family; nothing "
             "was written.";
    if (!s.plcIo && (s.linksChosen || s.clear))
      return "Links are written on modules of this family only with PLC I/O mode; nothing was "
             "written.";
    return {};
  }
  if (!s.AnyModeBox() && s.transparent)
    return "The transparent block is only written with a mode switch; nothing was written.";
  if (!s.plcIo && plcChoices)
    return "The outputs on PLC disconnection, a PLC program and the PLC lock are only set with "
           "PLC I/O mode; nothing was written.";
  if (s.AnyModeBox() && s.linksChosen)
    return "A mode switch writes no links to neighbours; nothing was written.";
  return {};
}

uint16_t ModeValueFor(const ConnectionSettings& settings) {
  if (settings.hardware) return mode::kHardware;
  if (settings.slave) return mode::kSlave;
  if (settings.pallet) return mode::kPallet;
  return mode::kPlcIo;
}

bool RestartModule(ModuleRegisters& module, const std::function<void(uint32_t)>& sleep) {
  if (!module.WriteOne(conn_reg::kIdentify, 1)) return false;
  sleep(kRestartPauseMs);
  const uint16_t restart[3] = {300, 333, 666};
  return module.WriteBlock(conn_reg::kCommand, 3, restart);
}

PlcUploadResult UploadForSettings(const std::string& ip, const std::string& family,
                                  const ConnectionSettings& settings, base::Progress& progress,
                                  base::Prompt& prompt) {
  return UploadPLCProgram(ip, progress, family, settings.plcFile, settings.deletePlc, prompt);
}

namespace {

bool MakePLCControlledStep(ModuleRegisters& module, const std::string& ip,
                           const ConnectionSettings& settings, ConnectionServices& services,
                           std::string* step) {
  constexpr const char* kWhere = "CDlgConn::MakePLCControlled";
  auto fail = [&](const std::string& text) {
    if (step) *step = text;
    ShowLost(services, ip);
    return false;
  };
  SetProgress(services, 5);
  const uint16_t value = ModeValueFor(settings);
  if (!module.SaveOne(conn_reg::kMode, value)) {
    const std::string text = Format("SaveToFlash(%d, %d) Error!", conn_reg::kMode, value);
    LogError("%s - %s \"%s\" ERROR !", kWhere, text.c_str(), ip.c_str());
    return fail(text);
  }
  SetProgress(services, 10);
  std::string text;
  if (settings.plcIo) {
    const uint16_t outputs[2] = {OutputsValue(settings.outputs), OutputsValue(settings.outputs)};
    if (!WriteAndSave(module, conn_reg::kOutputs, outputs, 2, ip, kWhere, &text)) return fail(text);
  }
  SetProgress(services, 15);
  if (settings.clear) {
    for (uint16_t reg : {conn_reg::kClearUp, conn_reg::kClearDown}) {
      if (!module.SaveOne(reg, 0)) {
        LogError("%s - SaveToFlash(%u, 0) \"%s\" ERROR !", kWhere, reg, ip.c_str());
        return fail(Format("SaveToFlash(%u, 0) Error!", reg));
      }
    }
  }
  const std::array<uint16_t, 16> zeros{};
  if (settings.hardware &&
      !WriteAndSave(module, conn_reg::kUpstream, zeros.data(), 16, ip, kWhere, &text))
    return fail(text);
  if (settings.transparent) {
    if (!WriteAndSave(module, conn_reg::kTransparent, TransparentBlock().data(), 16, ip, kWhere,
                      &text))
      return fail(text);
  } else {
    for (uint16_t reg : {conn_reg::kClearUp, conn_reg::kClearDown}) {
      if (!module.WriteOne(reg, 0)) {
        LogError("%s - WriteMultipleRegisters(316, 16) \"%s\" ERROR !", kWhere, ip.c_str());
        return fail("WriteMultipleRegisters(316, 16) Error!");
      }
    }
    if (!WriteAndSave(module, conn_reg::kTransparent, zeros.data(), 16, ip, kWhere, &text))
      return fail(text);
  }
  SetProgress(services, 25);
  if (!RestartModule(module, [&](uint32_t ms) { Sleep(services, ms); })) {
    LogError("%s - Reset Module \"%s\" ERROR !", kWhere, ip.c_str());
    return fail("Reset Module Error!");
  }
  for (int position = 30; position <= 75; position += 5) {
    Sleep(services, kRestartPauseMs);
    SetProgress(services, position);
  }
  if (services.reread) services.reread();
  SetProgress(services, 80);
  if (settings.plcIo && services.upload) {
    base::NullProgress none;
    base::Progress& progress = services.progress ? *services.progress : none;
    const PlcUploadResult upload = services.upload(ip, "Brevantrix", settings, progress);
    if (!upload.result) {
      if (step) *step = upload.text;
      return false;
    }
  }
  SetProgress(services, 100);
  return true;
}

}  // namespace

bool MakePLCControlled(ModuleRegisters& module, const std::string& ip,
                       const ConnectionSettings& settings, ConnectionServices& services) {
  return MakePLCControlledStep(module, ip, settings, services, nullptr);
}

ApplyOutcome ApplyConnections(ModuleRegisters& module, const std::string& ip,
                              const ConnectionSettings& settings, ConnectionServices& services) {
  constexpr const char* kWhere = "CDlgConn::OnButtonApply";
  const std::optional<uint16_t> register6 = module.ReadOne(conn_reg::kVariant);
  const std::optional<uint16_t> current =
      register6 ? module.ReadOne(conn_reg::kMode) : std::nullopt;
  if (!register6 || !current) {
    LogError("CDlgConn::OnButtonApply - Read Type Error (RegNo. 18) \"%s\" ERROR !", ip.c_str());
    ShowLost(services, ip);
    return ApplyOutcome::kFailed;
  }
  const bool plcFamily = IsPlcFamily(*register6);

  // A module in one of the special modes only goes back to ZPA by a new AutoConfig.
  if (!plcFamily && !settings.AnyModeBox()) {
    std::string from;
    if (*current == mode::kSlave) {
      from =
          "Es ist nicht möglich von Slave in ZPA Modus zur wechseln. Bitte neue Autoconfig "
          "durchführen.";
    } else if (*current == mode::kPallet) {
      from =
          "Es ist nicht möglich von Pallet in ZPA Modus zur wechseln. Bitte neue Autoconfig "
          "durchführen.";
    } else if (*current == mode::kPlcIo || *current == mode::kHardware) {
      from = Format(
          "Es ist nicht möglich von %s in ZPA Modus zur wechseln. Bitte neue "
          "Autoconfig durchführen.",
          *current == mode::kPlcIo ? "SPS I/O Modus" : "Hardware gesteuert");
    }
    if (!from.empty()) {
      Tell(services, from, PromptIcon::Warning);
      return ApplyOutcome::kRefused;
    }
  }

  if (settings.refuseUnused) {
    const std::string unused = UnusedChoice(settings, plcFamily);
    if (!unused.empty()) {
      LogInfo("CDlgConn::OnButtonApply - \"%s\": %s", ip.c_str(), unused.c_str());
      Tell(services, unused, PromptIcon::Warning);
      return ApplyOutcome::kRefused;
    }
  }

  if (!settings.plcFile.empty() && !settings.deletePlc) {
    base::SilentPrompt silent;
    base::Prompt& prompt = services.prompt ? *services.prompt : silent;
    if (!CheckPlcFileForModule(settings.plcFile, ModuleFamilyCode(*register6), prompt).ok)
      return ApplyOutcome::kRefused;
  }

  if (plcFamily) {
    const std::string family = (*register6 & 0xF0) == 0x20 ? "Draskufel" : "Brevantrix-IO";
    if (services.upload) {
      base::NullProgress none;
      base::Progress& progress = services.progress ? *services.progress : none;
      if (!services.upload(ip, family, settings, progress).result) return ApplyOutcome::kFailed;
    }
    if (!LockAcknowledged(services, ip, settings.lockPlc)) return ApplyOutcome::kFailed;
    if (settings.plcIo) {
      bool lost = false;
      const auto links = BuildLinks(ip, *current, settings, services, &lost);
      if (!links) return lost ? ApplyOutcome::kFailed : ApplyOutcome::kRefused;
      if (!WriteAndSave(module, conn_reg::kUpstream, links->data(), 16, ip, kWhere, nullptr)) {
        ShowLost(services, ip);
        return ApplyOutcome::kFailed;
      }
    }
    return RestartAfterApply(module, ip, services);
  }

  if (settings.AnyModeBox()) {
    if (*current != mode::kPlcIo && *current != mode::kHardware && services.prompt &&
        services.prompt->Ask(kSureText, "Quillmar", PromptButtons::OkCancel,
                             PromptIcon::Question) != PromptAnswer::Ok)
      return ApplyOutcome::kRefused;
    std::string step;
    if (!MakePLCControlledStep(module, ip, settings, services, &step)) {
      LogError("CDlgConn::OnApplyDummy / or Slave - \"%s\" ERROR !", ip.c_str());
      if (!step.empty()) Tell(services, step, PromptIcon::Error);
      return ApplyOutcome::kFailed;
    }
    if (settings.plcIo && !LockAcknowledged(services, ip, settings.lockPlc))
      return ApplyOutcome::kFailed;
    return ApplyOutcome::kDone;
  }

  // Links to the neighbours, and for the accumulation modes the controlling module.
  const bool accumulation = *current == mode::kAccumulation3 || *current == mode::kAccumulation4;
  Descriptor control{};
  if (accumulation) {
    if (settings.fromZone < 0) {
      Tell(services, "Please, select Accumulation Control From Zone!", PromptIcon::Warning);
      return ApplyOutcome::kRefused;
    }
    if (settings.toZone < 0) {
      Tell(services, "Please, select Accumulation Control To Zone!", PromptIcon::Warning);
      return ApplyOutcome::kRefused;
    }
    bool valid = true;
    const std::string controller = ChoiceAddress(settings.accumulation, ip, &valid);
    if (!valid) {
      Tell(services,
           Format("\"%s\" is not a valid IP address!", settings.accumulation.address.c_str()),
           PromptIcon::Error);
      return ApplyOutcome::kRefused;
    }
    control = MakeAccumulationDescriptor(controller, settings.fromZone, settings.toZone);
  }
  bool lost = false;
  const auto links = BuildLinks(ip, *current, settings, services, &lost);
  if (!links) return lost ? ApplyOutcome::kFailed : ApplyOutcome::kRefused;
  if (!WriteAndSave(module, conn_reg::kUpstream, links->data(), 16, ip, kWhere, nullptr)) {
    ShowLost(services, ip);
    return ApplyOutcome::kFailed;
  }
  if (accumulation &&
      !WriteAndSave(module, conn_reg::kAccumulation, control.data(), 8, ip, kWhere, nullptr)) {
    ShowLost(services, ip);
    return ApplyOutcome::kFailed;
  }
  return RestartAfterApply(module, ip, services);
}

// ---- Apply All ----

bool ApplyAllResult::AllDone() const {
  return started && std::all_of(modules.begin(), modules.end(), [](const ApplyAllModule& m) {
           return m.state == ApplyAllModule::State::kDone;
         });
}

namespace {

// One worker of Apply All: its own connection, the steps in order, the first failure ends it.
void RunWorker(ApplyAllModule& job, const ConnectionSettings& settings, const std::string& family,
               const ConnectionServices& services) {
  constexpr const char* kWhere = "CDlgConn::OnButtonApplyAll";
  const uint32_t start = platform::GetTickCount();
  auto fail = [&](const std::string& text) {
    job.error = Truncated(text);
    job.elapsedMs = platform::TicksSince(start);
    job.state = ApplyAllModule::State::kFailed;
  };
  std::unique_ptr<ModuleRegisters> module = Open(services, job.ip);
  if (!module) return fail(Format(kLostText, job.ip.c_str()));
  const std::string& ip = job.ip;
  const uint16_t value = ModeValueFor(settings);
  for (const auto& [reg, v] : {std::pair<uint16_t, uint16_t>{conn_reg::kMode, value},
                               std::pair<uint16_t, uint16_t>{conn_reg::kSpare34, 0}}) {
    if (!module->SaveOne(reg, v)) {
      LogError("%s - SaveToFlash(%u, %u) \"%s\" ERROR !", kWhere, reg, v, ip.c_str());
      return fail(Format("SaveToFlash(%u, %u) Error!", reg, v));
    }
  }
  std::string text;
  const uint16_t outputs[2] = {OutputsValue(settings.outputs), OutputsValue(settings.outputs)};
  if (!WriteAndSave(*module, conn_reg::kOutputs, outputs, 2, ip, kWhere, &text)) return fail(text);
  for (uint16_t reg : {conn_reg::kClearUp, conn_reg::kClearDown}) {
    if (!module->SaveOne(reg, 0)) {
      LogError("%s - SaveToFlash(%u, 0) \"%s\" ERROR !", kWhere, reg, ip.c_str());
      return fail(Format("SaveToFlash(%u, 0) Error!", reg));
    }
  }
  const std::array<uint16_t, 16> zeros{};
  if (settings.hardware &&
      !WriteAndSave(*module, conn_reg::kUpstream, zeros.data(), 16, ip, kWhere, &text))
    return fail(text);
  const uint16_t* block = settings.transparent ? TransparentBlock().data() : zeros.data();
  if (!WriteAndSave(*module, conn_reg::kTransparent, block, 16, ip, kWhere, &text))
    return fail(text);
  if (!RestartModule(*module, [&](uint32_t ms) { Sleep(services, ms); })) {
    LogError("%s - Reset Module \"%s\" ERROR !", kWhere, ip.c_str());
    return fail("Reset Module Error!");
  }
  module.reset();  // the module closes its connections as it restarts
  for (int round = 0; round < 10; ++round) Sleep(services, kRestartPauseMs);
  if ((settings.deletePlc || !settings.plcFile.empty()) && services.upload) {
    base::NullProgress none;
    const PlcUploadResult upload = services.upload(ip, family, settings, none);
    LogInfo("\nTFTP> %s\n", upload.text.c_str());
    if (!upload.result) {
      LogError("\nTFTP> Got exception during Upload (ex# %u, desc: %s)\n", 0u, upload.text.c_str());
      return fail(upload.text);
    }
    LogInfo("\nTFTP> Upload done.\n");
  }
  job.elapsedMs = platform::TicksSince(start);
  job.state = ApplyAllModule::State::kDone;
}

}  // namespace

ApplyAllResult ApplyAll(const std::vector<std::string>& ips, const ConnectionSettings& settings,
                        ConnectionServices& services) {
  ApplyAllResult result;
  if (ips.empty()) return result;
  if (services.prompt &&
      services.prompt->Ask(
          std::string(kSureText) +
              Format(" Sollen alle ausgewälten Module (von %s bis %s) auf SPS-Steuerung "
                     "umgeschaltet werden?",
                     ips.front().c_str(), ips.back().c_str()),
          "Quillmar", PromptButtons::OkCancel, PromptIcon::Question) != PromptAnswer::Ok)
    return result;

  std::string family;
  if (!settings.plcFile.empty() && !settings.deletePlc) {
    std::vector<RangeModule> range;
    for (const std::string& ip : ips) {
      std::unique_ptr<ModuleRegisters> module = Open(services, ip);
      std::optional<uint16_t> mode18, register6;
      if (module) mode18 = module->ReadOne(conn_reg::kMode);
      if (mode18) register6 = module->ReadOne(conn_reg::kVariant);
      if (!mode18 || !register6) {
        LogError("CDlgConn::OnButtonApplyAll - Read Type Error (RegNo. 18) \"%s\" ERROR !",
                 ip.c_str());
        ShowLost(services, ip);
        result.message = Format(kLostText, ip.c_str());
        return result;
      }
      range.push_back({ip, ModuleFamilyCode(*register6)});
    }
    base::SilentPrompt silent;
    const PlcFileCheck check = CheckPlcFileForRange(settings.plcFile, range, nullptr,
                                                    services.prompt ? *services.prompt : silent);
    if (!check.ok) {
      result.message = check.message;
      return result;
    }
    family = check.family;
  }

  result.started = true;
  result.modules.resize(ips.size());
  for (size_t i = 0; i < ips.size(); ++i) result.modules[i].ip = ips[i];
  std::vector<std::atomic<bool>> finished(ips.size());
  std::vector<std::thread> workers;
  workers.reserve(ips.size());
  if (services.progress) services.progress->SetRange(static_cast<int>(ips.size()));
  for (size_t i = 0; i < ips.size(); ++i) {
    result.modules[i].state = ApplyAllModule::State::kRunning;
    workers.emplace_back([&, i] {
      RunWorker(result.modules[i], settings, family, services);
      finished[i].store(true);
    });
  }
  // The caller follows the workers and moves the progress as each one ends.
  for (;;) {
    const auto done = std::count_if(finished.begin(), finished.end(),
                                    [](const std::atomic<bool>& f) { return f.load(); });
    SetProgress(services, static_cast<int>(done));
    if (static_cast<size_t>(done) == ips.size()) break;
    RealSleep(kPollMs);
  }
  for (std::thread& worker : workers) worker.join();

  if (result.AllDone()) {
    result.message = kSwitchedText;
    Tell(services, result.message);
  } else {
    for (const ApplyAllModule& module : result.modules) {
      if (module.state != ApplyAllModule::State::kFailed) continue;
      result.message += Format("%s: %s\n", module.ip.c_str(), module.error.c_str());
    }
    Tell(services, result.message, PromptIcon::Error);
  }
  return result;
}

std::optional<ConnectionView> ReadConnectionView(ModuleRegisters& module) {
  ConnectionView view;
  const auto variant = module.ReadOne(conn_reg::kVariant);
  const auto current = variant ? module.ReadOne(conn_reg::kMode) : std::nullopt;
  if (!current) return std::nullopt;
  view.variant = *variant;
  view.mode = *current;
  uint16_t links[16] = {};
  uint16_t outputs[2] = {};
  if (!module.ReadBlock(conn_reg::kUpstream, 16, links) ||
      !module.ReadBlock(conn_reg::kOutputs, 2, outputs))
    return std::nullopt;
  std::copy(links, links + 8, view.upstream.begin());
  std::copy(links + 8, links + 16, view.downstream.begin());
  view.outputs = outputs[0];
  view.outputs2 = outputs[1];
  return view;
}

void Sleep(const ConnectionServices& services, uint32_t ms) {
  if (services.sleep) {
    services.sleep(ms);
  } else {
    RealSleep(ms);
  }
}

}  // namespace config
