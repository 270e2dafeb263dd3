// quillmar-cli topology [--adapter NAME] [--json]: the line as the topology window lays it out.
// A full discovery (of every adapter, or of the named one), GetTopology on the chosen
// adapter's modules, the duplicate-address check, the layout and the directions; then one line
// per row of the drawing with its modules in column order, the modules with a problem and the
// title line with the drawn and found counts. The registers of the modules are not read here,
// so only the checks that need no register traffic can mark a module.
//
// Exit status (the program's table): 0 drawn (also when the 170-module limit left modules
// out); 1 no capture device, no module found, duplicate addresses, or modules found that the
// layout could not reach; 2 unknown adapter; 3 an adapter must be chosen.
#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/format.h"
#include "cli_command.h"
#include "topology/topology_model.h"

namespace {

using nlohmann::json;

constexpr const char* kCommand = "topology";
constexpr const char* kBaseTitle = "PL Conveyors Dialog";

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

// One drawn module, copied out of the view while the adapter's lock is held.
struct Drawn {
  uint32_t serial = 0;
  std::string ip;
  int column = 0;  // device steps: the PC's switch is column 0, its modules column 1
  int row = 0;
  uint32_t direction = topology::kUndetermined;
  bool linked = false;
  std::optional<uint32_t> parent, left, right;
  std::string error;
};

struct Result {
  std::string adapter;
  size_t found = 0;
  std::vector<Drawn> modules;  // by row, then column
  int problems = 0;
  topology::Outcome outcome = topology::Outcome::Complete;
  std::string duplicates;  // the duplicate-address message, when there are any
  std::vector<std::pair<uint32_t, std::string>> duplicated;
};

std::optional<uint32_t> SerialAt(const topology::DeviceArray& view, int index) {
  if (index < 1) return std::nullopt;
  return view.devices[static_cast<size_t>(index)].Serial();
}

void Draw(CNAdapter& adapter, Result& result) {
  std::lock_guard guard(adapter.lock);
  result.found = adapter.nodes.size();
  const topology::DuplicateIps duplicates = topology::FindDuplicateIps(adapter.nodes);
  if (!duplicates.nodes.empty()) {
    result.duplicates = duplicates.Message();
    for (const NodePtr& node : duplicates.nodes)
      result.duplicated.push_back({node->serialNumber, node->ipText});
    result.outcome = topology::Outcome::Incomplete;
    return;
  }
  topology::DeviceArray view = topology::LayOut(adapter.nodes);
  result.problems = topology::SettleDevices(view, nullptr);
  for (size_t i = 1; i < view.devices.size(); ++i) {
    const topology::CPLViewDevice& device = view.devices[i];
    Drawn drawn;
    drawn.serial = device.Serial();
    drawn.ip = device.node->ipText;
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
                   [](const Drawn& a, const Drawn& b) {
                     return a.row != b.row ? a.row < b.row : a.column < b.column;
                   });
  result.outcome = topology::RunOutcome({result.modules.size(), result.found, false, 0, false});
}

json SerialOrNull(const std::optional<uint32_t>& serial) {
  return serial ? json(*serial) : json(nullptr);
}

json ToJson(const Result& result) {
  json modules = json::array();
  for (const Drawn& m : result.modules) {
    modules.push_back({{"serial", m.serial},
                       {"ip", m.ip},
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

void PrintText(std::FILE* out, const Result& result) {
  std::fprintf(
      out, "%s\n",
      topology::WindowTitle(kBaseTitle, result.modules.size(), result.found, result.problems)
          .c_str());
  int row = -1;
  for (const Drawn& m : result.modules) {
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
  for (const Drawn& m : result.modules) {
    if (!m.error.empty())
      std::fprintf(out, "! %s SN %u: %s\n", m.ip.c_str(), m.serial, m.error.c_str());
  }
}

int RunTopology(CliContext& context, const std::string& adapterName) {
  CMRegApp& app = context.app;
  if (const int refused = cli::SelectNamedAdapter(context, kCommand, adapterName);
      refused != cli::kExitDone) {
    return refused;
  }
  app.discoverDone = 1;  // the full discovery, as the window's Discover runs it
  if (app.Discover(adapterName.empty(), nullptr) != 1) {
    cli::ReportFailure(kCommand, "no capture device could be opened");
    return cli::kExitFailed;
  }
  const AdapterPtr adapter = app.SelectedAdapter();
  if (!adapter) {
    if (context.chooser.ChoiceRefused() || context.chooser.ChooserShown()) {
      cli::ReportFailure(kCommand,
                         "several adapters carry modules and none was chosen (--adapter NAME)");
      return cli::kExitChooseAdapter;
    }
    cli::ReportFailure(kCommand, "no module was found on any adapter");
    return cli::kExitFailed;
  }
  app.GetTopology();

  Result result;
  result.adapter = adapter->name;
  Draw(*adapter, result);
  if (context.json) {
    std::fprintf(context.out, "%s\n", ToJson(result).dump().c_str());
  } else if (result.duplicates.empty()) {
    PrintText(context.out, result);
  }
  if (!result.duplicates.empty()) {
    cli::ReportFailure(kCommand, result.duplicates);
    return cli::kExitFailed;
  }
  const std::string message = topology::OutcomeMessage(
      result.outcome, {result.modules.size(), result.found, false, 0, false});
  if (!message.empty()) {
    if (result.outcome == topology::Outcome::Incomplete) {
      cli::ReportFailure(kCommand, message);
      return cli::kExitFailed;
    }
    std::fprintf(stderr, "%s\n", message.c_str());
  }
  if (result.found == 0) {
    cli::ReportFailure(kCommand, "no module was found on the adapter");
    return cli::kExitFailed;
  }
  return cli::kExitDone;
}

}  // namespace

static CliCommandRegistrar topologyCommand(
    "topology", "Draw the line's topology: rows of modules from the PC's switch outwards",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto adapter = std::make_shared<std::string>();
      sub.add_option("--adapter", *adapter, "Only this adapter (its interface name)");
      sub.footer(
          "Exit status: 0 drawn, 1 no capture device, no module, duplicate addresses or modules "
          "the layout could not reach, 2 unknown adapter, 3 several adapters carry modules and "
          "none was chosen.");
      return [&context, adapter] { return RunTopology(context, *adapter); };
    });
