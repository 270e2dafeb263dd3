#include "sim/modbus_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/modbus.h"
#include "sim/simulator.h"

namespace sim {

namespace {

// A write (function 6 or 16) whose registers include `reg`.
bool WriteCovers(const ModbusRequest& request, uint32_t reg) {
  if (request.pduLength < 3 || (request.function != 6 && request.function != 16)) return false;
  const uint32_t first = ((request.pdu[1] << 8) | request.pdu[2]) + 1u;
  uint32_t count = 1;
  if (request.function == 16) {
    if (request.pduLength < 5) return false;
    count = (request.pdu[3] << 8) | request.pdu[4];
  }
  return reg >= first && reg < first + count;
}

}  // namespace

ModbusServer::ModbusServer(EventLoop& loop, Simulator& simulator)
    : loop_(loop), simulator_(simulator) {}

ModbusServer::~ModbusServer() {
  for (auto& [id, connection] : connections_) {
    loop_.Unwatch(connection->fd);
    if (connection->timer) loop_.Cancel(connection->timer);
    close(connection->fd);
  }
  if (listenFd_ >= 0) {
    loop_.Unwatch(listenFd_);
    close(listenFd_);
  }
}

bool ModbusServer::Listen(const std::string& bindAddress, uint16_t port, std::string* error) {
  listenFd_ = ListenTcp(bindAddress, port, 512, "Modbus", &port_, error);
  if (listenFd_ < 0) return false;
  loop_.Watch(listenFd_, EPOLLIN, [this](uint32_t) { Accept(); });
  return true;
}

void ModbusServer::Accept() {
  for (;;) {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // EAGAIN or a connection that went away meanwhile
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
    ++simulator_.Module(module).Counters().connections;
    auto connection = std::make_unique<Connection>();
    connection->id = nextId_++;
    connection->fd = fd;
    connection->module = module;
    const uint64_t id = connection->id;
    connections_[id] = std::move(connection);
    loop_.Watch(fd, EPOLLIN, [this, id](uint32_t events) { OnEvents(id, events); });
  }
}

void ModbusServer::OnEvents(uint64_t id, uint32_t events) {
  auto found = connections_.find(id);
  if (found == connections_.end()) return;
  Connection& connection = *found->second;
  if (events & EPOLLOUT) {
    Flush(connection);
    if (!connections_.count(id)) return;
  }
  if (events & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
    uint8_t buffer[16384];
    for (;;) {
      const ssize_t got = recv(connection.fd, buffer, sizeof buffer, 0);
      if (got > 0) {
        connection.in.insert(connection.in.end(), buffer, buffer + got);
        if (static_cast<size_t>(got) < sizeof buffer) break;
        continue;
      }
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) break;
      Close(id);  // peer closed or the connection failed
      return;
    }
    Process(connection);
  }
}

void ModbusServer::Process(Connection& connection) {
  const uint64_t id = connection.id;
  size_t used = 0;
  while (connections_.count(id)) {
    SimModule& module = simulator_.Module(connection.module);
    if (!module.Reachable()) {
      Close(id);
      return;
    }
    ModbusRequest request;
    const Extract result =
        ExtractRequest(connection.in.data() + used, connection.in.size() - used, request);
    if (result == Extract::kNeedMore) break;
    if (result == Extract::kMalformed) {
      ++module.Counters().malformed;
      Close(id);
      return;
    }
    used += request.frameLength;
    const Faults& faults = module.ModuleFaults();
    if (faults.rebootOnWrite && WriteCovers(request, faults.rebootOnWrite)) {
      // The module restarts as the write arrives (once): the write is lost with the connection,
      // and the module is off the network before its connections close.
      module.ModuleFaults().rebootOnWrite = 0;
      const size_t index = connection.module;
      simulator_.Reboot(index, simulator_.Line().timing.rebootMs, true);
      return;
    }
    const bool faulty = faults.affectsModbus;
    const uint16_t transaction = faulty && faults.staleSequence
                                     ? static_cast<uint16_t>(request.transaction - 1)
                                     : request.transaction;
    ModbusAnswer answer = AnswerRequest(request, module, transaction);
    if (answer.close) {
      Close(id);
      return;
    }
    bool dropped = false;
    if (faulty && faults.dropFraction > 0) {
      std::uniform_real_distribution<double> chance(0.0, 1.0);
      dropped = chance(simulator_.Random()) < faults.dropFraction;
    }
    if (!dropped) {
      const uint64_t ready = EventLoop::NowMs() + (faulty ? faults.delayMs : 0);
      if (faulty && faults.duplicate) connection.queued.push_back({ready, answer.bytes});
      connection.queued.push_back({ready, std::move(answer.bytes)});
    }
    if (auto command = module.TakeCommand()) {
      Flush(connection);
      simulator_.RunCommand(connection.module, *command);
    }
  }
  if (!connections_.count(id)) return;
  connection.in.erase(connection.in.begin(), connection.in.begin() + static_cast<long>(used));
  Flush(connection);
}

void ModbusServer::Flush(Connection& connection) {
  const uint64_t now = EventLoop::NowMs();
  while (!connection.queued.empty() && connection.queued.front().readyAtMs <= now) {
    auto& bytes = connection.queued.front().bytes;
    connection.out.insert(connection.out.end(), bytes.begin(), bytes.end());
    connection.queued.pop_front();
  }
  if (!connection.queued.empty() && connection.timer == 0) {
    const uint64_t id = connection.id;
    connection.timer =
        loop_.After(static_cast<uint32_t>(connection.queued.front().readyAtMs - now), [this, id] {
          auto found = connections_.find(id);
          if (found == connections_.end()) return;
          found->second->timer = 0;
          Flush(*found->second);
        });
  }
  size_t sent = 0;
  while (sent < connection.out.size()) {
    const ssize_t written = send(connection.fd, connection.out.data() + sent,
                                 connection.out.size() - sent, MSG_NOSIGNAL);
    if (written > 0) {
      sent += static_cast<size_t>(written);
      continue;
    }
    if (written < 0 && (errno == EAGAIN || errno == EINTR)) break;
    Close(connection.id);
    return;
  }
  connection.out.erase(connection.out.begin(), connection.out.begin() + static_cast<long>(sent));
  const bool wantWrite = !connection.out.empty();
  if (wantWrite != connection.wantWrite) {
    connection.wantWrite = wantWrite;
    loop_.Modify(connection.fd, EPOLLIN | (wantWrite ? EPOLLOUT : 0u));
  }
}

void ModbusServer::Close(uint64_t id) {
  auto found = connections_.find(id);
  if (found == connections_.end()) return;
  Connection& connection = *found->second;
  loop_.Unwatch(connection.fd);
  if (connection.timer) loop_.Cancel(connection.timer);
  close(connection.fd);
  connections_.erase(found);
}

void ModbusServer::CloseModuleConnections(size_t module, bool flush) {
  std::vector<uint64_t> ids;
  for (const auto& [id, connection] : connections_) {
    if (connection->module == module) ids.push_back(id);
  }
  for (uint64_t id : ids) {
    auto found = connections_.find(id);
    if (found == connections_.end()) continue;
    if (flush) {
      Connection& connection = *found->second;
      for (auto& pending : connection.queued) {
        connection.out.insert(connection.out.end(), pending.bytes.begin(), pending.bytes.end());
      }
      connection.queued.clear();
      if (!connection.out.empty()) {
        [[maybe_unused]] ssize_t written =
            send(connection.fd, connection.out.data(), connection.out.size(), MSG_NOSIGNAL);
      }
    }
    Close(id);
  }
}

}  // namespace sim
