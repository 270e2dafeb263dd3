// IniProfileStore: the desktop program's settings file, read and written without Qt. The file
// is the one QSettings("Corvenna", "Quillmar") keeps on Linux; its rules are followed here:
//  - a key "Section/Name" is line "Name=value" under "[Section]"; a key without a section is
//    under "[General]" (a section really called "General" is written "[%General]");
//  - in section and key names every character but letters, digits, '_', '-' and '.' is
//    written %XX (UTF-16 code units above 0xFF: %UXXXX), and '/' inside a name as '\';
//  - a value is written as UTF-8 with C escapes for control characters, '"' and '\', in
//    double quotes when it holds ';', ',' or '=' or starts or ends with a space; a value that
//    starts with '@' gets a second '@', one with a NUL character is written @String(...);
//  - reading, ';' outside quotes starts a comment, an unquoted ',' makes a list, a '\' before
//    a line end continues the line, and a line break inside quotes belongs to the value.
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "platform/profile.h"
#include "platform/tick.h"

namespace platform {
namespace {

constexpr char16_t kReplacementCharacter = 0xFFFD;
// A lock file left by a program that did not remove it counts as stale after this long (the
// desktop program's settings use the same age).
constexpr int kStaleLockSeconds = 30;
// How long a write waits for another program's lock before taking the file over.
constexpr uint32_t kLockWaitMs = 5000;

// ---- UTF-8 <-> UTF-16: the file's names and values are made of UTF-16 code units ----

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string result;
  result.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    char32_t codePoint = 0;
    if (lead < 0x80) {
      length = 1;
      codePoint = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2;
      codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      codePoint = lead & 0x07;
    }
    bool valid = length != 0 && i + length <= text.size();
    for (size_t k = 1; valid && k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        valid = false;
      } else {
        codePoint = (codePoint << 6) | (next & 0x3F);
      }
    }
    // Overlong forms, surrogates and values beyond Unicode are not characters.
    static constexpr char32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (valid && (codePoint < kSmallest[length] || codePoint > 0x10FFFF ||
                  (codePoint >= 0xD800 && codePoint <= 0xDFFF))) {
      valid = false;
    }
    if (!valid) {
      result.push_back(kReplacementCharacter);
      ++i;
      continue;
    }
    if (codePoint >= 0x10000) {
      codePoint -= 0x10000;
      result.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
      result.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
    } else {
      result.push_back(static_cast<char16_t>(codePoint));
    }
    i += length;
  }
  return result;
}

void AppendUtf8(char32_t codePoint, std::string& out) {
  if (codePoint < 0x80) {
    out.push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      AppendUtf8(0x10000 + ((static_cast<char32_t>(unit - 0xD800) << 10) | (text[i + 1] - 0xDC00)),
                 result);
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendUtf8(kReplacementCharacter, result);  // a lone half of a pair
    } else {
      AppendUtf8(unit, result);
    }
  }
  return result;
}

