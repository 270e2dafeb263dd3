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
  return static_cast<uint16_t>(RegisterCountOf(firmwareRegister) + 1);
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
  if (module.Setup().faults.shortFlashImage) saved.pop_back();
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
  fd_ = BindUdpWithLocalAddress(bindAddress, port, "flash image", &port_, error);
  if (fd_ < 0) return false;
  loop_.Watch(fd_, EPOLLIN, [this](uint32_t) { OnRequest(); });
  return true;
}

void FlashImageServer::OnRequest() {
  for (;;) {
    uint8_t buffer[64];
    sockaddr_in client{};
    uint32_t local = 0;
    const ssize_t got = ReceiveWithLocalAddress(fd_, buffer, sizeof buffer, &client, &local);
    if (got < 0) return;  // EAGAIN: all read
    size_t index = 0;
    const SimModule* module = simulator_.ReachableModuleAt(local, &index);
    if (!module) continue;
    const auto answer = FlashImageAnswer(*module, buffer, static_cast<size_t>(got));
    if (!answer) continue;
    // From the module's own address (and this socket's port), as the module sends it.
    SendFromLocalAddress(fd_, local, client, answer->data(), answer->size());
  }
}

}  // namespace sim
