#include "comm/tftp_client.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>

#include "base/format.h"
#include "comm/event_log.h"
#include "platform/socket_errors.h"
#include "platform/tick.h"

namespace {

// Uploads read their local file under one process-wide lock.
std::mutex g_fileReadLock;

constexpr const char* kNoAnswer = "No answer.";
constexpr const char* kReadWaitTimeout = "Read wait timeout.";

}  // namespace

CTFTPClient::CTFTPClient() = default;

CTFTPClient::~CTFTPClient() {
  Reset();
}

void CTFTPClient::Reset() {
  if (m_localFile) {
    std::fclose(m_localFile);
    m_localFile = nullptr;
    std::remove(LocalPartPath().c_str());  // a download that did not finish
  }
  CloseSocket();
  std::vector<uint8_t>().swap(m_upload);
  m_uploadLength = 0;
  m_state = kIdle;
}

void CTFTPClient::CloseSocket() {
  if (m_socket >= 0) ::close(m_socket);
  m_socket = -1;
}

bool CTFTPClient::Open(const std::string& ipText, uint16_t port) {
  CloseSocket();
  in_addr address{};
  if (inet_pton(AF_INET, ipText.c_str(), &address) != 1) {
    SetError("Could not create socket.");
    return false;
  }
  m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (m_socket < 0) {
    SetError("Could not create socket.");
    return false;
  }
  m_peer = sockaddr_in{};
  m_peer.sin_family = AF_INET;
  m_peer.sin_port = htons(port);
  m_peer.sin_addr = address;
  m_moduleAddress = address.s_addr;
  return true;
}

void CTFTPClient::SetError(const std::string& text) {
  // A wait that ran out of time is the least specific failure: it never hides another text of
  // the same step (the text of an ERROR packet, "No ACK found.") and gives way to "No answer.",
  // which itself never hides a more specific error.
  const bool weak = text == kNoAnswer || text == kReadWaitTimeout;
  if (weak && !m_lastError.empty() && !m_lastErrorIsWait) return;
  m_lastError = text;
  m_lastErrorIsWait = text == kReadWaitTimeout;
}

void CTFTPClient::ClearError() {
  m_lastError.clear();
  m_lastErrorIsWait = false;
}

void CTFTPClient::SetPacketError(const CTFTPPacket& packet) {
  if (const auto text = tftp::ErrorText(packet)) SetError(*text);
}

bool CTFTPClient::Send(const CTFTPPacket& packet) {
  if (m_socket < 0) {
    LogError("\nTFTP>>> err.in Send() -> m_socket==INVALID_SOCKET\n");
    SetError("(Send)Not connected.");
    return false;
  }
  if (!packet.Valid()) {
    LogError("\nTFTP>>> err.in Send() -> Invalid packet.\n");
    SetError("(Send)Invalid packet.");
    return false;
  }
  if (packet.Empty()) return true;
  const ssize_t sent =
      ::sendto(m_socket, packet.Data(), static_cast<size_t>(packet.Size()), MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr*>(&m_peer), sizeof m_peer);
  if (sent != packet.Size()) {
    const std::string text = base::Format("Sent only %i bytes (from %i).",
                                          static_cast<int>(sent < 0 ? 0 : sent), packet.Size());
    LogWarning("\nTFTP>>> %s\n", text.c_str());
    SetError(text);
    return false;
  }
  return true;
}

