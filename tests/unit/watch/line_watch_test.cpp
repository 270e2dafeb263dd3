// The watch's worker with a scripted probe: a replaced module is restored only after
// ConfirmRestore, never after DeclineRestore or without an answer; a failed restore names its
// step; a record or backup that cannot be read stops Load; Stop ends a running watch.
#include "watch/line_watch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "backup/backup_file.h"
#include "fixtures/temp_log.h"
#include "watch/line_tracker.h"

namespace {

using nlohmann::json;
using watch::EventKind;
using watch::WatchEvent;

// The line: 101 -- 102; from round `replaceFrom` on, 902 (factory-fresh) stands in 102's place.
class ScriptedProbe : public watch::LineProbe {
 public:
  struct Shared {
    std::mutex lock;
    int rounds = 0;
    int replaceFrom = 2;
    std::vector<std::string> restores;  // "902 10.0.0.99 102"
    std::string restoreFailure;
    bool restored = false;
  };
  explicit ScriptedProbe(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

  watch::RoundView Discover() override {
    std::lock_guard<std::mutex> hold(shared_->lock);
    ++shared_->rounds;
    watch::RoundView view;
    modules_ = {Module(101, 1, std::nullopt, "10.0.0.1")};
    if (shared_->rounds >= shared_->replaceFrom)
      modules_.push_back(Module(902, 2, 101, shared_->restored ? "10.0.0.2" : "10.0.0.99"));
    else
      modules_.push_back(Module(102, 2, 101, "10.0.0.2"));
    for (const auto& m : modules_) view.answered.push_back({m.serial, m.ip, m.firmware});
    return view;
  }
  void DrawTopology(watch::RoundView& view) override { view.drawing = modules_; }
  std::optional<std::string> ConfigurationId(uint32_t, const std::string&) override {
    return std::string(watch::kFactoryConfigurationId);
  }
  std::string Restore(uint32_t serial, const std::string& ip, uint32_t recordSerial) override {
    std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->restores.push_back(std::to_string(serial) + " " + ip + " " +
                                std::to_string(recordSerial));
    if (shared_->restoreFailure.empty()) shared_->restored = true;
    return shared_->restoreFailure;
  }

 private:
  static watch::DrawnModule Module(uint32_t serial, int column, std::optional<uint32_t> parent,
                                   const char* ip) {
    watch::DrawnModule m;
    m.serial = serial;
    m.ip = ip;
    m.firmware = "4.14";
    m.position = {0, column};
    m.direction = "left-to-right";
    m.parent = parent;
    return m;
  }
  std::shared_ptr<Shared> shared_;
  std::vector<watch::DrawnModule> modules_;
};

class LineWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::make_unique<fixtures::TempFolder>();
    recordPath_ = folder_->path() + "record.json";
    backupPath_ = folder_->path() + "line.bak";
    json record{{"modules",
                 {{{"serial", 101},
                   {"ip", "10.0.0.1"},
                   {"firmware", "4.14"},
                   {"column", 1},
                   {"row", 0},
                   {"direction", "left-to-right"},
                   {"parent", nullptr}},
                  {{"serial", 102},
                   {"ip", "10.0.0.2"},
                   {"firmware", "4.14"},
                   {"column", 2},
                   {"row", 0},
                   {"direction", "left-to-right"},
                   {"parent", 101}}}}};
    std::ofstream(recordPath_) << record.dump();
    backup::CNode_DataBackup saved;
    saved.serialNumber = 102;
    saved.ipText = "10.0.0.2";
    saved.maskText = "255.255.255.0";
    saved.gatewayText = "0.0.0.0";
    saved.registerCount = 363;
    saved.registers.assign(363, 0);
    const std::vector<uint8_t> bytes = backup::BackupFileBytes({saved});
    std::ofstream(backupPath_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }

  std::unique_ptr<watch::LineWatch> MakeWatch(std::string backup) {
    watch::WatchOptions options;
    options.recordPath = recordPath_;
    options.backupPath = std::move(backup);
    options.interval = std::chrono::milliseconds(20);
    auto lineWatch =
        std::make_unique<watch::LineWatch>(std::make_unique<ScriptedProbe>(shared_), options);
    lineWatch->OnEvent([this](const WatchEvent& event) {
      std::lock_guard<std::mutex> hold(lock_);
      events_.push_back(event);
      arrived_.notify_all();
    });
    return lineWatch;
  }

