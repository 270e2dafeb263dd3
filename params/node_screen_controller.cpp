#include "params/node_screen_controller.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <limits>

#include "base/format.h"
#include "base/language.h"
#include "comm/blocking_socket.h"
#include "comm/event_log.h"
#include "params/drive_catalogue.h"
#include "params/edit_rules.h"
#include "params/mirror_map.h"
#include "params/register_map.h"

namespace params {
namespace {

constexpr const char* kProfileSection = "Settings";
// A message of a CBlockingSocketException shown without " error #n".
constexpr int kPlainMessage = 16;

// The drive error bits of 58 / 82 that light an indicator red; 0x0200 (max torque) is yellow.
constexpr uint16_t kDriveFaultBits =
    0x0130 | 0x0040 | 0x0080 | 0x0400 | 0x0800 | 0x1000 | 0x2000 | 0x4000;
constexpr uint16_t kMaxTorqueBit = 0x0200;

size_t SideIndex(Side side) {
  return static_cast<size_t>(side);
}

}  // namespace

// ---- construction and start ---------------------------------------------------------------

NodeScreenController::NodeScreenController(std::unique_ptr<NodeLink> link, base::Prompt& prompt,
                                           platform::ProfileStore& profile)
    : link_(std::move(link)),
      prompt_(prompt),
      profile_(profile),
      access_(std::make_unique<ScreenAccess>(*this)),
      map_(std::make_unique<RegisterMap>(*access_)) {
  baseTitle_ = BaseWindowTitle(kProgramName, kDialogTitle);
  EnterDisconnected();
}

NodeScreenController::~NodeScreenController() {
  if (connected_) link_->Disconnect();
}

void NodeScreenController::ReadDefaultNet() {
  defaultNetRead_ = true;
  networkText_ = profile_.GetString(kProfileSection, kDefaultNetKey, kDefaultNet);
  ++view_.fieldsSerial;
  BuildView();
}

void NodeScreenController::Start(const std::string& startAddress) {
  if (!defaultNetRead_) ReadDefaultNet();
  if (!startAddress.empty()) {
    in_addr parsed{};
    if (inet_pton(AF_INET, startAddress.c_str(), &parsed) == 1) {
      networkText_ = startAddress;
      fromText_ = base::Format("%d", NodeFromHostByte(ntohl(parsed.s_addr) & 0xFF));
      ChangeNode(0);
      return;
    }
  }
  BuildView();
}

void NodeScreenController::SetNetworkText(const std::string& text) {
  networkText_ = text;
}
void NodeScreenController::SetFromText(const std::string& text) {
  fromText_ = text;
}
void NodeScreenController::SetToText(const std::string& text) {
  toText_ = text;
}

std::array<uint8_t, 4> NodeScreenController::NetworkBytes() const {
  in_addr parsed{};
  std::array<uint8_t, 4> bytes{};
  if (inet_pton(AF_INET, networkText_.c_str(), &parsed) == 1) {
    const uint32_t host = ntohl(parsed.s_addr);
    bytes = {static_cast<uint8_t>(host >> 24), static_cast<uint8_t>(host >> 16),
             static_cast<uint8_t>(host >> 8), static_cast<uint8_t>(host)};
  }
  return bytes;
}

std::string NodeScreenController::NodeAddress(int node) const {
  const auto net = NetworkBytes();
  return base::Format("%u.%u.%u.%u", net[0], net[1], net[2],
                      static_cast<unsigned>(NodeHostByte(node) & 0xFF));
}

// ---- timer and state ----------------------------------------------------------------------

void NodeScreenController::StartTimer() {
  timerRunning_ = true;
  ++timerGeneration_;
}

void NodeScreenController::StopTimer() {
  timerRunning_ = false;
}

void NodeScreenController::SetBusy(bool busy) {
  view_.busy = busy;
}

void NodeScreenController::SetStatusText(const std::string& text) {
  view_.statusText = text;
  view_.statusTextShown = text;
  statusOverride_ = !text.empty();
  if (progress_) progress_();
}

void NodeScreenController::SetTimeLeftText(const std::string& text) {
  view_.timeLeftText = text;
  if (progress_) progress_();
}

void NodeScreenController::Publish() {
  BuildView();
  if (progress_) progress_();
}

void NodeScreenController::EnterDisconnected() {
  StopTimer();
  if (connected_) link_->Disconnect();
  connected_ = false;
  map_->image().Set(507, 0);
  map_->image().Set(508, 0);
  // The empty screen shows the drive-family layout.
  kind_.family = kDisconnectedFamily;
  kind_.variant = kDisconnectedVariant;
  layout_ = Layout{};
  plcProgramName_.clear();
  BuildView();
}

// ---- change of node and connect ------------------------------------------------------------

void NodeScreenController::ChangeNode(int delta) {
  if (fromText_.empty() && delta == 0) delta = 1;
  const int target = FieldNumber(fromText_) + delta;
  if (const auto refusal = CheckNodeNumber(target)) {
    prompt_.Tell(*refusal, kProgramName, base::PromptIcon::Warning);
    return;
  }
  EnterDisconnected();
  // Nothing of another module may shape what the next one shows or is written with: its
  // registers (units, drive types, orientation), the ZPA entry its user chose. A refresh of the
  // same module keeps its image (register 6, read last, decides the first read's sides); the
  // extended reads are tried again either way.
  if (NodeAddress(target) != address_) {
    map_->ForgetModule();
    show_.zpaEntry = {-1, -1};
  } else {
    map_->RetryExtendedReads();
  }
  node_ = target;
  fromText_ = base::Format("%d", node_);
  ++view_.fieldsSerial;
  fullRead_ = true;

  const uint32_t flushStart = link_->Tick();
  link_->FlushNeighbourCache();
  const uint32_t flushMs = link_->Tick() - flushStart;
  if (flushMs > kArpSlowMs) LogWarning("Clearing ARP table was took %u ms.!?!", flushMs);

  if (ConnectTo(node_)) OnTimer();
  BuildView();
}

void NodeScreenController::PreviousNode() {
  if (node_ > kFirstNode) ChangeNode(-1);
}

void NodeScreenController::NextNode() {
  if (node_ < kLastNode) ChangeNode(1);
}

bool NodeScreenController::PingModule() {
  in_addr parsed{};
  if (inet_pton(AF_INET, address_.c_str(), &parsed) != 1) return false;
  for (int attempt = 0; attempt < kPingAttempts; ++attempt) {
    if (link_->PingOnce(parsed.s_addr)) return true;
  }
  return false;
}

void NodeScreenController::ShowFailure(const std::string& text) {
  LogError("%s", text.c_str());
  prompt_.Tell(text, kProgramName, base::PromptIcon::Warning);
}

bool NodeScreenController::ConnectTo(int node) {
  if (connected_) {
    link_->Disconnect();
    connected_ = false;
  }
  address_ = NodeAddress(node);
  const std::string nodeText = base::Format("%d", node);
  if (!PingModule()) {
    ShowFailure(ConnectFailureText(nodeText, address_));
    return false;
  }
  try {
    link_->Connect(address_);
  } catch (const CBlockingSocketException& error) {
    LogError("CMRegDlg::Connect - %s", error.GetErrorMessage().c_str());
    ShowFailure(ConnectFailureText(nodeText, address_));
    return false;
  }
  connected_ = true;
  connectedNode_ = node;
  return true;
}

// ---- the refresh cycle -----------------------------------------------------------------

void NodeScreenController::OnTimer() {
  StopTimer();
  if (!connected_) {
    EnterDisconnected();
    return;
  }
  view_.title = ConnectedWindowTitle(baseTitle_, address_);
  if (RefreshPass()) StartTimer();
}

// ---- register traffic ------------------------------------------------------------------

// The register map's way to the module: every read it makes is a block read of the screen,
// so each is preceded by the screen's ping rule.
class NodeScreenController::ScreenAccess : public RegisterAccess {
 public:
  explicit ScreenAccess(NodeScreenController& screen) : screen_(screen) {}
  bool ReadRegisters(uint16_t first, uint16_t count, uint16_t* values) override {
    screen_.BeforeBlockRead();
    return Wire().ReadRegisters(first, count, values);
  }
  bool WriteRegister(uint16_t reg, uint16_t value) override {
    return Wire().WriteRegister(reg, value);
  }
  bool WriteRegisters(uint16_t first, uint16_t count, const uint16_t* values) override {
    return Wire().WriteRegisters(first, count, values);
  }
  bool SaveToFlash(uint16_t reg, uint16_t value) override { return Wire().SaveToFlash(reg, value); }
  bool SaveToFlashGroup(uint16_t first, uint16_t count) override {
    return Wire().SaveToFlashGroup(first, count);
  }
  void Pause(uint32_t ms) override { screen_.link_->Sleep(ms); }

