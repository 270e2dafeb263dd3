#pragma once
// The flex zone page's work ("Flex Zone", tab 6 of the advanced functions window): the
// modules of the current network switch their flex zone function (register 21: 0 = on,
// 1 = off) and their inter-module communication time (registers 112 and 192, ms) all at once.
// The page is usable only when node 1 is present and no node is missing between the first
// and the last module found.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/language.h"
#include "base/progress.h"
#include "pages/module_link.h"

namespace pages {

inline constexpr const char* kFlexCountText =
    QM_TRANSLATE_NOOP("FlexZone", "%d Module sind gefunden worden.");
inline constexpr const char* kFlexNoFirstModule = QM_TRANSLATE_NOOP(
    "FlexZone", "Die Funktion ist nicht verfügbar.\nErstes Modul nicht verbunden. ");
inline constexpr const char* kFlexMissingModule =
    QM_TRANSLATE_NOOP("FlexZone", "Die Funktion ist nicht verfügbar.\nFehlendes Modul. ");
inline constexpr const char* kFlexNoModules = QM_TRANSLATE_NOOP(
    "FlexZone", "Die Funktion ist nicht verfügbar.\nEs sind keine Module angeschlossen. ");
inline constexpr const char* kFlexAllEnabled =
    QM_TRANSLATE_NOOP("FlexZone", "Flex Zone an allen Modulen angeschaltet.");
inline constexpr const char* kFlexAllDisabled =
    QM_TRANSLATE_NOOP("FlexZone", "Flex Zone an allen Modulen abgeschaltet.");
inline constexpr const char* kFlexMixed =
    QM_TRANSLATE_NOOP("FlexZone", "Flex Zone ist nicht an allen Modulen eingeschaltet");
// A time that is not a plain number would be written to every module as 0: it is refused.
inline constexpr const char* kFlexTimeRefused = QM_TRANSLATE_NOOP(
    "FlexZone",
    "Die Zeit \"%s\" ist keine ganze Zahl von 0 bis 65535 ms. Es wurde nichts geschrieben.");

inline constexpr uint16_t kFlexSwitchRegister = 21;
inline constexpr uint16_t kFlexTimeRegisterA = 112;
inline constexpr uint16_t kFlexTimeRegisterB = 192;
inline constexpr uint16_t kFlexSwitchTimeMs = 50;  // what Enable / Disable All write as time

// One module as a discovery found it.
struct ListedModule {
  std::string ipText;
  uint32_t serial = 0;
};

// The modules of the current network, in ascending order of address (then serial).
struct FlexModuleList {
  std::vector<std::string> addresses;
  bool firstModule = false;  // the lowest address is node 1 (last octet 20)
  bool noGap = false;        // the last octets are consecutive
  bool Usable() const { return !addresses.empty() && firstModule && noGap; }
};

// Keeps the modules whose first three octets equal those of `network` ("a.b.c.d").
FlexModuleList BuildFlexModuleList(const std::vector<ListedModule>& discovered,
                                   const std::string& network);

enum class FlexState { Enabled = 0, Disabled = 1, Mixed = 2 };
// The status text's colour as a COLORREF (0x00BBGGRR): black, blue, red.
uint32_t FlexStateColour(FlexState state);

struct FlexZoneView {
  FlexModuleList list;
  std::string countText;
  int moduleCount = 0;  // the count countText tells
  std::string statusText;
  FlexState state = FlexState::Mixed;
  bool buttonsEnabled = false;
  std::string timeText;             // register 112 of the first module; blank while unusable
  bool timeKnown = false;           // false: leave the field as the user typed it
  std::string progressText;         // the number of the module being written
  std::string refusal;              // why Set All wrote nothing
  int enabledCount = 0;             // modules reading 0 in register 21
  int disabledCount = 0;            // modules reading 1
  std::vector<std::string> failed;  // modules of the last write not reached or not saved
};

class FlexZone {
 public:
  // Runs a discovery of the selected adapter and returns its modules.
  using Lister = std::function<std::vector<ListedModule>()>;
  // Called with every new view while work goes on (the progress label).
  using Report = std::function<void(const FlexZoneView&)>;

  FlexZone(ModuleLink& link, Lister lister) : registers_(link), lister_(std::move(lister)) {}

  // Page initialisation, Enter and OK: the module list, then the status of every module.
  FlexZoneView Refresh(const std::string& network, const Report& report = {});
  // Enable All (value 0) / Disable All (value 1): register 21, and 50 ms as the time.
  FlexZoneView SwitchAll(uint16_t value, const Report& report = {});
  // Set All: the typed time to registers 112 and 192 of every module.
  FlexZoneView SetAll(const std::string& timeText, const Report& report = {});

  const FlexZoneView& View() const { return view_; }

 private:
  void EvaluateStatus();
  // False when the module was not reached or a save was not confirmed.
  bool WriteModule(const std::string& address,
                   const std::vector<std::pair<uint16_t, uint16_t>>& writes);

  PageRegisters registers_;
  Lister lister_;
  FlexZoneView view_;
};

}  // namespace pages
