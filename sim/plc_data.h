#pragma once
// The modules' PLC data area on UDP 55559: up to 10,000 bytes per module, read in blocks,
// written as 1-, 2- or 4-byte values, bits set and cleared. Every request is answered once
// (unless a fault says otherwise): bytes 0..1 the id, byte 2 the status (0x40 done, 0x80 | code
// on error), byte 3 0, bytes 4..5 the kind, bytes 6..7 the data length, read data from byte 8.
// The parsing is apart from the socket so that it can be fuzzed.
#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/event_loop.h"

namespace sim {

class Simulator;

namespace plcdata {

inline constexpr size_t kAreaSize = 10000;
inline constexpr size_t kRequestHeader = 12;
inline constexpr uint16_t kMaxRead = 1016;  // an answer carries at most 1024 bytes
inline constexpr uint8_t kStatusDone = 0x40;
// Error codes, answered as status 0x80 | code.
inline constexpr uint8_t kErrorKind = 1;     // not read, write, set bit or clear bit
inline constexpr uint8_t kErrorAddress = 2;  // outside the data area
inline constexpr uint8_t kErrorCount = 3;    // read count 0 or above 1016, size not 1/2/4, bit > 31
inline constexpr uint8_t kErrorLength = 4;   // the length field or the datagram's bytes disagree

// Answers one request against `area` (changed by writes). Empty: not a request (under 12
// bytes), nothing is answered.
std::vector<uint8_t> Handle(std::vector<uint8_t>& area, const uint8_t* data, size_t length);
// An error answer to the request in `data` (at least 12 bytes).
std::vector<uint8_t> ErrorAnswer(const uint8_t* data, uint8_t code);

}  // namespace plcdata

class PlcDataServer {
 public:
  PlcDataServer(EventLoop& loop, Simulator& simulator);
  ~PlcDataServer();
  PlcDataServer(const PlcDataServer&) = delete;
  PlcDataServer& operator=(const PlcDataServer&) = delete;

  bool Listen(const std::string& bindAddress, uint16_t port, std::string* error);
  uint16_t Port() const { return port_; }

 private:
  void OnRequest();
  void SendFrom(uint32_t localAddress, const sockaddr_in& to, const std::vector<uint8_t>& bytes);

  EventLoop& loop_;
  Simulator& simulator_;
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace sim
