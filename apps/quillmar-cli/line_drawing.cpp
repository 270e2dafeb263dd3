#include "line_drawing.h"

#include <algorithm>

#include "base/format.h"
#include "cli_command.h"
#include "topology/node_command.h"

namespace cli {

using nlohmann::json;

namespace {

constexpr const char* kBaseTitle = "PL Conveyors Dialog";

const char* DirectionArrow(uint32_t direction) {
  switch (direction) {
    case topology::kLeftToRight:
      return "->";
    case topology::kRightToLeft:
      return "<-";
    default:
      return "?";
  }
}

std::optional<uint32_t> SerialAt(const topology::DeviceArray& view, int index) {
  if (index < 1) return std::nullopt;
  return view.devices[static_cast<size_t>(index)].Serial();
}

json SerialOrNull(const std::optional<uint32_t>& serial) {
  return serial ? json(*serial) : json(nullptr);
}

// The drawn modules of a view, by row and column; the caller holds the adapter's lock.
void CopyModules(const topology::DeviceArray& view, LineDrawing& result) {
  for (size_t i = 1; i < view.devices.size(); ++i) {
    const topology::CPLViewDevice& device = view.devices[i];
    DrawnModule drawn;
    drawn.serial = device.Serial();
    drawn.ip = device.node->ipText;
    drawn.firmware = base::Format("%d.%02d", topology::RevisionMajor(device.node->revision),
                                  topology::RevisionMinor(device.node->revision));
    drawn.column = device.column / topology::kGridStep;
    drawn.row = device.row / topology::kGridStep;
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
    case topology::kLeftToRight:
      return "left-to-right";
    case topology::kRightToLeft:
      return "right-to-left";
    default:
      return "undetermined";
  }
}

int DiscoverLine(CliContext& context, const std::string& command, const std::string& adapterName,
                 AdapterPtr* adapter) {
  CMRegApp& app = context.app;
  if (const int refused = SelectNamedAdapter(context, command, adapterName); refused != kExitDone) {
    return refused;
  }
  app.discoverDone = 1;  // the full discovery, as the window's Discover runs it
  if (app.Discover(adapterName.empty(), nullptr) != 1) {
    ReportFailure(command, "no capture device could be opened");
    return kExitFailed;
  }
  *adapter = app.SelectedAdapter();
  if (!*adapter) return ReportNoAdapter(context, command);
  app.GetTopology();
  return kExitDone;
}

int ReportNoAdapter(CliContext& context, const std::string& command) {
  if (context.chooser.ChoiceRefused() || context.chooser.ChooserShown()) {
    ReportFailure(command, "several adapters carry modules and none was chosen (--adapter NAME)");
    return kExitChooseAdapter;
  }
  ReportFailure(command, "no module was found on any adapter");
  return kExitFailed;
}

void DrawLine(CNAdapter& adapter, LineDrawing& result, topology::DeviceArray* viewOut) {
  std::lock_guard guard(adapter.lock);
  result.adapter = adapter.name;
  result.found = adapter.nodes.size();
  const topology::DuplicateIps duplicates = topology::FindDuplicateIps(adapter.nodes);
  if (!duplicates.nodes.empty()) {
    result.duplicates = duplicates.Message();
    for (const NodePtr& node : duplicates.nodes)
      result.duplicated.push_back({node->serialNumber, node->ipText});
    result.outcome = topology::Outcome::Incomplete;
    if (viewOut != nullptr) *viewOut = topology::DeviceArray();
    return;
  }
  topology::DeviceArray view = topology::LayOut(adapter.nodes);
  result.problems = topology::SettleDevices(view, nullptr);
  CopyModules(view, result);
  result.outcome = topology::RunOutcome({result.modules.size(), result.found, false, 0, false});
  if (viewOut != nullptr) *viewOut = std::move(view);
}

void DrawingOf(CNAdapter& adapter, const topology::ProcedureResult& run, LineDrawing& result) {
  std::lock_guard guard(adapter.lock);
  result.adapter = adapter.name;
  result.found = run.found;
  if (!run.duplicates.empty()) {
    result.duplicates = run.duplicates;
    for (const NodePtr& node : topology::FindDuplicateIps(adapter.nodes).nodes)
      result.duplicated.push_back({node->serialNumber, node->ipText});
    result.outcome = topology::Outcome::Incomplete;
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
           {"outcome", topology::OutcomeName(result.outcome)},
           {"modules", modules}};
  if (!result.duplicated.empty()) {
    json duplicated = json::array();
    for (const auto& [serial, ip] : result.duplicated)
      duplicated.push_back({{"serial", serial}, {"ip", ip}});
    out["duplicatedIps"] = duplicated;
  }
  return out;
}

void PrintDrawing(std::FILE* out, const LineDrawing& result) {
  std::fprintf(
      out, "%s\n",
      topology::WindowTitle(kBaseTitle, result.modules.size(), result.found, result.problems)
          .c_str());
  int row = -1;
  for (const DrawnModule& m : result.modules) {
    if (m.row != row) {
      if (row >= 0) std::fprintf(out, "\n");
      row = m.row;
      std::fprintf(out, "%s", m.column == 1 ? "PC --" : "     ");
      // A branch that starts further right is indented to its column.
      for (int c = 1; c < m.column; ++c) std::fprintf(out, "%26s", "");
    }
    std::fprintf(out, " [%s %s SN %u%s]", DirectionArrow(m.direction), m.ip.c_str(), m.serial,
                 m.error.empty() ? "" : " !");
  }
  if (row >= 0) std::fprintf(out, "\n");
  for (const DrawnModule& m : result.modules) {
    if (!m.error.empty())
      std::fprintf(out, "! %s SN %u: %s\n", m.ip.c_str(), m.serial, m.error.c_str());
  }
}

}  // namespace cli
