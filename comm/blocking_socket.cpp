// Socket layer: CBlockingSocket (exceptions), CDatagramSocket and CCommandSocket (status codes).
#include "comm/blocking_socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/format.h"
#include "platform/socket_errors.h"
#include "platform/tick.h"

namespace {

// Waits until the socket is ready for `events` or waitMs have passed. Returns 1 when ready,
// 0 on time-out, -1 on failure (errno set).
int WaitReady(int fd, short events, uint32_t waitMs) {
  const uint32_t start = platform::GetTickCount();
  for (;;) {
    const uint32_t elapsed = platform::TicksSince(start);
    const int remaining = elapsed >= waitMs ? 0 : static_cast<int>(waitMs - elapsed);
    pollfd entry{fd, events, 0};
    const int result = ::poll(&entry, 1, remaining);
    if (result >= 0) return result > 0 ? 1 : 0;
    if (errno != EINTR) return -1;
  }
}

// Sends once the socket takes data within waitMs. A socket with room in its buffer, nearly
// always the case, takes the data at once, so the wait for writability (a syscall of its own)
// is only made when it has none. *ready gets what WaitReady gave (1 when there was no wait);
// when it is not 1 nothing was sent and -1 is returned, else what send() returned.
ssize_t SendWhenWritable(int fd, const void* buffer, size_t length, const sockaddr_in* to,
                         uint32_t waitMs, int* ready) {
  *ready = 1;
  auto sendOnce = [&](int flags) {
    ssize_t sent;
    do {
      sent = to == nullptr ? ::send(fd, buffer, length, MSG_NOSIGNAL | flags)
                           : ::sendto(fd, buffer, length, MSG_NOSIGNAL | flags,
                                      reinterpret_cast<const sockaddr*>(to), sizeof *to);
    } while (sent < 0 && errno == EINTR);
    return sent;
  };
  // A closed socket (-1) keeps its old outcome: the wait finds nothing and times out.
  if (fd >= 0) {
    const ssize_t sent = sendOnce(MSG_DONTWAIT);
    if (sent >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return sent;
  }
  *ready = WaitReady(fd, POLLOUT, waitMs);
  if (*ready != 1) return -1;
  return sendOnce(0);
}

// The blocking socket waits whole seconds: the remainder below a second is dropped.
uint32_t WholeSecondsMs(uint32_t timeoutMs) {
  return timeoutMs / 1000 * 1000;
}

[[noreturn]] void ThrowSocketError(const char* operation) {
  throw CBlockingSocketException(operation, platform::LastSocketError());
}

// A time-out is not a socket error: its number is the (cleared) current error.
[[noreturn]] void ThrowTimeout(const char* operation) {
  throw CBlockingSocketException::Timeout(operation);
}

bool ConnectBounded(int fd, const sockaddr_in& address, uint32_t limitMs) {
  // connect() honours the send time-out, so the socket stays blocking and still cannot hang.
  timeval limit{static_cast<time_t>(limitMs / 1000),
                static_cast<suseconds_t>(limitMs % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  int result;
  do {
    result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (result != 0 && errno == EINTR);
  const int savedErrno = errno;
  timeval none{0, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &none, sizeof none);
  if (result == 0) return true;
  errno = (savedErrno == EINPROGRESS || savedErrno == EAGAIN) ? ETIMEDOUT : savedErrno;
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CBlockingSocketException

CBlockingSocketException::CBlockingSocketException(std::string text, int number)
    : text_(std::move(text)), number_(number != 0 ? number : platform::LastSocketError()) {}

CBlockingSocketException CBlockingSocketException::Timeout(std::string text) {
  errno = 0;
  CBlockingSocketException timeout(std::move(text), 0);
  timeout.timedOut_ = true;
  return timeout;
}

bool CBlockingSocketException::GetErrorMessage(char* buffer, unsigned size,
                                               unsigned* /*helpContext*/) const {
  if (buffer == nullptr || size == 0) return true;
  const std::string message = GetErrorMessage();
  const size_t copied = message.size() < size - 1 ? message.size() : size - 1;
  std::memcpy(buffer, message.data(), copied);
  buffer[copied] = '\0';
  return true;
}

std::string CBlockingSocketException::GetErrorMessage() const {
  if (number_ == 0) return base::Format("%s error", text_.c_str());
  if (number_ == 16) return text_;
  return base::Format("%s error #%d", text_.c_str(), number_);
}

// ---------------------------------------------------------------------------------------------
// CBlockingSocket: socket layer

CBlockingSocket::CBlockingSocket() = default;

CBlockingSocket::~CBlockingSocket() {
  Cleanup();
}

void CBlockingSocket::Create(int type) {
  // An older handle would leak: close it first (callers hold the lock or own the object).
  const int old = socket_.exchange(-1);
  if (old >= 0) ::close(old);
  const int fd = ::socket(AF_INET, type, 0);
  if (fd < 0) ThrowSocketError("Create");
  socket_.store(fd);
}

void CBlockingSocket::Bind(const sockaddr_in& address) {
  const int fd = socket_.load();
  const int on = 1;
  if (::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) {
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  }
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ThrowSocketError("Bind");
  }
}

void CBlockingSocket::Listen() {
  if (::listen(socket_.load(), 5) != 0) ThrowSocketError("Listen");
}

bool CBlockingSocket::Accept(CBlockingSocket& target, sockaddr_in* address) {
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  const int fd = ::accept(socket_.load(), reinterpret_cast<sockaddr*>(&peer), &length);
  if (fd < 0) {
    if (platform::LastSocketError() == platform::kWsaEintr) return false;
    ThrowSocketError("Accept");
  }
  target.Cleanup();
  target.socket_.store(fd);
  if (address != nullptr) *address = peer;
  return true;
}

void CBlockingSocket::Connect(const sockaddr_in& address) {
  if (!ConnectBounded(socket_.load(), address, kConnectLimitMs)) ThrowSocketError("Connect");
}

void CBlockingSocket::Close() {
  std::lock_guard guard(lock_);
  // Linux frees the descriptor even when close() fails: keeping the handle would let a later
  // Cleanup close whatever descriptor another thread has been given that number since.
  const int fd = socket_.exchange(-1);
  if (fd < 0) return;
  if (::close(fd) != 0) ThrowSocketError("Close");
}

void CBlockingSocket::Cleanup() {
  if (socket_.load() < 0) return;
  std::lock_guard guard(lock_);
  const int fd = socket_.exchange(-1);
  if (fd >= 0) ::close(fd);
}

int CBlockingSocket::Send(const void* buffer, size_t length, uint32_t timeoutMs) {
  int ready = 0;
  const ssize_t sent =
      SendWhenWritable(socket_.load(), buffer, length, nullptr, WholeSecondsMs(timeoutMs), &ready);
  if (ready == 0) ThrowTimeout("Send timeout");
  if (sent < 0) ThrowSocketError("Send");
  return static_cast<int>(sent);
}

int CBlockingSocket::Write(const void* buffer, size_t length, uint32_t timeoutMs) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  size_t done = 0;
  while (done < length) {
    const int sent = Send(bytes + done, length - done, timeoutMs);
    if (sent <= 0) ThrowSocketError("Send");
    done += static_cast<size_t>(sent);
  }
  return static_cast<int>(done);
}

int CBlockingSocket::Receive(void* buffer, size_t length, uint32_t timeoutMs) {
  const int fd = socket_.load();
  const int ready = WaitReady(fd, POLLIN, WholeSecondsMs(timeoutMs));
  if (ready == 0) ThrowTimeout("Receive timeout");
  if (ready < 0) ThrowSocketError("Receive");
  const ssize_t received = ::recv(fd, buffer, length, 0);
  if (received < 0) ThrowSocketError("Receive");
  return static_cast<int>(received);
}

int CBlockingSocket::SendDatagram(const void* buffer, size_t length, const sockaddr_in& address,
                                  uint32_t timeoutSeconds) {
  int ready = 0;
  const ssize_t sent =
      SendWhenWritable(socket_.load(), buffer, length, &address, timeoutSeconds * 1000, &ready);
  if (ready == 0) ThrowTimeout("Send timeout");
  if (sent < 0) ThrowSocketError("SendDatagram");
  return static_cast<int>(sent);
}

int CBlockingSocket::ReceiveDatagram(void* buffer, size_t length, sockaddr_in* address,
                                     uint32_t timeoutSeconds) {
  const int fd = socket_.load();
  const int ready = WaitReady(fd, POLLIN, timeoutSeconds * 1000);
  if (ready == 0) ThrowTimeout("Receive timeout");
  if (ready < 0) ThrowSocketError("ReceiveDatagram");
  sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  const ssize_t received =
      ::recvfrom(fd, buffer, length, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
  if (received < 0) ThrowSocketError("ReceiveDatagram");
  if (address != nullptr) *address = from;
  return static_cast<int>(received);
}

void CBlockingSocket::GetPeerAddr(sockaddr_in* address) {
  socklen_t length = sizeof *address;
  if (::getpeername(socket_.load(), reinterpret_cast<sockaddr*>(address), &length) != 0) {
    ThrowSocketError("GetPeerName");
  }
}

void CBlockingSocket::GetSockAddr(sockaddr_in* address) {
  socklen_t length = sizeof *address;
  if (::getsockname(socket_.load(), reinterpret_cast<sockaddr*>(address), &length) != 0) {
    ThrowSocketError("GetSockName");
  }
}

sockaddr_in CBlockingSocket::GetHostByName(const char* name, uint16_t port) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) {
    throw CBlockingSocketException("GetHostByName", platform::kWsaHostNotFound);
  }
  sockaddr_in address{};
  std::memcpy(&address, found->ai_addr, sizeof address);
  ::freeaddrinfo(found);
  address.sin_port = htons(port);
  return address;
}

std::string CBlockingSocket::GetHostByAddr(const sockaddr_in& address) {
  char host[NI_MAXHOST] = {};
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, host, sizeof host,
                    nullptr, 0, NI_NAMEREQD) != 0) {
    throw CBlockingSocketException("GetHostByAddr", platform::kWsaHostNotFound);
  }
  return host;
}

// ---------------------------------------------------------------------------------------------
// CDatagramSocket

CDatagramSocket::~CDatagramSocket() {
  Cleanup();
}

uint32_t CDatagramSocket::Create(int type) {
  Cleanup();
  socket_ = ::socket(AF_INET, type, 0);
  return socket_ < 0 ? comm::kStatusCreateFailed : comm::kStatusOk;
}

uint32_t CDatagramSocket::Bind(const sockaddr_in& address) {
  return ::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
             ? comm::kStatusOk
             : comm::kStatusBindFailed;
}

uint32_t CDatagramSocket::Close() {
  // The descriptor is gone whatever close() returns (see CBlockingSocket::Close).
  const int fd = socket_;
  socket_ = -1;
  if (::close(fd) != 0) return comm::kStatusCloseFailed;
  return comm::kStatusOk;
}

namespace {

int DatagramReceive(int fd, void* buffer, size_t length, sockaddr_in* address,
                    uint32_t timeoutSeconds, uint32_t* status) {
  uint32_t code = comm::kStatusOk;
  int result = 0;
  const int ready = WaitReady(fd, POLLIN, timeoutSeconds * 1000);
  if (ready <= 0) {
    code = comm::kStatusTimeout;
  } else {
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t received =
        ::recvfrom(fd, buffer, length, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (received < 0) {
      code = comm::kStatusTransferFailed;
    } else {
      result = static_cast<int>(received);
      if (address != nullptr) *address = from;
    }
  }
  if (status != nullptr) *status = code;
  return result;
}

int DatagramSend(int fd, const void* buffer, size_t length, const sockaddr_in& address,
                 uint32_t timeoutSeconds, uint32_t* status) {
  uint32_t code = comm::kStatusOk;
  int result = 0;
  int ready = 0;
  const ssize_t sent =
      SendWhenWritable(fd, buffer, length, &address, timeoutSeconds * 1000, &ready);
  if (ready <= 0) {
    code = comm::kStatusTimeout;
  } else if (sent < 0) {
    code = comm::kStatusTransferFailed;
  } else {
    result = static_cast<int>(sent);
  }
  if (status != nullptr) *status = code;
  return result;
}

}  // namespace

int CDatagramSocket::ReceiveFrom(void* buffer, size_t length, sockaddr_in* address,
                                 uint32_t timeoutSeconds, uint32_t* status) {
  return DatagramReceive(socket_, buffer, length, address, timeoutSeconds, status);
}

int CDatagramSocket::SendTo(const void* buffer, size_t length, const sockaddr_in& address,
                            uint32_t timeoutSeconds, uint32_t* status) {
  return DatagramSend(socket_, buffer, length, address, timeoutSeconds, status);
}

void CDatagramSocket::Cleanup() {
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
}

void CDatagramSocket::Destroy() {
  Cleanup();
}

// ---------------------------------------------------------------------------------------------
// CCommandSocket

CCommandSocket::~CCommandSocket() {
  Cleanup();
}

uint32_t CCommandSocket::Create(int type) {
  Cleanup();
  socket_ = ::socket(AF_INET, type, 0);
  if (socket_ < 0) return comm::kStatusCreateFailed;
  const int on = 1;
  if (::setsockopt(socket_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
    return comm::kStatusCreateFailed;
  }
  return comm::kStatusOk;
}

bool CCommandSocket::Connect(const sockaddr_in& address) {
  return ConnectBounded(socket_, address, CBlockingSocket::kConnectLimitMs);
}

bool CCommandSocket::ConnectTelnet(const std::string& ipText, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (::inet_pton(AF_INET, ipText.c_str(), &address.sin_addr) != 1) return false;
  if (!Connect(address)) return false;
  char greeting[2048];
  return Receive(greeting, sizeof greeting, 1000) > 0;
}

int CCommandSocket::Receive(void* buffer, size_t length, uint32_t timeoutMs) {
  const int ready = WaitReady(socket_, POLLIN, timeoutMs);
  if (ready == 0) return 0;
  if (ready < 0) return -1;
  return static_cast<int>(::recv(socket_, buffer, length, 0));
}

int CCommandSocket::Send(const void* buffer, size_t length, uint32_t timeoutMs) {
  int ready = 0;
  const ssize_t sent = SendWhenWritable(socket_, buffer, length, nullptr, timeoutMs, &ready);
  if (ready == 0) return 0;
  if (ready < 0) return -1;
  return static_cast<int>(sent);
}

int CCommandSocket::Write(const void* buffer, size_t length, uint32_t timeoutMs) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  size_t done = 0;
  while (done < length) {
    const int sent = Send(bytes + done, length - done, timeoutMs);
    if (sent <= 0) return -1;  // an error or a time-out ends the loop instead of spinning
    done += static_cast<size_t>(sent);
  }
  return static_cast<int>(done);
}

std::string CCommandSocket::Command(const char* text, size_t length, uint32_t timeoutMs) {
  if (socket_ < 0) return {};
  char buffer[2048];
  Receive(buffer, sizeof buffer, 200);
  if (Write(text, length, timeoutMs) < 0) return {};
  const int received = Receive(buffer, sizeof buffer, timeoutMs);
  if (received <= 0) return {};
  return std::string(buffer, static_cast<size_t>(received));
}

int CCommandSocket::ReceiveFrom(void* buffer, size_t length, sockaddr_in* address,
                                uint32_t timeoutSeconds, uint32_t* status) {
  return DatagramReceive(socket_, buffer, length, address, timeoutSeconds, status);
}

int CCommandSocket::SendTo(const void* buffer, size_t length, const sockaddr_in& address,
                           uint32_t timeoutSeconds, uint32_t* status) {
  return DatagramSend(socket_, buffer, length, address, timeoutSeconds, status);
}

void CCommandSocket::Cleanup() {
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
}

void CCommandSocket::Destroy() {
  Cleanup();
}