 private:
  RegisterAccess& Wire() { return screen_.link_->Registers(); }
  NodeScreenController& screen_;
};

void NodeScreenController::BeforeBlockRead() {
  const std::string node = base::Format("%d", connectedNode_);
  if (!connected_) {
    throw CBlockingSocketException(ReadPingFailureText(node, address_), kPlainMessage);
  }
  if (!PingModule()) {
    const std::string text = ReadPingFailureText(node, address_);
    EnterDisconnected();
    throw CBlockingSocketException(text, kPlainMessage);
  }
}

void NodeScreenController::ReadBlock(int first, int count) {
  if (!map_->ReadBlock(static_cast<uint16_t>(first), static_cast<uint16_t>(count))) {
    throw CBlockingSocketException(base::Format("Read Reg [%d]", first), kPlainMessage);
  }
}

uint16_t NodeScreenController::ReadOne(int reg) {
  // A single read before a write has no ping in front of it, unlike the block reads.
  const uint16_t sent = map_->ToModule(static_cast<uint16_t>(reg));
  uint16_t value = 0;
  if (!link_->Registers().ReadRegisters(sent, 1, &value)) {
    throw CBlockingSocketException(base::Format("Read Reg [%d]", reg), kPlainMessage);
  }
  map_->image().StoreBlock(sent, &value, 1);
  return value;
}

bool NodeScreenController::WriteOne(int reg, uint16_t value) {
  return map_->WriteOne(static_cast<uint16_t>(reg), value);
}

bool NodeScreenController::SaveOne(int reg, uint16_t value) {
  return map_->SaveToFlash(static_cast<uint16_t>(reg), value);
}

bool NodeScreenController::SaveGroup(int first, int count) {
  return map_->SaveToFlashGroup(static_cast<uint16_t>(first), static_cast<uint16_t>(count));
}

int NodeScreenController::ExtendedReadFailures() const {
  return map_->extendedFailures();
}

// ---- the refresh cycle's reads --------------------------------------------------------

bool NodeScreenController::FullReadPass() {
  const RegisterMap::ReadOutcome outcome = map_->FullRead();
  if (!outcome.ok) {
    view_.errorText = outcome.error;
    return false;
  }
  const ImageView image = Lookup();
  if (image.ModuleType() == kTypePlcIo || image.Family() == kFamilyDriveController) {
    plcProgramName_ = link_->ReadPlcProgramName(address_);
  } else {
    plcProgramName_.clear();
  }
  layout_ = DecideLayout(image, !plcProgramName_.empty());
  previousKind_ = kind_;
  kind_ = ModuleKind{image.Family(), image.ModuleType(), image.Variant()};
  for (size_t s = 0; s < 2; ++s) {
    show_.driveList[s] = NextDriveList(kind_, previousKind_, show_.driveList[s]);
  }
  fullRead_ = false;
  return true;
}

bool NodeScreenController::RotatingPass() {
  const int group = rotatingGroup_;
  const RegisterMap::ReadOutcome outcome = map_->RotatingRead(group);
  if (!outcome.ok) {
    view_.errorText = outcome.error;
    return false;
  }
  rotatingGroup_ = group >= 4 ? 1 : group + 1;
  if (group == 3 && Lookup().Family() == kFamilyDriveController) rotatingGroup_ = 1;
  return true;
}

bool NodeScreenController::RefreshPass() {
  view_.errorText.clear();
  const bool ok = fullRead_ ? FullReadPass() : RotatingPass();
  ++view_.passes;
  BuildView();
  return ok;
}

// ---- edits and toggles ------------------------------------------------------------------

bool NodeScreenController::CheckCurrentNode() {
  if (const auto refusal = CheckNodeNumber(node_)) {
    prompt_.Tell(*refusal, kProgramName, base::PromptIcon::Warning);
    return false;
  }
  return true;
}

bool NodeScreenController::RunPlan(const RegisterPlan& plan) {
  bool ok = true;
  for (const PlanStep& step : plan.steps) {
    switch (step.kind) {
      case PlanStepKind::Write:
        ok = WriteOne(step.reg, step.value) && ok;
        break;
      case PlanStepKind::Save:
        ok = SaveOne(step.reg, step.value) && ok;
        break;
      case PlanStepKind::SaveGroup:
        ok = SaveGroup(step.reg, step.value) && ok;
        break;
      case PlanStepKind::Pause:
        link_->Sleep(step.value);
        break;
      case PlanStepKind::Read:
        try {
          ReadOne(step.reg);
        } catch (const CBlockingSocketException& error) {
          LogError("CMRegDlg - Read Reg [%d] - %s", step.reg, error.GetErrorMessage().c_str());
          ok = false;
        }
        break;
      case PlanStepKind::ShowCurrentLimit:
      case PlanStepKind::HideCurrentLimit:
        // The controls follow the drive code in the image, which the plan has just written.
        break;
    }
  }
  if (plan.readNext != RefreshGroup::None) rotatingGroup_ = static_cast<int>(plan.readNext);
  return ok;
}

RegisterPlan NodeScreenController::PlanFor(int itemId, Side side, const FieldInput& input) {
  if (itemId < 0 || itemId >= kDisplayItemCount) return {};
  return PlanField(DisplayItemById(itemId), side, input, Lookup(), show_,
                   [this](int reg) { return ReadOne(reg); });
}

void NodeScreenController::ApplyField(int itemId, Side side, const FieldInput& input) {
  if (!connected_ || !CheckCurrentNode()) return;
  RegisterPlan plan;
  try {
    plan = PlanFor(itemId, side, input);
  } catch (const CBlockingSocketException& error) {
    LogError("CMRegDlg::OnSelchange - %s", error.GetErrorMessage().c_str());
    return;
  }
  if (DisplayItemById(itemId).set == SetKind::List && itemId == item::kZpaMode) {
    // The user's own choice of ZPA entry is what the list keeps showing for this module.
    show_.zpaEntry[static_cast<size_t>(side)] = input.entry;
  }
  CarryOut(plan);
}

void NodeScreenController::ApplyEdit(int itemId, Side side, const std::string& typed,
                                     const std::string& secondTyped) {
  if (DisplayItemById(itemId).set != SetKind::Typed &&
      DisplayItemById(itemId).set != SetKind::TypedPair) {
    return;
  }
  FieldInput input;
  input.typed = typed;
  input.secondTyped = secondTyped;
  ApplyField(itemId, side, input);
}

// Shows a refused plan's message, or runs the plan and shows the result.
void NodeScreenController::CarryOut(const RegisterPlan& plan) {
  if (plan.Refused()) {
    prompt_.Tell(plan.refusal, kProgramName, base::PromptIcon::Warning);
    return;
  }
  RunPlan(plan);
  BuildView();
}

void NodeScreenController::ApplyList(int itemId, Side side, int entry) {
  if (!connected_) {
    BuildView();  // the list shows no selection again
    return;
  }
  if (DisplayItemById(itemId).set != SetKind::List) return;
  if (itemId == item::kDriveType) {
    const auto entries = DriveListEntries(show_.driveList[static_cast<size_t>(side)]);
    if (entry < 0 || static_cast<size_t>(entry) >= entries.size()) return;
  }
  FieldInput input;
  input.entry = entry;
  ApplyField(itemId, side, input);
}

void NodeScreenController::ApplyCheck(int itemId, Side side, bool ticked) {
  if (DisplayItemById(itemId).set != SetKind::Check) return;
  FieldInput input;
  input.ticked = ticked;
  ApplyField(itemId, side, input);
}

void NodeScreenController::Toggle(int itemId, Side side) {
  if (!connected_ || !CheckCurrentNode()) return;
  const ImageView image = Lookup();
  const uint16_t type = image.ModuleType();
  const int zoneControl = side == Side::A ? 117 : 197;
  const int zoneRun = side == Side::A ? 95 : 175;
  RegisterPlan plan;
  try {
    switch (itemId) {
      case item::kAccumulate:
        plan = PlanAccumulate(side, image[zoneControl]);
        break;
      case item::kZoneRun:
        plan = PlanZoneForcedRun(side, image[zoneRun], image[zoneControl]);
        break;
      case item::kDriveRun:
        plan = PlanDriveRun(side, type, image);
        break;
      case item::kJamClear:
        plan = PlanJamClear(side);
        break;
      case item::kBlink:
        plan = PlanBlink(ReadOne(19));
        break;
      default:
        return;
    }
  } catch (const CBlockingSocketException& error) {
    LogError("CMRegDlg::OnButton - %s", error.GetErrorMessage().c_str());
    return;
  }
  CarryOut(plan);
}

// ---- the view --------------------------------------------------------------------------

void NodeScreenController::BuildView() {
  NodeScreenView& v = view_;
  v.connected = connected_;
  v.title = connected_ ? ConnectedWindowTitle(baseTitle_, address_) : baseTitle_;
  v.networkText = networkText_;
  v.node = node_;
  v.fromText = fromText_;
  v.toText = toText_;
  v.moduleAddress = node_ > 0 ? NodeAddress(node_) : std::string();
  v.show = show_;

  // While disconnected the rules see the drive-family layout and show no texts.
  std::array<uint16_t, kImageWords> words = map_->image().Words();
  if (!connected_) {
    words[17] = static_cast<uint16_t>(kind_.family << 8);
    words[6] = kind_.variant;
  }
  const ImageView image{ImageSpan(words)};
  const uint16_t type = image.ModuleType();
  v.layout = connected_ ? layout_ : Layout{};

  if (!statusOverride_) {
    v.statusText = connected_ ? PlcStatusText(image.Family(), image[12], image[254], image[279],
                                              plcProgramName_)
                              : std::string();
    v.statusTextShown = connected_
                            ? PlcStatusText(image.Family(), image[12], image[254], image[279],
                                            plcProgramName_, base::CurrentLanguage())
                            : std::string();
  }
  v.linkShown = connected_ && LinkIndicatorsShown(image[290]);
  v.cableText = connected_ ? CableDiagnosisText(image[291]) : std::string();
  v.reconnectCounter = connected_ ? CounterText(image[286]) : std::string();
  v.responseTimeouts = connected_ ? CounterText(image[287]) : std::string();
  v.diagnosticLogButton = connected_ && v.layout.diagnosticLogButton;
  v.plcMode = connected_ && (image[reg::kPlcMode] & 1) != 0;
  v.driveControllerButton = connected_ && v.layout.view == ScreenView::DriveController;

  for (size_t s = 0; s < 2; ++s) {
    v.driveEntries[s] = DriveListEntries(show_.driveList[s]);
    const auto directions = DirectionListEntries(show_.driveList[s]);
    v.directionEntries[s].assign(directions.begin(), directions.end());
  }

  for (const DisplayItem& item : kDisplayItems) {
    ItemScreen& screen = v.items[static_cast<size_t>(item.id)];
    for (Side side : {Side::A, Side::B}) {
      const size_t s = SideIndex(side);
      const char* label = item.LabelFor(side, type);
      screen.label[s] = label ? label : "";
      // The current limit belongs to a recognised drive: nothing to show without a module.
      screen.shown[s] =
          ItemShown(item, side, image, v.layout) && (connected_ || item.id != item::kCurrentLimit);
      if (connected_ && screen.shown[s]) {
        screen.view[s] = ShowItem(item, side, image, show_);
      } else {
        screen.view[s] = ItemView{};
      }
    }
  }

  ModulePictureState& picture = v.picture;
  picture.connected = connected_;
  picture.leftToRight = !connected_ || DirectionFlip(image[96], image.Variant());
  for (size_t s = 0; s < 2; ++s) {
    const Side side = static_cast<Side>(s);
    picture.driveShown[s] = v.layout.drive[s];
    picture.zoneUsed[s] = v.layout.zone[s];
    const uint16_t errors = image[side == Side::A ? 58 : 82];
    picture.driveState[s] = !connected_                  ? PictureColour::Off
                            : (errors & kDriveFaultBits) ? PictureColour::Red
                            : (errors & kMaxTorqueBit)   ? PictureColour::Yellow
                                                         : PictureColour::Green;
    picture.driveRunning[s] = image[side == Side::A ? 49 : 73] != 0;
    picture.zoneJam[s] = image[side == Side::A ? 108 : 188] != 0;
    const DisplayItem& dirt = DisplayItemById(item::kSensorDirt);
    const DisplayItem& wiring = DisplayItemById(item::kSensorConnection);
    picture.zoneSensorFault[s] =
        (image[35] & dirt.MaskOf(side)) != 0 || (image[36] & wiring.MaskOf(side)) != 0;
    picture.zoneAccumulate[s] = image[side == Side::A ? 117 : 197] >= 0x100;
    picture.zoneForcedRun[s] = image[side == Side::A ? 95 : 175] != 0;
  }
  picture.caption =
      node_ > 0 ? base::Format(base::Translate("ModulePicture",
                                               QM_TRANSLATE_NOOP("ModulePicture", "Knoten %d")),
                               node_)
                : std::string();
  (void)type;
}

// atol: leading blanks, an optional sign, digits; anything else ends the number (0 if none).
// A number beyond int saturates, as a 32-bit atol does, so that 2^32 + 1 never becomes node 1.
int FieldNumber(const std::string& text) {
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (value > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (value < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(value);
}

}  // namespace params
