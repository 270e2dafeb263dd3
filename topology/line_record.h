#pragma once
// The as-built record of a line (topology --save) and its comparison with the line as it is
// drawn now (topology --compare): per module what changed since the record was made.
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/language.h"

namespace topology {

struct ModuleChange {
  uint32_t serial = 0;
  // "missing", "new", "moved" (other position or chain), "turned" (other direction),
  // "other address", "other firmware"; in this order.
  std::vector<std::string> changes;
  nlohmann::json was;  // the module in the record (null when new)
  nlohmann::json now;  // the module as drawn now (null when missing)
};

// Checks that `record` is a drawing document (an object with a "modules" array whose entries
// carry at least a serial, column, row, direction and parent); the reason when not.
bool IsLineRecord(const nlohmann::json& record, std::string* reason);

// Both documents are DrawingJson documents. Modules are matched by serial number; a module's
// chain is the serial of the module on the PC's switch its parents lead to. Changes come in
// the record's order, new modules after them in the drawing's order.
std::vector<ModuleChange> CompareLine(const nlohmann::json& record, const nlohmann::json& now);

// "SN 3100102 (192.168.202.21): moved (row 0, column 2 -> row 0, column 3), turned (...)".
// In German for a German window ("SN 3100102 (192.168.202.21): versetzt (Reihe 0, Spalte 2 ->
// Reihe 0, Spalte 3)"); the CLI's comparison and the JSON keep the English.
std::string DescribeChange(const ModuleChange& change,
                           base::Language language = base::Language::English);

}  // namespace topology
