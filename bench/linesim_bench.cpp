// Figures of linesim as seen from the PC namespace of a lab (tools/bench starts linesim with a
// generated line of 236 modules on 192.168.202.0/24 and runs this program next to it):
//   Discover236       time from a discover request on the wire to the last of the answers
//   ModbusThroughput  25-register reads from 8 parallel libmodbus clients, transactions/s
// QM_BENCH_PC_IF names the PC-side interface; QM_BENCH_MODULES the number of modules.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <linux/if_packet.h>
#include <linux/net_tstamp.h>
#include <modbus/modbus.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "fixtures/raw_discover.h"

namespace {

std::string Env(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

using test::Be16;

double Seconds(const timespec& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// A raw socket on the PC interface that sees its own request (outgoing) and the answers, each
// with the kernel's timestamp, so that the time measured is the time on the wire.
class RawPort {
 public:
  explicit RawPort(const std::string& ifname) {
    // A packet socket does not see its own frames: one socket sends, the other watches.
    sendFd_ = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_IP));
    // Outgoing frames reach only sockets of every protocol (ETH_P_ALL).
    fd_ = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
    ifreq request{};
    std::strncpy(request.ifr_name, ifname.c_str(), IFNAMSIZ - 1);
    if (fd_ < 0 || ioctl(fd_, SIOCGIFHWADDR, &request) != 0) return;
    std::memcpy(mac_, request.ifr_hwaddr.sa_data, 6);
    if (ioctl(fd_, SIOCGIFINDEX, &request) != 0) return;
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(ETH_P_ALL);
    link.sll_ifindex = request.ifr_ifindex;
    const int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    ok_ = sendFd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&link), sizeof link) == 0;
    link.sll_protocol = htons(ETH_P_IP);
    ok_ = ok_ && bind(sendFd_, reinterpret_cast<sockaddr*>(&link), sizeof link) == 0;
  }
  ~RawPort() {
    if (fd_ >= 0) close(fd_);
    if (sendFd_ >= 0) close(sendFd_);
  }
  bool Ok() const { return ok_; }

  bool SendDiscover(uint32_t sequence) {
    const auto frame = test::RawDiscoverFrame(mac_, sequence);
    return send(sendFd_, frame.data(), frame.size(), 0) == static_cast<ssize_t>(frame.size());
  }

  // One frame with its kernel timestamp; false after timeoutMs without one.
  bool Receive(uint8_t* buffer, size_t size, size_t* length, bool* outgoing, timespec* stamp,
               int timeoutMs) {
    pollfd waiting{fd_, POLLIN, 0};
    if (poll(&waiting, 1, timeoutMs) <= 0) return false;
    sockaddr_ll from{};
    iovec io{buffer, size};
    char control[256];
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(fd_, &message, 0);
    if (got <= 0) return false;
    *length = static_cast<size_t>(got);
    *outgoing = from.sll_pkttype == PACKET_OUTGOING;
    clock_gettime(CLOCK_REALTIME, stamp);
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS)
        std::memcpy(stamp, CMSG_DATA(c), sizeof *stamp);
    }
    return true;
  }

 private:
  int fd_ = -1;
  int sendFd_ = -1;
  bool ok_ = false;
  uint8_t mac_[6]{};
};

void Discover236(benchmark::State& state) {
  const int modules = std::atoi(Env("QM_BENCH_MODULES", "236").c_str());
  RawPort port(Env("QM_BENCH_PC_IF", ""));
  if (!port.Ok()) {
    state.SkipWithError("no PC interface (QM_BENCH_PC_IF) to send on: run through tools/bench");
    return;
  }
  uint32_t sequence = 0x80000001;
  double worst = 0, total = 0, firstTotal = 0;
  int rounds = 0, complete = 0;
  for (auto _ : state) {
    ++sequence;
    if (!port.SendDiscover(sequence)) {
      state.SkipWithError("send failed");
      return;
    }
    timespec sent{}, first{}, last{};
    bool haveSent = false;
    std::set<uint32_t> answered;
    uint8_t frame[2048];
    size_t length = 0;
    bool outgoing = false;
    timespec stamp{};
    // Collect for at most one second; an answer is any 0x1F echoing this request.
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    while (static_cast<int>(answered.size()) < modules) {
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      if (Seconds(now) - Seconds(start) > 1.0) break;
      if (!port.Receive(frame, sizeof frame, &length, &outgoing, &stamp, 50)) continue;
      if (length < 42 + 8 + 8 || Be16(frame + 12) != 0x0800 || frame[23] != 17) continue;
      const uint8_t* payload = frame + 42;
      const bool mine = payload[4] == static_cast<uint8_t>(sequence) &&
                        payload[5] == static_cast<uint8_t>(sequence >> 8);
      if (outgoing && payload[0] == 0x10 && mine) {
        sent = stamp;
        haveSent = true;
      } else if (!outgoing && payload[0] == 0x1F && mine && Be16(frame + 34) == 55555) {
        if (answered.empty()) first = stamp;
        answered.insert((uint32_t{payload[8]} << 24) | (payload[9] << 16) | (payload[10] << 8) |
                        payload[11]);
        last = stamp;
      }
    }
    if (!haveSent || answered.empty()) {
      state.SkipWithError("no answers: is linesim running in the lab's line namespace?");
      return;
    }
    const double lastMs = (Seconds(last) - Seconds(sent)) * 1000;
    state.SetIterationTime(lastMs / 1000);
    worst = std::max(worst, lastMs);
    total += lastMs;
    firstTotal += (Seconds(first) - Seconds(sent)) * 1000;
    complete += static_cast<int>(answered.size()) == modules;
    ++rounds;
    usleep(100000);  // let late duplicates of this round pass
  }
  state.counters["answers_expected"] = modules;
  state.counters["rounds_complete"] = complete;
  state.counters["rounds"] = rounds;
  state.counters["last_answer_ms_mean"] = total / rounds;
  state.counters["last_answer_ms_worst"] = worst;
  state.counters["first_answer_ms_mean"] = firstTotal / rounds;
}
BENCHMARK(Discover236)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

void ModbusThroughput(benchmark::State& state) {
  // Each client talks to its own module: 192.168.202.20 + thread index.
  const std::string address = "192.168.202." + std::to_string(20 + state.thread_index());
  modbus_t* context = modbus_new_tcp(address.c_str(), 502);
  if (!context || modbus_connect(context) != 0) {
    if (context) modbus_free(context);
    state.SkipWithError(("cannot connect to " + address + ": run through tools/bench").c_str());
    return;
  }
  modbus_set_slave(context, 1);
  modbus_set_response_timeout(context, 2, 0);
  uint16_t registers[25];
  int64_t done = 0, failed = 0;
  for (auto _ : state) {
    // Registers 40..64 (wire address 39): one drive block, as the node screen reads it.
    if (modbus_read_registers(context, 39, 25, registers) == 25) {
      ++done;
    } else {
      ++failed;
    }
  }
  modbus_close(context);
  modbus_free(context);
  state.SetItemsProcessed(done);
  state.counters["failed"] = static_cast<double>(failed);
}
BENCHMARK(ModbusThroughput)->Threads(8)->UseRealTime()->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
