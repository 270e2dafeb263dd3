#include "diag/diagnostic_screen.h"

#include <array>

#include "base/format.h"
#include "base/language.h"
#include "params/mirror_map.h"

namespace diag {

namespace {

int Index(Zone zone) {
  return zone == Zone::kUpstream ? 0 : 1;
}

uint8_t FamilyOf(uint16_t register17) {
  return static_cast<uint8_t>(register17 >> 8);
}

struct MotorBitText {
  uint16_t bit;
  std::string_view text;
};
// In the order the screen lists them, not in bit order.
constexpr std::array<MotorBitText, 9> kMotorTexts = {{
    {0x0800, QM_TRANSLATE_NOOP("DiagnosticScreen", "Motorverbindungsfehler")},
    {0x0080, QM_TRANSLATE_NOOP("DiagnosticScreen", "Spannungsabfall unter 18V")},
    {0x0400, QM_TRANSLATE_NOOP("DiagnosticScreen", "Motorkurzschluss")},
    {0x0200, QM_TRANSLATE_NOOP("DiagnosticScreen", "Überstrom")},
    {0x1000, QM_TRANSLATE_NOOP("DiagnosticScreen", "Überlast")},
    {0x2000, QM_TRANSLATE_NOOP("DiagnosticScreen", "Motor blockiert")},
    {0x4000, QM_TRANSLATE_NOOP("DiagnosticScreen", "Motor Hallsensor Fehler")},
    {0x0100, QM_TRANSLATE_NOOP("DiagnosticScreen", "Überhitzung")},
    {0x0040, QM_TRANSLATE_NOOP("DiagnosticScreen", "Überspannung >30V:")},
}};

constexpr std::array<std::string_view, 9> kTransferErrors = {
    QM_TRANSLATE_NOOP("DiagnosticScreen", "Erster Behälter hat den Sensor nicht erreicht.\n\r"),
    QM_TRANSLATE_NOOP("DiagnosticScreen", "Fehlender zweiter Behälter.\n\r"),
    QM_TRANSLATE_NOOP("DiagnosticScreen", "Zweiter Behälter gefunden.\n\r"),
    QM_TRANSLATE_NOOP("DiagnosticScreen", "Behälter kommt nicht in nachfolgender Zone an.\n\r"),
    QM_TRANSLATE_NOOP("DiagnosticScreen", "Motorfehler.\n\r"),
    QM_TRANSLATE_NOOP("DiagnosticScreen", "Motorsensorfehler\n\r"),
    QM_TRANSLATE_NOOP("DiagnosticScreen", "Verbindungsfehler\n\r"),
    QM_TRANSLATE_NOOP("DiagnosticScreen", "Behälter Fehler\n\r"),
    QM_TRANSLATE_NOOP("DiagnosticScreen", "Unbekannter Fehler"),
};
constexpr std::array<std::string_view, 2> kJamErrors = {
    QM_TRANSLATE_NOOP("DiagnosticScreen", "Sensor Blockade\n\r"),
    QM_TRANSLATE_NOOP("DiagnosticScreen", "Ankommen Blockade\n\r")};

constexpr uint16_t kModuleTypeDta = 8;
constexpr uint8_t kFamilyDriveController = 0x02;

}  // namespace

std::string UnreachableText(const std::string& address, base::Language language) {
  return base::Format(
      base::Translate(language, "DiagnosticScreen",
                      QM_TRANSLATE_NOOP("DiagnosticScreen",
                                        "Es kann keine Verbindung zu Modul mit IP: \"%s aufgebaut "
                                        "werden")),
      address.c_str());
}

MotorStatus MotorStatusOf(uint16_t statusWord) {
  MotorStatus status;
  if (statusWord & kMotorFaultTextBits) {
    for (const MotorBitText& entry : kMotorTexts) {
      if (statusWord & entry.bit) status.faults.push_back(entry.text);
    }
  }
  const bool several = status.faults.size() > 1;
  for (std::string_view text : status.faults) {
    status.faultText += text;
    if (several) status.faultText += "\n\r";
  }
  if (statusWord & kMotorFaultMarkerBits) {
    status.marker =
        (statusWord & kMotorOvercurrent) ? FaultMarker::kOvercurrent : FaultMarker::kFault;
  }
  status.missing = (statusWord & kMotorNotConnected) != 0;
  return status;
}

MotorStatus MotorStatusOf(const params::ImageView& image, Motor motor) {
  return MotorStatusOf(image[kMotorStatusRegister[motor == Motor::kLeft ? 0 : 1]]);
}

std::string LaneFullText(base::Language language) {
  return base::Format(
      base::Translate(language, "DiagnosticScreen",
                      QM_TRANSLATE_NOOP("DiagnosticScreen", "%s oder Lane Full Signal")),
      kProgramName);
}

std::string ReasonCodeText(uint16_t code, uint16_t flags, uint16_t register6, uint16_t register17) {
  switch (code) {
    case 1:
    case 2:
      return QM_TRANSLATE_NOOP("DiagnosticScreen", "Schlechte Netzwerkverbindung");
    case 3:
      return QM_TRANSLATE_NOOP("DiagnosticScreen", "Behälter zwischen Zonen");
    case 5:
      return QM_TRANSLATE_NOOP("DiagnosticScreen", "Motor Fehler in nachfolgender Zone");
    case 6: {
      const uint8_t family = FamilyOf(register17);
      if (family == 0x03 || family == 0x09)
        return QM_TRANSLATE_NOOP("DiagnosticScreen", "Pin2 Staubefehl");
      // A module mounted reversed names its pin 3 input after the AUX I/O port.
      return params::MirrorMap::ReversedVariant(register6)
                 ? QM_TRANSLATE_NOOP("DiagnosticScreen", "Pin3 AUX I/O Staubefehl")
                 : QM_TRANSLATE_NOOP("DiagnosticScreen", "Pin3 Controlport Staubefehl");
    }
    case 7:
      if (flags & kFlagLaneFullFromPlc) return QM_TRANSLATE_NOOP("DiagnosticScreen", "SPS");
      return LaneFullText();
    case 8:
      return QM_TRANSLATE_NOOP("DiagnosticScreen", "Sensor ausgesteckt");
    case 9:
      return QM_TRANSLATE_NOOP("DiagnosticScreen", "Marrowhalt");
    case 10:
      return QM_TRANSLATE_NOOP("DiagnosticScreen", "Broadcast Staubefehl");
    case 11:
      return QM_TRANSLATE_NOOP("DiagnosticScreen", "Erzwungen von SPS oder vorgelagerter Zone");
    case 12:
      return QM_TRANSLATE_NOOP("DiagnosticScreen", "von Fernverbindung");
    case 13:
    case 14:
      return QM_TRANSLATE_NOOP("DiagnosticScreen", "Nachgelagert voll/aktiv");
    case 15:
      return QM_TRANSLATE_NOOP("DiagnosticScreen", "Sensorfehler in nachgelagerter Zone");
    case 16:
      return QM_TRANSLATE_NOOP("DiagnosticScreen", "Merger Stau");
    case 17:
      return QM_TRANSLATE_NOOP("DiagnosticScreen", "Erzwungener Stop auf aktueller Zone");
    case 18:
      return QM_TRANSLATE_NOOP("DiagnosticScreen",
                               "Erzwungener Stop auf nachgelagerter Zone (or better Module?)");
    case 19:
      return QM_TRANSLATE_NOOP("DiagnosticScreen", "Belegt-Interface");
    case 20:
      return QM_TRANSLATE_NOOP("DiagnosticScreen", "Globaler Staubefehl");
    case 21:
      return QM_TRANSLATE_NOOP("DiagnosticScreen", "Alle Zonen aufgestaut von SPS");
    case 22:
      return QM_TRANSLATE_NOOP("DiagnosticScreen", "SPS ist gestoppt");
    case 23:
      return QM_TRANSLATE_NOOP("DiagnosticScreen", "Globales Stausignal");
    default:
      return std::string();
  }
}

ZoneReason ZoneReasonOf(const params::ImageView& image, Zone zone) {
  const int z = Index(zone);
  const uint16_t code = image[kZoneReasonRegister[z]];
  const uint16_t flags = image[kZoneFlagsRegister[z]];
  const uint16_t emergencyStop = image[kEmergencyStopRegister];
  ZoneReason reason;
  if (flags & kFlagNoDownstreamModule) {
    reason.text = QM_TRANSLATE_NOOP("DiagnosticScreen", "Kein Nachfolger Modul");
  } else if (emergencyStop != 0) {
    reason.text = QM_TRANSLATE_NOOP("DiagnosticScreen", "Marrowhalt");
    reason.emergencyStop = true;
    reason.emergencyStopValue = emergencyStop;
    reason.hiddenCode = code;
  } else {
    reason.text = ReasonCodeText(code, flags, image.Variant(), image.Raw(17));
  }
  return reason;
}

std::string EmergencyStopLogText(const std::string& address, const ZoneReason& reason) {
  const std::string code = reason.hiddenCodeKnown
                               ? base::Format("%u", static_cast<unsigned>(reason.hiddenCode))
                               : std::string("---");
  return base::Format("DiagnosticScreen - Modul %s: Marrowhalt (Register 19 = 0x%04X), Code %s",
                      address.c_str(), static_cast<unsigned>(reason.emergencyStopValue),
                      code.c_str());
}

std::string ZoneErrorText(uint16_t errorWord, uint16_t register18, uint16_t register17) {
  std::string text;
  if (register18 == kModuleTypeDta) {
    for (size_t bit = 0; bit < kTransferErrors.size(); ++bit) {
      if (errorWord & (1u << bit)) text += kTransferErrors[bit];
    }
    return text;
  }
  if (FamilyOf(register17) == kFamilyDriveController) return text;
  for (size_t bit = 0; bit < kJamErrors.size(); ++bit) {
    if (errorWord & (1u << bit)) text += kJamErrors[bit];
  }
  return text;
}

std::string ZoneErrorText(const params::ImageView& image, Zone zone) {
  return ZoneErrorText(image[kZoneErrorRegister[Index(zone)]], image.ModuleType(), image.Raw(17));
}

SensorState SensorStateOf(const params::ImageView& image, Zone zone) {
  const int z = Index(zone);
  const uint16_t bit = static_cast<uint16_t>(1u << z);
  static constexpr int kDirtCounter[2] = {282, 283};
  static constexpr uint16_t kErrorPin[2] = {0x0010, 0x0020};
  return {.connected = (image[36] & bit) == 0,
          .dirty = (image[35] & bit) != 0,
          .dirtCounter = image[kDirtCounter[z]],
          .errorPinUsed = (image[496] & kErrorPin[z]) != 0};
}

std::string_view OnOffText(bool on) {
  return on ? QM_TRANSLATE_NOOP("DiagnosticScreen", "An")
            : QM_TRANSLATE_NOOP("DiagnosticScreen", "Aus");
}

}  // namespace diag
