#pragma once
// One simulated module: its registers in RAM and in flash, the command block, the identity it
// reports and what it has been asked. Pure state: no sockets and no clocks; the simulator
// drives the timed parts (flash write, format, restart) from the commands the module reports.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "sim/line.h"
#include "sim/module_files.h"

namespace sim {

// Modbus exception codes the module answers with.
enum ModbusException : uint8_t {
  kIllegalFunction = 1,
  kIllegalDataAddress = 2,
  kIllegalDataValue = 3,
};

constexpr int kRegisterCount = 512;          // registers 1..512
constexpr uint16_t kExtendedBlockA = 10000;  // 10000..10035 on family 0x09
constexpr uint16_t kExtendedBlockB = 10100;  // 10100..10135 on family 0x09
constexpr int kExtendedBlockSize = 36;
constexpr uint16_t kDiagnosticLog1 = 10200;  // 600 registers, not on family 0x0C
constexpr uint16_t kDiagnosticLog2 = 10300;  // 600 registers
constexpr int kDiagnosticLogSize = 600;
constexpr int kDiagnosticLogEntries = kDiagnosticLogSize / 4;
constexpr uint16_t kCommandRegister = 251;        // 251..253: command, first register, count
constexpr uint16_t kServiceCommandRegister = 22;  // operating-time resets, short-circuit clear
constexpr uint16_t kShortCircuitBit = 0x0400;     // of the drive error words 58 / 82

enum class CommandKind { kSave, kFormat, kRestart };
struct ModuleCommand {
  CommandKind kind;
  uint16_t first = 0;
  uint16_t count = 0;
};

// One entry of a diagnostic log. The module stores when it happened; a read reports its age.
struct LogEvent {
  uint8_t category = 0;
  uint8_t code = 0;
  uint16_t parameter = 0;
  uint32_t tick = 0;  // the clock's value when it happened
};

struct ModuleCounters {
  uint64_t readRequests = 0;           // function 3
  uint64_t writeSingleRequests = 0;    // function 6
  uint64_t writeMultipleRequests = 0;  // function 16
  uint64_t otherRequests = 0;          // any other function
  uint64_t exceptions = 0;             // exception answers sent
  uint64_t malformed = 0;              // connections closed for a malformed request
  uint64_t connections = 0;            // TCP connections accepted
  uint64_t saves = 0;                  // save commands finished
  uint16_t lastSaveFirst = 0;
  uint16_t lastSaveCount = 0;
  uint64_t formats = 0;   // clear-and-save-all commands finished
  uint64_t restarts = 0;  // restarts (command, control socket)
  uint64_t discoverRequests = 0;
  uint64_t discoverAnswers = 0;  // answers sent (duplicates counted)
};

class SimModule {
 public:
  explicit SimModule(const ModuleSetup& setup);

  const ModuleSetup& Setup() const { return setup_; }
  uint32_t Serial() const { return setup_.serial; }
  const Mac& MacAddress() const { return setup_.mac; }
  uint32_t Address() const { return setup_.address; }
  uint8_t Family() const { return setup_.family; }
  Faults& ModuleFaults() { return setup_.faults; }
  ModuleCounters& Counters() { return counters_; }
  ModuleFiles& Files() { return files_; }

  // Liveness. A module is reachable when it is alive and not rebooting.
  bool Alive() const { return setup_.alive; }
  bool Rebooting() const { return rebooting_; }
  bool Reachable() const { return setup_.alive && !rebooting_; }
  void SetAlive(bool alive) { setup_.alive = alive; }
  void SetRebooting(bool rebooting) { rebooting_ = rebooting; }

  // Registers 1..RegisterCount() (363, 383 or 512 by the firmware version of register 25),
  // besides the extended blocks and the diagnostic logs; Modbus reads and writes that touch
  // any other register are refused with exception 2.
  uint32_t RegisterCount() const;

  // Modbus access by register number (wire address + 1). Return 0 or an exception code.
  // Reads fill `out` with host-order values.
  uint8_t Read(uint32_t first, uint32_t count, uint16_t* out) const;
  // A write is stored whole first; a non-zero value written to 251 then runs the command
  // block (reported by TakeCommand). Identity registers keep their values.
  uint8_t Write(uint32_t first, uint32_t count, const uint16_t* values);
  std::optional<ModuleCommand> TakeCommand();

