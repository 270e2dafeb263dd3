#pragma once
// Units of the values an engineer types and reads on the node screen, and the input check
// every typed value passes before it is written.
//
// A typed value is parsed, multiplied into register units and checked in register units as a
// floating-point number (ranges include both ends); the value written is that product plus
// 0.5, truncated. A refusal carries the check's German message; the caller shows it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace params {

// ---- Formatting --------------------------------------------------------------------------

// `value` with `decimals` digits after a dot ("%.*f" in the "C" locale, whatever the
// process locale is).
std::string FixedText(double value, int decimals);

// ---- Input check --------------------------------------------------------------------------

inline constexpr int kNoRangeEnd = 0xFFFF;
inline constexpr int kFirstNode = 1;
inline constexpr int kLastNode = 236;

// The input checks, numbered as the modules' documentation and the log texts number them.
// Kinds with a sub-kind pick their range by it (the unit the value was typed in).
enum class CheckKind : int {
  NoCheck = -1,  // no check of its own: the register's range only
  NodeNumber = 0,
  GapTimer = 1,
  TZoneAccept = 2,   // sub-kind 1 ordinary, 2 module type 3, 3 module type 4
  Speed = 3,         // sub-kind by SpeedSubKind
  Acceleration = 4,  // sub-kind by RampSubKind
  Deceleration = 5,
  TimeFrom10Ms = 6,
  Percent20To100 = 7,
  TimeOrPulses = 8,  // sub-kind 0 time, 1 pulses
  TimeFrom1S = 9,
  NotFullStop = 10,
  Induct = 11,
  ZoneCurrents = 12,  // tests both values
  TimeTo2S = 14,
  TimeTo15S = 15,
  TimeTo65535Ms = 16,
  TimeOrPulsesWide = 17,
  TimeOrPulsesComposed = 18,  // the same test as 17
  CurrentLimit = 19,
};

// The message of check (kind, subKind), or nullptr for a kind that has none (it passes).
const char* CheckMessage(CheckKind kind, int subKind);

// Checks a value in register units. Returns the message when refused, nullopt when it passes.
// ZoneCurrents tests `value` and `second`; every other kind tests `value` only. NodeNumber:
// prefer CheckNodeNumber / CheckNodeRange.
std::optional<std::string> CheckInput(CheckKind kind, int subKind, double value,
                                      double second = 0.0);

// Kind 0: node 1..236; with a range end other than kNoRangeEnd also 1..236 and from <= to.
std::optional<std::string> CheckNodeRange(int from, int to = kNoRangeEnd);
inline std::optional<std::string> CheckNodeNumber(int node) {
  return CheckNodeRange(node);
}

// ---- Conversion ---------------------------------------------------------------------------

// The result of converting and checking one typed value.
struct Conversion {
  std::optional<uint16_t> value;  // the register value to write
  std::string refusal;            // the message to show; empty unless refused

  bool Refused() const { return !refusal.empty(); }
  // Neither a value nor a refusal: the field has no unit here and nothing is written.
  bool NothingToWrite() const { return !value && refusal.empty(); }
};

// A typed number: optional blanks, an optional sign, digits with an optional decimal point, an
// optional exponent, optional blanks. The decimal point may be written as a comma ("0,5" is
// 0.5), as German users write it; only one separator, and no thousands separators. Anything
// else (empty text, letters, hex, "inf", "1,000.5") is not a number.
std::optional<double> ParseTypedNumber(std::string_view typed);

// Converts `typed` × factor and checks it by (kind, subKind). Text that is not a number is
// refused with the check's message. A product that does not fit a register is refused too.
Conversion ConvertTyped(std::string_view typed, double factor, CheckKind kind, int subKind);

// Speed (registers 40 / 64). The unit depends on the module family (high byte of register
// 17), the side's speed-unit selector (low byte of image slot 1 or 2) and, in RPM, on whether
// the side's drive is shown as "Forkane Servo".
enum class SpeedUnit { Percent, MetresPerSecond, Rpm, RpmWhole };
// Register units per shown unit of a speed.
double SpeedFactor(SpeedUnit unit);
inline constexpr uint8_t kFamilyDriveUnits = 0x09;  // the family with m/s and RPM drives
std::optional<SpeedUnit> SpeedUnitFor(uint8_t family, uint8_t selector, bool forkaneServo);
int SpeedSubKind(SpeedUnit unit);           // sub-kind of check kind 3: 1..4
const char* SpeedUnitText(SpeedUnit unit);  // "%", "m/s", "U/min"
Conversion ConvertSpeed(std::string_view typed, SpeedUnit unit);
// The set speed as shown: "%d" of register / 10, "%.3f" m/s, "%.1f" RPM, "%d" Forkane RPM.
std::string SpeedText(uint16_t reg, SpeedUnit unit);

// Real speed (56 / 80) on family 0x09 modules. `selector` is the side's speed-unit selector,
// `gearCode` register 500 / 503, `rollerCode` the high byte of image slot 1 / 2. Empty text
// for a selector other than 0 or 1.
std::string RealSpeedText(uint16_t reg, uint8_t selector, uint16_t gearCode, uint8_t rollerCode,
                          bool forkaneServo);
// The tables behind it (exposed for tests and the CLI): nullopt when the code is not listed.
std::optional<double> GearRatioMetres(uint16_t gearCode);
std::optional<double> GearRatioRpm(uint16_t gearCode);
double RollerDiameterMm(uint8_t rollerCode);

// Acceleration (43 / 67) and deceleration (44 / 68).
enum class Ramp { Acceleration, Deceleration };
enum class RampUnit { Seconds, Pulses, Millimetres };
// nullopt when the closed-loop register holds a value other than 0 or 1 (nothing is written).
std::optional<RampUnit> RampUnitFor(uint8_t family, uint8_t selector, uint16_t closedLoop);
int RampSubKind(RampUnit unit);           // 1 seconds, 2 pulses, 3 mm
const char* RampUnitText(RampUnit unit);  // "s", "Pulse", "mm"
// Check kind 4 (acceleration) or 5 (deceleration); seconds are multiplied by 1000.
Conversion ConvertRamp(std::string_view typed, Ramp ramp, RampUnit unit);
// Seconds with two decimals (register / 1000); pulses and mm as the plain number.
std::string RampText(uint16_t reg, RampUnit unit);

// Current limit (41 / 65): typed in mA, check kind 19.
Conversion ConvertCurrentLimit(std::string_view typed);

// Zone currents (102 / 182): low and high typed in A, each × 10 and checked with kind 12.
// The register value is low | high << 8.
Conversion ConvertZoneCurrents(std::string_view low, std::string_view high);
// One of the two currents as shown, in A with one decimal.
std::string ZoneCurrentText(uint16_t reg, bool high);

// Times typed in seconds (GAP timer, T-zone accept time, not-full-stop time, induct time):
// × 1000 into ms.
Conversion ConvertSeconds(std::string_view typed, CheckKind kind, int subKind = 0);
// A time register in ms shown in seconds with two decimals.
std::string SecondsText(uint16_t ms);

}  // namespace params
