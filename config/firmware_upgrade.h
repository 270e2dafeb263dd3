#pragma once
// The upgrade run: firmware (or a PLC program) onto many modules at once. Version tests first
// (downgrades refused, the other family skipped, too-old modules given the intermediate image
// and a second run), then one upload thread per module with its own TFTP client, the reset
// request and the verification of the version each module reports. Qt-free: lines and progress
// go to a listener (called from the upload threads too), the caller shows the abort text.
//
//   config::FirmwareUploader uploader(app, listener);
//   auto outcome = uploader.Run(path, {"192.168.202.20", "192.168.202.21"});
//   // from another thread: uploader.Abort();
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "config/firmware_file.h"

class CMRegApp;

namespace config {

// The 16-byte reset request the modules take as "restart with the new firmware".
inline constexpr uint8_t kUpgradeResetRequest[16] = {
    0xb0, 0x00, 0x01, 0x08, 0x11, 0x00, 0x00, 0x80, 0x4d, 0x47, 0x4d, 0x54, 0x00, 0x00, 0x00, 0x40};

struct UpgradeOptions {
  uint32_t resetWaitMs = 6000;     // after the uploads, before the reset request
  uint32_t restartWaitMs = 15000;  // after the reset request, before the verification
  uint32_t readPauseMs = 500;      // between reads of the version
  int versionConnects = 2;         // connection attempts of the version test
  int verifyConnects = 10;         // connection attempts of the verification
  int readsPerConnect = 5;
  uint16_t tftpPort = 69;
  uint16_t modbusPort = 502;
  uint16_t servicePort = 23;  // the PLC program's length is read back there
  bool plcMode = false;
  std::string dataFolder;  // of the intermediate images; empty: FirmwareDataFolder()
};

class UpgradeListener {
 public:
  virtual ~UpgradeListener() = default;
  // One output line for the module at `listIndex` (-1: not tied to one module). Called from
  // the upload threads as well as from the thread of Run.
  virtual void Line(int listIndex, const std::string& text) = 0;
  // Bytes of the current transfer to the module at `listIndex`.
  virtual void Progress(int /*listIndex*/, uint32_t /*done*/, uint32_t /*size*/) {}
  // The stage the run is in ("family check" or "version test", "upload", "reset", "verify",
  // "second run").
  virtual void Stage(const std::string& /*text*/) {}
};

// How one module of the run ended: "Done", "Error", "WARN", "SKIPPED", "Failed" (upload or
// image failed), "aborted"; ms from the start of the run to its last line.
struct UpgradeModuleResult {
  std::string ip;
  std::string result;
  std::string detail;
  uint32_t ms = 0;
  // The version the last verification read (major reduced by 100 as compared); none when not
  // read.
  std::optional<FirmwareVersion> versionRead;
};

struct UpgradeOutcome {
  bool started = false;   // uploads began (false: refused before any upload)
  bool aborted = false;   // Abort() ended it
  std::string abortText;  // "Vorgang abgebrochen..." when the version tests stopped the run
  std::vector<UpgradeModuleResult> modules;  // in list order
  bool AllDone() const;
};

class FirmwareUploader {
 public:
  FirmwareUploader(CMRegApp& app, UpgradeListener& listener, UpgradeOptions options = {});

  // The whole run for the modules (IP texts, list order). The file is checked first; a refusal
  // is returned in abortText with started false.
  UpgradeOutcome Run(const std::string& path, const std::vector<std::string>& modules);
  // Any thread: ends waits and transfers; threads leave their loops.
  void Abort();
  bool Aborted() const { return abort_.load(); }

 private:
  struct Job;
  using Jobs = std::vector<std::unique_ptr<Job>>;
  // Upload run steps 1..7 for `jobs`; fills the results of their modules.
  void UploadRun(Jobs& jobs, const FirmwareFileCheck& file,
                 std::vector<UpgradeModuleResult>& results);
  void UploadThread(Job& job);
  // Register 17 and 25 of a module (0, 0 when not read).
  bool ReadVersion(const std::string& ip, int connects, uint16_t* register17, uint16_t* register25);
  // Register 6 of a module (its device-type code for the PLC program's family rule).
  std::optional<uint16_t> ReadRegister6(const std::string& ip, int connects);
  // PLC mode: the family rule of the connections page over every module; the refusal text, or
  // empty when every module may take the program.
  std::string CheckPlcFamilies(const std::string& path, const std::vector<std::string>& modules);
  void SendReset(const std::vector<std::string>& ips);
  // Sleeps up to ms; false when aborted.
  bool Wait(uint32_t ms);
  void Emit(const Job& job, const std::string& text);
  uint32_t Elapsed() const;

  CMRegApp& app_;
  UpgradeListener& listener_;
  UpgradeOptions options_;
  std::atomic<bool> abort_{false};
  std::mutex jobsMutex_;  // the job states while Abort() runs
  Jobs* running_ = nullptr;
  uint32_t start_ = 0;
  std::vector<uint8_t> plcProgram_;  // PLC mode: the file as sent, for the read-back
};

}  // namespace config
