// The node screen's real way to a module: the register client over TCP, the platform's ICMP
// echo and the neighbour-cache flush.
#include <arpa/inet.h>

#include "comm/blocking_socket.h"
#include "params/node_screen_controller.h"
#include "platform/icmp.h"
#include "platform/neighbours.h"
#include "platform/tick.h"

namespace params {
namespace {

constexpr uint32_t kPingTimeoutMs = 500;

class SocketNodeLink : public NodeLink {
 public:
  bool FlushNeighbourCache() override { return platform::FlushNeighbourCache(); }

  bool PingOnce(uint32_t addressNetworkOrder) override {
    platform::EchoOptions options;  // 32 bytes of 'E', TTL 10
    return platform::PingIpv4(addressNetworkOrder, kPingTimeoutMs, options);
  }

  void Connect(const std::string& ipText) override {
    socket_.Cleanup();
    socket_._Connect(ipText, CBlockingSocket::kModbusPort, true);
  }

  void Disconnect() override { socket_.Cleanup(); }

  bool ReadRegisters(uint16_t first, uint16_t count, uint16_t* values) override {
    // 0 means the answer was not the one asked for (another transaction id): nothing valid
    // came back, and the caller must not keep the buffer.
    if (socket_.ReadMultiplyRegisters(first, count, values) != 1) return false;
    for (uint16_t i = 0; i < count; ++i) values[i] = ntohs(values[i]);
    return true;
  }

  int WriteRegister(uint16_t reg, uint16_t value) override {
    return socket_.WriteRegister(reg, value);
  }

  int WriteRegisters(uint16_t first, uint16_t count, const uint16_t* values) override {
    std::vector<uint16_t> wire(values, values + count);
    for (uint16_t& word : wire) word = htons(word);
    return socket_.WriteMultipleRegisters(first, count, wire.data());
  }

  int SaveToFlash(uint16_t reg, uint16_t value) override { return socket_.SaveToFlash(reg, value); }

  int SaveToFlashGroup(uint16_t first, uint16_t count) override {
    return socket_.SaveToFlashGroup(first, count);
  }

  std::string ReadPlcProgramName(const std::string& ipText) override {
    return ReadPlcProgramNameFromModule(ipText);
  }

  void Sleep(uint32_t ms) override { platform::SleepMs(ms); }
  uint32_t Tick() override { return platform::GetTickCount(); }
  std::string LastFailure() const override {
    std::string text = socket_.lastError();
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
  }

 private:
  CBlockingSocket socket_;
};

}  // namespace

std::unique_ptr<NodeLink> MakeSocketNodeLink() {
  return std::make_unique<SocketNodeLink>();
}

std::string ReadPlcProgramNameFromModule(const std::string& ipText) {
  (void)ipText;
  // Reading the name needs the service port's "p" answer and a TFTP download of the program
  // (the TFTP client); until that exists the name is unknown.
  return std::string();
}

}  // namespace params
