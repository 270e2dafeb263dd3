#include "params/display_items.h"

#include "base/format.h"
#include "base/language.h"

namespace params {

namespace {

using CK = ControlKind;
using DK = DisplayKind;
using IG = ItemGroup;
using SK = SetKind;
using PR = PreRead;
using SA = SetAllScope;

// Help texts shared by several items.
constexpr const char* kHelpRampSeconds = QM_TRANSLATE_NOOP(
    "DisplayItems", "Rampe in Sekunden (ohne Regelung). Eingabe in s, gespeichert in ms.");
constexpr const char* kHelpRampMm =
    QM_TRANSLATE_NOOP("DisplayItems", "Rampe als Weg in mm (Antrieb mit Geschwindigkeit in m/s).");
constexpr const char* kHelpNotUsed =
    QM_TRANSLATE_NOOP("DisplayItems", "Auf einem Ventilmodul nicht benutzt.");
constexpr const char* kHelpZoneOption =
    QM_TRANSLATE_NOOP("DisplayItems", "Zonenoption; wird sofort im Modul gespeichert.");
constexpr const char* kHelpDriveError = QM_TRANSLATE_NOOP(
    "DisplayItems", "Fehleranzeige des Antriebs: grün = kein Fehler, rot = Fehler.");

}  // namespace

// clang-format off
const std::array<DisplayItem, kDisplayItemCount> kDisplayItems{{
    {.id = 0, .key = "drivetype", .label = QM_TRANSLATE_NOOP("DisplayItems", "Motor Type:"), .control = CK::List, .group = IG::Drive,
     .regs = {113, 193}, .auxA = {45, 41, 42, 59, 490}, .auxB = {69, 65, 66, 83, 492},
     .display = DK::DriveType,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Antriebstyp. Er wird aus Nennstrom, Klasse, Konstante, Maximalstrom und Code "
              "erkannt; eine Auswahl schreibt alle diese Register."),
              QM_TRANSLATE_NOOP("DisplayItems", "Ventiltyp des Pneumatikmoduls."), nullptr,
              QM_TRANSLATE_NOOP("DisplayItems", "Antriebstyp (Geschwindigkeit in m/s)."), QM_TRANSLATE_NOOP("DisplayItems", "Antriebstyp (Geschwindigkeit in U/min)."),
              nullptr},
     .set = SK::List, .setAll = SA::AnyModule},
    {.id = 1, .key = "brake", .label = QM_TRANSLATE_NOOP("DisplayItems", "Bremsmodus:"), .control = CK::List, .group = IG::Drive,
     .regs = {47, 71}, .display = DK::BrakeMethod,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Bremsverhalten des Antriebs beim Anhalten."), kHelpNotUsed},
     .set = SK::List, .setAll = SA::AnyModule},
    {.id = 2, .key = "closedloop", .label = QM_TRANSLATE_NOOP("DisplayItems", "Regelung:"), .control = CK::CheckBox,
     .group = IG::Drive, .regs = {46, 70}, .display = DK::ClosedLoop,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Geschlossener Regelkreis: Rampen in Motorpulsen statt in Sekunden."),
              kHelpNotUsed},
     .set = SK::Check, .setAll = SA::AnyModule},
    {.id = 3, .key = "speed", .label = QM_TRANSLATE_NOOP("DisplayItems", "Geschwindigkeit:"), .control = CK::Edit,
     .group = IG::Drive, .regs = {40, 64}, .auxA = {1, 17}, .auxB = {2, 17}, .divisor = 10,
     .display = DK::Speed,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Sollgeschwindigkeit in % (1 bis 100)."), kHelpNotUsed, nullptr,
              QM_TRANSLATE_NOOP("DisplayItems", "Sollgeschwindigkeit in m/s (0.015 bis 6.20)."),
              QM_TRANSLATE_NOOP("DisplayItems", "Sollgeschwindigkeit in U/min (8 bis 1933)."),
              QM_TRANSLATE_NOOP("DisplayItems", "Sollgeschwindigkeit in U/min (570 bis 3100).")},
     .set = SK::Typed, .setAll = SA::AnyModule},
    {.id = 4, .key = "direction", .label = QM_TRANSLATE_NOOP("DisplayItems", "Drehrichtung:"), .control = CK::List,
     .group = IG::Drive, .regs = {48, 72}, .regsType4 = {96, 176}, .auxA = {96, 6},
     .auxB = {96, 6}, .display = DK::Direction,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Drehrichtung des Antriebs (CW / CCW), bezogen auf die Förderrichtung."),
              QM_TRANSLATE_NOOP("DisplayItems", "Ventilfunktion: ON Running oder OFF Running.")},
     .set = SK::List, .preRead = PR::DirectionExchange, .setAll = SA::AnyModule},
    {.id = 5, .key = "accel", .label = QM_TRANSLATE_NOOP("DisplayItems", "Beschleunigung:"), .control = CK::Edit,
     .group = IG::Drive, .regs = {43, 67}, .auxA = {46, 1, 17}, .auxB = {70, 2, 17},
     .divisor = 1000, .display = DK::Ramp,
     .help = {kHelpRampSeconds, kHelpNotUsed, nullptr, kHelpRampMm,
              QM_TRANSLATE_NOOP("DisplayItems", "Beschleunigung in Sekunden oder Motorpulsen (mit Regelung).")},
     .set = SK::Typed, .setAll = SA::AnyModule},
    {.id = 6, .key = "decel", .label = QM_TRANSLATE_NOOP("DisplayItems", "Verzögerung:"), .control = CK::Edit, .group = IG::Drive,
     .regs = {44, 68}, .auxA = {46, 1, 17}, .auxB = {70, 2, 17}, .divisor = 1000,
     .display = DK::Ramp,
     .help = {kHelpRampSeconds, kHelpNotUsed, nullptr, kHelpRampMm,
              QM_TRANSLATE_NOOP("DisplayItems", "Verzögerung in Sekunden oder Motorpulsen (mit Regelung).")},
     .set = SK::Typed, .setAll = SA::AnyModule},
    {.id = 7, .key = "current", .label = QM_TRANSLATE_NOOP("DisplayItems", "Strom:"), .group = IG::Drive, .regs = {55, 79},
     .display = DK::Milliamperes, .help = {QM_TRANSLATE_NOOP("DisplayItems", "Aktueller Antriebsstrom in mA.")}},
    {.id = 8, .key = "runtime", .label = QM_TRANSLATE_NOOP("DisplayItems", "Laufzeit:"), .labelType4 = QM_TRANSLATE_NOOP("DisplayItems", "Valve cycle:"),
     .group = IG::Drive, .regs = {53, 77}, .display = DK::Number,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Betriebszeit des Antriebs in Minuten."), QM_TRANSLATE_NOOP("DisplayItems", "Anzahl der Ventilzyklen.")}},
    {.id = 9, .key = "drivetemp", .label = QM_TRANSLATE_NOOP("DisplayItems", "Antrieb Temperatur:"), .group = IG::Drive,
     .regs = {57, 81}, .maskA = 0xFF00, .maskB = 0xFF00, .display = DK::DriveTemperature,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Temperatur des Antriebs in °C."), kHelpNotUsed}},
    {.id = 10, .key = "moduletemp", .label = QM_TRANSLATE_NOOP("DisplayItems", "Modul Temperatur:"), .group = IG::Drive,
     .regs = {57, 81}, .maskA = 0x00FF, .maskB = 0x00FF, .display = DK::ModuleTemperature,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Temperatur des Moduls in °C."), kHelpNotUsed}},
    {.id = 11, .key = "sensordirt", .label = QM_TRANSLATE_NOOP("DisplayItems", "Sensorverschmutzung Fehler:"),
     .control = CK::Indicator, .group = IG::Zone, .regs = {35, 35}, .maskA = 0x0001,
     .maskB = 0x0002, .display = DK::Indicator,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Der Zonensensor ist verschmutzt.")}},
    {.id = 12, .key = "sensordirtcount", .label = QM_TRANSLATE_NOOP("DisplayItems", "Fehlerzähler Sensorverschmutzung:"),
     .control = CK::Counter, .group = IG::Zone, .regs = {282, 283}, .display = DK::Counter,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Anzahl der Sensorverschmutzungsfehler der Zone.")}},
    {.id = 13, .key = "overheat", .label = QM_TRANSLATE_NOOP("DisplayItems", "Übertemperatur"), .control = CK::Indicator,
     .group = IG::Drive, .regs = {58, 82}, .maskA = 0x0130, .maskB = 0x0130,
     .display = DK::Indicator, .help = {kHelpDriveError}},
    {.id = 14, .key = "overvoltage", .label = QM_TRANSLATE_NOOP("DisplayItems", "Überspannung (> 30 V)"), .control = CK::Indicator,
     .group = IG::Drive, .regs = {58, 82}, .maskA = 0x0040, .maskB = 0x0040,
     .display = DK::Indicator, .help = {kHelpDriveError}},
    {.id = 15, .key = "undervoltage", .label = QM_TRANSLATE_NOOP("DisplayItems", "Unterspannung (< 18 V)"),
     .control = CK::Indicator, .group = IG::Drive, .regs = {58, 82}, .maskA = 0x0080,
     .maskB = 0x0080, .display = DK::Indicator, .help = {kHelpDriveError}},
    {.id = 16, .key = "maxtorque", .label = QM_TRANSLATE_NOOP("DisplayItems", "Max. Drehmoment"), .control = CK::Indicator,
     .group = IG::Drive, .regs = {58, 82}, .maskA = 0x0200, .maskB = 0x0200,
     .display = DK::Indicator,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Gelb: das maximale Drehmoment ist erreicht (kein Fehler).")}},
    {.id = 17, .key = "shortcircuit", .label = QM_TRANSLATE_NOOP("DisplayItems", "Kurzschluss"), .control = CK::Indicator,
     .group = IG::Drive, .regs = {58, 82}, .maskA = 0x0400, .maskB = 0x0400,
     .display = DK::Indicator, .help = {kHelpDriveError}},
    {.id = 18, .key = "connector", .label = QM_TRANSLATE_NOOP("DisplayItems", "Antrieb fehlt"), .control = CK::Indicator,
     .group = IG::Drive, .regs = {58, 82}, .maskA = 0x0800, .maskB = 0x0800,
     .display = DK::Indicator, .help = {QM_TRANSLATE_NOOP("DisplayItems", "Rot: Steckerfehler, der Antrieb fehlt.")}},
    {.id = 19, .key = "overload", .label = QM_TRANSLATE_NOOP("DisplayItems", "Überlast"), .control = CK::Indicator,
     .group = IG::Drive, .regs = {58, 82}, .maskA = 0x1000, .maskB = 0x1000,
     .display = DK::Indicator, .help = {kHelpDriveError}},
    {.id = 20, .key = "stalled", .label = QM_TRANSLATE_NOOP("DisplayItems", "Antrieb blockiert"), .control = CK::Indicator,
     .group = IG::Drive, .regs = {58, 82}, .maskA = 0x2000, .maskB = 0x2000,
     .display = DK::Indicator, .help = {kHelpDriveError}},
    {.id = 21, .key = "lifetime", .label = QM_TRANSLATE_NOOP("DisplayItems", "Motorlebensdauerfehler:"), .control = CK::Indicator,
     .group = IG::Drive, .display = DK::Indicator,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Lebensdauer des Antriebs (ohne Register; immer grün).")}},
    {.id = 22, .key = "driveerrors", .label = QM_TRANSLATE_NOOP("DisplayItems", "Motorfehlerzähler:"), .control = CK::Counter,
     .group = IG::Drive, .regs = {280, 281}, .display = DK::Counter,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Anzahl der Antriebsfehler.")}},
    {.id = 23, .key = "zpa", .label = QM_TRANSLATE_NOOP("DisplayItems", "ZPA Modus:"), .control = CK::List, .group = IG::Zone,
     .regs = {91, 171}, .auxA = {103}, .auxB = {183}, .display = DK::ZpaMode,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Abzugsart der Zone: Einzelabzug, Blockabzug oder Blocklückenabzug "
              "(Blockabzug mit Startverzögerung).")},
     .set = SK::List, .preRead = PR::GapForGapTrain, .setAll = SA::AnyModule,
     .setAllOnTransport = 28},
    {.id = 24, .key = "gap", .label = QM_TRANSLATE_NOOP("DisplayItems", "Start- verzögerung:"), .control = CK::Edit,
     .group = IG::Zone, .regs = {103, 183}, .divisor = 1000, .display = DK::Seconds,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Startverzögerung (GAP) in Sekunden, 0 bis 65; nur bei Blocklückenabzug.")},
     .set = SK::Typed, .setAll = SA::TransportOnly},
    {.id = 25, .key = "tzone", .label = QM_TRANSLATE_NOOP("DisplayItems", "T-Zone Annahmezeit:"), .control = CK::Edit,
     .group = IG::Zone, .regs = {101, 181}, .regsType3 = {100, 180}, .regsType4 = {98, 178},
     .divisor = 1000, .display = DK::Seconds,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Annahmezeit der T-Zone in Sekunden, 0 bis 65."),
              QM_TRANSLATE_NOOP("DisplayItems", "Annahmezeit der T-Zone in Sekunden, 0 bis 5."),
              QM_TRANSLATE_NOOP("DisplayItems", "Annahmezeit der T-Zone in Sekunden, 0 bis 10.")},
     .set = SK::Typed, .setAll = SA::TransportOrValves},
    {.id = 26, .key = "jamclear", .label = QM_TRANSLATE_NOOP("DisplayItems", "Löschen"), .control = CK::Button, .group = IG::Zone,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Stau der Zone löschen.")}},
    {.id = 27, .key = "jamcount", .label = QM_TRANSLATE_NOOP("DisplayItems", "Staufehlerzähler:"), .control = CK::Counter,
     .group = IG::Zone, .regs = {284, 285}, .display = DK::Counter,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Anzahl der Staufehler der Zone.")}},
    {.id = 28, .key = "notfullstop", .label = QM_TRANSLATE_NOOP("DisplayItems", "Not full stop time:"), .control = CK::Edit,
     .group = IG::Zone, .regs = {101, 181}, .divisor = 1000, .display = DK::Seconds,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Not-full-stop time in Sekunden, 0 bis 10.")},
     .set = SK::Typed},
    {.id = 29, .key = "induct", .label = QM_TRANSLATE_NOOP("DisplayItems", "Induct time:"), .control = CK::Edit, .group = IG::Zone,
     .regs = {99, 179}, .divisor = 1000, .display = DK::Seconds,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Induct time in Sekunden, 0 bis 10.")},
     .set = SK::Typed, .setAll = SA::TransportOnly},
    {.id = 30, .key = "lowcurrent", .label = QM_TRANSLATE_NOOP("DisplayItems", "Low Current:"), .control = CK::Edit,
     .group = IG::Zone, .regs = {102, 182}, .maskA = 0x00FF, .maskB = 0x00FF, .divisor = 10,
     .display = DK::ZoneCurrent, .help = {QM_TRANSLATE_NOOP("DisplayItems", "Untere Stromschwelle der Zone in A, 0 bis 7.")},
     .set = SK::TypedPair, .setAll = SA::TransportOnly},
    {.id = 31, .key = "highcurrent", .label = QM_TRANSLATE_NOOP("DisplayItems", "High Current:"), .control = CK::Edit,
     .group = IG::Zone, .regs = {102, 182}, .maskA = 0xFF00, .maskB = 0xFF00, .divisor = 10,
     .display = DK::ZoneCurrent, .help = {QM_TRANSLATE_NOOP("DisplayItems", "Obere Stromschwelle der Zone in A, 0 bis 7.")},
     .set = SK::TypedPair, .setAll = SA::TransportOnly},
    {.id = 32, .key = "drt", .label = QM_TRANSLATE_NOOP("DisplayItems", "Dynamic Release Termination"), .labelType3 = QM_TRANSLATE_NOOP("DisplayItems", "Auto Push"),
     .control = CK::CheckBox, .group = IG::Zone, .regs = {94, 174}, .regsType3 = {112, 192},
     .maskA = 0x0008, .maskB = 0x0008, .display = DK::ZoneOption,
     .help = {kHelpZoneOption, nullptr, QM_TRANSLATE_NOOP("DisplayItems", "Auto Push des Transportmoduls.")},
     .set = SK::Check, .setAll = SA::NotTransport},
    {.id = 33, .key = "noautoclear", .label = QM_TRANSLATE_NOOP("DisplayItems", "Disable Sensor Jam Auto Clear"),
     .control = CK::CheckBox, .group = IG::Zone, .regs = {94, 174}, .maskA = 0x0001,
     .maskB = 0x0001, .display = DK::ZoneOption, .inverted = true, .help = {kHelpZoneOption},
     .set = SK::Check},
    {.id = 34, .key = "drc", .label = QM_TRANSLATE_NOOP("DisplayItems", "Dynamic Release Control"), .control = CK::CheckBox,
     .group = IG::Zone, .regs = {94, 174}, .maskA = 0x0004, .maskB = 0x0004,
     .display = DK::ZoneOption, .help = {kHelpZoneOption},
     .set = SK::Check},
    {.id = 35, .key = "noarrivaljamdelay", .label = QM_TRANSLATE_NOOP("DisplayItems", "Disable Arrival Jam Reset Delay"),
     .control = CK::CheckBox, .group = IG::Zone, .regs = {94, 174}, .maskA = 0x0010,
     .maskB = 0x0010, .display = DK::ZoneOption, .help = {kHelpZoneOption},
     .set = SK::Check},
    {.id = 36, .key = "nosensorjamdelay", .label = QM_TRANSLATE_NOOP("DisplayItems", "Disable Sensor Jam Reset Delay"),
     .control = CK::CheckBox, .group = IG::Zone, .regs = {94, 174}, .maskA = 0x0020,
     .maskB = 0x0020, .display = DK::ZoneOption, .help = {kHelpZoneOption},
     .set = SK::Check},
    {.id = 37, .key = "noarrivaltimeout", .label = QM_TRANSLATE_NOOP("DisplayItems", "Disable Arrival Timeout"),
     .control = CK::CheckBox, .group = IG::Zone, .regs = {94, 174}, .maskA = 0x0200,
     .maskB = 0x0200, .display = DK::ZoneOption, .help = {kHelpZoneOption},
     .set = SK::Check},
    {.id = 38, .key = "accumulate", .label = QM_TRANSLATE_NOOP("DisplayItems", "Aufstauen"), .control = CK::Button,
     .group = IG::Zone, .regs = {117, 197}, .auxA = {95}, .auxB = {175}, .maskA = 0xFF00,
     .maskB = 0xFF00, .display = DK::Accumulate,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Zone aufstauen (wird im Modul gespeichert).")}},
    {.id = 39, .key = "drun", .label = QM_TRANSLATE_NOOP("DisplayItems", "Forced Run"), .control = CK::Button, .group = IG::Drive,
     .regs = {49, 73}, .regsType4 = {95, 175}, .auxA = {117}, .auxB = {197},
     .display = DK::DriveRun,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Antrieb zwangsweise laufen lassen (nicht gespeichert)."),
              QM_TRANSLATE_NOOP("DisplayItems", "Ventil zwangsweise schalten (nicht gespeichert).")}},
    {.id = 40, .key = "boxcount", .label = QM_TRANSLATE_NOOP("DisplayItems", "Behälterzähler:"), .control = CK::Counter,
     .group = IG::Zone, .regs = {106, 186}, .display = DK::Counter,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Ankunfts- / Abgangszähler der Zone; bei Spannungsausfall gelöscht.")}},
    {.id = 41, .key = "sensorconn", .label = QM_TRANSLATE_NOOP("DisplayItems", "Sensorverbindungsfehler:"),
     .control = CK::Indicator, .group = IG::Zone, .regs = {36, 36}, .maskA = 0x0001,
     .maskB = 0x0002, .display = DK::Indicator,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Der Zonensensor ist nicht verbunden.")}},
    {.id = 42, .key = "hallerror", .label = QM_TRANSLATE_NOOP("DisplayItems", "Hallsensor Fehler"), .control = CK::Indicator,
     .group = IG::Drive, .regs = {58, 82}, .maskA = 0x4000, .maskB = 0x4000,
     .display = DK::Indicator, .help = {kHelpDriveError}},
    {.id = 43, .key = "jam", .label = QM_TRANSLATE_NOOP("DisplayItems", "Staufehler:"), .control = CK::Indicator,
     .group = IG::Zone, .regs = {108, 188}, .display = DK::Indicator,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Rot: Stau in der Zone. Mit \"Löschen\" zurücksetzen.")}},
    {.id = 44, .label = QM_TRANSLATE_NOOP("DisplayItems", "Netzwerk IP:"), .control = CK::Frame},
    {.id = 45, .key = "network", .label = QM_TRANSLATE_NOOP("DisplayItems", "Netzwerk IP:"), .control = CK::Edit,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Netzwerkadresse; Knoten n hat die Adresse a.b.c.(n + 19).")}},
    {.id = 46, .key = "from", .label = QM_TRANSLATE_NOOP("DisplayItems", "Von Knoten #:"), .control = CK::Edit,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Angezeigter Knoten (1 bis 236), Anfang eines Bereichs.")}},
    {.id = 47, .key = "to", .label = QM_TRANSLATE_NOOP("DisplayItems", "Bis Knoten #:"), .control = CK::Edit,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Ende des Knotenbereichs für Operationen über mehrere Module.")}},
    {.id = 48, .key = "serial", .label = QM_TRANSLATE_NOOP("DisplayItems", "Seriennummer:"), .regs = {28, 0}, .auxA = {29},
     .display = DK::SerialNumber, .help = {QM_TRANSLATE_NOOP("DisplayItems", "Seriennummer des Moduls.")}},
    {.id = 49, .key = "firmware", .label = QM_TRANSLATE_NOOP("DisplayItems", "Firmwareversion:"), .regs = {25, 0},
     .auxA = {12, 17}, .display = DK::Firmware, .help = {QM_TRANSLATE_NOOP("DisplayItems", "Firmwareversion des Moduls.")}},
    {.id = 50, .key = "hardware", .label = QM_TRANSLATE_NOOP("DisplayItems", "Hardwareversion:"), .regs = {17, 0},
     .auxA = {6, 28, 29, 511}, .display = DK::Hardware,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Hardwareversion und Ausführung des Moduls.")}},
    {.id = 51, .key = "blink", .label = QM_TRANSLATE_NOOP("DisplayItems", "Blink & Wink"), .control = CK::Button, .regs = {19, 0},
     .maskA = 0x0001, .maskB = 0x0001, .display = DK::Blink,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Optische Modullokalisierung ein- / ausschalten.")}},
    {.id = 52, .label = QM_TRANSLATE_NOOP("DisplayItems", "Einlesen"), .control = CK::Button,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Den Knoten aus \"Von Knoten #\" einlesen.")}},
    {.id = 53, .label = QM_TRANSLATE_NOOP("DisplayItems", "Schließen"), .control = CK::Button},
    {.id = 54, .label = QM_TRANSLATE_NOOP("DisplayItems", "+"), .control = CK::Button, .help = {QM_TRANSLATE_NOOP("DisplayItems", "Nächster Knoten.")}},
    {.id = 55, .label = QM_TRANSLATE_NOOP("DisplayItems", "-"), .control = CK::Button, .help = {QM_TRANSLATE_NOOP("DisplayItems", "Vorheriger Knoten.")}},
    {.id = 56, .label = QM_TRANSLATE_NOOP("DisplayItems", "IMAGE"), .control = CK::Button,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Modulbild; ein Klick öffnet die Diagnose.")}},
    {.id = 57, .key = "zonerun", .label = QM_TRANSLATE_NOOP("DisplayItems", "Start"), .control = CK::Button, .group = IG::Zone,
     .regs = {95, 175}, .auxA = {117}, .auxB = {197}, .display = DK::ZoneRun,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Zone zwangsweise laufen lassen (nicht gespeichert).")}},
    {.id = 58, .key = "nomanual", .label = QM_TRANSLATE_NOOP("DisplayItems", "Disable Manual Operations"), .control = CK::CheckBox,
     .group = IG::Zone, .regs = {94, 174}, .maskA = 0x0800, .maskB = 0x0800,
     .display = DK::ZoneOption, .help = {kHelpZoneOption},
     .set = SK::Check},
    {.id = 59, .key = "sensorpins", .label = QM_TRANSLATE_NOOP("DisplayItems", "Nutzung Sens.fehlerpins"), .control = CK::CheckBox,
     .group = IG::Zone, .regs = {496, 496}, .maskA = 0x0010, .maskB = 0x0020,
     .display = DK::SensorPinUse, .help = {QM_TRANSLATE_NOOP("DisplayItems", "Der Sensorfehler-Pin der Zone wird benutzt.")}},
    {.id = 60, .key = "realspeed", .label = QM_TRANSLATE_NOOP("DisplayItems", "Reale Geschwindigkeit:"), .group = IG::Drive,
     .regs = {56, 80}, .auxA = {1, 500}, .auxB = {2, 503}, .display = DK::RealSpeed,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Gemessene Geschwindigkeit."), nullptr, nullptr,
              QM_TRANSLATE_NOOP("DisplayItems", "Gemessene Geschwindigkeit in m/s."), QM_TRANSLATE_NOOP("DisplayItems", "Gemessene Drehzahl in U/min."),
              QM_TRANSLATE_NOOP("DisplayItems", "Gemessene Drehzahl in U/min.")}},
    {.id = 61, .key = "currentlimit", .label = QM_TRANSLATE_NOOP("DisplayItems", "Strombegrenzung:"), .control = CK::Edit,
     .group = IG::Drive, .regs = {41, 65}, .auxA = {490}, .auxB = {492},
     .display = DK::CurrentLimit, .help = {QM_TRANSLATE_NOOP("DisplayItems", "Strombegrenzung in mA, 200 bis 2800.")},
     .set = SK::Typed},
    {.id = 62, .key = "drivemismatch", .label = QM_TRANSLATE_NOOP("DisplayItems", "Drive passt nicht zu Modul"),
     .control = CK::Indicator, .regs = {19, 0}, .maskA = 0x1000, .maskB = 0x1000,
     .display = DK::Indicator, .help = {QM_TRANSLATE_NOOP("DisplayItems", "Rot: ein Antrieb passt nicht zum Modul.")}},
    {.id = 63, .key = "modulemismatch", .label = QM_TRANSLATE_NOOP("DisplayItems", "Modul passt nicht zu Modul"),
     .control = CK::Indicator, .regs = {19, 0}, .maskA = 0x2000, .maskB = 0x2000,
     .display = DK::Indicator, .help = {QM_TRANSLATE_NOOP("DisplayItems", "Rot: das Modul passt nicht zum Modul.")}},
    {.id = 64, .label = QM_TRANSLATE_NOOP("DisplayItems", "Vorgelagerte Zone"), .labelB = QM_TRANSLATE_NOOP("DisplayItems", "Nachgelagerte Zone"),
     .control = CK::Frame, .group = IG::Zone},
    {.id = 65, .label = QM_TRANSLATE_NOOP("DisplayItems", "Linker Antrieb"), .labelB = QM_TRANSLATE_NOOP("DisplayItems", "Rechter Antrieb"), .control = CK::Frame,
     .group = IG::Drive},
    {.id = 66, .label = QM_TRANSLATE_NOOP("DisplayItems", "Einstellungen"), .control = CK::Frame},
    {.id = 67, .label = QM_TRANSLATE_NOOP("DisplayItems", "Erweiterte Funktionen"), .control = CK::Frame},
    {.id = 68, .label = QM_TRANSLATE_NOOP("DisplayItems", "Set Alle"), .control = CK::Button,
     .help = {QM_TRANSLATE_NOOP("DisplayItems", "Die Einstellungen dieses Moduls auf alle Module des Bereichs übertragen.")}},
}};
// clang-format on

const char* DisplayItem::LabelFor(Side side, uint16_t moduleType) const {
  if (moduleType == kTypeValves && labelType4 != nullptr) return labelType4;
  if (moduleType == kTypeTransport && labelType3 != nullptr) return labelType3;
  if (side == Side::B && labelB != nullptr) return labelB;
  return label;
}

const char* DisplayItem::HelpFor(HelpCase helpCase) const {
  const char* text = help[static_cast<size_t>(helpCase)];
  if (text != nullptr) return text;
  return help[0] != nullptr ? help[0] : "";
}

int DisplayItem::RegisterFor(Side side, uint16_t moduleType) const {
  if (moduleType == kTypeTransport && regsType3.Present()) return regsType3.Of(side);
  if (moduleType == kTypeValves && regsType4.Present()) return regsType4.Of(side);
  return regs.Of(side);
}

const DisplayItem& DisplayItemById(int id) {
  if (id < 0 || id >= kDisplayItemCount) return kDisplayItems[0];
  return kDisplayItems[static_cast<size_t>(id)];
}

const DisplayItem* DisplayItemByKey(std::string_view key) {
  if (key.empty()) return nullptr;
  for (const DisplayItem& item : kDisplayItems) {
    if (key == item.key) return &item;
  }
  return nullptr;
}

const char* SideKey(ItemGroup group, Side side) {
  switch (group) {
    case ItemGroup::Drive:
      return side == Side::A ? "left" : "right";
    case ItemGroup::Zone:
      return side == Side::A ? "upstream" : "downstream";
    case ItemGroup::Module:
      return "";
  }
  return "";
}

std::string UnitTextOf(const DisplayItem& item, Side side, const ImageView& image) {
  const bool valves = image.ModuleType() == kTypeValves;
  switch (item.display) {
    case DK::Speed:
      if (valves) return "";
      if (const auto unit = SpeedUnitOf(side, image)) return SpeedUnitText(*unit);
      return "";
    case DK::RealSpeed: {
      const uint8_t selector = SpeedUnitSelector(side, image);
      return selector == 0 ? "m/s" : selector == 1 ? "U/min" : "";
    }
    case DK::Ramp:
      if (valves) return "";
      if (const auto unit = RampUnitOf(side, image)) return RampUnitText(*unit);
      return "";
    case DK::Seconds:
      return "s";
    case DK::ZoneCurrent:
      return "A";
    case DK::Milliamperes:
    case DK::CurrentLimit:
      return "mA";
    case DK::DriveTemperature:
    case DK::ModuleTemperature:
      return valves ? "" : "°C";
    case DK::Number:
      return valves ? "" : "min";
    default:
      return "";
  }
}

// ---- Layout -----------------------------------------------------------------------------

int LayoutCode(uint8_t family, uint16_t moduleType, uint16_t zoneA, uint16_t zoneB) {
  int code;
  if (family == kFamilyIo) {
    code = 12;
  } else if ((zoneA == 1 && zoneB != 1) || (zoneA == 2 && zoneB != 2)) {
    code = 10;
  } else if (zoneA == 3 && zoneB == 0) {
    code = 4;
  } else if (zoneA == 0 && zoneB == 3) {
    code = 5;
  } else if (zoneA == 4 && zoneB == 0) {
    code = 6;
  } else if (zoneA == 0 && zoneB == 4) {
    code = 7;
  } else if (zoneA == 0 && zoneB == 0) {
    code = 10;
  } else if (zoneA == 1 || zoneA == 2) {
    code = 1;
  } else {
    code = 10;
  }
  if (moduleType == kTypeTransport) code = 10;
  if (family == kFamilyDriveController) code = 172;
  return code;
}

int LayoutCode(const ImageView& image) {
  return LayoutCode(image.Family(), image.ModuleType(), image[90], image[170]);
}

Layout DecideLayout(const ImageView& image, bool plcProgramNamed) {
  Layout layout;
  layout.code = LayoutCode(image);
  layout.diagnosticLogButton = DiagnosticLogAvailable(image.Family(), image[25]);
  const auto hideParts = [&layout](ScreenView view) {
    layout.view = view;
    layout.drive = {false, false};
    layout.zone = {false, false};
  };
  if (image.Family() == kFamilyIo) {
    hideParts(ScreenView::IoModule);
  } else if (image.Family() == kFamilyDriveController) {
    hideParts(ScreenView::DriveController);
  } else if (image.ModuleType() == kTypeNoDrives) {
    hideParts(ScreenView::NoDrives);
  } else if (image.ModuleType() == kTypePlcIo && plcProgramNamed) {
    hideParts(ScreenView::Plc);
  } else {
    layout.zone = {image[90] != 0, image[170] != 0};
  }
  return layout;
}

bool ItemShown(const DisplayItem& item, Side side, const ImageView& image, const Layout& layout) {
  const auto s = static_cast<size_t>(side);
  if (item.group == ItemGroup::Module) {
    // Module items have one control (the A one), frames included.
    return side == Side::A;
  }
  if (item.group == ItemGroup::Drive && !layout.drive[s]) return false;
  if (item.group == ItemGroup::Zone && !layout.zone[s]) return false;
  switch (item.id) {
    case item::kRealSpeed:
      return image.Family() == kFamily09;
    case item::kCurrentLimit:
      return image[side == Side::A ? item.auxA[0] : item.auxB[0]] == kCodeUserCurrentLimit;
    case item::kNotFullStop:
    case item::kInduct:
    case item::kLowCurrent:
    case item::kHighCurrent:
      return image.ModuleType() == kTypeTransport;
    default:
      return true;
  }
}

// ---- Per-side helpers -------------------------------------------------------------------

DriveTypeRegisters DriveTypeRegistersOf(Side side, const ImageView& image) {
  const auto& aux =
      side == Side::A ? kDisplayItems[item::kDriveType].auxA : kDisplayItems[item::kDriveType].auxB;
  return DriveTypeRegisters{image[aux[0]], image[aux[1]], image[aux[2]], image[aux[3]],
                            image[aux[4]]};
}

std::optional<int> RecognisedDrive(Side side, const ImageView& image) {
  return RecogniseDriveType(DriveTypeRegistersOf(side, image));
}

uint8_t SpeedUnitSelector(Side side, const ImageView& image) {
  return static_cast<uint8_t>(image.Raw(side == Side::A ? 1 : 2) & 0xFF);
}

namespace {
bool ForkaneServo(Side side, const ImageView& image) {
  return RecognisedDrive(side, image) == kDriveForkaneServo;
}
}  // namespace

std::optional<SpeedUnit> SpeedUnitOf(Side side, const ImageView& image) {
  return SpeedUnitFor(image.Family(), SpeedUnitSelector(side, image), ForkaneServo(side, image));
}

std::optional<RampUnit> RampUnitOf(Side side, const ImageView& image) {
  return RampUnitFor(image.Family(), SpeedUnitSelector(side, image),
                     image[side == Side::A ? 46 : 70]);
}

HelpCase HelpCaseFor(Side side, const ImageView& image) {
  if (image.ModuleType() == kTypeValves) return HelpCase::Type4;
  if (image.ModuleType() == kTypeTransport) return HelpCase::Type3;
  if (image.Family() == kFamily09) {
    if (ForkaneServo(side, image)) return HelpCase::Forkane;
    const uint8_t selector = SpeedUnitSelector(side, image);
    if (selector == 0) return HelpCase::Metres;
    if (selector == 1) return HelpCase::Rpm;
  }
  return HelpCase::Ordinary;
}

// ---- Display rules ----------------------------------------------------------------------

std::string FirmwareText(uint16_t reg25, uint16_t reg12, uint8_t family) {
  const int major = reg25 >> 8;
  const int minor = reg25 & 0xFF;
  if (family == kFamily09 || family == kFamilyIo) {
    return base::Format("%d.%02d.%d", major - 100, minor, reg12 >> 8);
  }
  if (family == kFamily03) return base::Format("%d.%02d", major - 100, minor);
  return base::Format("%d.%02d", major, minor);
}

std::string HardwareText(uint16_t reg17, uint16_t reg6, uint16_t reg511, uint32_t serial) {
  const int family = reg17 >> 8;
  int revision = reg17 & 0xFF;
  const int variantNibble = reg6 & 0x0F;
  const int variantByte = reg6 & 0xFF;

  std::string suffixes;
  if (family == kFamilyIo) suffixes += ", IO";
  if (family == kFamily09) {
    suffixes += variantNibble == 5 ? ", Ovt Ux" : variantNibble == 6 ? ", Ux2" : ", Ux";
  }
  if (variantByte == 0x97) {
    suffixes += ", Zentrik-24-00";
    if (reg511 & 0x0100) suffixes += ", Zentrik-24-50";
  }
  if (variantByte == 0xC7) suffixes += ", Kelvo-8-24-00";

  constexpr uint32_t kSerialRev3 = 137101, kSerialRev4 = 208560, kSerialRev5 = 222562,
                     kSerialCurrent = 267307;
  if (family == 0 && revision == 2) revision = 1;
  int offset;
  if (family != 0) {
    offset = 1;
  } else if (variantNibble == 4) {
    offset = 0;
  } else if (reg6 == 0) {
    offset = 1;
  } else if (serial >= kSerialCurrent) {
    offset = 1;
  } else {
    offset = 2;
  }
  int number = revision + offset;
  if (family == 0) {
    if (serial >= kSerialRev3 && serial < kSerialRev4) {
      number = 3;
    } else if (serial >= kSerialRev4 && serial < kSerialRev5) {
      number = 4;
    } else if (serial >= kSerialRev5 && serial < kSerialCurrent) {
      number = 5;
    }
    if (serial >= kSerialRev3 && variantNibble == 2) suffixes += ", HTF";
  }
  return base::Format("%d%s", number, suffixes.c_str());
}

uint32_t SerialNumber(const ImageView& image) {
  return static_cast<uint32_t>(image[29]) * 65536u + image[28];
}

std::string DriveTemperatureText(uint16_t reg57, uint8_t family, uint16_t moduleType) {
  if (moduleType == kTypeValves) return kNotUsed;
  const int celsius = reg57 >> 8;
  if (family == kFamily09 && celsius < 40) return "< 40";
  return base::Format("%d", celsius);
}

std::string ModuleTemperatureText(uint16_t reg57, uint16_t moduleType) {
  if (moduleType == kTypeValves) return kNotUsed;
  const int byte = reg57 & 0xFF;
  if (byte > 128) return base::Format("-%d", 256 - byte);
  return base::Format("%d", byte);
}

IndicatorColour IndicatorColourOf(uint16_t masked, bool maxTorque) {
  if (masked == 0) return IndicatorColour::Green;
  return maxTorque ? IndicatorColour::Yellow : IndicatorColour::Red;
}

int ZpaEntryFor(uint16_t mode, uint16_t gapTimer, int shown) {
  if (mode == 1) return 0;
  if (mode == 2) return (gapTimer != 0 || shown == 2) ? 2 : 1;
  return -1;
}

bool GapFieldEnabled(int zpaEntry, uint16_t moduleType) {
  return zpaEntry == 2 || moduleType == kTypeTransport;
}

bool DirectionFlip(uint16_t reg96, uint16_t reg6) {
  const bool flip = reg96 == 0;
  return (reg6 & 0x0F) == 4 ? !flip : flip;
}

uint16_t DirectionRegisterValue(int entry, uint16_t reg96, uint16_t reg6) {
  const int value = entry == 0 ? 0 : 1;
  return static_cast<uint16_t>(DirectionFlip(reg96, reg6) ? 1 - value : value);
}

int DirectionEntryFor(uint16_t reg48, uint16_t reg96, uint16_t reg6) {
  if (reg48 > 1) return -1;
  return DirectionFlip(reg96, reg6) ? 1 - reg48 : reg48;
}

bool LinkIndicatorsShown(uint16_t reg290) {
  return reg290 != 0 && reg290 != 0xFFFF;
}

std::string CableDiagnosisText(uint16_t reg291, base::Language language) {
  const int state = reg291 >> 8;
  const int metres = reg291 & 0xFF;
  if (state == 1) {
    return base::Format(
        base::Translate(language, "NodeScreen",
                        QM_TRANSLATE_NOOP("NodeScreen", "Unterbrechung %d Meter vom Modul.")),
        metres);
  }
  if (state == 2) {
    return base::Format(
        base::Translate(language, "NodeScreen",
                        QM_TRANSLATE_NOOP("NodeScreen", "Kurzschluss %d Meter vom Modul.")),
        metres);
  }
  return std::string();
}

std::string PlcStatusText(uint8_t family, uint16_t reg12, uint16_t reg254, uint16_t reg279,
                          std::string_view programName, base::Language language) {
  auto shown = [language](const char* german) {
    return base::Translate(language, "NodeScreen", german);
  };
  const char* waiting = shown(QM_TRANSLATE_NOOP(
      "NodeScreen", "Das Modul wartet auf Verbindung und Konfiguration von der SPS."));
  const char* waitingDrives = shown(QM_TRANSLATE_NOOP(
      "NodeScreen",
      " <b>Die Antriebe können in diesem Zustand nicht gestartet werden. <\\b>(Einzige "
      "Ausnahme: Die Antriebe können manuell über die Schalter in der Quillmar "
      "Konfigurationssoftware gestartet werden). Es muss eine Autokonfiguration durchgeführt "
      "werden oder die Konfiguration muss von einem bestehenden Backupfile geladen werden."));
  if ((reg12 & 0x0001) != 0 && reg254 == 0) {
    if (family == kFamilyDriveController || family == kFamilyIo) return waiting;
    return std::string(waiting) + waitingDrives;
  }
  std::string state;
  if (reg279 == 1) {
    state = shown(QM_TRANSLATE_NOOP(
        "NodeScreen", "Auf Grund eines Fehlers läuft das interne Palimbroske Programm nicht."));
  } else if (reg279 == 2) {
    state = shown(QM_TRANSLATE_NOOP("NodeScreen", "Ein internes Palimbroske Programm läuft."));
  }
  if (state.empty() || programName.empty()) return state;
  std::string_view name = programName;
  constexpr std::string_view kPrefix = "PLCDATA_";
  constexpr std::string_view kEnding = ".bin";
  if (name.starts_with(kPrefix)) name.remove_prefix(kPrefix.size());
  if (name.ends_with(kEnding)) name.remove_suffix(kEnding.size());
  return base::Format("%s (%s)", state.c_str(), std::string(name).c_str());
}

bool DiagnosticLogAvailable(uint8_t family, uint16_t reg25) {
  return (family == kFamily03 || family == kFamily09 || family == kFamilyIo) && reg25 >= 26638;
}

std::string CounterText(uint16_t reg) {
  return base::Format("%i", reg);
}

// ---- ShowItem ---------------------------------------------------------------------------

namespace {

template <size_t N>
std::string EntryText(const std::array<const char*, N>& entries, int index) {
  return index >= 0 && static_cast<size_t>(index) < N ? entries[static_cast<size_t>(index)] : "";
}

ItemView ShowDriveType(Side side, const ImageView& image, const ShowState& state, int reg) {
  ItemView view;
  const auto s = static_cast<size_t>(side);
  if (image.ModuleType() == kTypeValves) {
    const uint16_t valve = image[reg];
    if (valve < 2) {
      view.listIndex = valve;
      view.text = DriveListEntries(DriveListKind::Valves)[valve].text;
    }
    return view;
  }
  const std::optional<int> row = RecognisedDrive(side, image);
  if (!row) return view;
  view.text = kDriveCatalogue[static_cast<size_t>(*row)].NameFor(image.Family() == kFamily09);
  const std::vector<DriveListEntry> entries = DriveListEntries(state.driveList[s]);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].catalogueIndex == *row) view.listIndex = static_cast<int>(i);
  }
  return view;
}

}  // namespace

ItemView ShowItem(const DisplayItem& item, Side side, const ImageView& image,
                  const ShowState& state) {
  ItemView view;
  const uint16_t type = image.ModuleType();
  const int reg = item.RegisterFor(side, type);
  const uint16_t value = reg != 0 ? image[reg] : 0;
  const uint16_t masked = static_cast<uint16_t>(value & item.MaskOf(side));
  const auto s = static_cast<size_t>(side);

  switch (item.display) {
    case DK::None:
      break;
    case DK::DriveType:
      return ShowDriveType(side, image, state, reg);
    case DK::BrakeMethod:
      view.listIndex = value < kBrakeMethods.size() ? value : -1;
      view.text = EntryText(kBrakeMethods, view.listIndex);
      break;
    case DK::ClosedLoop:
      view.checked = value == 1;
      break;
    case DK::Speed:
      if (type == kTypeValves) {
        view.text = kNotUsed;
      } else if (const auto unit = SpeedUnitOf(side, image)) {
        view.text = SpeedText(value, *unit);
      }
      break;
    case DK::Direction:
      if (type == kTypeValves) {
        view.listIndex = value < 2 ? value : -1;
        view.text = EntryText(kValveActions, view.listIndex);
      } else {
        view.listIndex = DirectionEntryFor(value, image[96], image.Variant());
        view.text = EntryText(kDirections, view.listIndex);
      }
      break;
    case DK::Ramp:
      if (type == kTypeValves) {
        view.text = kNotUsed;
      } else if (const auto unit = RampUnitOf(side, image)) {
        view.text = RampText(value, *unit);
      } else {
        view.text = base::Format("%d", value);
      }
      break;
    case DK::Milliamperes:
    case DK::Number:
    case DK::Counter:
    case DK::CurrentLimit:
      view.text = base::Format("%d", masked);
      break;
    case DK::DriveTemperature:
      view.text = DriveTemperatureText(value, image.Family(), type);
      break;
    case DK::ModuleTemperature:
      view.text = ModuleTemperatureText(value, type);
      break;
    case DK::Indicator:
      view.masked = reg != 0 ? masked : 0;
      view.checked = view.masked != 0;
      view.colour = IndicatorColourOf(view.masked, item.id == item::kMaxTorque);
      break;
    case DK::ZpaMode: {
      const int gapReg = side == Side::A ? item.auxA[0] : item.auxB[0];
      view.listIndex = ZpaEntryFor(value, image[gapReg], state.zpaEntry[s]);
      view.text = EntryText(kZpaModes, view.listIndex);
      break;
    }
    case DK::Seconds:
      view.text = SecondsText(value);
      if (item.id == item::kGapTimer) {
        const DisplayItem& zpa = kDisplayItems[item::kZpaMode];
        const int entry = ZpaEntryFor(image[zpa.regs.Of(side)], value, state.zpaEntry[s]);
        view.enabled = GapFieldEnabled(entry, type);
      }
      break;
    case DK::ZoneCurrent:
      view.text = ZoneCurrentText(value, item.MaskOf(side) == 0xFF00);
      break;
    case DK::ZoneOption:
      if (type == kTypeTransport && item.regsType3.Present()) {
        view.checked = value != 0;
      } else {
        view.checked = (masked != 0) != item.inverted;
      }
      break;
    case DK::Accumulate:
      view.checked = value >= 0x100;
      break;
    case DK::DriveRun:
    case DK::ZoneRun:
    case DK::Blink:
    case DK::SensorPinUse:
      view.checked = masked != 0;
      break;
    case DK::SerialNumber:
      view.text = base::Format("%u", SerialNumber(image));
      break;
    case DK::Firmware:
      view.text = FirmwareText(image[25], image[12], image.Family());
      break;
    case DK::Hardware:
      view.text = HardwareText(image[17], image.Variant(), image[511], SerialNumber(image));
      break;
    case DK::RealSpeed: {
      if (image.Family() != kFamily09) break;
      const uint8_t selector = SpeedUnitSelector(side, image);
      const int slot = side == Side::A ? 1 : 2;
      const int gearReg = side == Side::A ? item.auxA[1] : item.auxB[1];
      // In RPM the module's own register of the side is used, without the side exchange.
      const uint16_t speed = selector == 1 ? image.Raw(side == Side::A ? 56 : 80) : value;
      view.text =
          RealSpeedText(speed, selector, image[gearReg], static_cast<uint8_t>(image.Raw(slot) >> 8),
                        ForkaneServo(side, image));
      break;
    }
  }
  return view;
}

// ---- Window, nodes, connection ----------------------------------------------------------

std::string BaseWindowTitle(std::string_view programName, std::string_view dialogTitle) {
  std::string title(programName);
  if (!dialogTitle.empty()) {
    title += ' ';
    title += dialogTitle;
  }
  title += " (Deutsch)";
  return title;
}

std::string ConnectedWindowTitle(std::string_view baseTitle, std::string_view address) {
  return std::string(baseTitle) +
         "                  Angezeigte Moduladresse: " + std::string(address);
}

std::string ConnectFailureText(std::string_view node, std::string_view address) {
  return ReadPingFailureText(node, address) + ".";
}

std::string ReadPingFailureText(std::string_view node, std::string_view address) {
  return base::Format("Verbindung zu Modul IP %s (IP: \"%s\") nicht möglich",
                      std::string(node).c_str(), std::string(address).c_str());
}

}  // namespace params