  // The diagnostic logs (1: from 10200, not on family 0x0C; 2: from 10300), newest entry
  // first. AddLogEvent puts an event `ageMs` old in front of log `log` (the oldest of 150 falls
  // out); false when the module has no such log.
  bool HasLog(int log) const { return log == 2 || (log == 1 && setup_.family != 0x0C); }
  bool AddLogEvent(int log, uint8_t category, uint8_t code, uint16_t parameter, uint32_t ageMs);
  // A log's 600 registers as a read returns them: entries of 4 words, ages as of now.
  std::vector<uint16_t> LogWords(int log) const;
  // The millisecond clock the log ages are taken from (the tick counter unless a test sets one).
  void SetClock(std::function<uint32_t()> clock) { clock_ = std::move(clock); }

  // Control-socket access without side effects. flash selects the flash copy.
  bool Peek(uint32_t first, uint32_t count, bool flash, std::vector<uint16_t>& out) const;
  bool Poke(uint32_t first, const std::vector<uint16_t>& values, bool flash);

  // The timed ends of the commands.
  void FinishSave(uint16_t first, uint16_t count);  // copies to flash, clears 253
  void FinishFormat();                              // factory registers, all saved, 251 = 0
  void Restart();                                   // RAM from flash, command block clear
  // A staged firmware file became active: the plain version, reported in register 25.
  void SetFirmware(uint8_t major, uint8_t minor);

  // Network settings (Set NodeIP, control socket); updates registers 26/27.
  void SetNetwork(uint32_t address, uint32_t mask, uint32_t gateway);
  // A new serial number (Set NodeIP with the address unchanged); kept in flash at once.
  void SetSerial(uint32_t serial);

  // The discovery record (Part of the UDP protocol): serial, address, mask, gateway,
  // line position, family nibble, firmware; `recordLength` bytes of it.
  // At least `minimumLength` bytes (answers that carry the whole record when the module's
  // own is shorter).
  std::vector<uint8_t> NodeRecord(size_t minimumLength = 0) const;
  uint8_t PacketFlags() const { return setup_.packetFlags; }

  // ROUTING mode (GO_ROUTING until GO_NORMAL): frames to UDP port 55555 are not passed between
  // the module's ports.
  bool Routing() const { return routing_; }
  void SetRouting(bool routing) { routing_ = routing; }

  // Where the module is cabled (the control socket's swap and turn): chain, position from the
  // PC's switch, and which port faces the PC. Turning it also turns its discovery flags.
  void SetPlace(int chain, int position) {
    setup_.chain = chain;
    setup_.position = position;
  }
  void Turn() {
    setup_.direction = setup_.direction == 0 ? 1 : 0;
    setup_.packetFlags ^= 0x10;
  }

  // Line position of the record's byte 16 (bit 0 first, bit 1 last, 0xFF unknown).
  uint8_t LinePosition() const { return setup_.linePosition; }
  void SetLinePosition(uint8_t position) { setup_.linePosition = position; }

 private:
  struct Bank {
    std::array<uint16_t, kRegisterCount + 1> main{};  // index = register number
    std::array<uint16_t, kExtendedBlockSize> blockA{};
    std::array<uint16_t, kExtendedBlockSize> blockB{};
  };
  uint16_t* Slot(Bank& bank, uint32_t number) const;
  const uint16_t* Slot(const Bank& bank, uint32_t number) const;
  bool HasExtendedBlocks() const { return setup_.family == 0x09; }
  // A register a Modbus request may touch (the diagnostic logs aside).
  bool Exists(uint32_t number) const;
  bool IsPseudoRegister(uint32_t number) const;
  bool IsIdentityRegister(uint32_t number) const;
  void FillFactory();
  void WriteIdentity(Bank& bank) const;

  ModuleSetup setup_;
  Bank ram_;
  Bank flash_;
  Bank factory_;
  std::vector<LogEvent> log1_;
  std::vector<LogEvent> log2_;
  std::function<uint32_t()> clock_;
  bool rebooting_ = false;
  bool routing_ = false;
  std::optional<ModuleCommand> pendingCommand_;
  ModuleCounters counters_;
  ModuleFiles files_;
};

// The firmware version the module reports in register 25 and in its record (major + 100 on
// families 0x03, 0x09 and 0x0C).
uint16_t ReportedFirmware(const ModuleSetup& setup);
// Registers a module of this reported firmware (register 25) has: 363 below 3.19, 383 up to
// 4.0, else 512. Its flash image and a backup record carry one slot more (slot 0).
uint32_t RegisterCountOf(uint16_t firmwareRegister);

}  // namespace sim
