#pragma once
// The special services page's work ("Besondere Dienste", tab 4): one-shot service commands
// for the shown module (operating-hours reset per motor, clear of latched motor short-circuit
// errors, DTA reset per zone) and the Touch & Go options of its two zones. Commands are plain
// writes; the option bits are written and saved.
#include <array>
#include <cstdint>
#include <string>

#include "base/language.h"
#include "pages/module_link.h"

namespace pages {

// Tool tips (caption and help text) and the dialog's own note.
inline constexpr const char* kServiceTipHours =
    QM_TRANSLATE_NOOP("PageTips", "Betriebsstundenzaehler zuruecksetzen:");
inline constexpr const char* kServiceTipLeftMotor = QM_TRANSLATE_NOOP("PageTips", "Linker Motor");
inline constexpr const char* kServiceTipRightMotor = QM_TRANSLATE_NOOP("PageTips", "Rechter Motor");
inline constexpr const char* kServiceTipShortCircuit =
    QM_TRANSLATE_NOOP("PageTips", "Motorkurzschlussfehler zurücksetzen");
inline constexpr const char* kServiceTipUpstream = QM_TRANSLATE_NOOP("PageTips", "Vorgelagert");
inline constexpr const char* kServiceTipDownstream = QM_TRANSLATE_NOOP("PageTips", "Nachgelagert");
inline constexpr const char* kServiceTouchGoWarning = QM_TRANSLATE_NOOP(
    "PageTips", " Achtung: Diese Funktion ist nur mit \"Normal\"-Bremseinstellung zu verwenden");
inline constexpr const char* kServiceNote =
    " Note: Touch && Go is not recommended to be used with servo-braking.";

inline constexpr uint16_t kServiceCommandRegister = 22;
inline constexpr uint16_t kServiceResetLeftHours = 0x3000;
inline constexpr uint16_t kServiceResetRightHours = 0xC000;
inline constexpr uint16_t kServiceClearShortCircuit = 1;
inline constexpr uint16_t kServiceBoardNoHoursReset = 0x900;  // both bits in register 17
inline constexpr uint16_t kServiceUpstreamOptions = 94;
inline constexpr uint16_t kServiceDownstreamOptions = 174;
inline constexpr int kServiceTouchGoBit = 13;
inline constexpr int kServiceTouchGoBackwardBit = 14;
inline constexpr uint16_t kServiceDtaResetUpstream = 109;
inline constexpr uint16_t kServiceDtaResetDownstream = 189;
inline constexpr uint16_t kServiceDtaResetValue = 0xFF;

enum class Motor { Left, Right };
enum class Zone { Upstream, Downstream };

// The value of register 22 that resets `motor`'s operating time (sides exchanged on a
// reversed module).
uint16_t HoursResetValue(Motor motor, bool reversed);
// False when the board has no operating-time reset (register 17 has 0x800 and 0x100 set).
bool BoardHasHoursReset(uint16_t register17);
// The zone's option word with bit `bit` set or cleared.
uint16_t OptionWord(uint16_t word, int bit, bool ticked);

struct ServiceView {
  bool connected = false;
  bool hoursResetShown = true;
  // Touch & Go upstream, its backward; downstream, its backward.
  std::array<bool, 4> touchGo{};
  uint16_t upstreamOptions = 0;    // image of register 94
  uint16_t downstreamOptions = 0;  // image of register 174
  // The last Touch & Go box, when its option word was not written or its save to flash was
  // not confirmed: what the user is told (empty: written and saved). The refresh after it
  // shows what the module holds now (perhaps in RAM only).
  std::string writeFailure;
};

// "Touch & Go upstream", "Touch & Go backward downstream" ….
std::string TouchGoName(Zone zone, bool backward);

class SpecialServices {
 public:
  explicit SpecialServices(ModuleLink& link) : registers_(link) {}

  // `shownAddress` empty: no module shown; the page stays empty.
  ServiceView Refresh(const std::string& shownAddress);
  // Each command needs a connected page; false when it was not sent or not confirmed.
  bool ResetHours(Motor motor);
  bool ClearShortCircuit();
  bool ResetDta(Zone zone);
  // A Touch & Go check box (backward: its Backward box). Not connected: nothing is written
  // and the box is cleared.
  ServiceView SetTouchGo(Zone zone, bool backward, bool ticked);

  const ServiceView& View() const { return view_; }

 private:
  bool Command(uint16_t reg, uint16_t value);

  PageRegisters registers_;
  std::string shown_;
  ServiceView view_;
};

}  // namespace pages
