#pragma once
// Operations that the node screen applies to every module from its From node to its To node:
// SetAll of one field, Set All (copy the shown module), the ZPA / DTA list, Format Flash and
// Debugging. They run one node after the other on the node screen's worker thread; everything
// they need from the screen comes through RangeScreen, the user is asked and told through a
// Prompt, and the "Node: %d" status text (and the wish to cancel) goes through a Progress.
//
// Every typed value is converted and checked once, before the first node is touched; a
// refused value stops the operation with its message and no node is written.
#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/progress.h"
#include "base/prompt.h"
#include "params/display_items.h"
#include "params/image_view.h"
#include "params/register_plan.h"

namespace params {

class NodeScreenController;

// ---- what a range operation needs from the node screen -------------------------------------

// All calls come from the screen's worker thread. Register numbers are the screen's own
// (the mirror map is applied behind this interface); values read go to the screen's image.
class RangeScreen {
 public:
  virtual ~RangeScreen() = default;

  // The screen as it was when the command was given.
  virtual bool Connected() const = 0;
  virtual int CurrentNode() const = 0;
  virtual std::string NodeAddress(int node) const = 0;  // "a.b.c.(node + 19)"
  virtual ImageView Image() const = 0;                  // lookups through the mirror map
  virtual ShowState Shown() const = 0;                  // the drive lists and ZPA entries shown

  // The refresh cycle and the connection.
  virtual void StopRefresh() = 0;
  virtual void ResumeRefresh() = 0;  // starts the 500 ms timer again
  virtual void EnterDisconnected() = 0;
  // Change of node to `node` (the From field is set to it first): ARP clearing, ping,
  // connect, full read, and the refresh cycle starts again.
  virtual void ChangeToNode(int node) = 0;
  // Connects to the node's module with the screen's ping rule (three pings, then the register
  // connection). On failure the connect failure text has been logged and shown.
  virtual bool ConnectNode(int node) = 0;

  // Register operations of the screen. Reads throw CBlockingSocketException.
  virtual void ReadBlock(int first, int count) = 0;
  virtual uint16_t ReadOne(int reg) = 0;
  virtual bool WriteOne(int reg, uint16_t value) = 0;
  virtual bool RunPlan(const RegisterPlan& plan) = 0;
  virtual void Pause(uint32_t ms) = 0;
  virtual uint32_t Tick() = 0;

  // The standalone save of a register pair (its own connection, no poll).
  virtual bool SaveRegisterPair(const std::string& address, uint16_t r1, uint16_t v1, uint16_t r2,
                                uint16_t v2, bool reversed) = 0;
  // The PC's own IPv4 address that fits the module at `moduleAddress` (the selected
  // adapter's, F18); nullopt when none fits.
  virtual std::optional<std::string> PcAddressFor(const std::string& moduleAddress) = 0;
};

// The node range as the screen's From and To fields hold it.
struct NodeRange {
  std::string fromText;
  std::string toText;  // empty reads as 0

