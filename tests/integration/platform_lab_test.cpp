// The lab itself and the platform layer inside it.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>
#include <vector>

#include "fixtures/lab.h"
#include "platform/adapters.h"
#include "platform/capture.h"
#include "platform/icmp.h"
#include "platform/neighbours.h"
#include "platform/tick.h"

namespace {

std::string NamespaceList() {
  return test::RunProgram({"ip", "netns", "list"}).out;
}

bool ListsNamespaceOf(const std::string& list, const std::string& labName) {
  return list.find(labName + "-pc") != std::string::npos ||
         list.find(labName + "-line") != std::string::npos;
}

// True while pid runs; a zombie waiting for its reaper counts as ended.
bool Alive(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos || text.size() < close + 3) return false;
  return text[close + 2] != 'Z' && text[close + 2] != 'X';
}

// Gives a process that was just killed a moment to be gone.
bool EndsWithin(int pid, uint32_t timeoutMs) {
  const uint32_t start = platform::GetTickCount();
  while (Alive(pid)) {
    if (platform::TicksSince(start) >= timeoutMs) return false;
    platform::SleepMs(10);
  }
  return true;
}

TEST(LabTest, UpMakesNamespacesAndDownRemovesThemWithTheirProcesses) {
  QM_SKIP_WITHOUT_LAB();
  std::string name;
  int stubbornPid = 0;
  {
    test::Lab lab(2);
    name = lab.Name();
    ASSERT_LE(lab.PcInterface(2).size(), 15u);
    const std::string list = NamespaceList();
    EXPECT_NE(list.find(lab.Namespace("pc")), std::string::npos) << list;
    EXPECT_NE(list.find(lab.Namespace("line")), std::string::npos) << list;
    EXPECT_NE(list.find(lab.Namespace("line2")), std::string::npos) << list;

    const test::RunResult pcLinks = lab.Exec("pc", {"ip", "-o", "-4", "addr", "show"});
    ASSERT_EQ(pcLinks.exitCode, 0) << pcLinks.err;
    EXPECT_NE(pcLinks.out.find(lab.PcInterface(1) + "    inet 192.168.202.10/24"),
              std::string::npos)
        << pcLinks.out;
    EXPECT_NE(pcLinks.out.find(lab.PcInterface(2) + "    inet 192.168.203.10/24"),
              std::string::npos)
        << pcLinks.out;
    const test::RunResult lineAddresses = lab.Exec("line", {"ip", "-o", "-4", "addr", "show"});
    EXPECT_EQ(lineAddresses.out.find(lab.LineInterface(1)), std::string::npos)
        << "the line side carries no address: " << lineAddresses.out;

    const test::RunResult offload = lab.Exec("pc", {"ethtool", "-k", lab.PcInterface(1)});
    EXPECT_NE(offload.out.find("tx-checksumming: off"), std::string::npos) << offload.out;
    const test::RunResult ping = lab.Exec("line2", {"sysctl", "-n", "net.ipv4.ping_group_range"});
    EXPECT_EQ(ping.out, "0\t2147483647\n");

    // A detached process that ignores SIGTERM is still removed by down.
    const test::RunResult daemon = lab.Exec(
        "line", {"sh", "-c",
                 "setsid sh -c \"trap '' TERM; exec sleep 600\" </dev/null >/dev/null 2>&1 & "
                 "echo $!"});
    ASSERT_EQ(daemon.exitCode, 0) << daemon.err;
    stubbornPid = std::stoi(daemon.out);
    ASSERT_TRUE(Alive(stubbornPid));
  }
  EXPECT_TRUE(EndsWithin(stubbornPid, 5000)) << "process " << stubbornPid << " outlived its lab";
  EXPECT_FALSE(ListsNamespaceOf(NamespaceList(), name));
}

