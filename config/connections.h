#pragma once
// Links between modules and to a PLC: the connection descriptors a module keeps for its
// upstream (300..315) and downstream neighbour, the accumulation-control descriptor, the switch
// into the special control modes (PLC I/O, hardware controlled, slave, transparent), the
// outputs on PLC disconnection, and "Apply" on one module and "Apply All" over a range, one
// worker per module. Qt-free: the user is asked and told through a Prompt, progress goes to a
// Progress, and every module is reached through ModuleRegisters so that tests can put a
// simulated module behind it.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/progress.h"
#include "base/prompt.h"
#include "config/plc_program.h"

namespace config {

// Module control modes (register 18).
namespace mode {
inline constexpr uint16_t kZpa = 0;
inline constexpr uint16_t kSlave = 1;
inline constexpr uint16_t kPlcIo = 2;
inline constexpr uint16_t kAccumulation3 = 3;
inline constexpr uint16_t kAccumulation4 = 4;
inline constexpr uint16_t kHardware = 5;
inline constexpr uint16_t kLinkVariant = 6;  // changes the connection codes
inline constexpr uint16_t kPallet = 9;
}  // namespace mode

// Register numbers of the connections.
namespace conn_reg {
inline constexpr uint16_t kVariant = 6;
inline constexpr uint16_t kMode = 18;
inline constexpr uint16_t kIdentify = 19;
inline constexpr uint16_t kSpare34 = 34;
inline constexpr uint16_t kCommand = 251;
inline constexpr uint16_t kOutputs = 255;  // and 256
inline constexpr uint16_t kUpstream = 300;
inline constexpr uint16_t kDownstream = 308;
inline constexpr uint16_t kTransparent = 316;  // 16 registers
inline constexpr uint16_t kClearUp = 322;
inline constexpr uint16_t kClearDown = 330;
inline constexpr uint16_t kAccumulation = 348;  // 8 registers
}  // namespace conn_reg

inline constexpr const char* kLostText = "Connection to the module \"%s\" is lost !";
inline constexpr const char* kSureText =
    "Sicher? Diese Aktion kann nicht einfach rückgängig gemacht werden. Es ist eine "
    "Autokonfiguration oder ein Restore von einem gültigen Backup notwendig.";
inline constexpr const char* kSwitchedText = "Umschaltung auf SPS-Steuerung erfolgreich";
inline constexpr uint16_t kAllOff = 0x5555;

// The registers of one module as the connection and extension operations use them. Failures
// (refused answers and broken connections alike) give false or nothing; no exception leaves.
class ModuleRegisters {
 public:
  virtual ~ModuleRegisters() = default;
  virtual std::optional<uint16_t> ReadOne(uint16_t reg) = 0;
  virtual bool ReadBlock(uint16_t first, uint16_t count, uint16_t* hostValues) = 0;
  virtual bool WriteOne(uint16_t reg, uint16_t value) = 0;
  virtual bool WriteBlock(uint16_t first, uint16_t count, const uint16_t* hostValues) = 0;
  // The value, then [3, reg, 1] into 251..253 and the wait for 253 = 0.
  virtual bool SaveOne(uint16_t reg, uint16_t value) = 0;
  // [3, first, count] into 251..253 and the wait for 253 = 0.
  virtual bool SaveGroup(uint16_t first, uint16_t count) = 0;
};

// A module over its own register connection to port 502 (other modules, Apply All's workers,
// the command line). Null when the connection cannot be made.
std::unique_ptr<ModuleRegisters> OpenModule(const std::string& ipText, uint16_t port = 502);

// ---- descriptors ----
using Descriptor = std::array<uint16_t, 8>;

// The address that node number n stands for: the first three octets of `selected`, last octet
// n + 19. Empty for node 0 (no module) and for numbers that do not give an address.
std::string NodeToAddress(const std::string& selected, int node);

// Dotted text to four octets; nothing for text that is not exactly a dotted IPv4 address.
std::optional<std::array<uint8_t, 4>> ParseIpv4(const std::string& text);

// The descriptor of one side. `linked` empty: all zero. `selectedMode` is the selected
// module's register 18, `linkedMode` the linked module's.
Descriptor MakeConnectionDescriptor(bool upstream, const std::string& linked, uint16_t selectedMode,
                                    uint16_t linkedMode);

// The accumulation-control descriptor: the controlling module's address, 1, the from-zone code
// (entry 0: 116, 1: 196), the to-zone code (entry 0: 169, 1: 249), 1, 1, 0.
Descriptor MakeAccumulationDescriptor(const std::string& controller, int fromZone, int toZone);

// The transparent block of registers 316..331.
const std::array<uint16_t, 16>& TransparentBlock();

// The value of registers 255 and 256: 0 for "Unverändert" (entry 0), 0x5555 for "Alle
// abschalten" (entry 1).
uint16_t OutputsValue(int entry);

// ---- the dialog's choices and their rules ----
struct LinkChoice {
  bool byAddress = false;  // the IP-address choice instead of the node number
  int node = 0;            // combo entry; 0 = no module
  std::string address;     // the IP field
};

struct ConnectionSettings {
  LinkChoice upstream;
  LinkChoice downstream;
  bool plcIo = false;
  bool hardware = false;
  bool slave = false;
  bool pallet = false;  // hidden box
  bool transparent = false;
  bool clear = false;
  int outputs = 0;  // 0 "Unverändert", 1 "Alle abschalten"
  bool pushPullLeft = false;
  bool pushPullRight = false;
  // Accumulation control: the controlling module, the zones (-1 none, 0 first, 1 second).
  LinkChoice accumulation;
  int fromZone = -1;
  int toZone = -1;
  // PLC program.
  std::string plcFile;
  bool lockPlc = false;
  bool deletePlc = false;

