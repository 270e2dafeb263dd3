#pragma once
// The line as the topology window lays it out, copied out of the view for those that draw it or
// act on its modules without a window (the command-line program, the line watch): the drawing,
// and its JSON document (also the as-built record that topology --save writes).
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "discovery/inventory.h"
#include "topology/topology_model.h"
#include "topology/topology_procedure.h"

namespace topology {

// One drawn module, copied out of the view while the adapter's lock is held.
struct DrawnModule {
  uint32_t serial = 0;
  std::string ip;
  std::string firmware;  // "%d.%02d", the major counted as the window shows it
  int column = 0;        // device steps: the PC's switch is column 0, its modules column 1
  int row = 0;
  uint32_t direction = kUndetermined;
  bool linked = false;
  std::optional<uint32_t> parent, left, right;
  std::string error;
};

struct LineDrawing {
  std::string adapter;
  size_t found = 0;
  std::vector<DrawnModule> modules;  // by row, then column
  int problems = 0;
  Outcome outcome = Outcome::Complete;
  std::string duplicates;  // the duplicate-address message, when there are any
  std::vector<std::pair<uint32_t, std::string>> duplicated;
};

// The duplicate check, the layout and the directions of the adapter's nodes (under its lock).
// `view`, when given, receives the drawing's device array (empty when there are duplicates).
void DrawLine(CNAdapter& adapter, LineDrawing& drawing, DeviceArray* view = nullptr);

// The drawing of a topology run (the window's procedure) copied out of its view, under the
// adapter's lock: the modules with the errors the procedure's checks found.
void DrawingOf(CNAdapter& adapter, const ProcedureResult& run, LineDrawing& drawing);

const char* DirectionName(uint32_t direction);  // "left-to-right", "right-to-left", ...
nlohmann::json DrawingJson(const LineDrawing& drawing);

}  // namespace topology
