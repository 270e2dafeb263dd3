#include "sim/plc_data.h"

#include <arpa/inet.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/bytes.h"
#include "sim/simulator.h"

namespace sim {
namespace plcdata {

namespace {

std::vector<uint8_t> Answer(const uint8_t* request, uint8_t status, const uint8_t* data,
                            uint16_t count) {
  std::vector<uint8_t> answer(8 + count, 0);
  answer[0] = request[0];
  answer[1] = request[1];
  answer[2] = status;
  answer[4] = request[2];
  answer[5] = request[3];
  base::PutLE16(answer.data() + 6, count);
  if (count) std::memcpy(answer.data() + 8, data, count);
  return answer;
}

}  // namespace

std::vector<uint8_t> ErrorAnswer(const uint8_t* data, uint8_t code) {
  return Answer(data, static_cast<uint8_t>(0x80 | code), nullptr, 0);
}

std::vector<uint8_t> Handle(std::vector<uint8_t>& area, const uint8_t* data, size_t length) {
  if (!data || length < kRequestHeader) return {};
  const uint16_t kind = base::GetLE16(data + 2);
  const uint16_t declared = base::GetLE16(data + 4);
  const uint16_t address = base::GetLE16(data + 8);
  const uint16_t count = base::GetLE16(data + 10);
  switch (kind) {
    case 1: {
      if (declared != 4 || length != kRequestHeader) return ErrorAnswer(data, kErrorLength);
      if (count == 0 || count > kMaxRead) return ErrorAnswer(data, kErrorCount);
      if (address >= area.size() || area.size() - address < count)
        return ErrorAnswer(data, kErrorAddress);
      return Answer(data, kStatusDone, area.data() + address, count);
    }
    case 2: {
      if (count != 1 && count != 2 && count != 4) return ErrorAnswer(data, kErrorCount);
      if (declared != 4 + count || length != kRequestHeader + count)
        return ErrorAnswer(data, kErrorLength);
      if (address >= area.size() || area.size() - address < count)
        return ErrorAnswer(data, kErrorAddress);
      std::memcpy(area.data() + address, data + kRequestHeader, count);
      return Answer(data, kStatusDone, nullptr, 0);
    }
    case 3:
    case 4: {
      if (declared != 4 || length != kRequestHeader) return ErrorAnswer(data, kErrorLength);
      if (count > 31) return ErrorAnswer(data, kErrorCount);
      if (address >= area.size() || area.size() - address < 4)
        return ErrorAnswer(data, kErrorAddress);
      uint32_t value = base::GetLE32(area.data() + address);
      value = kind == 3 ? value | (1u << count) : value & ~(1u << count);
      base::PutLE32(area.data() + address, value);
      return Answer(data, kStatusDone, nullptr, 0);
    }
    default:
      return ErrorAnswer(data, kErrorKind);
  }
}

}  // namespace plcdata

PlcDataServer::PlcDataServer(EventLoop& loop, Simulator& simulator)
    : loop_(loop), simulator_(simulator) {}

PlcDataServer::~PlcDataServer() {
  if (fd_ >= 0) {
    loop_.Unwatch(fd_);
    close(fd_);
  }
}

bool PlcDataServer::Listen(const std::string& bindAddress, uint16_t port, std::string* error) {
  fd_ = BindUdpWithLocalAddress(bindAddress, port, "PLC data", &port_, error);
  if (fd_ < 0) return false;
  loop_.Watch(fd_, EPOLLIN, [this](uint32_t) { OnRequest(); });
  return true;
}

void PlcDataServer::OnRequest() {
  for (;;) {
    uint8_t buffer[2048];
    sockaddr_in client{};
    uint32_t local = 0;
    const ssize_t got = ReceiveWithLocalAddress(fd_, buffer, sizeof buffer, &client, &local);
    if (got < 0) return;  // EAGAIN: all read
    // A request to the broadcast address reaches every reachable module; otherwise the one
    // whose address it was sent to.
    std::vector<size_t> modules;
    size_t index = 0;
    if (local == htonl(INADDR_BROADCAST)) {
      for (size_t i = 0; i < simulator_.ModuleCount(); ++i)
        if (simulator_.Module(i).Reachable()) modules.push_back(i);
    } else if (simulator_.ReachableModuleAt(local, &index)) {
      modules.push_back(index);
    }
    for (const size_t i : modules) {
      SimModule& module = simulator_.Module(i);
      const Faults& faults = module.ModuleFaults();
      // Only a module that runs a PLC program has a data area to answer from.
      if (faults.plcSilent || module.Files().plcProgram.empty()) continue;
      const size_t length = static_cast<size_t>(got);
      std::vector<uint8_t> answer;
      if (faults.plcErrorCode && length >= plcdata::kRequestHeader)
        answer = plcdata::ErrorAnswer(buffer, faults.plcErrorCode);
      else
        answer = plcdata::Handle(module.Files().plcData, buffer, length);
      if (answer.empty()) continue;
      ++module.Files().plcRequests;
      SendFrom(module.Address(), client, answer);
      if (faults.plcDuplicate) SendFrom(module.Address(), client, answer);
    }
  }
}

void PlcDataServer::SendFrom(uint32_t localAddress, const sockaddr_in& to,
                             const std::vector<uint8_t>& bytes) {
  // From the module's own address and port 55559, as the module answers.
  SendFromLocalAddress(fd_, localAddress, to, bytes.data(), bytes.size());
}

}  // namespace sim
