// Flushes the IPv4 neighbour cache over rtnetlink: dump the entries, delete each one. Like
// `ip -4 neigh flush all`, permanent and no-ARP entries stay (nobody learned them by ARP).
#include "platform/neighbours.h"

#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>


// The C library's netlink walking macros compare signed and unsigned lengths.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wsign-compare"
#endif
namespace platform {
namespace {

struct Neighbour {
  int interfaceIndex = 0;
  uint32_t address = 0;  // network order
};

class NetlinkSocket {
 public:
  NetlinkSocket() : fd_(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {
    if (fd_ < 0) return;
    // Bounded: the kernel answers at once, but nothing here may hang forever.
    timeval limit{2, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~NetlinkSocket() {
    if (fd_ >= 0) close(fd_);
  }
  NetlinkSocket(const NetlinkSocket&) = delete;
  NetlinkSocket& operator=(const NetlinkSocket&) = delete;
  bool ok() const { return fd_ >= 0; }

  bool Send(nlmsghdr* message) {
    message->nlmsg_seq = ++sequence_;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    return sendto(fd_, message, message->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
                  sizeof kernel) == static_cast<ssize_t>(message->nlmsg_len);
  }

  // Receives one datagram; its length, or -1.
  ssize_t Receive(std::vector<uint8_t>& buffer) {
    for (;;) {
      const ssize_t n = recv(fd_, buffer.data(), buffer.size(), 0);
      if (n < 0 && errno == EINTR) continue;
      return n;
    }
  }

  uint32_t sequence() const { return sequence_; }

 private:
  int fd_;
  uint32_t sequence_ = 0;
};

bool DumpNeighbours(NetlinkSocket& netlink, std::vector<Neighbour>& neighbours) {
  struct {
    nlmsghdr header;
    ndmsg body;
  } request{};
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ndmsg));
  request.header.nlmsg_type = RTM_GETNEIGH;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.body.ndm_family = AF_INET;
  if (!netlink.Send(&request.header)) return false;

  std::vector<uint8_t> buffer(65536);
  for (;;) {
    const ssize_t received = netlink.Receive(buffer);
    if (received <= 0) return false;
    int left = static_cast<int>(received);
    for (auto* header = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(header, left);
         header = NLMSG_NEXT(header, left)) {
      if (header->nlmsg_seq != netlink.sequence()) continue;
      if (header->nlmsg_type == NLMSG_DONE) return true;
      if (header->nlmsg_type == NLMSG_ERROR) return false;
      if (header->nlmsg_type != RTM_NEWNEIGH) continue;
      if (header->nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg))) continue;
      const auto* entry = static_cast<const ndmsg*>(NLMSG_DATA(header));
      if (entry->ndm_family != AF_INET) continue;
      if ((entry->ndm_state & (NUD_PERMANENT | NUD_NOARP)) != 0) continue;
      int attributesLeft = static_cast<int>(header->nlmsg_len - NLMSG_LENGTH(sizeof(ndmsg)));
      for (auto* attribute = reinterpret_cast<rtattr*>(
               reinterpret_cast<uint8_t*>(NLMSG_DATA(header)) + NLMSG_ALIGN(sizeof(ndmsg)));
           RTA_OK(attribute, attributesLeft); attribute = RTA_NEXT(attribute, attributesLeft)) {
        if (attribute->rta_type == NDA_DST && RTA_PAYLOAD(attribute) == 4) {
          Neighbour neighbour;
          neighbour.interfaceIndex = entry->ndm_ifindex;
          std::memcpy(&neighbour.address, RTA_DATA(attribute), 4);
          neighbours.push_back(neighbour);
        }
      }
    }
  }
}

// 0 when deleted or already gone, else the errno the kernel gave.
int DeleteNeighbour(NetlinkSocket& netlink, const Neighbour& neighbour) {
  struct {
    nlmsghdr header;
    ndmsg body;
    rtattr destination;
    uint32_t address;
  } request{};
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ndmsg)) + RTA_LENGTH(4);
  request.header.nlmsg_type = RTM_DELNEIGH;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
  request.body.ndm_family = AF_INET;
  request.body.ndm_ifindex = neighbour.interfaceIndex;
  request.destination.rta_type = NDA_DST;
  request.destination.rta_len = RTA_LENGTH(4);
  request.address = neighbour.address;
  static_assert(sizeof(nlmsghdr) + NLMSG_ALIGN(sizeof(ndmsg)) + sizeof(rtattr) + 4 ==
                    NLMSG_LENGTH(sizeof(ndmsg)) + RTA_LENGTH(4),
                "the request has no padding between its parts");
  if (!netlink.Send(&request.header)) return errno != 0 ? errno : EIO;
  std::vector<uint8_t> buffer(8192);
  for (;;) {
    const ssize_t received = netlink.Receive(buffer);
    if (received <= 0) return errno != 0 ? errno : EIO;
    int left = static_cast<int>(received);
    for (auto* header = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(header, left);
         header = NLMSG_NEXT(header, left)) {
      if (header->nlmsg_seq != netlink.sequence() || header->nlmsg_type != NLMSG_ERROR) continue;
      if (header->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) return EIO;
      const int error = -static_cast<const nlmsgerr*>(NLMSG_DATA(header))->error;
      return error == ENOENT ? 0 : error;
    }
  }
}

}  // namespace

bool FlushNeighbourCache() {
  NetlinkSocket netlink;
  if (!netlink.ok()) return false;
  std::vector<Neighbour> neighbours;
  if (!DumpNeighbours(netlink, neighbours)) return false;
  bool allDeleted = true;
  for (const Neighbour& neighbour : neighbours) {
    if (DeleteNeighbour(netlink, neighbour) != 0) allDeleted = false;
  }
  return allDeleted;
}

}  // namespace platform
