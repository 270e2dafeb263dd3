#pragma once
// The line description: which modules a simulated line has, how they are cabled and how they
// behave. Read from a JSON line file (format in sim/README.md) or generated for large lines.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace sim {

using Mac = std::array<uint8_t, 6>;

// Misbehaviour a module can be told to show. All of them come from linesim's own code.
struct Faults {
  double dropFraction = 0.0;   // share of answers silently not sent (0..1)
  uint32_t delayMs = 0;        // added to every answer
  bool duplicate = false;      // every answer sent twice
  bool staleSequence = false;  // answers echo the previous sequence / transaction number
  std::optional<uint32_t> sharesAddressOf;  // serial of the module whose address it also uses
  bool affectsDiscovery = true;             // the faults above apply to UDP protocol answers
  bool affectsModbus = true;                // ... and to Modbus answers
  // TFTP (each 0 / false when off): the module's DATA or ACK of that block is lost once per
  // transfer; every ACK is sent twice; an ERROR instead of the answer to that block; the
  // module dies when that block is due.
  uint32_t tftpLoseBlock = 0;
  bool tftpDuplicateAck = false;
  uint32_t tftpErrorBlock = 0;
  uint32_t tftpDieBlock = 0;
  bool noTopology = false;     // GET_TOPOLOGY and GET_NEIGHBORS go unanswered (no announcement)
  bool miswired = false;       // the neighbour report names the left neighbour right and vice versa
  bool noFlashImage = false;   // "ERGR" on UDP 55557 goes unanswered
  bool serviceDead = false;    // the service text port closes every connection unanswered
  uint32_t rebootOnWrite = 0;  // register: a write covering it restarts the module (once)
  bool keepsNetwork = false;   // Set NodeIP is answered, but with the settings unchanged
  // PLC data (UDP 55559): no answer at all; every answer sent twice; every request answered
  // with the error status 0x80 | code (0: off).
  bool plcSilent = false;
  bool plcDuplicate = false;
  uint8_t plcErrorCode = 0;
  // Modbus reads and writes that touch registers refuseFirst..refuseLast are answered with
  // exception 2, as for registers the module does not have (refuseFirst 0: off).
  uint32_t refuseFirst = 0;
  uint32_t refuseLast = 0;
  // Answers cut short: a Modbus read answer lacks its last register (its length fields agree
  // with what it carries); the flash image lacks its last word; a TFTP download of the PLC
  // program ends after half of it.
  bool shortModbus = false;
  bool shortFlashImage = false;
  bool shortTftp = false;
  bool saveUnconfirmed = false;    // a save command is never done: 253 keeps its count
  uint32_t tftpRebootBlock = 0;    // block: the module restarts when its DATA / ACK is due
  bool tftpRepeatNewPort = false;  // a request sent again starts a new transfer (new port)
  bool tftpDuplicate = false;      // every TFTP packet doubled, in both directions
  bool silentSetNodeIp = false;    // Set NodeIP neither taken nor answered (discovery still is)

  bool Any() const {
    return dropFraction > 0 || delayMs > 0 || duplicate || staleSequence || sharesAddressOf ||
           tftpLoseBlock || tftpDuplicateAck || tftpErrorBlock || tftpDieBlock || noTopology ||
           miswired || noFlashImage || serviceDead || rebootOnWrite || keepsNetwork || plcSilent ||
           plcDuplicate || plcErrorCode || refuseFirst || shortModbus || shortFlashImage ||
           shortTftp || saveUnconfirmed || tftpRebootBlock || tftpRepeatNewPort || tftpDuplicate ||
           silentSetNodeIp;
  }
  bool Refuses(uint32_t first, uint32_t count) const {
    return refuseFirst && count && first <= refuseLast && first + count - 1 >= refuseFirst;
  }
};

struct Timing {
  uint32_t flashWriteMs = 50;     // save command 3 until register 253 reads 0
  uint32_t formatMs = 200;        // command 100 until register 251 reads 0
  uint32_t rebootMs = 1500;       // restart until the module is reachable again
  uint32_t answerDelayMinMs = 1;  // discovery answers: random delay per module
  uint32_t answerDelayMaxMs = 50;
  uint32_t autoConfigMs = 2000;  // AutoConfig or Replace frame until the line is configured
  uint32_t resetAckMs = 20;      // factory reset frame until its acknowledgement
};

