// The module register client: Modbus TCP transactions, register reads and writes, the flash
// command block, the module restart and the connect with its identity check.
#include <arpa/inet.h>
#include <poll.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/format.h"
#include "comm/blocking_socket.h"
#include "comm/connect_inventory.h"
#include "comm/event_log.h"
#include "comm/modbus_frame.h"
#include "platform/socket_errors.h"
#include "platform/tick.h"

namespace {

std::atomic<uint16_t> transactionCounter{1};

constexpr uint16_t kFlashCommandRegister = 251;
constexpr uint16_t kFlashStatusRegister = 253;
constexpr uint16_t kSaveCommand = 3;
constexpr uint16_t kRestartRegister = 19;

// Messages of the client are thrown with number 0, which the exception replaces by the
// current socket error; that is cleared first so that the message reads "<text> error".
[[noreturn]] void ThrowMessage(const std::string& text) {
  errno = 0;
  throw CBlockingSocketException(text, 0);
}

}  // namespace

uint16_t CBlockingSocket::NextTransactionId() {
  return transactionCounter.fetch_add(1);
}

std::string CBlockingSocket::lastError() const {
  std::lock_guard guard(stateLock_);
  return lastError_;
}

std::string CBlockingSocket::peerAddress() const {
  std::lock_guard guard(stateLock_);
  return peerAddress_;
}

void CBlockingSocket::SetLastError(const std::string& text) {
  std::lock_guard guard(stateLock_);
  lastError_ = text;
}

void CBlockingSocket::DropQueuedInput(uint8_t* buffer) {
  // What Receive(buffer, 2048, 0) does with its failures discarded, without throwing and
  // catching on every transaction: a stale answer already queued is read and dropped.
  const int fd = socket_.load();
  pollfd entry{fd, POLLIN, 0};
  if (::poll(&entry, 1, 0) > 0) (void)::recv(fd, buffer, kAnswerBufferSize, 0);
}

size_t CBlockingSocket::ReceiveAnswer(uint8_t* answer, uint32_t t0, uint16_t id) {
  const uint32_t timeout = timeoutMs();
  size_t got = 0;
  // Reads until `need` bytes are there. The first read is the socket's own Receive of up to the
  // whole buffer (its wait is whole seconds); what is missing of the announced length must
  // then come within what is left of the try's time-out.
  auto readUpTo = [&](size_t need) {
    while (got < need) {
      int received;
      if (got == 0) {
        received = Receive(answer, kAnswerBufferSize, timeout);
      } else {
        const uint32_t elapsed = platform::TicksSince(t0);
        const uint32_t left = elapsed >= timeout ? 0 : timeout - elapsed;
        const int fd = socket_.load();
        pollfd entry{fd, POLLIN, 0};
        int ready;
        do {
          ready = ::poll(&entry, 1, static_cast<int>(left));
        } while (ready < 0 && errno == EINTR);
        if (ready == 0) throw CBlockingSocketException::Timeout("Receive timeout");
        const ssize_t n = ready < 0 ? -1 : ::recv(fd, answer + got, need - got, 0);
        if (n < 0) throw CBlockingSocketException("Receive", platform::LastSocketError());
        received = static_cast<int>(n);
      }
      // The peer closed the connection: handled as a reset.
      if (received == 0) throw CBlockingSocketException("Receive", platform::kWsaEconnreset);
      got += static_cast<size_t>(received);
    }
  };
  readUpTo(comm::modbus::kHeaderSize);
  const size_t total = comm::modbus::AnnouncedAnswerSize(answer);
  if (total > kAnswerBufferSize) {
    SetLastError(base::Format("Receive error: \"%s\" on requestID: 0x%04X !\n",
                              "Answer longer than 2048 bytes", id));
    return 0;
  }
  if (total < comm::modbus::kHeaderSize + 1) {
    SetLastError(base::Format("Receive error: \"%s\" on requestID: 0x%04X !\n",
                              "Answer without function code", id));
    return 0;
  }
  readUpTo(total);
  return total;
}

