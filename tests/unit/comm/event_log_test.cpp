#include "comm/event_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "base/format.h"
#include "environment/test_folders.h"
#include "fixtures/temp_log.h"

namespace {

using Clock = std::chrono::system_clock;
namespace fs = std::filesystem;

// 2026-03-04 05:06:07.007 in UTC (tests run with TZ=UTC).
Clock::time_point At(int hour, int minute, int second, int ms, int day = 4) {
  tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 2;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return Clock::from_time_t(timegm(&t)) + std::chrono::milliseconds(ms);
}

class EventLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
  // A clock the test moves by hand.
  std::shared_ptr<std::atomic<int64_t>> nowMs = std::make_shared<std::atomic<int64_t>>(
      At(5, 6, 7, 7).time_since_epoch() / std::chrono::milliseconds(1));
  std::function<Clock::time_point()> clock = [now = nowMs] {
    return Clock::time_point(std::chrono::milliseconds(now->load()));
  };
  void SetNow(Clock::time_point t) {
    nowMs->store(t.time_since_epoch() / std::chrono::milliseconds(1));
  }
};

std::string Tid() {
  return std::to_string(static_cast<unsigned>(gettid()));
}

TEST_F(EventLogTest, FileNameIsDatedWithZeroPaddedFields) {
  EXPECT_EQ(eventlog::LogFileName(At(5, 6, 7, 0)), "Quillmar_2026-03-04_05-06.txt");
  EXPECT_EQ(eventlog::LogFileName(At(23, 59, 0, 0, 28)), "Quillmar_2026-03-28_23-59.txt");
}

TEST_F(EventLogTest, LevelLinesAreTrimmedPrefixedAndEndInCrCrLf) {
  fixtures::ScopedTempLog log(clock);
  EXPECT_EQ(eventlog::CurrentLogPath(), "");
  LogInfo("\nStaring Quillmar...\n");
  EXPECT_EQ(eventlog::CurrentLogPath(), log.folder() + "Quillmar_2026-03-04_05-06.txt");
  SetNow(At(5, 6, 8, 120));
  LogWarning(" \t%s %d\r\n", "value", -3);
  SetNow(At(5, 6, 9, 999));
  LogError("Connection to the module \"%s\" is lost !", "192.168.202.21");
  const std::string expected = "05:06:07.7\tInfo\t" + Tid() + "\tStaring Quillmar...\r\r\n" +
                               "05:06:08.120\tWarning\t" + Tid() + "\tvalue -3\r\r\n" +
                               "05:06:09.999\tERROR\t" + Tid() +
                               "\tConnection to the module \"192.168.202.21\" is lost !\r\r\n";
  EXPECT_EQ(log.Contents(), expected);
}

TEST_F(EventLogTest, RawTextStoresEveryLineFeedAsCrLf) {
  fixtures::ScopedTempLog log(clock);
  WriteLogText("-------------------------------------\n<<<< Exit Quillmar at 05:06:07>>>>\n");
  WriteLogText("a\r\nb");
  EXPECT_EQ(log.Contents(),
            "-------------------------------------\r\n<<<< Exit Quillmar at 05:06:07>>>>\r\n"
            "a\r\r\nb");
}

TEST_F(EventLogTest, ClosedLogReopensTheRememberedFile) {
  fixtures::ScopedTempLog log(clock);
  LogInfo("first");
  const std::string first = eventlog::CurrentLogPath();
  CloseLog();
  SetNow(At(5, 9, 0, 0));  // a later minute: the file name stays
  LogInfo("second");
  EXPECT_EQ(eventlog::CurrentLogPath(), first);
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{"first", "second"}));
}

TEST_F(EventLogTest, RotatesPastTheLimitIntoAFileOfTheCurrentMinute) {
  fixtures::ScopedTempLog log(clock);
  eventlog::testing::SetRotateBytes(100);
  const std::string line(40, 'x');
  LogInfo("%s", line.c_str());  // ~60 bytes
  LogInfo("%s", line.c_str());  // ~120: over the limit only after this write
  const std::string first = eventlog::CurrentLogPath();
  // Same minute: rotation reopens the same file.
  LogInfo("same minute");
  EXPECT_EQ(eventlog::CurrentLogPath(), first);
  SetNow(At(5, 7, 0, 0));
  LogInfo("next minute");
  const std::string second = eventlog::CurrentLogPath();
  EXPECT_EQ(second, log.folder() + "Quillmar_2026-03-04_05-07.txt");
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{"next minute"}));
  const std::string old = fixtures::ReadFile(first);
  EXPECT_NE(old.find("same minute"), std::string::npos);
  EXPECT_EQ(old.find("next minute"), std::string::npos);
}

