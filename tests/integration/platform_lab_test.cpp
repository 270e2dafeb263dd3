// The lab itself and the platform layer inside it.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "fixtures/lab.h"
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

}  // namespace
