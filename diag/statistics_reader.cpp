#include "diag/statistics_reader.h"

#include "comm/blocking_socket.h"
#include "params/register_map.h"

namespace diag {

namespace {

// One register, nullopt when the module refused it or the connection failed.
std::optional<uint16_t> ReadOne(params::RegisterAccess* registers, uint16_t reg) {
  if (registers == nullptr) return std::nullopt;
  uint16_t value = 0;
  try {
    if (registers->ReadRegisters(reg, 1, &value)) return value;
  } catch (const CBlockingSocketException&) {
  }
  return std::nullopt;
}

// The service text port over `CCommandSocket`, opened for one statistics read.
class CommandSocketPort : public ServiceTextPort {
 public:
  bool Open(const std::string& address) {
    return socket_.Create() == comm::kStatusOk && socket_.ConnectTelnet(address);
  }
  ~CommandSocketPort() override { socket_.Cleanup(); }

  std::optional<std::string> Ask(char command) override {
    if (socket_.Send(&command, 1, kServiceSendMs) != 1) return std::nullopt;
    char buffer[2048];
    int got = socket_.Receive(buffer, sizeof buffer, kServiceAnswerMs);
    if (got <= 0) return std::nullopt;
    std::string answer(buffer, static_cast<size_t>(got));
    // A long answer comes in several writes: take what follows closely, so that its tail is
    // not read as the answer to the next letter.
    while ((got = socket_.Receive(buffer, sizeof buffer, kFollowingMs)) > 0) {
      answer.append(buffer, static_cast<size_t>(got));
    }
    return answer;
  }

 private:
  static constexpr uint32_t kFollowingMs = 200;
  CCommandSocket socket_;
};

}  // namespace

StatisticsRead ReadStatistics(const std::string& address, params::RegisterAccess* registers,
                              ServiceTextPort* port) {
  StatisticsRead read;
  ModuleStatistics& s = read.figures;
  s.address = address;
  s.undervoltageResets = ReadOne(registers, kUndervoltageResetRegister);
  s.plainResets = ReadOne(registers, kPlainResetRegister);
  const std::optional<uint16_t> reason = ReadOne(registers, kLastResetRegister);
  const std::optional<uint16_t> hardware = ReadOne(registers, 17);
  // Without register 17 the family is unknown, and the flags of 275 cannot be told from its
  // source number.
  if (reason && hardware) s.lastReset = LastResetText(*reason, *hardware);
  s.reconnects = ReadOne(registers, kReconnectRegister);
  s.responseTimeouts = ReadOne(registers, kResponseTimeoutRegister);
  read.registersAnswered = s.undervoltageResets || s.plainResets || reason || hardware ||
                           s.reconnects || s.responseTimeouts;

  if (port == nullptr) return read;
  for (const char command : kStatisticsCommands) {
    const std::optional<std::string> answer = port->Ask(command);
    if (!answer) continue;
    read.textAnswered = true;
    switch (command) {
      case 'b':
        s.flashCounters = *answer;
        break;
      case 'l':
        s.cpuLoad = ParseCpuLoad(*answer);
        break;
      case 'm':
        s.freeMemory = ParseFreeMemory(*answer);
        break;
      case 'r':
        s.firmwareRevision = ParseFirmwareRevision(*answer);
        break;
      case 't':
        s.tasks = ParseListAnswer(*answer);
        break;
      case 'g':
        s.guardedTasks = ParseListAnswer(*answer);
        break;
      case 'i':
        s.stackStatistics = ParseListAnswer(*answer);
        break;
      case 'f':
        s.lastAnswer = ParseListAnswer(*answer);
        break;
      default:
        break;
    }
  }
  return read;
}

std::optional<ModuleStatistics> ReadModuleStatistics(const std::string& address) {
  CBlockingSocket client;
  bool connected = false;
  try {
    connected = client._Connect(address, CBlockingSocket::kModbusPort, true) == 1;
  } catch (const CBlockingSocketException&) {
    connected = false;
  }
  params::ClientRegisterAccess access(client);
  CommandSocketPort port;
  const bool portOpen = port.Open(address);
  const StatisticsRead read =
      ReadStatistics(address, connected ? &access : nullptr, portOpen ? &port : nullptr);
  if (!read.Answered()) return std::nullopt;
  return read.figures;
}

std::optional<std::string> ReadStatisticsText(const std::string& address) {
  const std::optional<ModuleStatistics> figures = ReadModuleStatistics(address);
  if (!figures) return std::nullopt;
  return StatisticsText(*figures);
}

std::vector<uint16_t> CounterResetRegisters(CounterReset which) {
  if (which == CounterReset::kUndervoltage) return {kUndervoltageResetRegister};
  return {kPlainResetRegister, kReconnectRegister, kResponseTimeoutRegister};
}

bool ResetCounters(params::RegisterMap& map, CounterReset which) {
  for (const uint16_t reg : CounterResetRegisters(which)) {
    try {
      if (!map.SaveToFlash(reg, 0)) return false;
    } catch (const CBlockingSocketException&) {
      return false;
    }
  }
  return true;
}

}  // namespace diag
