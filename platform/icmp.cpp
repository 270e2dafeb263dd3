#include "platform/icmp.h"

#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/tick.h"

namespace platform {
namespace {

constexpr size_t kMaxEchoData = 1472;
constexpr size_t kIcmpHeaderSize = 8;

std::atomic<uint16_t> nextSequence{1};

uint16_t InternetChecksum(const uint8_t* data, size_t length) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < length; i += 2)
    sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
  if (length % 2 != 0) sum += static_cast<uint32_t>(data[length - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// The echo payload of an answer, given the received bytes; false when the bytes are not an
// echo reply to (identifier, sequence). A datagram socket delivers the ICMP message alone and
// has already matched the identifier; a raw socket delivers the IP header in front.
bool IsOurReply(const uint8_t* bytes, size_t length, bool raw, uint32_t source, uint32_t target,
                uint16_t identifier, uint16_t sequence, const uint8_t* data, size_t dataSize) {
  if (raw) {
    if (length < 20) return false;
    const size_t ipHeader = static_cast<size_t>(bytes[0] & 0x0F) * 4;
    if (ipHeader < 20 || ipHeader > length) return false;
    bytes += ipHeader;
    length -= ipHeader;
  }
  if (source != target) return false;
  if (length < kIcmpHeaderSize) return false;
  if (bytes[0] != ICMP_ECHOREPLY || bytes[1] != 0) return false;
  const uint16_t replyIdentifier = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
  const uint16_t replySequence = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
  if (raw && replyIdentifier != identifier) return false;
  if (replySequence != sequence) return false;
  return length - kIcmpHeaderSize == dataSize &&
         std::memcmp(bytes + kIcmpHeaderSize, data, dataSize) == 0;
}

}  // namespace

bool PingIpv4(uint32_t addressNetworkOrder, uint32_t timeoutMs, uint32_t* roundTripMs) {
  return PingIpv4(addressNetworkOrder, timeoutMs, EchoOptions{}, roundTripMs);
}

bool PingIpv4(uint32_t addressNetworkOrder, uint32_t timeoutMs, const EchoOptions& options,
              uint32_t* roundTripMs) {
  if (options.dataSize > kMaxEchoData) return false;
  bool raw = false;
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) {
    raw = true;
    fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) return false;
  }
  Socket socketGuard(fd);
  const int ttl = options.ttl;
  setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);

  const uint16_t identifier = static_cast<uint16_t>(getpid());
  const uint16_t sequence = nextSequence.fetch_add(1);
  std::vector<uint8_t> request(kIcmpHeaderSize + options.dataSize, options.fillByte);
  request[0] = ICMP_ECHO;
  request[1] = 0;
  request[2] = request[3] = 0;
  request[4] = static_cast<uint8_t>(identifier >> 8);
  request[5] = static_cast<uint8_t>(identifier);
  request[6] = static_cast<uint8_t>(sequence >> 8);
  request[7] = static_cast<uint8_t>(sequence);
  const uint16_t checksum = InternetChecksum(request.data(), request.size());
  request[2] = static_cast<uint8_t>(checksum >> 8);
  request[3] = static_cast<uint8_t>(checksum);
  const uint8_t* data = request.data() + kIcmpHeaderSize;

  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = addressNetworkOrder;
  const uint32_t start = GetTickCount();
  if (sendto(fd, request.data(), request.size(), MSG_NOSIGNAL,
             reinterpret_cast<const sockaddr*>(&target), sizeof target) < 0) {
    return false;
  }
  std::vector<uint8_t> answer(65536);
  for (;;) {
    const uint32_t elapsed = TicksSince(start);
    if (elapsed >= timeoutMs) return false;
    pollfd wait{fd, POLLIN, 0};
    const int ready = poll(&wait, 1, static_cast<int>(timeoutMs - elapsed));
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t received = recvfrom(fd, answer.data(), answer.size(), MSG_DONTWAIT,
                                      reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (received < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;  // an ICMP error for our request (unreachable and the like)
    }
    if (IsOurReply(answer.data(), static_cast<size_t>(received), raw, from.sin_addr.s_addr,
                   addressNetworkOrder, identifier, sequence, data, options.dataSize)) {
      if (roundTripMs) *roundTripMs = TicksSince(start);
      return true;
    }
  }
}

}  // namespace platform