size_t CBlockingSocket::Transaction(const uint8_t* request, size_t requestLength, uint8_t* answer,
                                    int tries) {
  // The identifier as the texts show it: the first two request bytes taken low byte first.
  const uint16_t id = static_cast<uint16_t>(request[0] | (request[1] << 8));
  if (!IsOpen()) {
    const std::string text =
        base::Format("Connection to Module  \"%s\" was broken.", peerAddress().c_str());
    SetLastError(text);
    LogError("\n %s \n", text.c_str());
    ThrowMessage(text);
  }
  SetLastError("");
  for (int i = 0; i < tries; ++i) {
    std::unique_lock guard(lock_);
    if (!IsOpen()) {
      guard.unlock();
      const std::string text =
          base::Format("Connection to node \"%s\" was broken.", peerAddress().c_str());
      SetLastError(text);
      LogError("\n %s \n", text.c_str());
      ThrowMessage(text);
    }
    DropQueuedInput(answer);
    try {
      Write(request, requestLength, timeoutMs());
    } catch (const CBlockingSocketException&) {
      guard.unlock();
      const std::string text = base::Format("TimeOut - sending transID: 0x%04X to node \"%s\".", id,
                                            peerAddress().c_str());
      SetLastError(text);
      Cleanup();
      ThrowMessage(text);
    }
    const uint32_t t0 = platform::GetTickCount();
    lastActivity_.store(t0);
    size_t length = 0;
    try {
      length = ReceiveAnswer(answer, t0, id);
      lastActivity_.store(platform::GetTickCount());
      guard.unlock();
    } catch (const CBlockingSocketException& e) {
      const uint32_t now = platform::GetTickCount();
      lastActivity_.store(now);
      guard.unlock();
      const int number = e.Number();
      const std::string& text = e.Text();
      if (number == platform::kWsaEconnreset ||
          (!e.TimedOut() && number != platform::kWsaEmsgsize)) {
        Cleanup();
        const std::string message = base::Format(
            "Receive error: (#%d,\"%s\") on requestID: 0x%04X !\n", number, text.c_str(), id);
        SetLastError(message);
        LogWarning("\n %s \n", message.c_str());
        ThrowMessage(message);
      }
      if (number == platform::kWsaEmsgsize) {
        SetLastError(
            base::Format("Receive error: \"%s\" on requestID: 0x%04X !\n", text.c_str(), id));
      } else {
        SetLastError(base::Format("Receive timeout of %d ms. on requestID: 0x%04X !\n",
                                  static_cast<int>(now - t0), id));
      }
    }
    if (length > 0) {
      const comm::modbus::AnswerCheck check =
          comm::modbus::CheckAnswer(request, requestLength, answer, length, nullptr, 0);
      if (check.status != comm::modbus::AnswerStatus::kTooShort) return length;
      // Ours, but shorter than the request needs: a failed try.
      SetLastError(
          base::Format("Receive error: \"%s\" on requestID: 0x%04X !\n", "Answer too short", id));
    }
    if (i + 1 < tries) platform::SleepMs(kRetryPauseMs);
  }
  std::string text = lastError();
  if (text.empty()) {
    text = base::Format("TimeOut - sending transID: 0x%04X to node \"%s\".", id,
                        peerAddress().c_str());
    SetLastError(text);
  }
  ThrowMessage(text);
}

int CBlockingSocket::Exchange(const uint8_t* request, size_t requestLength, uint16_t* out,
                              size_t outWords) {
  uint8_t answer[kAnswerBufferSize];
  const size_t length = Transaction(request, requestLength, answer, 2);
  const comm::modbus::AnswerCheck check =
      comm::modbus::CheckAnswer(request, requestLength, answer, length, out, outWords);
  switch (check.status) {
    case comm::modbus::AnswerStatus::kAccepted:
      return 1;
    case comm::modbus::AnswerStatus::kException:
      throw CBlockingSocketException(comm::modbus::ExceptionAnswerText(request, answer), 1);
    default:
      return 0;
  }
}