  int From() const;
  int To() const;
  bool ToEmpty() const;
};

struct RangeContext {
  RangeScreen& screen;
  base::Prompt& prompt;
  base::Progress& progress;  // "Node: %d" (or "#%d") and cancel between nodes
};

// What an operation did, for the caller's log and for tests.
struct RangeOutcome {
  bool ran = false;             // the node loop started
  std::string refusal;          // the message that stopped it before the loop ("" when none)
  std::vector<int> done;        // nodes whose work succeeded
  std::vector<int> failed;      // nodes that could not be reached or whose work failed
  bool cancelled = false;       // the Progress was cancelled between nodes
  bool clearSelection = false;  // ZPA / DTA list: clear the list's selection
};

// ---- texts ---------------------------------------------------------------------------------

inline constexpr const char* kRangeCaption = "Quillmar";
inline constexpr const char* kSetAllFieldQuestion =
    "Soll diese Einstellung für all Module von %s bis %s übernommen werden?";
inline constexpr const char* kTransportRefusal =
    "Can't Set to All. This is a Trasnsportation module.";
inline constexpr const char* kPneumaticRefusal = "Can't Set to All. This is a Pneumatic module.";
inline constexpr const char* kUnusedZonesStop = "Dieses Modul hat unbenutzte Zonen.";
inline constexpr const char* kUnusedZonesQuestion =
    "Dieses Modul hat unbenutzte Zonen. Duplizieren dieses in anderen Modulen können sie "
    "unbrauchbar machen.";
inline constexpr const char* kConnectionLost = "Connection to the module \"%s\" is lost !";
inline constexpr const char* kFormatCaption = "Format Flash";
inline constexpr const char* kFormatSingleQuestion =
    "Do You want to Clear and Save All Modbus registers of module with Number : %d";
inline constexpr const char* kFormatRangeQuestion =
    "Do You want to Clear and Save All Modbus registers of modules with Numbers : %d to %d ";
inline constexpr const char* kFormatFailed =
    "Clear and Save All Modbus registers failed on modules with Numbers : %s";
inline constexpr const char* kDebugCaption = "Debugging";
inline constexpr const char* kDebugQuestion =
    "Do you want to Enable/Disable Debug to nodes with IP From# %s To# %s)?\n\rPress Yes to "
    "Enable Debug to All selected nodes, \n\rPress No to Disable Debug to All selected nodes, "
    "\n\rPress Cancel to Exit.";
inline constexpr const char* kDebugNoAdapter =
    "No network adapter of this PC fits the module address %s.";
inline constexpr const char* kNodeStatus = "Node: %d";
inline constexpr const char* kZpaDtaNodeStatus = "#%d";

// ---- SetAll of one field ---------------------------------------------------------------------

// The field whose SetAll button was pressed, with what the screen shows in it.
struct FieldSetAll {
  int itemId = 0;  // item::kSpeed, item::kZpaMode, …
  Side side = Side::A;
  // Edit fields: the typed text. Zone currents: the low current (high in secondTyped).
  // ZPA mode: the GAP timer field's text (used for "Blocklückenabzug"), and in secondTyped
  // the not-full-stop time field's text (what SetAll next to the ZPA mode writes on module
  // type 3).
  std::string typed;
  std::string secondTyped;
  int entry = -1;       // lists: the selected entry
  bool ticked = false;  // check boxes
};

// Only while connected: asks, checks (From, To), converts and checks the value once, then
// runs the field's own Set operation on every node of the range. The module type that
// decides the work is the shown module's.
RangeOutcome SetAllField(RangeContext& context, const NodeRange& range, const FieldSetAll& field);

// How the window reads what its fields show now.
struct ScreenFieldReader {
  std::function<std::string(int itemId, Side side)> text;  // an edit's text
  std::function<int(int itemId, Side side)> entry;         // a list's entry, -1 none
  std::function<bool(int itemId, Side side)> ticked;       // a check box
};
// The field of a SetAll button with everything its work takes from the screen.
FieldSetAll ReadFieldForSetAll(int itemId, Side side, const ScreenFieldReader& fields);

// ---- Set All (copy the shown module) ---------------------------------------------------------

// The typed texts the copy takes from the screen (index 0 = left drive / upstream zone).
struct SetAllTyped {
  std::array<std::string, 2> speed;
  std::array<std::string, 2> acceleration;
  std::array<std::string, 2> deceleration;
  std::array<std::string, 2> gapTimer;
  std::array<std::string, 2> tZoneAccept;
};

RangeOutcome SetAllModule(RangeContext& context, const NodeRange& range, const SetAllTyped& typed);
SetAllTyped ReadTypedForSetAll(const ScreenFieldReader& fields);

// ---- ZPA / DTA list --------------------------------------------------------------------------

inline constexpr std::array<const char*, 4> kZpaDtaEntries{"ZPA", "DTA", "Make All DTA->ZPA",
                                                           "Make All ZPA->DTA"};
enum class ZoneLogic { Zpa, Dta };
inline constexpr uint16_t kTypeDta = 8;  // register 18 = 8 counts as DTA

// Converts the connected module to `target`; false with a text on failure.
using ZoneLogicConversion =
    std::function<bool(RangeScreen& screen, ZoneLogic target, std::string* error)>;
// What a conversion writes to a module is not settled: this one succeeds and leaves the
// module unchanged. Replace it once the conversion is known.
bool ConvertZoneLogicLeavingModuleUnchanged(RangeScreen& screen, ZoneLogic target,
                                            std::string* error);

// A selection in the ZPA / DTA list (entry index into kZpaDtaEntries).
RangeOutcome ZpaDtaSelected(
    RangeContext& context, const NodeRange& range, int entry,
    const ZoneLogicConversion& convert = ConvertZoneLogicLeavingModuleUnchanged);

// ---- Format Flash ----------------------------------------------------------------------------

// Register, left value, right value of the drive defaults written after a format.
struct DriveDefault {
  int left;
  int right;
  uint16_t leftValue;
  uint16_t rightValue;
};
extern const std::array<DriveDefault, 13> kDriveDefaults;

struct FormatOptions {
  uint32_t limitMs = 30000;  // the poll of register 251 gives up after this (F11)
  uint32_t pollMs = 100;
};

RangeOutcome FormatFlash(RangeContext& context, const NodeRange& range,
                         const FormatOptions& options = {});

// ---- Debugging -------------------------------------------------------------------------------

// Which nodes send their debug output to this PC, as far as this run has switched them.
// Written on the worker thread, read by the window; thread-safe.
class DebugFlags {
 public:
  bool On(int node) const;
  void Set(int node, bool on);
  std::vector<int> NodesOn() const;

