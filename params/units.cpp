#include "params/units.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

#include "base/format.h"

namespace params {

std::string FixedText(double value, int decimals) {
  // to_chars never looks at the locale; a user's decimal comma must not reach these texts.
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc()) return std::string();
  return std::string(buffer, result.ptr);
}

namespace {

struct CheckRule {
  CheckKind kind;
  int subKind;  // kAnySubKind: every sub-kind
  double low;
  double high;
  bool lowExclusive;
  const char* message;
};

constexpr int kAnySubKind = -1;

constexpr CheckKind K(int number) {
  return static_cast<CheckKind>(number);
}

constexpr const char* kTime65 =
    "Ungültige Zeiteinstellung. Es sind nur Werte von 0 bis 65 Sekunen gültig.";
constexpr const char* kPulses65535 =
    "Ungültige Anzahl Pulse. Es sind nur Werte zwischen 0 und 65535 gültig.";
constexpr const char* kTime65Sekunden =
    "Ungültige Zeiteinstellung. Es sind nur Werte von 0 bis 65 Sekunden gültig.";
constexpr const char* kPulses5To10000 =
    "Ungültige  Anzahl Pulse. Es sind nur Werte von 5 bis 10000 gültig.";

// The input checks by kind and sub-kind. Kind 0 (node numbers) is CheckNodeRange.
constexpr std::array<CheckRule, 27> kCheckRules{{
    {K(1), kAnySubKind, 0, 65000, false, kTime65},
    {K(2), 1, 0, 65000, false, kTime65},
    {K(2), 2, 0, 10000, false,
     "Ungültige Zeiteinstellung. Es sind nur Werte von 0 bis 10 Sekunen gültig."},
    {K(2), 3, 0, 5000, false,
     "Ungültige Zeiteinstellung. Es sind nur Werte von 0 bis 5 Sekunen gültig."},
    {K(3), 1, 0, 1000, true, "Ungültige Geschwindigkeit. Es sind nur Werte von 1 bis 100% gültig."},
    {K(3), 2, 15, 6200, false,
     "Ungültige Geschwindigkeit. Es sind nur Werte von 0.015 bis 6.20 m/s gültig."},
    {K(3), 3, 80, 19330, false,
     "Ungültige Geschwindigkeit. Es sind nur Werte von 8 bis 1933 U/min gültig."},
    {K(3), 4, 570, 3100, false,
     "Ungültige Geschwindigkeit. Es sind nur Werte von 570 bis 3100 U/min gültig."},
    {K(4), 1, 30, 10000, false,
     "Ungültige Zeiteinstellung. Es sind nur Werte von 0.03 bis 10 Sekunen gültig."},
    {K(4), 2, 5, 10000, false, kPulses5To10000},
    {K(4), 3, 5, 10000, false,
     "Ungültige Wegeinstellung.. Es sind nur Werte von 5 bis 10000mm gültig."},
    {K(5), 1, 0, 10000, false,
     "Ungültige Zeiteinstellung. Es sind nur Werte von 5 bis 10 Sekunden gültig."},
    {K(5), 2, 0, 10000, false, kPulses5To10000},
    {K(5), 3, 0, 10000, false,
     "Ungültige Wegeinstellung. Es sind nur Längen zwischen 0 und 10000mm gültig."},
    {K(6), 1, 10, 65000, false,
     "Ungültige Zeiteinstellung. Es sind nur Werte von 0.01 bis 65 Sekunden gültig."},
    {K(6), 2, 10, 65000, false,
     "Ungültige Zeiteinstellung. Es sind nur Werte von 0.01 bis 65 Sekunden gültig."},
    {K(7), kAnySubKind, 20, 100, false,
     "Ungültige Prozentangabe. Es sind nur Prozentwerte von 20 bis 100 gültig."},
    {K(8), 0, 0, 65000, false, kTime65},
    {K(8), 1, 0, 65535, false, kPulses65535},
    {K(9), kAnySubKind, 1000, 65000, false,
     "Ungültige Zeiteinstellung. Es sind nur Werte von 1 bis 65 Sekunden gültig."},
    {K(10), kAnySubKind, 0, 10000, false,
     "Ungültige Zeiteinstellung. Es sind nur Werte von 1 bis 10 Sekunden gültig."},
    {K(11), kAnySubKind, 0, 10000, false,
     "Ungültige Zeiteinstellung. Es sind nur Werte von 0 bis 10 Sekunden gültig."},
    {K(12), kAnySubKind, 0, 70, false, "Ungültige Wert. Es sind nur Werte von 0 bis 7 A gültig."},
    {K(14), kAnySubKind, 0, 2000, false,
     "Ungültige Zeiteinstellung. Es sind nur Werte von 0 bis 2 Sekunden gültig."},
    {K(15), kAnySubKind, 0, 15000, false,
     "Ungültige Zeiteinstellung. Es sind nur Werte von 0 bis 15 Sekunden gültig."},
    {K(16), kAnySubKind, 0, 65535, false, kTime65Sekunden},
    {K(19), kAnySubKind, 200, 2800, false,
     "Ungültiger Wert. Es sind nur Werte von 0,2 bis 2,8 A gültig."},
}};

// Kinds 17 and 18 (the same test, 18 composing its message first).
constexpr CheckRule kKind17Sub0{K(17), 0, 0, 65000, false, kTime65Sekunden};
constexpr CheckRule kKind17Sub1{K(17), 1, 0, 65535, false, kPulses65535};

const CheckRule* FindRule(CheckKind kind, int subKind) {
  if (kind == CheckKind::TimeOrPulsesWide || kind == CheckKind::TimeOrPulsesComposed) {
    if (subKind == 0) return &kKind17Sub0;
    if (subKind == 1) return &kKind17Sub1;
    return nullptr;
  }
  for (const CheckRule& rule : kCheckRules) {
    if (rule.kind == kind && (rule.subKind == kAnySubKind || rule.subKind == subKind)) {
      return &rule;
    }
  }
  return nullptr;
}

bool InRule(const CheckRule& rule, double value) {
  const bool aboveLow = rule.lowExclusive ? value > rule.low : value >= rule.low;
  return aboveLow && value <= rule.high;
}

constexpr const char* kNodeMessage =
    "Falsche Module Nummer. Nur Nummern von 1 bis 236 sind gültig.";
// Kinds without a check of their own still cannot write more than a register holds.
constexpr const char* kRegisterRangeMessage =
    "Ungültiger Wert. Es sind nur Werte von 0 bis 65535 gültig.";

}  // namespace

