// The diagnostic screen's model: motor faults, zone stop reasons with their precedence, zone
// errors and sensor states from a register image.
#include "diag/diagnostic_screen.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace {

using diag::FaultMarker;
using diag::Zone;

struct Image {
  std::array<uint16_t, params::kImageWords> words{};
  Image& Set(int reg, uint16_t value) {
    words[static_cast<size_t>(reg)] = value;
    return *this;
  }
  params::ImageView View() const { return params::ImageView(words); }
};

TEST(DiagnosticScreen, MotorStatusTexts) {
  struct Case {
    uint16_t word;
    std::vector<std::string_view> faults;
    const char* text;
    FaultMarker marker;
    bool missing;
  };
  const Case cases[] = {
      {0x0A00,
       {"Motorverbindungsfehler", "Überstrom"},
       "Motorverbindungsfehler\n\rÜberstrom\n\r",
       FaultMarker::kOvercurrent,
       true},
      {0x0000, {}, "", FaultMarker::kNone, false},
      // Bits below 0x40 are not faults of the screen.
      {0x003F, {}, "", FaultMarker::kNone, false},
      // One text alone carries no separator; over-voltage is a text without a marker.
      {0x0040, {"Überspannung >30V:"}, "Überspannung >30V:", FaultMarker::kNone, false},
      {0x0080,
       {"Spannungsabfall unter 18V"},
       "Spannungsabfall unter 18V",
       FaultMarker::kFault,
       false},
      {0x0800, {"Motorverbindungsfehler"}, "Motorverbindungsfehler", FaultMarker::kNone, true},
      {0x0100, {"Überhitzung"}, "Überhitzung", FaultMarker::kFault, false},
      {0x4000, {"Motor Hallsensor Fehler"}, "Motor Hallsensor Fehler", FaultMarker::kFault, false},
      {0x3000,
       {"Überlast", "Motor blockiert"},
       "Überlast\n\rMotor blockiert\n\r",
       FaultMarker::kFault,
       false},
      // Every fault: the screen's order, not bit order.
      {0x7FC0,
       {"Motorverbindungsfehler", "Spannungsabfall unter 18V", "Motorkurzschluss", "Überstrom",
        "Überlast", "Motor blockiert", "Motor Hallsensor Fehler", "Überhitzung",
        "Überspannung >30V:"},
       "Motorverbindungsfehler\n\rSpannungsabfall unter 18V\n\rMotorkurzschluss\n\rÜberstrom\n\r"
       "Überlast\n\rMotor blockiert\n\rMotor Hallsensor Fehler\n\rÜberhitzung\n\r"
       "Überspannung >30V:\n\r",
       FaultMarker::kOvercurrent,
       true},
      // Bit 15 is none of them.
      {0x8000, {}, "", FaultMarker::kNone, false},
  };
  for (const Case& c : cases) {
    const diag::MotorStatus status = diag::MotorStatusOf(c.word);
    EXPECT_EQ(status.faults, c.faults) << std::hex << c.word;
    EXPECT_EQ(status.faultText, c.text) << std::hex << c.word;
    EXPECT_EQ(status.marker, c.marker) << std::hex << c.word;
    EXPECT_EQ(status.missing, c.missing) << std::hex << c.word;
  }
}

TEST(DiagnosticScreen, MotorsFollowTheMirrorRule) {
  Image image;
  image.Set(58, 0x0800).Set(82, 0x1000);
  EXPECT_TRUE(diag::MotorStatusOf(image.View(), diag::Motor::kLeft).missing);
  EXPECT_EQ(diag::MotorStatusOf(image.View(), diag::Motor::kRight).faultText, "Überlast");
  // A module mounted reversed exchanges the drive blocks.
  image.Set(6, 0x0094);
  EXPECT_EQ(diag::MotorStatusOf(image.View(), diag::Motor::kLeft).faultText, "Überlast");
  EXPECT_TRUE(diag::MotorStatusOf(image.View(), diag::Motor::kRight).missing);
}