  // Waits (at most 20 s: never a fixed sleep) for an event of that kind.
  std::optional<WatchEvent> AwaitEvent(EventKind kind) {
    std::unique_lock<std::mutex> hold(lock_);
    std::optional<WatchEvent> found;
    arrived_.wait_for(hold, std::chrono::seconds(20), [&] {
      for (const WatchEvent& e : events_)
        if (e.kind == kind) found = e;
      return found.has_value();
    });
    return found;
  }
  // Waits until the probe has run `rounds` more rounds.
  void AwaitRounds(int rounds) {
    int start = 0;
    {
      std::lock_guard<std::mutex> hold(shared_->lock);
      start = shared_->rounds;
    }
    for (int i = 0; i < 2000; ++i) {
      {
        std::lock_guard<std::mutex> hold(shared_->lock);
        if (shared_->rounds >= start + rounds) return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    FAIL() << "the watch ran no rounds";
  }
  bool Seen(EventKind kind) {
    std::lock_guard<std::mutex> hold(lock_);
    for (const WatchEvent& e : events_)
      if (e.kind == kind) return true;
    return false;
  }

  std::unique_ptr<fixtures::TempFolder> folder_;
  std::string recordPath_, backupPath_;
  std::shared_ptr<ScriptedProbe::Shared> shared_ = std::make_shared<ScriptedProbe::Shared>();
  std::mutex lock_;
  std::condition_variable arrived_;
  std::vector<WatchEvent> events_;
};

TEST_F(LineWatchTest, NothingIsRestoredWithoutAConfirmation) {
  auto lineWatch = MakeWatch(backupPath_);
  std::string error;
  ASSERT_TRUE(lineWatch->Load(&error)) << error;
  ASSERT_TRUE(lineWatch->Start());
  const auto replaced = AwaitEvent(EventKind::Replaced);
  ASSERT_TRUE(replaced.has_value());
  EXPECT_EQ(replaced->serial, 902u);
  EXPECT_EQ(replaced->replacedSerial, 102u);
  EXPECT_EQ(lineWatch->PendingRestores(), std::vector<uint32_t>{902});
  EXPECT_TRUE(lineWatch->Snapshot().modules[1].restorePending);
  AwaitRounds(5);
  {
    std::lock_guard<std::mutex> hold(shared_->lock);
    EXPECT_TRUE(shared_->restores.empty());
  }
  lineWatch->DeclineRestore(902);
  ASSERT_TRUE(AwaitEvent(EventKind::RestoreDeclined).has_value());
  AwaitRounds(3);
  lineWatch->ConfirmRestore(902);  // too late: the question was answered
  AwaitRounds(3);
  lineWatch->Stop();
  EXPECT_FALSE(lineWatch->Running());
  std::lock_guard<std::mutex> hold(shared_->lock);
  EXPECT_TRUE(shared_->restores.empty());
  EXPECT_FALSE(Seen(EventKind::RestoreDone));
}

TEST_F(LineWatchTest, AConfirmedRestoreActsOnTheNewModuleOnly) {
  fixtures::ScopedTempLog log;  // every event is a line of the event log too
  auto lineWatch = MakeWatch(backupPath_);
  std::string error;
  ASSERT_TRUE(lineWatch->Load(&error)) << error;
  ASSERT_TRUE(lineWatch->Start());
  ASSERT_TRUE(AwaitEvent(EventKind::Replaced).has_value());
  lineWatch->ConfirmRestore(902);
  const auto done = AwaitEvent(EventKind::RestoreDone);
  ASSERT_TRUE(done.has_value());
  EXPECT_EQ(done->serial, 902u);
  EXPECT_EQ(done->replacedSerial, 102u);
  ASSERT_TRUE(AwaitEvent(EventKind::LineAsRecorded).has_value());
  lineWatch->Stop();
  std::lock_guard<std::mutex> hold(shared_->lock);
  EXPECT_EQ(shared_->restores, std::vector<std::string>{"902 10.0.0.99 102"});
  EXPECT_EQ(lineWatch->Snapshot().present, 2u);
  EXPECT_EQ(log.CountContaining("line watch: "), events_.size());
  EXPECT_EQ(log.CountContaining(" replaced SN 902 (10.0.0.99) row 0, column 2: "), 1u);
  EXPECT_EQ(log.CountContaining(" restore_done SN 902 (10.0.0.2) row 0, column 2: "), 1u);
}

TEST_F(LineWatchTest, AFailedRestoreNamesItsStep) {
  shared_->restoreFailure = "flash: save to flash refused";
  auto lineWatch = MakeWatch(backupPath_);
  std::string error;
  ASSERT_TRUE(lineWatch->Load(&error)) << error;
  ASSERT_TRUE(lineWatch->Start());
  ASSERT_TRUE(AwaitEvent(EventKind::Replaced).has_value());
  lineWatch->ConfirmRestore(902);
  const auto failed = AwaitEvent(EventKind::RestoreFailed);
  ASSERT_TRUE(failed.has_value());
  EXPECT_NE(failed->detail.find("flash: save to flash refused"), std::string::npos)
      << failed->detail;
  lineWatch->Stop();
  EXPECT_EQ(lineWatch->Snapshot().modules[1].presence, watch::Presence::Replaced);
}

TEST_F(LineWatchTest, WithoutABackupRecordNoRestoreIsOffered) {
  auto lineWatch = MakeWatch("");
  std::string error;
  ASSERT_TRUE(lineWatch->Load(&error)) << error;
  ASSERT_TRUE(lineWatch->Start());
  const auto replaced = AwaitEvent(EventKind::Replaced);
  ASSERT_TRUE(replaced.has_value());
  EXPECT_NE(replaced->detail.find("nothing to restore"), std::string::npos);
  EXPECT_TRUE(lineWatch->PendingRestores().empty());
  lineWatch->ConfirmRestore(902);
  AwaitRounds(3);
  lineWatch->Stop();
  std::lock_guard<std::mutex> hold(shared_->lock);
  EXPECT_TRUE(shared_->restores.empty());
}

TEST_F(LineWatchTest, LoadRefusesARecordOrBackupItCannotUse) {
  struct Case {
    const char* name;
    std::string record;  // contents written to the record, or "" for no file
    bool goodBackup;
  };
  const Case cases[] = {
      {"no record file", "", true},
      {"record not JSON", "{modules", true},
      {"record without modules", "{\"drawn\": 3}", true},
      {"backup not readable", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    if (std::string(c.name) == "no record file")
      std::remove(recordPath_.c_str());
    else if (!c.record.empty())
      std::ofstream(recordPath_) << c.record;
    if (!c.goodBackup) std::ofstream(backupPath_) << "not a backup";
    auto lineWatch = MakeWatch(backupPath_);
    std::string error;
    EXPECT_FALSE(lineWatch->Load(&error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(lineWatch->Start());
  }
}

// A probe whose discovery hangs until the test lets it go (a network step that does not end).
class HangingProbe : public watch::LineProbe {
 public:
  struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
  };
  explicit HangingProbe(std::shared_ptr<Gate> gate) : gate_(std::move(gate)) {}
  watch::RoundView Discover() override {
    std::unique_lock<std::mutex> hold(gate_->lock);
    gate_->entered = true;
    gate_->changed.notify_all();
    gate_->changed.wait(hold, [this] { return gate_->released; });
    watch::RoundView view;
    view.failed = true;  // an event the sink would get
    view.failure = "no capture device could be opened";
    return view;
  }
  void DrawTopology(watch::RoundView&) override {}
  std::optional<std::string> ConfigurationId(uint32_t, const std::string&) override {
    return std::nullopt;
  }
  std::string Restore(uint32_t, const std::string&, uint32_t) override { return "not here"; }

 private:
  std::shared_ptr<Gate> gate_;
};

TEST_F(LineWatchTest, StopDoesNotWaitForAHangingNetworkStepAndNoSinkIsCalledAfterIt) {
  auto gate = std::make_shared<HangingProbe::Gate>();
  watch::WatchOptions options;
  options.recordPath = recordPath_;
  watch::LineWatch lineWatch(std::make_unique<HangingProbe>(gate), options);
  std::atomic<int> sinkCalls{0};
  lineWatch.OnEvent([&](const WatchEvent&) { ++sinkCalls; });
  lineWatch.OnSnapshot([&](const watch::LineSnapshot&) { ++sinkCalls; });
  std::string error;
  ASSERT_TRUE(lineWatch.Load(&error)) << error;
  ASSERT_TRUE(lineWatch.Start());
  {
    std::unique_lock<std::mutex> hold(gate->lock);
    ASSERT_TRUE(
        gate->changed.wait_for(hold, std::chrono::seconds(20), [&] { return gate->entered; }));
  }
  auto stopped = std::async(std::launch::async, [&] { lineWatch.Stop(); });
  const bool returned = stopped.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  {
    std::lock_guard<std::mutex> hold(gate->lock);
    gate->released = true;
  }
  gate->changed.notify_all();
  EXPECT_TRUE(returned) << "Stop waited for the hanging discovery";
  stopped.wait();
  lineWatch.StopAndWait();  // the worker ends after its round
  EXPECT_FALSE(lineWatch.Running());
  EXPECT_EQ(sinkCalls.load(), 0);
}

}  // namespace
