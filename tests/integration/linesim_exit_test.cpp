// linesim's end inside a lab: whatever ends it (a signal, an exception), the modules'
// addresses and its control socket go with it; a control line it cannot read does not end it,
// and a command line that describes no line is refused before anything is added.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"
#include "fixtures/temp_log.h"
#include "platform/capture.h"
#include "platform/tick.h"
#include "sim/run.h"
#include "sim/simulator.h"

namespace {

using nlohmann::json;

// The IPv4 addresses on the line end of the lab; -1 when they cannot be listed.
int LineAddressCount(const test::Lab& lab) {
  const test::RunResult run =
      lab.Exec("line", {"ip", "-o", "-4", "addr", "show", "dev", lab.LineInterface()});
  if (run.exitCode != 0) return -1;
  return static_cast<int>(std::count(run.out.begin(), run.out.end(), '\n'));
}

bool Exists(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0;
}

// Sends `bytes` and a newline to the control socket; the first answer line ("" when none).
std::string RawControlLine(const std::string& path, const std::string& bytes) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), std::min(path.size(), sizeof address.sun_path - 1));
  std::string answer;
  const std::string line = bytes + "\n";
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size())) {
    timeval wait{3, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char buffer[4096];
    ssize_t got;
    while (answer.find('\n') == std::string::npos &&
           (got = recv(fd, buffer, sizeof buffer, 0)) > 0) {
      answer.append(buffer, static_cast<size_t>(got));
    }
  }
  close(fd);
  return answer.substr(0, answer.find('\n'));
}

TEST(LinesimExit, ASignalEndsItAndItsAddressesAndSocketGoWithIt) {
  QM_SKIP_WITHOUT_LAB();
  for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
    test::Lab lab;
    test::Linesim line(lab, test::SourceFile("sim/lines/demo.json"));
    ASSERT_EQ(LineAddressCount(lab), 12) << signalNumber;
    ASSERT_TRUE(Exists(line.ControlPath()));
    // A line that is not UTF-8 is refused, and the simulator goes on.
    const json refused = json::parse(RawControlLine(line.ControlPath(), "\xff"));
    EXPECT_EQ(refused["ok"], false) << refused.dump();
    EXPECT_EQ(line.List().size(), 12u);
    EXPECT_EQ(LineAddressCount(lab), 12);

    line.Process().Signal(signalNumber);
    EXPECT_EQ(line.Process().Wait(10000), std::optional<int>(0))
        << "signal " << signalNumber << ": " << line.Process().Stderr();
    EXPECT_EQ(LineAddressCount(lab), 0) << "signal " << signalNumber;
    EXPECT_FALSE(Exists(line.ControlPath())) << "signal " << signalNumber;
  }
}

TEST(LinesimExit, AnExceptionEndsTheRunAndItsAddressesAndSocketGoWithIt) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  fixtures::TempFolder folder;
  const std::string controlPath = folder.path() + "control.sock";
  const int result = lab.RunInNamespace("line", [&] {
    auto driver = platform::MakePcapDriver();
    sim::SimulatorOptions options;
    options.ifname = lab.LineInterface();
    options.modbusPort = 0;
    options.controlPath = controlPath;
    options.captureDriver = driver.get();
    int addressesWhileRunning = -1;
    bool socketWhileRunning = false;
    sim::RunOutcome outcome;
    {
      sim::Simulator simulator(sim::LoadLineFile(test::SourceFile("sim/lines/demo.json")), options);
      outcome = sim::RunSimulator(simulator, [&] {
        addressesWhileRunning = LineAddressCount(lab);
        socketWhileRunning = Exists(controlPath);
        simulator.Loop().Post([] { throw std::runtime_error("a handler failed"); });
      });
    }
    if (addressesWhileRunning != 12 || !socketWhileRunning) return 10;
    if (outcome.status != 1) return 11;
    if (outcome.message != "stopped by an error: a handler failed") return 12;
    return 0;
  });
  EXPECT_EQ(result, 0) << "10 not running as set up, 11 not a failure, 12 wrong text";
  EXPECT_EQ(LineAddressCount(lab), 0);
  EXPECT_FALSE(Exists(controlPath));
}

TEST(LinesimExit, CommandLinesThatDescribeNoLineAreRefusedBeforeAnythingIsAdded) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  fixtures::TempFolder folder;
  const std::string twoOnOneNode = folder.path() + "two.json";
  std::ofstream(twoOnOneNode)
      << R"({"chains": [[{"serial": 1, "node": 1}, {"serial": 2, "node": 1}]]})";
  const std::string controlPath = folder.path() + "control.sock";
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"--line", test::SourceFile("sim/lines/demo.json"), "--generate", "5"},
       "linesim: give --line FILE or --generate N[,NETWORKS], not both\n"},
      {{"--generate", "5,abc"}, "linesim: --generate expects N[,NETWORKS], not \"5,abc\"\n"},
      {{"--line", twoOnOneNode},
       "linesim: chains[0][1].node: 192.168.202.20 is also the address of chains[0][0] (serial "
       "1); a duplicate address is the fault \"sharesAddressOf\"\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv = {test::BuiltProgram("sim/linesim")};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    argv.insert(argv.end(), {"--ifname", lab.LineInterface(), "--control", controlPath});
    const test::RunResult run = lab.Exec("line", argv, 20000);
    EXPECT_EQ(run.exitCode, 2) << c.error;
    EXPECT_EQ(run.err, c.error);
    EXPECT_EQ(LineAddressCount(lab), 0) << c.error;
    EXPECT_FALSE(Exists(controlPath)) << c.error;
  }
}

}  // namespace
