#include "environment/test_folders.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "comm/event_log.h"

namespace fixtures {
namespace {

// TMPDIR when given; else the memory file system when there is one, as the programs under
// test flush every settings file and backup they write to the disk (fsync), which on a disk
// costs milliseconds each and the settings-file fuzz target alone tens of seconds; else /tmp.
std::string BaseFolder() {
  if (const char* given = std::getenv("TMPDIR"); given && *given) return given;
  if (access("/dev/shm", W_OK | X_OK) == 0) return "/dev/shm";
  return "/tmp";
}

class RunFolder {
 public:
  RunFolder() {
    std::string pattern = BaseFolder() + "/qm_run_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror(("cannot make the test folder " + pattern).c_str());
      std::abort();
    }
    path_ = pattern + "/";
    owner_ = getpid();
    setenv("TMPDIR", path_.c_str(), 1);
  }
  ~RunFolder() {
    // A forked child (a lab namespace runner) ends before its parent: the folder is not its.
    if (getpid() != owner_) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  pid_t owner_ = -1;
};

const RunFolder& Folder() {
  static const RunFolder folder;
  return folder;
}

// Every test runs in the German locale, whatever the machine's: the texts the tests expect are
// the German ones, and a test of English chooses it itself (--lang en, or its own LANG for a
// program it starts). Exported, so that the programs a test starts see the same.
void UseGermanLocale() {
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  setenv("LANG", "de_DE.UTF-8", 1);
}

// Every test program, and what it starts, has a home and a settings folder of its own in the
// run's folder: the developer's profile (a Language=en, a remembered adapter) never changes a
// test, and no test writes a file into the real home.
void UseOwnHome() {
  const std::string home = Folder().path() + "home";
  const std::string config = home + "/.config";
  mkdir(home.c_str(), 0700);
  mkdir(config.c_str(), 0700);
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
}

// In force before main(): the first log line of any test already goes to the run's folder.
const bool applied = (UseGermanLocale(), UseOwnHome(), RestoreTestLogFolders(), true);

}  // namespace

const std::string& TestRunFolder() {
  return Folder().path();
}

std::string SocketPath(const std::string& name) {
  const std::string path = TestRunFolder() + name;
  return path.size() < sizeof(sockaddr_un{}.sun_path) ? path : "/tmp/" + name;
}

void RestoreTestLogFolders() {
  eventlog::testing::Reset();
  eventlog::testing::SetTempFolder(TestRunFolder());
  eventlog::testing::SetExecutableFolder(TestRunFolder());
}

}  // namespace fixtures
