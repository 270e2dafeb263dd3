#include "sim/tftp_server.h"

#include <arpa/inet.h>
#include <strings.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sim/simulator.h"

namespace sim {
namespace tftp {

namespace {

// The next NUL-terminated text from `at`; nullopt when no NUL follows within the datagram.
std::optional<std::string> NextText(const uint8_t* data, size_t length, size_t& at) {
  if (at >= length) return std::nullopt;
  const void* end = std::memchr(data + at, 0, length - at);
  if (!end) return std::nullopt;
  const size_t stop = static_cast<size_t>(static_cast<const uint8_t*>(end) - data);
  std::string text(reinterpret_cast<const char*>(data + at), stop - at);
  at = stop + 1;
  return text;
}

}  // namespace

std::optional<Request> ParseRequest(const uint8_t* data, size_t length) {
  if (length < 4) return std::nullopt;
  Request request;
  request.opcode = static_cast<uint16_t>((data[0] << 8) | data[1]);
  if (request.opcode != kOpRrq && request.opcode != kOpWrq) return std::nullopt;
  size_t at = 2;
  auto file = NextText(data, length, at);
  auto mode = NextText(data, length, at);
  if (!file || !mode || file->empty()) return std::nullopt;
  request.file = *file;
  request.mode = *mode;
  while (at < length) {
    auto name = NextText(data, length, at);
    auto value = NextText(data, length, at);
    if (!name || !value) break;  // a torn option list ends the options, as servers do
    if (strcasecmp(name->c_str(), "tsize") == 0 && !value->empty() && value->size() <= 12 &&
        std::all_of(value->begin(), value->end(), [](char c) { return c >= '0' && c <= '9'; })) {
      request.tsize = std::stoull(*value);
    }
  }
  return request;
}

uint16_t Crc16Modbus(const uint8_t* data, size_t length) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit)
      crc =
          (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
  }
  return crc;
}

// The packets are built in place (sized first, then filled): GCC 12 at -O3 mistakes an insert
// after a short initializer list for an overflow.
std::vector<uint8_t> Data(uint16_t block, const uint8_t* bytes, size_t length) {
  std::vector<uint8_t> packet(4 + length);
  packet[1] = kOpData;
  packet[2] = static_cast<uint8_t>(block >> 8);
  packet[3] = static_cast<uint8_t>(block);
  if (length) std::memcpy(packet.data() + 4, bytes, length);
  return packet;
}

std::vector<uint8_t> Ack(uint16_t block) {
  return {0, kOpAck, static_cast<uint8_t>(block >> 8), static_cast<uint8_t>(block)};
}

std::vector<uint8_t> Error(uint16_t code, const std::string& message) {
  std::vector<uint8_t> packet(4 + message.size() + 1, 0);
  packet[1] = kOpError;
  packet[2] = static_cast<uint8_t>(code >> 8);
  packet[3] = static_cast<uint8_t>(code);
  if (!message.empty()) std::memcpy(packet.data() + 4, message.data(), message.size());
  return packet;
}

}  // namespace tftp

