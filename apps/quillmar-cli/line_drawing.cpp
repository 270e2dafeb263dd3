#include "line_drawing.h"

#include "cli_command.h"

namespace cli {

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

}  // namespace

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