bool IsHexDigit(char16_t c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char16_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

// ---- names ----

std::string EscapedName(const std::string& name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string result;
  for (const char16_t unit : Utf8ToUtf16(name)) {
    if (unit == '/') {
      result += '\\';
    } else if ((unit >= 'a' && unit <= 'z') || (unit >= 'A' && unit <= 'Z') ||
               (unit >= '0' && unit <= '9') || unit == '_' || unit == '-' || unit == '.') {
      result += static_cast<char>(unit);
    } else if (unit <= 0xFF) {
      result += '%';
      result += kHex[unit >> 4];
      result += kHex[unit & 0xF];
    } else {
      result += "%U";
      for (int shift = 12; shift >= 0; shift -= 4) result += kHex[(unit >> shift) & 0xF];
    }
  }
  return result;
}

std::string UnescapedName(const std::string& text) {
  const std::u16string units = Utf8ToUtf16(text);
  std::u16string result;
  size_t i = 0;
  while (i < units.size()) {
    const char16_t unit = units[i];
    if (unit == '\\') {
      result += u'/';
      ++i;
      continue;
    }
    if (unit != '%' || i + 1 == units.size()) {
      result += unit;
      ++i;
      continue;
    }
    size_t firstDigit = i + 1;
    size_t digits = 2;
    if (units[firstDigit] == 'U') {
      ++firstDigit;
      digits = 4;
    }
    bool valid = firstDigit + digits <= units.size();
    char16_t value = 0;
    for (size_t k = 0; valid && k < digits; ++k) {
      const char16_t digit = units[firstDigit + k];
      if (!IsHexDigit(digit)) {
        valid = false;
      } else {
        value = static_cast<char16_t>((value << 4) | HexValue(digit));
      }
    }
    if (!valid) {
      result += u'%';
      ++i;
      continue;
    }
    result += value;
    i = firstDigit + digits;
  }
  return Utf16ToUtf8(result);
}

// "Section/Name" without empty parts: the form the keys are compared in.
std::string NormalizedKey(const std::string& key) {
  std::string result;
  for (const char c : key) {
    if (c == '/' && (result.empty() || result.back() == '/')) continue;
    result += c;
  }
  if (!result.empty() && result.back() == '/') result.pop_back();
  return result;
}

// ---- values ----

std::string EscapedValue(const std::string& value) {
  std::u16string units = Utf8ToUtf16(value);
  if (units.find(u'\0') != std::u16string::npos) {
    units = u"@String(" + units + u")";
  } else if (!units.empty() && units.front() == '@') {
    units.insert(units.begin(), u'@');
  }
  // Every character above 0x7F goes out as UTF-8, so the units are handled as code points.
  const std::string utf8 = Utf16ToUtf8(units);
  std::string result;
  bool needsQuotes = false;
  bool escapeNextIfHexDigit = false;  // a digit after \x.. would be read as part of it
  for (const char c : utf8) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == ';' || c == ',' || c == '=') needsQuotes = true;
    if (escapeNextIfHexDigit && IsHexDigit(byte)) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%x", byte);
      result += escaped;
      continue;
    }
    escapeNextIfHexDigit = false;
    switch (c) {
      case '\0':
        result += "\\0";
        escapeNextIfHexDigit = true;
        break;
      case '\a':
        result += "\\a";
        break;
      case '\b':
        result += "\\b";
        break;
      case '\f':
        result += "\\f";
        break;
      case '\n':
        result += "\\n";
        break;
      case '\r':
        result += "\\r";
        break;
      case '\t':
        result += "\\t";
        break;
      case '\v':
        result += "\\v";
        break;
      case '"':
      case '\\':
        result += '\\';
        result += c;
        break;
      default:
        if (byte <= 0x1F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\x%x", byte);
          result += escaped;
          escapeNextIfHexDigit = true;
        } else {
          result += c;
        }
    }
  }
  if (needsQuotes || (!result.empty() && (result.front() == ' ' || result.back() == ' '))) {
    result = '"' + result + '"';
  }
  return result;
}

