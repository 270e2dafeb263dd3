#include "config/extension.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "base/format.h"
#include "comm/event_log.h"

namespace config {
namespace {

using base::Format;
using base::PromptAnswer;
using base::PromptButtons;
using base::PromptIcon;

constexpr uint32_t kRestartSettleMs = 10000;

std::string WordsAddress(uint16_t high, uint16_t low) {
  if (high == 0 && low == 0) return {};
  return Format("%u.%u.%u.%u", high >> 8, high & 0xFF, low >> 8, low & 0xFF);
}

std::array<uint16_t, 2> AddressWords(const std::string& ip) {
  const auto bytes = ParseIpv4(ip);
  if (!bytes) return {0, 0};
  return {static_cast<uint16_t>((*bytes)[0] << 8 | (*bytes)[1]),
          static_cast<uint16_t>((*bytes)[2] << 8 | (*bytes)[3])};
}

// Reads a master's table as two blocks of 16.
bool ReadTable(ModuleRegisters& master, uint16_t* table, std::string* step) {
  for (uint16_t block = 0; block < 2; ++block) {
    const uint16_t first = static_cast<uint16_t>(ext_reg::kTable + block * 16);
    if (!master.ReadBlock(first, 16, table + block * 16)) {
      *step = Format("ReadMultiplyRegisters(%u, %u)", first, 16u);
      return false;
    }
  }
  return true;
}

}  // namespace

std::array<uint16_t, 8> ExtensionEntry(const std::string& ip, uint16_t zoneCode) {
  const auto words = AddressWords(ip);
  return {words[0], words[1], 1, zoneCode, 134, ext_reg::kOwnMark, 1, 0};
}

uint16_t ExtensionZoneCode(MasterChoice choice, uint16_t masterLeft, uint16_t masterRight) {
  if (choice != MasterChoice::kPreceding) return 116;
  const bool same = (masterLeft == 1 && masterRight == 1) || (masterLeft == 2 && masterRight == 2);
  return same ? 196 : 116;
}

int ChooseEntry(const uint16_t* table, const std::string& ip, bool* alreadyThere) {
  const auto words = AddressWords(ip);
  *alreadyThere = false;
  // The entry that holds the module already comes first, wherever a free one lies before it:
  // a second Apply must not register the module twice.
  for (int entry = 0; entry < ext_reg::kEntries; ++entry) {
    const uint16_t* e = table + entry * 8;
    if (e[0] == words[0] && e[1] == words[1]) {
      *alreadyThere = true;
      return entry;
    }
  }
  for (int entry = 0; entry < ext_reg::kEntries; ++entry) {
    const uint16_t* e = table + entry * 8;
    if (e[0] == 0 && e[1] == 0) return entry;
  }
  return -1;
}

std::optional<ExtensionState> ReadExtensionState(ModuleRegisters& module, const std::string& ip) {
  ExtensionState state;
  const auto bytes = ParseIpv4(ip);
  if (!bytes) return std::nullopt;
  state.address = *bytes;
  const auto current = module.ReadOne(conn_reg::kMode);
  const auto left = current ? module.ReadOne(ext_reg::kMotorLeft) : std::nullopt;
  const auto right = left ? module.ReadOne(ext_reg::kMotorRight) : std::nullopt;
  uint16_t up[2] = {}, down[2] = {};
  if (!right || !module.ReadBlock(ext_reg::kPrecedingMaster, 2, up) ||
      !module.ReadBlock(ext_reg::kFollowingMaster, 2, down))
    return std::nullopt;
  state.mode = *current;
  state.leftMotor = *left;
  state.rightMotor = *right;
  state.upstreamMaster = WordsAddress(up[0], up[1]);
  state.downstreamMaster = WordsAddress(down[0], down[1]);
  return state;
}

ExtensionOutcome ApplyExtension(ModuleRegisters& module, const std::string& ip, MasterChoice choice,
                                ConnectionServices& services) {
  base::SilentPrompt silent;
  base::Prompt& prompt = services.prompt ? *services.prompt : silent;
  // A failing register step: logged with the module it concerns, the loss shown.
  auto failed = [&](const std::string& step, const std::string& where) {
    LogError("CDlgExt::OnButtonApply - %s \"%s\" ERROR !", step.c_str(), where.c_str());
    prompt.Tell(Format(kLostText, where.c_str()), "Quillmar", PromptIcon::Error);
    return ExtensionOutcome::kFailed;
  };
  if (choice == MasterChoice::kNone) {
    prompt.Tell("Bitte Master-Modul auswählen");
    return ExtensionOutcome::kRefused;
  }
  const auto bytes = ParseIpv4(ip);
  if (!bytes) return ExtensionOutcome::kRefused;
  const uint8_t last = (*bytes)[3];
  if (choice == MasterChoice::kPreceding && last < 21) {
    prompt.Tell("Das Modul hat kein vorgelagertes Modul");
    return ExtensionOutcome::kRefused;
  }
  // There is no following address after .255 (it would wrap to .0).
  if (choice == MasterChoice::kFollowing && last >= 254) {
    prompt.Tell("Das Modul hat kein nachgelagertes Modul");
    return ExtensionOutcome::kRefused;
  }
  const std::string masterIp = Format("%u.%u.%u.%u", (*bytes)[0], (*bytes)[1], (*bytes)[2],
                                      choice == MasterChoice::kPreceding ? last - 1u : last + 1u);

  const auto state = ReadExtensionState(module, ip);
  if (!state) return failed(Format("ReadMultiplyRegisters(%u, %u)", conn_reg::kMode, 1u), ip);

  std::unique_ptr<ModuleRegisters> master;
  if (choice == MasterChoice::kFollowing) {
    // The following master is reached first: without it the module has none.
    master = services.open ? services.open(masterIp) : OpenModule(masterIp);
    if (!master) {
      prompt.Tell("Das Modul hat kein nachgelagertes Modul");
      return ExtensionOutcome::kRefused;
    }
  }
  if (state->leftMotor == 0 && state->rightMotor == 0) {
    prompt.Tell("Module can't made Slave. It have no motors!");
    return ExtensionOutcome::kRefused;
  }
  if (state->mode == mode::kZpa &&
      prompt.Ask("Das Modul ist im ZPA Modus, soll es wirklich als Slave Modul konfiguriert "
                 "werden.",
                 "Quillmar", PromptButtons::OkCancel, PromptIcon::Question) != PromptAnswer::Ok)
    return ExtensionOutcome::kRefused;
  if (state->mode != mode::kSlave && prompt.Ask(kSureText, "Quillmar", PromptButtons::OkCancel,
                                                PromptIcon::Question) != PromptAnswer::Ok)
    return ExtensionOutcome::kRefused;

  // Release the old masters. The new master keeps its entry: it is reused below.
  const auto ownWords = AddressWords(ip);
  for (const std::string& old : {state->upstreamMaster, state->downstreamMaster}) {
    if (old.empty() || old == masterIp) continue;
    std::unique_ptr<ModuleRegisters> oldMaster =
        services.open ? services.open(old) : OpenModule(old);
    if (!oldMaster)
      return failed(Format("ReadMultiplyRegisters(%u, %u)", ext_reg::kTable, 16u), old);
    uint16_t table[32] = {};
    std::string step;
    if (!ReadTable(*oldMaster, table, &step)) return failed(step, old);
    for (int entry = 0; entry < ext_reg::kEntries; ++entry) {
      const uint16_t* e = table + entry * 8;
      if (e[0] != ownWords[0] || e[1] != ownWords[1] || e[5] != ext_reg::kOwnMark) continue;
      const uint16_t first = static_cast<uint16_t>(ext_reg::kTable + entry * 8);
      const std::array<uint16_t, 8> zeros{};
      if (!oldMaster->WriteBlock(first, 8, zeros.data()))
        return failed(Format("WriteMultiplyRegisters(%u, %u)", first, 8u), old);
      if (!oldMaster->SaveGroup(first, 8))
        return failed(Format("SaveToFlash(%u, %u)", first, 8u), old);
      break;
    }
  }

  // Register with the new master.
  if (!master) master = services.open ? services.open(masterIp) : OpenModule(masterIp);
  if (!master)
    return failed(Format("ReadMultiplyRegisters(%u, %u)", ext_reg::kMotorLeft, 1u), masterIp);
  const auto masterLeft = master->ReadOne(ext_reg::kMotorLeft);
  const auto masterRight = masterLeft ? master->ReadOne(ext_reg::kMotorRight) : std::nullopt;
  if (!masterRight)
    return failed(Format("ReadMultiplyRegisters(%u, %u)", ext_reg::kMotorLeft, 1u), masterIp);
  uint16_t table[32] = {};
  std::string step;
  if (!ReadTable(*master, table, &step)) return failed(step, masterIp);
  bool alreadyThere = false;
  const int entry = ChooseEntry(table, ip, &alreadyThere);
  if (entry < 0) {
    prompt.Tell(Format("The master module %s has no free extension entry.", masterIp.c_str()),
                "Quillmar", PromptIcon::Error);
    return ExtensionOutcome::kRefused;
  }
  const uint16_t first = static_cast<uint16_t>(ext_reg::kTable + entry * 8);
  const auto values = ExtensionEntry(ip, ExtensionZoneCode(choice, *masterLeft, *masterRight));
  if (!master->WriteBlock(first, 8, values.data()))
    return failed(Format("WriteMultiplyRegisters(%u, %u)", first, 8u), masterIp);
  if (!master->SaveGroup(first, 8))
    return failed(Format("SaveToFlash(%u, %u)", first, 8u), masterIp);
  if (!alreadyThere) {
    // The master counts its extension zones on the side that drives them: the right side when
    // it has a right motor and the module no motor of type 4, else the left side.
    const bool type4 = state->leftMotor == 4 || state->rightMotor == 4;
    const uint16_t countReg =
        (*masterRight != 0 && !type4) ? ext_reg::kCountRight : ext_reg::kCountLeft;
    const auto count = master->ReadOne(countReg);
    if (!count) return failed(Format("ReadMultiplyRegisters(%u, %u)", countReg, 1u), masterIp);
    const uint16_t value = static_cast<uint16_t>(*count + entry + 1);
    if (!master->SaveOne(countReg, value))
      return failed(Format("SaveToFlash(%u, %u)", countReg, value), masterIp);
  }
  master.reset();

  // The module itself.
  if (!module.SaveOne(ext_reg::kCountLeft, 0)) return failed("SaveToFlash(99, 0)", ip);
  if (!module.SaveOne(ext_reg::kCountRight, 0)) return failed("SaveToFlash(179, 0)", ip);
  uint16_t links[16] = {};
  if (!module.ReadBlock(conn_reg::kUpstream, 16, links))
    return failed(Format("ReadMultiplyRegisters(%u, %u)", conn_reg::kUpstream, 16u), ip);
  // The master's address on its side; the other side names no master.
  const auto masterWords = AddressWords(masterIp);
  const bool preceding = choice == MasterChoice::kPreceding;
  const uint16_t sides[2][2] = {
      {preceding ? masterWords[0] : uint16_t{0}, preceding ? masterWords[1] : uint16_t{0}},
      {preceding ? uint16_t{0} : masterWords[0], preceding ? uint16_t{0} : masterWords[1]}};
  const uint16_t sideRegs[2] = {ext_reg::kPrecedingMaster, ext_reg::kFollowingMaster};
  for (int side = 0; side < 2; ++side) {
    if (!module.WriteBlock(sideRegs[side], 2, sides[side]))
      return failed(Format("WriteMultiplyRegisters(%u, %u)", sideRegs[side], 2u), ip);
    if (!module.SaveGroup(sideRegs[side], 2))
      return failed(Format("SaveToFlash(%u, %u)", sideRegs[side], 2u), ip);
  }
  std::array<uint16_t, 16> own{};
  own[0] = masterWords[0];
  own[1] = masterWords[1];
  own[2] = 276;
  own[3] = 276;
  own[4] = own[5] = own[6] = 1;
  if (!module.WriteBlock(ext_reg::kTable, 16, own.data()))
    return failed(Format("WriteMultiplyRegisters(%u, %u)", ext_reg::kTable, 16u), ip);
  if (!module.SaveGroup(ext_reg::kTable, 16))
    return failed(Format("SaveToFlash(%u, %u)", ext_reg::kTable, 16u), ip);
  const std::pair<uint16_t, uint16_t> saves[] = {{conn_reg::kMode, mode::kSlave},
                                                 {ext_reg::kMotorLeft, state->leftMotor},
                                                 {ext_reg::kMotorRight, state->rightMotor},
                                                 {306, 0},
                                                 {314, 0},
                                                 {322, 0},
                                                 {330, 0}};
  for (const auto& [reg, value] : saves) {
    if (!module.SaveOne(reg, value)) return failed(Format("SaveToFlash(%u, %u)", reg, value), ip);
  }
  if (!RestartModule(module, [&](uint32_t ms) { Sleep(services, ms); }))
    return failed("Reset Module", ip);
  Sleep(services, kRestartSettleMs);
  if (services.reread) services.reread();
  return ExtensionOutcome::kDone;
}

}  // namespace config
