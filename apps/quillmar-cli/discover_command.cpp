// quillmar-cli discover [--fast] [--adapter NAME] [--json]: finds the modules on every adapter
// (or on the named one) and prints them per adapter, sorted as the inventory sorts them.
// Firmware revisions are shown as the screens show them (a major of 100 or more counts minus
// 100); the JSON keeps the reported value too. Modules that answer on one address are marked
// in the table and the JSON, and logged.
//
// Without --fast the discovery collects for the normal window (it ends 300 ms after the last
// answer, at the latest after 3.5 s); --fast is the short discovery of the first connection.
// When several adapters carry modules and no --adapter is given, an interactive terminal is
// asked to choose; otherwise the adapters are listed and the exit status is 3.
//
// Exit status (the program's table): 0 the discovery ran; 1 no capture device (rights?);
// 2 unknown adapter; 3 an adapter must be chosen.
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/format.h"
#include "cli_command.h"
#include "comm/event_log.h"
#include "discovery/discover.h"

namespace {

using nlohmann::json;

constexpr int kExitNoDevice = cli::kExitFailed;
constexpr int kExitChoiceNeeded = cli::kExitChooseAdapter;

// Passes everything to the command's prompt and notes whether the chooser was shown.
class ChooserWatch : public base::Prompt {
 public:
  explicit ChooserWatch(base::Prompt& inner) : inner_(inner) {}
  base::PromptAnswer Ask(const std::string& text, const std::string& caption,
                         base::PromptButtons buttons, base::PromptIcon icon) override {
    return inner_.Ask(text, caption, buttons, icon);
  }
  void Beep() override { inner_.Beep(); }
  int ChooseAdapter(const std::vector<std::string>& entries) override {
    shown = true;
    chosen = inner_.ChooseAdapter(entries);
    return chosen;
  }
  bool shown = false;
  int chosen = -1;

