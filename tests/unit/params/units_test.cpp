#include "params/units.h"
#include "unit/params/plan_steps.h"

#include <gtest/gtest.h>

#include <string>

namespace params {
namespace {

constexpr const char* kPercentMessage =
    "Ungültige Geschwindigkeit. Es sind nur Werte von 1 bis 100% gültig.";
constexpr const char* kMetresMessage =
    "Ungültige Geschwindigkeit. Es sind nur Werte von 0.015 bis 6.20 m/s gültig.";
constexpr const char* kRpmMessage =
    "Ungültige Geschwindigkeit. Es sind nur Werte von 8 bis 1933 U/min gültig.";
constexpr const char* kForkaneMessage =
    "Ungültige Geschwindigkeit. Es sind nur Werte von 570 bis 3100 U/min gültig.";
using params_test::kNodeMessage;

// One typed value: either the register value written or the message shown.
struct ConversionCase {
  const char* typed;
  int written;  // -1: refused
  const char* message;
};

void ExpectConversions(SpeedUnit unit, std::initializer_list<ConversionCase> cases) {
  for (const ConversionCase& c : cases) {
    const Conversion result = ConvertSpeed(c.typed, unit);
    if (c.written >= 0) {
      ASSERT_TRUE(result.value.has_value()) << c.typed << ": " << result.refusal;
      EXPECT_EQ(*result.value, c.written) << c.typed;
      EXPECT_FALSE(result.Refused()) << c.typed;
    } else {
      EXPECT_FALSE(result.value.has_value()) << c.typed;
      EXPECT_EQ(result.refusal, c.message) << c.typed;
    }
  }
}

TEST(Units, SpeedInEveryUnit) {
  ExpectConversions(SpeedUnit::MetresPerSecond, {{"0.5", 500, nullptr},
                                                 {"0.015", 15, nullptr},
                                                 {"6.2", 6200, nullptr},
                                                 {"1.2346", 1235, nullptr},
                                                 {"0.0149", -1, kMetresMessage},
                                                 {"6.2005", -1, kMetresMessage},
                                                 {"-0.5", -1, kMetresMessage}});
  ExpectConversions(SpeedUnit::Percent, {{"100", 1000, nullptr},
                                         {"1", 10, nullptr},
                                         {"50.56", 506, nullptr},
                                         {"0.1", 1, nullptr},
                                         {"0", -1, kPercentMessage},
                                         {"100.01", -1, kPercentMessage},
                                         // 0.4 is above 0 but would be written as 0.
                                         {"0.04", -1, kPercentMessage}});
  ExpectConversions(SpeedUnit::Rpm, {{"8", 80, nullptr},
                                     {"1933", 19330, nullptr},
                                     {"100.04", 1000, nullptr},
                                     {"7.99", -1, kRpmMessage},
                                     {"1933.01", -1, kRpmMessage}});
  ExpectConversions(SpeedUnit::RpmWhole, {{"570", 570, nullptr},
                                          {"3100", 3100, nullptr},
                                          {"1000.5", 1001, nullptr},
                                          {"569.9", -1, kForkaneMessage},
                                          {"3100.1", -1, kForkaneMessage}});
}

TEST(Units, TextThatIsNotANumberIsRefusedWithTheFieldsMessage) {
  for (const char* typed : {"", "   ", "abc", "0.5 m/s", "1e", "inf", "nan", "0x10", "--1", ".",
                            "1.2.3", "1,2.3", "1.000,5", "0,5,0", ","}) {
    const Conversion result = ConvertSpeed(typed, SpeedUnit::MetresPerSecond);
    EXPECT_FALSE(result.value.has_value()) << '"' << typed << '"';
    EXPECT_EQ(result.refusal, kMetresMessage) << '"' << typed << '"';
  }
  EXPECT_EQ(ParseTypedNumber(" 0.5\t"), 0.5);
  EXPECT_EQ(ParseTypedNumber("+2"), 2.0);
  EXPECT_EQ(ParseTypedNumber(".5"), 0.5);
  EXPECT_EQ(ParseTypedNumber("5."), 5.0);
  EXPECT_EQ(ParseTypedNumber("1e3"), 1000.0);
  EXPECT_EQ(ParseTypedNumber("-7"), -7.0);
  // The decimal comma of a German screen is the decimal point.
  EXPECT_EQ(ParseTypedNumber("0,5"), 0.5);
  EXPECT_EQ(ParseTypedNumber(" 1,25e1 "), 12.5);
  EXPECT_EQ(ConvertSpeed("0,5", SpeedUnit::MetresPerSecond).value, 500);
  EXPECT_EQ(ConvertSpeed("0,0149", SpeedUnit::MetresPerSecond).refusal, kMetresMessage);
}

TEST(Units, SpeedUnitFollowsFamilySelectorAndDrive) {
  EXPECT_EQ(SpeedUnitFor(0x00, 1, false), SpeedUnit::Percent);
  EXPECT_EQ(SpeedUnitFor(0x03, 0, true), SpeedUnit::Percent);
  EXPECT_EQ(SpeedUnitFor(0x09, 0, true), SpeedUnit::MetresPerSecond);
  EXPECT_EQ(SpeedUnitFor(0x09, 1, false), SpeedUnit::Rpm);
  EXPECT_EQ(SpeedUnitFor(0x09, 1, true), SpeedUnit::RpmWhole);
  EXPECT_EQ(SpeedUnitFor(0x09, 2, false), std::nullopt);

  EXPECT_EQ(SpeedText(1000, SpeedUnit::Percent), "100");
  EXPECT_EQ(SpeedText(999, SpeedUnit::Percent), "99");
  EXPECT_EQ(SpeedText(500, SpeedUnit::MetresPerSecond), "0.500");
  EXPECT_EQ(SpeedText(19330, SpeedUnit::Rpm), "1933.0");
  EXPECT_EQ(SpeedText(1235, SpeedUnit::Rpm), "123.5");
  EXPECT_EQ(SpeedText(570, SpeedUnit::RpmWhole), "570");
}

TEST(Units, RealSpeed) {
  // m/s: diameter × 0.0031415929 × value / (ratio × 5).
  EXPECT_EQ(RealSpeedText(1000, 0, 10, 50, false), "0.469");  // 157.08 / 334.85
  EXPECT_EQ(RealSpeedText(1000, 0, 10, 0, false), "0.469");   // code 0 is 50 mm
  EXPECT_EQ(RealSpeedText(1000, 0, 10, 48, false), "0.456");  // 48.6 mm
  EXPECT_EQ(RealSpeedText(1000, 0, 10, 55, false), "0.516");  // unlisted: the code in mm
  EXPECT_EQ(RealSpeedText(1000, 0, 11, 50, false), "0.00");   // gear code not listed
  // RPM: value × 12 / ratio; unlisted gear codes use 67; "Forkane Servo" ratio 1.
  EXPECT_EQ(RealSpeedText(1000, 1, 18, 0, false), "655.7");
  EXPECT_EQ(RealSpeedText(1000, 1, 19, 0, false), "179.1");
  EXPECT_EQ(RealSpeedText(1000, 1, 18, 0, true), "12000.0");
  EXPECT_EQ(RealSpeedText(1000, 2, 18, 0, false), "");

  EXPECT_EQ(GearRatioMetres(215), 3.0);
  EXPECT_EQ(GearRatioRpm(33), 32.94);
  EXPECT_EQ(RollerDiameterMm(76), 76.3);
}

TEST(Units, RampsByClosedLoopAndFamily) {
  EXPECT_EQ(RampUnitFor(0x09, 0, 0), RampUnit::Millimetres);
  EXPECT_EQ(RampUnitFor(0x09, 0, 1), RampUnit::Millimetres);
  EXPECT_EQ(RampUnitFor(0x09, 1, 0), RampUnit::Seconds);
  EXPECT_EQ(RampUnitFor(0x00, 0, 0), RampUnit::Seconds);
  EXPECT_EQ(RampUnitFor(0x00, 0, 1), RampUnit::Pulses);
  EXPECT_EQ(RampUnitFor(0x00, 0, 2), std::nullopt);

  struct Case {
    Ramp ramp;
    RampUnit unit;
    const char* typed;
    int written;
    const char* message;
  };
  const Case cases[] = {
      {Ramp::Acceleration, RampUnit::Seconds, "0.03", 30, nullptr},
      {Ramp::Acceleration, RampUnit::Seconds, "10", 10000, nullptr},
      {Ramp::Acceleration, RampUnit::Seconds, "0.02", -1,
       "Ungültige Zeiteinstellung. Es sind nur Werte von 0.03 bis 10 Sekunen gültig."},
      {Ramp::Acceleration, RampUnit::Pulses, "4", -1,
       "Ungültige  Anzahl Pulse. Es sind nur Werte von 5 bis 10000 gültig."},
      {Ramp::Acceleration, RampUnit::Millimetres, "10001", -1,
       "Ungültige Wegeinstellung.. Es sind nur Werte von 5 bis 10000mm gültig."},
      {Ramp::Deceleration, RampUnit::Seconds, "0", 0, nullptr},
      {Ramp::Deceleration, RampUnit::Seconds, "10.001", -1,
       "Ungültige Zeiteinstellung. Es sind nur Werte von 5 bis 10 Sekunden gültig."},
      {Ramp::Deceleration, RampUnit::Pulses, "0", 0, nullptr},
      {Ramp::Deceleration, RampUnit::Millimetres, "-1", -1,
       "Ungültige Wegeinstellung. Es sind nur Längen zwischen 0 und 10000mm gültig."},
  };
  for (const Case& c : cases) {
    const Conversion result = ConvertRamp(c.typed, c.ramp, c.unit);
    if (c.written >= 0) {
      EXPECT_EQ(result.value, c.written) << c.typed;
    } else {
      EXPECT_EQ(result.refusal, c.message) << c.typed;
      EXPECT_FALSE(result.value.has_value());
    }
  }
  EXPECT_EQ(RampText(1234, RampUnit::Seconds), "1.23");
  EXPECT_EQ(RampText(50, RampUnit::Seconds), "0.05");
  EXPECT_EQ(RampText(1234, RampUnit::Pulses), "1234");
  EXPECT_EQ(RampText(300, RampUnit::Millimetres), "300");
}

TEST(Units, CurrentsAndTimes) {
  const char* limitMessage = "Ungültiger Wert. Es sind nur Werte von 0,2 bis 2,8 A gültig.";
  EXPECT_EQ(ConvertCurrentLimit("200").value, 200);
  EXPECT_EQ(ConvertCurrentLimit("2800").value, 2800);
  EXPECT_EQ(ConvertCurrentLimit("199").refusal, limitMessage);
  EXPECT_EQ(ConvertCurrentLimit("2.8").refusal, limitMessage);  // typed in mA

  const char* zoneMessage = "Ungültige Wert. Es sind nur Werte von 0 bis 7 A gültig.";
  EXPECT_EQ(ConvertZoneCurrents("0.5", "7").value, 5 | (70 << 8));
  EXPECT_EQ(ConvertZoneCurrents("0", "0").value, 0);
  EXPECT_EQ(ConvertZoneCurrents("7.1", "1").refusal, zoneMessage);
  EXPECT_EQ(ConvertZoneCurrents("1", "7.1").refusal, zoneMessage);
  EXPECT_EQ(ZoneCurrentText(5 | (70 << 8), false), "0.5");
  EXPECT_EQ(ZoneCurrentText(5 | (70 << 8), true), "7.0");

  EXPECT_EQ(ConvertSeconds("65", CheckKind::GapTimer).value, 65000);
  EXPECT_EQ(ConvertSeconds("65.001", CheckKind::GapTimer).refusal,
            "Ungültige Zeiteinstellung. Es sind nur Werte von 0 bis 65 Sekunen gültig.");
  EXPECT_EQ(ConvertSeconds("5", CheckKind::TZoneAccept, 3).value, 5000);
  EXPECT_EQ(ConvertSeconds("5.01", CheckKind::TZoneAccept, 3).refusal,
            "Ungültige Zeiteinstellung. Es sind nur Werte von 0 bis 5 Sekunen gültig.");
  EXPECT_EQ(ConvertSeconds("10.5", CheckKind::TZoneAccept, 2).refusal,
            "Ungültige Zeiteinstellung. Es sind nur Werte von 0 bis 10 Sekunen gültig.");
  EXPECT_EQ(ConvertSeconds("10.5", CheckKind::NotFullStop).refusal,
            "Ungültige Zeiteinstellung. Es sind nur Werte von 1 bis 10 Sekunden gültig.");
  EXPECT_EQ(ConvertSeconds("10.5", CheckKind::Induct).refusal,
            "Ungültige Zeiteinstellung. Es sind nur Werte von 0 bis 10 Sekunden gültig.");
  EXPECT_EQ(SecondsText(1500), "1.50");
}

TEST(Units, EveryCheckKindAtItsEnds) {
  struct Case {
    int kind, subKind;
    double low, high;  // both ends pass
    bool lowExclusive;
    const char* message;
  };
  const char* time65 = "Ungültige Zeiteinstellung. Es sind nur Werte von 0 bis 65 Sekunen gültig.";
  const char* time65b =
      "Ungültige Zeiteinstellung. Es sind nur Werte von 0 bis 65 Sekunden gültig.";
  const char* pulses = "Ungültige Anzahl Pulse. Es sind nur Werte zwischen 0 und 65535 gültig.";
  const Case cases[] = {
      {1, 0, 0, 65000, false, time65},
      {2, 1, 0, 65000, false, time65},
      {3, 1, 0, 1000, true, kPercentMessage},
      {3, 2, 15, 6200, false, kMetresMessage},
      {3, 3, 80, 19330, false, kRpmMessage},
      {3, 4, 570, 3100, false, kForkaneMessage},
      {4, 2, 5, 10000, false, "Ungültige  Anzahl Pulse. Es sind nur Werte von 5 bis 10000 gültig."},
      {5, 2, 0, 10000, false, "Ungültige  Anzahl Pulse. Es sind nur Werte von 5 bis 10000 gültig."},
      {6, 1, 10, 65000, false,
       "Ungültige Zeiteinstellung. Es sind nur Werte von 0.01 bis 65 Sekunden gültig."},
      {6, 2, 10, 65000, false,
       "Ungültige Zeiteinstellung. Es sind nur Werte von 0.01 bis 65 Sekunden gültig."},
      {7, 0, 20, 100, false,
       "Ungültige Prozentangabe. Es sind nur Prozentwerte von 20 bis 100 gültig."},
      {8, 0, 0, 65000, false, time65},
      {8, 1, 0, 65535, false, pulses},
      {9, 0, 1000, 65000, false,
       "Ungültige Zeiteinstellung. Es sind nur Werte von 1 bis 65 Sekunden gültig."},
      {14, 0, 0, 2000, false,
       "Ungültige Zeiteinstellung. Es sind nur Werte von 0 bis 2 Sekunden gültig."},
      {15, 0, 0, 15000, false,
       "Ungültige Zeiteinstellung. Es sind nur Werte von 0 bis 15 Sekunden gültig."},
      {16, 0, 0, 65535, false, time65b},
      {17, 0, 0, 65000, false, time65b},
      {17, 1, 0, 65535, false, pulses},
      {18, 0, 0, 65000, false, time65b},
      {19, 0, 200, 2800, false, "Ungültiger Wert. Es sind nur Werte von 0,2 bis 2,8 A gültig."},
  };
  for (const Case& c : cases) {
    const std::string where = std::to_string(c.kind) + "/" + std::to_string(c.subKind);
    EXPECT_EQ(CheckInput(static_cast<CheckKind>(c.kind), c.subKind, c.low),
              c.lowExclusive ? std::optional<std::string>(c.message) : std::nullopt)
        << where;
    EXPECT_EQ(CheckInput(static_cast<CheckKind>(c.kind), c.subKind, c.high), std::nullopt) << where;
    EXPECT_EQ(CheckInput(static_cast<CheckKind>(c.kind), c.subKind, c.low - 0.001), c.message)
        << where;
    EXPECT_EQ(CheckInput(static_cast<CheckKind>(c.kind), c.subKind, c.high + 0.001), c.message)
        << where;
  }
  // Kind 12 tests both values.
  EXPECT_EQ(CheckInput(CheckKind::ZoneCurrents, 0, 70, 0), std::nullopt);
  EXPECT_EQ(CheckInput(CheckKind::ZoneCurrents, 0, 0, 70.5),
            "Ungültige Wert. Es sind nur Werte von 0 bis 7 A gültig.");
  // Kinds without a check pass; as typed values they still must fit a register.
  EXPECT_EQ(CheckInput(static_cast<CheckKind>(13), 0, 1e9), std::nullopt);
  EXPECT_EQ(ConvertTyped("70000", 1, static_cast<CheckKind>(13), 0).refusal,
            "Ungültiger Wert. Es sind nur Werte von 0 bis 65535 gültig.");
  EXPECT_EQ(ConvertTyped("17", 1, static_cast<CheckKind>(13), 0).value, 17);
}

TEST(Units, NodeNumbersAndRanges) {
  EXPECT_EQ(CheckNodeNumber(1), std::nullopt);
  EXPECT_EQ(CheckNodeNumber(236), std::nullopt);
  EXPECT_EQ(CheckNodeNumber(0), kNodeMessage);
  EXPECT_EQ(CheckNodeNumber(237), kNodeMessage);
  EXPECT_EQ(CheckNodeRange(3, 5), std::nullopt);
  EXPECT_EQ(CheckNodeRange(5, 5), std::nullopt);
  EXPECT_EQ(CheckNodeRange(5, 3), kNodeMessage);
  EXPECT_EQ(CheckNodeRange(5, 0), kNodeMessage);  // an empty To field
  EXPECT_EQ(CheckNodeRange(5, 237), kNodeMessage);
  EXPECT_EQ(CheckNodeRange(5, kNoRangeEnd), std::nullopt);
  EXPECT_STREQ(CheckMessage(CheckKind::NodeNumber, 0), kNodeMessage);
}

TEST(Units, FixedTextRoundsLikePrintfInTheCLocale) {
  EXPECT_EQ(FixedText(0.5, 3), "0.500");
  EXPECT_EQ(FixedText(-10.25, 1), "-10.2");  // binary 10.25 is exact: ties to even
  EXPECT_EQ(FixedText(1.005, 2), "1.00");    // 1.005 is just below in binary
  EXPECT_EQ(FixedText(12000, 1), "12000.0");
}

}  // namespace
}  // namespace params
