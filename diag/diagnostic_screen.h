#pragma once
// The model of `DiagnosticScreen`: why each zone stops or accumulates, the faults of the two
// motors, the zone errors and the sensor states, as pure functions over the register image the
// node screen keeps (lookups through its mirror rule). Drawing and register traffic are the
// screen's business.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/language.h"
#include "params/image_view.h"

namespace diag {

enum class Zone { kUpstream, kDownstream };
enum class Motor { kLeft, kRight };

// Texts of the screen itself.
inline constexpr char kScreenTitle[] =
    QM_TRANSLATE_NOOP("DiagnosticScreen", "Diagnostik         Angezeigte Moduladresse: ");
inline constexpr char kUpstreamShort[] = "MU\n";
inline constexpr char kUpstreamTitle[] =
    QM_TRANSLATE_NOOP("DiagnosticScreen", "Vorgelagerte Zone\n");
inline constexpr char kDownstreamShort[] = "MD\n";
inline constexpr char kDownstreamTitle[] =
    QM_TRANSLATE_NOOP("DiagnosticScreen", "Nachgelagerte Zone\n");
// The program name that fills the lane-full reason.
inline constexpr char kProgramName[] = "Quillmar";
// The lane-full reason ("Quillmar oder Lane Full Signal"), in `language`.
std::string LaneFullText(base::Language language = base::Language::German);
// "Es kann keine Verbindung zu Modul mit IP: \"%s aufgebaut werden" (in `language`).
std::string UnreachableText(const std::string& address,
                            base::Language language = base::Language::German);

// Registers the model reads.
inline constexpr int kMotorStatusRegister[2] = {58, 82};   // left, right
inline constexpr int kZoneReasonRegister[2] = {373, 383};  // upstream, downstream
inline constexpr int kZoneFlagsRegister[2] = {104, 184};
// The zone error word: the zone's jam register, whose bits name the kind of error.
inline constexpr int kZoneErrorRegister[2] = {108, 188};
inline constexpr int kEmergencyStopRegister = 19;

// Motor status bits.
inline constexpr uint16_t kMotorFaultTextBits = 0x7FC0;
inline constexpr uint16_t kMotorFaultMarkerBits = 0x7780;
inline constexpr uint16_t kMotorOvercurrent = 0x0200;
inline constexpr uint16_t kMotorNotConnected = 0x0800;

enum class FaultMarker { kNone, kOvercurrent, kFault };

struct MotorStatus {
  // The fault texts in display order, and joined as shown (each followed by "\n\r" when
  // several are shown).
  std::vector<std::string_view> faults;
  std::string faultText;
  FaultMarker marker = FaultMarker::kNone;
  // Drive not connected: the missing marker instead of the motor's status text.
  bool missing = false;
};
MotorStatus MotorStatusOf(uint16_t statusWord);
MotorStatus MotorStatusOf(const params::ImageView& image, Motor motor);

// Why a zone stops or accumulates.
inline constexpr uint16_t kFlagLaneFullFromPlc = 0x0001;
inline constexpr uint16_t kFlagNoDownstreamModule = 0x2000;

struct ZoneReason {
  std::string text;
  // Emergency stop shown instead of the module's reason code: the screen writes a Warning
  // line with the register 19 value and the code hidden.
  bool emergencyStop = false;
  uint16_t emergencyStopValue = 0;
  uint16_t hiddenCode = 0;
  // False when the module refused the reason code's register: the log line shows "---".
  bool hiddenCodeKnown = true;
};
// The text of one reason code with the zone's flag register and the module's registers 6 and
// 17 (no precedence rules: see ZoneReasonOf).
std::string ReasonCodeText(uint16_t code, uint16_t flags, uint16_t register6, uint16_t register17);
// No downstream module first, then emergency stop (register 19 not 0), then the reason code.
ZoneReason ZoneReasonOf(const params::ImageView& image, Zone zone);
// The Warning line written when emergency stop hides a reason code.
std::string EmergencyStopLogText(const std::string& address, const ZoneReason& reason);

// The error texts of a zone's error word on a module of type `register18` and hardware
// `register17`, appended in bit order.
std::string ZoneErrorText(uint16_t errorWord, uint16_t register18, uint16_t register17);
std::string ZoneErrorText(const params::ImageView& image, Zone zone);

// The sensor state of a zone: registers 35 and 36 carry one bit per zone (upstream bit 0,
// downstream bit 1), the dirt counters are 282 / 283, the error pin use register 496 bits 4 / 5.
struct SensorState {
  bool connected = true;
  bool dirty = false;
  uint16_t dirtCounter = 0;
  bool errorPinUsed = false;
};
SensorState SensorStateOf(const params::ImageView& image, Zone zone);
// "An" for a state that is on, "Aus" for one that is off.
std::string_view OnOffText(bool on);

}  // namespace diag
