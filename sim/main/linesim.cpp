// linesim: a simulated conveyor line behind one network interface, or (`linesim ctl`) the
// client of a running linesim's control socket.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "platform/capture.h"
#include "sim/control.h"
#include "sim/line.h"
#include "sim/simulator.h"

namespace {

sim::Simulator* g_simulator = nullptr;

void OnSignal(int) {
  if (g_simulator) g_simulator->Stop();
}

int RunControlClient(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "%s\n", sim::kControlUsage);
    return 2;
  }
  const std::string path = argv[2];
  std::vector<std::string> words(argv + 3, argv + argc);
  try {
    const auto answer = sim::ControlCall(path, sim::ControlRequestFromWords(words));
    std::printf("%s\n", answer.dump().c_str());
    return answer.value("ok", false) ? 0 : 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "linesim ctl: %s\n", error.what());
    return 2;
  }
}

std::pair<int, int> ParseGenerate(const std::string& text) {
  int modules = 0, networks = 1;
  char tail = 0;
  const int parts = std::sscanf(text.c_str(), "%d,%d%c", &modules, &networks, &tail);
  if (parts < 1 || parts > 2) throw sim::LineError("--generate expects N[,NETWORKS]");
  return {modules, networks};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "ctl") return RunControlClient(argc, argv);

  CLI::App app{"linesim: a simulated conveyor line (run it inside a lab's line namespace only)"};
  std::string lineFile, generate, ifname, control;
  uint16_t modbusPort = 502, tftpPort = 69, servicePort = 23;
  bool print = false;
  app.add_option("--line", lineFile, "line description (JSON)");
  app.add_option("--generate", generate,
                 "generate a line of N modules over NETWORKS /24 networks: N[,NETWORKS]");
  app.add_flag("--print", print, "print the (generated) line description and exit");
  app.add_option("--ifname", ifname, "line-side interface: module addresses and raw frames");
  app.add_option("--control", control, "control socket path");
  app.add_option("--modbus-port", modbusPort, "Modbus TCP port (502)");
  app.add_option("--tftp-port", tftpPort, "TFTP port (69)");
  app.add_option("--service-port", servicePort, "service text port (23)");
  app.footer("Control client: linesim ctl PATH COMMAND [ARGS...] (linesim ctl PATH help)");
  CLI11_PARSE(app, argc, argv);

  sim::LineSetup line;
  try {
    nlohmann::json description;
    if (!generate.empty()) {
      const auto [modules, networks] = ParseGenerate(generate);
      description = sim::GenerateLine(modules, networks);
      line = sim::ParseLine(description);
    } else if (!lineFile.empty()) {
      line = sim::LoadLineFile(lineFile);
    } else {
      std::fprintf(stderr, "linesim: give --line FILE or --generate N[,NETWORKS]\n");
      return 2;
    }
    if (print) {
      if (description.is_null()) {
        std::fprintf(stderr, "linesim: --print goes with --generate\n");
        return 2;
      }
      std::printf("%s\n", description.dump(2).c_str());
      return 0;
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "linesim: %s\n", error.what());
    return 2;
  }
  if (ifname.empty()) {
    std::fprintf(stderr, "linesim: --ifname is required (the line end of a lab)\n");
    return 2;
  }

  auto driver = platform::MakePcapDriver();
  sim::SimulatorOptions options;
  options.ifname = ifname;
  options.modbusPort = modbusPort;
  options.tftpPort = tftpPort;
  options.servicePort = servicePort;
  options.controlPath = control;
  options.captureDriver = driver.get();
  sim::Simulator simulator(std::move(line), options);
  std::string error;
  if (!simulator.Start(&error)) {
    std::fprintf(stderr, "linesim: %s\n", error.c_str());
    return 1;
  }
  g_simulator = &simulator;
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGPIPE, SIG_IGN);
  std::fprintf(stderr, "linesim: %zu modules on %s, Modbus port %u%s%s\n", simulator.ModuleCount(),
               ifname.c_str(), simulator.ModbusPort(), control.empty() ? "" : ", control ",
               control.c_str());
  simulator.Run();
  g_simulator = nullptr;
  if (const std::string error = simulator.CaptureError(); !error.empty()) {
    std::fprintf(stderr, "linesim: capture on %s failed: %s\n", ifname.c_str(), error.c_str());
    return 1;
  }
  return 0;
}
