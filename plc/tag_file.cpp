#include "plc/tag_file.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "base/format.h"
#include "plc/tag_request.h"

namespace plc {

using nlohmann::json;

namespace {

struct TagFileError {
  std::string text;
};

[[noreturn]] void Fail(const std::string& where, const std::string& why) {
  throw TagFileError{where + ": " + why};
}

int64_t Integer(const json& value, const std::string& where, int64_t low, int64_t high) {
  if (!value.is_number_integer())
    Fail(where, base::Format("expected a whole number from %lld to %lld",
                             static_cast<long long>(low), static_cast<long long>(high)));
  const int64_t number = value.is_number_unsigned()
                             ? static_cast<int64_t>(std::min<uint64_t>(
                                   value.get<uint64_t>(), std::numeric_limits<int64_t>::max()))
                             : value.get<int64_t>();
  if (number < low || number > high)
    Fail(where, base::Format("%lld is outside %lld..%lld", static_cast<long long>(number),
                             static_cast<long long>(low), static_cast<long long>(high)));
  return number;
}

std::string Text(const json& value, const std::string& where, bool allowEmpty) {
  if (!value.is_string()) Fail(where, "expected a text");
  std::string text = value.get<std::string>();
  if (!allowEmpty && text.empty()) Fail(where, "must not be empty");
  if (text.size() > 200) Fail(where, "longer than 200 characters");
  return text;
}

int ControlKind(const json& value, const std::string& where) {
  if (value.is_string()) {
    const std::string name = value.get<std::string>();
    if (name == "check") return kControlCheck;
    if (name == "edit") return kControlEdit;
    if (name == "combo") return kControlCombo;
    Fail(where, "expected \"check\", \"edit\" or \"combo\"");
  }
  return static_cast<int>(Integer(value, where, 1, 3));
}

PlcTag ParseTag(const json& value, const std::string& where, uint32_t dataSize) {
  static const std::set<std::string> keys = {"name",    "type",    "offset", "bit",  "control",
                                             "minimum", "maximum", "unit",   "items"};
  if (!value.is_object()) Fail(where, "expected an object");
  for (const auto& [key, unused] : value.items())
    if (!keys.count(key)) Fail(where, "unknown key \"" + key + "\"");
  PlcTag tag;
  if (!value.contains("name")) Fail(where, "a tag needs a \"name\"");
  tag.name = Text(value["name"], where + ".name", false);
  if (value.contains("type"))
    tag.type = static_cast<int>(Integer(value["type"], where + ".type", 0, 255));
  const uint16_t size = TagValueSize(tag.type);
  if (!value.contains("control")) Fail(where, "a tag needs a \"control\"");
  tag.control = ControlKind(value["control"], where + ".control");
  // A tag lies inside the data the view reads (the program's data, at most 10000 bytes): a
  // write past it would land in memory the program does not describe.
  const int64_t readSize = std::min<int64_t>(dataSize, kMaxDataSize);
  const int64_t width = tag.control == kControlCheck ? 4 : size;
  if (!value.contains("offset")) Fail(where, "a tag needs an \"offset\"");
  if (width > readSize)
    Fail(where + ".offset",
         base::Format("%lld bytes do not fit a data area of %lld bytes",
                      static_cast<long long>(width), static_cast<long long>(readSize)));
  tag.offset = static_cast<uint16_t>(Integer(
      value["offset"],
      where + ".offset" + (tag.control == kControlCheck ? " (a check box reads 4 bytes)" : ""), 0,
      readSize - width));
  if (value.contains("bit"))
    tag.bit = static_cast<uint8_t>(Integer(value["bit"], where + ".bit", 0, 31));
  // Limits and items within what the view reads back: values are read signed.
  const auto [low, high] = TagTypeRange(tag.type);
  tag.minimum = static_cast<int32_t>(low);
  tag.maximum = static_cast<int32_t>(high);
  if (value.contains("minimum"))
    tag.minimum = static_cast<int32_t>(Integer(value["minimum"], where + ".minimum", low, high));
  if (value.contains("maximum"))
    tag.maximum = static_cast<int32_t>(Integer(value["maximum"], where + ".maximum", low, high));
  if (tag.control == kControlEdit && tag.minimum > tag.maximum)
    Fail(where, "\"minimum\" is above \"maximum\"");
  if (value.contains("unit")) tag.unit = Text(value["unit"], where + ".unit", true);
  if (value.contains("items")) {
    const json& items = value["items"];
    if (!items.is_array()) Fail(where + ".items", "expected [{\"text\": T, \"value\": N}, ...]");
    for (size_t i = 0; i < items.size() && i < 256; ++i) {
      const std::string place = where + ".items[" + std::to_string(i) + "]";
      if (!items[i].is_object() || !items[i].contains("text") || !items[i].contains("value"))
        Fail(place, "expected {\"text\": T, \"value\": N}");
      ComboItem item;
      item.text = Text(items[i]["text"], place + ".text", true);
      item.value = static_cast<int32_t>(Integer(items[i]["value"], place + ".value", low, high));
      tag.items.push_back(std::move(item));
    }
    if (items.size() > 256) Fail(where + ".items", "more than 256 items");
  }
  if (tag.control == kControlCombo && tag.items.empty())
    Fail(where + ".items", "a combo box needs items");
  return tag;
}

}  // namespace

uint16_t TagValueSize(int type) {
  return type == 2 ? 1 : type == 3 ? 2 : 4;
}

std::pair<int64_t, int64_t> TagTypeRange(int type) {
  switch (TagValueSize(type)) {
    case 1:
      return {std::numeric_limits<int8_t>::min(), std::numeric_limits<int8_t>::max()};
    case 2:
      return {std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max()};
    default:
      return {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()};
  }
}

std::optional<PlcProgramInfo> ParseTagFile(const std::string& text, std::string* error) {
  try {
    if (text.size() > kMaxTagFileBytes) Fail("file", "larger than 1 MiB");
    const json root = json::parse(text, nullptr, true, false);
    if (!root.is_object()) Fail("file", "expected {\"dataSize\": N, \"tags\": [...]}");
    static const std::set<std::string> keys = {"program", "dataSize", "tags", "comment"};
    for (const auto& [key, unused] : root.items())
      if (!keys.count(key)) Fail("file", "unknown key \"" + key + "\"");
    PlcProgramInfo info;
    if (root.contains("program")) info.program = Text(root["program"], "program", true);
    if (!root.contains("dataSize")) Fail("file", "\"dataSize\" is missing");
    info.dataSize = static_cast<uint32_t>(Integer(root["dataSize"], "dataSize", 1, 65535));
    if (!root.contains("tags") || !root["tags"].is_array()) Fail("tags", "expected an array");
    const json& tags = root["tags"];
    if (tags.size() > kMaxTags) Fail("tags", base::Format("more than %zu tags", kMaxTags));
    for (size_t i = 0; i < tags.size(); ++i)
      info.tags.push_back(ParseTag(tags[i], "tags[" + std::to_string(i) + "]", info.dataSize));
    return info;
  } catch (const TagFileError& failure) {
    if (error) *error = failure.text;
  } catch (const json::exception& failure) {
    if (error) *error = std::string("not JSON: ") + failure.what();
  }
  return std::nullopt;
}

std::optional<PlcProgramInfo> LoadTagFile(const std::string& path, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    if (error) *error = path + ": cannot be opened";
    return std::nullopt;
  }
  std::string text;
  text.resize(kMaxTagFileBytes + 1);
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(file.gcount()));
  std::string why;
  auto info = ParseTagFile(text, &why);
  if (!info && error) *error = path + ": " + why;
  return info;
}

std::string TagFileForProgram(const std::string& programPath) {
  const size_t slash = programPath.find_last_of('/');
  const size_t dot = programPath.find_last_of('.');
  const bool hasExtension =
      dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  return (hasExtension ? programPath.substr(0, dot) : programPath) + ".tags.json";
}

}  // namespace plc
