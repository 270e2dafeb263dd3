#include "platform/capture_rights.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(CaptureRightsTest, HelpNamesRootAndTheCapabilities) {
  const std::string help = platform::CaptureRightsHelp();
  EXPECT_NE(help.find("root"), std::string::npos) << help;
  EXPECT_NE(help.find("sudo setcap cap_net_raw,cap_net_admin+eip /"), std::string::npos) << help;
}

// Drops one capability from the effective set in a child and reports what the check says.
int CheckWithout(int capability) {
  const pid_t pid = fork();
  if (pid == 0) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) _exit(2);
    data[capability / 32].effective &= ~(1u << (capability % 32));
    if (syscall(SYS_capset, &header, data) != 0) _exit(2);
    _exit(platform::HasCaptureRights() ? 1 : 0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 3;
}

TEST(CaptureRightsTest, EffectiveCapabilitiesDecide) {
  if (geteuid() != 0) {
    // Without root and without file capabilities the test binary has no rights.
    EXPECT_FALSE(platform::HasCaptureRights());
    return;
  }
  EXPECT_TRUE(platform::HasCaptureRights());
  EXPECT_EQ(CheckWithout(CAP_NET_RAW), 0);
  EXPECT_EQ(CheckWithout(CAP_NET_ADMIN), 0);
  EXPECT_EQ(CheckWithout(CAP_SYS_ADMIN), 1);  // an unrelated capability does not matter
}

}  // namespace
