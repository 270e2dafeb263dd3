#include "diag/diagnostic_view.h"

#include "base/format.h"
#include "base/language.h"
#include "comm/blocking_socket.h"
#include "comm/event_log.h"
#include "params/mirror_map.h"
#include "params/node_screen_controller.h"
#include "params/register_image.h"
#include "params/register_map.h"

namespace diag {

namespace {

// The register client's error number for an exception answer: the module is there and
// answered, it only refused the request.
constexpr int kExceptionAnswer = 1;

class Readable {
 public:
  Readable(const params::ImageView& image, const UnreadSlots& unread)
      : image_(image), unread_(unread) {}
  // Whether the slot a lookup of `reg` reads (through the mirror rule) was read.
  bool operator()(int reg) const {
    const int slot = image_.Mirrored()
                         ? static_cast<int>(params::MirrorMap::Map(static_cast<uint32_t>(reg)))
                         : reg;
    return slot < 0 || slot >= params::kImageWords || !unread_[static_cast<size_t>(slot)];
  }

 private:
  const params::ImageView& image_;
  const UnreadSlots& unread_;
};

// The reason's precedence decides what it needs: the flags first, then register 19, and the
// reason code (with 6 and 17) only when neither of them decides.
bool ReasonKnown(const params::ImageView& image, const Readable& known, int z) {
  if (!known(kZoneFlagsRegister[z])) return false;
  if (image[kZoneFlagsRegister[z]] & kFlagNoDownstreamModule) return true;
  if (!known(kEmergencyStopRegister)) return false;
  if (image[kEmergencyStopRegister] != 0) return true;
  return known(kZoneReasonRegister[z]) && known(6) && known(17);
}

}  // namespace

DiagnosticContent DiagnosticContentOf(const params::ImageView& image, const std::string& address,
                                      const UnreadSlots& unread) {
  const Readable known(image, unread);
  DiagnosticContent content;
  content.address = address;
  content.reachable = true;
  content.title = std::string(kScreenTitle) + address;
  for (const Zone zone : {Zone::kUpstream, Zone::kDownstream}) {
    const int index = zone == Zone::kUpstream ? 0 : 1;
    ZoneContent& z = content.zones[static_cast<size_t>(index)];
    z.reasonKnown = ReasonKnown(image, known, index);
    if (z.reasonKnown) {
      z.reason = ZoneReasonOf(image, zone);
      z.reason.hiddenCodeKnown = known(kZoneReasonRegister[index]);
    } else {
      z.reason.text = kUnknownField;
    }
    z.errorsKnown = known(kZoneErrorRegister[index]) && known(18) && known(17);
    z.errorText = z.errorsKnown ? ZoneErrorText(image, zone) : std::string(kUnknownField);
    static constexpr int kDirtCounter[2] = {282, 283};
    z.sensorKnown = known(35) && known(36) && known(kDirtCounter[index]);
    if (z.sensorKnown) z.sensor = SensorStateOf(image, zone);
  }
  for (const Motor motor : {Motor::kLeft, Motor::kRight}) {
    const size_t m = motor == Motor::kLeft ? 0 : 1;
    content.motorsKnown[m] = known(kMotorStatusRegister[m]);
    if (content.motorsKnown[m]) content.motors[m] = MotorStatusOf(image, motor);
  }
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
  UnreadSlots unread;
  for (const RegisterBlock& block : kDiagnosticBlocks) {
    const auto first = static_cast<uint16_t>(block.first);
    const auto count = static_cast<uint16_t>(block.count);
    // The numbers the read stores at, as the node screen's read sends them.
    const uint16_t sent =
        params::MirrorMap::BlockReadUnmapped(first, count) ? first : screen.Map().ToModule(first);
    bool read = false;
    try {
      read = screen.Map().ReadBlock(first, count);
    } catch (const CBlockingSocketException& error) {
      // A refused block (modules of 363 or 383 registers refuse the ones beyond their count)
      // costs only its own fields; anything else means the connection is gone.
      if (error.Number() != kExceptionAnswer) return UnreachableContent(address);
    }
    if (read) continue;
    for (uint32_t k = 0; k < count; ++k) {
      if (const auto slot = params::RegisterImage::SlotOf(sent + k))
        unread.set(static_cast<size_t>(*slot));
    }
  }
  if (!screen.Connected()) return UnreachableContent(address);
  return DiagnosticContentOf(screen.Lookup(), address, unread);
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
      return QM_TRANSLATE_NOOP("DiagnosticScreen", "Überstrom-Marke");
    case FaultMarker::kFault:
      return QM_TRANSLATE_NOOP("DiagnosticScreen", "Fehler-Marke");
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

// A text of the screen's tables in `language`; texts joined with "\n\r" (the zone errors, the
// motor faults) are translated piece by piece, each with its "\n\r" as the table holds it.
std::string ShownJoined(base::Language language, const std::string& text) {
  std::string shown;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\n\r", start);
    end = end == std::string::npos ? text.size() : end + 2;
    const std::string piece = text.substr(start, end - start);
    const char* translated = base::Translate(language, "DiagnosticScreen", piece.c_str());
    if (piece == LaneFullText()) {
      shown += LaneFullText(language);  // composed with the program's name
    } else if (translated == piece.c_str() && piece.ends_with("\n\r")) {
      // Joined by the motor fault text: the table's text has no "\n\r" of its own.
      const std::string bare = piece.substr(0, piece.size() - 2);
      shown += std::string(base::Translate(language, "DiagnosticScreen", bare.c_str())) + "\n\r";
    } else {
      shown += translated;
    }
    start = end;
  }
  return shown;
}

}  // namespace

