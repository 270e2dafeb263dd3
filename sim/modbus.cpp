#include "sim/modbus.h"

#include "base/bytes.h"

namespace sim {
namespace {

// An answer frame with `dataLength` bytes after the function code.
std::vector<uint8_t> Header(uint16_t transaction, uint8_t unit, uint8_t function,
                            size_t dataLength) {
  std::vector<uint8_t> frame(kMbapHeaderLength + 2 + dataLength);
  base::PutBE16(frame.data(), transaction);
  base::PutBE16(frame.data() + 2, 0);
  base::PutBE16(frame.data() + 4, static_cast<uint16_t>(2 + dataLength));
  frame[6] = unit;
  frame[7] = function;
  return frame;
}

ModbusAnswer Exception(const ModbusRequest& request, uint16_t transaction, uint8_t code,
                       SimModule& module) {
  ModbusAnswer answer;
  answer.bytes =
      Header(transaction, request.unit, static_cast<uint8_t>(request.function | 0x80), 1);
  answer.bytes[8] = code;
  answer.exception = code;
  ++module.Counters().exceptions;
  return answer;
}

ModbusAnswer Malformed(SimModule& module) {
  ModbusAnswer answer;
  answer.close = true;
  ++module.Counters().malformed;
  return answer;
}

}  // namespace

Extract ExtractRequest(const uint8_t* data, size_t length, ModbusRequest& request) {
  if (length < kMbapHeaderLength) return Extract::kNeedMore;
  const uint16_t protocol = base::GetBE16(data + 2);
  const uint16_t lengthField = base::GetBE16(data + 4);
  // Unit and function at least; nothing longer than the largest request.
  if (protocol != 0 || lengthField < 2 || lengthField > kMaxRequestLengthField)
    return Extract::kMalformed;
  if (length < kMbapHeaderLength + lengthField) return Extract::kNeedMore;
  request.transaction = base::GetBE16(data);
  request.unit = data[6];
  request.function = data[7];
  request.pdu = data + 7;
  request.pduLength = lengthField - 1u;
  request.frameLength = kMbapHeaderLength + lengthField;
  return Extract::kRequest;
}

ModbusAnswer AnswerRequest(const ModbusRequest& request, SimModule& module, uint16_t transaction) {
  const uint8_t* pdu = request.pdu;
  const size_t pduLength = request.pduLength;
  ModuleCounters& counters = module.Counters();
  const Faults& faults = module.ModuleFaults();
  switch (request.function) {
    case 3: {
      ++counters.readRequests;
      if (pduLength != 5) return Malformed(module);
      const uint32_t first = base::GetBE16(pdu + 1) + 1u;
      const uint32_t count = base::GetBE16(pdu + 3);
      if (count == 0 || count > kMaxReadRegisters)
        return Exception(request, transaction, kIllegalDataValue, module);
      if (faults.Refuses(first, count))
        return Exception(request, transaction, kIllegalDataAddress, module);
      std::vector<uint16_t> values(count);
      if (uint8_t code = module.Read(first, count, values.data()))
        return Exception(request, transaction, code, module);
      // The short-answer fault leaves out the last register; the length fields agree with
      // what the answer carries, so only a comparison with the request shows it.
      const uint32_t carried = faults.shortModbus ? count - 1 : count;
      ModbusAnswer answer;
      answer.bytes = Header(transaction, request.unit, 3, 1 + 2 * carried);
      // The byte count field holds one byte; long answers carry its low byte, and clients
      // take the data length from the request.
      answer.bytes[8] = static_cast<uint8_t>(2 * carried);
      for (uint32_t i = 0; i < carried; ++i)
        base::PutBE16(answer.bytes.data() + 9 + 2 * i, values[i]);
      return answer;
    }
    case 6: {
      ++counters.writeSingleRequests;
      if (pduLength != 5) return Malformed(module);
      const uint32_t number = base::GetBE16(pdu + 1) + 1u;
      const uint16_t value = base::GetBE16(pdu + 3);
      if (faults.Refuses(number, 1))
        return Exception(request, transaction, kIllegalDataAddress, module);
      if (uint8_t code = module.Write(number, 1, &value))
        return Exception(request, transaction, code, module);
      ModbusAnswer answer;
      answer.bytes = Header(transaction, request.unit, 6, 4);
      std::copy(pdu + 1, pdu + 5, answer.bytes.begin() + 8);
      return answer;
    }
    case 16: {
      ++counters.writeMultipleRequests;
      if (pduLength < 6) return Malformed(module);
      const uint8_t byteCount = pdu[5];
      if (pduLength != 6u + byteCount) return Malformed(module);
      const uint32_t first = base::GetBE16(pdu + 1) + 1u;
      const uint32_t count = base::GetBE16(pdu + 3);
      if (count == 0 || count > kMaxWriteRegisters || byteCount != 2 * count) {
        return Exception(request, transaction, kIllegalDataValue, module);
      }
      if (faults.Refuses(first, count))
        return Exception(request, transaction, kIllegalDataAddress, module);
      std::vector<uint16_t> values(count);
      for (uint32_t i = 0; i < count; ++i) values[i] = base::GetBE16(pdu + 6 + 2 * i);
      if (uint8_t code = module.Write(first, count, values.data()))
        return Exception(request, transaction, code, module);
      ModbusAnswer answer;
      answer.bytes = Header(transaction, request.unit, 16, 4);
      std::copy(pdu + 1, pdu + 5, answer.bytes.begin() + 8);
      return answer;
    }
    default:
      ++counters.otherRequests;
      return Exception(request, transaction, kIllegalFunction, module);
  }
}

}  // namespace sim
