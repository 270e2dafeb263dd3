#pragma once
// The modules' service text port (TCP 23) on one wildcard listening socket: a connection
// belongs to the module whose address it was made to. A greeting on connect; then every byte
// received is a one-letter command answered in writes of at most 2048 bytes: `p` (the stored
// PLC program's length as "My:<length>,"), the statistics figures `b l m r t g i f` and `7`,
// the drive history of the drives the line file gives, and the totals `1 2 3`.
#include <cstdint>
#include <map>
#include <string>

#include "sim/event_loop.h"

namespace sim {

class Simulator;
class SimModule;

// The value of entry `entry` (0..9) of the answer to `1`, `2` or `3` (`table`).
uint32_t ServiceTotalValue(uint32_t serial, int table, int entry);

// The answer to one command byte; empty when the module does not answer it.
std::string ServicePortAnswer(SimModule& module, uint8_t command);

class ServicePortServer {
 public:
  static constexpr const char* kGreeting = "\r\nBrevantrix service port\r\n> ";
  static constexpr size_t kMaxWrite = 2048;

  ServicePortServer(EventLoop& loop, Simulator& simulator);
  ~ServicePortServer();
  ServicePortServer(const ServicePortServer&) = delete;
  ServicePortServer& operator=(const ServicePortServer&) = delete;

  bool Listen(const std::string& bindAddress, uint16_t port, std::string* error);
  uint16_t Port() const { return port_; }
  // Closes the connections of a module that died or restarts.
  void CloseModuleConnections(size_t module);

 private:
  void Accept();
  void OnEvents(int fd);
  void Close(int fd);

  EventLoop& loop_;
  Simulator& simulator_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::map<int, size_t> connections_;  // descriptor -> module
};

}  // namespace sim
