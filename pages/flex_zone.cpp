#include "pages/flex_zone.h"

#include <algorithm>
#include <array>

#include "base/format.h"
#include "base/numbers.h"
#include "comm/event_log.h"
#include "params/target.h"

namespace pages {
namespace {

struct Entry {
  params::Ipv4Bytes address;
  uint32_t serial;
};

}  // namespace

FlexModuleList BuildFlexModuleList(const std::vector<ListedModule>& discovered,
                                   const std::string& network) {
  FlexModuleList list;
  std::string refusal;
  const auto net = params::ParseDottedAddress(network, &refusal);
  if (!net) return list;
  std::vector<Entry> entries;
  for (const ListedModule& module : discovered) {
    const auto address = params::ParseDottedAddress(module.ipText, &refusal);
    if (!address) continue;
    if (!std::equal(address->begin(), address->begin() + 3, net->begin())) continue;
    entries.push_back({*address, module.serial});
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    if (a.address != b.address) return a.address < b.address;
    return a.serial < b.serial;
  });
  for (const Entry& entry : entries) list.addresses.push_back(params::AddressText(entry.address));
  if (entries.empty()) return list;
  list.firstModule = entries.front().address[3] == 20;
  list.noGap = true;
  for (size_t k = 1; k < entries.size(); ++k) {
    if (entries[k].address[3] != entries[k - 1].address[3] + 1) list.noGap = false;
  }
  return list;
}

uint32_t FlexStateColour(FlexState state) {
  switch (state) {
    case FlexState::Enabled:
      return 0;
    case FlexState::Disabled:
      return 0xFF0000;
    case FlexState::Mixed:
      break;
  }
  return 234;
}

FlexZoneView FlexZone::Refresh(const std::string& network, const Report& report) {
  view_ = FlexZoneView{};
  if (report) report(view_);
  view_.list = BuildFlexModuleList(lister_ ? lister_() : std::vector<ListedModule>{}, network);
  const auto count = static_cast<int>(view_.list.addresses.size());
  view_.countText = base::Format(kFlexCountText, count);
  view_.moduleCount = count;
  if (!view_.list.Usable()) {
    view_.buttonsEnabled = false;
    view_.timeText.clear();
    view_.timeKnown = true;
    if (!view_.list.firstModule) view_.statusText = kFlexNoFirstModule;
    if (!view_.list.noGap) view_.statusText = kFlexMissingModule;
    if (count < 1) view_.statusText = kFlexNoModules;
    view_.state = FlexState::Mixed;
    return view_;
  }
  view_.buttonsEnabled = true;
  EvaluateStatus();
  return view_;
}

void FlexZone::EvaluateStatus() {
  view_.enabledCount = 0;
  view_.disabledCount = 0;
  for (size_t k = 0; k < view_.list.addresses.size(); ++k) {
    if (!registers_.Connect(view_.list.addresses[k])) continue;
    const auto value = registers_.ReadOne(kFlexSwitchRegister);
    if (value && *value == 0) ++view_.enabledCount;
    if (value && *value == 1) ++view_.disabledCount;
    if (k == 0) {
      if (const auto time = registers_.ReadOne(kFlexTimeRegisterA)) {
        view_.timeText = base::Format("%u", static_cast<unsigned>(*time));
        view_.timeKnown = true;
      }
    }
    registers_.Disconnect();
  }
  const auto count = static_cast<int>(view_.list.addresses.size());
  if (view_.enabledCount == count) {
    view_.statusText = kFlexAllEnabled;
    view_.state = FlexState::Enabled;
  } else if (view_.disabledCount == count) {
    view_.statusText = kFlexAllDisabled;
    view_.state = FlexState::Disabled;
  } else {
    view_.statusText = kFlexMixed;
    view_.state = FlexState::Mixed;
  }
}

bool FlexZone::WriteModule(const std::string& address,
                           const std::vector<std::pair<uint16_t, uint16_t>>& writes) {
  // A module that does not answer keeps its old values; the status after the loop shows it.
  if (!registers_.Connect(address)) {
    LogWarning("CFlexZone: module %s did not answer", address.c_str());
    return false;
  }
  bool ok = true;
  for (const auto& [reg, value] : writes) {
    if (registers_.SaveToFlash(reg, value)) continue;
    LogWarning("CFlexZone: SaveToFlash(%u, %u) on %s failed", reg, value, address.c_str());
    ok = false;
  }
  registers_.Disconnect();
  return ok;
}

FlexZoneView FlexZone::SwitchAll(uint16_t value, const Report& report) {
  if (!view_.list.Usable()) return view_;
  view_.refusal.clear();
  view_.failed.clear();
  for (size_t k = 0; k < view_.list.addresses.size(); ++k) {
    view_.progressText = base::Format("%d", static_cast<int>(k + 1));
    if (report) report(view_);
    const std::string& address = view_.list.addresses[k];
    if (!WriteModule(address, {{kFlexSwitchRegister, value},
                               {kFlexTimeRegisterA, kFlexSwitchTimeMs},
                               {kFlexTimeRegisterB, kFlexSwitchTimeMs}}))
      view_.failed.push_back(address);
  }
  EvaluateStatus();
  return view_;
}

FlexZoneView FlexZone::SetAll(const std::string& timeText, const Report& report) {
  const auto time = base::WholeNumber(timeText, 0, 65535);
  if (!time) {
    view_.refusal = base::Format(kFlexTimeRefused, timeText.c_str());
    LogWarning("CFlexZone::OnSetAll - time \"%s\" refused", timeText.c_str());
    return view_;
  }
  view_.refusal.clear();
  view_.failed.clear();
  const auto ms = static_cast<uint16_t>(*time);
  for (size_t k = 0; k < view_.list.addresses.size(); ++k) {
    view_.progressText = base::Format("%d", static_cast<int>(k + 1));
    if (report) report(view_);
    const std::string& address = view_.list.addresses[k];
    if (!WriteModule(address, {{kFlexTimeRegisterA, ms}, {kFlexTimeRegisterB, ms}}))
      view_.failed.push_back(address);
  }
  view_.countText = base::Format(kFlexCountText, static_cast<int>(view_.list.addresses.size()));
  // An unusable list keeps its reason: an empty list would otherwise read as all enabled.
  if (view_.list.Usable()) EvaluateStatus();
  return view_;
}

}  // namespace pages
