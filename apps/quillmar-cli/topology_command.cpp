// quillmar-cli topology [--adapter NAME] [--json] [--save FILE | --compare FILE]: the line as the
// topology window lays it out. A full discovery (of every adapter, or of the named one),
// GetTopology on the chosen adapter's modules, the duplicate-address check, the layout and the
// directions, the register readers and the module checks (the window's own procedure); then
// one line per row of the drawing with its modules in column order, the modules with a problem
// and the title line with the drawn and found counts.
//
// --save FILE writes the --json document to FILE as the line's as-built record; --compare FILE
// draws the line and lists, per module, what changed since that record was made.
//
// Exit status (the program's table): 0 drawn (also when the 170-module limit left modules
// out) and, with --compare, nothing changed; 1 no capture device, no module found, duplicate
// addresses, modules found that the layout could not reach, the record could not be written,
// or (--compare) the line differs from the record; 2 unknown adapter, or a record that cannot
// be read; 3 an adapter must be chosen.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "base/format.h"
#include "cli_command.h"
#include "line_drawing.h"
#include "topology/line_record.h"
#include "topology/topology_model.h"
#include "topology/topology_procedure.h"

namespace {

using nlohmann::json;

constexpr const char* kTopologyCommandName = "topology";
constexpr const char* kBaseTitle = "PL Conveyors Dialog";

struct TopologyOptions {
  std::string adapter;
  std::string save;
  std::string compare;
};

// Written next to the target first and renamed over it, so that a failed write never leaves a
// half record where a good one was.
bool WriteRecord(const std::string& path, const std::string& text, std::string* error) {
  const std::string temporary = path + ".tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  size_t written = 0;
  bool ok = true;
  while (ok && written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    if (n > 0) written += static_cast<size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  if (!ok) *error = std::strerror(errno);
  ::close(fd);
  if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
    *error = std::strerror(errno);
    ok = false;
  }
  if (!ok) std::remove(temporary.c_str());
  return ok;
}

// The record named by --compare, read before any module is asked; kExitDone when it is one.
int ReadRecord(const std::string& path, json* record) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    cli::ReportFailure(kTopologyCommandName,
                       base::Format("cannot read \"%s\": %s", path.c_str(), std::strerror(errno)));
    return cli::kExitUsage;
  }
  std::stringstream text;
  text << in.rdbuf();
  *record = json::parse(text.str(), nullptr, false);
  std::string reason = "it is not JSON";
  if (record->is_discarded() || !topology::IsLineRecord(*record, &reason)) {
    cli::ReportFailure(kTopologyCommandName,
                       base::Format("\"%s\" cannot be compared: %s", path.c_str(), reason.c_str()));
    return cli::kExitUsage;
  }
  return cli::kExitDone;
}

int Compare(CliContext& context, const json& record, const json& now) {
  const std::vector<topology::ModuleChange> changes = topology::CompareLine(record, now);
  if (context.json) {
    json list = json::array();
    for (const topology::ModuleChange& c : changes) {
      list.push_back(
          {{"serial", c.serial}, {"changes", c.changes}, {"was", c.was}, {"now", c.now}});
    }
    std::fprintf(
        context.out, "%s\n",
        json{{"changed", !changes.empty()}, {"modules", list}, {"line", now}}.dump().c_str());
  } else {
    for (const topology::ModuleChange& c : changes)
      std::fprintf(context.out, "%s\n", topology::DescribeChange(c).c_str());
    if (changes.empty()) std::fprintf(context.out, "No module changed since the record.\n");
  }
  if (!changes.empty()) {
    cli::LogChange(kTopologyCommandName,
                   base::Format("%zu modules differ from the record", changes.size()));
    return cli::kExitFailed;
  }
  return cli::kExitDone;
}