TEST_F(EventLogTest, RealLimitIsTenMillionBytes) {
  EXPECT_EQ(eventlog::kRotateBytes, 10'000'000u);
  // The file is brought to the size under test, and the next line comes in a later minute, so
  // that a rotation would show as a new file name.
  struct Case {
    uint64_t size;
    bool rotates;
  };
  const Case cases[] = {{10'000'000, false}, {10'000'001, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    fixtures::ScopedTempLog log(clock);
    SetNow(At(5, 6, 7, 7));
    LogInfo("a");
    const std::string first = eventlog::CurrentLogPath();
    ASSERT_EQ(first, log.folder() + "Quillmar_2026-03-04_05-06.txt");
    fs::resize_file(first, c.size);
    SetNow(At(5, 7, 0, 0));
    LogInfo("b");
    const std::string next = log.folder() + "Quillmar_2026-03-04_05-07.txt";
    EXPECT_EQ(eventlog::CurrentLogPath(), c.rotates ? next : first);
    EXPECT_EQ(fs::exists(next), c.rotates);
    EXPECT_EQ(fs::file_size(first) > c.size, !c.rotates);  // "b" went to the first file
  }
}

TEST_F(EventLogTest, UnopenableFolderLosesLinesUntilItWorksAgain) {
  fixtures::ScopedTempLog log(clock);
  eventlog::testing::SetTempFolder(log.folder() + "missing/");
  LogInfo("lost");
  EXPECT_FALSE(fs::exists(log.folder() + "missing"));
  fs::create_directory(log.folder() + "missing");
  LogInfo("kept");
  EXPECT_EQ(fixtures::ReadFile(eventlog::CurrentLogPath()),
            "05:06:07.7\tInfo\t" + Tid() + "\tkept\r\r\n");
}

TEST_F(EventLogTest, LinesFromManyThreadsNeverInterleave) {
  fixtures::ScopedTempLog log;
  constexpr int kThreads = 8, kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i)
        LogInfo("thread %d line %d %s", t, i, std::string(50, 'z').c_str());
    });
  }
  for (auto& thread : threads) thread.join();
  const std::regex shape(R"(\d\d:\d\d:\d\d\.\d{1,3}\tInfo\t\d+\tthread \d line \d+ z{50}\r\r)");
  std::istringstream in(log.Contents());
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    ASSERT_TRUE(std::regex_match(line, shape)) << line;
    ++count;
  }
  EXPECT_EQ(count, kThreads * kLines);
}

// ---- pruning ----

class PruneTest : public EventLogTest {
 protected:
  fixtures::TempFolder folder;
  Clock::time_point now = At(12, 0, 0, 0, 20);

  // A file last written ageDays and a minute before `now`.
  void MakeFile(const std::string& name, int ageDays) {
    MakeFileAged(name, int64_t{ageDays} * 86400 + 60);
  }
  void MakeFileAged(const std::string& name, int64_t ageSeconds) {
    const std::string path = folder.path() + name;
    std::ofstream(path) << "x";
    const time_t when = Clock::to_time_t(now) - static_cast<time_t>(ageSeconds);
    timeval times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimes(path.c_str(), times), 0);
  }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.path()))
      names.insert(entry.path().filename());
    return names;
  }
};

TEST_F(PruneTest, NineFilesFiveOldDeletesTheFirstTwoOldAndKeepsSeven) {
  // Name order is date order; old and new files interleave so the order matters.
  MakeFile("Quillmar_2026-03-01_08-00.txt", 19);
  MakeFile("Quillmar_2026-03-02_08-00.txt", 1);
  MakeFile("Quillmar_2026-03-03_08-00.txt", 17);
  MakeFile("Quillmar_2026-03-04_08-00.txt", 16);
  MakeFile("Quillmar_2026-03-05_08-00.txt", 2);
  MakeFile("Quillmar_2026-03-06_08-00.txt", 14);
  MakeFile("Quillmar_2026-03-07_08-00.txt", 13);
  MakeFile("Quillmar_2026-03-18_08-00.txt", 2);
  MakeFile("Quillmar_2026-03-19_08-00.txt", 1);
  MakeFile("Other_2026-01-01.txt", 90);  // not a log file
  MakeFile("Quillmar_notes.log", 90);    // not a log file
  EXPECT_EQ(eventlog::PruneLogFiles(folder.path(), "Quillmar_", now), 2);
  const auto names = Names();
  EXPECT_FALSE(names.count("Quillmar_2026-03-01_08-00.txt"));
  EXPECT_FALSE(names.count("Quillmar_2026-03-03_08-00.txt"));
  EXPECT_TRUE(names.count("Quillmar_2026-03-04_08-00.txt"));
  EXPECT_TRUE(names.count("Other_2026-01-01.txt"));
  EXPECT_TRUE(names.count("Quillmar_notes.log"));
  EXPECT_EQ(names.size(), 7u + 2u);
}

