#pragma once
// PLC programs on modules: the checks of a program file against a module's device family, the
// upload (and deletion) of the program by TFTP as "PlcData_.bin", the PLC lock request and the
// name of the program a module holds. Qt-free; the user is told through a Prompt and progress
// goes to a Progress.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <optional>

#include "base/progress.h"
#include "base/prompt.h"
#include "comm/tftp_packet.h"

class CMRegApp;

namespace config {

inline constexpr const char* kPlcRemoteFile = "PlcData_.bin";
inline constexpr const char* kPlcNamePrefix = "PLCDATA_";
inline constexpr uint16_t kTftpPort = 69;
inline constexpr size_t kFamilyOffset = 24;  // device family name in the program file
inline constexpr size_t kFamilyLength = 20;
inline constexpr size_t kHeaderRead = 55;  // bytes read for the file check

// A device family as the program file names it.
struct PlcFamily {
  const char* searched;  // substring looked for in the file's family field
  uint16_t code;         // compared with register 6 & 0xFF00
  const char* shown;     // name in messages; null: the family field as read
};
const std::vector<PlcFamily>& PlcFamilies();

// The family field of a program file's first bytes: at most 20 bytes from offset 24, up to the
// first NUL, within the bytes present.
std::string FamilyField(const uint8_t* bytes, size_t length);
// The code of the first family whose name occurs in the field; 0 when none does.
uint16_t FamilyCode(const std::string& field);
// The name shown in messages for a family field.
std::string FamilyShownName(const std::string& field);
// A module's device-type code: register 6 with its low byte cleared.
inline uint16_t ModuleFamilyCode(uint16_t register6) {
  return static_cast<uint16_t>(register6 & 0xFF00);
}

struct PlcFileCheck {
  bool ok = false;
  bool noProgram = false;  // an empty path: nothing to check or upload
  uint16_t code = 0;       // the file's family code
  std::string family;      // the family field as read
  std::string message;     // the refusal shown, empty when ok
};

// File check for one module (Apply): name, readable, family field against the module's code.
// A refusal is shown through the prompt.
PlcFileCheck CheckPlcFileForModule(const std::string& path, uint16_t moduleFamilyCode,
                                   base::Prompt& prompt);

struct RangeModule {
  std::string ipText;
  uint16_t familyCode = 0;
};
// File check for a range (Apply All): every module whose code differs from the file's is
// listed in *incompatible (IP texts) and named in one message.
PlcFileCheck CheckPlcFileForRange(const std::string& path, const std::vector<RangeModule>& modules,
                                  std::vector<std::string>* incompatible, base::Prompt& prompt);

// The end of an upload: 1 success (or nothing to do), 0 failure; the last text shown and the
// TFTP client's counters.
struct PlcUploadResult {
  int result = 0;
  std::string text;
  uint32_t readTimeouts = 0;
  uint32_t retransmissions = 0;
  uint32_t socketErrors = 0;
};

// Uploads the program file at `path` to the module as "PlcData_.bin" after checking its name
// and that its family field begins with `expectedFamily`; with deleteProgram, uploads an empty
// program instead. Progress runs from 80 to 100 over the blocks, with the texts "Uploading %s
// to %s (%d of %d)... " and the outcome. A cancel through the progress ends it as a failure.
PlcUploadResult UploadPLCProgram(const std::string& ipText, base::Progress& progress,
                                 const std::string& expectedFamily, const std::string& path,
                                 bool deleteProgram, base::Prompt& prompt,
                                 uint16_t port = kTftpPort);

// The 16-byte PLC lock request (code 0x70): value 1 locks, 0 unlocks.
std::vector<uint8_t> LockPacket(uint32_t value);

// Sends the lock request to the module three times and waits 300 ms for its answer. The
// module's lock state as it answered, or -1 when no answer came (also for an address text of
// 6 characters or fewer, which is sent nowhere).
int _ReadLock(CMRegApp& app, const std::vector<uint8_t>& packet, const std::string& ipText);

// The most a module can keep of a program (its two check bytes included): what one TFTP transfer
// carries, 65,535 blocks of 512 bytes. A larger announced length is not believed: nothing is
// allocated or fetched for it.
inline constexpr uint32_t kMaxStoredPlcProgram = tftp::kMaxBlocks * tftp::kBlockSize;

// The program a module keeps, as it keeps it (the program followed by its CRC-16/MODBUS, low
// byte first): the service port's "p" gives the length, a TFTP download of "PlcData_.bin"
// exactly that many bytes. Empty when the module holds none; nothing when it cannot be read in
// full, with *error saying why.
std::optional<std::vector<uint8_t>> ReadStoredPlcProgram(const std::string& ipText,
                                                         std::string* error,
                                                         uint16_t servicePort = 23,
                                                         uint16_t tftpPort = kTftpPort);

// What a module says of its PLC program: whether it could be asked at all, how many bytes it
// keeps (0: none), and the name in them.
struct PlcProgramOnModule {
  bool read = false;    // the length came and, for a program, the whole download
  size_t length = 0;    // bytes the module keeps; 0 = no program
  std::string name;     // from the last "PLCDATA_" in the program; "" when it names none
  std::string failure;  // why it could not be read, when not read
};
// The stored program read in full (ReadStoredPlcProgram) and the name in it.
PlcProgramOnModule ReadPlcProgramOnModule(const std::string& ipText, uint16_t servicePort = 23,
                                          uint16_t tftpPort = kTftpPort);

// True when the module keeps exactly `program` followed by its check bytes, as an upload of
// it stores it; otherwise *error names what the module reported instead.
bool VerifyStoredPlcProgram(const std::string& ipText, const std::vector<uint8_t>& program,
                            std::string* error, uint16_t servicePort = 23,
                            uint16_t tftpPort = kTftpPort);

// The name of the PLC program a module holds: its service port's "p" gives the length, a TFTP
// download of "PlcData_.bin" the bytes, and the name starts at the last "PLCDATA_" in them.
// Empty when the module has none or it cannot be read.
std::string ReadPlcProgramName(const std::string& ipText, uint16_t servicePort = 23,
                               uint16_t tftpPort = kTftpPort);
// The name inside a program's bytes (more than 12 bytes, searched backwards); empty when none.
std::string PlcProgramNameIn(const uint8_t* bytes, size_t length);
// The length in a "p" answer: the decimal number after "My:" up to the next comma; -1 when
// "My:" is missing or the number is not a plain non-negative number.
long PlcLengthFromAnswer(const std::string& answer);

}  // namespace config
