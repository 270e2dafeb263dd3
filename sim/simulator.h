#pragma once
// A whole simulated line in one process: the modules, their addresses on the line-side
// interface, the Modbus TCP server, the UDP protocol answers from raw frames and the control
// socket, all driven by one event loop (plus one thread that reads the capture).
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/capture.h"
#include "sim/addresses.h"
#include "sim/event_loop.h"
#include "sim/line.h"
#include "sim/management.h"
#include "sim/module.h"
#include "sim/node_commands.h"
#include "sim/udp_protocol.h"

namespace sim {

class ModbusServer;
class ControlServer;
class TftpServer;
class ServicePortServer;
class FlashImageServer;
class PlcDataServer;

struct SimulatorOptions {
  std::string ifname;         // line-side interface; empty: no addresses, no raw frames
  uint16_t modbusPort = 502;  // 0 picks a free port (tests)
  // 0 picks a free port: tests that run outside a lab never take the well-known ports.
  uint16_t tftpPort = 0;        // linesim: 69
  uint16_t servicePort = 0;     // linesim: 23
  uint16_t flashImagePort = 0;  // linesim: 55557
  uint16_t plcDataPort = 0;     // linesim: 55559
  std::string modbusBindAddress = "0.0.0.0";
  std::string controlPath;  // Unix socket of the control commands; empty: none
  platform::CaptureDriver* captureDriver = nullptr;  // needed when ifname is set
};

class Simulator {
 public:
  Simulator(LineSetup line, SimulatorOptions options);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Adds the addresses, opens the sockets and the capture. False with *error on failure.
  bool Start(std::string* error);
  void Run() { loop_.Run(); }
  void Stop() { loop_.Stop(); }  // thread-safe
  EventLoop& Loop() { return loop_; }
  uint16_t ModbusPort() const;
  uint16_t TftpPort() const;
  uint16_t ServicePort() const;
  uint16_t FlashImagePort() const;
  uint16_t PlcDataPort() const;
  // Why the capture stopped the simulator, empty when it did not.
  std::string CaptureError() const;

  size_t ModuleCount() const { return modules_.size(); }
  SimModule& Module(size_t index) { return *modules_[index]; }
  const LineSetup& Line() const { return line_; }

  // Module life, all on the loop thread.
  void Kill(size_t index);
  void Revive(size_t index);
  // `silentAtOnce`: the module is gone from the network before its connections close, so that
  // no client can connect to it again during the restart (a module that restarts while it
  // receives a request answers nothing more). Otherwise queued answers go out first.
  void Reboot(size_t index, uint32_t ms, bool silentAtOnce = false);
  void SetFaults(size_t index, const Faults& faults);
  void ChangeNetwork(size_t index, uint32_t address, uint32_t mask, uint32_t gateway);
  // Set NodeIP from the PC (on the loop thread).
  void TakeSetNodeIp(size_t index, uint32_t address, uint32_t mask, uint32_t gateway);

  // Called by the Modbus server.
  SimModule* ReachableModuleAt(uint32_t localAddress, size_t* index);
  void RunCommand(size_t index, const ModuleCommand& command);
  std::mt19937& Random() { return random_; }

  // Called with one captured frame (on the loop thread).
  void OnCapturedFrame(const std::vector<uint8_t>& frame);
  void OnNodeCommandFrame(const std::vector<uint8_t>& frame);
  void OnManagementFrame(const std::vector<uint8_t>& frame);

  // One control request, answered with {"ok": true, ...} or {"ok": false, "error": text}.
  nlohmann::json HandleControl(const nlohmann::json& request);

 private:
  void AddAddress(size_t index);
  void RemoveAddress(size_t index);
  void CaptureLoop();
  nlohmann::json ModuleJson(size_t index) const;
  size_t FindModule(const nlohmann::json& key) const;  // throws LineError

  LineSetup line_;
  SimulatorOptions options_;
  EventLoop loop_;
  std::vector<std::unique_ptr<SimModule>> modules_;
  std::vector<uint64_t> generation_;  // bumped on kill/revive/reboot; stale timers skip
  std::vector<bool> addressAdded_;
  std::vector<uint32_t> ownAddress_;  // the address before a shared-address fault
  std::mt19937 random_;
  InterfaceAddresses addresses_;
  std::unique_ptr<ModbusServer> modbus_;
  std::unique_ptr<ControlServer> control_;
  std::unique_ptr<TftpServer> tftp_;
  std::unique_ptr<ServicePortServer> service_;
  std::unique_ptr<FlashImageServer> flashImage_;
  std::unique_ptr<PlcDataServer> plcData_;
  UdpResponder udp_;
  NodeCommandResponder nodeCommands_;
  ManagementResponder management_;
  std::unique_ptr<platform::CaptureHandle> captureHandle_;
  std::unique_ptr<platform::CaptureHandle> sendHandle_;
  std::thread captureThread_;
  std::atomic<bool> captureStop_{false};
  mutable std::mutex captureErrorMutex_;
  std::string captureError_;
};

}  // namespace sim
