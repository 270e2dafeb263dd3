#include "config/firmware_file.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/format.h"
#include "config/plc_program.h"

namespace config {
namespace {

struct PrefixRule {
  const char* upper;  // compared with the upper-cased name
  int mode;
  HeaderTest header;
  const char* replacement;  // the prefix as sent; null: the name as it is
  bool baseNumbering;       // the first '_' at 10 or 15, the major taken as it stands
};

// Longest prefixes first, so that "BREVANTRIXUX" is not taken for "BREVANTRIX".
const PrefixRule kPrefixes[] = {
    {"BREVANTRIX-ASIA", kModeBase, HeaderTest::kAsia, nullptr, true},
    {"TORMWEXALIN_V", kModeBase, HeaderTest::kBase, "OVT_", false},
    {"BREVANTRIXUX", kModeUx, HeaderTest::kUx, "OVT", false},
    {"UX-SPI-SLAVE", kModeUx, HeaderTest::kUx, "PELSKORN", false},
    {"GLASSENVALE", kModeUx, HeaderTest::kUx, "Glassenvale", false},
    {"TORMWEXALIN", kModeBase, HeaderTest::kBase, "OVT", false},
    {"BREVANTRIX", kModeBase, HeaderTest::kBase, "Brevantrix", true},
    {"OVT", kModeUx, HeaderTest::kUx, nullptr, false},
};

constexpr const char* kPlcPrefix = "PLCDATA";

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool HasBinExtension(const std::string& upper) {
  return upper.size() > 4 && upper.compare(upper.size() - 4, 4, ".BIN") == 0;
}

const PrefixRule* RuleFor(const std::string& upper) {
  for (const PrefixRule& rule : kPrefixes) {
    if (upper.rfind(rule.upper, 0) == 0) return &rule;
  }
  return nullptr;
}

// Decimal digits from `at` as a number read up to the first non-digit (no digits: 0). Stops
// counting once the number can no longer fit a register byte, so long digit runs never
// overflow.
int LeadingNumber(const std::string& text, size_t at, bool* tooLarge) {
  long value = 0;
  for (size_t i = at; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 100000) {
      *tooLarge = true;
      return 0;
    }
  }
  return static_cast<int>(value);
}

}  // namespace

FirmwareName ExamineFirmwareName(const std::string& fileName, bool plcMode) {
  FirmwareName result;
  const std::string name = BaseName(fileName);
  const std::string upper = Upper(name);
  if (!HasBinExtension(upper)) return result;
  if (plcMode) {
    // The program tool names its files "PLCDATA_..."; the connections page takes no other.
    if (upper.rfind(kPlcPrefix, 0) != 0 || name.find(kPlcNamePrefix) == std::string::npos)
      return result;
    result.ok = true;
    result.plc = true;
    result.prefix = kPlcPrefix;
    // A module keeps its program under this one name; any other name is firmware to it.
    result.remoteName = kPlcRemoteFile;
    return result;
  }
  const PrefixRule* rule = RuleFor(upper);
  if (!rule) return result;
  result.ok = true;
  result.mode = rule->mode;
  result.header = rule->header;
  result.prefix = rule->upper;
  const size_t length = std::char_traits<char>::length(rule->upper);
  result.remoteName = rule->replacement ? rule->replacement + name.substr(length) : name;
  return result;
}

std::optional<FirmwareVersion> VersionFromFileName(const std::string& fileName) {
  const std::string name = BaseName(fileName);
  const std::string upper = Upper(name);
  const PrefixRule* rule = RuleFor(upper);
  const size_t first = name.find('_');
  if (!rule || first == std::string::npos) return std::nullopt;
  const bool allowed = rule->baseNumbering ? (first == 10 || first == 15)
                                           : (first == 3 || first == 11 || first == 12);
  if (!allowed) return std::nullopt;
  size_t majorAt = first + 1;
  if (upper.rfind("TORMWEXALIN_V", 0) == 0) majorAt = 13;  // after the "_V"
  const size_t second = name.find('_', majorAt);
  if (second == std::string::npos) return std::nullopt;
  bool tooLarge = false;
  FirmwareVersion version;
  version.major = LeadingNumber(name, majorAt, &tooLarge);
  version.minor = LeadingNumber(name, second + 1, &tooLarge);
  if (tooLarge) return std::nullopt;
  if (!rule->baseNumbering && version.major > 99) version.major -= 100;
  // A module shows major and minor in one byte each: anything larger cannot be compared.
  if (version.major < 1 || version.major > 255 || version.minor > 255) return std::nullopt;
  return version;
}

