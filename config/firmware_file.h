#pragma once
// Firmware files for the upgrade: the name and prefix tests, the header words, the version in
// the file name, the remote name sent to the module, the version rules that decide what a
// module gets, and the intermediate images read from the data folder. Qt-free and pure apart
// from the file reads.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace config {

// The dialog's mode: 3 for a Ux-family file, 0 otherwise.
inline constexpr int kModeBase = 0;
inline constexpr int kModeUx = 3;

inline constexpr size_t kMaxFirmwareNameLength = 214;
inline constexpr size_t kFirmwareHeaderRead = 25;
inline constexpr uint32_t kBaseHeaderWord = 0xE59FF018u;  // first word
inline constexpr uint32_t kAsiaHeaderWord = 0x0040055Du;  // second word
inline constexpr uint32_t kUxHeaderWord = 1201;           // second word
inline constexpr uint32_t kBaseNewFileSize = 262144;
inline constexpr uint32_t kUxNewFileSize = 393216;

enum class HeaderTest { kBase, kAsia, kUx };

// What a file name says before the file is opened.
struct FirmwareName {
  bool ok = false;
  bool plc = false;      // a PLC program file (PLC mode)
  int mode = kModeBase;  // kModeUx for the Ux family
  HeaderTest header = HeaderTest::kBase;
  std::string prefix;      // the upper-cased prefix matched
  std::string remoteName;  // as sent to the module's TFTP server
};

// The prefix table: the longest prefix of the upper-cased file name (without folders) that
// matches; the extension must be ".bin" (any case). In PLC mode only names that begin "PLCDATA"
// (any case) and hold "PLCDATA_" count, and their remote name is always "PlcData_.bin".
FirmwareName ExamineFirmwareName(const std::string& fileName, bool plcMode);

struct FirmwareVersion {
  int major = 0;
  int minor = 0;
  bool Bypass() const { return major == 99 && minor == 99; }
  bool operator==(const FirmwareVersion&) const = default;
};
// The version the file name carries (rules of the prefix table); nullopt when unreadable.
// Numbers that a module's register 25 could never show (a byte each) are unreadable too.
std::optional<FirmwareVersion> VersionFromFileName(const std::string& fileName);

// Little-endian 32-bit word `index` of the first bytes of a file; nullopt when not present.
std::optional<uint32_t> HeaderWord(const uint8_t* bytes, size_t length, size_t index);

// The outcome of "Browse": the name, the file and its header. `message` and `title` are the
// box shown on a refusal.
struct FirmwareFileCheck {
  bool ok = false;
  FirmwareName name;
  FirmwareVersion version;
  uint32_t size = 0;
  std::string fileName;  // without folders
  std::string message;
  std::string title;
};
FirmwareFileCheck CheckFirmwareFile(const std::string& path, bool plcMode);

// Module families by register 17's high byte.
bool IsUxFamily(uint16_t register17);

enum class ModuleDecision {
  kUpload,        // the chosen file
  kIntermediate,  // the intermediate image first, the chosen file in the second run
  kSkip,          // other family: "SKIPPED"
  kDowngrade,     // refused: the whole run stops
  kNotRead,       // no version: the whole run stops
};
// The version rules for one module: register 17 and register 25 as read, the file's mode,
// version and size.
ModuleDecision DecideModule(uint16_t register17, uint16_t register25, int fileMode,
                            const FirmwareVersion& file, uint32_t fileSize);

// The intermediate images. Firmware cannot ship with the program: they are read by name from
// the data folder and must have exactly these sizes.
struct IntermediateImage {
  const char* name;
  uint32_t size;
};
const IntermediateImage& IntermediateImageFor(int mode);
// The data folder: $QUILLMAR_FIRMWARE_DIR when set, else share/quillmar/firmware next to the
// program's folder (<prefix>/bin/.. ).
std::string FirmwareDataFolder();
// Reads the image for `mode` from `folder`. On failure `error` names the image, the folder and
// what is wrong, and nothing is returned.
std::optional<std::vector<uint8_t>> LoadIntermediateImage(int mode, const std::string& folder,
                                                          std::string* error);

}  // namespace config
