#pragma once
// The sensors page's work ("Sensoren", tab 7): how the shown module reads its two zone
// sensors, kept in register 34: the polarity of the blocked signal and of the sensor error
// output, per side. A reversed module keeps the sides' bits exchanged. A module controlled by
// a PLC (register 18 = 2) shows its settings locked, and a toggle leaves them as they are.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/language.h"
#include "base/progress.h"
#include "pages/module_link.h"

namespace pages {

inline constexpr const char* kSensorsCaption = "Sensor Type";
inline constexpr const char* kSensorsSetAllQuestion =
    "Are you sure you want to set this properties to all modules from %s to %s?";
// Tool tips: caption and help text of the controls.
inline constexpr const char* kSensorsTipLeft = QM_TRANSLATE_NOOP("PageTips", "Links");
inline constexpr const char* kSensorsTipRight = QM_TRANSLATE_NOOP("PageTips", "Rechts");
inline constexpr const char* kSensorsTipError = QM_TRANSLATE_NOOP("PageTips", "Sensor Fehler");
inline constexpr const char* kSensorsTipInversion =
    QM_TRANSLATE_NOOP("PageTips", "Sensor Invertierung");
inline constexpr const char* kSensorsTipSetAll =
    QM_TRANSLATE_NOOP("PageTips", "Alle Sensoren so einstellen");

inline constexpr uint16_t kSensorRegister = 34;
inline constexpr uint16_t kSensorLocked = 0x100;  // added to the shown values of a PLC module
inline constexpr uint16_t kSensorBlockedBits = 0x10 | 0x40;
inline constexpr uint16_t kSensorErrorBits = 0x01 | 0x04;

enum class SensorSetting { BlockedLeft = 0, BlockedRight = 1, ErrorLeft = 2, ErrorRight = 3 };
inline constexpr std::array<SensorSetting, 4> kSensorSettings{
    SensorSetting::BlockedLeft, SensorSetting::BlockedRight, SensorSetting::ErrorLeft,
    SensorSetting::ErrorRight};

// The bit of register 34 that holds `setting`; `reversed`: register 6 marks the sides exchanged.
uint16_t SensorMask(SensorSetting setting, bool reversed);
// A board whose register 17 high byte is 0x03 or 0x09 has no error polarity.
bool BoardHasErrorPolarity(uint16_t register17);
// "blocked left", "blocked right", "error left", "error right".
const char* SensorSettingName(SensorSetting setting);
// Register 34 of a Set All target: T with the source's blocked bits, and its error bits too
// unless the source has none.
uint16_t SensorSetAllValue(uint16_t source, uint16_t target, bool sourceHasErrorPolarity);

struct SensorsView {
  bool connected = false;             // the shown module answered the last refresh
  std::array<uint16_t, 4> current{};  // per setting: 0, its mask, or mask + 0x100 when locked
  bool locked = false;
  bool reversed = false;
  bool errorShown = true;  // the error-polarity labels and toggles
  uint16_t register34 = 0;
  std::string progressText;  // Set All: the address being written
  // The last toggle or picture button, when register 34 was not written or its save to flash
  // was not confirmed: what the user is told (empty: written and saved). The refresh after it
  // shows what the module holds now, which may be the new value in RAM only.
  std::string writeFailure;
};

struct SensorsSetAllOutcome {
  bool ran = false;
  std::vector<std::string> written;  // addresses whose register 34 was written and saved
  std::vector<std::string> failed;   // addresses not reached, not read, or not saved
};

class Sensors {
 public:
  using Report = std::function<void(const SensorsView&)>;

  explicit Sensors(ModuleLink& link) : registers_(link) {}

  // `shownAddress` empty: the node range holds no module.
  SensorsView Refresh(const std::string& shownAddress);
  // The toggle button of one setting.
  SensorsView Toggle(SensorSetting setting);
  // The picture buttons: set (inverted) or clear (normal) the setting's bit.
  SensorsView SetBit(SensorSetting setting, bool set);
  // Copies the shown module's settings to every address of `range` (the question has been
  // answered with Yes). Nothing is done when not connected or the range is empty.
  SensorsSetAllOutcome SetAll(const std::vector<std::string>& range, const Report& report = {});

  const SensorsView& View() const { return view_; }

 private:
  SensorsView Write(SensorSetting setting, int how);  // how: -1 toggle, 0 clear, 1 set

  PageRegisters registers_;
  std::string shown_;
  SensorsView view_;
};

}  // namespace pages