TEST_F(PruneTest, SevenOrFewerFilesAreNeverDeletedHoweverOld) {
  for (int files : {6, 7}) {
    for (int i = 0; i < files; ++i)
      MakeFile(base::Format("Quillmar_2025-01-%02d_00-00.txt", i + 1), 300);
    EXPECT_EQ(eventlog::PruneLogFiles(folder.path(), "Quillmar_", now), 0) << files;
    EXPECT_EQ(Names().size(), static_cast<size_t>(files));
    for (const auto& name : Names()) fs::remove(folder.path() + name);
  }
}

TEST_F(PruneTest, TenDaysIsNotYetOld) {
  for (int i = 0; i < 8; ++i) MakeFile(base::Format("Quillmar_2026-03-%02d_00-00.txt", i + 1), 9);
  // 864,000 seconds (ten days) old is not yet old; one second more is.
  MakeFileAged("Quillmar_2026-03-09_00-00.txt", 864'000);
  EXPECT_EQ(eventlog::PruneLogFiles(folder.path(), "Quillmar_", now), 0);
  EXPECT_EQ(Names().size(), 9u);
  MakeFileAged("Quillmar_2026-03-09_00-00.txt", 864'001);
  EXPECT_EQ(eventlog::PruneLogFiles(folder.path(), "Quillmar_", now), 1);
  EXPECT_FALSE(Names().count("Quillmar_2026-03-09_00-00.txt"));
}

TEST_F(PruneTest, NewLogFilePrunesByPathWithoutChangingTheCurrentDirectory) {
  for (int i = 0; i < 8; ++i) MakeFile(base::Format("Quillmar_2026-02-%02d_00-00.txt", i + 1), 20);
  const fs::path before = fs::current_path();
  eventlog::testing::SetTempFolder(folder.path());
  SetNow(now);
  eventlog::testing::SetClock(clock);
  LogInfo("\nStaring Quillmar...\n");  // creates the 9th file, which prunes 2 old ones
  fixtures::RestoreTestLogFolders();
  EXPECT_EQ(fs::current_path(), before);
  const auto names = Names();
  EXPECT_EQ(names.size(), 7u);
  EXPECT_TRUE(names.count("Quillmar_2026-03-20_12-00.txt"));
  EXPECT_FALSE(names.count("Quillmar_2026-02-01_00-00.txt"));
  EXPECT_FALSE(names.count("Quillmar_2026-02-02_00-00.txt"));
}

// ---- start-up trace ----

TEST_F(EventLogTest, TraceLinesAppendWithEnglishMonthAndCrLf) {
  fixtures::ScopedTempLog log(clock);
  fixtures::TempFolder exe;
  eventlog::testing::SetExecutableFolder(exe.path());
  eventlog::testing::SetClock(clock);
  WriteTrace("Init Start");
  SetNow(At(5, 6, 8, 0));
  WriteTrace("Init Successful");
  EXPECT_EQ(fixtures::ReadFile(exe.path() + "Quillmar_Err_log.txt"),
            "March_04_2026_05_06_07\t Err: Init Start\r\n"
            "March_04_2026_05_06_08\t Err: Init Successful\r\n");
  eventlog::testing::SetExecutableFolder(exe.path() + "missing/");
  WriteTrace("lost silently");
  EXPECT_FALSE(fs::exists(exe.path() + "missing"));
}

}  // namespace

namespace {

// The test programs' own folder (environment/test_folders.h): what a test logs without
// choosing a folder, and what its children see as TMPDIR, stays out of the user's folders.
TEST(TestRunFolder, LogTraceAndChildrenUseTheProgramsOwnFolder) {
  const std::string& folder = fixtures::TestRunFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(std::string(std::getenv("TMPDIR")), folder);
  LogInfo("a line with no folder chosen");
  WriteTrace("a trace line with no folder chosen");
  EXPECT_EQ(eventlog::CurrentLogPath().rfind(folder + "Quillmar_", 0), 0u)
      << eventlog::CurrentLogPath();
  EXPECT_TRUE(fs::exists(folder + "Quillmar_Err_log.txt"));
  fixtures::RestoreTestLogFolders();
}

}  // namespace