bool CTFTPClient::WaitPacket(CTFTPPacket& packet, uint32_t ms) {
  if (m_socket < 0) {
    LogError("\nTFTP>>> WaitPacket() - m_socket == INVALID_SOCKET -> abort.\n");
    ++m_socketErrors;
    SetError("Not connected.");
    return false;
  }
  const uint32_t start = platform::GetTickCount();
  for (;;) {
    const uint32_t elapsed = platform::TicksSince(start);
    const int remaining = elapsed >= ms ? 0 : static_cast<int>(ms - elapsed);
    pollfd entry{m_socket, POLLIN | POLLPRI, 0};
    const int ready = ::poll(&entry, 1, remaining);
    if (ready < 0) {
      if (errno == EINTR) continue;
      LogError("\nTFTP>>> WaitPacket() - socket.select got error -> abort.\n");
      ++m_socketErrors;
      SetError("Select error.");
      return false;
    }
    if (ready == 0) {
      ++m_readTimeouts;
      SetError(kReadWaitTimeout);
      return false;
    }
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t got = ::recvfrom(m_socket, packet.Buffer(), CTFTPPacket::kCapacity, 0,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (got < 0) {
      const int error = platform::LastSocketError();
      if (error == platform::kWsaEintr) continue;
      // An ICMP "port unreachable" from an earlier send shows up here on Linux.
      LogError("\nTFTP>>> WaitPacket() - socket.recvfrom got SOCKET_ERROR !?! -> abort.\n");
      LogError("\nTFTP>>> WaitPacket() - socket.recvfrom got error# %u !?! -> abort.\n",
               static_cast<unsigned>(error));
      ++m_socketErrors;
      SetError("recv error.");
      return false;
    }
    if (from.sin_addr.s_addr != m_moduleAddress) continue;  // not from the module: not ours
    if (got == 0) {
      ++m_socketErrors;
      SetError("Connection Closed.");
      return false;
    }
    packet.SetSize(static_cast<int>(got));
    m_peer.sin_port = from.sin_port;  // later packets go where the module answered from
    return true;
  }
}

int CTFTPClient::WaitAck() {
  CTFTPPacket answer;
  if (!WaitPacket(answer, m_waitMs)) return kWaitMissed;
  if (answer.Size() >= 4 && tftp::Opcode(answer) == tftp::kOpAck) return answer.GetWord(2);
  if (tftp::Opcode(answer) == tftp::kOpError && answer.Size() >= 4) {
    SetPacketError(answer);
  } else {
    SetError("No ACK found.");
  }
  return kWaitOther;
}

// ---- downloads ----

int CTFTPClient::Get(const std::string& localPath, const std::string& remoteName,
                     const std::string& ipText, uint16_t port) {
  Reset();
  ClearError();
  if (!Open(ipText, port)) {
    LogError("\nTFTP>> err.in Get(%s,%s,%s,%u) -> Open was FAILED - abort the download!?!\n",
             localPath.c_str(), remoteName.c_str(), ipText.c_str(), port);
    return kFailed;
  }
  m_localPath = localPath;
  m_localFile = std::fopen(LocalPartPath().c_str(), "wb");
  if (!m_localFile) {
    LogError(
        "\nTFTP>> err.in Get(%s,%s,%s,%u) -> Open to open/create the local file - abort the "
        "download!?!\n",
        localPath.c_str(), remoteName.c_str(), ipText.c_str(), port);
    SetError("Die Datei kann nicht geöffnet werden!");
    return kFailed;
  }
  if (!m_packet.MakeRequest(tftp::kOpRrq, remoteName, 0)) {
    LogError("\nTFTP>> err.in Get(%s,%s,%s,%u) -> Can't create write req!?!\n", localPath.c_str(),
             remoteName.c_str(), ipText.c_str(), port);
    SetError("Can't create write req.");
    return kFailed;
  }
  if (!Send(m_packet)) {
    LogError("\nTFTP>> err.in Get(%s,%s,%s,%u) -> Unable to Send (packet with numBytes: %u)!?!\n",
             localPath.c_str(), remoteName.c_str(), ipText.c_str(), port,
             static_cast<unsigned>(m_packet.Size()));
    return kFailed;
  }
  m_block = 1;
  m_bytesDone = 0;
  m_bytesReceived = 0;
  m_state = kDownload;
  return kGoOn;
}

int CTFTPClient::Get_Buf(uint8_t* buffer, uint32_t bufferSize, const std::string& ipText,
                         uint16_t port) {
  Reset();
  ClearError();
  if (!Open(ipText, port)) {
    LogError("\nTFTP>> err.in Get_Buf(%u,%s,%u) -> Open was FAILED - abort the download!?!\n",
             bufferSize, ipText.c_str(), port);
    return kFailed;
  }
  m_bufferSize = buffer ? bufferSize : 0;
  if (!m_packet.MakeRequest(tftp::kOpRrq, kPlcProgramFile, 0)) {
    LogError("\nTFTP>> err.in Get_Buf(%u,%s,%u) -> Can't create write req!?!\n", bufferSize,
             ipText.c_str(), port);
    SetError("Can't create write req.");
    return kFailed;
  }
  if (!Send(m_packet)) {
    LogError("\nTFTP>> err.in Get_Buf(%u,%s,%u) -> Unable to Send (packet with numBytes: %u)!?!\n",
             bufferSize, ipText.c_str(), port, static_cast<unsigned>(m_packet.Size()));
    return kFailed;
  }
  m_block = 1;
  m_bytesDone = 0;
  m_bytesReceived = 0;
  m_state = kDownload;
  return kGoOn;
}

int CTFTPClient::ContinueGet() {
  if (m_state == kUpload) return ContinuePut();
  if (m_state != kDownload) {
    SetError("Not started.");
    return kFailed;
  }
  if (m_socket < 0) {
    SetError("Not connected.");
    return kFailed;
  }
  if (!m_localFile) {
    SetError("File not opened.");
    return kFailed;
  }
  return DownloadStep(nullptr);
}

int CTFTPClient::ContinueGet_Buf(uint8_t* buffer) {
  if (m_socket < 0) {
    LogError(
        "\nTFTP>> err.in ContinueGet_Buf() -> m_socket==INVALID_SOCKET - abort the download!?!\n");
    SetError("Not connected.");
    return kFailed;
  }
  if (m_state != kDownload) {
    SetError("Not started.");
    return kFailed;
  }
  if (!buffer) {
    SetError("No buffer for the received data.");
    return kFailed;
  }
  return DownloadStep(buffer);
}

// One block of a download: into the local file (buffer null) or the caller's buffer.
int CTFTPClient::DownloadStep(uint8_t* buffer) {
  const bool toBuffer = buffer != nullptr;
  CTFTPPacket answer;
  int misses = 0;
  int echoes = 0;
  for (;;) {
    if (!WaitPacket(answer, m_waitMs)) {
      if (toBuffer)
        LogWarning("\nTFTP>> ContinueGet_Buf() - didn't receive a packet (in 230ms.)!?!\n");
      if (misses == kDownloadResends) {
        if (toBuffer)
          LogError(
              "\nTFTP>> err.in ContinueGet_Buf() -> no packet was received in %d retries - abort "
              "the download!?!\n",
              misses);
        SetError("Can't get packet.");
        return kFailed;
      }
      ++misses;
      ++m_retransmissions;
      if (!Send(m_packet) && toBuffer) return kFailed;
      continue;
    }
    const auto data = tftp::ParseData(answer);
    if (toBuffer && data && m_block > 1 && data->block == static_cast<uint16_t>(m_block - 1) &&
        echoes < kEchoSkips) {
      ++echoes;
      LogWarning("\nTFTP>> ContinueGet_Buf() - pkt# %u echo was received!?!\n", data->block);
      continue;
    }
    if (!data || data->block != static_cast<uint16_t>(m_block) || m_block > tftp::kMaxBlocks) {
      if (const auto text = tftp::ErrorText(answer))
        LogError("\nTFTP>> download ended by the module: %s\n", text->c_str());
      SetError("Can't get data.");
      return kFailed;
    }
    if (data->length > tftp::kBlockSize) {
      SetError("Can't copy data.");
      return kFailed;
    }
    if (toBuffer) {
      if (data->length > m_bufferSize - m_bytesReceived) {
        SetError(
            base::Format("The received data do not fit the buffer of %u bytes.", m_bufferSize));
        return kFailed;
      }
      if (data->length) std::memcpy(buffer + m_bytesReceived, data->bytes, data->length);
    } else {
      const size_t written = std::fwrite(data->bytes, 1, data->length, m_localFile);
      if (written != data->length) {
        SetError("fwrite error");
        return kFailed;
      }
      if (std::ferror(m_localFile)) {
        SetError("File write error");
        return kFailed;
      }
    }
    m_bytesReceived += static_cast<uint32_t>(data->length);
    m_bytesDone += static_cast<uint32_t>(data->length);
    const uint16_t received = data->block;
    ++m_block;
    m_packet.MakeAck(received);
    if (!Send(m_packet)) {
      if (toBuffer)
        LogError("\nTFTP>> ContinueGet_Buf() - Unable to Send the ACK - abort the download!?!\n");
      return kFailed;
    }
    if (data->length < tftp::kBlockSize) return FinishDownload();
    return kGoOn;
  }
}

int CTFTPClient::FinishDownload() {
  if (m_localFile) {
    const bool flushed = std::fflush(m_localFile) == 0 && fsync(fileno(m_localFile)) == 0;
    const bool closed = std::fclose(m_localFile) == 0;
    m_localFile = nullptr;
    if (!flushed || !closed || std::rename(LocalPartPath().c_str(), m_localPath.c_str()) != 0) {
      std::remove(LocalPartPath().c_str());
      SetError("File write error");
      return kFailed;
    }
  }
  m_state = kIdle;
  return kDone;
}

// ---- uploads ----

int CTFTPClient::Put(const std::string& localPath, const std::string& remoteName,
                     const std::string& ipText, uint16_t port, bool probe) {
  Reset();
  ClearError();
  {
    std::lock_guard<std::mutex> lock(g_fileReadLock);
    std::FILE* file = std::fopen(localPath.c_str(), "rb");
    if (!file) {
      SetError("Die Datei kann nicht geöffnet werden!");
      return kFailed;
    }
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
      std::fclose(file);
      SetError("File read error");
      return kFailed;
    }
    if (static_cast<unsigned long>(size) + 2 > uint64_t{tftp::kMaxBlocks} * tftp::kBlockSize) {
      std::fclose(file);
      SetError(base::Format("The file is too large: %ld bytes (at most %u with the check bytes).",
                            size, tftp::kMaxBlocks * tftp::kBlockSize));
      return kFailed;
    }
    try {
      m_upload.assign(static_cast<size_t>(size) + 2, 0);
    } catch (const std::bad_alloc&) {
      std::fclose(file);
      SetError("no enough memory!!!");
      return kFailed;
    }
    const size_t read = std::fread(m_upload.data(), 1, static_cast<size_t>(size), file);
    std::fclose(file);
    if (read != static_cast<size_t>(size)) {
      Reset();
      SetError("File read error");
      return kFailed;
    }
    m_uploadLength = static_cast<uint32_t>(size);
  }
  return StartUpload(remoteName, ipText, port, probe);
}

