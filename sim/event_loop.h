#pragma once
#include <netinet/in.h>
#include <sys/types.h>
// linesim's one event loop: file descriptors (epoll), timers and tasks posted from other
// threads. Everything that touches the modules runs on the thread that calls Run().
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace sim {

class EventLoop {
 public:
  using FdHandler = std::function<void(uint32_t events)>;
  using Task = std::function<void()>;
  using TimerId = uint64_t;

  EventLoop();
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  void Watch(int fd, uint32_t events, FdHandler handler);
  void Modify(int fd, uint32_t events);
  void Unwatch(int fd);

  TimerId After(uint32_t ms, Task task);
  void Cancel(TimerId id);

  // Thread-safe: runs the task on the loop's thread soon.
  void Post(Task task);
  // Thread-safe and async-signal-safe: makes Run() return after the current round.
  void Stop();
  void Run();
  // Runs ready handlers, due timers and posted tasks once, waiting at most timeoutMs.
  void RunOnce(int timeoutMs);

  static uint64_t NowMs();

 private:
  void Wake();
  void RunPosted();
  int NextTimeoutMs(int limit) const;

  int epoll_ = -1;
  int wakeFd_ = -1;
  std::unordered_map<int, std::shared_ptr<FdHandler>> handlers_;
  std::multimap<uint64_t, std::pair<TimerId, Task>> timers_;
  std::unordered_map<TimerId, std::multimap<uint64_t, std::pair<TimerId, Task>>::iterator>
      timerIndex_;
  TimerId nextTimer_ = 1;
  std::mutex postedMutex_;
  std::vector<Task> posted_;
  std::atomic<bool> stop_{false};
};

// A non-blocking listening TCP socket on bindAddress:port (port 0: any free one), or -1 with
// "<what> socket: …" or "<what> listen on A:P: …" in *error. *boundPort is the port bound.
int ListenTcp(const std::string& bindAddress, uint16_t port, int backlog, const std::string& what,
              uint16_t* boundPort, std::string* error);

// A non-blocking UDP socket on bindAddress:port (port 0: any free one) that learns each
// datagram's local address, so that one socket serves every module's address; -1 with
// "<what> socket: …" or "<what> bind to A:P: …" in *error. *boundPort is the port bound.
int BindUdpWithLocalAddress(const std::string& bindAddress, uint16_t port, const std::string& what,
                            uint16_t* boundPort, std::string* error);
// One datagram from such a socket: its length (-1 when none is waiting), the sender and the
// local address it was sent to (network order).
ssize_t ReceiveWithLocalAddress(int fd, uint8_t* buffer, size_t size, sockaddr_in* sender,
                                uint32_t* localAddress);
// Sends from `localAddress` (network order) on such a socket, as the module owning it would.
void SendFromLocalAddress(int fd, uint32_t localAddress, const sockaddr_in& to,
                          const uint8_t* bytes, size_t length);

}  // namespace sim
