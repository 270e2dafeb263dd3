#pragma once
// Blocking TCP/UDP sockets for the traffic with modules, and the module register client.
//
// CBlockingSocket throws CBlockingSocketException on every failure; the register client
// (Modbus TCP on port 502) is a set of members of the same class. CDatagramSocket and
// CCommandSocket report failures as 32-bit status codes instead. Every wait is a poll() on the
// one socket before the call; no socket is switched to non-blocking mode.
#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string>

namespace comm {
class ConnectInventory;
}

// The failed operation (or a whole message) and its Windows Sockets error number.
class CBlockingSocketException : public std::exception {
 public:
  // A number of 0 is replaced by the current socket error of the calling thread.
  CBlockingSocketException(std::string text, int number);

  // "%s error" for number 0, the bare text for number 16, "%s error #%d" otherwise. Copies at
  // most size - 1 characters and always returns true.
  bool GetErrorMessage(char* buffer, unsigned size, unsigned* helpContext = nullptr) const;
  std::string GetErrorMessage() const;

  // A wait that ran out (no error number of its own: the log texts show "… timeout error").
  static CBlockingSocketException Timeout(std::string text);

  const std::string& Text() const { return text_; }
  int Number() const { return number_; }
  bool TimedOut() const { return timedOut_; }
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::string text_;
  int number_;
  bool timedOut_ = false;
};

class CBlockingSocket {
 public:
  static constexpr uint32_t kDefaultTimeoutMs = 3000;
  static constexpr uint16_t kModbusPort = 502;
  static constexpr size_t kAnswerBufferSize = 2048;
  static constexpr int kMaxWriteRegisters = 127;  // one byte carries the quantity of a write
  static constexpr int kMaxReadRegisters = (kAnswerBufferSize - 9) / 2;  // 1019 fit one answer
  static constexpr uint32_t kRetryPauseMs = 70;
  static constexpr uint32_t kFlashPollPauseMs = 30;
  static constexpr uint32_t kFlashPollLimitMs = 3000;
  static constexpr uint32_t kConnectLimitMs = 5000;  // a connect never hangs longer

  CBlockingSocket();
  ~CBlockingSocket();  // Cleanup
  CBlockingSocket(const CBlockingSocket&) = delete;
  CBlockingSocket& operator=(const CBlockingSocket&) = delete;

  // ---- socket layer ----
  void Create(int type = SOCK_STREAM);
  void Bind(const sockaddr_in& address);
  void Listen();
  // False (nothing thrown) when the call was interrupted (error 10004).
  bool Accept(CBlockingSocket& target, sockaddr_in* address);
  void Connect(const sockaddr_in& address);
  void Close();
  void Cleanup();
  // Waits whole seconds (timeoutMs / 1000) for the socket to become ready: a time-out below
  // 1000 ms polls without waiting.
  int Send(const void* buffer, size_t length, uint32_t timeoutMs);
  int Write(const void* buffer, size_t length, uint32_t timeoutMs);
  int Receive(void* buffer, size_t length, uint32_t timeoutMs);
  int SendDatagram(const void* buffer, size_t length, const sockaddr_in& address,
                   uint32_t timeoutSeconds);
  int ReceiveDatagram(void* buffer, size_t length, sockaddr_in* address, uint32_t timeoutSeconds);
  void GetPeerAddr(sockaddr_in* address);
  void GetSockAddr(sockaddr_in* address);
  static sockaddr_in GetHostByName(const char* name, uint16_t port = 0);
  static std::string GetHostByAddr(const sockaddr_in& address);

  bool IsOpen() const { return socket_.load() >= 0; }
  int Handle() const { return socket_.load(); }

  // ---- register client (Modbus TCP, unit 1) ----
  // Register numbers are 1-based (wire address = register - 1). Words travel as on the wire:
  // big-endian in `out` and `values`; callers convert to and from host order.

  // Connects to the module and checks its identity (registers 25..32) against the inventory.
  // Returns 1 once the TCP connection stands, also when the identity read failed; connect
  // failures are thrown.
  int _Connect(const std::string& ipText, uint16_t port, bool purgeDuplicates);
  // Function 3. A read of register 1 alone asks for registers 1 and 2 but copies one word.
  int ReadMultiplyRegisters(uint16_t first, uint16_t count, uint16_t* out);
  // Count 0: returns 0 without traffic; count 1: function 6; otherwise function 16.
  int WriteMultiplyRegisters(uint16_t first, uint16_t count, const uint16_t* values, uint16_t* out);
  // Function 6; value in network order; the echoed value goes to out.
  int WriteSingleRegister(uint16_t reg, uint16_t valueNetworkOrder, uint16_t* out);
  // WriteMultiplyRegisters with one reconnect; returns 0 after the second failure.
  int WriteMultipleRegisters(uint16_t first, uint16_t count, const uint16_t* values);
  // Value in host order; function 6 with one reconnect; returns 0 after the second failure.
  int WriteRegister(uint16_t reg, uint16_t value);
  // Writes the value, then [3, reg, 1] into 251..253 and waits until 253 reads 0.
  int SaveToFlash(uint16_t reg, uint16_t value);
  // Writes [3, first, count] into 251..253 and waits until 253 reads 0.
  int SaveToFlashGroup(uint16_t first, uint16_t count);
  // 19 = 1, 2 s, restart command [300, 333, 666] into 251..253, then ten 2 s rounds during
  // which *progress goes 30, 35 ... 75. Throws when a write fails ("Reset Module").
  int ResetModule(std::atomic<int>* progress);

