#include "params/display_items.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>
#include <vector>

#include "params/edit_rules.h"
#include "params/field_text.h"
#include "unit/params/plan_steps.h"

namespace params {
namespace {

// A module's register image, filled register by register.
struct Image {
  std::array<uint16_t, kImageWords> words{};
  Image& Set(int reg, uint16_t value) {
    words[static_cast<size_t>(reg)] = value;
    return *this;
  }
  ImageView View() const { return ImageView(words); }
};

using params_test::Steps;
using V = std::vector<std::string>;

TEST(DisplayItems, TableHoldsTheRegistersOfEveryItem) {
  ASSERT_EQ(kDisplayItems.size(), 69u);
  std::set<std::string> keys;
  for (size_t i = 0; i < kDisplayItems.size(); ++i) {
    const DisplayItem& item = kDisplayItems[i];
    EXPECT_EQ(item.id, static_cast<int>(i));
    EXPECT_NE(std::string(item.label), "") << i;
    if (*item.key != '\0') {
      EXPECT_TRUE(keys.insert(item.key).second) << item.key;
    }
    for (int reg : {item.regs.a, item.regs.b, item.regsType3.a, item.regsType3.b, item.regsType4.a,
                    item.regsType4.b}) {
      EXPECT_TRUE(reg >= 0 && reg < kImageWords) << i;
    }
    if (item.display != DisplayKind::None && item.id != item::kDriveLifeError) {
      EXPECT_TRUE(item.regs.Present()) << i;
    }
  }

  struct Expected {
    int id;
    const char* label;
    ControlKind control;
    RegisterPair regs, type3, type4;
    uint16_t maskA;
  };
  using CK = ControlKind;
  const Expected expected[] = {
      {0, "Motor Type:", CK::List, {113, 193}, {}, {}, 0xFFFF},
      {1, "Bremsmodus:", CK::List, {47, 71}, {}, {}, 0xFFFF},
      {2, "Regelung:", CK::CheckBox, {46, 70}, {}, {}, 0xFFFF},
      {3, "Geschwindigkeit:", CK::Edit, {40, 64}, {}, {}, 0xFFFF},
      {4, "Drehrichtung:", CK::List, {48, 72}, {}, {96, 176}, 0xFFFF},
      {5, "Beschleunigung:", CK::Edit, {43, 67}, {}, {}, 0xFFFF},
      {6, "Verzögerung:", CK::Edit, {44, 68}, {}, {}, 0xFFFF},
      {7, "Strom:", CK::Value, {55, 79}, {}, {}, 0xFFFF},
      {8, "Laufzeit:", CK::Value, {53, 77}, {}, {}, 0xFFFF},
      {9, "Antrieb Temperatur:", CK::Value, {57, 81}, {}, {}, 0xFF00},
      {10, "Modul Temperatur:", CK::Value, {57, 81}, {}, {}, 0x00FF},
      {11, "Sensorverschmutzung Fehler:", CK::Indicator, {35, 35}, {}, {}, 0x0001},
      {12, "Fehlerzähler Sensorverschmutzung:", CK::Counter, {282, 283}, {}, {}, 0xFFFF},
      {13, "Übertemperatur", CK::Indicator, {58, 82}, {}, {}, 0x0130},
      {16, "Max. Drehmoment", CK::Indicator, {58, 82}, {}, {}, 0x0200},
      {21, "Motorlebensdauerfehler:", CK::Indicator, {}, {}, {}, 0xFFFF},
      {22, "Motorfehlerzähler:", CK::Counter, {280, 281}, {}, {}, 0xFFFF},
      {23, "ZPA Modus:", CK::List, {91, 171}, {}, {}, 0xFFFF},
      {24, "Start- verzögerung:", CK::Edit, {103, 183}, {}, {}, 0xFFFF},
      {25, "T-Zone Annahmezeit:", CK::Edit, {101, 181}, {100, 180}, {98, 178}, 0xFFFF},
      {26, "Löschen", CK::Button, {}, {}, {}, 0xFFFF},
      {27, "Staufehlerzähler:", CK::Counter, {284, 285}, {}, {}, 0xFFFF},
      {28, "Not full stop time:", CK::Edit, {101, 181}, {}, {}, 0xFFFF},
      {29, "Induct time:", CK::Edit, {99, 179}, {}, {}, 0xFFFF},
      {30, "Low Current:", CK::Edit, {102, 182}, {}, {}, 0x00FF},
      {31, "High Current:", CK::Edit, {102, 182}, {}, {}, 0xFF00},
      {32, "Dynamic Release Termination", CK::CheckBox, {94, 174}, {112, 192}, {}, 0x0008},
      {33, "Disable Sensor Jam Auto Clear", CK::CheckBox, {94, 174}, {}, {}, 0x0001},
      {38, "Aufstauen", CK::Button, {117, 197}, {}, {}, 0xFF00},
      {39, "Forced Run", CK::Button, {49, 73}, {}, {95, 175}, 0xFFFF},
      {40, "Behälterzähler:", CK::Counter, {106, 186}, {}, {}, 0xFFFF},
      {41, "Sensorverbindungsfehler:", CK::Indicator, {36, 36}, {}, {}, 0x0001},
      {43, "Staufehler:", CK::Indicator, {108, 188}, {}, {}, 0xFFFF},
      {44, "Netzwerk IP:", CK::Frame, {}, {}, {}, 0xFFFF},
      {46, "Von Knoten #:", CK::Edit, {}, {}, {}, 0xFFFF},
      {47, "Bis Knoten #:", CK::Edit, {}, {}, {}, 0xFFFF},
      {48, "Seriennummer:", CK::Value, {28, 0}, {}, {}, 0xFFFF},
      {49, "Firmwareversion:", CK::Value, {25, 0}, {}, {}, 0xFFFF},
      {50, "Hardwareversion:", CK::Value, {17, 0}, {}, {}, 0xFFFF},
      {51, "Blink & Wink", CK::Button, {19, 0}, {}, {}, 0x0001},
      {52, "Einlesen", CK::Button, {}, {}, {}, 0xFFFF},
      {53, "Schließen", CK::Button, {}, {}, {}, 0xFFFF},
      {56, "IMAGE", CK::Button, {}, {}, {}, 0xFFFF},
      {57, "Start", CK::Button, {95, 175}, {}, {}, 0xFFFF},
      {59, "Nutzung Sens.fehlerpins", CK::CheckBox, {496, 496}, {}, {}, 0x0010},
      {60, "Reale Geschwindigkeit:", CK::Value, {56, 80}, {}, {}, 0xFFFF},
      {61, "Strombegrenzung:", CK::Edit, {41, 65}, {}, {}, 0xFFFF},
      {62, "Drive passt nicht zu Modul", CK::Indicator, {19, 0}, {}, {}, 0x1000},
      {63, "Modul passt nicht zu Modul", CK::Indicator, {19, 0}, {}, {}, 0x2000},
      {64, "Vorgelagerte Zone", CK::Frame, {}, {}, {}, 0xFFFF},
      {65, "Linker Antrieb", CK::Frame, {}, {}, {}, 0xFFFF},
      {67, "Erweiterte Funktionen", CK::Frame, {}, {}, {}, 0xFFFF},
      {68, "Set Alle", CK::Button, {}, {}, {}, 0xFFFF},
  };
  for (const Expected& e : expected) {
    const DisplayItem& item = DisplayItemById(e.id);
    EXPECT_STREQ(item.label, e.label) << e.id;
    EXPECT_EQ(item.control, e.control) << e.id;
    EXPECT_EQ(item.regs.a, e.regs.a) << e.id;
    EXPECT_EQ(item.regs.b, e.regs.b) << e.id;
    EXPECT_EQ(item.regsType3.a, e.type3.a) << e.id;
    EXPECT_EQ(item.regsType3.b, e.type3.b) << e.id;
    EXPECT_EQ(item.regsType4.a, e.type4.a) << e.id;
    EXPECT_EQ(item.regsType4.b, e.type4.b) << e.id;
    EXPECT_EQ(item.maskA, e.maskA) << e.id;
  }

  // The drive error bits: together exactly the indicator bits of the error word.
  uint16_t errorBits = 0;
  for (int id : {13, 14, 15, 16, 17, 18, 19, 20, 42}) {
    EXPECT_EQ(DisplayItemById(id).regs.a, 58);
    EXPECT_EQ(errorBits & DisplayItemById(id).maskA, 0) << id;
    errorBits |= DisplayItemById(id).maskA;
  }
  EXPECT_EQ(errorBits, 0x7FF0);
  // The zone option boxes: one bit each of 94 / 174.
  uint16_t optionBits = 0;
  for (int id : {32, 33, 34, 35, 36, 37, 58}) optionBits |= DisplayItemById(id).maskA;
  EXPECT_EQ(optionBits, 0x0001 | 0x0004 | 0x0008 | 0x0010 | 0x0020 | 0x0200 | 0x0800);

  EXPECT_STREQ(DisplayItemById(8).LabelFor(Side::A, 4), "Valve cycle:");
  EXPECT_STREQ(DisplayItemById(32).LabelFor(Side::B, 3), "Auto Push");
  EXPECT_STREQ(DisplayItemById(65).LabelFor(Side::B, 1), "Rechter Antrieb");
  EXPECT_EQ(DisplayItemById(25).RegisterFor(Side::B, 4), 178);
  EXPECT_EQ(DisplayItemByKey("gap")->id, item::kGapTimer);
  EXPECT_EQ(DisplayItemByKey("nothing"), nullptr);
}

TEST(DisplayRules, FirmwareRevisionTexts) {
  EXPECT_EQ(FirmwareText((110 << 8) | 5, 0x0300, 0x09), "10.05.3");
  EXPECT_EQ(FirmwareText((110 << 8) | 5, 0x0301, 0x0C), "10.05.3");
  EXPECT_EQ(FirmwareText((110 << 8) | 5, 0x0300, 0x03), "10.05");
  EXPECT_EQ(FirmwareText((2 << 8) | 17, 0x0300, 0x00), "2.17");
}

TEST(DisplayRules, HardwareRevisionTexts) {
  struct Case {
    uint16_t reg17, reg6, reg511;
    uint32_t serial;
    const char* text;
  };
  const Case cases[] = {
      {0x0002, 0x0001, 0, 150000, "3"},  // the serial number overrides: revision 3
      {0x0002, 0x0001, 0, 210000, "4"},
      {0x0002, 0x0001, 0, 230000, "5"},
      {0x0002, 0x0001, 0, 100000, "3"},  // R 2 → 1, offset 2
      {0x0003, 0x0001, 0, 300000, "4"},  // serial of at least 267307: offset 1
      {0x0003, 0x0000, 0, 100000, "4"},  // register 6 = 0: offset 1
      {0x0003, 0x0004, 0, 100000, "3"},  // sides exchanged: offset 0
      {0x0003, 0x0002, 0, 140000, "3, HTF"},
      {0x0003, 0x0002, 0, 300000, "4, HTF"},
      {0x0003, 0x0002, 0, 137100, "5"},  // below 137101: no HTF
      {0x0902, 0x0095, 0, 100000, "3, Ovt Ux"},
      {0x0902, 0x0096, 0, 100000, "3, Ux2"},
      {0x0902, 0x0090, 0, 100000, "3, Ux"},
      {0x0901, 0x0097, 0x0100, 0, "2, Ux, Zentrik-24-00, Zentrik-24-50"},
      {0x0901, 0x0097, 0x00FF, 0, "2, Ux, Zentrik-24-00"},
      {0x0C01, 0x00C7, 0, 0, "2, IO, Kelvo-8-24-00"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HardwareText(c.reg17, c.reg6, c.reg511, c.serial), c.text)
        << std::hex << c.reg17 << " " << c.reg6 << std::dec << " " << c.serial;
  }
}

TEST(DisplayRules, Temperatures) {
  EXPECT_EQ(ModuleTemperatureText(0x00F6, 1), "-10");
  EXPECT_EQ(ModuleTemperatureText(0x12FA, 1), "-6");
  EXPECT_EQ(ModuleTemperatureText(0x0080, 1), "128");
  EXPECT_EQ(ModuleTemperatureText(0x0019, 1), "25");
  EXPECT_EQ(ModuleTemperatureText(0x00F6, 4), "Not Used");
  EXPECT_EQ(DriveTemperatureText(0x2700, 0x09, 1), "< 40");
  EXPECT_EQ(DriveTemperatureText(0x2800, 0x09, 1), "40");
  EXPECT_EQ(DriveTemperatureText(0x2700, 0x00, 1), "39");
  EXPECT_EQ(DriveTemperatureText(0xF0F6, 0x00, 1), "240");  // the drive byte is unsigned
  EXPECT_EQ(DriveTemperatureText(0x5000, 0x00, 4), "Not Used");
}

TEST(DisplayRules, LayoutCodes) {
  struct Case {
    uint8_t family;
    uint16_t type, zoneA, zoneB;
    int code;
  };
  const Case cases[] = {
      {0x0C, 1, 1, 1, 12}, {0x00, 1, 1, 1, 1},  {0x00, 1, 2, 2, 1},   {0x00, 1, 1, 2, 10},
      {0x00, 1, 2, 0, 10}, {0x00, 1, 3, 0, 4},  {0x00, 1, 0, 3, 5},   {0x00, 1, 4, 0, 6},
      {0x00, 1, 0, 4, 7},  {0x00, 1, 0, 0, 10}, {0x00, 1, 3, 3, 10},  {0x00, 1, 0, 1, 10},
      {0x00, 3, 1, 1, 10}, {0x00, 3, 3, 0, 10}, {0x02, 1, 1, 1, 172}, {0x02, 3, 3, 0, 172},
      {0x09, 5, 1, 1, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LayoutCode(c.family, c.type, c.zoneA, c.zoneB), c.code)
        << int(c.family) << " type " << c.type << " zones " << c.zoneA << "/" << c.zoneB;
  }
}

TEST(DisplayRules, LayoutShowsAndHidesParts) {
  Image io;
  io.Set(17, 0x0C01).Set(18, 1).Set(90, 1).Set(170, 1).Set(25, 26638);
  Layout layout = DecideLayout(io.View(), false);
  EXPECT_EQ(layout.view, ScreenView::IoModule);
  EXPECT_EQ(layout.code, 12);
  EXPECT_TRUE(layout.diagnosticLogButton);

  Image controller;
  controller.Set(17, 0x0201).Set(18, 1).Set(90, 1).Set(170, 1);
  layout = DecideLayout(controller.View(), false);
  EXPECT_EQ(layout.view, ScreenView::DriveController);
  EXPECT_EQ(layout.code, 172);
  EXPECT_FALSE(layout.drive[0] || layout.drive[1] || layout.zone[0] || layout.zone[1]);

  Image plc;
  plc.Set(17, 0x0001).Set(18, 2).Set(90, 1).Set(170, 1).Set(25, 30000);
  EXPECT_EQ(DecideLayout(plc.View(), true).view, ScreenView::Plc);
  layout = DecideLayout(plc.View(), false);
  EXPECT_EQ(layout.view, ScreenView::Drives);
  EXPECT_FALSE(layout.diagnosticLogButton);  // family 0x00

  Image noDrives;
  noDrives.Set(18, 10);
  EXPECT_EQ(DecideLayout(noDrives.View(), false).view, ScreenView::NoDrives);

  // Left zone only: the unused downstream zone hides its controls; both drives show.
  Image leftOnly;
  leftOnly.Set(17, 0x0301).Set(18, 1).Set(90, 3).Set(170, 0).Set(25, 26637);
  layout = DecideLayout(leftOnly.View(), false);
  EXPECT_EQ(layout.code, 4);
  EXPECT_EQ(layout.drive, (std::array<bool, 2>{true, true}));
  EXPECT_EQ(layout.zone, (std::array<bool, 2>{true, false}));
  EXPECT_FALSE(layout.diagnosticLogButton);
  EXPECT_FALSE(ItemShown(DisplayItemById(item::kZpaMode), Side::B, leftOnly.View(), layout));
  EXPECT_TRUE(ItemShown(DisplayItemById(item::kZpaMode), Side::A, leftOnly.View(), layout));
  EXPECT_TRUE(ItemShown(DisplayItemById(item::kSpeed), Side::B, leftOnly.View(), layout));

  // A mirrored module exchanges the zone uses: the downstream zone is the one in use.
  Image mirrored = leftOnly;
  mirrored.Set(6, 0x0034);
  layout = DecideLayout(mirrored.View(), false);
  EXPECT_EQ(layout.code, 5);
  EXPECT_EQ(layout.zone, (std::array<bool, 2>{false, true}));
}

TEST(DisplayRules, ItemsShownOnlyWhereTheyApply) {
  Image image;
  image.Set(17, 0x0001).Set(18, 1).Set(90, 1).Set(170, 1).Set(490, 26).Set(492, 0);
  const Layout layout = DecideLayout(image.View(), false);
  const auto shown = [&](int id, Side side) {
    return ItemShown(DisplayItemById(id), side, image.View(), layout);
  };
  EXPECT_TRUE(shown(item::kCurrentLimit, Side::A));
  EXPECT_FALSE(shown(item::kCurrentLimit, Side::B));
  EXPECT_FALSE(shown(item::kRealSpeed, Side::A));  // family 0x00
  EXPECT_FALSE(shown(item::kInduct, Side::A));     // type 3 only
  EXPECT_TRUE(shown(item::kFirmware, Side::A));
  EXPECT_FALSE(shown(item::kFirmware, Side::B));  // one control

  image.Set(17, 0x0901).Set(18, 3);
  const Layout type3 = DecideLayout(image.View(), false);
  EXPECT_TRUE(ItemShown(DisplayItemById(item::kRealSpeed), Side::B, image.View(), type3));
  EXPECT_TRUE(ItemShown(DisplayItemById(item::kInduct), Side::B, image.View(), type3));
}

TEST(DisplayRules, DirectionExchange) {
  struct Case {
    uint16_t reg96, reg6;
    bool flip;
  };
  const Case cases[] = {
      {1, 0x0001, false}, {0, 0x0001, true},  {1, 0x0004, true},
      {0, 0x0094, false}, {5, 0x0005, false},  // any value but 0 is "no flip"
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DirectionFlip(c.reg96, c.reg6), c.flip) << c.reg96 << " " << c.reg6;
    for (int entry : {0, 1}) {
      const uint16_t written = DirectionRegisterValue(entry, c.reg96, c.reg6);
      EXPECT_EQ(written, c.flip ? 1 - entry : entry);
      // What is written shows again as the entry chosen.
      EXPECT_EQ(DirectionEntryFor(written, c.reg96, c.reg6), entry);
    }
  }
  EXPECT_EQ(DirectionEntryFor(2, 1, 0), -1);

