#include "config/firmware_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "environment/test_folders.h"

namespace {

using config::DecideModule;
using config::FirmwareVersion;
using config::ModuleDecision;

struct NameCase {
  const char* name;
  bool readable;
  int major;
  int minor;
};

TEST(FirmwareFile, VersionFromTheFileName) {
  const NameCase cases[] = {
      {"Brevantrix_4_12.bin", true, 4, 12},
      {"OVT_104_2.bin", true, 4, 2},
      {"BrevantrixUX_4_18.bin", true, 4, 18},
      {"BrevantrixUX_105_1.bin", true, 5, 1},
      {"Brevantrix-Asia_4_3.bin", true, 4, 3},
      {"Brevantrix_99_99.bin", true, 99, 99},
      {"Brevantrix_104_2.bin", true, 104, 2},  // base names keep the major as it stands
      {"Glassenvale_5_7.bin", true, 5, 7},
      {"UX-SPI-SLAVE_1_2.bin", true, 1, 2},
      {"TORMWEXALIN_V4_9.bin", true, 4, 9},
      {"/some/folder/Brevantrix_3_20.bin", true, 3, 20},
      {"Brevantrix_4_5b.bin", true, 4, 5},   // the minor ends at the first non-digit
      {"Brevantrix_0_5.bin", false, 0, 0},   // major below 1
      {"Brevantrix_4.bin", false, 0, 0},     // no second '_'
      {"Brevantrix4_1_2.bin", false, 0, 0},  // first '_' at 11: not a base position
      {"OVT__4_2.bin", false, 0, 0},
      {"Brevantrix_4_99999999999999.bin", false, 0, 0},  // no byte holds it
      {"Brevantrix_300_1.bin", false, 0, 0},
      {"Unknown_4_1.bin", false, 0, 0},
  };
  for (const NameCase& c : cases) {
    const auto version = config::VersionFromFileName(c.name);
    EXPECT_EQ(version.has_value(), c.readable) << c.name;
    if (version && c.readable) {
      EXPECT_EQ(version->major, c.major) << c.name;
      EXPECT_EQ(version->minor, c.minor) << c.name;
    }
  }
  EXPECT_TRUE(config::VersionFromFileName("Brevantrix_99_99.bin")->Bypass());
  EXPECT_FALSE(config::VersionFromFileName("Brevantrix_99_98.bin")->Bypass());
}

struct PrefixCase {
  const char* name;
  bool known;
  int mode;
  const char* remote;
};

TEST(FirmwareFile, PrefixModeAndRemoteName) {
  const PrefixCase cases[] = {
      {"BREVANTRIX_4_12.BIN", true, config::kModeBase, "Brevantrix_4_12.BIN"},
      {"brevantrix_4_12.bin", true, config::kModeBase, "Brevantrix_4_12.bin"},
      {"Brevantrix-Asia_4_3.bin", true, config::kModeBase, "Brevantrix-Asia_4_3.bin"},
      {"BrevantrixUX_4_18.bin", true, config::kModeUx, "OVT_4_18.bin"},
      {"OVT_104_2.bin", true, config::kModeUx, "OVT_104_2.bin"},
      {"GLASSENVALE_5_1.bin", true, config::kModeUx, "Glassenvale_5_1.bin"},
      {"Ux-Spi-Slave_1_2.bin", true, config::kModeUx, "PELSKORN_1_2.bin"},
      {"Tormwexalin_V4_9.bin", true, config::kModeBase, "OVT_4_9.bin"},
      {"Tormwexalin_4_9.bin", true, config::kModeBase, "OVT_4_9.bin"},
      {"Brevantrix_4_12.hex", false, 0, ""},
      {"Other_4_12.bin", false, 0, ""},
      {".bin", false, 0, ""},
  };
  for (const PrefixCase& c : cases) {
    const auto name = config::ExamineFirmwareName(c.name, false);
    EXPECT_EQ(name.ok, c.known) << c.name;
    if (!c.known) continue;
    EXPECT_EQ(name.mode, c.mode) << c.name;
    EXPECT_EQ(name.remoteName, c.remote) << c.name;
  }
  // A module keeps its program only under "PlcData_.bin"; any other name is firmware to it.
  for (const char* name : {"PLCDATA_line4.bin", "PLCDATA_Line7.bin", "/x/PLCDATA_.BIN"}) {
    const auto plc = config::ExamineFirmwareName(name, true);
    EXPECT_TRUE(plc.ok) << name;
    EXPECT_EQ(plc.remoteName, "PlcData_.bin") << name;
  }
  // The program tool's names hold "PLCDATA_", as the connections page requires.
  EXPECT_FALSE(config::ExamineFirmwareName("plcdata_line4.bin", true).ok);
  EXPECT_FALSE(config::ExamineFirmwareName("PLCDATA-line4.bin", true).ok);
  EXPECT_FALSE(config::ExamineFirmwareName("Brevantrix_4_12.bin", true).ok);
  EXPECT_FALSE(config::ExamineFirmwareName("PLCDATA_line4.bin", false).ok);
}

// A file in the test's own folder with the given first words and size.
std::string WriteFile(const std::string& name, uint32_t word0, uint32_t word1, size_t size) {
  const std::string folder = fixtures::TestRunFolder() + "fw/";
  std::filesystem::create_directories(folder);
  std::vector<uint8_t> bytes(size, 0x5A);
  for (int i = 0; i < 4 && 4 + i < static_cast<int>(size); ++i) {
    bytes[i] = static_cast<uint8_t>(word0 >> (8 * i));
    bytes[4 + i] = static_cast<uint8_t>(word1 >> (8 * i));
  }
  std::ofstream(folder + name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
  return folder + name;
}

TEST(FirmwareFile, CheckGivesTheRefusalTexts) {
  const std::string good = WriteFile("Brevantrix_4_12.bin", config::kBaseHeaderWord, 0, 1000);
  auto check = config::CheckFirmwareFile(good, false);
  EXPECT_TRUE(check.ok) << check.message;
  EXPECT_EQ(check.size, 1000u);
  EXPECT_EQ(check.version, (FirmwareVersion{4, 12}));

  const std::string badHeader = WriteFile("Brevantrix_4_13.bin", 0x12345678, 0, 1000);
  check = config::CheckFirmwareFile(badHeader, false);
  EXPECT_FALSE(check.ok);
  EXPECT_EQ(check.message,
            "The file: \"" + badHeader + "\" is not Brevantrix FW file, or it is corrupted !");

  const std::string asia = WriteFile("Brevantrix-Asia_4_3.bin", 0, 0xABCD, 100);
  check = config::CheckFirmwareFile(asia, false);
  EXPECT_EQ(check.message, "The file: \"" + asia +
                               "\" is not Brevantrix-Asia FW file, or it is corrupted "
                               "(0x0000ABCD) !?!");

  const std::string ux = WriteFile("OVT_104_2.bin", 0, 1200, 100);
  check = config::CheckFirmwareFile(ux, false);
  EXPECT_EQ(check.title, "Brevantrix Ux Uploader");
  EXPECT_EQ(check.message,
            "The file: \"" + ux + "\" is not Brevantrix Ux FW file, or it is corrupted !");

  const std::string uxGood = WriteFile("OVT_104_2.bin", 0, 1201, 100);
  EXPECT_TRUE(config::CheckFirmwareFile(uxGood, false).ok);

  // Shorter than the word tested: refused, not read past the end.
  const std::string tiny = WriteFile("OVT_104_3.bin", 0, 0, 5);
  EXPECT_FALSE(config::CheckFirmwareFile(tiny, false).ok);

  const std::string noVersion = WriteFile("BrevantrixUX_x_1.bin", 0, 1201, 100);
  check = config::CheckFirmwareFile(noVersion, false);
  EXPECT_EQ(check.message, "Unable to get revision from the file: \"" + noVersion +
                               "\", it has to be named like: "
                               "\"BrevantrixUX_{major_ver}_{minor_ver}.bin\" !");

  check = config::CheckFirmwareFile("/nonexistent/Brevantrix_4_1.bin", false);
  EXPECT_EQ(check.message, "Die Datei\"/nonexistent/Brevantrix_4_1.bin\" Existiert nicht.");

  check = config::CheckFirmwareFile("/x/firmware.bin", false);
  EXPECT_EQ(check.message, "Die Datei  \"/x/firmware.bin\" ist keine korrekte Datei!");
  check = config::CheckFirmwareFile("/x/firmware.bin", true);
  EXPECT_EQ(check.message, "Die Datei  \"/x/firmware.bin\" ist keine korrekte SPS-Daten-Datei!");
  EXPECT_EQ(check.title, "PLC Uploader");
}

TEST(FirmwareFile, NameLengthLimit) {
  // 214 characters are taken, 215 refused (before anything else is looked at).
  const std::string stem = "Brevantrix_4_12_";
  const std::string at214 = stem + std::string(214 - stem.size() - 4, 'a') + ".bin";
  const std::string at215 = stem + std::string(215 - stem.size() - 4, 'a') + ".bin";
  ASSERT_EQ(at214.size(), 214u);
  const std::string path = WriteFile(at214, config::kBaseHeaderWord, 0, 64);
  EXPECT_TRUE(config::CheckFirmwareFile(path, false).ok);
  const auto check = config::CheckFirmwareFile("/tmp/" + at215, false);
  EXPECT_FALSE(check.ok);
  EXPECT_EQ(check.message, "Der Dateiname darf maximal 210 Zeichen beinhalten!");
  EXPECT_EQ(check.title, "Upgrade");
}

struct DecisionCase {
  const char* what;
  uint16_t register17;
  uint16_t register25;
  int mode;
  FirmwareVersion file;
  uint32_t size;
  ModuleDecision expected;
};

TEST(FirmwareFile, IntermediateAndVersionRules) {
  constexpr uint16_t kBase = 0x0001, kUx = 0x0901, kUx03 = 0x0301, kUx0C = 0x0C02;
  const int B = config::kModeBase, U = config::kModeUx;
  const DecisionCase cases[] = {
      {"base 3.20 to 4.5: intermediate",
       kBase,
       0x0314,
       B,
       {4, 5},
       300000,
       ModuleDecision::kIntermediate},
      {"base 3.20 to 4.0 small: direct", kBase, 0x0314, B, {4, 0}, 200000, ModuleDecision::kUpload},
      {"base 3.20, 4.0 file of 262144 bytes",
       kBase,
       0x0314,
       B,
       {4, 0},
       262144,
       ModuleDecision::kIntermediate},
      {"base 3.32 to 4.5: direct", kBase, 0x0320, B, {4, 5}, 300000, ModuleDecision::kUpload},
      {"base 3.31 to 4.1", kBase, 0x031F, B, {4, 1}, 1000, ModuleDecision::kIntermediate},
      {"base 100.57 to 5.0", kBase, 0x6439, B, {5, 0}, 1000, ModuleDecision::kIntermediate},
      {"base 100.58 to 5.0", kBase, 0x643A, B, {5, 0}, 1000, ModuleDecision::kUpload},
      {"base module, Ux file", kBase, 0x0412, U, {4, 20}, 1000, ModuleDecision::kSkip},
      {"base 4.12 to 2.9: downgrade", kBase, 0x040C, B, {2, 9}, 1000, ModuleDecision::kDowngrade},
      {"base 2.5 to 2.9: no downgrade", kBase, 0x0205, B, {2, 9}, 1000, ModuleDecision::kUpload},
      {"not read", kBase, 0x0000, B, {4, 5}, 1000, ModuleDecision::kNotRead},
      {"Ux 104.17 to 5.1: intermediate",
       kUx,
       0x6811,
       U,
       {5, 1},
       1000,
       ModuleDecision::kIntermediate},
      {"Ux 104.18 to 5.1: direct", kUx, 0x6812, U, {5, 1}, 1000, ModuleDecision::kUpload},
      {"Ux 104.10 to 5.0 small", kUx03, 0x680A, U, {5, 0}, 1000, ModuleDecision::kUpload},
      {"Ux 104.10, 5.0 of 393216 bytes",
       kUx0C,
       0x680A,
       U,
       {5, 0},
       393216,
       ModuleDecision::kIntermediate},
      {"Ux module, base file", kUx, 0x6812, B, {4, 5}, 1000, ModuleDecision::kSkip},
      {"Ux module, base file, downgrade-like", kUx, 0x6812, B, {2, 5}, 1000, ModuleDecision::kSkip},
  };
  for (const DecisionCase& c : cases) {
    EXPECT_EQ(DecideModule(c.register17, c.register25, c.mode, c.file, c.size), c.expected)
        << c.what;
  }
}

TEST(FirmwareFile, IntermediateImagesFromTheDataFolder) {
  const std::string folder = fixtures::TestRunFolder() + "images/";
  std::filesystem::create_directories(folder);
  std::string error;
  EXPECT_FALSE(config::LoadIntermediateImage(config::kModeBase, folder, &error));
  EXPECT_NE(error.find("Brevantrix_4_0.bin"), std::string::npos) << error;
  EXPECT_NE(error.find("not found"), std::string::npos) << error;

  { std::ofstream(folder + "Brevantrix_4_0.bin", std::ios::binary) << std::string(259699, 'x'); }
  error.clear();
  EXPECT_FALSE(config::LoadIntermediateImage(config::kModeBase, folder, &error));
  EXPECT_NE(error.find("259699 bytes, 259700 expected"), std::string::npos) << error;

  {
    std::ofstream(folder + "Brevantrix_4_0.bin", std::ios::binary) << std::string(259700, 'x');
    std::ofstream(folder + "BrevantrixUX_4_18.bin", std::ios::binary) << std::string(377512, 'u');
  }
  const auto base = config::LoadIntermediateImage(config::kModeBase, folder, &error);
  ASSERT_TRUE(base);
  EXPECT_EQ(base->size(), 259700u);
  const auto ux = config::LoadIntermediateImage(config::kModeUx, folder, &error);
  ASSERT_TRUE(ux);
  EXPECT_EQ(ux->size(), 377512u);
  EXPECT_EQ((*ux)[0], 'u');

  setenv("QUILLMAR_FIRMWARE_DIR", folder.c_str(), 1);
  EXPECT_EQ(config::FirmwareDataFolder(), folder);
  unsetenv("QUILLMAR_FIRMWARE_DIR");
  EXPECT_NE(config::FirmwareDataFolder().find("share/quillmar/firmware"), std::string::npos);
}

}  // namespace