TEST(LabTest, StaleSweepRemovesLabsOfEndedCreatorsOnly) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab live;
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  ASSERT_GT(ended, 0);
  waitpid(ended, nullptr, 0);
  const std::string orphan = "qs" + std::to_string(getpid() % 100000000);
  const std::string lab = test::SourceFile("tools/lab");
  const test::RunResult up =
      test::RunProgram({lab, "up", orphan, "--owner", std::to_string(getpid())});
  ASSERT_EQ(up.exitCode, 0) << up.err;
  // Hand the lab over to the ended process, as if its creator had crashed.
  {
    std::ofstream owner("/run/quillmar-lab/" + orphan + "/owner");
    owner << ended << '\n';
  }
  const test::RunResult sweep = test::RunProgram({lab, "down", "--stale", orphan, live.Name()});
  EXPECT_EQ(sweep.exitCode, 0) << sweep.err;
  const std::string list = NamespaceList();
  EXPECT_FALSE(ListsNamespaceOf(list, orphan)) << list;
  EXPECT_NE(list.find(live.Namespace("pc")), std::string::npos) << list;
  if (ListsNamespaceOf(list, orphan)) test::RunProgram({lab, "down", orphan});
}

// What one sweep test made: labs in its own state folder, foreign namespaces and processes.
// Everything goes again whatever the test's outcome.
class SweepScene {
 public:
  SweepScene() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qm-labstate-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) state_ = pattern;
  }
  ~SweepScene() {
    for (const int pid : sleepers_) kill(pid, SIGKILL);
    for (const pid_t pid : processes_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    for (const std::string& lab : labs_) Lab({"down", lab});
    for (const std::string& ns : namespaces_) test::RunProgram({"ip", "netns", "del", ns});
    if (!state_.empty()) test::RunProgram({"rm", "-rf", state_});
  }
  const std::string& State() const { return state_; }
  // tools/lab with this scene's state folder.
  test::RunResult Lab(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {"env", "QM_LAB_STATE=" + state_,
                                     test::SourceFile("tools/lab")};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::RunProgram(argv, 60000);
  }
  bool Up(const std::string& name, pid_t owner) {
    labs_.push_back(name);
    return Lab({"up", name, "--owner", std::to_string(owner)}).exitCode == 0;
  }
  bool AddForeignNamespace(const std::string& ns) {
    namespaces_.push_back(ns);
    return test::RunProgram({"ip", "netns", "add", ns}).exitCode == 0;
  }
  // A child that waits until it is killed (or this process ends).
  pid_t Waiter() {
    const pid_t pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      for (;;) pause();
    }
    if (pid > 0) processes_.push_back(pid);
    return pid;
  }
  void End(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    processes_.erase(std::remove(processes_.begin(), processes_.end(), pid), processes_.end());
  }
  // A process inside namespace ns; its pid.
  int SleeperIn(const std::string& ns) {
    const test::RunResult run = test::RunProgram(
        {"sh", "-c",
         "ip netns exec " + ns + " setsid sleep 600 </dev/null >/dev/null 2>&1 & echo $!"});
    const int pid = run.exitCode == 0 ? std::atoi(run.out.c_str()) : 0;
    if (pid > 0) sleepers_.push_back(pid);
    return pid;
  }

 private:
  std::string state_;
  std::vector<std::string> labs_;
  std::vector<std::string> namespaces_;
  std::vector<pid_t> processes_;
  std::vector<int> sleepers_;
};

std::string Base36(unsigned long value) {
  std::string text;
  do {
    text.insert(text.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[value % 36]);
    value /= 36;
  } while (value != 0);
  return text;
}

bool HasNamespace(const std::string& list, const std::string& ns) {
  std::istringstream lines(list);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.substr(0, line.find(' ')) == ns) return true;
  }
  return false;
}

