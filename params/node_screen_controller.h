#pragma once
// The node screen without its window: the current node and network, the connection, the
// register image, the refresh cycle (full read, rotating groups), the layout decision, the
// display rules applied to every item, and the user's edits and toggles. All module traffic
// goes through NodeLink so that tests can put a simulated module behind it. The controller is
// used by one thread at a time (the node screen's worker); the window reads only the view it
// publishes.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/prompt.h"
#include "params/display_items.h"
#include "params/edit_rules.h"
#include "params/module_picture_state.h"
#include "params/register_image.h"
#include "params/register_map.h"
#include "params/register_plan.h"
#include "platform/profile.h"

namespace params {

// The node screen's way to a module: the module's registers over the register connection, with
// the neighbour flush, the ping and the clock beside them. Register numbers given to
// Registers() are those sent to the module (the controller has applied the mirror map); values
// are in host order; failures follow RegisterAccess (false for a refused or unmatched answer,
// CBlockingSocketException for a broken connection).
class NodeLink {
 public:
  virtual ~NodeLink() = default;
  // "arp -d *": false when the system refused.
  virtual bool FlushNeighbourCache() = 0;
  // One ICMP echo (32 bytes of 'E', TTL 10, 500 ms); true when a matching reply came.
  virtual bool PingOnce(uint32_t addressNetworkOrder) = 0;
  // Opens the register connection to port 502 (`_Connect`); throws on failure.
  virtual void Connect(const std::string& ipText) = 0;
  virtual void Disconnect() = 0;
  // The registers of the connected module.
  virtual RegisterAccess& Registers() = 0;
  // The name of the module's internal PLC program ("" when none or unknown).
  virtual std::string ReadPlcProgramName(const std::string& ipText) = 0;
  virtual void Sleep(uint32_t ms) = 0;
  virtual uint32_t Tick() = 0;
  // Why the last register operation failed, as the register client recorded it ("" when
  // unknown); reports beside a failed step.
  virtual std::string LastFailure() const { return std::string(); }
};

// Reads the name of the internal PLC program of the module at an address (service text port and
// TFTP; the program hands it over, as PLC transfer sits above the node screen). "" when unknown.
using PlcProgramNameReader = std::function<std::string(const std::string& ipText)>;

// The real link: the register client over TCP, the platform's ICMP echo and neighbour flush.
// Without a reader the PLC program name is unknown.
std::unique_ptr<NodeLink> MakeSocketNodeLink(PlcProgramNameReader readPlcProgramName = {});

// One display item as the window shows it: per side (A, B) its label, whether it is shown,
// and what its control shows. Module items use side A only.
struct ItemScreen {
  std::array<std::string, 2> label;
  std::array<bool, 2> shown{false, false};
  std::array<ItemView, 2> view;
};

struct NodeScreenView {
  bool connected = false;
  bool busy = false;            // a range operation runs: show the wait indication
  std::string title;            // window title
  std::string statusText;       // PLC status text, or "Node: %d" during a range operation
  std::string statusTextShown;  // statusText in the language shown (base::CurrentLanguage)
  std::string timeLeftText;     // "0:42" while a range operation can estimate its time left
  std::string errorText;      // the last read failure ("Read Reg Group 1 Error" …), "" when none
  std::string networkText;    // the network address as used ("a.b.c.d")
  int node = 0;               // the current node (0 before the first change of node)
  std::string fromText;       // the From field as the controller last set it
  std::string toText;         // the To field
  std::string moduleAddress;  // the address of the current node ("" before the first change)
  Layout layout;
  ShowState show;
  std::array<ItemScreen, kDisplayItemCount> items;
  std::array<std::vector<DriveListEntry>, 2> driveEntries;
  std::array<std::vector<std::string>, 2> directionEntries;
  bool linkShown = false;
  std::string cableText;
  std::string reconnectCounter;  // "%i" of 286
  std::string responseTimeouts;  // "%i" of 287
  bool diagnosticLogButton = false;
  bool plcMode = false;  // register 12 bit 0: the module runs its PLC program (PLC data view)
  bool driveControllerButton = false;
  ModulePictureState picture;
  uint64_t passes = 0;        // passes run since start (each changes the view)
  uint64_t fieldsSerial = 0;  // bumps when the controller rewrote the From/To/network fields
};

class NodeScreenController {
 public:
  static constexpr const char* kProgramName = "Quillmar";
  // The dialog's own title; "Quillmar Version" starts every main window title.
  static constexpr const char* kDialogTitle = "Version 0.1";
  static constexpr int kPingAttempts = 3;
  static constexpr uint32_t kArpSlowMs = 2000;
  static constexpr uint32_t kGroupPauseMs = 50;

  // prompt and profile are not owned and must outlive the controller.
  NodeScreenController(std::unique_ptr<NodeLink> link, base::Prompt& prompt,
                       platform::ProfileStore& profile);
  ~NodeScreenController();

  // ---- start ----
  // Reads "Default Net" (unless ReadDefaultNet ran) into the network address. With a start
  // address the From node becomes its last byte − 19 and the screen changes to it.
  void Start(const std::string& startAddress = "");
  // Reads "Default Net" into the network address (no module traffic).
  void ReadDefaultNet();

  // ---- the fields the user edits (the window posts them before each command) ----
  void SetNetworkText(const std::string& text);
  void SetFromText(const std::string& text);
  void SetToText(const std::string& text);

