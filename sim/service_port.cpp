#include "sim/service_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "base/format.h"
#include "sim/simulator.h"

namespace sim {

namespace {

// The drive history: one record per drive the module has known, in the module's marker format.
std::string DriveHistoryAnswer(const ModuleSetup& setup) {
  if (setup.drives.empty()) return "\r\nNo drive history\r\n";
  std::string answer;
  for (size_t i = 0; i < setup.drives.size(); ++i) {
    const DriveRecord& d = setup.drives[i];
    answer += base::Format(
        "\r\nMDR [ %zu];Serial      %u;Date                   %u,Lock  %u"
        "\r\n\r       Operating      %u; Current Limit         %u; OverHeat       %u"
        "\r\n\r   ON-OFF Cycles      %u; OverVoltage           %u; UnderVoltage   %u\r\r\n",
        i + 1, d.serial, d.date, d.lock, d.operating, d.currentLimit, d.overheat, d.cycles,
        d.overVoltage, d.underVoltage);
  }
  return answer;
}

// Ten CPU-load samples after the 11-character header, the same for a module every time.
std::string CpuLoadAnswer(uint32_t serial) {
  std::string answer = "\r\nCPU Load:";
  for (uint32_t k = 0; k < 10; ++k) answer += base::Format("%02u ", (serial / 7 + k * 13) % 60 + 5);
  return answer + "\r\n";
}

// The answer to `1`, `2` or `3`: two header lines, then entries 0..9 as ":0x<n>] <name>\t<value>"
// (the entry number is decimal after "0x", as the modules print it). The values follow from the
// serial, so that a backup can be checked against them.
std::string ServiceTotalsAnswer(uint32_t serial, int table) {
  static constexpr const char* kNames[] = {"Boot",   "Flash",  "Link",  "Tcp",    "Udp",
                                           "Cycles", "Starts", "Stops", "Errors", "Resets"};
  std::string answer = base::Format("\r\nTable %d\r\n", table);
  for (int entry = 0; entry < 10; ++entry) {
    answer += base::Format(":0x%d] %s\t%u\r\n", entry, kNames[entry],
                           ServiceTotalValue(serial, table, entry));
  }
  return answer;
}

}  // namespace

uint32_t ServiceTotalValue(uint32_t serial, int table, int entry) {
  return (serial % 1000) * 10 + static_cast<uint32_t>(table * 100 + entry);
}

std::string ServicePortAnswer(SimModule& module, uint8_t command) {
  const ModuleSetup& setup = module.Setup();
  switch (command) {
    case 'p':
      return base::Format("My:%zu,", module.Files().plcProgram.size());
    case 'b':
      return base::Format(
          "Serial Flash Stats\r\nReplace Info Save Counters\r\nnumSavedL: %u\r\n"
          "numSavedH: %u\r\nbValidCRC_L: %u\r\nbValidCRC_H: %u\r\n",
          static_cast<unsigned>(module.Counters().saves & 0xFFFFFFFFu),
          static_cast<unsigned>(module.Counters().saves >> 32), 1u, 1u);
    case 'l':
      return CpuLoadAnswer(setup.serial);
    case 'm':
      return base::Format("Heap: %u Bytes Free\r\n", 20000u + setup.serial % 4096);
    case 'r':
      return base::Format("Firmware V%u.%u.%u\r\n", setup.firmwareMajor, setup.firmwareMinor,
                          setup.firmwarePatch);
    case 't':
      return "\r\nName          State  Prio  Stack\r\nIDLE          R      0     120\r\n"
             "tcpip         B      4     410\r\nmodbus        B      3     380\r\n"
             "drives        B      5     300\r\n";
    case 'g':
      return "\r\nGuarded: tcpip modbus drives\r\n";
    case 'i':
      return "\r\nTCP xmit: 1200 recv: 1180 drop: 0\r\nUDP xmit: 310 recv: 452 drop: 0\r\n";
    case 'f':
      return "\r\nEnd of statistics\r\n";
    case '7':
      return DriveHistoryAnswer(setup);
    case '1':
    case '2':
    case '3':
      return ServiceTotalsAnswer(setup.serial, command - '0');
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
  listenFd_ = ListenTcp(bindAddress, port, 128, "service port", &port_, error);
  if (listenFd_ < 0) return false;
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
    if (simulator_.Module(module).ModuleFaults().serviceDead) {
      close(fd);  // a service port that is dead: no greeting, no answers
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
    // Writes of at most 2048 bytes, as the module's stack sends them; only a full drive history
    // needs more than one. They are a few kilobytes at most, so an idle connection takes them.
    for (size_t at = 0; at < answer.size(); at += kMaxWrite) {
      send(fd, answer.data() + at, std::min(kMaxWrite, answer.size() - at), MSG_NOSIGNAL);
    }
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