int CTFTPClient::Put_Buf(const uint8_t* data, uint32_t length, const std::string& remoteName,
                         const std::string& ipText, uint16_t port, bool probe) {
  Reset();
  ClearError();
  if (!data) length = 0;
  if (uint64_t{length} + 2 > uint64_t{tftp::kMaxBlocks} * tftp::kBlockSize) {
    SetError(base::Format("The data are too large: %u bytes (at most %u with the check bytes).",
                          length, tftp::kMaxBlocks * tftp::kBlockSize));
    return kFailed;
  }
  try {
    m_upload.assign(static_cast<size_t>(length) + 2, 0);
  } catch (const std::bad_alloc&) {
    SetError("no enough memory!!!");
    return kFailed;
  }
  if (length) std::memcpy(m_upload.data(), data, length);
  m_uploadLength = length;
  return StartUpload(remoteName, ipText, port, probe);
}

// m_upload holds m_uploadLength data bytes and room for the two check bytes.
int CTFTPClient::StartUpload(const std::string& remoteName, const std::string& ipText,
                             uint16_t port, bool probe) {
  const uint16_t crc = tftp::Crc16Modbus(m_upload.data(), m_uploadLength);
  m_upload[m_uploadLength] = static_cast<uint8_t>(crc & 0xFF);
  m_upload[m_uploadLength + 1] = static_cast<uint8_t>(crc >> 8);
  m_uploadLength += 2;
  m_state = kIdle;
  if (!Open(ipText, port)) return kFailed;
  if (probe) m_uploadLength = 0;
  if (!m_packet.MakeRequest(tftp::kOpWrq, remoteName, m_uploadLength)) {
    SetError("Can't create read req.");
    return kFailed;
  }
  if (!Send(m_packet)) return kFailed;
  int resends = 0;
  for (;;) {
    CTFTPPacket answer;
    if (WaitPacket(answer, m_waitMs)) {
      if (tftp::IsRequestAck(answer, 0)) {
        m_block = 1;
        m_bytesDone = 0;
        m_state = kUpload;
        return probe ? kDone : kGoOn;
      }
      if (tftp::ErrorText(answer)) {
        SetPacketError(answer);
      } else {
        SetError("No ACK found.");
      }
    }
    // A probe of a module that refuses a zero length this way has reached it.
    if (probe && m_lastError == "#2:malformed file length") return kDone;
    if (resends == kRequestResends) {
      SetError(kNoAnswer);
      return kFailed;
    }
    ++resends;
    ++m_retransmissions;
    if (!Send(m_packet)) return kFailed;
  }
}