  // ---- commands ----
  // Change node by delta (Refresh = delta 0; + / - = ±1). The target must pass check kind 0.
  void ChangeNode(int delta);
  // Left / Right arrow keys: only above node 1 / below node 236.
  void PreviousNode();
  void NextNode();
  // Timer 1 elapsed: one refresh (title, one pass, timer again when the pass succeeded).
  void OnTimer();
  // Enter the disconnected state (also used by range operations and Close).
  void EnterDisconnected();

  // The plan of setting a field as the screen's Set would make it, pre-reads included (throws
  // CBlockingSocketException when a pre-read fails). The CLI and tests use it too.
  RegisterPlan PlanFor(int itemId, Side side, const FieldInput& input);
  // Set: the node check, the plan, its refusal message or its run.
  void ApplyField(int itemId, Side side, const FieldInput& input);
  // Edits. `typed` is the field's text; zone currents take both texts (low, high).
  void ApplyEdit(int itemId, Side side, const std::string& typed,
                 const std::string& secondTyped = "");
  // List selections: drive type, brake method, direction / valve action, ZPA mode.
  void ApplyList(int itemId, Side side, int entry);
  // Check boxes: closed loop and the zone options.
  void ApplyCheck(int itemId, Side side, bool ticked);
  // Buttons: Aufstauen, Forced Run (drive run), Start (zone run), Löschen, Blink.
  void Toggle(int itemId, Side side);

  // ---- what the worker and range operations use ----
  bool TimerRunning() const { return timerRunning_; }
  uint64_t TimerGeneration() const { return timerGeneration_; }
  void StartTimer();
  void StopTimer();
  void SetBusy(bool busy);
  void SetStatusText(const std::string& text);    // also reports progress
  void SetTimeLeftText(const std::string& text);  // likewise
  // Called on the worker thread whenever an intermediate view should be shown.
  void SetProgressListener(std::function<void()> listener) { progress_ = std::move(listener); }
  const NodeScreenView& View() const { return view_; }

  bool Connected() const { return connected_; }
  int Node() const { return node_; }
  // "a.b.c.(node + 19)" of the current network.
  std::string NodeAddress(int node) const;
  // Connects to the node's module (ping up to three times, then the register connection);
  // on failure logs and shows the connect failure text and returns false.
  bool ConnectTo(int node);
  // One read-and-show pass; false when a read failed (its text is in View().errorText).
  bool RefreshPass();
  void RequestFullRead() { fullRead_ = true; }
  bool FullReadPending() const { return fullRead_; }
  int RotatingGroup() const { return rotatingGroup_; }
  // The drive lists and ZPA entries the screen shows.
  const ShowState& Shown() const { return show_; }
  // The From field's text as the controller holds it.
  const std::string& FromText() const { return fromText_; }
  const std::string& ToText() const { return toText_; }
  const std::string& NetworkText() const { return networkText_; }

  // Register operations of the screen: numbers pass through the mirror map; values read go
  // to the image.
  void ReadBlock(int first, int count);    // pings first; throws CBlockingSocketException
  uint16_t ReadOne(int reg);               // throws
  bool WriteOne(int reg, uint16_t value);  // the image takes the value written
  bool SaveOne(int reg, uint16_t value);
  bool SaveGroup(int first, int count);
  // Runs a plan's steps (register numbers before the mirror map); false when a step failed.
  bool RunPlan(const RegisterPlan& plan);
  void CarryOut(const RegisterPlan& plan);

  const RegisterImage& Image() const { return map_->image(); }
  RegisterImage& MutableImage() { return map_->image(); }
  RegisterMap& Map() { return *map_; }
  // The image as the display rules see it (mirror map applied to lookups).
  ImageView Lookup() const { return ImageView(ImageSpan(map_->image().Words())); }
  NodeLink& Link() { return *link_; }
  base::Prompt& prompt() { return prompt_; }
  int ExtendedReadFailures() const;

  // Rebuilds the view from the image and publishes it to the progress listener.
  void Publish();

 private:
  // The ping rule in front of every block read: throws when disconnected or unanswered.
  void BeforeBlockRead();
  bool PingModule();
  bool FullReadPass();
  bool RotatingPass();
  void BuildView();
  void ShowFailure(const std::string& text);
  bool CheckCurrentNode();
  std::array<uint8_t, 4> NetworkBytes() const;

  std::unique_ptr<NodeLink> link_;
  base::Prompt& prompt_;
  platform::ProfileStore& profile_;
  std::function<void()> progress_;

  class ScreenAccess;
  std::unique_ptr<ScreenAccess> access_;
  std::unique_ptr<RegisterMap> map_;  // the register image, mirror map and refresh reads
  std::string networkText_ = kDefaultNet;
  std::string fromText_;
  std::string toText_;
  int node_ = 0;
  bool connected_ = false;
  bool fullRead_ = true;
  int rotatingGroup_ = 1;
  bool timerRunning_ = false;
  uint64_t timerGeneration_ = 0;
  std::string baseTitle_;
  std::string plcProgramName_;
  Layout layout_;
  ShowState show_;
  ModuleKind kind_{kDisconnectedFamily, 0, kDisconnectedVariant};
  ModuleKind previousKind_{kDisconnectedFamily, 0, kDisconnectedVariant};
  std::string address_;    // the connected (or last tried) module's address
  int connectedNode_ = 0;  // its node number
  bool statusOverride_ = false;
  bool defaultNetRead_ = false;  // a range operation owns the status text
  NodeScreenView view_;
};

// atol of a field: leading blanks, an optional sign, digits; anything else ends the number (0
// if none). A number beyond int saturates, as a 32-bit atol does, so that 2^32 + 1 never
// becomes node 1.
int FieldNumber(const std::string& text);

}  // namespace params