  // ---- client state ----
  uint32_t timeoutMs() const { return timeoutMs_.load(); }
  void SetTimeoutMs(uint32_t ms) { timeoutMs_.store(ms); }
  std::string lastError() const;
  std::string peerAddress() const;
  uint32_t lastActivity() const { return lastActivity_.load(); }
  // Where `_Connect` reports the identity it read; null = the process-wide link.
  void SetInventory(comm::ConnectInventory* inventory) { inventory_ = inventory; }
  // Takes the process-wide transaction identifier (from 1, wraps at 65536, not locked).
  static uint16_t NextTransactionId();

 private:
  // One request/answer exchange with `tries` tries; returns the answer length (> 0).
  size_t Transaction(const uint8_t* request, size_t requestLength, uint8_t* answer, int tries);
  void DropQueuedInput(uint8_t* buffer);
  // Reads one whole answer (header, then the announced length) within the try's time-out.
  size_t ReceiveAnswer(uint8_t* answer, uint32_t t0, uint16_t id);
  int Exchange(const uint8_t* request, size_t requestLength, uint16_t* out, size_t outWords);
  int FlashPoll(uint32_t commandTick);
  // What a failed second connect of WithOneReconnect does: leave the operation with its
  // exception, or end it with 0.
  enum class SecondConnectFailure { Throws, GivesUp };
  // Runs `attempt` up to twice; a result ends it at once. After a first attempt that threw,
  // reconnects to the peer (one more connect 500 ms after a failed one). 0 when the second
  // attempt throws too.
  int WithOneReconnect(const std::function<int()>& attempt,
                       SecondConnectFailure secondConnectFailure);
  void SetLastError(const std::string& text);

  std::atomic<int> socket_{-1};
  std::mutex lock_;
  std::atomic<uint32_t> lastActivity_{0};
  mutable std::mutex stateLock_;  // guards lastError_, peerAddress_ and peerPort_
  std::string lastError_;
  std::string peerAddress_;
  uint16_t peerPort_ = kModbusPort;  // port of the last _Connect; reconnects go there
  std::atomic<uint32_t> timeoutMs_{kDefaultTimeoutMs};
  comm::ConnectInventory* inventory_ = nullptr;
};

namespace comm {

// Status codes of CDatagramSocket and CCommandSocket.
inline constexpr uint32_t kStatusOk = 0;
inline constexpr uint32_t kStatusCreateFailed = 0xC0040001;
inline constexpr uint32_t kStatusBindFailed = 0xC0040004;
inline constexpr uint32_t kStatusCloseFailed = 0xC0040006;
inline constexpr uint32_t kStatusTimeout = 0xC0040007;
inline constexpr uint32_t kStatusTransferFailed = 0xC0040008;

}  // namespace comm

// UDP socket with status codes; waits take whole seconds.
class CDatagramSocket {
 public:
  CDatagramSocket() = default;
  ~CDatagramSocket();
  CDatagramSocket(const CDatagramSocket&) = delete;
  CDatagramSocket& operator=(const CDatagramSocket&) = delete;

  uint32_t Create(int type = SOCK_DGRAM);
  uint32_t Bind(const sockaddr_in& address);
  uint32_t Close();
  int ReceiveFrom(void* buffer, size_t length, sockaddr_in* address, uint32_t timeoutSeconds,
                  uint32_t* status);
  int SendTo(const void* buffer, size_t length, const sockaddr_in& address, uint32_t timeoutSeconds,
             uint32_t* status);
  void Cleanup();
  void Destroy();
  bool IsOpen() const { return socket_ >= 0; }
  int Handle() const { return socket_; }

 protected:
  int socket_ = -1;
};

// The module's text command port (TCP 23): one-letter commands, text answers. Waits take
// milliseconds.
class CCommandSocket {
 public:
  static constexpr uint16_t kTelnetPort = 23;

  CCommandSocket() = default;
  ~CCommandSocket();
  CCommandSocket(const CCommandSocket&) = delete;
  CCommandSocket& operator=(const CCommandSocket&) = delete;

  uint32_t Create(int type = SOCK_STREAM);
  bool Connect(const sockaddr_in& address);
  // Connects to port 23 (or `port`, for tests) and reads the greeting (2048 bytes, 1000 ms);
  // true only when at least one byte of greeting came.
  bool ConnectTelnet(const std::string& ipText, uint16_t port = kTelnetPort);
  // 0 on time-out, else the recv result.
  int Receive(void* buffer, size_t length, uint32_t timeoutMs);
  // 0 on time-out, else the send result.
  int Send(const void* buffer, size_t length, uint32_t timeoutMs);
  // Sends until every byte is out; stops at the first failure or time-out and returns -1.
  int Write(const void* buffer, size_t length, uint32_t timeoutMs);
  // Drains pending input (200 ms), writes the command, returns one answer (empty on time-out).
  std::string Command(const char* text, size_t length, uint32_t timeoutMs);
  int ReceiveFrom(void* buffer, size_t length, sockaddr_in* address, uint32_t timeoutSeconds,
                  uint32_t* status);
  int SendTo(const void* buffer, size_t length, const sockaddr_in& address, uint32_t timeoutSeconds,
             uint32_t* status);
  bool IsOpen() const { return socket_ >= 0; }
  void Cleanup();
  void Destroy();

 private:
  int socket_ = -1;
};