TEST(LabTest, SweepWithoutNamesRemovesOnlyMarkedLabsOfEndedCreators) {
  QM_SKIP_WITHOUT_LAB();
  SweepScene scene;
  ASSERT_FALSE(scene.State().empty());
  const std::string id = Base36(static_cast<unsigned long>(getpid()));
  const std::string mine = "qw" + id + "a";     // this test run's lab
  const std::string theirs = "qw" + id + "b";   // a lab of another run, still going
  const std::string crashed = "qw" + id + "c";  // a lab whose creator is gone
  const std::string foreign = "qw" + id + "f";  // namespaces the lab never made
  const pid_t otherRun = scene.Waiter();
  ASSERT_GT(otherRun, 0);
  const pid_t crashedRun = scene.Waiter();
  ASSERT_GT(crashedRun, 0);
  ASSERT_TRUE(scene.Up(mine, getpid()));
  ASSERT_TRUE(scene.Up(theirs, otherRun));
  ASSERT_TRUE(scene.Up(crashed, crashedRun));
  scene.End(crashedRun);
  ASSERT_TRUE(scene.AddForeignNamespace(foreign + "-pc"));
  ASSERT_TRUE(scene.AddForeignNamespace(foreign + "-line"));
  const int foreignProcess = scene.SleeperIn(foreign + "-pc");
  ASSERT_GT(foreignProcess, 0);
  // Someone else made a namespace of the crashed lab's name after the lab's own was gone.
  ASSERT_EQ(test::RunProgram({"ip", "netns", "del", crashed + "-line"}).exitCode, 0);
  ASSERT_TRUE(scene.AddForeignNamespace(crashed + "-line"));

  const test::RunResult sweep = scene.Lab({"down", "--stale"});
  EXPECT_EQ(sweep.exitCode, 0) << sweep.err;
  std::string list = NamespaceList();
  for (const std::string& ns : {mine + "-pc", mine + "-line", theirs + "-pc", theirs + "-line",
                                foreign + "-pc", foreign + "-line", crashed + "-line"}) {
    EXPECT_TRUE(HasNamespace(list, ns)) << ns << " was removed:\n" << list;
  }
  EXPECT_FALSE(HasNamespace(list, crashed + "-pc")) << list;
  EXPECT_TRUE(Alive(foreignProcess)) << "the sweep killed a process of a foreign namespace";
  EXPECT_EQ(scene.Lab({"list"}).out, mine + "\n" + theirs + "\n");

  // Neither `down NAME` removes namespaces it did not make.
  EXPECT_NE(scene.Lab({"down", foreign}).exitCode, 0);
  EXPECT_TRUE(HasNamespace(NamespaceList(), foreign + "-pc"));

  // Once the other run has ended, its lab is stale too.
  scene.End(otherRun);
  EXPECT_EQ(scene.Lab({"down", "--stale"}).exitCode, 0);
  list = NamespaceList();
  EXPECT_FALSE(HasNamespace(list, theirs + "-pc")) << list;
  EXPECT_FALSE(HasNamespace(list, theirs + "-line")) << list;
  EXPECT_TRUE(HasNamespace(list, mine + "-pc")) << list;
  EXPECT_EQ(scene.Lab({"list"}).out, mine + "\n");
}

TEST(LabTest, ExecReportsExitCodeOutputAndTimeOut) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  const test::RunResult run = lab.Exec("pc", {"sh", "-c", "echo out; echo err >&2; exit 7"});
  EXPECT_EQ(run.exitCode, 7);
  EXPECT_EQ(run.out, "out\n");
  EXPECT_EQ(run.err, "err\n");
  EXPECT_FALSE(run.timedOut);
  const test::RunResult slow = lab.Exec("pc", {"sleep", "30"}, 200);
  EXPECT_TRUE(slow.timedOut);
}

TEST(LabTest, RunInNamespaceSeesOnlyTheLabInterfaces) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  const std::optional<std::string> links = lab.RunInNamespaceForText("pc", [] {
    return test::RunProgram({"ls", "/sys/class/net"}).out;
  });
  ASSERT_TRUE(links.has_value());
  EXPECT_EQ(*links, "lo\n" + lab.PcInterface(1) + "\n");
  EXPECT_EQ(lab.RunInNamespace("pc", [] { return 42; }), 42);
  EXPECT_EQ(lab.RunInNamespace("pc", []() -> int { abort(); }), test::Lab::kRunFailed);
}

// ---------------------------------------------------------------------------------------------
// Platform layer inside the lab.

std::string Ipv4(uint32_t networkOrder) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr address{};
  address.s_addr = networkOrder;
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

uint32_t Ipv4Value(const char* text) {
  in_addr address{};
  inet_pton(AF_INET, text, &address);
  return address.s_addr;
}

