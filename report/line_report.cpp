#include "report/line_report.h"

#include <algorithm>
#include <atomic>
#include <ctime>
#include <mutex>

#include "base/bytes.h"
#include "base/format.h"
#include "base/prompt.h"
#include "comm/blocking_socket.h"
#include "config/plc_program.h"
#include "discovery/mreg_app.h"
#include "params/node_screen_controller.h"
#include "params/register_map.h"
#include "platform/profile.h"
#include "topology/topology_model.h"

namespace report {
namespace {

constexpr uint16_t kFamilyRegister = 6;
constexpr uint16_t kModeRegister = 18;
constexpr uint16_t kSerialRegister = 28;       // 28..29, low word first
constexpr uint16_t kUpstreamDescriptor = 300;  // 300..307, downstream 308..315
constexpr uint16_t kDescriptorWords = 8;
constexpr const char* kTopologyTitle = "PL Conveyors Dialog";

std::string FirmwareText(uint16_t revision) {
  unsigned major = revision >> 8;
  if (major >= 100) major -= 100;
  return base::Format("%u.%02u", major, revision & 0xFFu);
}

std::string DirectionText(uint32_t direction) {
  switch (direction) {
    case topology::kLeftToRight:
      return "Left To Right";
    case topology::kRightToLeft:
      return "Right To Left";
    default:
      return "undetermined";
  }
}

std::string LocalDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

ModuleReport FromNode(const CNode_Data& node) {
  ModuleReport module;
  module.serial = node.serialNumber;
  module.ip = node.ipText;
  module.mac = base::MacText(node.mac.data());
  const bool carries = RecordCarriesRevision(node);
  module.firmware = carries ? FirmwareText(node.revision) : "unknown";
  module.linePosition = carries ? LinePositionText(node.recordCopy[16]) : "unknown";
  module.direction = DirectionText(node.direction);
  return module;
}

// The drawing and the module list, taken under the adapter's lock.
void TakeTopology(CNAdapter& adapter, LineReport& line) {
  std::lock_guard guard(adapter.lock);
  line.adapterName = adapter.name;
  line.adapterDescription = adapter.description;
  line.adapterIp = adapter.info.addressText;
  line.adapterMask = adapter.info.maskText;
  line.adapterMac = adapter.macText;
  line.found = adapter.nodes.size();
  std::vector<ModuleReport> drawn;
  std::vector<uint32_t> drawnSerials;
  int problems = 0;
  const topology::DuplicateIps duplicates = topology::FindDuplicateIps(adapter.nodes);
  if (duplicates.nodes.empty()) {
    topology::DeviceArray view = topology::LayOut(adapter.nodes);
    problems = topology::SettleDevices(view, nullptr);
    for (size_t i = 1; i < view.devices.size(); ++i) {
      const topology::CPLViewDevice& device = view.devices[i];
      ModuleReport module = FromNode(*device.node);
      module.row = device.row / topology::kGridStep;
      module.column = device.column / topology::kGridStep;
      module.direction = DirectionText(device.direction);
      if (device.parent >= 1)
        module.parentSerial = view.devices[static_cast<size_t>(device.parent)].Serial();
      if (device.error != 0) module.topologyError = device.errorText;
      drawnSerials.push_back(module.serial);
      drawn.push_back(std::move(module));
    }
    std::stable_sort(drawn.begin(), drawn.end(), [](const ModuleReport& a, const ModuleReport& b) {
      return a.row != b.row ? a.row < b.row : a.column < b.column;
    });
  } else {
    line.outcome = topology::OutcomeName(topology::Outcome::Incomplete);
    line.title = duplicates.Message();
  }
  line.drawn = drawn.size();
  line.modules = std::move(drawn);
  // Modules the drawing could not place are listed after it, never left out.
  for (const NodePtr& node : adapter.nodes) {
    if (std::find(drawnSerials.begin(), drawnSerials.end(), node->serialNumber) !=
        drawnSerials.end())
      continue;
    line.modules.push_back(FromNode(*node));
  }
  if (duplicates.nodes.empty()) {
    line.title = topology::WindowTitle(kTopologyTitle, line.drawn, line.found, problems);
    line.outcome =
        topology::OutcomeName(topology::RunOutcome({line.drawn, line.found, false, 0, false}));
  }
}

}  // namespace

std::string ModeName(uint16_t register18) {
  switch (register18) {
    case 1:
      return "slave";
    case 2:
      return "PLC I/O";
    case 3:
    case 4:
      return base::Format("accumulation control (%u)", register18);
    case 5:
      return "hardware controlled";
    case 6:
      return "mode 6";
    case 9:
      return "pallet";
    case 0:
      return "normal";
    default:
      return base::Format("mode %u", register18);
  }
}

std::string LinkedAddress(const uint16_t* descriptor) {
  if (std::all_of(descriptor, descriptor + kDescriptorWords, [](uint16_t w) { return w == 0; }))
    return "";
  return base::Format("%u.%u.%u.%u", descriptor[0] >> 8, descriptor[0] & 0xFFu, descriptor[1] >> 8,
                      descriptor[1] & 0xFFu);
}

std::string LinePositionText(uint8_t positionByte) {
  if (positionByte == 0xFF) return "unknown";
  const bool first = (positionByte & 0x01) != 0;
  const bool last = (positionByte & 0x02) != 0;
  if (first && last) return "first and last";
  if (first) return "first";
  if (last) return "last";
  return "middle";
}

bool RecordCarriesRevision(const CNode_Data& node) {
  const uint16_t revision = base::GetBE16(node.record.data() + 18);
  return revision != 0x0000 && revision != 0xFFFF;
}

std::string PlcProgramText(const config::PlcProgramOnModule& program) {
  if (!program.read) return "not read: " + program.failure;
  if (program.length == 0) return "none";
  if (program.name.empty()) return base::Format("no name (%zu bytes)", program.length);
  return program.name;
}

std::string OtherModuleAnswers(uint32_t serial, uint16_t register28, uint16_t register29) {
  const uint32_t answered = uint32_t{register29} * 65536u + register28;
  if (answered == serial) return "";
  return base::Format("another module (SN %u) answers on this address: the address is shared",
                      answered);
}

void ReadModuleForReport(ModuleReport& module) {
  {
    base::SilentPrompt prompt;
    platform::MemoryProfileStore profile;
    params::NodeScreenController controller(params::MakeSocketNodeLink(), prompt, profile);
    controller.Start(module.ip);
    const params::NodeScreenView& view = controller.View();
    if (!controller.Connected()) {
      module.failure = "no connection";
      module.health.address = module.ip;
      return;
    }
    if (!view.errorText.empty()) {
      module.failure = view.errorText;
      module.health.address = module.ip;
      return;
    }
    // Two modules on one address: the figures read there may be the other one's.
    const params::RegisterImage& image = controller.Image();
    if (const std::string other = OtherModuleAnswers(module.serial, image.Get(28), image.Get(29));
        !other.empty()) {
      module.failure = other;
      module.health.address = module.ip;
      return;
    }
    module.fields = params::ShownFields(view, controller.Lookup());
    controller.EnterDisconnected();
  }
  CBlockingSocket client;
  bool connected = false;
  try {
    connected = client._Connect(module.ip, CBlockingSocket::kModbusPort, true) == 1;
  } catch (const CBlockingSocketException&) {
    connected = false;
  }
  params::ClientRegisterAccess access(client);
  uint16_t family = 0;
  uint16_t mode = 0;
  uint16_t serial[2] = {};
  uint16_t descriptors[2 * kDescriptorWords] = {};
  if (!connected || !access.ReadRegisters(kSerialRegister, 2, serial)) {
    module.failure = "the connection registers could not be read";
    module.fields.clear();
    module.health.address = module.ip;
    return;
  }
  if (const std::string other = OtherModuleAnswers(module.serial, serial[0], serial[1]);
      !other.empty()) {
    module.failure = other;
    module.fields.clear();
    module.health.address = module.ip;
    return;
  }
  if (!access.ReadRegisters(kFamilyRegister, 1, &family) ||
      !access.ReadRegisters(kModeRegister, 1, &mode) ||
      !access.ReadRegisters(kUpstreamDescriptor, 2 * kDescriptorWords, descriptors)) {
    module.failure = "the connection registers could not be read";
    module.fields.clear();
    module.health.address = module.ip;
    return;
  }
  module.family = base::Format("0x%02X", (family >> 4) & 0x0Fu);
  module.mode = ModeName(mode);
  module.upstream = LinkedAddress(descriptors);
  module.downstream = LinkedAddress(descriptors + kDescriptorWords);
  module.health = diag::ReadHealth(module.ip, &access);
  module.plcProgram = PlcProgramText(config::ReadPlcProgramOnModule(module.ip));
  module.readable = true;
}

LineReport CollectLineReport(CMRegApp& app, const std::vector<std::string>& onlyAddresses,
                             base::Progress& progress, unsigned threads,
                             const ModuleReader& reader) {
  LineReport line;
  line.date = LocalDate();
  const AdapterPtr adapter = app.SelectedAdapter();
  if (!adapter) return line;
  TakeTopology(*adapter, line);

  if (!onlyAddresses.empty()) {
    // Only the modules asked for, in the order asked; one the discovery did not find is listed
    // as such.
    std::vector<ModuleReport> asked;
    for (const std::string& address : onlyAddresses) {
      const auto found = std::find_if(line.modules.begin(), line.modules.end(),
                                      [&](const ModuleReport& m) { return m.ip == address; });
      if (found != line.modules.end()) {
        asked.push_back(*found);
        continue;
      }
      ModuleReport missing;
      missing.ip = address;
      missing.linePosition = "unknown";
      missing.direction = "undetermined";
      missing.failure = "not found by the discovery";
      missing.health.address = address;
      asked.push_back(std::move(missing));
    }
    line.modules = std::move(asked);
  }
  std::vector<size_t> chosen;
  for (size_t k = 0; k < line.modules.size(); ++k)
    if (line.modules[k].failure.empty()) chosen.push_back(k);

  progress.SetRange(static_cast<int>(chosen.size()));
  std::atomic<int> done{0};
  std::mutex progressLock;
  diag::RunBounded(chosen.size(), threads, [&](size_t k) {
    ModuleReport& module = line.modules[chosen[k]];
    if (progress.Cancelled()) {
      module.failure = "not read (cancelled)";
      module.health.address = module.ip;
      return;
    }
    reader(module);
    std::lock_guard guard(progressLock);
    progress.SetPosition(++done);
  });
  return line;
}

}  // namespace report
