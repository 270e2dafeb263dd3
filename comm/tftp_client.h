#pragma once
// CTFTPClient: one TFTP transfer with a module, driven step by step by its caller.
//
//   CTFTPClient client;
//   int result = client.Put(path, "PlcData_.bin", "192.168.202.20", 69);
//   while (result == CTFTPClient::kGoOn) result = client.ContinuePut();   // one block per call
//   if (result == CTFTPClient::kFailed) show(client.GetLastError());
//
// Start operations return kFailed (the last error is set) or kGoOn; Put_Buf in probe mode
// returns kDone when the probe succeeded. Continue operations return kFailed, kGoOn or kDone.
// Every wait is 230 ms; a request, block or ACK is sent again after each miss, 25 times at
// most. Uploads carry a CRC-16/MODBUS of the data in two appended bytes (low byte first).
// Only datagrams from the module's own address are taken (any port); the client then sends to
// the port the module answered from.
#include <netinet/in.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "comm/tftp_packet.h"

class CTFTPClient {
 public:
  enum Result { kFailed = 1, kGoOn = 2, kDone = 3 };
  enum State { kIdle = 1, kDownload = 2, kUpload = 3 };
  static constexpr uint32_t kWaitMs = 230;
  static constexpr int kRequestResends = 25;   // write request and DATA blocks
  static constexpr int kDownloadResends = 24;  // the 25th miss of a download step fails
  static constexpr int kEchoSkips = 2;
  static constexpr const char* kPlcProgramFile = "PlcData_.bin";

  CTFTPClient();
  virtual ~CTFTPClient();
  CTFTPClient(const CTFTPClient&) = delete;
  CTFTPClient& operator=(const CTFTPClient&) = delete;

  // Download of a remote file into a local file. The file is written under a temporary name
  // in the same folder and takes its name only when the download has finished, so a failed
  // download never leaves a torn file in place of an existing one.
  int Get(const std::string& localPath, const std::string& remoteName, const std::string& ipText,
          uint16_t port);
  // Download of "PlcData_.bin" into the caller's buffer of bufferSize bytes.
  int Get_Buf(uint8_t* buffer, uint32_t bufferSize, const std::string& ipText, uint16_t port);
  int Put(const std::string& localPath, const std::string& remoteName, const std::string& ipText,
          uint16_t port, bool probe = false);
  int Put_Buf(const uint8_t* data, uint32_t length, const std::string& remoteName,
              const std::string& ipText, uint16_t port, bool probe = false);

  int ContinueGet();
  int ContinueGet_Buf(uint8_t* buffer);
  int ContinuePut();

  uint32_t GetBytesDone() const { return m_bytesDone; }
  uint32_t GetBytesReceived() const { return m_bytesReceived; }
  uint32_t GetBlock() const { return m_block; }
  uint32_t GetUploadLength() const { return m_uploadLength; }
  int GetState() const { return m_state; }
  const char* GetLastError() const { return m_lastError.c_str(); }
  uint32_t GetReadTimeouts() const { return m_readTimeouts; }
  uint32_t GetRetransmissions() const { return m_retransmissions; }
  uint32_t GetSocketErrors() const { return m_socketErrors; }

  // Closes the local file (a download not finished is discarded) and the socket, frees the
  // upload data; state idle.
  void Reset();

  // Tests shorten the 230 ms wait so that runs of misses stay quick.
  void SetWaitMsForTests(uint32_t ms) { m_waitMs = ms; }

 private:
  bool Open(const std::string& ipText, uint16_t port);
  void CloseSocket();
  bool Send(const CTFTPPacket& packet);
  bool WaitPacket(CTFTPPacket& packet, uint32_t ms);
  // The block number of an ACK; kWaitMissed when nothing came, kWaitOther for anything else.
  static constexpr int kWaitMissed = -1;
  static constexpr int kWaitOther = -2;
  int WaitAck();
  void SetError(const std::string& text);
  void SetPacketError(const CTFTPPacket& packet);
  void ClearError();
  int StartUpload(const std::string& remoteName, const std::string& ipText, uint16_t port,
                  bool probe);
  int DownloadStep(uint8_t* buffer);
  int FinishDownload();
  std::string LocalPartPath() const { return m_localPath + ".part"; }

  uint32_t m_readTimeouts = 0;
  uint32_t m_retransmissions = 0;
  uint32_t m_socketErrors = 0;
  uint32_t m_bytesReceived = 0;
  std::string m_lastError;
  bool m_lastErrorIsWait = false;  // the last error is only a wait that ran out of time
  std::FILE* m_localFile = nullptr;
  std::string m_localPath;  // the file a Get writes (under LocalPartPath() until the end)
  uint32_t m_block = 0;
  uint32_t m_bytesDone = 0;
  int m_state = kIdle;
  CTFTPPacket m_packet;
  int m_socket = -1;
  sockaddr_in m_peer{};
  uint32_t m_moduleAddress = 0;  // network order; only its datagrams are taken
  std::vector<uint8_t> m_upload;
  uint32_t m_uploadLength = 0;
  uint32_t m_bufferSize = 0;  // of the caller's buffer of Get_Buf
  uint32_t m_waitMs = kWaitMs;
};
