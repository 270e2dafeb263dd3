// quillmar-cli writes the same start line and exit banner to the same event log as the
// desktop program, and prints its results on stdout.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "fixtures/lab.h"
#include "fixtures/temp_log.h"

namespace {

TEST(CliRun, LogsStartAndExitAroundACommand) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  fixtures::TempFolder temp;
  fixtures::TempFolder config;
  auto cli = [&](std::vector<std::string> args) {
    std::vector<std::string> argv = {"env", "TMPDIR=" + temp.path(),
                                     "XDG_CONFIG_HOME=" + config.path(),
                                     test::BuiltProgram("apps/quillmar-cli")};
    argv.insert(argv.end(), args.begin(), args.end());
    return lab.Exec("pc", argv, 30000);
  };

  const test::RunResult plain = cli({"version"});
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  EXPECT_TRUE(std::regex_match(plain.out, std::regex("Quillmar Version [0-9.]+\n"))) << plain.out;
  const test::RunResult json = cli({"--json", "version"});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  EXPECT_TRUE(
      std::regex_match(json.out, std::regex(R"(\{"product":"Quillmar","version":"[0-9.]+"\}\n)")))
      << json.out;
  // A command line error ends before the run starts: nothing is logged for it.
  EXPECT_NE(cli({"no-such-command"}).exitCode, 0);

  std::vector<std::string> files;  // one per minute: name order is time order
  for (const auto& entry : std::filesystem::directory_iterator(temp.path())) {
    files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  std::string log;
  for (const auto& file : files) log += fixtures::ReadFile(file);
  const std::string run =
      R"(\d\d:\d\d:\d\d\.\d{1,3}\tInfo\t\d+\tStaring Quillmar\.\.\.\r\r\n)"
      R"(-------------------------------------\r\n<<<< Exit Quillmar at \d\d:\d\d:\d\d>>>>\r\n)";
  EXPECT_TRUE(std::regex_match(log, std::regex(run + run))) << log;
}

}  // namespace
