// The node screen's real way to a module: the register client over TCP, the platform's ICMP
// echo and the neighbour-cache flush.
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
  explicit SocketNodeLink(PlcProgramNameReader readPlcProgramName)
      : readPlcProgramName_(std::move(readPlcProgramName)) {}

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

  RegisterAccess& Registers() override { return registers_; }

  std::string ReadPlcProgramName(const std::string& ipText) override {
    return readPlcProgramName_ ? readPlcProgramName_(ipText) : std::string();
  }

  void Sleep(uint32_t ms) override { platform::SleepMs(ms); }
  uint32_t Tick() override { return platform::GetTickCount(); }
  std::string LastFailure() const override {
    std::string text = socket_.lastError();
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
  }

 private:
  PlcProgramNameReader readPlcProgramName_;
  CBlockingSocket socket_;
  ClientRegisterAccess registers_{socket_};
};

}  // namespace

std::unique_ptr<NodeLink> MakeSocketNodeLink(PlcProgramNameReader readPlcProgramName) {
  return std::make_unique<SocketNodeLink>(std::move(readPlcProgramName));
}

}  // namespace params
