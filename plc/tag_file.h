#pragma once
// The tag description of a PLC program: which values of the program's data area the PLC data
// view shows, and how. A small JSON file, kept next to the program file ("NAME.tags.json" for
// "NAME.bin") or picked by the user:
//
//   {"program": "Sorter", "dataSize": 2500,
//    "tags": [{"name": "Band ein", "type": 4, "offset": 0, "bit": 3, "control": "check"},
//             {"name": "Weg", "type": 3, "offset": 4, "control": "edit",
//              "minimum": 0, "maximum": 2000, "unit": "mm"},
//             {"name": "Modus", "type": 2, "offset": 6, "control": "combo",
//              "items": [{"text": "Aus", "value": 0}, {"text": "Auto", "value": 1}]}]}
//
// type: 2 one byte, 3 two bytes, anything else four bytes (signed, little-endian).
// control: "check" (1), "edit" (2) or "combo" (3); the number may be given instead.
// "program" names the PLC program the tags describe ("Sorter" or "PLCDATA_Sorter.bin"); the view
// writes only into a module that runs that program. Every tag lies inside the first
// min(dataSize, 10000) bytes (a check box reads 4 bytes); limits and item values lie within
// the signed range of the type, and a limit not given is the type's own.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace plc {

inline constexpr int kControlCheck = 1;
inline constexpr int kControlEdit = 2;
inline constexpr int kControlCombo = 3;
inline constexpr uint32_t kMaxTagFileBytes = 1u << 20;
inline constexpr size_t kMaxTags = 4096;

struct ComboItem {
  std::string text;
  int32_t value = 0;
};

struct PlcTag {
  std::string name;
  int type = 4;
  uint16_t offset = 0;
  uint8_t bit = 0;
  int control = kControlEdit;
  int32_t minimum = 0;
  int32_t maximum = 0;
  std::string unit;
  std::vector<ComboItem> items;
};

struct PlcProgramInfo {
  std::string program;
  uint32_t dataSize = 0;
  std::vector<PlcTag> tags;
};

// Bytes a value of the tag's type takes: 1 (type 2), 2 (type 3) or 4.
uint16_t TagValueSize(int type);
// The values a tag of the type can show: the view reads them signed.
std::pair<int64_t, int64_t> TagTypeRange(int type);

// nullopt with *error naming the place ("tags[2].offset: ...") when the text is not a valid
// tag description.
std::optional<PlcProgramInfo> ParseTagFile(const std::string& text, std::string* error);
std::optional<PlcProgramInfo> LoadTagFile(const std::string& path, std::string* error);
// The tag file that belongs to a program file: its name without the last extension, plus
// ".tags.json".
std::string TagFileForProgram(const std::string& programPath);

}  // namespace plc
