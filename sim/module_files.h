#pragma once
// What a module keeps besides its registers: the PLC program, the PLC lock and a firmware file
// waiting for the next restart. Written by the TFTP server and the lock request, read by the
// service port and the control socket.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

inline constexpr const char* kPlcProgramFile = "PlcData_.bin";

struct StagedFirmware {
  std::string name;  // the remote file name it was written as
  std::vector<uint8_t> bytes;
};

struct TftpCounters {
  uint64_t requests = 0;    // RRQ and WRQ taken
  uint64_t completed = 0;   // transfers that ended well
  uint64_t failed = 0;      // ERROR sent or given up
  uint64_t duplicates = 0;  // DATA blocks received again and re-acknowledged
  uint64_t resends = 0;     // packets sent again after a time-out
  uint64_t crcErrors = 0;   // uploads refused for a wrong check value or length
};

struct ModuleFiles {
  std::vector<uint8_t> plcProgram;  // as uploaded, with its two check bytes; empty = none
  uint32_t plcLock = 0;             // 1 locked, 0 unlocked
  uint64_t lockRequests = 0;
  std::optional<StagedFirmware> staged;
  uint64_t managementRequests = 0;          // 0xB0 commands taken
  bool dhcp = true;                         // DHCP off is a management command
  std::string fieldbusName = "brevantrix";  // cleared by the reset of name and address
  // The PLC program's data area (UDP 55559) and the requests answered from it.
  std::vector<uint8_t> plcData = std::vector<uint8_t>(10000);
  uint64_t plcRequests = 0;
  TftpCounters tftp;
};

// The version a firmware file name carries: after the first '_' (after "_V" for names that
// begin "TORMWEXALIN_V") the major, after the next '_' the minor. nullopt when unreadable.
struct FileVersion {
  int major = 0;
  int minor = 0;
};
std::optional<FileVersion> FirmwareVersionFromName(const std::string& name);

}  // namespace sim
