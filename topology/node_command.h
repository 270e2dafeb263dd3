#pragma once
// AutoConfig, Replace and factory reset of modules from the topology window (RunNodeCommand of
// CPLDlg): the checks before sending, the one raw frame that carries the command, the wait
// while the modules work, and the reset acknowledgement. Toolkit-free: the window's parts the
// procedure touches (busy indication, buttons, redraw) come through NodeCommandWindow.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/progress.h"
#include "base/prompt.h"
#include "discovery/inventory.h"
#include "topology/topology_model.h"

class CMRegApp;

namespace topology {

// The commands; each number is also the frame's EtherType.
constexpr uint16_t kCommandAutoConfig = 0x804A;
constexpr uint16_t kCommandReplace = 0x804B;
constexpr uint16_t kCommandFactoryReset = 0x804D;
constexpr uint16_t kFactoryResetAcknowledgement = 0x804E;

constexpr size_t kAutoConfigFrameLength = 33;
constexpr size_t kSignatureOffset = 14;
using AutoConfigFrame = std::array<uint8_t, kAutoConfigFrameLength>;

// Port codes of the two ends of a range: the port of each end that faces the other.
constexpr uint8_t kPortCodeRight = 1;
constexpr uint8_t kPortCodeLeft = 2;

constexpr uint32_t kWaitStepMs = 30;
constexpr uint32_t kResetListenMs = 300;    // the acknowledgement must come within this
constexpr uint32_t kAfterResetAckMs = 120;  // ... and the listen ends this long after it

// The frame from its template: destination, command, signature; bytes 24..32 cleared and then
// filled when a last module is given. The source MAC stays the template's until the send
// helper writes the adapter's.
AutoConfigFrame BuildAutoConfigFrame(uint16_t command, const MacAddress& destination,
                                     const MacAddress* lastModule = nullptr,
                                     uint8_t firstPortCode = 0, uint8_t lastPortCode = 0);
// True when the frame is at least 33 bytes long and carries the signature at offset 14.
bool HasAutoConfigSignature(const uint8_t* frame, size_t length);

struct PortCodes {
  uint8_t first = 0;
  uint8_t last = 0;
};
// reversed: the last module lies in a smaller column than the first.
PortCodes PortCodesFor(bool reversed, uint32_t firstDirection, uint32_t lastDirection);

// Milliseconds to wait after a sent command. listedModules is the window's module list count;
// neighbourRevisionDiffers only matters for Replace.
uint32_t CommandWaitMs(uint16_t command, size_t listedModules, bool withLastModule,
                       bool neighbourRevisionDiffers = false);

// Firmware revision (major in the high byte); a major of 100 or more counts 100 less.
int RevisionMajor(uint16_t revision);
int RevisionMinor(uint16_t revision);
bool FirmwareAtLeast(uint16_t revision, int major, int minor);
// Family codes 0x30, 0x90 and 0xC0 in the high nibble of record byte 17.
bool IsAutoConfigCapable(const CNode_Data& node);

// What the procedure needs of the topology window.
class NodeCommandWindow {
 public:
  virtual ~NodeCommandWindow() = default;
  virtual void SetBusy(bool on) { (void)on; }
  // "Discover && Redraw", AutoConfig and Replace buttons.
  virtual void EnableCommandButtons(bool enable) { (void)enable; }
  // After a sent command: re-read the inventory and redraw.
  virtual void RequestRedraw() {}
  // An AutoConfig ran over these ends (the window selects them again after the redraw).
  virtual void RememberAutoConfig(uint32_t firstSerial, uint32_t lastSerial) {
    (void)firstSerial;
    (void)lastSerial;
  }
  // _determineNode_Direction for a module: 0, 1 or 2 (undetermined).
  virtual int DetermineDirection(const NodePtr& node) {
    (void)node;
    return static_cast<int>(kUndetermined);
  }
};

struct NodeCommandRequest {
  uint16_t command = kCommandAutoConfig;
  NodePtr first;
  NodePtr last;  // none, or the other end of the selected range
};

struct NodeCommandContext {
  CMRegApp& app;
  base::Prompt& prompt;
  base::Progress& progress;  // wait texts; the wait as a countdown of seconds, cancellable
  NodeCommandWindow& window;
  DeviceArray* view = nullptr;  // the drawing (columns, rows, directions); may be null
  size_t listedModules = 0;     // entries of the window's module list
};

// Result of RunNodeCommand: 1 when the procedure ran to its end (sent or not), 0 when a check
// refused it.
int RunNodeCommand(NodeCommandContext& context, const NodeCommandRequest& request);

// The texts the procedure shows.
extern const char* const kTextNotAtLineEnd;
extern const char* const kCaptionTooManyNodes;
extern const char* const kTextNotUxModule;
extern const char* const kCaptionAutoConfigFailed;
extern const char* const kTextFirmware42;
extern const char* const kTextFirmware416;
extern const char* const kCaptionUnsupportedFirmware;
extern const char* const kTextNoDirection;
extern const char* const kCaptionNetworkError;
extern const char* const kTextProductSearch;
extern const char* const kCaptionWarning;
extern const char* const kTextNoAdapter;
extern const char* const kTextFactoryResetQuestion;
extern const char* const kCaptionAttention;
extern const char* const kTextFactoryResetFailed;
extern const char* const kTextSendFailed;

}  // namespace topology