std::string MacString(const platform::MacAddress& mac) {
  char text[18];
  snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
           mac[4], mac[5]);
  return text;
}

// One line per adapter: name | description | mac | address/mask ...
std::string DescribeAdapters() {
  const auto adapters = platform::ListAdapters();
  if (!adapters) return "ListAdapters failed";
  std::ostringstream text;
  for (const platform::AdapterInfo& adapter : *adapters) {
    text << adapter.name << " | " << adapter.description << " | " << MacString(adapter.mac) << " |";
    for (const platform::Ipv4Entry& entry : adapter.addresses) {
      text << ' ' << Ipv4(entry.address) << '/' << Ipv4(entry.mask);
    }
    text << '\n';
  }
  return text.str();
}

std::string InterfaceMac(const test::Lab& lab, const std::string& ns, const std::string& name) {
  std::string mac = lab.Exec(ns, {"cat", "/sys/class/net/" + name + "/address"}).out;
  mac.erase(std::remove(mac.begin(), mac.end(), '\n'), mac.end());
  return mac;
}

TEST(PlatformLabTest, AdapterListShowsTheLabVethsInSystemOrderAndNothingElse) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab(2);
  const std::string p1 = lab.PcInterface(1);
  const std::string p2 = lab.PcInterface(2);
  // A second address on adapter 1, and a veth pair that is down (not adapters).
  ASSERT_EQ(lab.Exec("pc", {"ip", "addr", "add", "10.1.2.3/8", "dev", p1}).exitCode, 0);
  ASSERT_EQ(lab.Exec("pc", {"ip", "link", "add", lab.Name() + "-d", "type", "veth", "peer", "name",
                            lab.Name() + "-e"})
                .exitCode,
            0);

  const std::optional<std::string> adapters = lab.RunInNamespaceForText("pc", DescribeAdapters);
  ASSERT_TRUE(adapters.has_value());
  const std::string expected =
      p1 + " | " + p1 + " 192.168.202.10 | " + InterfaceMac(lab, "pc", p1) +
      " | 192.168.202.10/255.255.255.0 10.1.2.3/255.0.0.0\n" + p2 + " | " + p2 +
      " 192.168.203.10 | " + InterfaceMac(lab, "pc", p2) + " | 192.168.203.10/255.255.255.0\n";
  EXPECT_EQ(*adapters, expected);

  // The line side is up without an address: an adapter described by its name alone.
  const std::optional<std::string> line = lab.RunInNamespaceForText("line2", DescribeAdapters);
  ASSERT_TRUE(line.has_value());
  EXPECT_EQ(*line, lab.LineInterface(2) + " | " + lab.LineInterface(2) + " | " +
                       InterfaceMac(lab, "line2", lab.LineInterface(2)) + " |\n");

  const int found = lab.RunInNamespace("pc", [&] {
    const auto adapter = platform::FindAdapter(p2);
    return adapter && adapter->addresses.size() == 1 && !platform::FindAdapter("lo") &&
                   !platform::FindAdapter(lab.Name() + "-d")
               ? 0
               : 1;
  });
  EXPECT_EQ(found, 0);
}

TEST(PlatformLabTest, CaptureDeviceListHoldsOnlyAdapters) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  const std::optional<std::string> devices = lab.RunInNamespaceForText("pc", [] {
    const platform::CaptureDeviceList list = platform::MakePcapDriver()->ListDevices();
    if (!list.ok) return "failed: " + list.error;
    std::string text;
    for (const platform::CaptureDevice& device : list.devices) {
      text += device.name + " | " + device.description + "\n";
    }
    return text;
  });
  ASSERT_TRUE(devices.has_value());
  EXPECT_EQ(*devices, lab.PcInterface() + " | " + lab.PcInterface() + " 192.168.202.10\n");
}

// A broadcast frame of a local experimental EtherType with a marker in its payload.
std::vector<uint8_t> MarkedFrame(const platform::MacAddress& source, uint32_t marker) {
  std::vector<uint8_t> frame(60, 0);
  std::fill(frame.begin(), frame.begin() + 6, 0xFF);
  std::copy(source.begin(), source.end(), frame.begin() + 6);
  frame[12] = 0x88;
  frame[13] = 0xB5;
  memcpy(frame.data() + 14, &marker, sizeof marker);
  for (size_t i = 18; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i);
  return frame;
}

