#pragma once
// Modbus TCP frames of the register client: request building and the check of an answer
// against its request. Pure functions over byte buffers; every length is checked before a read.
#include <cstddef>
#include <cstdint>
#include <string>

namespace comm::modbus {

inline constexpr uint8_t kUnitId = 1;
inline constexpr uint8_t kReadHoldingRegisters = 3;
inline constexpr uint8_t kWriteSingleRegister = 6;
inline constexpr uint8_t kWriteMultipleRegisters = 16;
inline constexpr uint8_t kExceptionFlag = 0x80;
inline constexpr size_t kHeaderSize = 7;          // transaction, protocol, length, unit
inline constexpr size_t kSingleRequestSize = 12;  // functions 3 and 6
inline constexpr size_t kMaxRequestSize = 13 + 2 * 127;

// Each writes the request into `out` (room for kMaxRequestSize bytes) and returns its length.
size_t BuildReadRequest(uint8_t* out, uint16_t transactionId, uint16_t first, uint16_t quantity);
size_t BuildWriteSingleRequest(uint8_t* out, uint16_t transactionId, uint16_t reg,
                               uint16_t valueNetworkOrder);
// values are copied as they lie in memory (network order); count at most 127.
size_t BuildWriteMultipleRequest(uint8_t* out, uint16_t transactionId, uint16_t first,
                                 uint8_t count, const uint16_t* valuesNetworkOrder);

// Whole size of the answer whose header (kHeaderSize bytes) is given: 6 + its length field.
size_t AnnouncedAnswerSize(const uint8_t* header);

enum class AnswerStatus {
  kAccepted,          // same transaction and function, data copied
  kOtherTransaction,  // another transaction identifier: not ours
  kOtherFunction,     // neither the function nor its exception
  kException,         // function + 0x80: exceptionCode holds the code
  kTooShort,          // ours, but fewer bytes than the request needs
};

struct AnswerCheck {
  AnswerStatus status = AnswerStatus::kTooShort;
  uint8_t exceptionCode = 0;
};

// Bytes an accepted answer to this request must have (function 3: 9 + 2 x quantity; 6: 12;
// 16: 8).
size_t RequiredAnswerSize(const uint8_t* request, size_t requestLength);

// Checks the answer against the request. On kAccepted copies the data: function 3 the first
// outWords words (at most the quantity asked), function 6 the 2-byte echo; on kException stores
// the code in out[0] (when outWords > 0). Words are copied as received (big-endian).
AnswerCheck CheckAnswer(const uint8_t* request, size_t requestLength, const uint8_t* answer,
                        size_t answerLength, uint16_t* out, size_t outWords);

// The "Request: (...) Responce: (...)" text of an exception answer. Both buffers hold at least
// 9 bytes (the check above guarantees it).
std::string ExceptionAnswerText(const uint8_t* request, const uint8_t* answer);

}  // namespace comm::modbus