 private:
  base::Prompt& inner_;
};

// The revision as the module reports it.
std::string RevisionText(uint16_t revision) {
  return base::Format("%u.%u", revision >> 8, revision & 0xFFu);
}

// The revision as the screens show it: a major of 100 or more counts minus 100, "%d.%02d".
std::string FirmwareText(uint16_t revision) {
  unsigned major = revision >> 8;
  if (major >= 100) major -= 100;
  return base::Format("%u.%02u", major, revision & 0xFFu);
}

std::string DirectionText(uint32_t direction) {
  return direction == 0 ? "Left To Right" : "Right To Left";
}

struct AdapterView {
  std::string name, description, mac, ip, mask;
  bool selected = false;
  NodeList nodes;  // copies, sorted
  // Per node: the serial numbers of the other nodes that answer on the same address.
  std::vector<std::vector<uint32_t>> sharing;
};

// Marks the nodes that share an address with another node of the same adapter, and logs
// each such address once.
void MarkDuplicates(AdapterView& view) {
  view.sharing.assign(view.nodes.size(), {});
  for (size_t i = 0; i < view.nodes.size(); ++i) {
    for (size_t j = 0; j < view.nodes.size(); ++j) {
      if (i != j && view.nodes[i]->ipAddress == view.nodes[j]->ipAddress) {
        view.sharing[i].push_back(view.nodes[j]->serialNumber);
      }
    }
  }
  for (size_t i = 0; i < view.nodes.size(); ++i) {
    if (view.sharing[i].empty()) continue;
    bool first = true;
    for (size_t j = 0; j < i; ++j)
      first = first && view.nodes[j]->ipAddress != view.nodes[i]->ipAddress;
    if (!first) continue;
    std::string serials = base::Format("%u", view.nodes[i]->serialNumber);
    for (uint32_t other : view.sharing[i]) serials += base::Format(", %u", other);
    LogWarning(
        "quillmar-cli discover: several modules answer on the address %s (adapter %s): "
        "SN %s",
        view.nodes[i]->ipText.c_str(), view.name.c_str(), serials.c_str());
  }
}

std::vector<AdapterView> Snapshot(CMRegApp& app) {
  const std::string selected = app.SelectedAdapterName();
  std::vector<AdapterView> views;
  for (const AdapterPtr& adapter : app.AdaptersSnapshot()) {
    AdapterView view;
    view.name = adapter->name;
    view.description = adapter->description;
    std::lock_guard guard(adapter->lock);
    view.mac = base::MacText(adapter->mac.data());
    view.ip = adapter->info.addressText;
    view.mask = adapter->info.maskText;
    view.selected = !selected.empty() && adapter->name == selected;
    for (const auto& node : adapter->nodes)
      view.nodes.push_back(std::make_shared<CNode_Data>(*node));
    SortNodes(view.nodes);
    MarkDuplicates(view);
    views.push_back(std::move(view));
  }
  return views;
}

json ToJson(const std::vector<AdapterView>& views) {
  json adapters = json::array();
  for (const auto& view : views) {
    json nodes = json::array();
    for (size_t i = 0; i < view.nodes.size(); ++i) {
      const auto& node = view.nodes[i];
      nodes.push_back({{"ip", node->ipText},
                       {"serial", node->serialNumber},
                       {"mac", base::MacText(node->mac.data())},
                       {"mask", node->maskText},
                       {"gateway", node->gatewayText},
                       {"revision", RevisionText(node->revision)},
                       {"firmware", FirmwareText(node->revision)},
                       {"packetFlags", node->packetFlags},
                       {"direction", DirectionText(node->direction)},
                       {"duplicateAddress", !view.sharing[i].empty()},
                       {"sharesAddressWith", view.sharing[i]}});
    }
    adapters.push_back({{"name", view.name},
                        {"description", view.description},
                        {"mac", view.mac},
                        {"ip", view.ip},
                        {"mask", view.mask},
                        {"selected", view.selected},
                        {"nodes", nodes}});
  }
  return {{"adapters", adapters}};
}

void PrintTables(std::FILE* out, const std::vector<AdapterView>& views) {
  if (views.empty()) std::fprintf(out, "No modules found on any adapter.\n");
  for (const auto& view : views) {
    std::fprintf(out, "Adapter %s (%s), MAC %s, %s/%s%s: %zu module%s\n", view.name.c_str(),
                 view.description.c_str(), view.mac.c_str(), view.ip.c_str(), view.mask.c_str(),
                 view.selected ? ", selected" : "", view.nodes.size(),
                 view.nodes.size() == 1 ? "" : "s");
    std::fprintf(out, "  %-15s  %10s  %-17s  %-15s  %-15s  %-8s  %-5s  %s\n", "IP", "Serial", "MAC",
                 "Mask", "Gateway", "Revision", "Flags", "Direction");
    for (size_t i = 0; i < view.nodes.size(); ++i) {
      const auto& node = view.nodes[i];
      std::string duplicate;
      for (uint32_t other : view.sharing[i]) {
        duplicate +=
            base::Format("%s%u", duplicate.empty() ? "  DUPLICATE ADDRESS, also SN " : ", ", other);
      }
      std::fprintf(out, "  %-15s  %10u  %-17s  %-15s  %-15s  %-8s  0x%02X   %s%s\n",
                   node->ipText.c_str(), node->serialNumber,
                   base::MacText(node->mac.data()).c_str(), node->maskText.c_str(),
                   node->gatewayText.c_str(), FirmwareText(node->revision).c_str(),
                   node->packetFlags, DirectionText(node->direction).c_str(), duplicate.c_str());
    }
  }
}

int RunDiscover(CliContext& context, bool fast, const std::string& adapterName) {
  const bool asJson = context.json;
  CMRegApp& app = context.app;
  if (const int refused = cli::SelectNamedAdapter(context, "discover", adapterName);
      refused != cli::kExitDone) {
    return refused;
  }
  app.discoverDone = fast ? 0 : 1;

  ChooserWatch watch(context.prompt);
  app.SetPrompt(&watch);
  const int result = app.Discover(adapterName.empty(), nullptr);
  app.SetPrompt(&context.prompt);
  if (result != 1) {
    cli::ReportFailure("discover", "no capture device could be opened");
    return kExitNoDevice;
  }

  const std::vector<AdapterView> views = Snapshot(app);
  const bool choiceNeeded = watch.shown && app.SelectedAdapterName().empty();
  if (asJson) {
    std::fprintf(context.out, "%s\n", ToJson(views).dump().c_str());
  } else if (choiceNeeded) {
    std::fprintf(context.out, "Several adapters carry modules; choose one with --adapter NAME:\n");
    for (const auto& view : views) {
      if (view.nodes.empty()) continue;
      std::fprintf(context.out, "  %s  %s - (%zu Knoten)\n", view.name.c_str(),
                   view.description.c_str(), view.nodes.size());
    }
  } else {
    PrintTables(context.out, views);
  }
  return choiceNeeded ? kExitChoiceNeeded : 0;
}

}  // namespace

static CliCommandRegistrar discoverCommand(
    "discover", "Find the modules on every adapter (or on one) and list them",
    [](CLI::App& sub, CliContext& context) -> CliRun {
      auto fast = std::make_shared<bool>(false);
      auto adapter = std::make_shared<std::string>();
      sub.add_flag("--fast", *fast, "Short discovery (collects for 300 ms)");
      sub.add_option("--adapter", *adapter, "Only this adapter (its interface name)");
      sub.footer(
          "Exit status: 0 done, 1 no capture device, 2 unknown adapter, 3 several adapters "
          "carry modules and none was chosen.");
      return [&context, fast, adapter] { return RunDiscover(context, *fast, *adapter); };
    });