  // The edit saves to the side's register with the flip of the registers read first.
  EXPECT_EQ(Steps(PlanDirection(Side::A, 0, 0, 0x0001)), V{"save 48=1"});
  EXPECT_EQ(Steps(PlanDirection(Side::B, 1, 0, 0x0001)), V{"save 72=0"});
  EXPECT_EQ(Steps(PlanDirection(Side::B, 1, 0, 0x0004)), V{"save 72=1"});
  EXPECT_EQ(Steps(PlanDirection(Side::A, 1, 3, 0x0004)), V{"save 48=0"});
  EXPECT_EQ(PlanDirection(Side::A, 1, 3, 0).readNext, RefreshGroup::LeftDrive);
  EXPECT_TRUE(PlanDirection(Side::A, -1, 3, 0).steps.empty());
  // Valve action on type 4 saves the list index to the zone's direction word.
  EXPECT_EQ(Steps(PlanValveAction(Side::B, 1)), V{"save 176=1"});
}

TEST(DisplayRules, ZpaEntriesAndGapField) {
  EXPECT_EQ(ZpaEntryFor(1, 500, -1), 0);
  EXPECT_EQ(ZpaEntryFor(2, 0, -1), 1);
  EXPECT_EQ(ZpaEntryFor(2, 1000, 1), 2);
  EXPECT_EQ(ZpaEntryFor(2, 0, 2), 2);  // a third entry the user chose stays
  EXPECT_EQ(ZpaEntryFor(1, 0, 2), 0);
  EXPECT_EQ(ZpaEntryFor(0, 0, 2), -1);
  EXPECT_TRUE(GapFieldEnabled(2, 1));
  EXPECT_FALSE(GapFieldEnabled(1, 1));
  EXPECT_TRUE(GapFieldEnabled(0, 3));

  EXPECT_EQ(Steps(PlanZpaMode(Side::A, 0)), V{"save 91=1"});
  EXPECT_EQ(Steps(PlanZpaMode(Side::B, 1)), (V{"save 183=0", "save 171=2"}));
  EXPECT_TRUE(ZpaModeNeedsGapRead(2));
  EXPECT_EQ(Steps(PlanZpaMode(Side::A, 2, 0)), (V{"save 103=1000", "save 91=2"}));
  EXPECT_EQ(Steps(PlanZpaMode(Side::A, 2, 2500)), V{"save 91=2"});
  EXPECT_EQ(PlanZpaMode(Side::B, 2, 1).readNext, RefreshGroup::Downstream);
}

TEST(DisplayRules, LinkPlcTitlesAndNodes) {
  EXPECT_FALSE(LinkIndicatorsShown(0));
  EXPECT_FALSE(LinkIndicatorsShown(0xFFFF));
  EXPECT_TRUE(LinkIndicatorsShown(1));
  EXPECT_EQ(CableDiagnosisText(0x0105), "Unterbrechung 5 Meter vom Modul.");
  EXPECT_EQ(CableDiagnosisText(0x0212), "Kurzschluss 18 Meter vom Modul.");
  EXPECT_EQ(CableDiagnosisText(0x0307), "");
  EXPECT_EQ(CableDiagnosisText(0x0007), "");

  const std::string waiting = "Das Modul wartet auf Verbindung und Konfiguration von der SPS.";
  EXPECT_EQ(PlcStatusText(0x02, 0x0001, 0, 2, ""), waiting);
  EXPECT_EQ(PlcStatusText(0x0C, 0x0301, 0, 0, ""), waiting);
  EXPECT_EQ(PlcStatusText(0x09, 0x0001, 0, 0, ""),
            waiting +
                " <b>Die Antriebe können in diesem Zustand nicht gestartet werden. <\\b>(Einzige "
                "Ausnahme: Die Antriebe können manuell über die Schalter in der Quillmar "
                "Konfigurationssoftware gestartet werden). Es muss eine Autokonfiguration "
                "durchgeführt werden oder die Konfiguration muss von einem bestehenden "
                "Backupfile geladen werden.");
  EXPECT_EQ(PlcStatusText(0x09, 0x0001, 1, 0, ""), "");
  EXPECT_EQ(PlcStatusText(0x00, 0, 0, 1, ""),
            "Auf Grund eines Fehlers läuft das interne Palimbroske Programm nicht.");
  EXPECT_EQ(PlcStatusText(0x00, 0, 0, 2, "PLCDATA_Linie3.bin"),
            "Ein internes Palimbroske Programm läuft. (Linie3)");
  EXPECT_EQ(PlcStatusText(0x00, 0, 0, 3, "PLCDATA_Linie3.bin"), "");

  // The same texts in English, for the screens that show it.
  const base::Language en = base::Language::English;
  EXPECT_EQ(CableDiagnosisText(0x0105, en), "Open circuit 5 metres from the module.");
  EXPECT_EQ(CableDiagnosisText(0x0212, en), "Short circuit 18 metres from the module.");
  EXPECT_EQ(PlcStatusText(0x02, 0x0001, 0, 2, "", en),
            "The module is waiting for connection and configuration from the PLC.");
  EXPECT_EQ(
      PlcStatusText(0x09, 0x0001, 0, 0, "", en).find(" <b>The drives cannot be started"),
      std::string("The module is waiting for connection and configuration from the PLC.").size());
  EXPECT_EQ(PlcStatusText(0x00, 0, 0, 2, "PLCDATA_Linie3.bin", en),
            "An internal Palimbroske program is running. (Linie3)");

  EXPECT_FALSE(DiagnosticLogAvailable(0x03, 26637));
  EXPECT_TRUE(DiagnosticLogAvailable(0x09, 26638));
  EXPECT_FALSE(DiagnosticLogAvailable(0x00, 40000));

  const std::string base = BaseWindowTitle("Quillmar", "Brevantrix");
  EXPECT_EQ(base, "Quillmar Brevantrix (Deutsch)");
  EXPECT_EQ(ConnectedWindowTitle(base, "192.168.202.20"),
            "Quillmar Brevantrix (Deutsch)                  Angezeigte Moduladresse: "
            "192.168.202.20");
  EXPECT_EQ(ConnectFailureText("1", "192.168.202.20"),
            "Verbindung zu Modul IP 1 (IP: \"192.168.202.20\") nicht möglich.");
  EXPECT_EQ(ReadPingFailureText("7", "10.0.0.26"),
            "Verbindung zu Modul IP 7 (IP: \"10.0.0.26\") nicht möglich");
  EXPECT_EQ(NodeHostByte(236), 255);
  EXPECT_EQ(NodeHostByte(1), 20);
  EXPECT_EQ(NodeFromHostByte(20), 1);
  EXPECT_EQ(CounterText(65535), "65535");
}

// A family 0x09 module with an "Oskarn-Ux ECO" left drive in m/s and an RPM right drive.
Image Family09Module() {
  Image image;
  image.Set(17, 0x0902).Set(18, 1).Set(6, 0x0095).Set(25, (110 << 8) | 5).Set(12, 0x0300);
  image.Set(28, 0x1234).Set(29, 0x0004);
  image.Set(1, (50 << 8) | 0).Set(2, 1);  // selectors: m/s, RPM
  image.Set(45, 1).Set(41, 2800).Set(42, 483).Set(59, 3000).Set(490, 0);
  image.Set(69, 1).Set(65, 3600).Set(66, 350).Set(83, 5000).Set(492, 0);
  image.Set(40, 500).Set(64, 12345);
  image.Set(43, 300).Set(46, 0).Set(47, 1).Set(48, 1).Set(96, 1);
  image.Set(56, 1000).Set(80, 1000).Set(500, 10).Set(503, 18);
  image.Set(57, 0x25F6).Set(58, 0x0200 | 0x0040);
  image.Set(90, 1).Set(170, 1).Set(91, 2).Set(103, 0).Set(94, 0x0001);
  image.Set(117, 0x0105).Set(19, 0x1001).Set(282, 7);
  return image;
}

TEST(DisplayRules, ShowItemFromAnImage) {
  const Image image = Family09Module();
  const ImageView view = image.View();
  ShowState state;
  state.driveList = {DriveListKind::Family09, DriveListKind::Family09};
  const auto show = [&](int id, Side side = Side::A) {
    return ShowItem(DisplayItemById(id), side, view, state);
  };

  EXPECT_EQ(show(item::kDriveType).text, "Oskarn-Ux ECO");
  EXPECT_EQ(show(item::kDriveType).listIndex, 1);
  EXPECT_EQ(show(item::kDriveType, Side::B).text, "Oskarn-Ux Vigor");
  EXPECT_EQ(show(item::kDriveType, Side::B).listIndex, 3);
  EXPECT_EQ(show(item::kSpeed).text, "0.500");
  EXPECT_EQ(show(item::kSpeed, Side::B).text, "1234.5");
  EXPECT_EQ(show(item::kAcceleration).text, "300");  // mm on an m/s drive
  EXPECT_EQ(show(item::kBrake).text, "Frei");
  EXPECT_EQ(show(item::kDirection).text, "CCW");
  EXPECT_EQ(show(item::kDriveTemperature).text, "< 40");
  EXPECT_EQ(show(item::kModuleTemperature).text, "-10");
  EXPECT_EQ(show(item::kRealSpeed).text, "0.469");
  EXPECT_EQ(show(item::kRealSpeed, Side::B).text, "655.7");
  EXPECT_EQ(show(item::kFirmware).text, "10.05.3");
  EXPECT_EQ(show(item::kHardware).text, "3, Ovt Ux");
  EXPECT_EQ(show(item::kSerialNumber).text, std::to_string(4 * 65536 + 0x1234));
  EXPECT_EQ(show(item::kSensorDirtCounter).text, "7");
  EXPECT_EQ(show(item::kZpaMode).text, "Blockabzug");
  EXPECT_FALSE(show(item::kGapTimer).enabled);
  state.zpaEntry[0] = 2;
  EXPECT_EQ(show(item::kZpaMode).text, "Blocklückenabzug");
  EXPECT_TRUE(show(item::kGapTimer).enabled);

  const ItemView maxTorque = show(item::kMaxTorque);
  EXPECT_EQ(maxTorque.colour, IndicatorColour::Yellow);
  EXPECT_EQ(show(14).colour, IndicatorColour::Red);  // overvoltage
  EXPECT_EQ(show(14).masked, 0x0040);
  EXPECT_EQ(show(item::kOverheat).colour, IndicatorColour::Green);
  EXPECT_EQ(show(item::kDriveMismatch).colour, IndicatorColour::Red);
  EXPECT_EQ(show(item::kModuleMismatch).colour, IndicatorColour::Green);
  EXPECT_TRUE(show(item::kBlink).checked);
  EXPECT_TRUE(show(item::kAccumulate).checked);
  EXPECT_FALSE(show(33).checked);  // bit 0 set shows an unticked "Auto Clear" box
  EXPECT_FALSE(show(item::kDynamicReleaseTermination).checked);

  // Units and side names as scripts print them.
  const auto unit = [&](int id, Side side) { return UnitTextOf(DisplayItemById(id), side, view); };
  EXPECT_EQ(unit(item::kSpeed, Side::A), "m/s");
  EXPECT_EQ(unit(item::kSpeed, Side::B), "U/min");
  EXPECT_EQ(unit(item::kAcceleration, Side::A), "mm");
  EXPECT_EQ(unit(item::kAcceleration, Side::B), "s");
  EXPECT_EQ(unit(item::kGapTimer, Side::A), "s");
  EXPECT_EQ(unit(item::kFirmware, Side::A), "");
  EXPECT_STREQ(SideKey(ItemGroup::Drive, Side::B), "right");
  EXPECT_STREQ(SideKey(ItemGroup::Zone, Side::A), "upstream");
}

TEST(DisplayRules, ShowItemOnValveTransportAndMirroredModules) {
  Image valves;
  valves.Set(17, 0x0001).Set(18, 4).Set(113, 1).Set(96, 1).Set(176, 0).Set(95, 1);
  ShowState state;
  state.driveList = {DriveListKind::Valves, DriveListKind::Valves};
  const ImageView v = valves.View();
  EXPECT_EQ(ShowItem(DisplayItemById(item::kSpeed), Side::A, v, state).text, "Not Used");
  EXPECT_EQ(ShowItem(DisplayItemById(item::kAcceleration), Side::A, v, state).text, "Not Used");
  EXPECT_EQ(ShowItem(DisplayItemById(item::kDriveType), Side::A, v, state).text,
            "Self Ctrl. Valve");
  EXPECT_EQ(ShowItem(DisplayItemById(item::kDirection), Side::A, v, state).text, "OFF Running");
  EXPECT_EQ(ShowItem(DisplayItemById(item::kDirection), Side::B, v, state).text, "ON Running");
  EXPECT_TRUE(ShowItem(DisplayItemById(item::kDriveRun), Side::A, v, state).checked);

  Image transport;
  transport.Set(18, 3).Set(112, 1).Set(94, 0).Set(100, 2500).Set(101, 700);
  const ImageView t = transport.View();
  EXPECT_TRUE(ShowItem(DisplayItemById(item::kDynamicReleaseTermination), Side::A, t).checked);
  EXPECT_EQ(ShowItem(DisplayItemById(item::kTZoneAccept), Side::A, t).text, "2.50");
  EXPECT_EQ(ShowItem(DisplayItemById(item::kNotFullStop), Side::A, t).text, "0.70");
  EXPECT_TRUE(ShowItem(DisplayItemById(item::kGapTimer), Side::A, t).enabled);

  // Mirrored: the left drive shows what the module holds in its right drive block.
  Image mirrored;
  mirrored.Set(17, 0x0001).Set(18, 1).Set(6, 0x0004).Set(40, 100).Set(64, 800);
  mirrored.Set(280, 1).Set(281, 2);
  const ImageView m = mirrored.View();
  EXPECT_EQ(ShowItem(DisplayItemById(item::kSpeed), Side::A, m).text, "80");
  EXPECT_EQ(ShowItem(DisplayItemById(item::kSpeed), Side::B, m).text, "10");
  EXPECT_EQ(ShowItem(DisplayItemById(item::kDriveErrorCounter), Side::A, m).text, "2");
}

TEST(EditRules, TypedFieldsConvertCheckAndSave) {
  const Image image = Family09Module();
  const ImageView view = image.View();

  RegisterPlan plan = PlanSpeed(Side::A, "0.5", view);
  EXPECT_EQ(Steps(plan), V{"save 40=500"});
  EXPECT_EQ(plan.readNext, RefreshGroup::LeftDrive);
  plan = PlanSpeed(Side::A, "0.0149", view);
  EXPECT_TRUE(plan.steps.empty());
  EXPECT_EQ(plan.refusal,
            "Ungültige Geschwindigkeit. Es sind nur Werte von 0.015 bis 6.20 m/s gültig.");
  EXPECT_EQ(Steps(PlanSpeed(Side::B, "1933", view)), V{"save 64=19330"});

  Image standard;
  standard.Set(17, 0x0001).Set(18, 1).Set(46, 0).Set(70, 1);
  EXPECT_EQ(Steps(PlanSpeed(Side::A, "100", standard.View())), V{"save 40=1000"});
  EXPECT_EQ(PlanSpeed(Side::A, "0", standard.View()).refusal,
            "Ungültige Geschwindigkeit. Es sind nur Werte von 1 bis 100% gültig.");
  EXPECT_EQ(Steps(PlanRamp(Side::A, Ramp::Acceleration, "0.5", standard.View())), V{"save 43=500"});
  EXPECT_EQ(Steps(PlanRamp(Side::B, Ramp::Deceleration, "40", standard.View())),
            V{"save 68=40"});  // closed loop on: pulses
  standard.Set(46, 2);
  EXPECT_TRUE(PlanRamp(Side::A, Ramp::Acceleration, "0.5", standard.View()).steps.empty());
  EXPECT_FALSE(PlanRamp(Side::A, Ramp::Acceleration, "0.5", standard.View()).Refused());

  EXPECT_EQ(Steps(PlanCurrentLimit(Side::B, "2000")), V{"save 65=2000"});
  EXPECT_EQ(Steps(PlanGapTimer(Side::B, "1.5")), V{"save 183=1500"});
  EXPECT_EQ(Steps(PlanTZoneAccept(Side::A, "2", 1)), V{"save 101=2000"});
  EXPECT_EQ(Steps(PlanTZoneAccept(Side::A, "2", 3)), V{"save 100=2000"});
  EXPECT_EQ(Steps(PlanTZoneAccept(Side::B, "2", 4)), V{"save 178=2000"});
  EXPECT_TRUE(PlanTZoneAccept(Side::B, "6", 4).Refused());
  EXPECT_EQ(Steps(PlanNotFullStop(Side::B, "10")), V{"save 181=10000"});
  EXPECT_EQ(Steps(PlanInduct(Side::A, "0.25")), V{"save 99=250"});
  EXPECT_EQ(Steps(PlanZoneCurrents(Side::A, "1.5", "6")), V{"save 102=15375"});  // 15 | 60<<8
  EXPECT_EQ(PlanZoneCurrents(Side::A, "1.5", "x").refusal,
            "Ungültige Wert. Es sind nur Werte von 0 bis 7 A gültig.");
  EXPECT_EQ(Steps(PlanClosedLoop(Side::B, true)), V{"save 70=1"});
  EXPECT_EQ(Steps(PlanBrakeMethod(Side::A, 3)), V{"save 47=3"});
  EXPECT_TRUE(PlanBrakeMethod(Side::A, 4).steps.empty());
}

TEST(EditRules, ZoneOptionsAndToggles) {
  // Option bits change one at a time; "Disable Sensor Jam Auto Clear" is inverted.
  EXPECT_EQ(Steps(PlanZoneOption(Side::A, 33, true, 0x0805, 1)), V{"save 94=2052"});
  EXPECT_EQ(Steps(PlanZoneOption(Side::B, 33, false, 0x0804, 1)), V{"save 174=2053"});
  EXPECT_EQ(Steps(PlanZoneOption(Side::A, 37, true, 0x0001, 1)), V{"save 94=513"});
  EXPECT_EQ(Steps(PlanZoneOption(Side::A, 32, true, 0x0000, 1)), V{"save 94=8"});
  EXPECT_EQ(Steps(PlanZoneOption(Side::B, 32, true, 0x0000, 3)), V{"save 192=1"});
  EXPECT_TRUE(PlanZoneOption(Side::A, item::kSpeed, true, 0, 1).steps.empty());

  EXPECT_EQ(Steps(PlanAccumulate(Side::A, 0x0005)), (V{"write 95=0", "save 117=261"}));
  EXPECT_EQ(Steps(PlanAccumulate(Side::B, 0x0105)), V{"save 197=5"});
  EXPECT_EQ(Steps(PlanZoneForcedRun(Side::A, 0, 0x0105)), (V{"write 117=5", "write 95=1"}));
  EXPECT_EQ(Steps(PlanZoneForcedRun(Side::B, 1, 0x0105)), V{"write 175=0"});

  Image drive;
  drive.Set(18, 1).Set(49, 0).Set(73, 1);
  EXPECT_EQ(Steps(PlanDriveRun(Side::A, 1, drive.View())), V{"write 49=1"});
  EXPECT_EQ(Steps(PlanDriveRun(Side::B, 1, drive.View())), V{"write 73=0"});
  Image valves;
  valves.Set(18, 4).Set(175, 0).Set(197, 0x0102);
  EXPECT_EQ(Steps(PlanDriveRun(Side::B, 4, valves.View())), (V{"write 197=2", "write 175=1"}));

  EXPECT_EQ(Steps(PlanJamClear(Side::B)), (V{"write 189=1", "pause 50", "read 188"}));
  EXPECT_EQ(Steps(PlanBlink(0x1000)), V{"write 19=4097"});
  EXPECT_EQ(Steps(PlanBlink(0x3001)), V{"write 19=12288"});
}

// A field as shown in English: its label and, for a list, its entry come from the translation
// file; typed values and numbers stay; German shows the screen's own texts.
TEST(DisplayRules, ShownFieldsInEitherLanguage) {
  struct Case {
    int item;
    std::string label, value;
    std::string englishLabel, englishValue;
  };
  const Case cases[] = {
      {item::kZpaMode, "ZPA Modus:", "Blocklückenabzug", "ZPA mode:", "GAP Train"},
      {item::kZpaMode, "ZPA Modus:", "Einzelabzug", "ZPA mode:", "Singulation"},
      {item::kBrake, "Bremsmodus:", "Frei", "Brake mode:", "Free"},
      {item::kDriveType, "Motor Type:", "Nicht bekannt", "Motor Type:", "Unknown"},
      {item::kDriveType, "Motor Type:", "Brumm", "Motor Type:", "Brumm"},
      {item::kSpeed, "Geschwindigkeit:", "Frei", "Speed:", "Frei"},  // typed: never translated
  };
  for (const Case& c : cases) {
    ShownField field;
    field.item = c.item;
    field.label = c.label;
    field.value = c.value;
    EXPECT_EQ(ShownLabelIn(field, base::Language::English), c.englishLabel) << c.label;
    EXPECT_EQ(ShownValueIn(field, base::Language::English), c.englishValue) << c.value;
    EXPECT_EQ(ShownLabelIn(field, base::Language::German), c.label);
    EXPECT_EQ(ShownValueIn(field, base::Language::German), c.value);
  }
}

}  // namespace
}  // namespace params
