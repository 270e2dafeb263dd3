// One copy of quillmar per user, with two real processes: a second copy without a command
// line brings the first to the front and ends without logging; one with a command line closes
// the first (which exits with its banner) and goes on. SIGTERM and SIGINT end a copy through
// its normal end. The programs run inside a lab, with their own runtime, temporary and
// settings folders, so nothing touches the real adapter or the user's files.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <regex>
#include <thread>

#include "fixtures/lab.h"
#include "fixtures/temp_log.h"

namespace {

namespace fs = std::filesystem;

class SingleInstanceTest : public ::testing::Test {
 protected:
  fixtures::TempFolder runtime;  // per-user runtime folder (mode 0700)
  fixtures::TempFolder temp;     // TMPDIR: the event log goes here
  fixtures::TempFolder config;   // settings

  std::vector<std::string> Quillmar(std::vector<std::string> args = {}) const {
    std::vector<std::string> argv = {"env",
                                     "QT_QPA_PLATFORM=offscreen",
                                     "XDG_RUNTIME_DIR=" + runtime.path(),
                                     "TMPDIR=" + temp.path(),
                                     "XDG_CONFIG_HOME=" + config.path(),
                                     test::BuiltProgram("apps/quillmar")};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }

  // Every event-log file of the run, in name order, one after the other.
  std::string Log() const {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(temp.path())) {
      const std::string name = entry.path().filename();
      if (name.rfind("Quillmar_", 0) == 0) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    std::string text;
    for (const auto& file : files) text += fixtures::ReadFile(file);
    return text;
  }
  static size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
      ++count;
    return count;
  }
  // Polls the log until it holds `starts` start lines (a started copy is listening by then).
  bool WaitForStarts(size_t starts) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < until) {
      if (Count(Log(), "\tStaring Quillmar...\r\r\n") >= starts) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  static constexpr const char* kStart = "\tStaring Quillmar...\r\r\n";
  static constexpr const char* kBannerStart =
      "-------------------------------------\r\n<<<< Exit Quillmar at ";
};

TEST_F(SingleInstanceTest, SecondCopyWithoutCommandLineEndsWithoutLogging) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  auto first = lab.Start("pc", Quillmar());
  ASSERT_TRUE(WaitForStarts(1)) << first.Stderr();

  const test::RunResult second = lab.Exec("pc", Quillmar(), 30000);
  EXPECT_FALSE(second.timedOut);
  EXPECT_EQ(second.exitCode, 0) << second.err;
  EXPECT_TRUE(first.Running());
  const std::string running = Log();
  EXPECT_EQ(Count(running, kStart), 1u) << running;
  EXPECT_EQ(Count(running, "Exit Quillmar"), 0u) << running;

  // SIGTERM ends the first copy through its normal end: the banner closes the log.
  first.Signal(SIGTERM);
  const auto code = first.Wait(30000);
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 0);
  // Whatever the main window logged in between, the run ends with the banner.
  const std::string log = Log();
  EXPECT_EQ(log.find(kStart) + std::string(kStart).size(), log.find('\n') + 1)
      << "the first line is the start line";
  EXPECT_EQ(Count(log, kStart), 1u);
  const size_t banner = log.rfind(kBannerStart);
  ASSERT_NE(banner, std::string::npos) << log;
  EXPECT_TRUE(std::regex_match(log.substr(banner + std::string(kBannerStart).size()),
                               std::regex(R"(\d\d:\d\d:\d\d>>>>\r\n)")))
      << log;
}

TEST_F(SingleInstanceTest, SecondCopyWithCommandLineClosesTheFirstAndGoesOn) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  auto first = lab.Start("pc", Quillmar());
  ASSERT_TRUE(WaitForStarts(1)) << first.Stderr();

  auto second = lab.Start("pc", Quillmar({"192.168.202.21"}));
  const auto firstCode = first.Wait(30000);
  ASSERT_TRUE(firstCode.has_value()) << "the first copy did not close";
  EXPECT_EQ(*firstCode, 0);
  ASSERT_TRUE(WaitForStarts(2)) << second.Stderr();
  EXPECT_TRUE(second.Running());

  // A third copy without a command line now finds the second one.
  const test::RunResult third = lab.Exec("pc", Quillmar(), 30000);
  EXPECT_EQ(third.exitCode, 0);
  EXPECT_TRUE(second.Running());

  second.Signal(SIGINT);
  const auto secondCode = second.Wait(30000);
  ASSERT_TRUE(secondCode.has_value());
  EXPECT_EQ(*secondCode, 0);

  // The runs follow each other: start, banner of the first; start, banner of the second.
  const std::string log = Log();
  const size_t start1 = log.find(kStart);
  const size_t banner1 = log.find(kBannerStart);
  const size_t start2 = log.find(kStart, start1 + 1);
  const size_t banner2 = log.find(kBannerStart, banner1 + 1);
  ASSERT_NE(banner2, std::string::npos) << log;
  EXPECT_LT(start1, banner1);
  EXPECT_LT(banner1, start2);
  EXPECT_LT(start2, banner2);
  EXPECT_EQ(Count(log, kStart), 2u);
}

}  // namespace