int CTFTPClient::ContinuePut() {
  ClearError();
  if (m_socket < 0) {
    LogError("\nTFTP>> err.in ContinuePut() -> m_socket==INVALID_SOCKET - abort the upload!?!\n");
    SetError("Not connected.");
    return kFailed;
  }
  if (m_state != kUpload) {
    SetError("Not started.");
    return kFailed;
  }
  const uint32_t left = m_uploadLength > m_bytesDone ? m_uploadLength - m_bytesDone : 0;
  const uint32_t length = left < tftp::kBlockSize ? left : tftp::kBlockSize;
  const uint16_t block = static_cast<uint16_t>(m_block);
  m_packet.MakeData(block, m_upload.data() + m_bytesDone, length);
  for (int resends = 0;; ++resends) {
    if (!Send(m_packet)) {
      const std::string text = base::Format(
          "Failed to Send packet (pkt# %u, numBytes: %u) - abort the upload", block, length);
      LogError("\nTFTP>> err.in ContinuePut() -> %s\n", text.c_str());
      SetError(text);
      return kFailed;
    }
    int echoes = 0;
    for (;;) {
      const int ack = WaitAck();
      if (ack == block) {
        m_bytesDone += length;
        ++m_block;
        if (length < tftp::kBlockSize || m_bytesDone >= m_uploadLength) {
          m_state = kIdle;
          return kDone;
        }
        return kGoOn;
      }
      if (ack >= 0 && ack == static_cast<uint16_t>(block - 1) && echoes < kEchoSkips) {
        ++echoes;
        LogWarning("\nTFTP>> ContinuePut() - ACK of pkt# %u echo was received!?!\n",
                   static_cast<unsigned>(ack));
        continue;
      }
      if (ack == kWaitMissed)
        LogWarning("\nTFTP>> ContinuePut() - didn't receive the ACK (in 230ms.)!?!\n");
      break;
    }
    if (resends == kRequestResends) {
      LogError(
          "\nTFTP>> err.in ContinuePut() -> no ACK for pkt# %u was received in %d retries - abort "
          "the upload!?!\n",
          block, resends);
      SetError(kNoAnswer);
      return kFailed;
    }
    ++m_retransmissions;
    LogInfo(
        "\nTFTP>> ContinuePut() - packet (pkt# %u, numBytes: %u) (retry# %u) was sent, waiting "
        "for ACK...\n",
        block, length, static_cast<unsigned>(resends + 1));
  }
}
