#pragma once
// Modbus TCP for all modules on one wildcard listening socket: each accepted connection
// belongs to the module whose address it was made to (its local address).
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "sim/event_loop.h"

namespace sim {

class Simulator;

class ModbusServer {
 public:
  ModbusServer(EventLoop& loop, Simulator& simulator);
  ~ModbusServer();

  bool Listen(const std::string& bindAddress, uint16_t port, std::string* error);
  uint16_t Port() const { return port_; }
  // Closes every connection of a module (restart, death); queued answers are sent first
  // when `flush` is set.
  void CloseModuleConnections(size_t module, bool flush);
  size_t ConnectionCount() const { return connections_.size(); }

 private:
  struct Pending {
    uint64_t readyAtMs;
    std::vector<uint8_t> bytes;
  };
  struct Connection {
    uint64_t id;
    int fd;
    size_t module;
    std::vector<uint8_t> in;
    std::deque<Pending> queued;  // answers not yet due (delay fault), in order
    std::vector<uint8_t> out;    // due answers not yet written
    EventLoop::TimerId timer = 0;
    bool wantWrite = false;
  };

  void Accept();
  void OnEvents(uint64_t id, uint32_t events);
  void Process(Connection& connection);
  void Flush(Connection& connection);
  void Close(uint64_t id);

  EventLoop& loop_;
  Simulator& simulator_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  uint64_t nextId_ = 1;
  std::unordered_map<uint64_t, std::unique_ptr<Connection>> connections_;
};

}  // namespace sim
