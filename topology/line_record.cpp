#include "topology/line_record.h"

#include <map>
#include <set>

#include "base/format.h"

namespace topology {

using nlohmann::json;

namespace {

using ModulesBySerial = std::map<uint32_t, const json*>;

ModulesBySerial BySerial(const json& document) {
  ModulesBySerial out;
  for (const json& m : document.at("modules")) out[m.at("serial").get<uint32_t>()] = &m;
  return out;
}

// The serial of the module on the PC's switch that the parents lead to (a loop or a parent
// outside the drawing ends the walk where it is).
uint32_t ChainOf(const ModulesBySerial& modules, uint32_t serial) {
  std::set<uint32_t> seen;
  uint32_t at = serial;
  for (;;) {
    seen.insert(at);
    const auto found = modules.find(at);
    if (found == modules.end()) return at;
    const json& parent = found->second->at("parent");
    if (parent.is_null()) return at;
    const uint32_t next = parent.get<uint32_t>();
    if (seen.count(next) != 0 || modules.count(next) == 0) return at;
    at = next;
  }
}

std::string Text(const json& module, const char* key) {
  if (!module.contains(key) || module.at(key).is_null()) return std::string();
  const json& value = module.at(key);
  return value.is_string() ? value.get<std::string>() : value.dump();
}

}  // namespace

bool IsLineRecord(const json& record, std::string* reason) {
  if (!record.is_object() || !record.contains("modules") || !record["modules"].is_array()) {
    *reason = "it is not a saved topology (no \"modules\" list)";
    return false;
  }
  std::set<uint32_t> serials;
  for (const json& m : record["modules"]) {
    const bool ok =
        m.is_object() && m.contains("serial") && m["serial"].is_number_unsigned() &&
        m["serial"].get<uint64_t>() <= 0xFFFFFFFFu && m.contains("column") &&
        m["column"].is_number_integer() && m.contains("row") && m["row"].is_number_integer() &&
        m.contains("direction") && m["direction"].is_string() && m.contains("parent") &&
        (m["parent"].is_null() ||
         (m["parent"].is_number_unsigned() && m["parent"].get<uint64_t>() <= 0xFFFFFFFFu));
    if (!ok) {
      *reason = "a module entry lacks its serial, column, row, direction or parent";
      return false;
    }
    if (!serials.insert(m["serial"].get<uint32_t>()).second) {
      *reason = base::Format("serial number %u is listed twice", m["serial"].get<uint32_t>());
      return false;
    }
  }
  return true;
}

std::vector<ModuleChange> CompareLine(const json& record, const json& now) {
  const ModulesBySerial before = BySerial(record);
  const ModulesBySerial after = BySerial(now);
  std::vector<ModuleChange> out;
  for (const json& was : record.at("modules")) {
    ModuleChange change;
    change.serial = was.at("serial").get<uint32_t>();
    change.was = was;
    const auto found = after.find(change.serial);
    if (found == after.end()) {
      change.changes.push_back("missing");
      change.now = nullptr;
      out.push_back(change);
      continue;
    }
    const json& is = *found->second;
    change.now = is;
    if (was.at("column") != is.at("column") || was.at("row") != is.at("row") ||
        ChainOf(before, change.serial) != ChainOf(after, change.serial)) {
      change.changes.push_back("moved");
    }
    if (was.at("direction") != is.at("direction")) change.changes.push_back("turned");
    if (Text(was, "ip") != Text(is, "ip")) change.changes.push_back("other address");
    if (Text(was, "firmware") != Text(is, "firmware")) change.changes.push_back("other firmware");
    if (!change.changes.empty()) out.push_back(change);
  }
  for (const json& is : now.at("modules")) {
    const uint32_t serial = is.at("serial").get<uint32_t>();
    if (before.count(serial) != 0) continue;
    ModuleChange change;
    change.serial = serial;
    change.changes.push_back("new");
    change.was = nullptr;
    change.now = is;
    out.push_back(change);
  }
  return out;
}

namespace {

// The German name of a change category, as the watch window labels it; the English name is the
// category itself.
std::string GermanChangeName(const std::string& what) {
  static const std::map<std::string, std::string> kNames = {{"new", "neu"},
                                                            {"missing", "fehlt"},
                                                            {"moved", "versetzt"},
                                                            {"turned", "gedreht"},
                                                            {"other address", "andere Adresse"},
                                                            {"other firmware", "andere Firmware"}};
  const auto found = kNames.find(what);
  return found == kNames.end() ? what : found->second;
}

}  // namespace

std::string DescribeChange(const ModuleChange& change, base::Language language) {
  const bool german = language == base::Language::German;
  const json& shown = change.now.is_null() ? change.was : change.now;
  std::string text = base::Format("SN %u (%s):", change.serial, Text(shown, "ip").c_str());
  const char* separator = " ";
  for (const std::string& what : change.changes) {
    text += separator;
    separator = ", ";
    text += german ? GermanChangeName(what) : what;
    if (what == "moved") {
      text += base::Format(german ? " (Reihe %s, Spalte %s -> Reihe %s, Spalte %s)"
                                  : " (row %s, column %s -> row %s, column %s)",
                           Text(change.was, "row").c_str(), Text(change.was, "column").c_str(),
                           Text(change.now, "row").c_str(), Text(change.now, "column").c_str());
    } else if (what == "turned") {
      text += " (" + Text(change.was, "direction") + " -> " + Text(change.now, "direction") + ")";
    } else if (what == "other address") {
      text += " (" + Text(change.was, "ip") + " -> " + Text(change.now, "ip") + ")";
    } else if (what == "other firmware") {
      text += " (" + Text(change.was, "firmware") + " -> " + Text(change.now, "firmware") + ")";
    }
  }
  return text;
}

}  // namespace topology
