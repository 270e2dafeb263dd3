#pragma once
// The line as the topology window lays it out, for the commands that draw it or act on its
// modules (topology, autoconfig, replace, factory-reset, set-ip): the discovery and GetTopology
// steps and the text drawing; the drawing and its --json document are the topology core's.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "discovery/inventory.h"
#include "topology/line_drawing.h"

struct CliContext;

namespace cli {

using topology::DrawnModule;
using topology::LineDrawing;

// --adapter, the full discovery and GetTopology, as the window's Discover && Redraw runs them.
// On success *adapter is the adapter drawn and kExitDone is returned; otherwise the failure
// has been reported and its exit status is returned.
int DiscoverLine(CliContext& context, const std::string& command, const std::string& adapterName,
                 AdapterPtr* adapter);

// After a discovery that left no adapter selected: the chooser's refusal or no module at all,
// reported; returns the exit status.
int ReportNoAdapter(CliContext& context, const std::string& command);

using topology::DirectionName;
using topology::DrawingJson;
using topology::DrawingOf;
using topology::DrawLine;

void PrintDrawing(std::FILE* out, const LineDrawing& drawing);

}  // namespace cli