TEST(DiagnosticScreen, ReasonCodeTexts) {
  struct Case {
    uint16_t code;
    const char* text;
  };
  const Case cases[] = {
      {0, ""},
      {1, "Schlechte Netzwerkverbindung"},
      {2, "Schlechte Netzwerkverbindung"},
      {3, "Behälter zwischen Zonen"},
      {4, ""},
      {5, "Motor Fehler in nachfolgender Zone"},
      {6, "Pin3 Controlport Staubefehl"},
      {7, "Quillmar oder Lane Full Signal"},
      {8, "Sensor ausgesteckt"},
      {9, "Marrowhalt"},
      {10, "Broadcast Staubefehl"},
      {11, "Erzwungen von SPS oder vorgelagerter Zone"},
      {12, "von Fernverbindung"},
      {13, "Nachgelagert voll/aktiv"},
      {14, "Nachgelagert voll/aktiv"},
      {15, "Sensorfehler in nachgelagerter Zone"},
      {16, "Merger Stau"},
      {17, "Erzwungener Stop auf aktueller Zone"},
      {18, "Erzwungener Stop auf nachgelagerter Zone (or better Module?)"},
      {19, "Belegt-Interface"},
      {20, "Globaler Staubefehl"},
      {21, "Alle Zonen aufgestaut von SPS"},
      {22, "SPS ist gestoppt"},
      {23, "Globales Stausignal"},
      {24, ""},
      {65535, ""},
  };
  for (const Case& c : cases) {
    // Upstream and downstream read their own registers.
    Image up;
    up.Set(17, 0x0001).Set(373, c.code).Set(383, 1);
    EXPECT_EQ(diag::ZoneReasonOf(up.View(), Zone::kUpstream).text, c.text) << c.code;
    Image down;
    down.Set(17, 0x0001).Set(383, c.code).Set(373, 1);
    EXPECT_EQ(diag::ZoneReasonOf(down.View(), Zone::kDownstream).text, c.text) << c.code;
  }
}

TEST(DiagnosticScreen, AccumulationCommandByPinAndLaneFull) {
  struct Case {
    uint16_t register6, register17, flags, code;
    const char* text;
  };
  const Case cases[] = {
      {0x0000, 0x0301, 0, 6, "Pin2 Staubefehl"},
      {0x0094, 0x0901, 0, 6, "Pin2 Staubefehl"},
      {0x0004, 0x0001, 0, 6, "Pin3 AUX I/O Staubefehl"},
      {0x00C4, 0x0C01, 0, 6, "Pin3 AUX I/O Staubefehl"},
      {0x0005, 0x0001, 0, 6, "Pin3 Controlport Staubefehl"},
      {0x0000, 0x0201, 0, 6, "Pin3 Controlport Staubefehl"},
      // Upstream reason 7: register 104 bit 0 says whether the PLC signals lane full.
      {0x0000, 0x0001, 0x0000, 7, "Quillmar oder Lane Full Signal"},
      {0x0000, 0x0001, 0x0001, 7, "SPS"},
      {0x0000, 0x0001, 0x0002, 7, "Quillmar oder Lane Full Signal"},
  };
  for (const Case& c : cases) {
    Image image;
    image.Set(6, c.register6).Set(17, c.register17).Set(104, c.flags).Set(373, c.code);
    EXPECT_EQ(diag::ZoneReasonOf(image.View(), Zone::kUpstream).text, c.text)
        << std::hex << c.register6 << " " << c.register17 << " " << c.flags;
    EXPECT_EQ(diag::ReasonCodeText(c.code, c.flags, c.register6, c.register17), c.text);
  }
  // The downstream zone's flags are register 184, not 104.
  Image image;
  image.Set(104, 0x0001).Set(383, 7);
  EXPECT_EQ(diag::ZoneReasonOf(image.View(), Zone::kDownstream).text,
            "Quillmar oder Lane Full Signal");
  image.Set(184, 0x0001);
  EXPECT_EQ(diag::ZoneReasonOf(image.View(), Zone::kDownstream).text, "SPS");
}

TEST(DiagnosticScreen, EmergencyStopOverridesUnlessNoDownstreamModule) {
  for (uint16_t code : {0, 3, 7, 22, 24}) {
    Image image;
    image.Set(19, 0x0001).Set(373, code).Set(383, code);
    const diag::ZoneReason reason = diag::ZoneReasonOf(image.View(), Zone::kUpstream);
    EXPECT_EQ(reason.text, "Marrowhalt") << code;
    EXPECT_TRUE(reason.emergencyStop);
    EXPECT_EQ(reason.emergencyStopValue, 1);
    EXPECT_EQ(reason.hiddenCode, code);
    EXPECT_EQ(diag::ZoneReasonOf(image.View(), Zone::kDownstream).text, "Marrowhalt") << code;
    // Bit 13 of the zone's flag register wins over the emergency stop, for that zone only.
    image.Set(104, 0x2000);
    const diag::ZoneReason noNext = diag::ZoneReasonOf(image.View(), Zone::kUpstream);
    EXPECT_EQ(noNext.text, "Kein Nachfolger Modul") << code;
    EXPECT_FALSE(noNext.emergencyStop);
    EXPECT_EQ(diag::ZoneReasonOf(image.View(), Zone::kDownstream).text, "Marrowhalt") << code;
    image.Set(184, 0x2001);
    EXPECT_EQ(diag::ZoneReasonOf(image.View(), Zone::kDownstream).text, "Kein Nachfolger Modul");
  }
  // Without emergency stop, bit 13 still names the missing module before any code.
  Image image;
  image.Set(373, 3).Set(104, 0x2000);
  EXPECT_EQ(diag::ZoneReasonOf(image.View(), Zone::kUpstream).text, "Kein Nachfolger Modul");
  image.Set(19, 0x8000);
  const diag::ZoneReason hidden = diag::ZoneReasonOf(image.View(), Zone::kUpstream);
  image.Set(104, 0);
  const diag::ZoneReason shown = diag::ZoneReasonOf(image.View(), Zone::kUpstream);
  EXPECT_EQ(shown.text, "Marrowhalt");
  EXPECT_EQ(diag::EmergencyStopLogText("192.168.202.20", shown),
            "DiagnosticScreen - Modul 192.168.202.20: Marrowhalt (Register 19 = 0x8000), Code 3");
  EXPECT_FALSE(hidden.emergencyStop);
}

