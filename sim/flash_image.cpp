#include "sim/flash_image.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/simulator.h"

namespace sim {

uint16_t FlashImageSlots(uint16_t firmwareRegister) {
  const unsigned major = firmwareRegister >> 8;
  const unsigned minor = firmwareRegister & 0xFF;
  if (major > 4 || (major == 4 && minor != 0)) return 513;
  if (major > 3 || (major == 3 && minor >= 19)) return 384;
  return 364;
}

std::optional<std::vector<uint8_t>> FlashImageAnswer(const SimModule& module,
                                                     const uint8_t* request, size_t length) {
  if (length != 4 || std::memcmp(request, "ERGR", 4) != 0) return std::nullopt;
  if (!module.Reachable() || module.Setup().faults.noFlashImage) return std::nullopt;
  std::vector<uint16_t> identity;
  if (!module.Peek(6, 20, false, identity)) return std::nullopt;
  const uint16_t register6 = identity[0];
  const uint16_t register12 = identity[6];
  const uint16_t register25 = identity[19];
  if (register12 & 1) return std::nullopt;
  const bool versionTested = (register6 & 0xF0) == 0;
  if (versionTested && register25 < 0x0203) return std::nullopt;  // no image before 2.3
  const uint16_t slots = FlashImageSlots(register25);
  std::vector<uint16_t> saved;
  if (!module.Peek(1, slots - 1u, true, saved)) return std::nullopt;
  std::vector<uint8_t> answer(saved.size() * 2);
  for (size_t i = 0; i < saved.size(); ++i) {
    answer[2 * i] = static_cast<uint8_t>(saved[i]);
    answer[2 * i + 1] = static_cast<uint8_t>(saved[i] >> 8);
  }
  return answer;
}

FlashImageServer::~FlashImageServer() {
  if (fd_ >= 0) {
    loop_.Unwatch(fd_);
    close(fd_);
  }
}

bool FlashImageServer::Listen(const std::string& bindAddress, uint16_t port, std::string* error) {
  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) {
    if (error) *error = std::string("flash image socket: ") + std::strerror(errno);
    return false;
  }
  const int on = 1;
  setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (inet_pton(AF_INET, bindAddress.c_str(), &address.sin_addr) != 1 ||
      bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (error)
      *error = "flash image bind to " + bindAddress + ":" + std::to_string(port) + ": " +
               std::strerror(errno);
    return false;
  }
  socklen_t length = sizeof address;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  loop_.Watch(fd_, EPOLLIN, [this](uint32_t) { OnRequest(); });
  return true;
}

void FlashImageServer::OnRequest() {
  for (;;) {
    uint8_t buffer[64];
    char control[256];
    sockaddr_in client{};
    iovec io{buffer, sizeof buffer};
    msghdr message{};
    message.msg_name = &client;
    message.msg_namelen = sizeof client;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(fd_, &message, 0);
    if (got < 0) return;  // EAGAIN: all read
    uint32_t local = 0;
    for (cmsghdr* item = CMSG_FIRSTHDR(&message); item; item = CMSG_NXTHDR(&message, item)) {
      if (item->cmsg_level == IPPROTO_IP && item->cmsg_type == IP_PKTINFO) {
        in_pktinfo info{};
        std::memcpy(&info, CMSG_DATA(item), sizeof info);
        local = info.ipi_addr.s_addr;
      }
    }
    size_t index = 0;
    const SimModule* module = simulator_.ReachableModuleAt(local, &index);
    if (!module) continue;
    const auto answer = FlashImageAnswer(*module, buffer, static_cast<size_t>(got));
    if (!answer) continue;
    // From the module's own address (and this socket's port), as the module sends it.
    char outControl[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    iovec outIo{const_cast<uint8_t*>(answer->data()), answer->size()};
    msghdr out{};
    out.msg_name = &client;
    out.msg_namelen = sizeof client;
    out.msg_iov = &outIo;
    out.msg_iovlen = 1;
    out.msg_control = outControl;
    out.msg_controllen = sizeof outControl;
    cmsghdr* item = CMSG_FIRSTHDR(&out);
    item->cmsg_level = IPPROTO_IP;
    item->cmsg_type = IP_PKTINFO;
    item->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = local;
    std::memcpy(CMSG_DATA(item), &info, sizeof info);
    sendmsg(fd_, &out, MSG_DONTWAIT);
  }
}

}  // namespace sim