std::string ShownText(const std::string& text, base::Language language) {
  return ShownJoined(language, text);
}

std::string DiagnosticText(const DiagnosticContent& content, base::Language language) {
  const auto shown = [language](const char* german) {
    return base::Translate(language, "DiagnosticScreen", german);
  };
  // A field's name and its colon, padded so that the values line up.
  const auto field = [&](const char* german) {
    return base::Format("  %-10s", (std::string(shown(german)) + ":").c_str());
  };
  std::string text = content.title;
  const std::string_view titlePrefix = kScreenTitle;
  if (text.starts_with(titlePrefix)) {
    text = shown(kScreenTitle) + text.substr(titlePrefix.size());
  }
  text += "\n";
  if (!content.reachable) {
    const bool ownText = content.unreachableText == UnreachableText(content.address);
    return text + (ownText ? UnreachableText(content.address, language) : content.unreachableText) +
           "\n";
  }
  static constexpr const char* kZoneTitles[2] = {kUpstreamTitle, kDownstreamTitle};
  static constexpr const char* kZoneShort[2] = {kUpstreamShort, kDownstreamShort};
  for (size_t z = 0; z < 2; ++z) {
    const ZoneContent& zone = content.zones[z];
    text += base::Format("%s (%s)\n", OneLine(shown(kZoneTitles[z])).c_str(),
                         OneLine(kZoneShort[z]).c_str());
    text += field(QM_TRANSLATE_NOOP("DiagnosticScreen", "Grund")) +
            ShownJoined(language, zone.reason.text) + "\n";
    text += field(QM_TRANSLATE_NOOP("DiagnosticScreen", "Fehler")) +
            OneLine(ShownJoined(language, zone.errorText)) + "\n";
    const std::string sensorField = field(QM_TRANSLATE_NOOP("DiagnosticScreen", "Sensor"));
    if (!zone.sensorKnown) {
      text += sensorField + kUnknownField + "\n";
      continue;
    }
    text += sensorField +
            base::Format(
                "%s, %s %s (%u)\n",
                shown(zone.sensor.connected ? QM_TRANSLATE_NOOP("DiagnosticScreen", "angeschlossen")
                                            : QM_TRANSLATE_NOOP("DiagnosticScreen", "ausgesteckt")),
                shown(QM_TRANSLATE_NOOP("DiagnosticScreen", "verschmutzt")),
                shown(OnOffText(zone.sensor.dirty).data()),
                static_cast<unsigned>(zone.sensor.dirtCounter));
  }
  static constexpr const char* kMotorNames[2] = {
      QM_TRANSLATE_NOOP("DiagnosticScreen", "Linker Motor"),
      QM_TRANSLATE_NOOP("DiagnosticScreen", "Rechter Motor")};
  const std::string markerField = field(QM_TRANSLATE_NOOP("DiagnosticScreen", "Marke"));
  for (size_t m = 0; m < 2; ++m) {
    const MotorStatus& motor = content.motors[m];
    if (!content.motorsKnown[m]) {
      text += base::Format("%s: %s\n", shown(kMotorNames[m]), kUnknownField) + markerField +
              kUnknownField + "\n";
      continue;
    }
    const std::string missing =
        motor.missing
            ? std::string(" (") +
                  shown(QM_TRANSLATE_NOOP("DiagnosticScreen", "nicht angeschlossen")) + ")"
            : std::string();
    text += base::Format(
        "%s: %s%s\n", shown(kMotorNames[m]),
        motor.faults.empty() ? "OK" : OneLine(ShownJoined(language, motor.faultText)).c_str(),
        missing.c_str());
    text += markerField + shown(MarkerText(motor.marker)) + "\n";
  }
  return text;
}

}  // namespace diag