  // The command line states what it asks for: with refuseUnused, Apply refuses (before any
  // write) a choice that this module's Apply would leave undone. The dialog leaves it off: its
  // controls are disabled instead. linksChosen: upstream or downstream was given.
  bool refuseUnused = false;
  bool linksChosen = false;

  bool AnyModeBox() const { return plcIo || hardware || slave || pallet; }
};

// What Apply on a module (of the PLC families 0x20/0xC0 or not) would leave undone of the
// settings; empty when every choice takes effect.
std::string UnusedChoice(const ConnectionSettings& settings, bool plcFamily);

// The exclusion rules of the dialog's boxes. Each Tick* sets the box and applies its rules.
class ConnectionChoices {
 public:
  ConnectionSettings& settings() { return settings_; }
  const ConnectionSettings& settings() const { return settings_; }

  // PLC I/O, hardware controlled, slave and pallet exclude each other.
  void TickPlcIo(bool on);
  void TickHardware(bool on);
  void TickSlave(bool on);
  void TickPallet(bool on);
  // Clear connections and transparent exclude each other. Clear sets both sides to node entry
  // 0; unticking it restores the choices from before.
  void TickClear(bool on);
  void TickTransparent(bool on);
  // The PLC-related controls (outputs, lock, program, delete) are usable.
  bool PlcControlsEnabled() const { return plcEnabled_; }
  void SetPlcControlsEnabled(bool on) { plcEnabled_ = on; }

 private:
  ConnectionSettings settings_;
  LinkChoice savedUp_, savedDown_;
  bool plcEnabled_ = false;
};

// ---- operations ----
// What the operations need around the module: the prompt, the progress, the way to other
// modules, the clock, the PLC transfers and the node screen's re-read. Empty functions are
// skipped (no upload, no lock, no re-read); `open` defaults to OpenModule and `sleep` to a
// real pause.
struct ConnectionServices {
  base::Prompt* prompt = nullptr;
  base::Progress* progress = nullptr;
  std::function<std::unique_ptr<ModuleRegisters>(const std::string& ip)> open;
  std::function<void(uint32_t ms)> sleep;
  // Uploads (or deletes) the PLC program of the settings to a module, expecting a family name.
  std::function<PlcUploadResult(const std::string& ip, const std::string& family,
                                const ConnectionSettings& settings, base::Progress& progress)>
      upload;
  // Sends the PLC lock (1 lock, 0 unlock) and returns the module's lock state or -1.
  std::function<int(const std::string& ip, bool lock)> readLock;
  // Reads the selected module again into the node screen.
  std::function<void()> reread;
};

// The real PLC program upload (or deletion) by TFTP for the settings; the lock needs the
// application object and is left to the caller.
PlcUploadResult UploadForSettings(const std::string& ip, const std::string& family,
                                  const ConnectionSettings& settings, base::Progress& progress,
                                  base::Prompt& prompt);

// The result of Apply on one module.
enum class ApplyOutcome {
  kDone,     // written, restarted and read again
  kRefused,  // a check or the user stopped it before any write
  kFailed,   // a register step failed (registers written before stay written)
};

// Apply (1178) on the selected module at `ip`. A linked module whose register 18 cannot be read
// stops it before anything is written, and a PLC lock that the module does not acknowledge with
// the state sent makes it fail.
ApplyOutcome ApplyConnections(ModuleRegisters& module, const std::string& ip,
                              const ConnectionSettings& settings, ConnectionServices& services);

// The mode switch of one module (Apply's step 5): mode register, disconnection value, cleared
// connections, hardware zeros, transparent block, restart with progress 25..80, PLC upload to
// 100. False when a step failed (logged, the loss shown).
bool MakePLCControlled(ModuleRegisters& module, const std::string& ip,
                       const ConnectionSettings& settings, ConnectionServices& services);

// The restart of a module: 19 := 1, 2000 ms, 251..253 := 300, 333, 666. False when a write
// failed; the module goes away for a few seconds after the last write.
bool RestartModule(ModuleRegisters& module, const std::function<void(uint32_t)>& sleep);

// The value register 18 takes in a mode switch: 5 hardware controlled, 1 slave, 9 pallet, and
// otherwise 2 (PLC I/O, the switch Apply All asks for).
uint16_t ModeValueFor(const ConnectionSettings& settings);

// One module of Apply All.
struct ApplyAllModule {
  std::string ip;
  enum class State { kWaiting, kRunning, kDone, kFailed } state = State::kWaiting;
  std::string error;  // the last error text, at most 200 characters
  uint32_t elapsedMs = 0;
};

struct ApplyAllResult {
  bool started = false;  // false: refused before any module was touched
  std::vector<ApplyAllModule> modules;
  std::string message;  // the closing text shown
  bool AllDone() const;
};

// Apply All (1195) over the modules at `ips` (the range in order): the question, the file
// check against every module's family, then one worker per module. The progress counts
// modules finished out of the range.
ApplyAllResult ApplyAll(const std::vector<std::string>& ips, const ConnectionSettings& settings,
                        ConnectionServices& services);

// What a module shows of its connections (the command line's view).
struct ConnectionView {
  uint16_t mode = 0;
  uint16_t variant = 0;
  Descriptor upstream{};
  Descriptor downstream{};
  uint16_t outputs = 0;  // register 255
  uint16_t outputs2 = 0;
};
std::optional<ConnectionView> ReadConnectionView(ModuleRegisters& module);
// "a.b.c.d" of a descriptor's first two words; "" when they are zero.
std::string DescriptorAddress(const Descriptor& descriptor);

// Waits `ms` through the services' sleep, or for real when they have none.
void Sleep(const ConnectionServices& services, uint32_t ms);

}  // namespace config
