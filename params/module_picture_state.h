#pragma once
// What the node screen's module picture shows; filled by the controller on every pass.
#include <string>

namespace params {

// Colour of a drive in the picture: Off while unknown or disconnected.
enum class PictureColour { Off, Green, Yellow, Red };

struct ModulePictureState {
  bool connected = false;
  // Flow direction of the line through the module: left to right when true.
  bool leftToRight = true;
  // Drive side 0 = left, 1 = right; zone side 0 = upstream, 1 = downstream.
  bool driveShown[2] = {true, true};
  PictureColour driveState[2] = {PictureColour::Off, PictureColour::Off};
  bool driveRunning[2] = {false, false};
  bool zoneUsed[2] = {true, true};
  bool zoneJam[2] = {false, false};
  bool zoneSensorFault[2] = {false, false};
  bool zoneAccumulate[2] = {false, false};
  bool zoneForcedRun[2] = {false, false};
  std::string caption;  // e.g. the node and its address

  bool operator==(const ModulePictureState&) const = default;
};

}  // namespace params