// Reads frames until the marked one arrives or timeoutMs passes; other frames are skipped.
bool ReadMarkedFrame(platform::CaptureHandle& handle, const std::vector<uint8_t>& expected,
                     uint32_t timeoutMs) {
  const uint32_t start = platform::GetTickCount();
  std::vector<uint8_t> frame;
  for (;;) {
    const uint32_t elapsed = platform::TicksSince(start);
    if (elapsed >= timeoutMs) return false;
    if (!handle.Read(frame, timeoutMs - elapsed)) continue;
    if (frame == expected) return true;
  }
}

TEST(PlatformLabTest, FramesSentOnOneEndAreCapturedOnTheOther) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  const platform::MacAddress noMac{};
  // One child: opens the line end's capture inside the line namespace, then moves to the PC
  // namespace and opens the PC end there; each end sends a marked frame to the other.
  const int result = lab.RunInNamespace("line", [&] {
    auto driver = platform::MakePcapDriver();
    std::string error;
    auto line = driver->Open(lab.LineInterface(), 65536, true, &error);
    if (!line) return 10;
    if (!lab.JoinNetworkNamespace("pc")) return 11;
    auto pc = driver->Open(lab.PcInterface(), 65536, true, &error);
    if (!pc) return 12;
    const auto toLine = MarkedFrame(noMac, 0x51C0FFEE);
    if (!pc->Send(toLine.data(), toLine.size())) return 13;
    if (!ReadMarkedFrame(*line, toLine, 5000)) return 14;
    const auto toPc = MarkedFrame(noMac, 0x51BEEF00);
    if (!line->Send(toPc.data(), toPc.size())) return 15;
    if (!ReadMarkedFrame(*pc, toPc, 5000)) return 16;
    return 0;
  });
  EXPECT_EQ(result, 0) << "10/12 open, 13/15 send, 14/16 not captured";
}

TEST(PlatformLabTest, ReadWithoutTrafficReturnsFalseAfterItsTimeOut) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  const int result = lab.RunInNamespace("pc", [&] {
    std::string error;
    auto handle = platform::MakePcapDriver()->Open(lab.PcInterface(), 65536, true, &error);
    if (!handle) return 10;
    std::vector<uint8_t> frame;
    if (handle->Read(frame, 0)) return 11;
    const uint32_t start = platform::GetTickCount();
    if (handle->Read(frame, 300)) return 12;
    // It waited for its time-out rather than giving up at once.
    if (platform::TicksSince(start) < 300) return 13;
    return 0;
  });
  EXPECT_EQ(result, 0) << "10 open failed, 11/12 a frame came, 13 returned early";
}

TEST(PlatformLabTest, OpeningAMissingDeviceFailsWithAReason) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  const std::optional<std::string> error = lab.RunInNamespaceForText("pc", [] {
    std::string text;
    auto handle = platform::MakePcapDriver()->Open("nosuchif0", 65536, true, &text);
    return handle ? std::string("opened") : text;
  });
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(*error, "opened");
  EXPECT_FALSE(error->empty());
}

TEST(PlatformLabTest, EchoIsAnsweredByAPresentAddressOnly) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  ASSERT_EQ(lab.Exec("line", {"ip", "addr", "add", "192.168.202.50/24", "dev", lab.LineInterface()})
                .exitCode,
            0);
  const int result = lab.RunInNamespace("pc", [] {
    // The lab allows the unprivileged datagram socket: that path is the one taken here.
    const int probe = socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP);
    if (probe < 0) return 10;
    close(probe);
    uint32_t roundTrip = 0;
    if (!platform::PingIpv4(Ipv4Value("192.168.202.50"), 2000, &roundTrip)) return 11;
    if (platform::PingIpv4(Ipv4Value("192.168.202.51"), 300)) return 12;
    return 0;
  });
  EXPECT_EQ(result, 0) << "10 no datagram socket, 11 no answer, 12 absent address answered";
}

