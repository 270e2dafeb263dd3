#include "backup/module_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "base/format.h"
#include "comm/blocking_socket.h"
#include "comm/tftp_client.h"
#include "platform/icmp.h"
#include "platform/tick.h"

namespace backup {

namespace {

constexpr uint32_t kPingTimeoutMs = 700;
constexpr uint32_t kServiceWaitMs = 3000;
constexpr size_t kServiceBuffer = 2048;
constexpr uint32_t kTftpStepMs = 5;
// Error number of an unmatched answer (16: the text stands alone). Not the general error (1), so
// the chunk is tried again before the job gives up.
constexpr int kUnmatchedAnswer = 16;

std::string UnmatchedText(const char* operation, uint16_t first, uint16_t count) {
  return base::Format("%s(%d, %d) Error! (the answer belongs to another request)", operation, first,
                      count);
}

class RealModuleLink : public ModuleLink {
 public:
  RealModuleLink(std::string ipText, const LinkPorts& ports)
      : ipText_(std::move(ipText)), ports_(ports) {
    inet_pton(AF_INET, ipText_.c_str(), &address_);
  }
  ~RealModuleLink() override {
    CloseFlashSocket();
    ServiceClose();
  }

  bool Ping() override { return platform::PingIpv4(address_, kPingTimeoutMs); }
  void Connect() override {
    if (registers_.IsOpen()) registers_.Close();
    registers_._Connect(ipText_, ports_.modbus, false);
  }
  void Close() override {
    if (registers_.IsOpen()) registers_.Close();
  }
  bool Connected() const override { return registers_.IsOpen(); }
  // The register client returns 0 for an answer that belongs to another request (another
  // transaction id or function code): nothing was read or written, so that is a failed try
  // like a time-out, never a chunk done.
  void Read(uint16_t first, uint16_t count, uint16_t* wireOut) override {
    if (registers_.ReadMultiplyRegisters(first, count, wireOut) != 1)
      throw CBlockingSocketException(UnmatchedText("ReadMultiplyRegisters", first, count),
                                     kUnmatchedAnswer);
  }
  void Write(uint16_t first, uint16_t count, const uint16_t* wireValues) override {
    uint16_t echo[2] = {};
    if (count > 0 && registers_.WriteMultiplyRegisters(first, count, wireValues, echo) != 1)
      throw CBlockingSocketException(UnmatchedText("WriteMultiplyRegisters", first, count),
                                     kUnmatchedAnswer);
  }

  bool OpenFlashSocket(bool* bindFailed) override {
    CloseFlashSocket();
    flash_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (flash_ < 0) {
      *bindFailed = false;
      return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (bind(flash_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      *bindFailed = true;
      CloseFlashSocket();
      return false;
    }
    return true;
  }
  bool SendFlashRequest() override {
    sockaddr_in to = Peer(ports_.flashImage);
    return sendto(flash_, "ERGR", 4, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == 4;
  }
  std::optional<std::vector<uint16_t>> PollFlashImage(uint32_t waitMs, size_t maxWords) override {
    const uint32_t start = platform::GetTickCount();
    for (;;) {
      const uint32_t spent = platform::TicksSince(start);
      pollfd item{flash_, POLLIN, 0};
      if (poll(&item, 1, static_cast<int>(spent >= waitMs ? 0 : waitMs - spent)) <= 0)
        return std::nullopt;
      std::vector<uint8_t> datagram(65536);
      sockaddr_in from{};
      socklen_t length = sizeof from;
      const ssize_t got = recvfrom(flash_, datagram.data(), datagram.size(), 0,
                                   reinterpret_cast<sockaddr*>(&from), &length);
      if (got < 0) return std::nullopt;
      // Only the module's own answer from its flash image port is the image.
      if (from.sin_addr.s_addr != address_ || ntohs(from.sin_port) != ports_.flashImage) continue;
      const size_t words = std::min(static_cast<size_t>(got) / 2, maxWords);
      std::vector<uint16_t> image(words);
      for (size_t k = 0; k < words; ++k)
        image[k] = static_cast<uint16_t>(datagram[2 * k] | (datagram[2 * k + 1] << 8));
      return image;
    }
  }
  void CloseFlashSocket() override {
    if (flash_ >= 0) close(flash_);
    flash_ = -1;
  }

  bool ServiceConnect() override {
    service_ = std::make_unique<CCommandSocket>();
    if (service_->Create() != comm::kStatusOk) return false;
    return service_->Connect(Peer(ports_.service));
  }
  bool ServiceWelcome() override {
    char buffer[kServiceBuffer];
    return service_ && service_->Receive(buffer, sizeof buffer, kServiceWaitMs) > 0;
  }
  bool ServiceSend(char command) override {
    return service_ && service_->Send(&command, 1, kServiceWaitMs) == 1;
  }
  std::optional<std::string> ServiceReceive() override {
    char buffer[kServiceBuffer];
    if (!service_) return std::nullopt;
    const int got = service_->Receive(buffer, sizeof buffer, kServiceWaitMs);
    if (got <= 0) return std::nullopt;
    return std::string(buffer, static_cast<size_t>(got));
  }
  void ServiceClose() override { service_.reset(); }

  bool GetPlcProgram(std::vector<uint8_t>& program, const std::atomic<int32_t>& state,
                     std::string* error) override {
    CTFTPClient client;
    int result =
        client.Get_Buf(program.data(), static_cast<uint32_t>(program.size()), ipText_, ports_.tftp);
    while (result == CTFTPClient::kGoOn) {
      if (state.load() == kJobStop) {
        client.Reset();
        *error = "stopped";
        return false;
      }
      platform::SleepMs(kTftpStepMs);
      result = client.ContinueGet_Buf(program.data());
    }
    if (result != CTFTPClient::kDone) {
      *error = client.GetLastError();
      return false;
    }
    program.resize(std::min<size_t>(program.size(), client.GetBytesReceived()));
    return true;
  }
  bool PutPlcProgram(const uint8_t* data, uint32_t length, bool probe,
                     std::string* error) override {
    CTFTPClient client;
    int result =
        client.Put_Buf(data, length, CTFTPClient::kPlcProgramFile, ipText_, ports_.tftp, probe);
    while (result == CTFTPClient::kGoOn) result = client.ContinuePut();
    if (result != CTFTPClient::kDone) *error = client.GetLastError();
    return result == CTFTPClient::kDone;
  }

 private:
  sockaddr_in Peer(uint16_t port) const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = address_;
    return to;
  }

  std::string ipText_;
  LinkPorts ports_;
  uint32_t address_ = 0;
  CBlockingSocket registers_;
  int flash_ = -1;
  std::unique_ptr<CCommandSocket> service_;
};

}  // namespace

std::unique_ptr<ModuleLink> MakeModuleLink(const std::string& ipText, const LinkPorts& ports) {
  return std::make_unique<RealModuleLink>(ipText, ports);
}

}  // namespace backup