void ChopTrailingSpaces(std::u16string& text, size_t limit) {
  while (text.size() > limit && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
}

// The text of a stored value as the desktop program reads it back as a string: a list of one
// item is that item; a list of several, or a value of another type, reads as empty.
std::string ValueText(const std::string& raw) {
  static constexpr char kEscapes[][2] = {{'a', '\a'}, {'b', '\b'},  {'f', '\f'}, {'n', '\n'},
                                         {'r', '\r'}, {'t', '\t'},  {'v', '\v'}, {'"', '"'},
                                         {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
  std::vector<std::u16string> items;
  std::u16string current;
  bool inQuotes = false;
  bool currentQuoted = false;
  size_t chopLimit = 0;
  size_t i = 0;
  auto skipSpaces = [&] {
    while (i < raw.size() && (raw[i] == ' ' || raw[i] == '\t')) ++i;
  };
  skipSpaces();
  while (i < raw.size()) {
    const char c = raw[i];
    if (c == '\\') {
      ++i;
      if (i >= raw.size()) break;
      const char escape = raw[i++];
      bool named = false;
      for (const auto& pair : kEscapes) {
        if (escape == pair[0]) {
          current += static_cast<char16_t>(pair[1]);
          named = true;
          break;
        }
      }
      if (!named) {
        if (escape == 'x' || (escape >= '0' && escape <= '7')) {
          const bool hex = escape == 'x';
          char16_t value = hex ? 0 : static_cast<char16_t>(escape - '0');
          size_t digits = hex ? 0 : 1;
          while (i < raw.size()) {
            const char digit = raw[i];
            if (hex ? !IsHexDigit(static_cast<unsigned char>(digit))
                    : (digit < '0' || digit > '7')) {
              break;
            }
            value = static_cast<char16_t>(hex ? (value << 4) | HexValue(digit)
                                              : (value << 3) | (digit - '0'));
            ++i;
            ++digits;
          }
          if (digits > 0) current += value;  // \x without a digit stands for nothing
        } else if (escape == '\n' || escape == '\r') {
          // A continued line: the break and its partner (CR LF or LF CR) are left out.
          if (i < raw.size() && (raw[i] == '\n' || raw[i] == '\r') && raw[i] != escape) ++i;
        }
        // Any other escaped character is left out.
      }
      chopLimit = current.size();
    } else if (c == '"') {
      ++i;
      currentQuoted = true;
      inQuotes = !inQuotes;
      if (!inQuotes) skipSpaces();
    } else if (c == ',' && !inQuotes) {
      if (!currentQuoted) ChopTrailingSpaces(current, chopLimit);
      items.push_back(current);
      current.clear();
      chopLimit = 0;
      currentQuoted = false;
      ++i;
      skipSpaces();
    } else {
      size_t end = i + 1;
      while (end < raw.size() && raw[end] != '\\' && raw[end] != '"' && raw[end] != ',') ++end;
      current += Utf8ToUtf16(raw.substr(i, end - i));
      i = end;
    }
  }
  if (!currentQuoted) ChopTrailingSpaces(current, chopLimit);
  if (!items.empty()) {
    items.push_back(current);
    return std::string();  // a list of several texts
  }
  // Values of other types are marked by a leading '@'.
  std::u16string& text = current;
  if (!text.empty() && text.front() == '@') {
    if (text.back() == ')') {
      if (text.rfind(u"@String(", 0) == 0) return Utf16ToUtf8(text.substr(8, text.size() - 9));
      if (text.rfind(u"@ByteArray(", 0) == 0) {
        std::string bytes;
        for (size_t k = 11; k + 1 < text.size(); ++k) {
          bytes += text[k] <= 0xFF ? static_cast<char>(text[k]) : '?';
        }
        return Utf16ToUtf8(Utf8ToUtf16(bytes));
      }
      // Values that are no text: a window's geometry, a date, an empty entry.
      for (const char16_t* other :
           {u"@Variant(", u"@DateTime(", u"@Rect(", u"@Size(", u"@Point(", u"@Invalid("}) {
        if (text.rfind(other, 0) == 0) return std::string();
      }
    }
    if (text.rfind(u"@@", 0) == 0) return Utf16ToUtf8(text.substr(1));
  }
  return Utf16ToUtf8(text);
}

// ---- the file ----

struct Entry {
  std::string key;   // the whole key, "Section/Name", normalized
  std::string line;  // the line as it stands in the file: name=value
};

struct Section {
  std::string name;  // "" for [General]
  std::vector<Entry> entries;
};

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string Trimmed(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsSpace(text[begin])) ++begin;
  while (end > begin && IsSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// The next logical line from `pos`: its start and length, and the position of its first '='
// outside quotes (npos when none). False at the end of the data.
bool NextLine(const std::string& data, size_t& pos, size_t& start, size_t& length, size_t& equals) {
  bool inQuotes = false;
  equals = std::string::npos;
  start = pos;
  while (start < data.size() && IsSpace(data[start])) ++start;
  size_t i = start;
  while (i < data.size()) {
    const char c = data[i++];
    if (c == '=') {
      if (!inQuotes && equals == std::string::npos) equals = i - 1;
    } else if (c == '\n' || c == '\r') {
      if (i == start + 1) {
        ++start;
      } else if (!inQuotes) {
        --i;
        break;
      }
    } else if (c == '\\') {
      if (i < data.size()) {
        const char escaped = data[i++];
        if (i < data.size()) {
          const char next = data[i];
          if ((escaped == '\n' && next == '\r') || (escaped == '\r' && next == '\n')) ++i;
        }
      }
    } else if (c == '"') {
      inQuotes = !inQuotes;
    } else if (c == ';') {
      if (i == start + 1) {
        // A comment line.
        while (i < data.size() && data[i] != '\n' && data[i] != '\r') ++i;
        while (i < data.size() && IsSpace(data[i])) ++i;
        start = i;
      } else if (!inQuotes) {
        --i;  // a comment after the entry: the next line starts there and is skipped
        break;
      }
    }
  }
  pos = i;
  length = i - start;
  return length > 0;
}

std::vector<Section> ParseFile(const std::string& text) {
  std::vector<Section> sections;
  const std::string data = text.rfind("\xEF\xBB\xBF", 0) == 0 ? text.substr(3) : text;
  size_t pos = 0;
  size_t start = 0;
  size_t length = 0;
  size_t equals = 0;
  std::string prefix;  // "Section/" of the current section, "" under [General]
  auto sectionNamed = [&sections](const std::string& name) -> Section& {
    for (Section& section : sections) {
      if (section.name == name) return section;
    }
    sections.push_back(Section{name, {}});
    return sections.back();
  };
  while (NextLine(data, pos, start, length, equals)) {
    const std::string line = data.substr(start, length);
    if (line[0] == '[') {
      const size_t close = line.find(']');
      std::string name =
          Trimmed(close == std::string::npos ? line.substr(1) : line.substr(1, close - 1));
      if (strcasecmp(name.c_str(), "general") == 0) {
        prefix.clear();
      } else if (strcasecmp(name.c_str(), "%general") == 0) {
        prefix = name.substr(1) + '/';
      } else {
        prefix = UnescapedName(name) + '/';
      }
      continue;
    }
    if (equals == std::string::npos) continue;
    const std::string name = Trimmed(data.substr(start, equals - start));
    const std::string key = NormalizedKey(prefix + UnescapedName(name));
    if (key.empty()) continue;
    const std::string sectionName = prefix.empty() ? std::string() : NormalizedKey(prefix);
    std::string entryLine = Trimmed(line);
    sectionNamed(sectionName).entries.push_back(Entry{key, entryLine});
  }
  return sections;
}

// The value text of an entry's line.
std::string RawValue(const std::string& line) {
  size_t pos = 0;
  size_t start = 0;
  size_t length = 0;
  size_t equals = 0;
  NextLine(line, pos, start, length, equals);
  if (equals == std::string::npos) return std::string();
  return line.substr(equals + 1, start + length - equals - 1);
}

std::string SectionHeader(const std::string& name) {
  if (name.empty()) return "[General]";
  const std::string escaped = EscapedName(name);
  if (strcasecmp(escaped.c_str(), "general") == 0) return "[%General]";
  return '[' + escaped + ']';
}

std::string FileText(const std::vector<Section>& sections) {
  std::string text;
  bool first = true;
  for (const Section& section : sections) {
    if (section.entries.empty()) continue;
    if (!first) text += '\n';
    first = false;
    text += SectionHeader(section.name) + '\n';
    for (const Entry& entry : section.entries) text += entry.line + '\n';
  }
  return text;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[8192];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  return text;
}

std::optional<std::string> LookUp(const std::string& path, const std::string& key) {
  const std::optional<std::string> text = ReadWholeFile(path);
  if (!text) return std::nullopt;
  std::optional<std::string> found;
  for (const Section& section : ParseFile(*text)) {
    for (const Entry& entry : section.entries) {
      if (entry.key == key) found = ValueText(RawValue(entry.line));  // the last one counts
    }
  }
  return found;
}

bool MakeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1); slash != std::string::npos;
       slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  return mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST;
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}

// The lock file beside the settings file, in the form the desktop program's settings write
// and honour: created exclusively, holding "pid\nprogram\nhost\n", removed when done.
class SettingsLock {
 public:
  explicit SettingsLock(std::string path) : path_(std::move(path)) {
    const uint32_t start = GetTickCount();
    for (;;) {
      fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0) break;
      if (errno != EEXIST) return;  // no lock possible here (read-only folder): write anyway
      if (IsStale() || TicksSince(start) >= kLockWaitMs) {
        unlink(path_.c_str());
        continue;
      }
      SleepMs(10);
    }
    const std::string text =
        std::to_string(getpid()) + '\n' + program_invocation_short_name + '\n' + HostName() + '\n';
    if (write(fd_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      // The content only helps others find a stale lock; the lock holds without it.
    }
    flock(fd_, LOCK_EX | LOCK_NB);
  }
  ~SettingsLock() {
    if (fd_ < 0) return;
    unlink(path_.c_str());
    close(fd_);
  }
  SettingsLock(const SettingsLock&) = delete;
  SettingsLock& operator=(const SettingsLock&) = delete;

 private:
  // Left by a process of this host that has ended, or older than any write takes.
  bool IsStale() const {
    struct stat info {};
    if (stat(path_.c_str(), &info) != 0) return false;  // gone meanwhile: try again
    if (std::time(nullptr) - info.st_mtime > kStaleLockSeconds) return true;
    const std::optional<std::string> text = ReadWholeFile(path_);
    if (!text) return false;
    const size_t firstEnd = text->find('\n');
    const size_t secondEnd =
        firstEnd == std::string::npos ? std::string::npos : text->find('\n', firstEnd + 1);
    const size_t thirdEnd =
        secondEnd == std::string::npos ? std::string::npos : text->find('\n', secondEnd + 1);
    if (thirdEnd == std::string::npos) return false;  // still being written
    const std::string host = text->substr(secondEnd + 1, thirdEnd - secondEnd - 1);
    if (host != HostName()) return false;
    char* end = nullptr;
    const long pid = std::strtol(text->c_str(), &end, 10);
    if (end == text->c_str() || pid <= 0) return true;
    return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
  }

  std::string path_;
  int fd_ = -1;
};

}  // namespace

std::string UserConfigFolder() {
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  if (configHome && configHome[0] == '/') {
    std::string folder = configHome;
    if (folder.back() != '/') folder += '/';
    return folder;
  }
  std::string home;
  if (const char* homeVariable = std::getenv("HOME"); homeVariable && homeVariable[0]) {
    home = homeVariable;
  } else if (const passwd* user = getpwuid(getuid()); user && user->pw_dir) {
    home = user->pw_dir;
  } else {
    home = "/";
  }
  if (home.back() != '/') home += '/';
  return home + ".config/";
}

IniProfileStore::IniProfileStore()
    : IniProfileStore(UserConfigFolder(), "/etc/xdg/", kOrganization, kApplication) {}

IniProfileStore::IniProfileStore(std::string userFolder, std::string systemFolder,
                                 std::string organization, std::string application) {
  if (!userFolder.empty() && userFolder.back() != '/') userFolder += '/';
  if (!systemFolder.empty() && systemFolder.back() != '/') systemFolder += '/';
  files_ = {userFolder + organization + '/' + application + ".conf",
            userFolder + organization + ".conf",
            systemFolder + organization + '/' + application + ".conf",
            systemFolder + organization + ".conf"};
}

std::string IniProfileStore::GetString(const std::string& section, const std::string& key,
                                       const std::string& defaultValue) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string wholeKey = NormalizedKey(section + '/' + key);
  for (const std::string& file : files_) {
    if (std::optional<std::string> value = LookUp(file, wholeKey)) return *value;
  }
  return defaultValue;
}