std::optional<uint32_t> HeaderWord(const uint8_t* bytes, size_t length, size_t index) {
  const size_t at = index * 4;
  if (!bytes || length < at + 4) return std::nullopt;
  return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
         static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

FirmwareFileCheck CheckFirmwareFile(const std::string& path, bool plcMode) {
  FirmwareFileCheck check;
  check.fileName = BaseName(path);
  check.title = plcMode ? "PLC Uploader" : "Upgrade";
  if (check.fileName.size() > kMaxFirmwareNameLength) {
    check.title = "Upgrade";
    check.message = "Der Dateiname darf maximal 210 Zeichen beinhalten!";
    return check;
  }
  check.name = ExamineFirmwareName(check.fileName, plcMode);
  if (!check.name.ok) {
    check.message = base::Format(plcMode ? "Die Datei  \"%s\" ist keine korrekte SPS-Daten-Datei!"
                                         : "Die Datei  \"%s\" ist keine korrekte Datei!",
                                 path.c_str());
    return check;
  }
  std::ifstream file(path, std::ios::binary);
  std::error_code error;
  const bool regular = std::filesystem::is_regular_file(path, error);
  const auto size = regular ? std::filesystem::file_size(path, error) : 0;
  if (!file || !regular || error) {
    check.message = base::Format("Die Datei\"%s\" Existiert nicht.", path.c_str());
    return check;
  }
  if (size > UINT32_MAX) {
    check.message = base::Format("Die Datei  \"%s\" ist keine korrekte Datei!", path.c_str());
    return check;
  }
  check.size = static_cast<uint32_t>(size);
  if (plcMode) {
    check.ok = true;
    return check;
  }
  uint8_t header[kFirmwareHeaderRead] = {};
  file.read(reinterpret_cast<char*>(header), sizeof header);
  const size_t got = static_cast<size_t>(file.gcount());
  switch (check.name.header) {
    case HeaderTest::kBase:
      if (HeaderWord(header, got, 0) != kBaseHeaderWord) {
        check.message = base::Format(
            "The file: \"%s\" is not Brevantrix FW file, or it is corrupted !", path.c_str());
        return check;
      }
      break;
    case HeaderTest::kAsia: {
      const auto word = HeaderWord(header, got, 1);
      if (word != kAsiaHeaderWord) {
        check.message = base::Format(
            "The file: \"%s\" is not Brevantrix-Asia FW file, or it is corrupted (0x%08X) !?!",
            path.c_str(), word.value_or(0));
        return check;
      }
      break;
    }
    case HeaderTest::kUx:
      if (HeaderWord(header, got, 1) != kUxHeaderWord) {
        check.title = "Brevantrix Ux Uploader";
        check.message = base::Format(
            "The file: \"%s\" is not Brevantrix Ux FW file, or it is corrupted !", path.c_str());
        return check;
      }
      break;
  }
  const auto version = VersionFromFileName(check.fileName);
  if (!version) {
    check.message =
        base::Format(check.name.mode == kModeUx
                         ? "Unable to get revision from the file: \"%s\", it has to be named like: "
                           "\"BrevantrixUX_{major_ver}_{minor_ver}.bin\" !"
                         : "Unable to get revision from the file: \"%s\", it has to be named like: "
                           "\"Brevantrix_{major_ver}_{minor_ver}.bin\" !",
                     path.c_str());
    return check;
  }
  check.version = *version;
  check.ok = true;
  return check;
}

bool IsUxFamily(uint16_t register17) {
  const uint8_t high = static_cast<uint8_t>(register17 >> 8);
  return high == 0x03 || high == 0x09 || high == 0x0C;
}

ModuleDecision DecideModule(uint16_t register17, uint16_t register25, int fileMode,
                            const FirmwareVersion& file, uint32_t fileSize) {
  if (register25 == 0) return ModuleDecision::kNotRead;
  int major = register25 >> 8;
  const int minor = register25 & 0xFF;
  if (!IsUxFamily(register17)) {
    if (fileMode == kModeUx) return ModuleDecision::kSkip;
    if (major > 2 && file.major < 3) return ModuleDecision::kDowngrade;
    const bool old = major < 3 || (major == 3 && minor < 32) || (major == 100 && minor < 58);
    const bool fileNew = file.major >= 5 || (file.major == 4 && file.minor >= 1) ||
                         file.major >= 100 || fileSize >= kBaseNewFileSize;
    return old && fileNew ? ModuleDecision::kIntermediate : ModuleDecision::kUpload;
  }
  if (fileMode != kModeUx) return ModuleDecision::kSkip;
  if (major > 99) major -= 100;
  const bool old = major < 4 || (major == 4 && minor < 18);
  const bool fileNew = file.major >= 6 || (file.major == 5 && file.minor >= 1) ||
                       file.major >= 100 || fileSize >= kUxNewFileSize;
  return old && fileNew ? ModuleDecision::kIntermediate : ModuleDecision::kUpload;
}

const IntermediateImage& IntermediateImageFor(int mode) {
  static const IntermediateImage kBase{"Brevantrix_4_0.bin", 259700};
  static const IntermediateImage kUx{"BrevantrixUX_4_18.bin", 377512};
  return mode == kModeUx ? kUx : kBase;
}

std::string FirmwareDataFolder() {
  if (const char* folder = std::getenv("QUILLMAR_FIRMWARE_DIR"); folder && *folder) return folder;
  std::error_code error;
  const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "share/quillmar/firmware";
  return (program.parent_path().parent_path() / "share" / "quillmar" / "firmware").string();
}

std::optional<std::vector<uint8_t>> LoadIntermediateImage(int mode, const std::string& folder,
                                                          std::string* error) {
  const IntermediateImage& image = IntermediateImageFor(mode);
  const std::string path = (std::filesystem::path(folder) / image.name).string();
  std::error_code code;
  if (!std::filesystem::is_regular_file(path, code)) {
    *error =
        base::Format("intermediate image \"%s\" not found in \"%s\"", image.name, folder.c_str());
    return std::nullopt;
  }
  const auto size = std::filesystem::file_size(path, code);
  if (code || size != image.size) {
    *error =
        base::Format("intermediate image \"%s\" in \"%s\" has %llu bytes, %u expected", image.name,
                     folder.c_str(), static_cast<unsigned long long>(size), image.size);
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(image.size);
  std::ifstream file(path, std::ios::binary);
  file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!file || static_cast<size_t>(file.gcount()) != bytes.size()) {
    *error = base::Format("intermediate image \"%s\" in \"%s\" cannot be read", image.name,
                          folder.c_str());
    return std::nullopt;
  }
  return bytes;
}

}  // namespace config
