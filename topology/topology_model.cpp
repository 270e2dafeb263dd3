// The topology view's model: layout, directions, checks, title and outcome.
#include "topology/topology_model.h"

#include <algorithm>

#include "base/format.h"
#include "base/language.h"
#include "comm/event_log.h"

namespace topology {

const char* const kErrorDuplicateIp =
    QM_TRANSLATE_NOOP("TopologyModel", "Module mit gleicher IP Adresse vorhanden.");
const char* const kErrorNoConnection =
    QM_TRANSLATE_NOOP("TopologyModel", "Eine Verbindung zum Modul ist nicht möglich.");
const char* const kErrorConfiguration =
    QM_TRANSLATE_NOOP("TopologyModel", "Konfiguration passt nicht.");
const char* const kErrorSubnetNotALine = QM_TRANSLATE_NOOP(
    "TopologyModel", "Alle Module in einem Subnetz müssen als Linie konfiguriert werden.");
const char* const kErrorAddressesDoNotFit = QM_TRANSLATE_NOOP(
    "TopologyModel", "IP Adressen passen nicht. Dieses Subnetz muss neu konfiguriert werden.");

std::string ExpectedAddressError(uint32_t addressNetworkOrder, int lastOctet) {
  const auto* b = reinterpret_cast<const uint8_t*>(&addressNetworkOrder);
  const std::string subnet = base::Format("%d.%d.%d", b[0], b[1], b[2]);
  return base::Format(
      "Dieses Subnetz ist nicht richtig konfiguriert. (es wird ein Modul mit IP \"%s.%d\" "
      "erwartet) !?!",
      subnet.c_str(), lastOctet);
}

namespace {

const char* DirectionWords(uint32_t direction) {
  return direction == kRightToLeft ? "Right To Left" : "Left To Right";
}

// The node of the array with that serial number (buddies are matched by serial, so that the
// layout works on copies of the nodes as well as on the adapter's own).
NodePtr NodeOf(const NodeList& nodes, const NodePtr& buddy) {
  if (!buddy) return nullptr;
  for (const NodePtr& node : nodes) {
    if (node.get() == buddy.get()) return node;
  }
  return FindNodeBySerial(buddy->serialNumber, nullptr, nodes);
}

struct Layout {
  const NodeList& nodes;
  size_t maxModules;
  const std::function<bool()>& closing;
  DeviceArray view;

  bool Closing() const { return closing && closing(); }

  bool Drawn(const NodePtr& node) const {
    return view.FindDeviceByNode(node.get()) >= 0 ||
           view.FindDeviceBySerial(node->serialNumber) >= 0;
  }

