#include "sim/event_loop.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace sim {

EventLoop::EventLoop() {
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (epoll_ < 0 || wakeFd_ < 0) throw std::runtime_error("event loop: epoll/eventfd failed");
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = wakeFd_;
  epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeFd_, &event);
}

EventLoop::~EventLoop() {
  if (wakeFd_ >= 0) close(wakeFd_);
  if (epoll_ >= 0) close(epoll_);
}

uint64_t EventLoop::NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

void EventLoop::Watch(int fd, uint32_t events, FdHandler handler) {
  handlers_[fd] = std::make_shared<FdHandler>(std::move(handler));
  epoll_event event{};
  event.events = events;
  event.data.fd = fd;
  epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
}

void EventLoop::Modify(int fd, uint32_t events) {
  epoll_event event{};
  event.events = events;
  event.data.fd = fd;
  epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event);
}

void EventLoop::Unwatch(int fd) {
  epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
  handlers_.erase(fd);
}

EventLoop::TimerId EventLoop::After(uint32_t ms, Task task) {
  const TimerId id = nextTimer_++;
  auto it = timers_.emplace(NowMs() + ms, std::make_pair(id, std::move(task)));
  timerIndex_[id] = it;
  return id;
}

void EventLoop::Cancel(TimerId id) {
  auto found = timerIndex_.find(id);
  if (found == timerIndex_.end()) return;
  timers_.erase(found->second);
  timerIndex_.erase(found);
}

void EventLoop::Post(Task task) {
  {
    std::lock_guard<std::mutex> lock(postedMutex_);
    posted_.push_back(std::move(task));
  }
  Wake();
}

void EventLoop::Stop() {
  stop_ = true;
  Wake();
}

void EventLoop::Wake() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t written = write(wakeFd_, &one, sizeof one);
}

void EventLoop::RunPosted() {
  std::vector<Task> tasks;
  {
    std::lock_guard<std::mutex> lock(postedMutex_);
    tasks.swap(posted_);
  }
  for (auto& task : tasks) task();
}

int EventLoop::NextTimeoutMs(int limit) const {
  if (timers_.empty()) return limit;
  const uint64_t now = NowMs();
  const uint64_t due = timers_.begin()->first;
  const int wait = due <= now ? 0 : static_cast<int>(std::min<uint64_t>(due - now, 60000));
  return limit < 0 ? wait : std::min(limit, wait);
}

void EventLoop::RunOnce(int timeoutMs) {
  epoll_event events[64];
  const int count = epoll_wait(epoll_, events, 64, NextTimeoutMs(timeoutMs));
  for (int i = 0; i < count; ++i) {
    const int fd = events[i].data.fd;
    if (fd == wakeFd_) {
      uint64_t value;
      [[maybe_unused]] ssize_t got = read(wakeFd_, &value, sizeof value);
      continue;
    }
    auto found = handlers_.find(fd);
    if (found == handlers_.end()) continue;
    auto handler = found->second;  // stays alive if the handler unwatches itself
    (*handler)(events[i].events);
  }
  RunPosted();
  const uint64_t now = NowMs();
  while (!timers_.empty() && timers_.begin()->first <= now) {
    auto it = timers_.begin();
    Task task = std::move(it->second.second);
    timerIndex_.erase(it->second.first);
    timers_.erase(it);
    task();
  }
}

void EventLoop::Run() {
  while (!stop_) RunOnce(-1);
}

int ListenTcp(const std::string& bindAddress, uint16_t port, int backlog, const std::string& what,
              uint16_t* boundPort, std::string* error) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = what + " socket: " + std::strerror(errno);
    return -1;
  }
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (inet_pton(AF_INET, bindAddress.c_str(), &address.sin_addr) != 1 ||
      bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, backlog) != 0) {
    if (error)
      *error = what + " listen on " + bindAddress + ":" + std::to_string(port) + ": " +
               std::strerror(errno);
    close(fd);
    return -1;
  }
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  if (boundPort) *boundPort = ntohs(address.sin_port);
  return fd;
}

int BindUdpWithLocalAddress(const std::string& bindAddress, uint16_t port, const std::string& what,
                            uint16_t* boundPort, std::string* error) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = what + " socket: " + std::strerror(errno);
    return -1;
  }
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (inet_pton(AF_INET, bindAddress.c_str(), &address.sin_addr) != 1 ||
      bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (error)
      *error = what + " bind to " + bindAddress + ":" + std::to_string(port) + ": " +
               std::strerror(errno);
    close(fd);
    return -1;
  }
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  if (boundPort) *boundPort = ntohs(address.sin_port);
  return fd;
}

ssize_t ReceiveWithLocalAddress(int fd, uint8_t* buffer, size_t size, sockaddr_in* sender,
                                uint32_t* localAddress) {
  char control[256];
  iovec io{buffer, size};
  msghdr message{};
  message.msg_name = sender;
  message.msg_namelen = sizeof *sender;
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t got = recvmsg(fd, &message, 0);
  *localAddress = 0;
  if (got < 0) return got;
  for (cmsghdr* item = CMSG_FIRSTHDR(&message); item; item = CMSG_NXTHDR(&message, item)) {
    if (item->cmsg_level == IPPROTO_IP && item->cmsg_type == IP_PKTINFO) {
      in_pktinfo info{};
      std::memcpy(&info, CMSG_DATA(item), sizeof info);
      *localAddress = info.ipi_addr.s_addr;
    }
  }
  return got;
}

void SendFromLocalAddress(int fd, uint32_t localAddress, const sockaddr_in& to,
                          const uint8_t* bytes, size_t length) {
  char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  iovec io{const_cast<uint8_t*>(bytes), length};
  msghdr message{};
  sockaddr_in target = to;
  message.msg_name = &target;
  message.msg_namelen = sizeof target;
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  cmsghdr* item = CMSG_FIRSTHDR(&message);
  item->cmsg_level = IPPROTO_IP;
  item->cmsg_type = IP_PKTINFO;
  item->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
  in_pktinfo info{};
  info.ipi_spec_dst.s_addr = localAddress;
  std::memcpy(CMSG_DATA(item), &info, sizeof info);
  sendmsg(fd, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
}

}  // namespace sim
