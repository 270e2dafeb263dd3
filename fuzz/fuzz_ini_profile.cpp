// The settings file the command-line program reads and rewrites: any bytes as the file's text.
// Reading must never fail or read outside the text; a value written is read back as written
// (where the text's lines stand alone), and a second write leaves the file as the first did.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/profile.h"

namespace {

// One folder for the whole run, under the temporary folder the run was given.
const std::string& RunFolder() {
  static const std::string folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz_ini_XXXXXX";
    if (!mkdtemp(pattern.data())) __builtin_trap();
    return pattern + "/";
  }();
  return folder;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::IniProfileStore store(RunFolder() + "user", RunFolder() + "system", "Maker", "Tool");
  const std::string path = store.FilePath();
  // The store makes its folders when it first writes; the text then goes in place.
  static const bool folderMade = (store.SetString("Settings", "Default Net", "x"), true);
  (void)folderMade;
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

  (void)store.GetString("Settings", "Default Net", "");
  (void)store.GetString("Settings", "BackUp_Location", "");
  (void)store.GetString("", "General", "");

  // A value of the characters a folder or address may hold, those the file format must escape
  // among them (quotes, separators, backslashes, leading and trailing blanks).
  static constexpr char kChars[] = "aZ09 /\\\";=#,[]%.-_";
  std::string value;
  for (size_t i = 0; i < size && i < 40; ++i) value += kChars[data[i] % (sizeof kChars - 1)];
  store.SetString("Settings", "BackUp_Location", value);
  if (!store.LastWriteError().empty()) return 0;
  // An open quote or a trailing backslash joins the lines after it into one entry, as the
  // desktop program reads the file too: the value written is then read back only from a text
  // without them.
  const std::string text(reinterpret_cast<const char*>(data), size);
  const bool linesStandAlone =
      std::count(text.begin(), text.end(), '"') % 2 == 0 && text.find('\\') == std::string::npos;
  if (!linesStandAlone) return 0;
  if (store.GetString("Settings", "BackUp_Location", "unset") != value) __builtin_trap();
  const std::string once = ReadAll(path);
  store.SetString("Settings", "BackUp_Location", value);
  if (ReadAll(path) != once) __builtin_trap();
  return 0;
}