int RunTopology(CliContext& context, const TopologyOptions& options) {
  json record;
  if (!options.compare.empty()) {
    if (const int refused = ReadRecord(options.compare, &record); refused != cli::kExitDone)
      return refused;
  }
  if (const int refused = cli::SelectNamedAdapter(context, kTopologyCommandName, options.adapter);
      refused != cli::kExitDone) {
    return refused;
  }
  // The window's own procedure: discovery, duplicate check, GetTopology, layout, the register
  // readers and the checks they feed.
  CMRegApp& app = context.app;
  bool captureOpened = true;
  topology::ProcedureSteps steps = topology::LineSteps(app);
  steps.discover = [&app, &captureOpened, all = options.adapter.empty()] {
    app.discoverDone = 1;  // the full discovery, as the window's Discover runs it
    captureOpened = app.Discover(all, nullptr) == 1;
  };
  topology::TopologyProcedure procedure(app, steps);
  topology::TopologyViewState state;
  const topology::ProcedureResult run = procedure.Run({}, state, {}, kBaseTitle);
  if (!captureOpened) {
    cli::ReportFailure(kTopologyCommandName, "no capture device could be opened");
    return cli::kExitFailed;
  }
  const AdapterPtr adapter = app.SelectedAdapter();
  if (!adapter || run.noAdapter) return cli::ReportNoAdapter(context, kTopologyCommandName);

  cli::LineDrawing result;
  cli::DrawingOf(*adapter, run, result);
  const json document = cli::DrawingJson(result);
  if (!options.compare.empty() && result.duplicates.empty()) {
    // The comparison is the output; the drawing goes to stdout only as part of --json.
  } else if (context.json) {
    std::fprintf(context.out, "%s\n", document.dump().c_str());
  } else if (result.duplicates.empty()) {
    cli::PrintDrawing(context.out, result);
  }
  if (!result.duplicates.empty()) {
    cli::ReportFailure(kTopologyCommandName, result.duplicates);
    return cli::kExitFailed;
  }
  const std::string message = topology::OutcomeMessage(
      result.outcome, {result.modules.size(), result.found, false, 0, false});
  const bool incomplete = !message.empty() && result.outcome == topology::Outcome::Incomplete;
  if (!message.empty()) {
    if (incomplete) {
      cli::ReportFailure(kTopologyCommandName, message);
    } else {
      std::fprintf(stderr, "%s\n", message.c_str());
    }
  }
  if (result.found == 0) {
    cli::ReportFailure(kTopologyCommandName, "no module was found on the adapter");
    return cli::kExitFailed;
  }
  if (!options.compare.empty()) {
    const int compared = Compare(context, record, document);
    return incomplete ? cli::kExitFailed : compared;
  }
  if (incomplete) return cli::kExitFailed;
  if (!options.save.empty()) {
    std::string error;
    if (!WriteRecord(options.save, document.dump(2) + "\n", &error)) {
      cli::ReportFailure(kTopologyCommandName,
                         base::Format("the record \"%s\" could not be written: %s",
                                      options.save.c_str(), error.c_str()));
      return cli::kExitFailed;
    }
    cli::LogChange(kTopologyCommandName,
                   base::Format("as-built record of %zu modules written to \"%s\"",
                                result.modules.size(), options.save.c_str()));
    std::fprintf(stderr, "Record of %zu modules written to %s\n", result.modules.size(),
                 options.save.c_str());
  }
  return cli::kExitDone;
}

}  // namespace

static CliCommandRegistrar topologyCommand(
    "topology", "Draw the line's topology: rows of modules from the PC's switch outwards",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto options = std::make_shared<TopologyOptions>();
      sub.add_option("--adapter", options->adapter, "Only this adapter (its interface name)");
      auto* save = sub.add_option("--save", options->save,
                                  "Write the drawing (the --json document) to FILE as the line's "
                                  "as-built record");
      auto* compare = sub.add_option("--compare", options->compare,
                                     "Compare the line with a record written by --save: per "
                                     "module missing, new, moved, turned, other address, other "
                                     "firmware");
      save->excludes(compare);
      sub.footer(
          "Exit status: 0 drawn (with --compare: and nothing changed), 1 no capture device, no "
          "module, duplicate addresses, modules the layout could not reach, a record not "
          "written, or the line differs from the record, 2 unknown adapter or a record that "
          "cannot be read, 3 several adapters carry modules and none was chosen.");
      return [&context, options] { return RunTopology(context, *options); };
    });