namespace {

// The module compares the name as it is: "PLCDATA_.bin" or "PlcData_Line7.bin" are firmware.
bool IsPlcProgram(const std::string& file) {
  return file == kPlcProgramFile;
}

// A socket on the module's own address and a fresh port: the transfer's end of the exchange.
int TransferSocket(uint32_t address) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SameEndpoint(const sockaddr_in& a, const sockaddr_in& b) {
  return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

}  // namespace

TftpServer::TftpServer(EventLoop& loop, Simulator& simulator)
    : loop_(loop), simulator_(simulator) {}

TftpServer::~TftpServer() {
  for (auto& [id, session] : sessions_) {
    loop_.Unwatch(session->fd);
    if (session->timer) loop_.Cancel(session->timer);
    close(session->fd);
  }
  if (fd_ >= 0) {
    loop_.Unwatch(fd_);
    close(fd_);
  }
}

bool TftpServer::Listen(const std::string& bindAddress, uint16_t port, std::string* error) {
  fd_ = BindUdpWithLocalAddress(bindAddress, port, "TFTP", &port_, error);
  if (fd_ < 0) return false;
  loop_.Watch(fd_, EPOLLIN, [this](uint32_t) { OnRequest(); });
  return true;
}

void TftpServer::OnRequest() {
  for (;;) {
    uint8_t buffer[1024];
    sockaddr_in client{};
    uint32_t local = 0;
    const ssize_t got = ReceiveWithLocalAddress(fd_, buffer, sizeof buffer, &client, &local);
    if (got < 0) return;  // EAGAIN: all read
    size_t module = 0;
    if (!simulator_.ReachableModuleAt(local, &module)) continue;
    const auto request = tftp::ParseRequest(buffer, static_cast<size_t>(got));
    if (!request) continue;
    // A network that doubles packets brings the request twice.
    const int copies = simulator_.Module(module).ModuleFaults().tftpDuplicate ? 2 : 1;
    for (int copy = 0; copy < copies; ++copy) TakeRequest(module, local, client, *request);
  }
}

void TftpServer::TakeRequest(size_t module, uint32_t local, const sockaddr_in& client,
                             const tftp::Request& request) {
  // A request sent again (our first answer was lost or slow) belongs to the transfer it
  // started: that transfer answers again from its own port. With the tftpRepeatNewPort
  // fault the module starts a new transfer instead (and the first one stays).
  if (!simulator_.Module(module).ModuleFaults().tftpRepeatNewPort) {
    for (auto& [id, session] : sessions_) {
      const bool firstAnswer = session->write ? session->block == 0 : session->block == 1;
      if (!session->finished && firstAnswer && session->module == module &&
          SameEndpoint(session->client, client) &&
          session->write == (request.opcode == tftp::kOpWrq) && session->file == request.file) {
        ++simulator_.Module(module).Files().tftp.duplicates;
        if (!session->last.empty()) SendRaw(*session, session->last);
        return;
      }
    }
  }
  Start(module, local, client, request);
}

void TftpServer::Start(size_t module, uint32_t localAddress, const sockaddr_in& client,
                       const tftp::Request& request) {
  const int fd = TransferSocket(localAddress);
  if (fd < 0) return;
  auto owned = std::make_unique<Session>();
  Session& session = *owned;
  session.id = nextId_++;
  session.fd = fd;
  session.module = module;
  session.moduleAddress = localAddress;
  session.client = client;
  session.write = request.opcode == tftp::kOpWrq;
  session.file = request.file;
  session.tsize = request.tsize;
  const uint64_t id = session.id;
  sessions_[id] = std::move(owned);
  loop_.Watch(fd, EPOLLIN, [this, id](uint32_t) { OnSessionEvent(id); });
  ModuleFiles& files = simulator_.Module(module).Files();
  ++files.tftp.requests;

  if (strcasecmp(request.mode.c_str(), "octet") != 0) {
    Fail(session, 0, "Only octet mode");
    return;
  }
  if (!session.write) {
    if (!IsPlcProgram(request.file) || files.plcProgram.empty()) {
      Fail(session, 1, "File not found");
      return;
    }
    if (files.plcProgram.size() / tftp::kBlockSize + 1 > 0xFFFF) {
      Fail(session, 3, "File too large");
      return;
    }
    session.data = files.plcProgram;
    // The short-answer fault ends the download after half of the file.
    if (simulator_.Module(module).ModuleFaults().shortTftp)
      session.data.erase(session.data.begin() + static_cast<long>(session.data.size() / 2),
                         session.data.end());
    session.block = 1;
    SendData(session);
    return;
  }
  if (session.tsize && *session.tsize == 0) {
    // A write of announced length 0 is how the tool asks to remove the program.
    if (IsPlcProgram(request.file)) files.plcProgram.clear();
    Fail(session, 2, "malformed file length");
    return;
  }
  if (session.tsize && *session.tsize > uint64_t{0xFFFF} * tftp::kBlockSize) {
    Fail(session, 3, "File too large");
    return;
  }
  session.block = 0;
  Send(session, tftp::Ack(0), 0, true);
}

void TftpServer::OnSessionEvent(uint64_t id) {
  for (;;) {
    auto found = sessions_.find(id);
    if (found == sessions_.end()) return;
    Session& session = *found->second;
    uint8_t buffer[1024];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t got = recvfrom(session.fd, buffer, sizeof buffer, 0,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (got < 0) return;
    if (ModuleGone(session)) return;
    // A network that doubles packets brings each one twice.
    const int copies = simulator_.Module(session.module).ModuleFaults().tftpDuplicate ? 2 : 1;
    for (int copy = 0; copy < copies && sessions_.count(id); ++copy)
      OnPacket(*sessions_[id], from, buffer, static_cast<size_t>(got));
  }
}

void TftpServer::OnPacket(Session& session, const sockaddr_in& from, const uint8_t* buffer,
                          size_t got) {
  if (!SameEndpoint(from, session.client)) {
    const auto error = tftp::Error(5, "Unknown transfer ID");
    sendto(session.fd, error.data(), error.size(), MSG_NOSIGNAL,
           reinterpret_cast<const sockaddr*>(&from), sizeof from);
    return;
  }
  if (got < 4) return;
  const uint16_t opcode = static_cast<uint16_t>((buffer[0] << 8) | buffer[1]);
  const uint16_t block = static_cast<uint16_t>((buffer[2] << 8) | buffer[3]);
  if (opcode == tftp::kOpError) {
    ++simulator_.Module(session.module).Files().tftp.failed;
    End(session.id);
    return;
  }
  if (session.write && opcode == tftp::kOpData) {
    OnData(session, block, buffer + 4, got - 4);
  } else if (!session.write && opcode == tftp::kOpAck) {
    OnAck(session, block);
  }
}

void TftpServer::OnAck(Session& session, uint16_t block) {
  if (session.finished) return;
  if (block == session.block) {
    const size_t sent = static_cast<size_t>(session.block) * tftp::kBlockSize;
    if (sent > session.data.size()) {  // the short (or empty) last block is acknowledged
      ++simulator_.Module(session.module).Files().tftp.completed;
      End(session.id);
      return;
    }
    ++session.block;
    session.resends = 0;
    SendData(session);
  } else if (static_cast<uint16_t>(block + 1) == session.block && !session.last.empty()) {
    // The client asks again for the block it misses: send it at once.
    ++session.resends;
    ++simulator_.Module(session.module).Files().tftp.resends;
    SendRaw(session, session.last);
  }
}

void TftpServer::SendData(Session& session) {
  const size_t offset = static_cast<size_t>(session.block - 1) * tftp::kBlockSize;
  const size_t length = std::min(tftp::kBlockSize, session.data.size() - offset);
  Send(session, tftp::Data(session.block, session.data.data() + offset, length), session.block,
       false);
}

void TftpServer::OnData(Session& session, uint16_t block, const uint8_t* bytes, size_t length) {
  ModuleFiles& files = simulator_.Module(session.module).Files();
  if (block == session.block) {  // already acknowledged: the ACK went missing
    ++files.tftp.duplicates;
    if (!session.last.empty()) SendRaw(session, session.last);
    return;
  }
  if (session.finished || block != static_cast<uint16_t>(session.block + 1) || block == 0) return;
  if (length > tftp::kBlockSize) return;
  session.data.insert(session.data.end(), bytes, bytes + length);
  session.block = block;
  session.resends = 0;
  if (session.tsize && session.data.size() > *session.tsize) {
    ++files.tftp.crcErrors;
    Fail(session, 0, "File longer than announced");
    return;
  }
  const bool last =
      length < tftp::kBlockSize || (session.tsize && session.data.size() == *session.tsize);
  if (last) {
    FinishUpload(session);
    return;
  }
  if (block == 0xFFFF) {
    Fail(session, 3, "File too large");
    return;
  }
  Send(session, tftp::Ack(block), block, true);
}

void TftpServer::FinishUpload(Session& session) {
  SimModule& module = simulator_.Module(session.module);
  ModuleFiles& files = module.Files();
  const std::vector<uint8_t>& data = session.data;
  bool good = data.size() >= 2 && (!session.tsize || data.size() == *session.tsize);
  if (good) {
    const uint16_t crc = tftp::Crc16Modbus(data.data(), data.size() - 2);
    good = data[data.size() - 2] == (crc & 0xFF) && data[data.size() - 1] == (crc >> 8);
  }
  if (!good) {
    ++files.tftp.crcErrors;
    Fail(session, 0, "Checksum error");
    return;
  }
  if (IsPlcProgram(session.file)) {
    // The program is kept as it came, with its two check bytes; just the check bytes (an
    // empty program) remove it.
    if (data.size() == 2)
      files.plcProgram.clear();
    else
      files.plcProgram = data;
  } else {
    files.staged = StagedFirmware{session.file, std::vector<uint8_t>(data.begin(), data.end() - 2)};
  }
  session.finished = true;
  if (!Send(session, tftp::Ack(session.block), session.block, true)) return;
  ++files.tftp.completed;
  Arm(session, kDallyMs);
}

bool TftpServer::Send(Session& session, std::vector<uint8_t> packet, uint16_t block, bool isAck) {
  SimModule& module = simulator_.Module(session.module);
  const Faults& faults = module.ModuleFaults();
  if (faults.tftpDieBlock && block == faults.tftpDieBlock) {
    const uint64_t id = session.id;
    simulator_.Kill(session.module);
    End(id);
    return false;
  }
  if (faults.tftpRebootBlock && block == faults.tftpRebootBlock) {
    const uint64_t id = session.id;
    simulator_.Reboot(session.module, simulator_.Line().timing.rebootMs);
    End(id);
    return false;
  }
  if (faults.tftpErrorBlock && block == faults.tftpErrorBlock) {
    Fail(session, 3, "Disk full or allocation exceeded");
    return false;
  }
  session.last = std::move(packet);
  if (faults.tftpLoseBlock && block == faults.tftpLoseBlock && !session.lostOnce) {
    session.lostOnce = true;
  } else {
    SendRaw(session, session.last);
    if (isAck && faults.tftpDuplicateAck) SendRaw(session, session.last);
  }
  Arm(session, kResendMs);
  return true;
}

void TftpServer::SendRaw(Session& session, const std::vector<uint8_t>& packet) {
  const int copies = simulator_.Module(session.module).ModuleFaults().tftpDuplicate ? 2 : 1;
  for (int copy = 0; copy < copies; ++copy) {
    sendto(session.fd, packet.data(), packet.size(), MSG_NOSIGNAL,
           reinterpret_cast<sockaddr*>(&session.client), sizeof session.client);
  }
}

void TftpServer::Fail(Session& session, uint16_t code, const std::string& message) {
  ++simulator_.Module(session.module).Files().tftp.failed;
  SendRaw(session, tftp::Error(code, message));
  End(session.id);
}

void TftpServer::Arm(Session& session, uint32_t ms) {
  if (session.timer) loop_.Cancel(session.timer);
  const uint64_t id = session.id;
  session.timer = loop_.After(ms, [this, id] { OnTimeout(id); });
}

void TftpServer::OnTimeout(uint64_t id) {
  auto found = sessions_.find(id);
  if (found == sessions_.end()) return;
  Session& session = *found->second;
  session.timer = 0;
  if (session.finished || ModuleGone(session)) {
    End(id);
    return;
  }
  if (++session.resends > kResends) {
    ++simulator_.Module(session.module).Files().tftp.failed;
    End(id);
    return;
  }
  ++simulator_.Module(session.module).Files().tftp.resends;
  SendRaw(session, session.last);
  Arm(session, kResendMs);
}

bool TftpServer::ModuleGone(const Session& session) {
  SimModule& module = simulator_.Module(session.module);
  if (module.Reachable() && module.Address() == session.moduleAddress) return false;
  const uint64_t id = session.id;
  loop_.Post([this, id] { End(id); });
  return true;
}

void TftpServer::End(uint64_t id) {
  auto found = sessions_.find(id);
  if (found == sessions_.end()) return;
  Session& session = *found->second;
  loop_.Unwatch(session.fd);
  if (session.timer) loop_.Cancel(session.timer);
  close(session.fd);
  sessions_.erase(found);
}

}  // namespace sim