  void LayoutBranch(int parent, uint16_t column) {
    if (Closing()) return;
    std::vector<NodePtr> candidates;
    if (parent == 0) {
      for (const NodePtr& node : nodes) {
        if (node->linkedToPcSwitch != 0) candidates.push_back(node);
      }
    } else {
      const NodePtr parentNode = view.devices[static_cast<size_t>(parent)].node;
      for (const auto& weak : parentNode->buddies) {
        if (const NodePtr node = NodeOf(nodes, weak.lock())) candidates.push_back(node);
      }
    }
    std::vector<int> created;
    for (const NodePtr& node : candidates) {
      if (view.ModuleCount() >= maxModules) break;
      if (Drawn(node)) continue;
      CPLViewDevice device;
      device.parent = parent;
      device.kind = kKindModule;
      device.direction = node->direction;
      device.node = node;
      view.devices.push_back(device);
      created.push_back(static_cast<int>(view.devices.size() - 1));
    }
    const size_t slot = column / kGridStep;
    if (view.rowFill.size() <= slot) view.rowFill.resize(slot + 1, 0);
    for (int index : created) {
      if (Closing()) return;
      CPLViewDevice& device = view.devices[static_cast<size_t>(index)];
      device.column = column;
      device.row = std::max(view.rowFill[slot], view.devices[static_cast<size_t>(parent)].row);
      view.rowFill[slot] = static_cast<uint16_t>(device.row + kGridStep);
      view.g_RecursiveMAXRowNum = std::max(view.g_RecursiveMAXRowNum, device.row);
      view.maxColumn = std::max(view.maxColumn, device.column);
      LayoutBranch(index, static_cast<uint16_t>(column + kGridStep));
    }
  }
};

}  // namespace

DeviceArray::DeviceArray() {
  CPLViewDevice root;
  root.kind = kKindPcSwitch;
  root.direction = kLeftToRight;
  devices.push_back(root);
}

int DeviceArray::FindDeviceBySerial(uint32_t serial) const {
  if (serial == 0) return -1;
  for (size_t i = 1; i < devices.size(); ++i) {
    if (devices[i].node && devices[i].node->serialNumber == serial) return static_cast<int>(i);
  }
  return -1;
}

int DeviceArray::FindDeviceByIp(uint32_t addressNetworkOrder) const {
  for (size_t i = 1; i < devices.size(); ++i) {
    if (devices[i].node && devices[i].node->ipAddress == addressNetworkOrder)
      return static_cast<int>(i);
  }
  return -1;
}

int DeviceArray::FindDeviceByNode(const CNode_Data* node) const {
  for (size_t i = 1; i < devices.size(); ++i) {
    if (devices[i].node.get() == node) return static_cast<int>(i);
  }
  return -1;
}

int DeviceArray::AtColumn(int index, int column) const {
  if (index < 1 || static_cast<size_t>(index) >= devices.size()) return -1;
  const uint16_t row = devices[static_cast<size_t>(index)].row;
  for (size_t i = 1; i < devices.size(); ++i) {
    if (devices[i].kind == kKindModule && devices[i].row == row && devices[i].column == column)
      return static_cast<int>(i);
  }
  return -1;
}

int DeviceArray::LeftBuddy(int index) const {
  if (index < 1 || static_cast<size_t>(index) >= devices.size()) return -1;
  return AtColumn(index, devices[static_cast<size_t>(index)].column - kGridStep);
}

int DeviceArray::RightBuddy(int index) const {
  if (index < 1 || static_cast<size_t>(index) >= devices.size()) return -1;
  return AtColumn(index, devices[static_cast<size_t>(index)].column + kGridStep);
}

int DeviceArray::RowEnd(int index) const {
  if (index < 1 || static_cast<size_t>(index) >= devices.size()) return -1;
  const uint16_t row = devices[static_cast<size_t>(index)].row;
  int end = -1;
  for (size_t i = 1; i < devices.size(); ++i) {
    if (devices[i].kind != kKindModule || devices[i].row != row) continue;
    if (end < 0 || devices[i].column > devices[static_cast<size_t>(end)].column)
      end = static_cast<int>(i);
  }
  return end;
}

CellRect CellOf(const CPLViewDevice& device, int CellSize) {
  return {device.column * CellSize, device.row * CellSize + CellSize / 2,
          (device.column + kGridStep) * CellSize, (device.row + kGridStep) * CellSize};
}

int DeviceArray::HitTest(int x, int y, int CellSize) const {
  for (size_t i = 0; i < devices.size(); ++i) {
    const CellRect cell = CellOf(devices[i], CellSize);
    if (x >= cell.left && x < cell.right && y >= cell.top && y < cell.bottom)
      return static_cast<int>(i);
  }
  return -1;
}

std::string DuplicateIps::Message() const {
  if (nodes.empty()) return std::string();
  return "Unable to use PL features since there is Duplicated IPs on the networks!\r\n The "
         "following nodes (see mentioned SerNo) has duplicated IPs:\r\n" +
         list;
}

DuplicateIps FindDuplicateIps(const NodeList& nodes) {
  DuplicateIps result;
  for (size_t i = 0; i < nodes.size(); ++i) {
    bool shared = false;
    for (size_t j = 0; j < nodes.size() && !shared; ++j) {
      shared = j != i && nodes[j]->ipAddress == nodes[i]->ipAddress;
    }
    if (!shared) continue;
    result.nodes.push_back(nodes[i]);
    result.list += base::Format("{ser.no: %u - ip:\"%s\"}, ", nodes[i]->serialNumber,
                                nodes[i]->ipText.c_str());
  }
  if (!result.nodes.empty()) {
    LogWarning("Discovered %u nodes with Duplicated IPs !!!",
               static_cast<unsigned>(result.nodes.size()));
  }
  return result;
}

DeviceArray LayOut(const NodeList& nodes, size_t maxModules, const std::function<bool()>& closing) {
  Layout layout{nodes, maxModules, closing, DeviceArray()};
  layout.LayoutBranch(0, kFirstModuleColumn);
  DeviceArray& view = layout.view;
  // The PC's switch at mid height of a tall drawing.
  if (view.g_RecursiveMAXRowNum > 7)
    view.devices[0].row = static_cast<uint16_t>((view.g_RecursiveMAXRowNum - 7) / 2);
  LogInfo("nDevicesToDrawn = %u", static_cast<unsigned>(view.ModuleCount()));
  return std::move(layout.view);
}

std::string ConfIdText(const std::vector<uint16_t>& regs) {
  if (regs.size() < 4) return std::string();
  return base::Format("%04X%04X%04X%04X", regs[0], regs[1], regs[2], regs[3]);
}

namespace {

void SetError(DeviceArray& view, size_t index, const std::string& text) {
  CPLViewDevice& device = view.devices[index];
  if (device.error != 0) return;  // the first problem found is the one shown
  device.error = 1;
  device.errorText = text;
  LogWarning("WARN. bErr for node: \"%s\" at Row = %d, Col = %d, csErrDesc: \"%s\"",
             device.node->ipText.c_str(), device.row, device.column, text.c_str());
}

void SettleDirection(DeviceArray& view, size_t index) {
  CPLViewDevice& device = view.devices[index];
  CNode_Data& node = *device.node;
  const uint32_t serial = node.serialNumber;
  bool learnt = true;
  if (node.neighborsAnswered != 0) {
    device.direction = node.direction;
  } else if (view.RowEnd(static_cast<int>(index)) == static_cast<int>(index) &&
             node.packetFlags < 0x30) {
    device.direction = (node.packetFlags & 0x10) != 0 ? kLeftToRight : kRightToLeft;
    LogInfo(">> auto determine LastDev.SerNo = %u , packetFlags = 0x%x => direction is %s!", serial,
            node.packetFlags, DirectionWords(device.direction));
  } else {
    const int left = view.LeftBuddy(static_cast<int>(index));
    const int right = view.RightBuddy(static_cast<int>(index));
    if (left > 0 && view.devices[static_cast<size_t>(left)].directionKnown != 0) {
      device.direction = view.devices[static_cast<size_t>(left)].direction;
      LogWarning("WARN. No 0x79 for node %u got the Dir. from its Lbuddy  => direction is %s!",
                 serial, DirectionWords(device.direction));
    } else if (right > 0 && view.devices[static_cast<size_t>(right)].directionKnown != 0) {
      device.direction = view.devices[static_cast<size_t>(right)].direction;
      LogWarning("WARN. No 0x79 for node %u got the Dir. from its Rbuddy  => direction is %s!",
                 serial, DirectionWords(device.direction));
    } else {
      device.direction = kLeftToRight;
      learnt = false;
      LogWarning(
          "WARN. No 0x79 for node %u and Lbuddy doesn't has a real Dir. also... so make it "
          "default Dir!",
          serial);
    }
  }
  // A default is not something learnt: a later neighbour must not copy it.
  device.directionKnown = learnt ? 1 : 0;
  node.direction = device.direction;
}

// A module on the PC's switch moves to the row where its branch starts.
void MoveToBranchRow(DeviceArray& view, size_t index) {
  CPLViewDevice& device = view.devices[index];
  if (device.node->linkedToPcSwitch == 0) return;
  uint16_t row = kNoRowFound;
  for (const auto& weak : device.node->buddies) {
    const NodePtr buddy = weak.lock();
    if (!buddy) continue;
    const int found = view.FindDeviceBySerial(buddy->serialNumber);
    if (found < 0) continue;
    const CPLViewDevice& other = view.devices[static_cast<size_t>(found)];
    if (other.column == device.column + kGridStep) row = std::min(row, other.row);
  }
  if (row != kNoRowFound) device.row = row;
}

// The module devices of every row, each row in column order.
std::map<uint16_t, std::vector<size_t>> Rows(const DeviceArray& view) {
  std::map<uint16_t, std::vector<size_t>> rows;
  for (size_t i = 1; i < view.devices.size(); ++i) {
    if (view.devices[i].kind == kKindModule && view.devices[i].node)
      rows[view.devices[i].row].push_back(i);
  }
  for (auto& [row, members] : rows) {
    std::stable_sort(members.begin(), members.end(), [&view](size_t a, size_t b) {
      return view.devices[a].column < view.devices[b].column;
    });
  }
  return rows;
}

const uint8_t* AddressBytes(const CPLViewDevice& device) {
  return reinterpret_cast<const uint8_t*>(&device.node->ipAddress);
}

uint32_t SubnetOf(const CPLViewDevice& device) {
  const uint8_t* b = AddressBytes(device);
  return uint32_t{b[0]} << 16 | uint32_t{b[1]} << 8 | b[2];
}

bool MarkedFirst(const CPLViewDevice& device) {
  const uint8_t position = device.node->record[16];
  return position != 0xFF && (position & 1) != 0;
}

// One group of side-by-side modules of one subnet: the numbering most of them follow.
struct Numbering {
  int base = 0;  // the last octet expected at the group's first (left-most) module
  int step = 1;  // +1: numbered from left to right, -1: from right to left
  int agreeing = 0;
  bool followedByFirst = false;  // a module marked First has its address in this numbering
};

Numbering MajorityNumbering(const DeviceArray& view, const std::vector<size_t>& group) {
  const int n = static_cast<int>(group.size());
  auto octet = [&](int k) { return static_cast<int>(AddressBytes(view.devices[group[k]])[3]); };
  Numbering best;
  bool have = false;
  for (int step : {1, -1}) {
    for (int j = 0; j < n; ++j) {
      Numbering candidate{octet(j) - step * j, step, 0, false};
      for (int k = 0; k < n; ++k) {
        if (octet(k) != candidate.base + step * k) continue;
        ++candidate.agreeing;
        if (MarkedFirst(view.devices[group[static_cast<size_t>(k)]]))
          candidate.followedByFirst = true;
      }
      const bool better = !have || candidate.agreeing > best.agreeing ||
                          (candidate.agreeing == best.agreeing && candidate.followedByFirst &&
                           !best.followedByFirst);
      if (better) {
        best = candidate;
        have = true;
      }
    }
  }
  return best;
}

}  // namespace

int CheckLineAddresses(DeviceArray& view) {
  int marked = 0;
  auto mark = [&](size_t index, const std::string& text) {
    if (view.devices[index].error != 0) return;
    SetError(view, index, text);
    ++marked;
  };
  for (const auto& [row, members] : Rows(view)) {
    // Side-by-side groups of one subnet, in column order.
    std::vector<std::vector<size_t>> groups;
    for (size_t index : members) {
      if (groups.empty() ||
          SubnetOf(view.devices[groups.back().front()]) != SubnetOf(view.devices[index])) {
        groups.emplace_back();
      }
      groups.back().push_back(index);
    }
    // The largest group of each subnet is its line; the others are not part of it.
    std::map<uint32_t, size_t> line;  // subnet -> index into groups
    for (size_t g = 0; g < groups.size(); ++g) {
      const uint32_t subnet = SubnetOf(view.devices[groups[g].front()]);
      const auto known = line.find(subnet);
      if (known == line.end() || groups[g].size() > groups[known->second].size()) line[subnet] = g;
    }
    for (size_t g = 0; g < groups.size(); ++g) {
      const std::vector<size_t>& group = groups[g];
      if (line[SubnetOf(view.devices[group.front()])] != g) {
        for (size_t index : group) mark(index, kErrorSubnetNotALine);
        continue;
      }
      if (group.size() < 2) continue;
      const Numbering numbering = MajorityNumbering(view, group);
      if (numbering.agreeing < 2) {
        for (size_t index : group) mark(index, kErrorAddressesDoNotFit);
        continue;
      }
      for (size_t k = 0; k < group.size(); ++k) {
        const int expected = numbering.base + numbering.step * static_cast<int>(k);
        const CPLViewDevice& device = view.devices[group[k]];
        if (AddressBytes(device)[3] == expected) continue;
        if (expected < 1 || expected > 254) {
          mark(group[k], kErrorAddressesDoNotFit);
        } else {
          mark(group[k], ExpectedAddressError(device.node->ipAddress, expected));
        }
      }
    }
  }
  return marked;
}

int SettleDevices(DeviceArray& view, const ReaderResults* readers) {
  for (size_t i = 1; i < view.devices.size(); ++i) {
    if (view.devices[i].kind != kKindModule || !view.devices[i].node) continue;
    SettleDirection(view, i);
    MoveToBranchRow(view, i);
  }
  if (readers == nullptr) return 0;
  // The checks of what the readers found come first: a module that cannot be read, or that is
  // another module's address, shows that rather than what follows from it.
  for (size_t i = 1; i < view.devices.size(); ++i) {
    const CPLViewDevice& device = view.devices[i];
    if (device.kind != kKindModule || !device.node) continue;
    const auto it = readers->find(device.Serial());
    if (it == readers->end()) continue;
    if (it->second.otherSerial) {
      SetError(view, i, kErrorDuplicateIp);
    } else if (!it->second.connected) {
      SetError(view, i, kErrorNoConnection);
    }
  }
  CheckLineAddresses(view);
  // The configuration expected of a row is the one most of its read modules carry; on a tie,
  // the left-most module's.
  std::map<uint16_t, std::string> expected;  // row -> ConfID
  for (const auto& [row, members] : Rows(view)) {
    std::map<std::string, int> votes;
    std::vector<std::string> order;  // ConfIDs in column order of their first module
    for (size_t index : members) {
      const auto it = readers->find(view.devices[index].Serial());
      if (it == readers->end() || !it->second.connected || it->second.otherSerial) continue;
      const std::string conf = ConfIdText(it->second.regs);
      if (conf.empty() || conf == "0000000000000000") continue;
      if (votes[conf]++ == 0) order.push_back(conf);
    }
    for (const std::string& conf : order) {
      if (expected.count(row) == 0 || votes[conf] > votes[expected[row]]) expected[row] = conf;
    }
  }
  int problems = 0;
  for (size_t i = 1; i < view.devices.size(); ++i) {
    const CPLViewDevice& device = view.devices[i];
    if (device.kind != kKindModule || !device.node) continue;
    const auto it = readers->find(device.Serial());
    if (it != readers->end() && it->second.connected && !it->second.otherSerial) {
      const std::string conf = ConfIdText(it->second.regs);
      const auto want = expected.find(device.row);
      if (!conf.empty() && conf != "0000000000000000" && want != expected.end() &&
          conf != want->second) {
        LogWarning("WARN. Node \"%s\" has ConfID: \"%s\", but expected is \"%s\" !?!",
                   device.node->ipText.c_str(), conf.c_str(), want->second.c_str());
        SetError(view, i, kErrorConfiguration);
      }
    }
    if (view.devices[i].error != 0) ++problems;
  }
  return problems;
}

std::optional<std::string> LinePositionName(int position) {
  switch (position) {
    case 0:
      return "Unknown";
    case 1:
      return "First";
    case 2:
      return "Last";
    case 3:
      return "First && Last";
    default:
      LogWarning("%i -> unexpected !?!", position);
      return std::nullopt;
  }
}

std::string WindowTitle(const std::string& base, size_t drawn, size_t found, int problems,
                        base::Language language) {
  // Each part in the language asked for, then composed: the counts never pass a translation.
  const auto text = [language](const char* source) {
    return base::Translate(language, "TopologyModel", source);
  };
  std::string title =
      drawn < found
          ? base::Format(
                text(QM_TRANSLATE_NOOP("TopologyModel",
                                       "%s - (%d Module sind dargestellt, %d sind gefunden)")),
                base.c_str(), static_cast<int>(drawn), static_cast<int>(found))
          : base::Format(
                text(QM_TRANSLATE_NOOP("TopologyModel", "%s - (%d Module sind dargestellt)")),
                base.c_str(), static_cast<int>(drawn));
  if (problems > 0) {
    title += base::Format(
        text(QM_TRANSLATE_NOOP(
            "TopologyModel",
            "    Achtung - %d mögliches Problem gefunden (Module mit roter LED prüfen)")),
        problems);
  }
  return title;
}

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Complete:
      return "complete";
    case Outcome::Retry:
      return "retry";
    case Outcome::Incomplete:
      return "incomplete";
    case Outcome::Partial:
      return "partial";
  }
  return "incomplete";
}

Outcome RunOutcome(const RunFacts& facts) {
  if (facts.drawn == facts.found) return Outcome::Complete;
  // More modules than can be drawn, or a run that took too long: retrying cannot help.
  if (facts.found > kMaxDrawnModules || facts.elapsedMs > kPartialAfterMs) return Outcome::Partial;
  if (facts.installationMode && facts.retryAllowed) return Outcome::Retry;
  // Modules found but not reached along the chains: never reported as a whole line.
  return Outcome::Incomplete;
}

std::string OutcomeMessage(Outcome outcome, const RunFacts& facts) {
  if (outcome == Outcome::Incomplete) {
    return "Es sind Fehler bei der Erfassung der Topologie der Knoten aufgetreten. Bitte die "
           "Verkabelung und die Verbindung zwischen den Modulen prüfen und erneut versuchen.";
  }
  if (outcome != Outcome::Partial) return std::string();
  std::string text = base::Format(
      "Es wurde die Topologieinformation von %u der %u Knoten im "
      "System ermittelt !",
      static_cast<unsigned>(facts.drawn), static_cast<unsigned>(facts.found));
  if (facts.found > kMaxDrawnModules) text += "\r\nEs können maximal 170 Knoten erfasst werden..";
  return text;
}

}  // namespace topology
