#include "diag/diagnostic_view.h"

#include "base/format.h"
#include "comm/blocking_socket.h"
#include "comm/event_log.h"
#include "params/node_screen_controller.h"
#include "params/register_map.h"

namespace diag {

DiagnosticContent DiagnosticContentOf(const params::ImageView& image, const std::string& address) {
  DiagnosticContent content;
  content.address = address;
  content.reachable = true;
  content.title = std::string(kScreenTitle) + address;
  for (const Zone zone : {Zone::kUpstream, Zone::kDownstream}) {
    ZoneContent& z = content.zones[zone == Zone::kUpstream ? 0 : 1];
    z.reason = ZoneReasonOf(image, zone);
    z.errorText = ZoneErrorText(image, zone);
    z.sensor = SensorStateOf(image, zone);
  }
  content.motors[0] = MotorStatusOf(image, Motor::kLeft);
  content.motors[1] = MotorStatusOf(image, Motor::kRight);
  return content;
}

DiagnosticContent UnreachableContent(const std::string& address) {
  DiagnosticContent content;
  content.address = address;
  content.title = std::string(kScreenTitle) + address;
  content.unreachableText = UnreachableText(address);
  return content;
}

DiagnosticContent ReadDiagnosticContent(params::NodeScreenController& screen) {
  const std::string address = screen.View().moduleAddress;
  if (!screen.Connected()) return UnreachableContent(address);
  try {
    for (const RegisterBlock& block : kDiagnosticBlocks) {
      // A block the module refuses (a register it does not have) leaves its slots as they
      // were; a broken connection ends the read.
      screen.Map().ReadBlock(static_cast<uint16_t>(block.first),
                             static_cast<uint16_t>(block.count));
    }
  } catch (const CBlockingSocketException&) {
    return UnreachableContent(address);
  }
  if (!screen.Connected()) return UnreachableContent(address);
  return DiagnosticContentOf(screen.Lookup(), address);
}

void LogHiddenReasons(const DiagnosticContent& content, const DiagnosticContent* previous) {
  static constexpr const char* kZoneNames[2] = {"MU", "MD"};
  for (size_t z = 0; z < content.zones.size(); ++z) {
    const ZoneReason& reason = content.zones[z].reason;
    if (!reason.emergencyStop) continue;
    if (previous != nullptr && previous->address == content.address) {
      const ZoneReason& before = previous->zones[z].reason;
      if (before.emergencyStop && before.emergencyStopValue == reason.emergencyStopValue &&
          before.hiddenCode == reason.hiddenCode) {
        continue;
      }
    }
    LogWarning("%s (%s)", EmergencyStopLogText(content.address, reason).c_str(), kZoneNames[z]);
  }
}

namespace {

const char* MarkerText(FaultMarker marker) {
  switch (marker) {
    case FaultMarker::kOvercurrent:
      return "Überstrom-Marke";
    case FaultMarker::kFault:
      return "Fehler-Marke";
    case FaultMarker::kNone:
      break;
  }
  return "-";
}

// "\n\r" between several texts becomes "; " on one line.
std::string OneLine(const std::string& text) {
  std::string line;
  for (size_t k = 0; k < text.size(); ++k) {
    if (text[k] == '\n' && k + 1 < text.size() && text[k + 1] == '\r') {
      ++k;
      if (k + 1 < text.size()) line += "; ";
    } else if (text[k] == '\n' || text[k] == '\r') {
      if (k + 1 < text.size()) line += "; ";
    } else {
      line += text[k];
    }
  }
  return line;
}

}  // namespace

std::string DiagnosticText(const DiagnosticContent& content) {
  std::string text = content.title + "\n";
  if (!content.reachable) return text + content.unreachableText + "\n";
  static constexpr const char* kZoneTitles[2] = {kUpstreamTitle, kDownstreamTitle};
  static constexpr const char* kZoneShort[2] = {kUpstreamShort, kDownstreamShort};
  for (size_t z = 0; z < 2; ++z) {
    const ZoneContent& zone = content.zones[z];
    text +=
        base::Format("%s (%s)\n", OneLine(kZoneTitles[z]).c_str(), OneLine(kZoneShort[z]).c_str());
    text += base::Format("  Grund:    %s\n", zone.reason.text.c_str());
    text += base::Format("  Fehler:   %s\n", OneLine(zone.errorText).c_str());
    text += base::Format("  Sensor:   %s, verschmutzt %s (%u)\n",
                         zone.sensor.connected ? "angeschlossen" : "ausgesteckt",
                         std::string(OnOffText(zone.sensor.dirty)).c_str(),
                         static_cast<unsigned>(zone.sensor.dirtCounter));
  }
  static constexpr const char* kMotorNames[2] = {"Linker Motor", "Rechter Motor"};
  for (size_t m = 0; m < 2; ++m) {
    const MotorStatus& motor = content.motors[m];
    text += base::Format("%s: %s%s\n", kMotorNames[m],
                         motor.faults.empty() ? "OK" : OneLine(motor.faultText).c_str(),
                         motor.missing ? " (nicht angeschlossen)" : "");
    text += base::Format("  Marke:    %s\n", MarkerText(motor.marker));
  }
  return text;
}

}  // namespace diag