 private:
  mutable std::mutex mutex_;
  std::array<bool, 237> flags_{};
};

// Registers 298 / 299 of the debug address: first two bytes (first byte high), last two.
std::optional<std::array<uint16_t, 2>> DebugAddressRegisters(const std::string& ipText);

RangeOutcome Debugging(RangeContext& context, const NodeRange& range, DebugFlags& flags);

// ---- running them on the node screen ---------------------------------------------------------

// RangeScreen over the node screen's controller. `pcAddressFor` finds the debug address;
// `savePair` defaults to the standalone register-pair save to port 502.
struct ScreenRangeHooks {
  std::function<std::optional<std::string>(const std::string& moduleAddress)> pcAddressFor;
  std::function<bool(const std::string& address, uint16_t r1, uint16_t v1, uint16_t r2, uint16_t v2,
                     bool reversed)>
      savePair;
  ZoneLogicConversion convertZoneLogic = ConvertZoneLogicLeavingModuleUnchanged;
  FormatOptions format;
};

class ControllerRangeScreen : public RangeScreen {
 public:
  ControllerRangeScreen(NodeScreenController& controller, const ScreenRangeHooks& hooks);

  bool Connected() const override;
  int CurrentNode() const override;
  std::string NodeAddress(int node) const override;
  ImageView Image() const override;
  ShowState Shown() const override;
  void StopRefresh() override;
  void ResumeRefresh() override;
  void EnterDisconnected() override;
  void ChangeToNode(int node) override;
  bool ConnectNode(int node) override;
  void ReadBlock(int first, int count) override;
  uint16_t ReadOne(int reg) override;
  bool WriteOne(int reg, uint16_t value) override;
  bool RunPlan(const RegisterPlan& plan) override;
  void Pause(uint32_t ms) override;
  uint32_t Tick() override;
  bool SaveRegisterPair(const std::string& address, uint16_t r1, uint16_t v1, uint16_t r2,
                        uint16_t v2, bool reversed) override;
  std::optional<std::string> PcAddressFor(const std::string& moduleAddress) override;

 private:
  NodeScreenController& controller_;
  const ScreenRangeHooks& hooks_;
};

// The range operations of one node screen. The window builds the job on its own thread with
// the texts its fields show, and posts it to the worker with the wait indication:
//
//   worker.Post(ranges.SetAllFieldJob({FromText(), ToText()}, field), true);
//
// The job writes "Node: %d" into the status text while it runs and changes to the From node
// at the end, which restarts the refresh cycle.
class ScreenRangeOperations {
 public:
  using Job = std::function<void(NodeScreenController&)>;

  explicit ScreenRangeOperations(ScreenRangeHooks hooks = {});

  Job SetAllFieldJob(NodeRange range, FieldSetAll field);
  Job SetAllModuleJob(NodeRange range, SetAllTyped typed);
  Job ZpaDtaJob(NodeRange range, int entry);
  Job FormatFlashJob(NodeRange range);
  Job DebuggingJob(NodeRange range);

  // Ends the running job after the node it is working on (any thread, e.g. the wait
  // indication's Cancel button).
  void CancelRunning();

  // The per-node debug flags (read them from any thread to show them).
  const DebugFlags& Flags() const { return flags_; }
  // What the last job did (read after the job, e.g. by tests).
  RangeOutcome LastOutcome() const;

 private:
  template <typename Operation>
  Job Wrap(Operation operation);

  ScreenRangeHooks hooks_;
  DebugFlags flags_;
  mutable std::mutex outcomeMutex_;
  RangeOutcome lastOutcome_;
  base::Progress* running_ = nullptr;  // guarded by outcomeMutex_
};

}  // namespace params
