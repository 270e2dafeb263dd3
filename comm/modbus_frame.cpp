#include "comm/modbus_frame.h"

#include <cstring>

#include "base/bytes.h"
#include "base/format.h"

namespace comm::modbus {
namespace {

void PutHeader(uint8_t* out, uint16_t transactionId, uint16_t lengthField, uint8_t function) {
  base::PutBE16(out + 0, transactionId);
  base::PutBE16(out + 2, 0);
  base::PutBE16(out + 4, lengthField);
  out[6] = kUnitId;
  out[7] = function;
}

}  // namespace

size_t BuildReadRequest(uint8_t* out, uint16_t transactionId, uint16_t first, uint16_t quantity) {
  PutHeader(out, transactionId, 6, kReadHoldingRegisters);
  base::PutBE16(out + 8, static_cast<uint16_t>(first - 1));
  base::PutBE16(out + 10, quantity);
  return kSingleRequestSize;
}

size_t BuildWriteSingleRequest(uint8_t* out, uint16_t transactionId, uint16_t reg,
                               uint16_t valueNetworkOrder) {
  PutHeader(out, transactionId, 6, kWriteSingleRegister);
  base::PutBE16(out + 8, static_cast<uint16_t>(reg - 1));
  std::memcpy(out + 10, &valueNetworkOrder, 2);
  return kSingleRequestSize;
}

size_t BuildWriteMultipleRequest(uint8_t* out, uint16_t transactionId, uint16_t first,
                                 uint8_t count, const uint16_t* valuesNetworkOrder) {
  const size_t dataBytes = 2u * count;
  PutHeader(out, transactionId, static_cast<uint16_t>(dataBytes + 7), kWriteMultipleRegisters);
  base::PutBE16(out + 8, static_cast<uint16_t>(first - 1));
  base::PutBE16(out + 10, count);
  out[12] = static_cast<uint8_t>(dataBytes);
  if (dataBytes > 0) std::memcpy(out + 13, valuesNetworkOrder, dataBytes);
  return 13 + dataBytes;
}

size_t AnnouncedAnswerSize(const uint8_t* header) {
  return 6u + base::GetBE16(header + 4);
}

size_t RequiredAnswerSize(const uint8_t* request, size_t requestLength) {
  if (requestLength < kSingleRequestSize) return 8;
  switch (request[7]) {
    case kReadHoldingRegisters:
      return 9u + 2u * base::GetBE16(request + 10);
    case kWriteSingleRegister:
      return 12;
    default:
      return 8;
  }
}

AnswerCheck CheckAnswer(const uint8_t* request, size_t requestLength, const uint8_t* answer,
                        size_t answerLength, uint16_t* out, size_t outWords) {
  AnswerCheck check;
  if (requestLength < kSingleRequestSize || answerLength < 2) return check;
  if (std::memcmp(answer, request, 2) != 0) {
    check.status = AnswerStatus::kOtherTransaction;
    return check;
  }
  if (answerLength < 8) return check;
  const uint8_t function = request[7];
  if (answer[7] == function) {
    if (answerLength < RequiredAnswerSize(request, requestLength)) return check;
    if (function == kReadHoldingRegisters) {
      size_t words = base::GetBE16(request + 10);
      if (outWords < words) words = outWords;
      if (words > 0 && out != nullptr) std::memcpy(out, answer + 9, 2 * words);
    } else if (function == kWriteSingleRegister) {
      if (outWords > 0 && out != nullptr) std::memcpy(out, answer + 10, 2);
    }
    check.status = AnswerStatus::kAccepted;
    return check;
  }
  if (answer[7] == static_cast<uint8_t>(function + kExceptionFlag)) {
    if (answerLength < 9) return check;
    check.status = AnswerStatus::kException;
    check.exceptionCode = answer[8];
    if (outWords > 0 && out != nullptr) out[0] = answer[8];
    return check;
  }
  check.status = AnswerStatus::kOtherFunction;
  return check;
}

std::string ExceptionAnswerText(const uint8_t* request, const uint8_t* answer) {
  return base::Format(
      "Request: (trId:#0x%x,func:#0x%x,len:#%d,startAddr:#%d)\n\t\t\t\t\t\t\t\t\t\tResponce: "
      "(func:#0x%x,len:#%d,errCode:#0x%x)",
      base::GetBE16(request), request[7], base::GetBE16(request + 4), base::GetBE16(request + 8),
      answer[7], base::GetBE16(answer + 4), answer[8]);
}

}  // namespace comm::modbus
