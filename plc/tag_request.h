#pragma once
// One PLC data request to a module's data area (UDP 55559) and the answer it got. The request
// datagram is built when the request is made; answers are checked for their length before any
// field is read.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace plc {

inline constexpr uint16_t kPlcDataPort = 55559;
inline constexpr uint16_t kFallbackBindPort = 54559;
inline constexpr const char* kBroadcastText = "255.255.255.255";
inline constexpr size_t kMaxDataSize = 10000;  // the largest data area a module exposes
inline constexpr size_t kBlockSize = 1000;     // bytes per periodic block read
inline constexpr size_t kMaxAnswer = 1024;     // bytes of an answer kept
inline constexpr size_t kAnswerHeader = 8;     // read data follow this header
inline constexpr size_t kRequestHeader = 12;
inline constexpr uint32_t kAnswerTimeoutMs = 400;

// Request states.
inline constexpr uint32_t kStateQueued = 1;
inline constexpr uint32_t kStateSent = 2;
inline constexpr uint32_t kStateAnswered = 4;
inline constexpr uint32_t kStateError = 5;
inline constexpr uint32_t kStateSendFailed = 0x8001;
inline constexpr uint32_t kStateNoAnswer = 0x8002;

// Request kinds.
inline constexpr uint16_t kKindRead = 1;
inline constexpr uint16_t kKindWrite = 2;
inline constexpr uint16_t kKindSetBit = 3;
inline constexpr uint16_t kKindClearBit = 4;

// Next id of the process-wide 16-bit counter (incremented before use: the first id is 1).
uint16_t NextTagRequestId();

class CTagRequest {
 public:
  // A read of `count` bytes (1..1000) from `dataAddress`.
  static CTagRequest Read(const std::string& address, uint16_t dataAddress, uint16_t count);
  // A write of a value of `size` bytes (1, 2 or 4; anything else is taken as 4), little-endian.
  static CTagRequest Write(const std::string& address, uint16_t dataAddress, uint16_t size,
                           uint32_t value);
  // Set (true) or clear (false) bit `bit` (0..31) of the value at `dataAddress`.
  static CTagRequest Bit(const std::string& address, uint16_t dataAddress, uint16_t bit, bool set);

  std::string address;  // module IPv4 text; "255.255.255.255": any module may answer
  uint32_t state = kStateQueued;
  uint16_t id = 0;
  uint16_t kind = 0;
  uint16_t length = 4;
  uint16_t reserved = 0;
  uint16_t dataAddress = 0;
  uint16_t count = 0;
  uint32_t answerLength = 0;
  std::array<uint8_t, kMaxAnswer> answer{};
  uint32_t requestLength = 0;
  std::array<uint8_t, kRequestHeader + 4> request{};
  uint32_t sentAt = 0;
  uint32_t answeredAt = 0;

  // The destination: the address text when it is longer than 6 characters and not the
  // broadcast text, else the broadcast address.
  bool IsBroadcast() const;
  // The status byte of the answer (0 when none was taken).
  uint8_t AnswerStatus() const { return answerLength > 2 ? answer[2] : 0; }
  // Read data of the answer: bytes after the 8-byte header (0 when the answer is shorter).
  size_t AnswerDataLength() const {
    return answerLength > kAnswerHeader ? answerLength - kAnswerHeader : 0;
  }
  const uint8_t* AnswerData() const { return answer.data() + kAnswerHeader; }

 private:
  static CTagRequest Make(const std::string& address, uint16_t kind, uint16_t dataAddress,
                          uint16_t count, uint16_t valueSize, uint32_t value);
};

// What a received datagram says of itself. Lengths are checked before any byte is read.
struct AnswerView {
  bool isAnswer = false;   // bit 7 or bit 6 of the status byte set
  bool matchable = false;  // at least 8 bytes: id and header complete
  uint16_t id = 0;
  uint8_t status = 0;
  bool error = false;  // status byte 0x80 or above
};
AnswerView InspectAnswer(const uint8_t* data, size_t length);

// The text of a request state, for logs, the CLI and the view.
std::string StateText(uint32_t state);

}  // namespace plc
