#pragma once
// The flash image request (UDP 55557): "ERGR" to a module's address is answered with the
// module's saved registers 1..N-1 as little-endian words in one datagram, from the module's
// address and port 55557. Nothing comes while register 12 bit 0 is set, from a module of
// firmware below 2.3 (family nibble 0), or from a module with the noFlashImage fault.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/event_loop.h"

namespace sim {

class Simulator;
class SimModule;

inline constexpr uint16_t kFlashImagePort = 55557;

// Register slots a module of this reported firmware (register 25) keeps in its image.
uint16_t FlashImageSlots(uint16_t firmwareRegister);
// The datagram a module sends for one request; nullopt when it stays silent.
std::optional<std::vector<uint8_t>> FlashImageAnswer(const SimModule& module,
                                                     const uint8_t* request, size_t length);

class FlashImageServer {
 public:
  FlashImageServer(EventLoop& loop, Simulator& simulator) : loop_(loop), simulator_(simulator) {}
  ~FlashImageServer();
  FlashImageServer(const FlashImageServer&) = delete;
  FlashImageServer& operator=(const FlashImageServer&) = delete;

  bool Listen(const std::string& bindAddress, uint16_t port, std::string* error);
  uint16_t Port() const { return port_; }

 private:
  void OnRequest();

  EventLoop& loop_;
  Simulator& simulator_;
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace sim
