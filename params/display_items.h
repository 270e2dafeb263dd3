#pragma once
// The node screen's display items as one static table, and the rules that turn a register
// image into what the screen shows. The screen, the CLI and the tests all read this table:
// an item is a label, a control kind, registers, a mask, a divisor, a display kind and help
// texts, not a code path of its own.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/language.h"
#include "params/drive_catalogue.h"
#include "params/image_view.h"
#include "params/register_plan.h"
#include "params/units.h"

namespace params {

inline constexpr int kDisplayItemCount = 69;

enum class ControlKind { Value, Edit, List, CheckBox, Indicator, Counter, Button, Frame };
enum class ItemGroup { Module, Zone, Drive };

// Which formatting rule an item uses.
enum class DisplayKind {
  None,               // frames, plain buttons, address fields: nothing read
  DriveType,          // recognised catalogue row (list)
  BrakeMethod,        // list index
  ClosedLoop,         // check box, 1 = on
  Speed,              // unit of the drive (units.h)
  Direction,          // CW / CCW with the direction exchange; valve action on type 4
  Ramp,               // seconds, pulses or mm
  Milliamperes,       // "%d" mA
  Number,             // "%d" of the masked register (operating time)
  DriveTemperature,   // high byte, unsigned; "< 40" below 40 on family 0x09
  ModuleTemperature,  // low byte, signed
  Indicator,          // masked bits: clear green, set red (max torque yellow)
  Counter,            // "%d"
  ZpaMode,            // list entry from the mode and the GAP timer
  Seconds,            // ms shown in s
  ZoneCurrent,        // one byte in 0.1 A
  ZoneOption,         // one bit of the zone option word
  Accumulate,         // pressed while bit 8 of 117 / 197 is set
  DriveRun,           // pressed while 49 / 73 is set (zone forced run on type 4)
  ZoneRun,            // pressed while 95 / 175 is set
  SerialNumber,       // 29 × 65536 + 28
  Firmware,           // register 25 with 12 and 17
  Hardware,           // register 17 with 6, 28..29 and 511
  Blink,              // pressed while 19 bit 0 is set
  SensorPinUse,       // one bit of 496
  RealSpeed,          // family 0x09 only
  CurrentLimit,       // "%d" mA, only for drive code 26
};

struct RegisterPair {
  int a = 0;  // left drive / upstream zone (or the module's register)
  int b = 0;  // right drive / downstream zone
  bool Present() const { return a != 0 || b != 0; }
  int Of(Side side) const { return side == Side::A ? a : b; }
};

// How the node screen sets an item: nothing, a typed value, two typed values sharing a register
// (the zone currents), a list entry, a check box.
enum class SetKind { None, Typed, TypedPair, List, Check };

// Registers the screen reads from the module just before it makes an item's plan: the item's
// auxiliary registers of that side.
enum class PreRead {
  None,
  DirectionExchange,  // both auxiliary registers (96, then 6), except for the valve action
  GapForGapTrain,     // the first (the zone's GAP timer) when the entry is "Blocklückenabzug"
};

// Which modules SetAll copies an item to, by the type of the module shown.
enum class SetAllScope { None, AnyModule, TransportOnly, TransportOrValves, NotTransport };

// The cases an item's help text distinguishes.
enum class HelpCase { Ordinary, Type4, Type3, Metres, Rpm, Forkane };

struct DisplayItem {
  int id = 0;
  const char* key = "";              // short English name for scripts ("speed", "accel" …)
  const char* label = "";            // German label
  const char* labelB = nullptr;      // label of the B control where it differs
  const char* labelType4 = nullptr;  // label on module type 4 where it differs
  const char* labelType3 = nullptr;  // label on module type 3 where it differs
  ControlKind control = ControlKind::Value;
  ItemGroup group = ItemGroup::Module;
  RegisterPair regs{};        // ordinary modules
  RegisterPair regsType3{};   // module type 3, when it differs
  RegisterPair regsType4{};   // module type 4, when it differs
  std::array<int, 5> auxA{};  // auxiliary registers of side A (0 = none); image
  std::array<int, 5> auxB{};  //   slots 1 / 2 are the speed-unit selectors
  uint16_t maskA = 0xFFFF;    // 0xFFFF = the whole word
  uint16_t maskB = 0xFFFF;
  int divisor = 1;  // default divisor of the shown value
  DisplayKind display = DisplayKind::None;
  bool inverted = false;              // a set bit shows as an unticked box
  std::array<const char*, 6> help{};  // by HelpCase; nullptr = the ordinary text
  SetKind set = SetKind::None;
  PreRead preRead = PreRead::None;
  SetAllScope setAll = SetAllScope::None;
  int setAllOnTransport = -1;  // the item SetAll writes instead on module type 3 (-1: itself)

