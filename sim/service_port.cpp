#include "sim/service_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/format.h"
#include "sim/simulator.h"

namespace sim {

std::string ServicePortAnswer(SimModule& module, uint8_t command) {
  switch (command) {
    case 'p':
      return base::Format("My:%zu,", module.Files().plcProgram.size());
    default:
      return {};
  }
}

ServicePortServer::ServicePortServer(EventLoop& loop, Simulator& simulator)
    : loop_(loop), simulator_(simulator) {}

ServicePortServer::~ServicePortServer() {
  for (const auto& [fd, module] : connections_) {
    loop_.Unwatch(fd);
    close(fd);
  }
  if (listenFd_ >= 0) {
    loop_.Unwatch(listenFd_);
    close(listenFd_);
  }
}

bool ServicePortServer::Listen(const std::string& bindAddress, uint16_t port, std::string* error) {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    if (error) *error = std::string("service port socket: ") + std::strerror(errno);
    return false;
  }
  const int on = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (inet_pton(AF_INET, bindAddress.c_str(), &address.sin_addr) != 1 ||
      bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listenFd_, 128) != 0) {
    if (error)
      *error = "service port listen on " + bindAddress + ":" + std::to_string(port) + ": " +
               std::strerror(errno);
    return false;
  }
  socklen_t length = sizeof address;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  loop_.Watch(listenFd_, EPOLLIN, [this](uint32_t) { Accept(); });
  return true;
}

void ServicePortServer::Accept() {
  for (;;) {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    sockaddr_in local{};
    socklen_t length = sizeof local;
    size_t module = 0;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
        !simulator_.ReachableModuleAt(local.sin_addr.s_addr, &module)) {
      close(fd);
      continue;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    connections_[fd] = module;
    loop_.Watch(fd, EPOLLIN, [this, fd](uint32_t) { OnEvents(fd); });
    send(fd, kGreeting, std::strlen(kGreeting), MSG_NOSIGNAL);
  }
}

void ServicePortServer::OnEvents(int fd) {
  auto found = connections_.find(fd);
  if (found == connections_.end()) return;
  const size_t index = found->second;
  uint8_t buffer[256];
  const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
  SimModule& module = simulator_.Module(index);
  if (got <= 0 || !module.Reachable()) {
    Close(fd);
    return;
  }
  for (ssize_t i = 0; i < got; ++i) {
    const std::string answer = ServicePortAnswer(module, buffer[i]);
    // Answers are short (at most 2048 bytes), so one send on an idle connection takes them.
    if (!answer.empty()) send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
  }
}

void ServicePortServer::Close(int fd) {
  loop_.Unwatch(fd);
  close(fd);
  connections_.erase(fd);
}

void ServicePortServer::CloseModuleConnections(size_t module) {
  std::vector<int> fds;
  for (const auto& [fd, owner] : connections_) {
    if (owner == module) fds.push_back(fd);
  }
  for (int fd : fds) Close(fd);
}

}  // namespace sim