TEST(DiagnosticScreen, ZoneErrorTexts) {
  struct Case {
    uint16_t word, type, hardware;
    const char* text;
  };
  const Case cases[] = {
      {0x0001, 1, 0x0001, "Sensor Blockade\n\r"},
      {0x0002, 1, 0x0901, "Ankommen Blockade\n\r"},
      {0xFFFF, 1, 0x0301, "Sensor Blockade\n\rAnkommen Blockade\n\r"},
      {0xFFFC, 1, 0x0001, ""},
      {0x0003, 1, 0x0201, ""},  // family 0x02 shows no zone error text
      {0x0001, 8, 0x0001, "Erster Behälter hat den Sensor nicht erreicht.\n\r"},
      {0x0100, 8, 0x0201, "Unbekannter Fehler"},  // DTA texts on every family
      {0x01FF, 8, 0x0001,
       "Erster Behälter hat den Sensor nicht erreicht.\n\rFehlender zweiter Behälter.\n\r"
       "Zweiter Behälter gefunden.\n\rBehälter kommt nicht in nachfolgender Zone an.\n\r"
       "Motorfehler.\n\rMotorsensorfehler\n\rVerbindungsfehler\n\rBehälter Fehler\n\r"
       "Unbekannter Fehler"},
      {0xFE00, 8, 0x0001, ""},
      {0x0000, 8, 0x0001, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(diag::ZoneErrorText(c.word, c.type, c.hardware), c.text)
        << std::hex << c.word << " " << c.type << " " << c.hardware;
  }
  // From the image: each zone's jam register.
  Image image;
  image.Set(17, 0x0901).Set(18, 1).Set(108, 0x0002).Set(188, 0x0001);
  EXPECT_EQ(diag::ZoneErrorText(image.View(), Zone::kUpstream), "Ankommen Blockade\n\r");
  EXPECT_EQ(diag::ZoneErrorText(image.View(), Zone::kDownstream), "Sensor Blockade\n\r");
  image.Set(18, 8);
  EXPECT_EQ(diag::ZoneErrorText(image.View(), Zone::kUpstream), "Fehlender zweiter Behälter.\n\r");
}

TEST(DiagnosticScreen, SensorStates) {
  Image image;
  image.Set(35, 0x0001).Set(36, 0x0002).Set(282, 7).Set(283, 9).Set(496, 0x0020);
  const diag::SensorState up = diag::SensorStateOf(image.View(), Zone::kUpstream);
  const diag::SensorState down = diag::SensorStateOf(image.View(), Zone::kDownstream);
  EXPECT_TRUE(up.connected);
  EXPECT_TRUE(up.dirty);
  EXPECT_EQ(up.dirtCounter, 7);
  EXPECT_FALSE(up.errorPinUsed);
  EXPECT_FALSE(down.connected);
  EXPECT_FALSE(down.dirty);
  EXPECT_EQ(down.dirtCounter, 9);
  EXPECT_TRUE(down.errorPinUsed);
  // The dirt counters change sides on a module mounted reversed, as on the node screen.
  image.Set(6, 0x0004);
  EXPECT_EQ(diag::SensorStateOf(image.View(), Zone::kUpstream).dirtCounter, 9);
  EXPECT_EQ(diag::OnOffText(true), "An");
  EXPECT_EQ(diag::OnOffText(false), "Aus");
}

TEST(DiagnosticScreen, ScreenTexts) {
  EXPECT_EQ(diag::UnreachableText("192.168.202.20"),
            "Es kann keine Verbindung zu Modul mit IP: \"192.168.202.20 aufgebaut werden");
  EXPECT_STREQ(diag::kScreenTitle, "Diagnostik         Angezeigte Moduladresse: ");
}

}  // namespace
