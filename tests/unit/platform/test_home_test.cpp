// Every test program runs with a home and a settings folder of its own (environment/
// test_folders.h): a profile the developer keeps in the real home never reaches a test.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "environment/test_folders.h"
#include "fixtures/temp_log.h"
#include "platform/profile.h"

extern char** environ;

namespace {

// Set in the copy of this program that the test starts: the file to write the profile's
// language entry into.
constexpr const char* kProbeOutput = "QM_PROFILE_PROBE_OUTPUT";

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

TEST(TestHomeTest, HomeAndSettingsFolderAreInTheRunFolder) {
  const char* home = std::getenv("HOME");
  ASSERT_NE(home, nullptr);
  EXPECT_TRUE(StartsWith(home, fixtures::TestRunFolder())) << home;
  EXPECT_TRUE(StartsWith(platform::UserConfigFolder(), fixtures::TestRunFolder()))
      << platform::UserConfigFolder();
}

// Run only as the started copy: what the default profile store reads as the language.
TEST(TestHomeTest, ProbeWritesTheProfilesLanguage) {
  const char* output = std::getenv(kProbeOutput);
  if (output == nullptr) GTEST_SKIP() << "run by DevelopersProfileDoesNotReachATest";
  platform::IniProfileStore profile;
  std::ofstream(output) << "[" << profile.GetString("Settings", "Language", "") << "]";
}

// This program, started with the given changes to its environment ("NAME=value" sets,
// "NAME" removes), running the probe; returns what the probe wrote.
std::string ProbeWith(const std::vector<std::string>& changes, const std::string& output) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    const std::string variable = *entry;
    const std::string name = variable.substr(0, variable.find('='));
    bool changed = false;
    for (const std::string& change : changes)
      changed = changed || change.substr(0, change.find('=')) == name;
    if (!changed) environment.push_back(variable);
  }
  for (const std::string& change : changes)
    if (change.find('=') != std::string::npos) environment.push_back(change);
  environment.push_back(std::string(kProbeOutput) + "=" + output);
  std::vector<char*> envp;
  for (std::string& variable : environment) envp.push_back(variable.data());
  envp.push_back(nullptr);
  std::string filter = "--gtest_filter=TestHomeTest.ProbeWritesTheProfilesLanguage";
  std::string self = "/proc/self/exe";
  char* argv[] = {self.data(), filter.data(), nullptr};
  const pid_t child = fork();
  if (child == 0) {
    execve("/proc/self/exe", argv, envp.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "probe status " << status;
  return fixtures::ReadFile(output);
}

TEST(TestHomeTest, DevelopersProfileDoesNotReachATest) {
  fixtures::TempFolder folder;
  // A developer's home whose profile chooses English.
  const std::string home = folder.path() + "home";
  mkdir(home.c_str(), 0700);
  mkdir((home + "/.config").c_str(), 0700);
  mkdir((home + "/.config/Corvenna").c_str(), 0700);
  std::ofstream(home + "/.config/Corvenna/Quillmar.conf") << "[Settings]\nLanguage=en\n";
  struct Case {
    const char* how;
    std::vector<std::string> changes;
  };
  const Case cases[] = {
      {"HOME only", {"HOME=" + home, "XDG_CONFIG_HOME"}},
      {"XDG_CONFIG_HOME", {"HOME=" + home, "XDG_CONFIG_HOME=" + home + "/.config"}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    EXPECT_EQ(ProbeWith(c.changes, folder.path() + "probe" + std::to_string(n++)), "[]");
  }
}

}  // namespace