// One drive the module keeps in its drive history (service port command `7`).
struct DriveRecord {
  uint32_t serial = 0;  // bits 10..11 region, bits 0..9 number
  uint32_t date = 0;    // production date, bytes year.month.day from bits 16..23 down
  uint32_t lock = 1;    // the motor port it was on: 1 or 2
  uint32_t operating = 0;
  uint32_t currentLimit = 0;
  uint32_t overheat = 0;
  uint32_t cycles = 0;
  uint32_t overVoltage = 0;
  uint32_t underVoltage = 0;
};
constexpr size_t kMaxDriveRecords = 32;

struct ModuleSetup {
  uint32_t serial = 0;
  Mac mac{};
  uint32_t address = 0;  // network order
  uint32_t mask = 0;
  uint32_t gateway = 0;
  uint8_t family = 0x00;  // register 17 high byte: 0x00, 0x02, 0x03, 0x09, 0x0C
  uint8_t hardwareRevision = 3;
  uint8_t firmwareMajor = 4;  // the plain version; families 0x03, 0x09, 0x0C report major + 100
  uint8_t firmwareMinor = 12;
  uint8_t firmwarePatch = 0;  // register 12 high byte on families 0x09 and 0x0C
  uint16_t moduleType = 1;    // register 18
  uint8_t variant = 0;        // register 6 low nibble (4 = mounted reversed)
  uint8_t direction = 0;      // 0: left port faces the PC, 1: right port faces the PC
  uint8_t packetFlags = 0x10;
  uint8_t recordLength = 28;  // 8, 16, 20 or 28
  uint8_t linePosition = 0xFF;
  bool plcMode = false;  // register 12 bit 0
  bool alive = true;
  int driveType = 10;                      // drive type catalogue row of both drives
  std::map<uint32_t, uint16_t> registers;  // overrides, by register number
  std::vector<DriveRecord> drives;         // drive history, oldest first
  std::vector<uint8_t> plcProgram;         // the PLC program it holds (empty: none)
  // The PLC data area's initial contents: bytes from an offset.
  std::vector<std::pair<uint16_t, std::vector<uint8_t>>> plcData;
  Faults faults;
  // Filled from the chains: where the module sits and who is cabled to its ports.
  int chain = 0;
  int position = 0;  // 0 = next to the PC switch
};

struct LineSetup {
  uint32_t network = 0;  // network order, e.g. 192.168.202.0
  uint32_t mask = 0;
  uint32_t gateway = 0;
  Timing timing;
  uint32_t seed = 1;                             // for the random answer delays and drop decisions
  std::vector<std::vector<ModuleSetup>> chains;  // each chain from the PC switch outwards

  size_t ModuleCount() const;
};

class LineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses a line description; throws LineError with a reason naming the place of the fault.
LineSetup ParseLine(const nlohmann::json& json);
LineSetup LoadLineFile(const std::string& path);
// A line of `modules` modules spread over `networks` /24 networks (192.168.202.0,
// 192.168.203.0, ...), in chains of up to 12, with mixed families and firmware versions.
// With `servedNetwork` K (1..networks) only the modules of network K are in it, as they are in
// the whole line: one linesim per network (one per lab adapter) serves the line together.
nlohmann::json GenerateLine(int modules, int networks, int servedNetwork = 0);
// The JSON form of a module (the same keys the line file uses).
nlohmann::json ModuleToJson(const ModuleSetup& module);
nlohmann::json FaultsToJson(const Faults& faults);
// Merges the keys of `json` into `faults`; throws LineError on an unknown key or bad value.
void ApplyFaults(const nlohmann::json& json, Faults& faults);

// "a.b.c.d" to network order; nullopt when it is not a dotted quad of bytes.
std::optional<uint32_t> ParseIpv4(const std::string& text);
// True when the mask's ones are contiguous from the top (0.0.0.0 .. 255.255.255.255).
bool IsContiguousMask(uint32_t maskNetworkOrder);
// Why `address` (with `mask`, network order) cannot be a module's address on a line: the
// this-network block, multicast, reserved or broadcast addresses, or its own network's
// address or broadcast; nullopt when it can be.
std::optional<std::string> ModuleAddressProblem(uint32_t address, uint32_t mask);
// The N[,NETWORKS] of `linesim --generate`; throws LineError when the text is anything else.
std::pair<int, int> ParseGenerateOption(const std::string& text);
std::optional<Mac> ParseMac(const std::string& text);
std::string MacString(const Mac& mac);
// The MAC a module gets when the line file gives none: locally administered, from the serial.
Mac MacFromSerial(uint32_t serial);
int PrefixLength(uint32_t maskNetworkOrder);

}  // namespace sim
