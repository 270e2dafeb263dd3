#pragma once
// The module side of Modbus TCP: splits a received byte stream into requests and answers each
// one against a module. No sockets here, so the parser can be fuzzed and unit-tested directly.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/module.h"

namespace sim {

// Reads are answered whole up to what one answer segment of 2048 bytes can carry (the
// diagnostic logs are read 600 registers at a time).
constexpr uint32_t kMaxReadRegisters = (2048 - 9) / 2;
// One byte carries the byte count of a write, so one write holds at most 127 registers.
constexpr uint32_t kMaxWriteRegisters = 127;
constexpr size_t kMbapHeaderLength = 6;
// The largest length field a request can have: unit, function, address, quantity, byte
// count and 255 data bytes.
constexpr uint16_t kMaxRequestLengthField = 7 + 255;

enum class Extract { kNeedMore, kRequest, kMalformed };

struct ModbusRequest {
  uint16_t transaction = 0;
  uint8_t unit = 0;
  uint8_t function = 0;
  const uint8_t* pdu = nullptr;  // from the function code on
  size_t pduLength = 0;          // length field - 1
  size_t frameLength = 0;        // header + length field
};

// Looks at the start of a connection's received bytes.
Extract ExtractRequest(const uint8_t* data, size_t length, ModbusRequest& request);

struct ModbusAnswer {
  bool close = false;          // the request was malformed: close the connection
  std::vector<uint8_t> bytes;  // whole answer frame
  uint8_t exception = 0;       // exception code sent, 0 for a normal answer
};

// Answers one request against the module (counting it) and echoes `transaction` (the caller
// passes a stale one for the stale-sequence fault).
ModbusAnswer AnswerRequest(const ModbusRequest& request, SimModule& module, uint16_t transaction);

}  // namespace sim
