#include "config/plc_program.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "base/bytes.h"
#include "base/format.h"
#include "comm/blocking_socket.h"
#include "comm/event_log.h"
#include "comm/tftp_client.h"
#include "discovery/discover.h"
#include "discovery/inventory.h"
#include "discovery/mreg_app.h"
#include "platform/tick.h"

namespace config {
namespace {

constexpr uint16_t kModulePort = 55555;
constexpr uint32_t kLockAnswerMs = 300;
constexpr size_t kMaxNameLength = 255;

// The file part of a path (the dialog shows the local file by its name).
std::string FileName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Steps 1 to 4 of the file check: name, open, family field. A refusal is shown.
PlcFileCheck ReadPlcFile(const std::string& path, base::Prompt& prompt) {
  PlcFileCheck check;
  if (path.empty()) {
    check.ok = true;
    check.noProgram = true;
    return check;
  }
  if (FileName(path).find(kPlcNamePrefix) == std::string::npos) {
    check.message = "Die ausgewählte Datei it kein gültiges SPS Programm";
    prompt.Tell(check.message);
    return check;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    check.message = base::Format("Die Datei kann nicht geöffnet werden - %s!", path.c_str());
    prompt.Tell(check.message);
    return check;
  }
  uint8_t header[kHeaderRead] = {};
  in.read(reinterpret_cast<char*>(header), sizeof header);
  const size_t got = static_cast<size_t>(in.gcount());
  check.family = FamilyField(header, got);
  check.code = FamilyCode(check.family);
  check.ok = true;
  return check;
}

}  // namespace

const std::vector<PlcFamily>& PlcFamilies() {
  static const std::vector<PlcFamily> families = {
      {"BrevantrixUx", 0x900, "BrevantrixUx"},
      {"Brevantrix-IO", 0xC00, "Brevantrix-IO"},
      {"Draskufel", 0x200, "DraskufelIP"},
      {"Vermosand", 0x700, nullptr},
  };
  return families;
}

std::string FamilyField(const uint8_t* bytes, size_t length) {
  if (!bytes || length <= kFamilyOffset) return {};
  const size_t available = std::min(kFamilyLength, length - kFamilyOffset);
  const uint8_t* field = bytes + kFamilyOffset;
  const void* end = std::memchr(field, 0, available);
  const size_t size =
      end ? static_cast<size_t>(static_cast<const uint8_t*>(end) - field) : available;
  return std::string(reinterpret_cast<const char*>(field), size);
}

uint16_t FamilyCode(const std::string& field) {
  for (const PlcFamily& family : PlcFamilies()) {
    if (field.find(family.searched) != std::string::npos) return family.code;
  }
  return 0;
}

std::string FamilyShownName(const std::string& field) {
  for (const PlcFamily& family : PlcFamilies()) {
    if (field.find(family.searched) != std::string::npos)
      return family.shown ? family.shown : field;
  }
  return field;
}

PlcFileCheck CheckPlcFileForModule(const std::string& path, uint16_t moduleFamilyCode,
                                   base::Prompt& prompt) {
  PlcFileCheck check = ReadPlcFile(path, prompt);
  if (!check.ok || check.noProgram) return check;
  if (!check.family.empty() && check.code != moduleFamilyCode) {
    check.ok = false;
    check.message = base::Format(
        "The operation will be aborted! The selected PLC program is for %s devices, but the "
        "device is not compatible with it!",
        FamilyShownName(check.family).c_str());
    prompt.Tell(check.message);
  }
  return check;
}

PlcFileCheck CheckPlcFileForRange(const std::string& path, const std::vector<RangeModule>& modules,
                                  std::vector<std::string>* incompatible, base::Prompt& prompt) {
  if (incompatible) incompatible->clear();
  PlcFileCheck check = ReadPlcFile(path, prompt);
  if (!check.ok || check.noProgram) return check;
  std::string text = base::Format(
      "The operation will be aborted! The selected PLC program is for %s devices, but the "
      "following devices are not compatible with it:",
      FamilyShownName(check.family).c_str());
  bool any = false;
  for (const RangeModule& module : modules) {
    if (module.familyCode == check.code) continue;
    any = true;
    text += base::Format("\"%s\", ", module.ipText.c_str());
    if (incompatible) incompatible->push_back(module.ipText);
  }
  if (any) {
    check.ok = false;
    check.message = text;
    prompt.Tell(text);
  }
  return check;
}

PlcUploadResult UploadPLCProgram(const std::string& ipText, base::Progress& progress,
                                 const std::string& expectedFamily, const std::string& path,
                                 bool deleteProgram, base::Prompt& prompt, uint16_t port) {
  PlcUploadResult outcome;
  CTFTPClient client;
  auto finish = [&](int result, const std::string& text) {
    outcome.result = result;
    outcome.text = text;
    outcome.readTimeouts = client.GetReadTimeouts();
    outcome.retransmissions = client.GetRetransmissions();
    outcome.socketErrors = client.GetSocketErrors();
    if (!text.empty()) progress.SetText(text);
    return outcome;
  };
  std::string name;
  uint32_t total = 2;
  int result = 0;
  progress.SetRange(100);
  if (deleteProgram) {
    // An empty program: the module receives only the two check bytes.
    name = "(empty program)";
    result = client.Put_Buf(nullptr, 0, kPlcRemoteFile, ipText, port);
  } else {
    if (path.empty()) return finish(1, "");
    if (FileName(path).find(kPlcNamePrefix) == std::string::npos) {
      prompt.Tell("Die ausgewählte Datei it kein gültiges SPS Programm");
      return finish(0, "Die ausgewählte Datei it kein gültiges SPS Programm");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      const std::string text = base::Format("Can't open file %s!", path.c_str());
      prompt.Tell(text);
      return finish(0, text);
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    std::string field;
    if (bytes.size() > kFamilyOffset) {
      const size_t take = std::min(expectedFamily.size(), bytes.size() - kFamilyOffset);
      field.assign(reinterpret_cast<const char*>(bytes.data() + kFamilyOffset), take);
      field = field.substr(0, field.find('\0'));
    }
    if (field.empty() || field != expectedFamily) {
      const std::string text =
          base::Format("Selected file is not %s PLC Program!", expectedFamily.c_str());
      prompt.Tell(text);
      return finish(0, text);
    }
    name = FileName(path);
    total = static_cast<uint32_t>(bytes.size()) + 2;
    result = client.Put(path, kPlcRemoteFile, ipText, port);
  }
  const uint32_t blocks = (total + tftp::kBlockSize - 1) / tftp::kBlockSize;
  auto line = [&](const char* tail) {
    return base::Format("Uploading %s to %s (%d of %d)... ", name.c_str(), ipText.c_str(),
                        static_cast<int>(client.GetBytesDone()), static_cast<int>(total)) +
           tail;
  };
  // Progress 80 + step x 20 / blocks: multiplied first, so that it also moves for programs of
  // more than 20 blocks.
  uint32_t step = 0;
  progress.SetPosition(80);
  while (result == CTFTPClient::kGoOn) {
    if (progress.Cancelled()) return finish(0, line("aborted !"));
    progress.SetText(line(""));
    result = client.ContinuePut();
    ++step;
    progress.SetPosition(static_cast<int>(80 + std::min(step, blocks) * 20 / blocks));
  }
  if (result == CTFTPClient::kDone) return finish(1, line("FTP upload OK. "));
  const std::string text = line("Error: ") + client.GetLastError();
  return finish(0, text);
}

std::vector<uint8_t> LockPacket(uint32_t value) {
  std::vector<uint8_t> packet = {0x70, 0,   0,   8,   0x44, 0x00, 0x00, 0x80,
                                 'M',  'G', 'M', 'T', 0,    0,    0,    0};
  base::PutBE32(packet.data() + 12, value);
  return packet;
}

int _ReadLock(CMRegApp& app, const std::vector<uint8_t>& packet, const std::string& ipText) {
  int lockState = -1;
  if (ipText.size() <= 6) {
    // Sent to the broadcast address this would lock every module: it is sent nowhere.
    LogInfo("DlgConn._ReadLock was called with invalid IP !?!");
    return lockState;
  }
  const std::string selected = app.SelectedAdapterName();
  bool known = false;
  if (AdapterPtr adapter = app.SelectedAdapter()) {
    std::lock_guard guard(adapter->lock);
    known = FindNodeByIp(ipText, nullptr, adapter->nodes) != nullptr;
  }
  if (selected.empty() || !known) {
    LogInfo("_ReadLock at CDlgConnections - no Discover yet! Going to do Fast discover...");
    app.discoverDone.store(0);
    app.Discover(false, nullptr);
  }
  discovery::CaptureHandlePtr handle;
  const uint32_t start = platform::GetTickCount();
  int answered = 0;
  if (discovery::_send_UDP_to_NodeIP(app, handle, ipText, packet.data(), packet.size(), kModulePort,
                                     3)) {
    answered = discovery::ReceiveNodeAnswers(app, handle.get(), kLockAnswerMs, nullptr);
  }
  handle.reset();
  if (!answered) {
    LogInfo("DlgConn._ReadLock Didn't receiveReadLock resp. from node: %s for %u ms. !?!",
            ipText.c_str(), platform::TicksSince(start));
    return lockState;
  }
  AdapterPtr adapter = app.SelectedAdapter();
  if (!adapter) {
    LogInfo("DlgConn._ReadLock - Strange current adapter %s didn't exist anymore !?!",
            app.SelectedAdapterName().c_str());
    return lockState;
  }
  std::lock_guard guard(adapter->lock);
  NodePtr node = FindNodeByIp(ipText, nullptr, adapter->nodes);
  if (!node) {
    LogInfo("DlgConn._ReadLock - Strange node: %s didn't exist in adapter %s !?!", ipText.c_str(),
            adapter->description.c_str());
    return lockState;
  }
  lockState = node->lockState;
  return lockState;
}

long PlcLengthFromAnswer(const std::string& answer) {
  const size_t at = answer.find("My:");
  if (at == std::string::npos) return -1;
  const size_t start = at + 3;
  const size_t comma = answer.find(',', start);
  const std::string digits =
      answer.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
  if (digits.empty() || digits.size() > 9 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return -1;
  return std::stol(digits);
}

std::string PlcProgramNameIn(const uint8_t* bytes, size_t length) {
  if (!bytes || length <= 12) return {};
  const std::string_view text(reinterpret_cast<const char*>(bytes), length);
  const size_t at = text.rfind(kPlcNamePrefix);
  if (at == std::string_view::npos) return {};
  size_t end = at;
  while (end < length && end - at < kMaxNameLength && bytes[end] >= 0x20 && bytes[end] < 0x7F)
    ++end;
  return std::string(text.substr(at, end - at));
}

namespace {

// The length the module's service port announces for its program; -1 when it cannot be read.
long AnnouncedPlcLength(const std::string& ipText, uint16_t servicePort) {
  long length = -1;
  for (int attempt = 0; attempt < 3 && length < 0; ++attempt) {
    CCommandSocket port;
    if (port.Create() != comm::kStatusOk || !port.ConnectTelnet(ipText, servicePort)) continue;
    length = PlcLengthFromAnswer(port.Command("p", 1, 3000));
  }
  return length;
}

// Downloads "PlcData_.bin" into a buffer of the announced length, never more than a transfer can
// carry. The bytes received, or nothing (*error says why).
std::optional<std::vector<uint8_t>> DownloadPlcProgram(const std::string& ipText, long length,
                                                       uint16_t tftpPort, std::string* error) {
  if (length > static_cast<long>(kMaxStoredPlcProgram)) {
    *error = base::Format(
        "the module announces a PLC program of %ld bytes, more than TFTP can "
        "carry (%u)",
        length, kMaxStoredPlcProgram);
    LogError("PLC program of %s: %s - not read", ipText.c_str(), error->c_str());
    return std::nullopt;
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(length));
  CTFTPClient client;
  int result =
      client.Get_Buf(buffer.data(), static_cast<uint32_t>(buffer.size()), ipText, tftpPort);
  while (result == CTFTPClient::kGoOn) result = client.ContinueGet_Buf(buffer.data());
  if (result != CTFTPClient::kDone) {
    LogError("Get PLC programname from %s was failed at pkt# %u... Error: %s", ipText.c_str(),
             client.GetBlock(), client.GetLastError());
    *error = base::Format("PLC program not read: %s", client.GetLastError());
    return std::nullopt;
  }
  buffer.resize(std::min<size_t>(client.GetBytesReceived(), buffer.size()));
  return buffer;
}

}  // namespace

std::optional<std::vector<uint8_t>> ReadStoredPlcProgram(const std::string& ipText,
                                                         std::string* error, uint16_t servicePort,
                                                         uint16_t tftpPort) {
  const long length = AnnouncedPlcLength(ipText, servicePort);
  if (length < 0) {
    *error = "no PLC program length from the service port";
    return std::nullopt;
  }
  if (length == 0) return std::vector<uint8_t>{};
  auto bytes = DownloadPlcProgram(ipText, length, tftpPort, error);
  if (bytes && bytes->size() != static_cast<size_t>(length)) {
    *error = base::Format("PLC program read back with %zu of %ld bytes", bytes->size(), length);
    return std::nullopt;
  }
  return bytes;
}

bool VerifyStoredPlcProgram(const std::string& ipText, const std::vector<uint8_t>& program,
                            std::string* error, uint16_t servicePort, uint16_t tftpPort) {
  const auto stored = ReadStoredPlcProgram(ipText, error, servicePort, tftpPort);
  if (!stored) return false;
  const size_t expected = program.size() + 2;
  if (stored->size() != expected) {
    *error = base::Format("the module keeps a PLC program of %zu bytes, %zu expected",
                          stored->size(), expected);
    return false;
  }
  const uint16_t crc = tftp::Crc16Modbus(program.data(), program.size());
  const uint16_t kept =
      static_cast<uint16_t>((*stored)[expected - 2] | (*stored)[expected - 1] << 8);
  if (kept != crc || !std::equal(program.begin(), program.end(), stored->begin())) {
    *error = base::Format("the module keeps another PLC program (CRC 0x%04X, 0x%04X expected)",
                          kept, crc);
    return false;
  }
  return true;
}

PlcProgramOnModule ReadPlcProgramOnModule(const std::string& ipText, uint16_t servicePort,
                                          uint16_t tftpPort) {
  PlcProgramOnModule program;
  std::string error;
  // A program downloaded only in part is not read: a name found in part of it may be another
  // program's left in it.
  const auto bytes = ReadStoredPlcProgram(ipText, &error, servicePort, tftpPort);
  if (!bytes) {
    LogError("PLC program of %s not read: %s", ipText.c_str(), error.c_str());
    program.failure = error;
    return program;
  }
  program.read = true;
  program.length = bytes->size();
  if (bytes->empty()) {
    LogInfo("PLC program name of %s: none (program length 0)", ipText.c_str());
    return program;
  }
  program.name = PlcProgramNameIn(bytes->data(), bytes->size());
  if (program.name.empty()) {
    LogInfo("PLC program name of %s: no \"PLCDATA_\" in the program", ipText.c_str());
  } else {
    LogInfo("PLC program name of %s: %s", ipText.c_str(), program.name.c_str());
  }
  return program;
}

std::string ReadPlcProgramName(const std::string& ipText, uint16_t servicePort, uint16_t tftpPort) {
  return ReadPlcProgramOnModule(ipText, servicePort, tftpPort).name;
}

}  // namespace config
