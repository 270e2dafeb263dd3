#include "platform/folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace {

// Sets or unsets an environment variable for one scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    if (old_) {
      setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

class FoldersTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/qm-folders-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(root_); }
  std::string root_;
};

TEST_F(FoldersTest, TempFolderIsTmpdirElseTmpWithOneTrailingSlash) {
  {
    ScopedEnvironment tmp("TMPDIR", nullptr);
    EXPECT_EQ(platform::TempFolder(), "/tmp/");
  }
  {
    ScopedEnvironment tmp("TMPDIR", "");
    EXPECT_EQ(platform::TempFolder(), "/tmp/");
  }
  {
    ScopedEnvironment tmp("TMPDIR", root_.c_str());
    EXPECT_EQ(platform::TempFolder(), root_ + "/");
  }
  {
    const std::string withSlash = root_ + "/";
    ScopedEnvironment tmp("TMPDIR", withSlash.c_str());
    EXPECT_EQ(platform::TempFolder(), withSlash);
  }
}

// A TMPDIR that cannot take the log falls back to /tmp instead of losing every line.
TEST_F(FoldersTest, TempFolderFallsBackToTmpWhenTmpdirIsUnusable) {
  const std::string missing = root_ + "/no-such-folder";
  const std::string file = root_ + "/a-file";
  { std::ofstream(file) << "x"; }
  for (const std::string& tmpdir : {missing, file, file + "/below"}) {
    ScopedEnvironment tmp("TMPDIR", tmpdir.c_str());
    EXPECT_EQ(platform::TempFolder(), "/tmp/") << tmpdir;
  }
}

TEST_F(FoldersTest, ExecutableAndCurrentFolders) {
  const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
  EXPECT_EQ(platform::ExecutableFolder(), exe.substr(0, exe.rfind('/') + 1));
  const std::string before = std::filesystem::current_path().string();
  ASSERT_EQ(chdir(root_.c_str()), 0);
  const std::string current = platform::CurrentFolder();
  ASSERT_EQ(chdir(before.c_str()), 0);
  EXPECT_EQ(current, std::filesystem::canonical(root_).string() + "/");
}

TEST_F(FoldersTest, DesktopFolderPrefersXdgThenDesktopThenHome) {
  const std::string config = root_ + "/config";
  std::filesystem::create_directories(config);
  ScopedEnvironment home("HOME", root_.c_str());
  ScopedEnvironment xdg("XDG_CONFIG_HOME", config.c_str());

  // Nothing configured, no Desktop folder: the home folder.
  EXPECT_EQ(platform::DesktopFolder(), root_ + "/");

  std::filesystem::create_directories(root_ + "/Desktop");
  EXPECT_EQ(platform::DesktopFolder(), root_ + "/Desktop/");

  // A configured desktop that exists wins; one that does not exist is ignored.
  {
    std::ofstream dirs(config + "/user-dirs.dirs");
    dirs << "# "
            "comment\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\nXDG_DESKTOP_DIR=\"$HOME/"
            "Schreibtisch\"\n";
  }
  EXPECT_EQ(platform::DesktopFolder(), root_ + "/Desktop/");
  std::filesystem::create_directories(root_ + "/Schreibtisch");
  EXPECT_EQ(platform::DesktopFolder(), root_ + "/Schreibtisch/");

  const std::string absolute = root_ + "/abs";
  std::filesystem::create_directories(absolute);
  {
    std::ofstream dirs(config + "/user-dirs.dirs");
    dirs << "XDG_DESKTOP_DIR=\"" << absolute << "\"\n";
  }
  EXPECT_EQ(platform::DesktopFolder(), absolute + "/");
}

}  // namespace
