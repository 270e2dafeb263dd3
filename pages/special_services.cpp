#include "pages/special_services.h"

#include <vector>

#include "comm/event_log.h"
#include "params/mirror_map.h"
#include "params/register_map.h"

namespace pages {

uint16_t HoursResetValue(Motor motor, bool reversed) {
  const bool left = (motor == Motor::Left) != reversed;
  return left ? kServiceResetLeftHours : kServiceResetRightHours;
}

bool BoardHasHoursReset(uint16_t register17) {
  return (register17 & kServiceBoardNoHoursReset) != kServiceBoardNoHoursReset;
}

uint16_t OptionWord(uint16_t word, int bit, bool ticked) {
  const auto mask = static_cast<uint16_t>(1u << bit);
  return static_cast<uint16_t>((word & ~mask) | (ticked ? mask : 0));
}

std::string TouchGoName(Zone zone, bool backward) {
  return std::string("Touch & Go ") + (backward ? "backward " : "") +
         (zone == Zone::Upstream ? "upstream" : "downstream");
}

ServiceView SpecialServices::Refresh(const std::string& shownAddress) {
  shown_ = shownAddress;
  view_ = ServiceView{};
  if (shownAddress.empty() || !registers_.Connect(shownAddress)) return view_;
  // Registers 17 and 18, then the two zone option words.
  std::vector<uint16_t> board, up, down;
  const bool ok = registers_.ReadBlock(params::reg::kHardwareRevision, 2, &board) &&
                  registers_.ReadBlock(kServiceUpstreamOptions, 1, &up) &&
                  registers_.ReadBlock(kServiceDownstreamOptions, 1, &down);
  registers_.Disconnect();
  if (!ok) return view_;
  view_.connected = true;
  view_.upstreamOptions = up[0];
  view_.downstreamOptions = down[0];
  view_.touchGo = {
      (up[0] >> kServiceTouchGoBit & 1) != 0, (up[0] >> kServiceTouchGoBackwardBit & 1) != 0,
      (down[0] >> kServiceTouchGoBit & 1) != 0, (down[0] >> kServiceTouchGoBackwardBit & 1) != 0};
  view_.hoursResetShown = BoardHasHoursReset(board[0]);
  return view_;
}

bool SpecialServices::Command(uint16_t reg, uint16_t value) {
  if (!view_.connected || !registers_.Connect(shown_)) return false;
  const bool ok = registers_.WriteOne(reg, value);
  if (!ok)
    LogError("CServiceDlg - Write Reg [%u] := 0x%X on \"%s\" ERROR !", reg, value, shown_.c_str());
  registers_.Disconnect();
  return ok;
}

bool SpecialServices::ResetHours(Motor motor) {
  if (!view_.connected || !registers_.Connect(shown_)) return false;
  const auto variant = registers_.ReadOne(params::reg::kVariant);
  if (!variant) {
    // The side cannot be told without register 6: no motor's counter is reset on a guess.
    registers_.Disconnect();
    LogError("CServiceDlg - Read Reg [6] of \"%s\" ERROR !", shown_.c_str());
    return false;
  }
  const uint16_t value = HoursResetValue(motor, params::MirrorMap::ReversedVariant(*variant));
  const bool ok = registers_.WriteOne(kServiceCommandRegister, value);
  registers_.Disconnect();
  return ok;
}

bool SpecialServices::ClearShortCircuit() {
  return Command(kServiceCommandRegister, kServiceClearShortCircuit);
}

bool SpecialServices::ResetDta(Zone zone) {
  return Command(zone == Zone::Upstream ? kServiceDtaResetUpstream : kServiceDtaResetDownstream,
                 kServiceDtaResetValue);
}

ServiceView SpecialServices::SetTouchGo(Zone zone, bool backward, bool ticked) {
  const size_t box = (zone == Zone::Upstream ? 0u : 2u) + (backward ? 1u : 0u);
  if (!view_.connected) {
    view_.touchGo[box] = false;
    return view_;
  }
  view_.writeFailure.clear();
  const uint16_t reg = zone == Zone::Upstream ? kServiceUpstreamOptions : kServiceDownstreamOptions;
  uint16_t& image = zone == Zone::Upstream ? view_.upstreamOptions : view_.downstreamOptions;
  const uint16_t value =
      OptionWord(image, backward ? kServiceTouchGoBackwardBit : kServiceTouchGoBit, ticked);
  const bool ok = registers_.Connect(shown_) && registers_.SaveToFlash(reg, value);
  registers_.Disconnect();
  if (!ok) {
    // The module may show the new word in RAM although its flash keeps the old one.
    LogError("CServiceDlg - SaveToFlash(%u, 0x%X) on \"%s\" ERROR !", reg, value, shown_.c_str());
    Refresh(shown_);
    const uint16_t now = zone == Zone::Upstream ? view_.upstreamOptions : view_.downstreamOptions;
    view_.writeFailure =
        NotSavedText(shown_, TouchGoName(zone, backward) + (ticked ? " on" : " off"),
                     view_.connected && now == value);
    return view_;
  }
  image = value;
  view_.touchGo[box] = ticked;
  return view_;
}

}  // namespace pages