int CBlockingSocket::ReadMultiplyRegisters(uint16_t first, uint16_t count, uint16_t* out) {
  if (count > kMaxReadRegisters) {
    // The answer could never fit the answer buffer: refused before anything is sent.
    throw CBlockingSocketException(
        base::Format("ReadMultiplyRegisters(%d, %d): at most %d registers fit one answer", first,
                     count, static_cast<int>(kMaxReadRegisters)),
        16);
  }
  uint8_t request[comm::modbus::kSingleRequestSize];
  // Register 1 alone is asked for together with register 2.
  const uint16_t quantity = (first == 1 && count == 1) ? 2 : count;
  comm::modbus::BuildReadRequest(request, NextTransactionId(), first, quantity);
  return Exchange(request, sizeof request, out, count);
}

int CBlockingSocket::WriteSingleRegister(uint16_t reg, uint16_t valueNetworkOrder, uint16_t* out) {
  uint8_t request[comm::modbus::kSingleRequestSize];
  comm::modbus::BuildWriteSingleRequest(request, NextTransactionId(), reg, valueNetworkOrder);
  uint16_t echo = 0;
  const int result = Exchange(request, sizeof request, out != nullptr ? out : &echo, 1);
  return result;
}

int CBlockingSocket::WriteMultiplyRegisters(uint16_t first, uint16_t count, const uint16_t* values,
                                            uint16_t* out) {
  if (count == 0) return 0;
  if (count == 1) return WriteSingleRegister(first, values[0], out);
  if (count > kMaxWriteRegisters) {
    throw CBlockingSocketException(
        base::Format("WriteMultiplyRegisters(%d, %d): at most %d registers go into one write",
                     first, count, kMaxWriteRegisters),
        16);
  }
  uint8_t request[comm::modbus::kMaxRequestSize];
  const size_t length = comm::modbus::BuildWriteMultipleRequest(
      request, NextTransactionId(), first, static_cast<uint8_t>(count), values);
  uint16_t code = 0;
  return Exchange(request, length, out != nullptr ? out : &code, 1);
}

int CBlockingSocket::WithOneReconnect(const std::function<int()>& attempt,
                                      SecondConnectFailure secondConnectFailure) {
  for (int round = 0; round < 2; ++round) {
    try {
      return attempt();
    } catch (const CBlockingSocketException&) {
      if (round == 1) return 0;
    }
    // Address and port as one pair, under the lock a concurrent _Connect writes them with.
    std::string peer;
    uint16_t peerPort = kModbusPort;
    {
      std::lock_guard state(stateLock_);
      peer = peerAddress_;
      peerPort = peerPort_;
    }
    try {
      _Connect(peer, peerPort, true);
    } catch (const CBlockingSocketException&) {
      platform::SleepMs(500);
      try {
        _Connect(peer, peerPort, true);
      } catch (const CBlockingSocketException&) {
        if (secondConnectFailure == SecondConnectFailure::Throws) throw;
        return 0;
      }
    }
  }
  return 0;
}

int CBlockingSocket::WriteMultipleRegisters(uint16_t first, uint16_t count,
                                            const uint16_t* values) {
  if (count > kMaxWriteRegisters) {
    LogError("WriteMultipleRegisters(%d, %d) Error!", first, count);
    return 0;
  }
  return WithOneReconnect(
      [&] {
        uint16_t echo = 0;
        return WriteMultiplyRegisters(first, count, values, &echo);
      },
      SecondConnectFailure::Throws);
}

int CBlockingSocket::WriteRegister(uint16_t reg, uint16_t value) {
  const uint16_t valueNetworkOrder = htons(value);
  return WithOneReconnect(
      [&] {
        uint16_t echo = 0;
        return WriteSingleRegister(reg, valueNetworkOrder, &echo);
      },
      SecondConnectFailure::GivesUp);
}

int CBlockingSocket::FlashPoll(uint32_t commandTick) {
  for (;;) {
    platform::SleepMs(kFlashPollPauseMs);
    try {
      uint16_t status = 0xFFFF;
      if (ReadMultiplyRegisters(kFlashStatusRegister, 1, &status) == 1 && ntohs(status) == 0) {
        return 1;
      }
    } catch (const CBlockingSocketException&) {
    }
    if (platform::TicksSince(commandTick) > kFlashPollLimitMs) return 0;
  }
}

