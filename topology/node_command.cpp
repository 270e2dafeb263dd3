#include "topology/node_command.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/format.h"
#include "base/language.h"
#include "comm/event_log.h"
#include "discovery/discover.h"
#include "discovery/discover_environment.h"
#include "discovery/mreg_app.h"

namespace topology {

const char* const kTextNotAtLineEnd =
    "Es wurde ein Modul ausgewählt, die am Anfang (oder Ende) des Förderers gelegen ist....";
const char* const kCaptionTooManyNodes = "Zu viele Knoten für die AutoConfig";
const char* const kTextNotUxModule =
    "Diese Funktion steht nur bei Ux Modulen zur Verfügung. Start- und Endmodul muss ein Ux "
    "Modul sein !";
const char* const kCaptionAutoConfigFailed = "Die AutoConfig ist mit dieser Auswahl fehlgeschlagen";
const char* const kTextFirmware42 =
    "Knoten müssen auf Firmware 4.2 oder folgende upgedated werden, sonst steht diese Funktion "
    "nicht zur Verfügung.";
const char* const kTextFirmware416 =
    "Knoten müssen auf Firmware 4.16 oder folgende upgedated werden, sonst steht diese Funktion "
    "nicht zur Verfügung.";
const char* const kCaptionUnsupportedFirmware = "Nichtunterstützte Firmware";
const char* const kTextNoDirection =
    "Knotenparameter konnten nicht abgerufen werden! Die Operation wird abgebrochen.";
const char* const kCaptionNetworkError = "Netzwerk Fehler";
const char* const kTextProductSearch =
    "Waehrend des Autokonfigurationsvorganges wird eine Produktsuche durchgefuehrt. Hierbei "
    "drehen sich alle vom Autokonfigurationsvorgang betroffenen Antriebsrollen. Stellen Sie "
    "sicher, dass der betroffene Foerderer leer ist und sich keine Personen im Gefahrenbereich "
    "befinden.\r\n\r\nAutokonfigurationsvorgang mit Selbsttest fortfuehren?";
const char* const kCaptionWarning = "Warnung";
const char* const kTextNoAdapter =
    "Netzwerkadapter nicht verfügbar. Erneut Finden aktivieren, um die Liste der Module erneut "
    "zu laden.";
const char* const kTextFactoryResetQuestion =
    "Achtung, alle Einstellungen des ausgewählten Moduls werden hiermit auf Werkseinstellungen "
    "zurückgesetzt.\r\nDamit wird die bisherige Konfiguration des Moduls gelöscht.";
const char* const kCaptionAttention = "Achtung";
const char* const kTextFactoryResetFailed = "Rücksetzung auf Werkseinstellungen fehlgeschlagen.";
const char* const kTextSendFailed =
    "  WARN. Unable to Send AutoConfig/Replace packet to adapter:  %s !?!";

namespace {

constexpr uint8_t kTemplate[kAutoConfigFrameLength] = {
    0x00, 0x12, 0x13, 0x10, 0x15, 0x11, 0x00, 0x00, 0x00, 0x12, 0x34,
    0x56, 0x80, 0x4A, 'T',  'r',  'e',  'l',  'b',  'i',  'x',  0xA0,
    0x42, 0x47, 0,    0,    0,    0,    0,    0,    0,    0,    0};

const char* const kTextPcSwitchHead =
    "Die folgenden Knoten %d müssen vom PC-Switch getrennt werden, damit die AutoConfig "
    "erfolgreich abläuft. "
    ":\r\n--------------------------------------------------------------\r\n";
const char* const kTextPcSwitchNode = "\r\n    - Knoten \"%s\" with SerNr: %u";
const char* const kTextPcSwitchTail =
    "\r\n\r\nVerbindung trennen. Erneut \"Finden & Zeichnen\" um alle Knoten zu finden und dann "
    "kann die AutoConfig gestartet werden....";

// The lock of the selected adapter, whose records the request's nodes and the drawing's nodes
// are: their fields are read and written under it (a discovery may update them meanwhile).
// Never held across a question to the user or a network wait.
std::unique_lock<std::mutex> NodesLock(CMRegApp& app) {
  const AdapterPtr adapter = app.SelectedAdapter();
  return adapter ? std::unique_lock<std::mutex>(adapter->lock) : std::unique_lock<std::mutex>();
}

// The caller holds NodesLock.
int DeviceOf(const DeviceArray* view, const NodePtr& node) {
  if (view == nullptr || !node) return -1;
  const int byNode = view->FindDeviceByNode(node.get());
  return byNode >= 0 ? byNode : view->FindDeviceBySerial(node->serialNumber);
}

bool DirectionKnown(const DeviceArray* view, int device) {
  if (view == nullptr || device < 0) return false;
  const CPLViewDevice& d = view->devices[static_cast<size_t>(device)];
  return d.directionKnown != 0 && d.direction != kUndetermined;
}

uint32_t DirectionOf(const DeviceArray* view, int device, const NodePtr& node) {
  if (view != nullptr && device >= 0) {
    return view->devices[static_cast<size_t>(device)].direction;
  }
  return node ? node->direction : kUndetermined;
}

// The module in the middle of a line, or one of several on the PC's switch, cannot start an
// AutoConfig alone. True when refused.
// `first` is a copy of the first module's record taken under NodesLock.
bool RefusedAsNotLineEnd(NodeCommandContext& c, const CNode_Data& first, const NodePtr& node) {
  if (first.buddies.size() < 2 && first.linkedToPcSwitch == 0) return false;
  if (first.linkedToPcSwitch == 0) {
    c.prompt.Ask(kTextNotAtLineEnd, kCaptionTooManyNodes, base::PromptButtons::Ok,
                 base::PromptIcon::Warning);
    return true;
  }
  std::string text;
  {
    auto lock = NodesLock(c.app);
    const int own = DeviceOf(c.view, node);
    if (own < 0) return false;
    const CPLViewDevice& mine = c.view->devices[static_cast<size_t>(own)];
    for (size_t i = 1; i < c.view->devices.size() && text.empty(); ++i) {
      const CPLViewDevice& other = c.view->devices[i];
      if (static_cast<int>(i) == own || !other.node || other.node->linkedToPcSwitch == 0) continue;
      if (other.row == mine.row) continue;
      text = base::Format(kTextPcSwitchHead, 1);
      text += base::Format(kTextPcSwitchNode, other.node->ipText.c_str(), other.node->serialNumber);
      text += kTextPcSwitchTail;
    }
  }
  if (text.empty()) return false;
  c.prompt.Ask(text, kCaptionTooManyNodes, base::PromptButtons::Ok, base::PromptIcon::Warning);
  return true;
}

// Both ends of a range need a known direction for their port codes. True when refused.
bool RefusedForDirection(NodeCommandContext& c, const NodePtr& first, const NodePtr& last) {
  struct End {
    NodePtr node;
    int device;
    uint32_t serial;
  };
  End ends[2];
  {
    auto lock = NodesLock(c.app);
    ends[0] = {first, DeviceOf(c.view, first), first->serialNumber};
    ends[1] = {last, DeviceOf(c.view, last), last->serialNumber};
  }
  auto column = [&](const End& e) {
    return e.device >= 0 ? c.view->devices[static_cast<size_t>(e.device)].column : 0;
  };
  if (column(ends[1]) > column(ends[0])) std::swap(ends[0], ends[1]);
  bool known[2] = {false, false};
  for (int i = 0; i < 2; ++i) {
    End& e = ends[i];
    known[i] = DirectionKnown(c.view, e.device);
    if (known[i]) continue;
    LogInfo("> missing RealDirection info for Node %u, going to _determineNode_Direction...",
            e.serial);
    const int direction = c.window.DetermineDirection(e.node);
    if (direction == static_cast<int>(kLeftToRight) ||
        direction == static_cast<int>(kRightToLeft)) {
      LogInfo(">> got RealDirection for Node %u, it it = %d", e.serial, direction);
      {
        auto lock = NodesLock(c.app);
        e.node->direction = static_cast<uint32_t>(direction);
      }
      if (e.device >= 0) {
        CPLViewDevice& d = c.view->devices[static_cast<size_t>(e.device)];
        d.direction = static_cast<uint32_t>(direction);
        d.directionKnown = 1;
      }
      known[i] = true;
    }
  }
  if (known[0] && known[1]) return false;
  c.prompt.Beep();
  c.prompt.Ask(kTextNoDirection, kCaptionNetworkError, base::PromptButtons::Ok,
               base::PromptIcon::Error);
  return true;
}

// Checks of AutoConfig; true when refused. `first` and `last` are copies of the modules'
// records taken under NodesLock.
bool AutoConfigRefused(NodeCommandContext& c, const NodeCommandRequest& r, const CNode_Data& first,
                       const CNode_Data& last) {
  if (!r.last) {
    if (RefusedAsNotLineEnd(c, first, r.first)) return true;
  } else {
    if (!IsAutoConfigCapable(last)) {
      c.prompt.Beep();
      c.prompt.Ask(kTextNotUxModule, kCaptionAutoConfigFailed, base::PromptButtons::Ok,
                   base::PromptIcon::Error);
      return true;
    }
    if (!FirmwareAtLeast(first.revision, 4, 2) && !FirmwareAtLeast(last.revision, 4, 2)) {
      c.prompt.Beep();
      c.prompt.Ask(kTextFirmware42, kCaptionUnsupportedFirmware, base::PromptButtons::Ok,
                   base::PromptIcon::Error);
      return true;
    }
    if (RefusedForDirection(c, r.first, r.last)) return true;
  }
  return c.prompt.Ask(kTextProductSearch, kCaptionWarning, base::PromptButtons::YesNo,
                      base::PromptIcon::Warning) != base::PromptAnswer::Yes;
}

// The caller holds NodesLock.
bool NeighbourRevisionDiffers(const DeviceArray* view, const NodePtr& node) {
  const int device = DeviceOf(view, node);
  if (device < 0) return false;
  for (const int buddy : {view->LeftBuddy(device), view->RightBuddy(device)}) {
    if (buddy < 0) continue;
    const NodePtr& other = view->devices[static_cast<size_t>(buddy)].node;
    if (other && other->revision != node->revision) return true;
  }
  return false;
}

// Reads answers for the reset acknowledgement; true when the module acknowledged.
bool ListenForResetAcknowledgement(NodeCommandContext& c, platform::CaptureHandle& handle,
                                   const NodePtr& module) {
  discovery::DiscoverEnvironment& env = discovery::Environment();
  const AdapterPtr adapter = c.app.SelectedAdapter();
  const uint32_t start = env.Now();
  uint32_t end = start + kResetListenMs;
  bool received = false;
  std::vector<uint8_t> frame;
  for (;;) {
    const uint32_t now = env.Now();
    if (static_cast<int32_t>(end - now) <= 0) break;
    if (!handle.Read(frame, end - now)) continue;
    if (frame.size() < 14) continue;
    const uint16_t type = static_cast<uint16_t>((frame[12] << 8) | frame[13]);
    if (type != kFactoryResetAcknowledgement || !adapter) continue;
    MacAddress source{};
    std::memcpy(source.data(), frame.data() + 6, source.size());
    std::lock_guard<std::mutex> lock(adapter->lock);
    for (const NodePtr& node : adapter->nodes) {
      if (node && node->mac == source) {
        node->resetAcknowledged = 1;
        if (!received) end = std::min<uint32_t>(end, env.Now() + kAfterResetAckMs);
        received = true;
      }
    }
  }
  if (!received) return false;
  if (adapter) {
    std::lock_guard<std::mutex> lock(adapter->lock);
    return module->resetAcknowledged != 0;
  }
  return module->resetAcknowledged != 0;
}

// The fixed wait while the modules work, reported as remaining seconds. Cancel ends it early.
void WaitWithCountdown(base::Progress& progress, uint32_t waitMs) {
  discovery::DiscoverEnvironment& env = discovery::Environment();
  const int seconds = static_cast<int>((waitMs + 999) / 1000);
  progress.SetRange(seconds);
  progress.SetPosition(seconds);
  const uint32_t start = env.Now();
  int shown = seconds;
  for (;;) {
    const uint32_t elapsed = env.Now() - start;
    if (elapsed >= waitMs || progress.Cancelled()) break;
    const int remaining = static_cast<int>((waitMs - elapsed + 999) / 1000);
    if (remaining != shown) {
      shown = remaining;
      progress.SetPosition(remaining);
    }
    env.Sleep(std::min(kWaitStepMs, waitMs - elapsed));
  }
  progress.SetPosition(0);
}

std::string NetworkOf(const std::string& ipText) {
  const size_t dot = ipText.rfind('.');
  return dot == std::string::npos ? ipText : ipText.substr(0, dot);
}

}  // namespace

AutoConfigFrame BuildAutoConfigFrame(uint16_t command, const MacAddress& destination,
                                     const MacAddress* lastModule, uint8_t firstPortCode,
                                     uint8_t lastPortCode) {
  AutoConfigFrame frame{};
  std::memcpy(frame.data(), kTemplate, frame.size());
  std::fill(frame.begin() + 24, frame.end(), 0);
  frame[12] = static_cast<uint8_t>(command >> 8);
  frame[13] = static_cast<uint8_t>(command & 0xFF);
  std::memcpy(frame.data(), destination.data(), 6);
  if (lastModule != nullptr) {
    std::memcpy(frame.data() + 24, lastModule->data(), 6);
    frame[30] = firstPortCode;
    frame[31] = lastPortCode;
  }
  return frame;
}

bool HasAutoConfigSignature(const uint8_t* frame, size_t length) {
  if (frame == nullptr || length < kAutoConfigFrameLength) return false;
  return std::memcmp(frame + kSignatureOffset, kTemplate + kSignatureOffset, 10) == 0;
}

PortCodes PortCodesFor(bool reversed, uint32_t firstDirection, uint32_t lastDirection) {
  auto facesOther = [reversed](uint32_t direction) {
    return (reversed && direction == kLeftToRight) || (!reversed && direction == kRightToLeft);
  };
  PortCodes codes;
  codes.first = facesOther(firstDirection) ? kPortCodeLeft : kPortCodeRight;
  codes.last = facesOther(lastDirection) ? kPortCodeRight : kPortCodeLeft;
  return codes;
}

uint32_t CommandWaitMs(uint16_t command, size_t listedModules, bool withLastModule,
                       bool neighbourRevisionDiffers) {
  uint32_t wait = 0;
  switch (command) {
    case kCommandAutoConfig:
      wait = 32000 + (listedModules > 10 ? static_cast<uint32_t>(listedModules - 10) * 650 : 0);
      break;
    case kCommandReplace:
      wait = neighbourRevisionDiffers ? 111000 : 81000;
      break;
    case kCommandFactoryReset:
      wait = 14000;
      break;
    default:
      break;
  }
  return wait + (withLastModule ? 7000 : 0);
}

int RevisionMajor(uint16_t revision) {
  const int major = revision >> 8;
  return major >= 100 ? major - 100 : major;
}

int RevisionMinor(uint16_t revision) {
  return revision & 0xFF;
}

bool FirmwareAtLeast(uint16_t revision, int major, int minor) {
  const int have = RevisionMajor(revision);
  return have > major || (have == major && RevisionMinor(revision) >= minor);
}

bool IsAutoConfigCapable(const CNode_Data& node) {
  const uint8_t family = node.recordCopy[17] & 0xF0;
  return family == 0x30 || family == 0x90 || family == 0xC0;
}

int RunNodeCommand(NodeCommandContext& c, const NodeCommandRequest& r) {
  if (!r.first) return 0;
  // What the checks and the frame need of the two modules, read at once under the lock.
  CNode_Data first;
  CNode_Data last;
  {
    auto lock = NodesLock(c.app);
    first = *r.first;
    if (r.last) last = *r.last;
  }
  const uint16_t command = r.command;
  if (command == kCommandAutoConfig) {
    if (AutoConfigRefused(c, r, first, last)) return 0;
  } else if (command == kCommandFactoryReset) {
    if (!FirmwareAtLeast(first.revision, 4, 16)) {
      c.prompt.Beep();
      c.prompt.Ask(kTextFirmware416, kCaptionUnsupportedFirmware, base::PromptButtons::Ok,
                   base::PromptIcon::Error);
      return 0;
    }
  } else if (command != kCommandReplace) {
    return 0;
  }

  // From here on every way out enables the buttons again.
  c.window.SetBusy(true);
  c.window.EnableCommandButtons(false);
  struct ButtonsBack {
    NodeCommandWindow& window;
    ~ButtonsBack() { window.EnableCommandButtons(true); }
  } buttonsBack{c.window};

  const uint32_t serial = first.serialNumber;
  if (command == kCommandFactoryReset) {
    c.progress.SetText(base::Format(
        "Module der Seriennummer %u werden auf Werkseinstellungen zurückgesetzt.\r\n\r\nBitte "
        "warten...",
        serial));
  } else {
    c.progress.SetText(base::Format("Preparing to send %s signal to node with Ser.No: %u ...",
                                    command == kCommandReplace ? "Replace" : "AutoConfig", serial));
  }

  const AdapterPtr adapter = c.app.SelectedAdapter();
  if (!adapter) {
    c.prompt.Tell(kTextNoAdapter, "Quillmar", base::PromptIcon::Error);
    c.window.SetBusy(false);
    return 0;
  }

  PortCodes codes;
  if (r.last) {
    auto lock = NodesLock(c.app);
    const int firstDevice = DeviceOf(c.view, r.first);
    const int lastDevice = DeviceOf(c.view, r.last);
    const bool reversed = firstDevice >= 0 && lastDevice >= 0 &&
                          c.view->devices[static_cast<size_t>(lastDevice)].column <
                              c.view->devices[static_cast<size_t>(firstDevice)].column;
    codes = PortCodesFor(reversed, DirectionOf(c.view, firstDevice, r.first),
                         DirectionOf(c.view, lastDevice, r.last));
  }
  AutoConfigFrame frame = BuildAutoConfigFrame(command, first.mac, r.last ? &last.mac : nullptr,
                                               codes.first, codes.last);

  if (command == kCommandFactoryReset) {
    {
      std::lock_guard<std::mutex> lock(adapter->lock);
      r.first->resetAcknowledged = 0;
    }
    if (c.prompt.Ask(kTextFactoryResetQuestion, kCaptionAttention, base::PromptButtons::YesNoCancel,
                     base::PromptIcon::Warning) != base::PromptAnswer::Yes) {
      c.window.SetBusy(false);
      return 1;
    }
  }

  discovery::CaptureHandlePtr handle;
  platform::CaptureHandle* open =
      discovery::SendRawFrame(c.app, handle, frame.data(), frame.size(), 1);
  if (open == nullptr) {
    const std::string text = base::Format(kTextSendFailed, adapter->name.c_str());
    LogWarning("%s", text.c_str());
    c.window.SetBusy(false);
    // Shown as well: otherwise the user waits for a line that never heard the command.
    c.prompt.Tell(text, "Quillmar", base::PromptIcon::Error);
    return 1;
  }

  switch (command) {
    case kCommandFactoryReset:
      c.progress.SetText(base::Format(
          base::Translate("NodeCommand",
                          QM_TRANSLATE_NOOP("NodeCommand",
                                            "Module der Seriennummer %u werden auf "
                                            "Werkseinstellungen zurückgesetzt.\r\n\r\nBitte "
                                            "warten...")),
          serial));
      break;
    case kCommandReplace:
      c.progress.SetText(base::Format(
          base::Translate(
              "NodeCommand",
              QM_TRANSLATE_NOOP(
                  "NodeCommand",
                  "Das Modul mit der Seriennummer %u wird ersetzt. \r\n\r\nBitte warten...")),
          serial));
      break;
    default:
      c.progress.SetText(base::Format(
          base::Translate(
              "NodeCommand",
              QM_TRANSLATE_NOOP(
                  "NodeCommand",
                  "Die AutoConfig wurde im Netzwerk %s.0 gestartet.\r\nDas erste Modul hat die "
                  "Seriennummer: %u\r\nBitte warten...")),
          NetworkOf(first.ipText).c_str(), serial));
      break;
  }

  if (command == kCommandFactoryReset) {
    const bool acknowledged = ListenForResetAcknowledgement(c, *open, r.first);
    handle.reset();
    if (!acknowledged) {
      c.window.SetBusy(false);
      c.prompt.Tell(kTextFactoryResetFailed, kCaptionAttention, base::PromptIcon::Error);
      return 1;
    }
  }
  handle.reset();

  if (command == kCommandAutoConfig) {
    c.window.RememberAutoConfig(serial, r.last ? last.serialNumber : serial);
  }
  bool differs = false;
  if (command == kCommandReplace) {
    auto lock = NodesLock(c.app);
    differs = NeighbourRevisionDiffers(c.view, r.first);
  }
  WaitWithCountdown(c.progress,
                    CommandWaitMs(command, c.listedModules, r.last != nullptr, differs));
  c.window.SetBusy(false);
  c.window.RequestRedraw();
  return 1;
}

}  // namespace topology