// Answers echo requests from a raw socket as a module would, with the answer's data bytes
// changed as the test asks; the kernel's own echo answers are off.
void AnswerEchoes(int rawSocket, bool sendGoodAnswer, std::atomic<bool>& stop) {
  std::vector<uint8_t> packet(2048);
  while (!stop) {
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n = recvfrom(rawSocket, packet.data(), packet.size(), MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n <= 0) {
      platform::SleepMs(1);
      continue;
    }
    const size_t ipHeader = static_cast<size_t>(packet[0] & 0x0F) * 4;
    if (static_cast<size_t>(n) < ipHeader + 8 || packet[ipHeader] != 8) continue;
    std::vector<uint8_t> request(packet.begin() + ipHeader, packet.begin() + n);
    auto sendReply = [&](std::vector<uint8_t> reply) {
      reply[0] = 0;  // echo reply
      reply[2] = reply[3] = 0;
      uint32_t sum = 0;
      for (size_t i = 0; i + 1 < reply.size(); i += 2) sum += reply[i] << 8 | reply[i + 1];
      if (reply.size() % 2) sum += reply.back() << 8;
      while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
      reply[2] = static_cast<uint8_t>(~sum >> 8);
      reply[3] = static_cast<uint8_t>(~sum);
      sendto(rawSocket, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from),
             sizeof from);
    };
    std::vector<uint8_t> wrongByte = request;
    wrongByte.back() ^= 0x01;
    sendReply(wrongByte);
    std::vector<uint8_t> shorter(request.begin(), request.end() - 1);
    sendReply(shorter);
    if (sendGoodAnswer) sendReply(request);
  }
}

TEST(PlatformLabTest, EchoRepliesCountOnlyWithTheSameData) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  ASSERT_EQ(lab.Exec("line", {"ip", "addr", "add", "192.168.202.50/24", "dev", lab.LineInterface()})
                .exitCode,
            0);
  ASSERT_EQ(lab.Exec("line", {"sysctl", "-qw", "net.ipv4.icmp_echo_ignore_all=1"}).exitCode, 0);
  for (const bool goodAnswer : {false, true}) {
    const int result = lab.RunInNamespace("line", [&] {
      const int raw = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
      if (raw < 0) return 10;
      if (!lab.JoinNetworkNamespace("pc")) return 11;
      std::atomic<bool> stop{false};
      std::thread responder(AnswerEchoes, raw, goodAnswer, std::ref(stop));
      const bool answered = platform::PingIpv4(Ipv4Value("192.168.202.50"), 1000);
      stop = true;
      responder.join();
      close(raw);
      return answered ? 1 : 0;
    });
    EXPECT_EQ(result, goodAnswer ? 1 : 0) << (goodAnswer ? "good answer" : "only bad answers");
  }
}

TEST(PlatformLabTest, NeighbourFlushRemovesLearnedEntriesAndKeepsPermanentOnes) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  const std::string pc = lab.PcInterface();
  ASSERT_EQ(lab.Exec("line", {"ip", "addr", "add", "192.168.202.50/24", "dev", lab.LineInterface()})
                .exitCode,
            0);
  ASSERT_EQ(lab.Exec("pc", {"ip", "neigh", "add", "192.168.202.77", "lladdr", "02:00:00:00:00:77",
                            "dev", pc, "nud", "permanent"})
                .exitCode,
            0);
  ASSERT_EQ(lab.RunInNamespace(
                "pc", [] { return platform::PingIpv4(Ipv4Value("192.168.202.50"), 2000) ? 0 : 1; }),
            0);
  const std::string before = lab.Exec("pc", {"ip", "-4", "neigh", "show"}).out;
  ASSERT_NE(before.find("192.168.202.50 "), std::string::npos) << before;

  EXPECT_EQ(lab.RunInNamespace("pc", [] { return platform::FlushNeighbourCache() ? 0 : 1; }), 0);
  const std::string after = lab.Exec("pc", {"ip", "-4", "neigh", "show"}).out;
  EXPECT_EQ(after.find("192.168.202.50 "), std::string::npos) << after;
  EXPECT_NE(after.find("192.168.202.77 "), std::string::npos) << after;
}

}  // namespace
