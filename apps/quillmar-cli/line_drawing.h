#pragma once
// The line as the topology window lays it out, for the commands that draw it or act on its
// modules (topology, autoconfig, replace, factory-reset, set-ip): the discovery and GetTopology
// steps, the drawing copied out of the view, its --json document (also the as-built record of
// topology --save) and the text drawing.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "discovery/inventory.h"
#include "topology/topology_model.h"
#include "topology/topology_procedure.h"

struct CliContext;

namespace cli {

// One drawn module, copied out of the view while the adapter's lock is held.
struct DrawnModule {
  uint32_t serial = 0;
  std::string ip;
  std::string firmware;  // "%d.%02d", the major counted as the window shows it
  int column = 0;        // device steps: the PC's switch is column 0, its modules column 1
  int row = 0;
  uint32_t direction = topology::kUndetermined;
  bool linked = false;
  std::optional<uint32_t> parent, left, right;
  std::string error;
};

struct LineDrawing {
  std::string adapter;
  size_t found = 0;
  std::vector<DrawnModule> modules;  // by row, then column
  int problems = 0;
  topology::Outcome outcome = topology::Outcome::Complete;
  std::string duplicates;  // the duplicate-address message, when there are any
  std::vector<std::pair<uint32_t, std::string>> duplicated;
};

// --adapter, the full discovery and GetTopology, as the window's Discover && Redraw runs them.
// On success *adapter is the adapter drawn and kExitDone is returned; otherwise the failure
// has been reported and its exit status is returned.
int DiscoverLine(CliContext& context, const std::string& command, const std::string& adapterName,
                 AdapterPtr* adapter);

// After a discovery that left no adapter selected: the chooser's refusal or no module at all,
// reported; returns the exit status.
int ReportNoAdapter(CliContext& context, const std::string& command);

// The duplicate check, the layout and the directions of the adapter's nodes (under its lock).
// `view`, when given, receives the drawing's device array (empty when there are duplicates).
void DrawLine(CNAdapter& adapter, LineDrawing& drawing, topology::DeviceArray* view = nullptr);

// The drawing of a topology run (the window's procedure) copied out of its view, under the
// adapter's lock: the modules with the errors the procedure's checks found.
void DrawingOf(CNAdapter& adapter, const topology::ProcedureResult& run, LineDrawing& drawing);

const char* DirectionName(uint32_t direction);  // "left-to-right", "right-to-left", ...
nlohmann::json DrawingJson(const LineDrawing& drawing);
void PrintDrawing(std::FILE* out, const LineDrawing& drawing);

}  // namespace cli
