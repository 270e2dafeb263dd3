// The CLI's profile store: the desktop program's settings file, without Qt. The file text the
// store must read and write is the one the desktop program's settings keep (the GUI test
// profile_file_test checks the two against each other).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "fixtures/temp_log.h"
#include "platform/profile.h"

namespace {

bool Exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

struct Folders {
  fixtures::TempFolder user;
  fixtures::TempFolder system;
  platform::IniProfileStore Store() {
    return platform::IniProfileStore(user.path(), system.path(), "Corvenna", "Quillmar");
  }
  std::string File() { return user.path() + "Corvenna/Quillmar.conf"; }
};

TEST(IniProfileTest, WritesTheSettingsFileOfTheMakerAndProgram) {
  Folders folders;
  platform::IniProfileStore store = folders.Store();
  EXPECT_EQ(store.FilePath(), folders.File());
  EXPECT_EQ(store.GetString("Settings", "Default Net", "192.168.202.20"), "192.168.202.20");
  store.SetString("Settings", "Default Net", "10.1.2.20");
  store.SetInt("Settings", "Count", 42);
  EXPECT_EQ(fixtures::ReadFile(folders.File()), "[Settings]\nCount=42\nDefault%20Net=10.1.2.20\n");
  EXPECT_EQ(store.LastWriteError(), "");
  // The next run reads what this one wrote.
  platform::IniProfileStore next = folders.Store();
  EXPECT_EQ(next.GetString("Settings", "Default Net", ""), "10.1.2.20");
  EXPECT_EQ(next.GetInt("Settings", "Count", 0), 42);
  EXPECT_FALSE(Exists(folders.File() + ".lock"));
}

TEST(IniProfileTest, ValuesAreEscapedAsTheSettingsFileWantsThem) {
  const struct {
    std::string value;
    std::string line;  // the entry's line in the file
  } cases[] = {
      {"plain text", "k=plain text"},
      {"", "k="},
      {" leading", "k=\" leading\""},
      {"trailing ", "k=\"trailing \""},
      {"a;b", "k=\"a;b\""},
      {"a,b", "k=\"a,b\""},
      {"a=b", "k=\"a=b\""},
      {"say \"hi\"", "k=say \\\"hi\\\""},
      {"C:\\path", "k=C:\\\\path"},
      {"two\nlines\tand\rmore", "k=two\\nlines\\tand\\rmore"},
      // A control character in hex, and the hex digits after it escaped too.
      {std::string("\x01") + "ab" + "g", "k=\\x1\\x61\\x62g"},
      {std::string("a\0b", 3), "k=@String(a\\0\\x62)"},
      {"@home", "k=@@home"},
      {"Gr\xC3\xB6\xC3\x9F"
       "e \xF0\x9F\x99\x82",
       "k=Gr\xC3\xB6\xC3\x9F"
       "e \xF0\x9F\x99\x82"},
      {"/srv/backups/Linie 3", "k=/srv/backups/Linie 3"},
  };
  for (const auto& c : cases) {
    Folders folders;
    platform::IniProfileStore store = folders.Store();
    store.SetString("S", "k", c.value);
    EXPECT_EQ(fixtures::ReadFile(folders.File()), "[S]\n" + c.line + "\n") << c.line;
    EXPECT_EQ(folders.Store().GetString("S", "k", "default"), c.value) << c.line;
  }
}

TEST(IniProfileTest, NamesAreEscapedAndGeneralIsKeptApart) {
  Folders folders;
  platform::IniProfileStore store = folders.Store();
  store.SetString("Last Window", "a/b", "1");
  store.SetString("General", "k", "2");
  store.SetString(
      "Stra\xC3\x9F"
      "e",
      "\xE2\x82\xAC", "3");
  EXPECT_EQ(fixtures::ReadFile(folders.File()),
            "[Last%20Window]\na\\b=1\n\n[%General]\nk=2\n\n[Stra%DFe]\n%U20AC=3\n");
  platform::IniProfileStore next = folders.Store();
  EXPECT_EQ(next.GetString("Last Window", "a/b", ""), "1");
  EXPECT_EQ(next.GetString("General", "k", ""), "2");
  EXPECT_EQ(next.GetString("Stra\xC3\x9F"
                           "e",
                           "\xE2\x82\xAC", ""),
            "3");
}

TEST(IniProfileTest, ReadsTheFileAsTheDesktopProgramWritesAndUsersEditIt) {
  Folders folders;
  mkdir((folders.user.path() + "Corvenna").c_str(), 0700);
  WriteFile(folders.File(),
            "\xEF\xBB\xBF"
            "; a comment line\n"
            "[General]\r\n"
            "top=1\r\n"
            "[Settings]\n"
            "Default%20Net = 10.9.8.20   ; after the entry\n"
            "Quoted=\"a;b, c\"  \n"
            "List=a, b\n"
            "Escapes=tab\\there\\x41\\101\\q\n"
            "Continued=one\\\ntwo\n"
            "Bytes=@ByteArray(abc)\n"
            "Nothing=@Invalid()\n"
            "Doubled=@@at\n"
            "Other=@Rect(1 2 3 4)\n"
            "Unknown=@Foo(x)\n"
            "Twice=first\n"
            "[settings]\n"
            "Twice=other section\n"
            "[Settings]\n"
            "Twice=second\n");
  platform::IniProfileStore store = folders.Store();
  const struct {
    const char* section;
    const char* key;
    std::string expected;
  } cases[] = {
      {"", "top", "1"},
      {"Settings", "Default Net", "10.9.8.20"},
      {"Settings", "Quoted", "a;b, c"},
      {"Settings", "List", ""},  // a list of two texts is no single text
      {"Settings", "Escapes", "tab\thereAA"},
      {"Settings", "Continued", "onetwo"},
      {"Settings", "Bytes", "abc"},
      {"Settings", "Nothing", ""},
      {"Settings", "Doubled", "@at"},
      {"Settings", "Other", ""},
      {"Settings", "Unknown", "@Foo(x)"},
      {"Settings", "Twice", "second"},
      {"settings", "Twice", "other section"},
      {"Settings", "Missing", "default"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(store.GetString(c.section, c.key, "default"), c.expected) << c.key;
  }
}

TEST(IniProfileTest, AWriteKeepsEveryOtherEntryAsItWas) {
  Folders folders;
  mkdir((folders.user.path() + "Corvenna").c_str(), 0700);
  WriteFile(folders.File(),
            "[General]\n"
            "geometry=@ByteArray(\\x1\\xd9\\xd0\\xcb\\0\\x3)\n"
            "\n"
            "[Settings]\n"
            "Backup%20Folder=/old\n"
            "Recent=a, b, \"c;d\"\n"
            "Zeta=z\n"
            "Backup%20Folder=/older duplicate\n");
  platform::IniProfileStore store = folders.Store();
  store.SetString("Settings", "Backup Folder", "/new");
  store.SetString("Settings", "Default Net", "10.1.2.20");
  store.SetString("Window", "Width", "800");
  EXPECT_EQ(fixtures::ReadFile(folders.File()),
            "[General]\n"
            "geometry=@ByteArray(\\x1\\xd9\\xd0\\xcb\\0\\x3)\n"
            "\n"
            "[Settings]\n"
            "Backup%20Folder=/new\n"
            "Default%20Net=10.1.2.20\n"
            "Recent=a, b, \"c;d\"\n"
            "Zeta=z\n"
            "\n"
            "[Window]\n"
            "Width=800\n");
}

TEST(IniProfileTest, MissingEntriesComeFromTheMakersAndTheSystemsFiles) {
  Folders folders;
  mkdir((folders.user.path() + "Corvenna").c_str(), 0700);
  mkdir((folders.system.path() + "Corvenna").c_str(), 0700);
  WriteFile(folders.File(), "[S]\nuser=u\n");
  WriteFile(folders.user.path() + "Corvenna.conf", "[S]\nuser=maker\nmaker=m\n");
  WriteFile(folders.system.path() + "Corvenna/Quillmar.conf", "[S]\nmaker=system\nsystem=s\n");
  WriteFile(folders.system.path() + "Corvenna.conf", "[S]\nsystem=x\nsystemMaker=sm\n");
  platform::IniProfileStore store = folders.Store();
  EXPECT_EQ(store.GetString("S", "user", ""), "u");
  EXPECT_EQ(store.GetString("S", "maker", ""), "m");
  EXPECT_EQ(store.GetString("S", "system", ""), "s");
  EXPECT_EQ(store.GetString("S", "systemMaker", ""), "sm");
  // A write goes to the user's file of the program only.
  store.SetString("S", "system", "mine");
  EXPECT_EQ(store.GetString("S", "system", ""), "mine");
  EXPECT_EQ(fixtures::ReadFile(folders.system.path() + "Corvenna/Quillmar.conf"),
            "[S]\nmaker=system\nsystem=s\n");
}

TEST(IniProfileTest, TheUsersFolderFollowsTheEnvironment) {
  const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
  const char* oldHome = std::getenv("HOME");
  const std::string savedConfig = oldConfig ? oldConfig : "";
  const std::string savedHome = oldHome ? oldHome : "";
  setenv("HOME", "/home/someone", 1);
  setenv("XDG_CONFIG_HOME", "/cfg/here", 1);
  EXPECT_EQ(platform::UserConfigFolder(), "/cfg/here/");
  EXPECT_EQ(platform::IniProfileStore().FilePath(), "/cfg/here/Corvenna/Quillmar.conf");
  setenv("XDG_CONFIG_HOME", "relative/path", 1);  // not absolute: not used
  EXPECT_EQ(platform::UserConfigFolder(), "/home/someone/.config/");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(platform::UserConfigFolder(), "/home/someone/.config/");
  if (oldConfig) setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
  if (oldHome) setenv("HOME", savedHome.c_str(), 1);
}

TEST(IniProfileTest, ALockLeftByAnEndedProgramDoesNotHoldTheWrite) {
  Folders folders;
  mkdir((folders.user.path() + "Corvenna").c_str(), 0700);
  // The lock of a process that has ended on this host.
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  WriteFile(folders.File() + ".lock",
            std::to_string(child) + "\nquillmar\n" + std::string(host) + "\n");
  platform::IniProfileStore store = folders.Store();
  store.SetString("S", "k", "v");
  EXPECT_EQ(store.LastWriteError(), "");
  EXPECT_EQ(folders.Store().GetString("S", "k", ""), "v");
  EXPECT_FALSE(Exists(folders.File() + ".lock"));
}

TEST(IniProfileTest, AFileThatCannotBeWrittenIsReportedAndReadsStillWork) {
  fixtures::TempFolder folder;
  WriteFile(folder.path() + "plain-file", "x");
  // The user's settings folder lies under a file: nothing can be made there.
  platform::IniProfileStore store(folder.path() + "plain-file/config", folder.path(), "Corvenna",
                                  "Quillmar");
  store.SetString("S", "k", "v");
  EXPECT_NE(store.LastWriteError(), "");
  EXPECT_EQ(store.GetString("S", "k", "default"), "default");
}

}  // namespace
