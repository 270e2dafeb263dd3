// The command a command line asks for, found before any command's options are built: the first
// word that names a command, wherever the program's own options stand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/quillmar-cli/cli_command.h"

namespace {

TEST(AskedCliCommand, FirstWordThatNamesACommand) {
  std::vector<CliCommandInfo> commands;
  for (const char* name : {"backup", "read", "tftp", "version"}) {
    commands.push_back(CliCommandInfo{name, "", nullptr});
  }
  struct Case {
    std::vector<const char*> line;  // without the program's name
    std::string asked;
  };
  const std::vector<Case> cases = {
      {{"version"}, "version"},
      {{"--json", "-y", "tftp", "put", "1", "version"}, "tftp"},
      {{"read", "1", "25", "--json"}, "read"},
      {{"--lang", "de", "backup", "--all"}, "backup"},  // an option's value is not a command
      {{"no-such-command", "read"}, "read"},            // refused by the parser all the same
      {{"--help"}, ""},
      {{"versio"}, ""},         // no prefixes
      {{"--", "version"}, ""},  // positional after the end of options
      {{}, ""},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"quillmar-cli"};
    argv.insert(argv.end(), c.line.begin(), c.line.end());
    std::string text;
    for (const char* word : c.line) text += std::string(word) + " ";
    EXPECT_EQ(AskedCliCommand(commands, static_cast<int>(argv.size()), argv.data()), c.asked)
        << text;
  }
}

// Only a line that asks for help makes the program list every command; any other line gets
// the asked command alone.
TEST(AsksForHelp, HelpFlagsAloneOrGroupedBeforeTheEndOfOptions) {
  struct Case {
    std::vector<const char*> line;  // without the program's name
    bool help;
  };
  const std::vector<Case> cases = {
      {{"--help"}, true},
      {{"-h"}, true},
      {{"version", "--help"}, true},
      {{"-yh", "version"}, true},        // a group of short flags
      {{"--json", "read", "-h"}, true},  // after the command
      {{"version"}, false},
      {{"no-such-command"}, false},
      {{"--json", "-y", "tftp", "put", "1", "x.bin"}, false},
      {{"--", "--help"}, false},  // positional after the end of options
      {{"--helper"}, false},
      {{"help"}, false},
      {{}, false},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"quillmar-cli"};
    argv.insert(argv.end(), c.line.begin(), c.line.end());
    std::string text;
    for (const char* word : c.line) text += std::string(word) + " ";
    EXPECT_EQ(AsksForHelp(static_cast<int>(argv.size()), argv.data()), c.help) << text;
  }
}

}  // namespace
