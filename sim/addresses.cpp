#include "sim/addresses.h"

#include <arpa/inet.h>
#include <linux/if_addr.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "base/format.h"

namespace sim {

InterfaceAddresses::InterfaceAddresses(std::string ifname) : ifname_(std::move(ifname)) {}

InterfaceAddresses::~InterfaceAddresses() {
  RemoveAll();
  if (socket_ >= 0) close(socket_);
}

bool InterfaceAddresses::Open(std::string* error) {
  if (ifname_.empty()) return true;
  ifindex_ = static_cast<int>(if_nametoindex(ifname_.c_str()));
  if (ifindex_ == 0) {
    if (error) *error = "no interface \"" + ifname_ + "\"";
    return false;
  }
  socket_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (socket_ < 0) {
    if (error) *error = std::string("netlink socket: ") + std::strerror(errno);
    return false;
  }
  timeval wait{2, 0};  // the kernel acknowledges at once; never hang on it
  setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  // Without this, removing the first address of a subnet would remove all the others too.
  std::ofstream promote("/proc/sys/net/ipv4/conf/" + ifname_ + "/promote_secondaries");
  promote << "1\n";
  return true;
}

bool InterfaceAddresses::Request(int type, uint32_t address, int prefixLength) {
  struct {
    nlmsghdr header;
    ifaddrmsg message;
    char attributes[64];
  } request{};
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
  request.header.nlmsg_type = static_cast<uint16_t>(type);
  request.header.nlmsg_flags =
      NLM_F_REQUEST | NLM_F_ACK | (type == RTM_NEWADDR ? NLM_F_CREATE | NLM_F_REPLACE : 0);
  request.header.nlmsg_seq = sequence_++;
  request.message.ifa_family = AF_INET;
  request.message.ifa_prefixlen = static_cast<uint8_t>(prefixLength);
  request.message.ifa_scope = RT_SCOPE_UNIVERSE;
  request.message.ifa_index = static_cast<uint32_t>(ifindex_);
  auto addAttribute = [&](uint16_t kind, uint32_t value) {
    auto* attribute = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&request) +
                                                NLMSG_ALIGN(request.header.nlmsg_len));
    attribute->rta_type = kind;
    attribute->rta_len = RTA_LENGTH(sizeof value);
    std::memcpy(RTA_DATA(attribute), &value, sizeof value);
    request.header.nlmsg_len =
        NLMSG_ALIGN(request.header.nlmsg_len) + RTA_ALIGN(attribute->rta_len);
  };
  addAttribute(IFA_LOCAL, address);
  addAttribute(IFA_ADDRESS, address);
  if (type == RTM_NEWADDR && prefixLength < 31) {
    const uint32_t hostMask =
        prefixLength == 0 ? 0xFFFFFFFFu : htonl((1u << (32 - prefixLength)) - 1);
    addAttribute(IFA_BROADCAST, address | hostMask);
  }
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(socket_, &request, request.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
             sizeof kernel) < 0) {
    lastError_ = std::string("netlink send: ") + std::strerror(errno);
    return false;
  }
  alignas(nlmsghdr) char answer[4096];
  for (;;) {
    const ssize_t got = recv(socket_, answer, sizeof answer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      lastError_ = std::string("netlink receive: ") + (got == 0 ? "closed" : std::strerror(errno));
      return false;
    }
    // Walked by hand: the netlink macros compare signed with unsigned lengths.
    size_t offset = 0;
    const size_t length = static_cast<size_t>(got);
    while (offset + sizeof(nlmsghdr) <= length) {
      const auto* header = reinterpret_cast<const nlmsghdr*>(answer + offset);
      if (header->nlmsg_len < sizeof(nlmsghdr) || header->nlmsg_len > length - offset) break;
      if (header->nlmsg_seq == request.header.nlmsg_seq && header->nlmsg_type == NLMSG_ERROR &&
          header->nlmsg_len >= NLMSG_LENGTH(sizeof(nlmsgerr))) {
        const auto* failure = static_cast<const nlmsgerr*>(NLMSG_DATA(header));
        if (failure->error == 0) return true;
        lastError_ = base::Format(
            "netlink: %s of %s/%d: %s", type == RTM_NEWADDR ? "add" : "remove",
            base::Ipv4Text(address).c_str(), prefixLength, std::strerror(-failure->error));
        return false;
      }
      offset += NLMSG_ALIGN(header->nlmsg_len);
    }
  }
}

bool InterfaceAddresses::Add(uint32_t address, int prefixLength) {
  if (ifname_.empty()) return true;
  int& uses = uses_[{address, prefixLength}];
  if (uses++ > 0) return true;
  if (Request(RTM_NEWADDR, address, prefixLength)) return true;
  uses_.erase({address, prefixLength});
  return false;
}

bool InterfaceAddresses::Remove(uint32_t address, int prefixLength) {
  if (ifname_.empty()) return true;
  auto found = uses_.find({address, prefixLength});
  if (found == uses_.end()) return true;
  if (--found->second > 0) return true;
  uses_.erase(found);
  return Request(RTM_DELADDR, address, prefixLength);
}

void InterfaceAddresses::RemoveAll() {
  if (ifname_.empty() || socket_ < 0) return;
  for (const auto& [key, uses] : uses_) Request(RTM_DELADDR, key.first, key.second);
  uses_.clear();
}

}  // namespace sim
