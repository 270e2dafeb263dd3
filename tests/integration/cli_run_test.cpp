// quillmar-cli writes the same start line and exit banner to the same event log as the
// desktop program, and prints its results on stdout.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "fixtures/lab.h"
#include "fixtures/temp_log.h"

namespace {

// quillmar-cli in a lab, with a temporary folder and a settings folder of its own.
struct CliInLab {
  test::Lab lab;
  fixtures::TempFolder temp;
  fixtures::TempFolder config;

  test::RunResult operator()(const std::vector<std::string>& args,
                             const std::vector<std::string>& environment = {}) {
    std::vector<std::string> argv = {"env", "TMPDIR=" + temp.path(),
                                     "XDG_CONFIG_HOME=" + config.path()};
    argv.insert(argv.end(), environment.begin(), environment.end());
    argv.push_back(test::BuiltProgram("apps/quillmar-cli"));
    argv.insert(argv.end(), args.begin(), args.end());
    return lab.Exec("pc", argv, 30000);
  }
};

TEST(CliRun, LogsStartAndExitAroundACommand) {
  QM_SKIP_WITHOUT_LAB();
  CliInLab cli;

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
  for (const auto& entry : std::filesystem::directory_iterator(cli.temp.path())) {
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

// Only the asked command's options are built at start: the program's help still lists every
// command, a command's help shows its own sub-commands and options, and --json/--yes are taken
// before and after the command.
TEST(CliRun, HelpListsEveryCommandAndOptionsStandAnywhere) {
  QM_SKIP_WITHOUT_LAB();
  CliInLab cli;
  const test::RunResult help = cli({"--help"});
  ASSERT_EQ(help.exitCode, 0) << help.err;
  for (const char* command : {"backup", "discover", "modules", "param", "read", "tftp", "topology",
                              "upgrade", "version"}) {
    EXPECT_TRUE(std::regex_search(help.out, std::regex(std::string("\\n +") + command + " ")))
        << command << " missing in:\n"
        << help.out;
  }
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string output;  // a regular expression found in stdout
  };
  const std::vector<Case> cases = {
      {{"tftp", "--help"}, 0, "\\n +put +Upload"},
      {{"tftp", "put", "--help"}, 0, "\\n +remote TEXT +Name on the module"},
      {{"--yes", "tftp", "get", "--help"}, 0, "\\n +local TEXT REQUIRED +Local file"},
      {{"version", "--json"}, 0, R"(^\{"product":"Quillmar","version":"[0-9.]+"\}\n$)"},
      {{"--json", "--yes", "version"}, 0, R"(^\{"product":"Quillmar")"},
      {{"version", "--yes"}, 0, "^Quillmar Version"},
      {{"--json", "no-such-command"}, 2, "^$"},
      {{"version", "tftp"}, 2, "^$"},  // one command per line
  };
  for (const Case& c : cases) {
    std::string line;
    for (const auto& arg : c.args) line += arg + " ";
    const test::RunResult result = cli(c.args);
    EXPECT_EQ(result.exitCode, c.exitCode) << line << result.err;
    EXPECT_TRUE(std::regex_search(result.out, std::regex(c.output))) << line << "\n"
                                                                     << result.out << result.err;
  }
}

// The capture library (and the dozen libraries it brings) is loaded at the first capture, not
// at every start: a command that needs none runs without it.
TEST(CliRun, StartsWithoutTheCaptureLibrary) {
  QM_SKIP_WITHOUT_LAB();
  CliInLab cli;
  // The loader names every library it loads on stderr.
  const test::RunResult run = cli({"version"}, {"LD_DEBUG=libs"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_NE(run.err.find("libc.so"), std::string::npos) << "no loader trace:\n" << run.err;
  EXPECT_EQ(run.err.find("libpcap"), std::string::npos) << run.err;
}

}  // namespace
