#pragma once
// The modules' TFTP servers (RFC 1350, octet mode) on one wildcard UDP socket: a request
// belongs to the module whose address it was sent to (IP_PKTINFO), and each transfer answers
// from a new socket on that module's address. Options are ignored (no OACK). Uploads end when
// the announced tsize has arrived or on a short block, and carry a CRC-16/MODBUS of the data
// in their last two bytes (low byte first): a wrong one is answered with ERROR 0 instead of
// the last ACK. "PlcData_.bin" (exactly) is the PLC program, kept with its check bytes; other
// files are firmware, staged until the next restart.
#include <netinet/in.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/event_loop.h"

namespace sim {

class Simulator;

// The module side's parsing of requests, apart from the sockets so that it can be fuzzed.
namespace tftp {

constexpr uint16_t kOpRrq = 1, kOpWrq = 2, kOpData = 3, kOpAck = 4, kOpError = 5;
constexpr size_t kBlockSize = 512;

struct Request {
  uint16_t opcode = 0;
  std::string file;
  std::string mode;
  std::optional<uint64_t> tsize;  // the tsize option, when present and a plain number
};
// RRQ / WRQ: opcode, then NUL-terminated name, mode and option pairs. nullopt when malformed.
std::optional<Request> ParseRequest(const uint8_t* data, size_t length);

uint16_t Crc16Modbus(const uint8_t* data, size_t length);

std::vector<uint8_t> Data(uint16_t block, const uint8_t* bytes, size_t length);
std::vector<uint8_t> Ack(uint16_t block);
std::vector<uint8_t> Error(uint16_t code, const std::string& message);

}  // namespace tftp

class TftpServer {
 public:
  // Time-out of the server's own resends, and how often it resends before it gives up.
  static constexpr uint32_t kResendMs = 1000;
  static constexpr int kResends = 5;
  // How long a finished upload still re-acknowledges its last block (the ACK may be lost).
  static constexpr uint32_t kDallyMs = 3000;

  TftpServer(EventLoop& loop, Simulator& simulator);
  ~TftpServer();
  TftpServer(const TftpServer&) = delete;
  TftpServer& operator=(const TftpServer&) = delete;

  bool Listen(const std::string& bindAddress, uint16_t port, std::string* error);
  uint16_t Port() const { return port_; }
  size_t SessionCount() const { return sessions_.size(); }

 private:
  struct Session {
    uint64_t id = 0;
    int fd = -1;
    size_t module = 0;
    uint32_t moduleAddress = 0;
    sockaddr_in client{};
    bool write = false;  // WRQ: the module receives
    std::string file;
    std::optional<uint64_t> tsize;
    std::vector<uint8_t> data;  // download: what is sent; upload: what has come
    uint16_t block = 0;         // download: block in flight; upload: last acknowledged
    std::vector<uint8_t> last;  // last packet sent, resent on a time-out
    int resends = 0;
    bool finished = false;
    bool lostOnce = false;  // the lose-block fault has struck in this transfer
    EventLoop::TimerId timer = 0;
  };

  void OnRequest();
  void TakeRequest(size_t module, uint32_t local, const sockaddr_in& client,
                   const tftp::Request& request);
  void OnSessionEvent(uint64_t id);
  void OnPacket(Session& session, const sockaddr_in& from, const uint8_t* buffer, size_t got);
  void Start(size_t module, uint32_t localAddress, const sockaddr_in& client,
             const tftp::Request& request);
  void OnAck(Session& session, uint16_t block);
  void OnData(Session& session, uint16_t block, const uint8_t* bytes, size_t length);
  void SendData(Session& session);
  void FinishUpload(Session& session);
  // Sends (and remembers for resends) unless the module's faults say otherwise; false when the
  // session ended because of them.
  bool Send(Session& session, std::vector<uint8_t> packet, uint16_t block, bool isAck);
  void SendRaw(Session& session, const std::vector<uint8_t>& packet);
  void Fail(Session& session, uint16_t code, const std::string& message);
  void Arm(Session& session, uint32_t ms);
  void OnTimeout(uint64_t id);
  bool ModuleGone(const Session& session);
  void End(uint64_t id);

  EventLoop& loop_;
  Simulator& simulator_;
  int fd_ = -1;
  uint16_t port_ = 0;
  uint64_t nextId_ = 1;
  std::map<uint64_t, std::unique_ptr<Session>> sessions_;
};

}  // namespace sim