const char* CheckMessage(CheckKind kind, int subKind) {
  if (kind == CheckKind::NodeNumber) return kNodeMessage;
  const CheckRule* rule = FindRule(kind, subKind);
  return rule != nullptr ? rule->message : nullptr;
}

std::optional<std::string> CheckInput(CheckKind kind, int subKind, double value, double second) {
  if (kind == CheckKind::NodeNumber) {
    if (value >= kFirstNode && value <= kLastNode) return std::nullopt;
    return std::string(kNodeMessage);
  }
  const CheckRule* rule = FindRule(kind, subKind);
  if (rule == nullptr) return std::nullopt;
  const bool ok =
      InRule(*rule, value) && (kind != CheckKind::ZoneCurrents || InRule(*rule, second));
  if (ok) return std::nullopt;
  return std::string(rule->message);
}

std::optional<std::string> CheckNodeRange(int from, int to) {
  const auto valid = [](int node) { return node >= kFirstNode && node <= kLastNode; };
  if (!valid(from)) return std::string(kNodeMessage);
  if (to != kNoRangeEnd && (!valid(to) || from > to)) return std::string(kNodeMessage);
  return std::nullopt;
}

std::optional<double> ParseTypedNumber(std::string_view typed) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!typed.empty() && blank(typed.front())) typed.remove_prefix(1);
  while (!typed.empty() && blank(typed.back())) typed.remove_suffix(1);
  if (typed.empty()) return std::nullopt;

  // Check the grammar first: from_chars alone would accept "inf", "nan" and a bare exponent.
  size_t i = 0;
  if (typed[i] == '+' || typed[i] == '-') ++i;
  size_t digits = 0;
  while (i < typed.size() && typed[i] >= '0' && typed[i] <= '9') ++i, ++digits;
  // A decimal comma is the German way of writing the point on a German screen: the same.
  size_t comma = std::string_view::npos;
  if (i < typed.size() && (typed[i] == '.' || typed[i] == ',')) {
    if (typed[i] == ',') comma = i;
    ++i;
    while (i < typed.size() && typed[i] >= '0' && typed[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < typed.size() && (typed[i] == 'e' || typed[i] == 'E')) {
    ++i;
    if (i < typed.size() && (typed[i] == '+' || typed[i] == '-')) ++i;
    size_t exponentDigits = 0;
    while (i < typed.size() && typed[i] >= '0' && typed[i] <= '9') ++i, ++exponentDigits;
    if (exponentDigits == 0) return std::nullopt;
  }
  if (i != typed.size()) return std::nullopt;

  // from_chars takes no leading '+' and only a point.
  std::string pointed(typed);
  if (comma != std::string_view::npos) pointed[comma] = '.';
  std::string_view number = pointed;
  if (number.front() == '+') number.remove_prefix(1);
  double value = 0.0;
  const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
  if (result.ec != std::errc() || result.ptr != number.data() + number.size()) {
    return std::nullopt;
  }
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

Conversion ConvertTyped(std::string_view typed, double factor, CheckKind kind, int subKind) {
  const char* message = CheckMessage(kind, subKind);
  const auto refuse = [&] {
    return Conversion{std::nullopt, message != nullptr ? message : kRegisterRangeMessage};
  };
  const std::optional<double> number = ParseTypedNumber(typed);
  if (!number) return refuse();
  const double product = *number * factor;
  if (CheckInput(kind, subKind, product)) return refuse();
  if (!(product >= 0.0 && product <= 65535.0)) return refuse();
  const auto written = static_cast<uint16_t>(product + 0.5);
  // A product just above an exclusive lower end (0.04 % → 0.4) would round to the excluded
  // value itself; the written value must pass the same check.
  if (CheckInput(kind, subKind, written)) return refuse();
  return Conversion{written, std::string()};
}

// ---- Speed ------------------------------------------------------------------------------

std::optional<SpeedUnit> SpeedUnitFor(uint8_t family, uint8_t selector, bool forkaneServo) {
  if (family != kFamilyDriveUnits) return SpeedUnit::Percent;
  if (selector == 0) return SpeedUnit::MetresPerSecond;
  if (selector == 1) return forkaneServo ? SpeedUnit::RpmWhole : SpeedUnit::Rpm;
  return std::nullopt;
}

int SpeedSubKind(SpeedUnit unit) {
  switch (unit) {
    case SpeedUnit::Percent:
      return 1;
    case SpeedUnit::MetresPerSecond:
      return 2;
    case SpeedUnit::Rpm:
      return 3;
    case SpeedUnit::RpmWhole:
      return 4;
  }
  return 1;
}

const char* SpeedUnitText(SpeedUnit unit) {
  switch (unit) {
    case SpeedUnit::Percent:
      return "%";
    case SpeedUnit::MetresPerSecond:
      return "m/s";
    case SpeedUnit::Rpm:
    case SpeedUnit::RpmWhole:
      return "U/min";
  }
  return "";
}

double SpeedFactor(SpeedUnit unit) {
  switch (unit) {
    case SpeedUnit::Percent:
      return 10.0;
    case SpeedUnit::MetresPerSecond:
      return 1000.0;
    case SpeedUnit::Rpm:
      return 10.0;
    case SpeedUnit::RpmWhole:
      return 1.0;
  }
  return 1.0;
}

Conversion ConvertSpeed(std::string_view typed, SpeedUnit unit) {
  return ConvertTyped(typed, SpeedFactor(unit), CheckKind::Speed, SpeedSubKind(unit));
}

std::string SpeedText(uint16_t reg, SpeedUnit unit) {
  switch (unit) {
    case SpeedUnit::Percent:
      return base::Format("%d", reg / 10);
    case SpeedUnit::MetresPerSecond:
      return FixedText(reg / 1000.0, 3);
    case SpeedUnit::Rpm:
      return FixedText(reg / 10.0, 1);
    case SpeedUnit::RpmWhole:
      return base::Format("%d", reg);
  }
  return std::string();
}

// ---- Real speed -------------------------------------------------------------------------

namespace {
struct CodeValue {
  uint16_t code;
  double value;
};
constexpr std::array<CodeValue, 13> kGearMetres{{{8, 91.33},
                                                 {10, 66.97},
                                                 {15, 45},
                                                 {20, 32.94},
                                                 {25, 27},
                                                 {35, 18.3},
                                                 {45, 15},
                                                 {60, 10.98},
                                                 {75, 9},
                                                 {95, 6.82},
                                                 {125, 5},
                                                 {175, 3.66},
                                                 {215, 3}}};
constexpr std::array<CodeValue, 10> kRollers{{{38, 38},
                                              {48, 48.6},
                                              {50, 50},
                                              {57, 57},
                                              {60, 60.5},
                                              {63, 63.5},
                                              {76, 76.3},
                                              {80, 80},
                                              {42, 42},
                                              {52, 52}}};
constexpr std::array<CodeValue, 12> kGearRpm{{{67, 67},
                                              {45, 45},
                                              {33, 32.94},
                                              {27, 27},
                                              {18, 18.3},
                                              {15, 15},
                                              {11, 10.98},
                                              {9, 9},
                                              {7, 6.82},
                                              {5, 5},
                                              {4, 3.66},
                                              {3, 3}}};

template <size_t N>
std::optional<double> Lookup(const std::array<CodeValue, N>& table, uint16_t code) {
  for (const CodeValue& entry : table) {
    if (entry.code == code) return entry.value;
  }
  return std::nullopt;
}
}  // namespace

std::optional<double> GearRatioMetres(uint16_t gearCode) {
  return Lookup(kGearMetres, gearCode);
}
std::optional<double> GearRatioRpm(uint16_t gearCode) {
  return Lookup(kGearRpm, gearCode);
}

double RollerDiameterMm(uint8_t rollerCode) {
  if (const auto diameter = Lookup(kRollers, rollerCode)) return *diameter;
  return rollerCode == 0 ? 50.0 : static_cast<double>(rollerCode);
}

std::string RealSpeedText(uint16_t reg, uint8_t selector, uint16_t gearCode, uint8_t rollerCode,
                          bool forkaneServo) {
  if (selector == 0) {
    const std::optional<double> ratio = GearRatioMetres(gearCode);
    if (!ratio) return "0.00";
    const double metres = RollerDiameterMm(rollerCode) * 0.0031415929 * reg / (*ratio * 5.0);
    return FixedText(metres, 3);
  }
  if (selector == 1) {
    double ratio = GearRatioRpm(gearCode).value_or(67.0);
    if (forkaneServo) ratio = 1.0;
    return FixedText(reg * 12.0 / ratio, 1);
  }
  return std::string();
}

// ---- Ramps ------------------------------------------------------------------------------

std::optional<RampUnit> RampUnitFor(uint8_t family, uint8_t selector, uint16_t closedLoop) {
  if (family == kFamilyDriveUnits && selector == 0) return RampUnit::Millimetres;
  if (closedLoop == 0) return RampUnit::Seconds;
  if (closedLoop == 1) return RampUnit::Pulses;
  return std::nullopt;
}

int RampSubKind(RampUnit unit) {
  switch (unit) {
    case RampUnit::Seconds:
      return 1;
    case RampUnit::Pulses:
      return 2;
    case RampUnit::Millimetres:
      return 3;
  }
  return 1;
}

const char* RampUnitText(RampUnit unit) {
  switch (unit) {
    case RampUnit::Seconds:
      return "s";
    case RampUnit::Pulses:
      return "Pulse";
    case RampUnit::Millimetres:
      return "mm";
  }
  return "";
}

Conversion ConvertRamp(std::string_view typed, Ramp ramp, RampUnit unit) {
  const double factor = unit == RampUnit::Seconds ? 1000.0 : 1.0;
  return ConvertTyped(
      typed, factor, ramp == Ramp::Acceleration ? CheckKind::Acceleration : CheckKind::Deceleration,
      RampSubKind(unit));
}

std::string RampText(uint16_t reg, RampUnit unit) {
  if (unit == RampUnit::Seconds) return FixedText(reg / 1000.0, 2);
  return base::Format("%d", reg);
}

// ---- Currents and times -----------------------------------------------------------------

Conversion ConvertCurrentLimit(std::string_view typed) {
  return ConvertTyped(typed, 1.0, CheckKind::CurrentLimit, 0);
}

Conversion ConvertZoneCurrents(std::string_view low, std::string_view high) {
  const Conversion lowValue = ConvertTyped(low, 10.0, CheckKind::ZoneCurrents, 0);
  if (!lowValue.value) return lowValue;
  const Conversion highValue = ConvertTyped(high, 10.0, CheckKind::ZoneCurrents, 0);
  if (!highValue.value) return highValue;
  return Conversion{static_cast<uint16_t>(*lowValue.value | (*highValue.value << 8)),
                    std::string()};
}

std::string ZoneCurrentText(uint16_t reg, bool high) {
  const int tenths = high ? (reg >> 8) : (reg & 0xFF);
  return FixedText(tenths / 10.0, 1);
}

Conversion ConvertSeconds(std::string_view typed, CheckKind kind, int subKind) {
  return ConvertTyped(typed, 1000.0, kind, subKind);
}

std::string SecondsText(uint16_t ms) {
  return FixedText(ms / 1000.0, 2);
}

}  // namespace params