void IniProfileStore::SetString(const std::string& section, const std::string& key,
                                const std::string& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string wholeKey = NormalizedKey(section + '/' + key);
  if (wholeKey.empty()) return;
  const std::string& path = files_.front();
  const std::string folder = path.substr(0, path.rfind('/'));
  lastWriteError_.clear();
  if (!MakeFolders(folder)) {
    lastWriteError_ = "cannot make " + folder + ": " + std::strerror(errno);
    return;
  }
  SettingsLock settingsLock(path + ".lock");

  std::vector<Section> sections = ParseFile(ReadWholeFile(path).value_or(std::string()));
  for (Section& existing : sections) {
    std::erase_if(existing.entries, [&](const Entry& entry) { return entry.key == wholeKey; });
  }
  const size_t slash = wholeKey.find('/');
  const std::string sectionName = slash == std::string::npos ? "" : wholeKey.substr(0, slash);
  const std::string name = slash == std::string::npos ? wholeKey : wholeKey.substr(slash + 1);
  Section* target = nullptr;
  for (Section& existing : sections) {
    if (existing.name == sectionName) target = &existing;
    if (target) break;
  }
  if (!target) {
    sections.push_back(Section{sectionName, {}});
    target = &sections.back();
  }
  // Entries stay in order of their names, as the desktop program writes them.
  auto place = target->entries.begin();
  while (place != target->entries.end() && place->key < wholeKey) ++place;
  target->entries.insert(place, Entry{wholeKey, EscapedName(name) + '=' + EscapedValue(value)});

  // A new file renamed over the old one: a reader sees the old entries or the new, never half.
  const std::string text = FileText(sections);
  std::string temporary = path + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    lastWriteError_ = "cannot write in " + folder + ": " + std::strerror(errno);
    return;
  }
  struct stat old {};
  if (stat(path.c_str(), &old) == 0) {
    fchmod(fd, old.st_mode & 07777);
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
  }
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  const bool complete = written == text.size() && fsync(fd) == 0;
  const int writeErrno = errno;
  close(fd);
  if (!complete || rename(temporary.c_str(), path.c_str()) != 0) {
    lastWriteError_ = "cannot write " + path + ": " + std::strerror(complete ? errno : writeErrno);
    unlink(temporary.c_str());
  }
}

std::string IniProfileStore::LastWriteError() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastWriteError_;
}

}  // namespace platform
