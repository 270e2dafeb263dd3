// linesim: a simulated conveyor line behind one network interface, or (`linesim ctl`) the
// client of a running linesim's control socket.
#include <signal.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "platform/capture.h"
#include "sim/control.h"
#include "sim/line.h"
#include "sim/run.h"
#include "sim/simulator.h"

namespace {

// The running simulator, for the signal handler: a signal ends the loop, and main's return
// then removes the modules' addresses and the control socket.
std::atomic<sim::Simulator*> g_simulator{nullptr};

void OnSignal(int) {
  if (sim::Simulator* simulator = g_simulator.load()) simulator->Stop();
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

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "ctl") return RunControlClient(argc, argv);

  CLI::App app{"linesim: a simulated conveyor line (run it inside a lab's line namespace only)"};
  std::string lineFile, generate, ifname, control;
  uint16_t modbusPort = 502, tftpPort = 69, servicePort = 23, flashImagePort = 55557,
           plcDataPort = 55559;
  int servedNetwork = 0;
  bool print = false;
  app.add_option("--line", lineFile, "line description (JSON)");
  app.add_option("--generate", generate,
                 "generate a line of N modules over NETWORKS /24 networks: N[,NETWORKS]");
  app.add_option("--network", servedNetwork,
                 "serve only network K (1..NETWORKS) of the generated line: one linesim per "
                 "network");
  app.add_flag("--print", print, "print the (generated) line description and exit");
  app.add_option("--ifname", ifname, "line-side interface: module addresses and raw frames");
  app.add_option("--control", control, "control socket path");
  app.add_option("--modbus-port", modbusPort, "Modbus TCP port (502)");
  app.add_option("--tftp-port", tftpPort, "TFTP port (69)");
  app.add_option("--service-port", servicePort, "service text port (23)");
  app.add_option("--flash-image-port", flashImagePort, "flash image port (55557)");
  app.add_option("--plc-port", plcDataPort, "PLC data port (55559)");
  app.footer("Control client: linesim ctl PATH COMMAND [ARGS...] (linesim ctl PATH help)");
  CLI11_PARSE(app, argc, argv);

  if (!generate.empty() && !lineFile.empty()) {
    std::fprintf(stderr, "linesim: give --line FILE or --generate N[,NETWORKS], not both\n");
    return 2;
  }
  sim::LineSetup line;
  try {
    nlohmann::json description;
    if (!generate.empty()) {
      const auto [modules, networks] = sim::ParseGenerateOption(generate);
      description = sim::GenerateLine(modules, networks, servedNetwork);
      line = sim::ParseLine(description);
    } else if (servedNetwork != 0) {
      std::fprintf(stderr, "linesim: --network goes with --generate\n");
      return 2;
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
  options.flashImagePort = flashImagePort;
  options.plcDataPort = plcDataPort;
  options.controlPath = control;
  options.captureDriver = driver.get();
  sim::Simulator simulator(std::move(line), options);
  // Handlers first: a signal during Start ends the run as soon as it begins, and the
  // simulator's destructor removes whatever Start added.
  g_simulator = &simulator;
  struct sigaction stop {};
  stop.sa_handler = OnSignal;
  stop.sa_flags = SA_RESTART;
  sigemptyset(&stop.sa_mask);
  for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) sigaction(signalNumber, &stop, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  const sim::RunOutcome outcome = sim::RunSimulator(simulator, [&] {
    std::fprintf(stderr, "linesim: %zu modules on %s, Modbus port %u%s%s\n",
                 simulator.ModuleCount(), ifname.c_str(), simulator.ModbusPort(),
                 control.empty() ? "" : ", control ", control.c_str());
  });
  if (!outcome.message.empty()) std::fprintf(stderr, "linesim: %s\n", outcome.message.c_str());
  g_simulator = nullptr;
  return outcome.status;
}
