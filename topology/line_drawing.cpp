#include "topology/line_drawing.h"

#include <algorithm>

#include "base/format.h"
#include "topology/node_command.h"

namespace topology {

using nlohmann::json;

namespace {

std::optional<uint32_t> SerialAt(const DeviceArray& view, int index) {
  if (index < 1) return std::nullopt;
  return view.devices[static_cast<size_t>(index)].Serial();
}

json SerialOrNull(const std::optional<uint32_t>& serial) {
  return serial ? json(*serial) : json(nullptr);
}

// The drawn modules of a view, by row and column; the caller holds the adapter's lock.
void CopyModules(const DeviceArray& view, LineDrawing& result) {
  for (size_t i = 1; i < view.devices.size(); ++i) {
    const CPLViewDevice& device = view.devices[i];
    DrawnModule drawn;
    drawn.serial = device.Serial();
    drawn.ip = device.node->ipText;
    drawn.firmware = base::Format("%d.%02d", RevisionMajor(device.node->revision),
                                  RevisionMinor(device.node->revision));
    drawn.column = device.column / kGridStep;
    drawn.row = device.row / kGridStep;
    drawn.direction = device.direction;
    drawn.linked = device.node->linkedToPcSwitch != 0;
    drawn.parent = SerialAt(view, device.parent);
    drawn.left = SerialAt(view, view.LeftBuddy(static_cast<int>(i)));
    drawn.right = SerialAt(view, view.RightBuddy(static_cast<int>(i)));
    drawn.error = device.error != 0 ? device.errorText : std::string();
    result.modules.push_back(drawn);
  }
  std::stable_sort(result.modules.begin(), result.modules.end(),
                   [](const DrawnModule& a, const DrawnModule& b) {
                     return a.row != b.row ? a.row < b.row : a.column < b.column;
                   });
}

}  // namespace

const char* DirectionName(uint32_t direction) {
  switch (direction) {
    case kLeftToRight:
      return "left-to-right";
    case kRightToLeft:
      return "right-to-left";
    default:
      return "undetermined";
  }
}

void DrawLine(CNAdapter& adapter, LineDrawing& result, DeviceArray* viewOut) {
  std::lock_guard guard(adapter.lock);
  result.adapter = adapter.name;
  result.found = adapter.nodes.size();
  const DuplicateIps duplicates = FindDuplicateIps(adapter.nodes);
  if (!duplicates.nodes.empty()) {
    result.duplicates = duplicates.Message();
    for (const NodePtr& node : duplicates.nodes)
      result.duplicated.push_back({node->serialNumber, node->ipText});
    result.outcome = Outcome::Incomplete;
    if (viewOut != nullptr) *viewOut = DeviceArray();
    return;
  }
  DeviceArray view = LayOut(adapter.nodes);
  result.problems = SettleDevices(view, nullptr);
  CopyModules(view, result);
  result.outcome = RunOutcome({result.modules.size(), result.found, false, 0, false});
  if (viewOut != nullptr) *viewOut = std::move(view);
}

void DrawingOf(CNAdapter& adapter, const ProcedureResult& run, LineDrawing& result) {
  std::lock_guard guard(adapter.lock);
  result.adapter = adapter.name;
  result.found = run.found;
  if (!run.duplicates.empty()) {
    result.duplicates = run.duplicates;
    for (const NodePtr& node : FindDuplicateIps(adapter.nodes).nodes)
      result.duplicated.push_back({node->serialNumber, node->ipText});
    result.outcome = Outcome::Incomplete;
    return;
  }
  result.problems = run.problems;
  CopyModules(run.view, result);
  result.outcome = run.outcome;
}

json DrawingJson(const LineDrawing& result) {
  json modules = json::array();
  for (const DrawnModule& m : result.modules) {
    modules.push_back({{"serial", m.serial},
                       {"ip", m.ip},
                       {"firmware", m.firmware},
                       {"column", m.column},
                       {"row", m.row},
                       {"direction", DirectionName(m.direction)},
                       {"linkedToPcSwitch", m.linked},
                       {"parent", SerialOrNull(m.parent)},
                       {"left", SerialOrNull(m.left)},
                       {"right", SerialOrNull(m.right)},
                       {"error", m.error.empty() ? json(nullptr) : json(m.error)}});
  }
  json out{{"adapter", result.adapter.empty() ? json(nullptr) : json(result.adapter)},
           {"found", result.found},
           {"drawn", result.modules.size()},
           {"outcome", OutcomeName(result.outcome)},
           {"modules", modules}};
  if (!result.duplicated.empty()) {
    json duplicated = json::array();
    for (const auto& [serial, ip] : result.duplicated)
      duplicated.push_back({{"serial", serial}, {"ip", ip}});
    out["duplicatedIps"] = duplicated;
  }
  return out;
}

}  // namespace topology