int CBlockingSocket::SaveToFlash(uint16_t reg, uint16_t value) {
  try {
    if (WriteRegister(reg, value) != 1) return 0;
    const uint16_t command[3] = {htons(kSaveCommand), htons(reg), htons(1)};
    if (WriteMultipleRegisters(kFlashCommandRegister, 3, command) != 1) return 0;
    return FlashPoll(platform::GetTickCount());
  } catch (const CBlockingSocketException&) {
    return 0;
  }
}

int CBlockingSocket::SaveToFlashGroup(uint16_t first, uint16_t count) {
  try {
    const uint16_t command[3] = {htons(kSaveCommand), htons(first), htons(count)};
    if (WriteMultipleRegisters(kFlashCommandRegister, 3, command) != 1) return 0;
    return FlashPoll(platform::GetTickCount());
  } catch (const CBlockingSocketException&) {
    return 0;
  }
}

int CBlockingSocket::ResetModule(std::atomic<int>* progress) {
  if (WriteRegister(kRestartRegister, 1) != 1) return 0;
  platform::SleepMs(2000);
  const uint16_t command[3] = {htons(300), htons(333), htons(666)};
  if (WriteMultipleRegisters(kFlashCommandRegister, 3, command) != 1) return 0;
  for (int round = 0; round < 10; ++round) {
    if (progress != nullptr) progress->store(30 + 5 * round);
    platform::SleepMs(2000);
  }
  return 1;
}

int CBlockingSocket::_Connect(const std::string& ipText, uint16_t port, bool purgeDuplicates) {
  if (IsOpen()) Cleanup();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (::inet_pton(AF_INET, ipText.c_str(), &address.sin_addr) != 1) {
    address.sin_addr.s_addr = INADDR_NONE;  // connect refuses it below, as a bad address does
  }
  {
    std::unique_lock guard(lock_);
    try {
      Create(SOCK_STREAM);
      if (address.sin_addr.s_addr == INADDR_NONE) {
        throw CBlockingSocketException("Connect", platform::kWsaEaddrnotavail);
      }
      Connect(address);
    } catch (const CBlockingSocketException&) {
      guard.unlock();
      Cleanup();
      throw;
    }
    lastActivity_.store(platform::GetTickCount());
    std::lock_guard state(stateLock_);
    peerAddress_ = ipText;
    peerPort_ = port;
  }

  try {
    uint16_t words[8] = {};
    int result = ReadMultiplyRegisters(25, 8, words);
    if (result == 0) {
      platform::SleepMs(300);
      result = ReadMultiplyRegisters(25, 8, words);
    }
    if (result == 0) {
      LogWarning("Unable to Read device SN, IP, and MAC from nodeIP: %s !?!", ipText.c_str());
    } else {
      comm::ModuleIdentity identity;
      identity.ipText = ipText;
      std::memcpy(&identity.ipAddress, &words[1], 4);  // registers 26, 27 in wire order
      identity.serialNumber = uint32_t{ntohs(words[4])} * 65536u + ntohs(words[3]);
      std::memcpy(identity.mac.data(), &words[5], 6);  // registers 30..32 in wire order
      comm::ConnectInventory* inventory =
          inventory_ != nullptr ? inventory_ : comm::GetConnectInventory();
      if (inventory != nullptr) inventory->UpdateAfterConnect(identity, purgeDuplicates);
      const uint8_t* mac = identity.mac.data();
      LogInfo("! Connected to Node SN: %u, IP = 0x%04x, MAC addr. %02X:%02X:%02X:%02X:%02X:%02X",
              identity.serialNumber, identity.ipAddress, mac[0], mac[1], mac[2], mac[3], mac[4],
              mac[5]);
    }
  } catch (const CBlockingSocketException& e) {
    char message[200];
    e.GetErrorMessage(message, sizeof message);
    LogError("Unable to Read device SN, IP, and MAC from nodeIP: %s, exeptionMsg: %s !?!",
             ipText.c_str(), message);
  }

  {
    std::lock_guard guard(lock_);
    lastActivity_.store(platform::GetTickCount());
    std::lock_guard state(stateLock_);
    peerAddress_ = ipText;
  }
  return 1;
}
