// The register client's answer check: an answer of any bytes against a request built from the
// first input bytes. The check must never read past the answer nor copy more than asked.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "comm/modbus_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  // Byte 0: function; bytes 1..2: transaction identifier; byte 3: quantity (1..127).
  const uint8_t functions[3] = {comm::modbus::kReadHoldingRegisters,
                                comm::modbus::kWriteSingleRegister,
                                comm::modbus::kWriteMultipleRegisters};
  const uint8_t function = functions[data[0] % 3];
  const uint16_t id = static_cast<uint16_t>(data[1] << 8 | data[2]);
  const uint8_t quantity = static_cast<uint8_t>(1 + data[3] % 127);
  uint8_t request[comm::modbus::kMaxRequestSize];
  size_t requestLength = 0;
  std::vector<uint16_t> values(quantity, 0x1234);
  switch (function) {
    case comm::modbus::kReadHoldingRegisters:
      requestLength = comm::modbus::BuildReadRequest(request, id, 40, quantity);
      break;
    case comm::modbus::kWriteSingleRegister:
      requestLength = comm::modbus::BuildWriteSingleRequest(request, id, 40, values[0]);
      break;
    default:
      requestLength =
          comm::modbus::BuildWriteMultipleRequest(request, id, 40, quantity, values.data());
      break;
  }
  // The answer lies in its own exactly sized buffer so that any overread is seen.
  std::vector<uint8_t> answer(data + 4, data + size);
  if (answer.size() >= comm::modbus::kHeaderSize) {
    (void)comm::modbus::AnnouncedAnswerSize(answer.data());
  }
  // One guard word after the words asked for.
  std::vector<uint16_t> out(quantity + 1u, 0xA5A5);
  const comm::modbus::AnswerCheck check = comm::modbus::CheckAnswer(
      request, requestLength, answer.data(), answer.size(), out.data(), quantity);
  if (out[quantity] != 0xA5A5) __builtin_trap();
  switch (check.status) {
    case comm::modbus::AnswerStatus::kAccepted:
      if (answer.size() < comm::modbus::RequiredAnswerSize(request, requestLength))
        __builtin_trap();
      break;
    case comm::modbus::AnswerStatus::kException: {
      if (answer.size() < 9 || out[0] != answer[8]) __builtin_trap();
      const std::string text = comm::modbus::ExceptionAnswerText(request, answer.data());
      if (text.find("errCode:#0x") == std::string::npos) __builtin_trap();
      break;
    }
    default:
      break;
  }
  return 0;
}