  const char* LabelFor(Side side, uint16_t moduleType) const;
  const char* HelpFor(HelpCase helpCase) const;
  // The register of `side` on a module of `moduleType` (type-3 / type-4 pair when present).
  int RegisterFor(Side side, uint16_t moduleType) const;
  uint16_t MaskOf(Side side) const { return side == Side::A ? maskA : maskB; }
  bool HasSides() const { return group != ItemGroup::Module; }
  bool Settable() const { return set != SetKind::None; }
  bool HasSetAll() const { return setAll != SetAllScope::None; }
};

extern const std::array<DisplayItem, kDisplayItemCount> kDisplayItems;

// The item with id 0..68 (an id outside that range gives item 0).
const DisplayItem& DisplayItemById(int id);
// The item whose key is `key`, or nullptr.
const DisplayItem* DisplayItemByKey(std::string_view key);

// The register of item `id` on `side` of an ordinary module, as the table holds it.
inline int RegisterOf(int id, Side side);
// Auxiliary register `index` of item `id` on `side`.
inline int AuxRegisterOf(int id, Side side, size_t index);

// Item ids the screen and the edit rules refer to.
namespace item {
inline constexpr int kDriveType = 0, kBrake = 1, kClosedLoop = 2, kSpeed = 3, kDirection = 4,
                     kAcceleration = 5, kDeceleration = 6, kCurrent = 7, kOperatingTime = 8,
                     kDriveTemperature = 9, kModuleTemperature = 10, kSensorDirt = 11,
                     kSensorDirtCounter = 12, kOverheat = 13, kMaxTorque = 16, kDriveLifeError = 21,
                     kDriveErrorCounter = 22, kZpaMode = 23, kGapTimer = 24, kTZoneAccept = 25,
                     kJamClear = 26, kJamCounter = 27, kNotFullStop = 28, kInduct = 29,
                     kLowCurrent = 30, kHighCurrent = 31, kDynamicReleaseTermination = 32,
                     kAccumulate = 38, kDriveRun = 39, kBoxCounter = 40, kSensorConnection = 41,
                     kHallError = 42, kJam = 43, kSerialNumber = 48, kFirmware = 49, kHardware = 50,
                     kBlink = 51, kPicture = 56, kZoneRun = 57, kManualOperations = 58,
                     kSensorPinUse = 59, kRealSpeed = 60, kCurrentLimit = 61, kDriveMismatch = 62,
                     kModuleMismatch = 63, kSetAll = 68;
}  // namespace item

inline int RegisterOf(int id, Side side) {
  return DisplayItemById(id).regs.Of(side);
}
inline int AuxRegisterOf(int id, Side side, size_t index) {
  const DisplayItem& row = DisplayItemById(id);
  return (side == Side::A ? row.auxA : row.auxB).at(index);
}

// The side of a sided item as scripts name it: "left" / "right" for drive items, "upstream" /
// "downstream" for zone items; "" for module items.
const char* SideKey(ItemGroup group, Side side);
// The unit the item's value is shown in on `side` ("%", "m/s", "U/min", "s", "Pulse", "mm",
// "mA", "A", "°C", "min"); "" for items without a unit.
std::string UnitTextOf(const DisplayItem& item, Side side, const ImageView& image);

// ---- Module kinds and layout ---------------------------------------------------------------

inline constexpr uint8_t kFamilyStandard = 0x00;
inline constexpr uint8_t kFamilyDriveController = 0x02;
inline constexpr uint8_t kFamily03 = 0x03;
inline constexpr uint8_t kFamily09 = 0x09;
inline constexpr uint8_t kFamilyIo = 0x0C;
inline constexpr uint16_t kTypePlcIo = 2;
inline constexpr uint16_t kTypeTransport = 3;
inline constexpr uint16_t kTypeValves = 4;
inline constexpr uint16_t kTypeNoDrives = 10;

// The layout code from family, module type and the zone uses A (90) and B (170):
// 12 I/O module; 1 both zones in use alike (1 or 2); 4 A = 3, B = 0; 5 A = 0, B = 3;
// 6 A = 4, B = 0; 7 A = 0, B = 4; 10 anything else; type 3 makes it 10, family 0x02 172.
int LayoutCode(uint8_t family, uint16_t moduleType, uint16_t zoneA, uint16_t zoneB);
int LayoutCode(const ImageView& image);

enum class ScreenView {
  Drives,           // drive and zone parts
  IoModule,         // family 0x0C
  DriveController,  // family 0x02: drive and zone parts hidden
  NoDrives,         // module type 10: drive and zone parts hidden
  Plc,              // module type 2 with a named internal PLC program
};

struct Layout {
  int code = 10;
  ScreenView view = ScreenView::Drives;
  std::array<bool, 2> drive{true, true};  // left, right drive parts shown
  std::array<bool, 2> zone{true, true};   // upstream, downstream zone parts shown
  bool diagnosticLogButton = false;
};

// The layout of a full read. `plcProgramNamed`: the module's internal PLC program name is
// known (read during the full read).
Layout DecideLayout(const ImageView& image, bool plcProgramNamed);

// Whether the screen shows `item` on `side` under `layout` (drive and zone parts, the
// real speed on family 0x09 only, the current limit only for drive code 26, the type-3 zone
// times only on type 3).
bool ItemShown(const DisplayItem& item, Side side, const ImageView& image, const Layout& layout);

HelpCase HelpCaseFor(Side side, const ImageView& image);

// ---- Display rules ----------------------------------------------------------------------

inline constexpr const char* kNotUsed = "Not Used";

enum class IndicatorColour { Green, Red, Yellow };

// What one control of an item shows.
struct ItemView {
  std::string text;      // the shown text (lists: the entry text; empty when none)
  int listIndex = -1;    // lists: the selected entry, -1 none
  bool checked = false;  // check boxes ticked, buttons pressed
  uint16_t masked = 0;   // indicators: the masked value (redraw only when it changes)
  IndicatorColour colour = IndicatorColour::Green;
  bool enabled = true;  // the GAP timer field is enabled only for GAP train and type 3
};

// State the screen keeps between passes that changes what a list shows.
struct ShowState {
  std::array<DriveListKind, 2> driveList{DriveListKind::WholeCatalogue,
                                         DriveListKind::WholeCatalogue};
  std::array<int, 2> zpaEntry{-1, -1};  // the ZPA entry the user chose on this module, -1 none
};

ItemView ShowItem(const DisplayItem& item, Side side, const ImageView& image,
                  const ShowState& state = {});

// The recognised drive type of a side (catalogue index), from 45, 41, 42, 59, 490 /
// 69, 65, 66, 83, 492.
std::optional<int> RecognisedDrive(Side side, const ImageView& image);
DriveTypeRegisters DriveTypeRegistersOf(Side side, const ImageView& image);
// The side's speed unit (nullopt: selector other than 0 / 1 on family 0x09).
std::optional<SpeedUnit> SpeedUnitOf(Side side, const ImageView& image);
std::optional<RampUnit> RampUnitOf(Side side, const ImageView& image);
uint8_t SpeedUnitSelector(Side side, const ImageView& image);  // low byte of slot 1 / 2

// "%d.%02d.%d" (family 0x09 / 0x0C, major − 100, third part from 12's high byte), "%d.%02d"
// (family 0x03, major − 100) or "%d.%02d".
std::string FirmwareText(uint16_t reg25, uint16_t reg12, uint8_t family);
// "%d%s" of the revision number and the family and device suffixes.
std::string HardwareText(uint16_t reg17, uint16_t reg6, uint16_t reg511, uint32_t serial);
uint32_t SerialNumber(const ImageView& image);  // 29 × 65536 + 28
std::string DriveTemperatureText(uint16_t reg57, uint8_t family, uint16_t moduleType);
std::string ModuleTemperatureText(uint16_t reg57, uint16_t moduleType);
IndicatorColour IndicatorColourOf(uint16_t masked, bool maxTorque);

// ZPA list entry from the mode register and the GAP timer; `shown` is the entry shown
// before (a third entry stays while the mode is 2). -1 for a mode other than 1 or 2.
int ZpaEntryFor(uint16_t mode, uint16_t gapTimer, int shown);
bool GapFieldEnabled(int zpaEntry, uint16_t moduleType);

// Direction exchange: on when register 96 reads 0, inverted when the module is mirrored
// (low nibble of register 6 = 4). The same rule sets the flow direction of the module
// picture and the direction a Set All writes on each target.
bool DirectionFlip(uint16_t reg96, uint16_t reg6);
// The register value of direction list entry 0 (CW) / 1 (CCW), and the entry a register
// value shows (the exchange is its own inverse).
uint16_t DirectionRegisterValue(int entry, uint16_t reg96, uint16_t reg6);
int DirectionEntryFor(uint16_t reg48, uint16_t reg96, uint16_t reg6);

// Link port: indicators hidden when 290 is 0 or 0xFFFF; cable diagnosis text from 291 (in
// `language`; the German text is the screen's own).
bool LinkIndicatorsShown(uint16_t reg290);
std::string CableDiagnosisText(uint16_t reg291, base::Language language = base::Language::German);

// The status field's PLC text in `language`. `programName` is the internal program's file name
// as read ("" when unknown); its "PLCDATA_" prefix and ".bin" ending are not shown.
std::string PlcStatusText(uint8_t family, uint16_t reg12, uint16_t reg254, uint16_t reg279,
                          std::string_view programName,
                          base::Language language = base::Language::German);

bool DiagnosticLogAvailable(uint8_t family, uint16_t reg25);

// Counters above the items: "Reconnect Counter:" (286) and "Conn.Resp.TimeOut:" (287).
inline constexpr const char* kReconnectCounterLabel = "Reconnect Counter:";
inline constexpr const char* kResponseTimeoutLabel = "Conn.Resp.TimeOut:";
std::string CounterText(uint16_t reg);  // "%i"

// ---- Window, nodes, connection ----------------------------------------------------------

inline constexpr const char* kDefaultNetKey = "Default Net";
inline constexpr const char* kDefaultNet = "192.168.202.20";
inline constexpr int kNodeAddressOffset = 19;
inline constexpr int NodeHostByte(int node) {
  return node + kNodeAddressOffset;
}
inline constexpr int NodeFromHostByte(int hostByte) {
  return hostByte - kNodeAddressOffset;
}

// The base title: program name, the dialog's title, " (Deutsch)".
std::string BaseWindowTitle(std::string_view programName, std::string_view dialogTitle);
// While connected: the base title + 18 blanks + "Angezeigte Moduladresse: " + address.
std::string ConnectedWindowTitle(std::string_view baseTitle, std::string_view address);

// "Verbindung zu Modul IP %s (IP: \"%s\") nicht möglich." (connect) and the same without the
// final dot (a block read whose ping failed).
std::string ConnectFailureText(std::string_view node, std::string_view address);
std::string ReadPingFailureText(std::string_view node, std::string_view address);

// The German control texts set at start-up.
inline constexpr std::array<const char*, 9> kStartupTexts{
    "Netzwerk IP:",   "Aufstauen",       "Antriebe",
    "Linker Antrieb", "Rechter Antrieb", "Optische Modullokalisierung",
    "Von Knoten #",   "Linker Port",     "Rechter Port"};

// The disconnected state shows the drive-family layout: cached family and register 6.
inline constexpr uint8_t kDisconnectedFamily = 0x09;
inline constexpr uint16_t kDisconnectedVariant = 0x90;

}  // namespace params
