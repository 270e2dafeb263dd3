// The line watch on a generated line of 236 modules (linesim --generate 236), in the lab's PC
// namespace (tools/bench starts the lab and linesim). The as-built record is drawn first by
// the watch's own probe; then the watch runs at its default interval and every round's CPU
// time (user + system of this process, from one round's start to its snapshot) is taken as a
// share of the interval (target < 5 %). Then one module is replaced on the line (linesim's
// control socket) and the rounds until the watch reports it are counted (target <= 2).
//
//   watch_bench --control PATH [--rounds 3] [--interval-ms 10000]
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "discovery/mreg_app.h"
#include "watch/line_tracker.h"
#include "watch/line_watch.h"

namespace {

double CpuMs() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

// One request on linesim's control socket; its answer line.
std::string Control(const std::string& path, const std::string& request) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  std::string answer;
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string line = request + "\n";
    if (::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
      char buffer[4096];
      for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        answer.append(buffer, static_cast<size_t>(n));
        if (answer.find('\n') != std::string::npos) break;
      }
    }
  }
  if (fd >= 0) ::close(fd);
  return answer;
}

struct Watched {
  std::mutex lock;
  std::condition_variable changed;
  uint64_t rounds = 0;
  std::vector<double> roundCpuMs;
  double roundStartCpu = 0;
  std::vector<watch::WatchEvent> events;
};

// The real probe, with the CPU time taken from each round's start.
class TimedProbe : public watch::LineProbe {
 public:
  TimedProbe(std::unique_ptr<watch::LineProbe> inner, Watched& watched)
      : inner_(std::move(inner)), watched_(watched) {}
  watch::RoundView Discover() override {
    {
      std::lock_guard<std::mutex> hold(watched_.lock);
      watched_.roundStartCpu = CpuMs();
    }
    return inner_->Discover();
  }
  void DrawTopology(watch::RoundView& view) override { inner_->DrawTopology(view); }
  std::optional<std::string> ConfigurationId(uint32_t serial, const std::string& ip) override {
    return inner_->ConfigurationId(serial, ip);
  }
  std::string Restore(uint32_t, const std::string&, uint32_t) override {
    return "restore: not in the benchmark";
  }
  void Cancel() override { inner_->Cancel(); }

 private:
  std::unique_ptr<watch::LineProbe> inner_;
  Watched& watched_;
};

}  // namespace

int main(int argc, char** argv) {
  std::string control;
  int rounds = 3;
  int intervalMs = 10000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--control") == 0) control = argv[i + 1];
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--interval-ms") == 0)
      intervalMs = std::max(200, std::atoi(argv[i + 1]));
  }
  if (control.empty()) {
    std::fprintf(stderr, "usage: watch_bench --control PATH [--rounds N] [--interval-ms MS]\n");
    return 2;
  }
  CMRegApp app;
  watch::WatchOptions options;
  options.interval = std::chrono::milliseconds(intervalMs);

  // The as-built record: the line as the watch's probe draws it now.
  std::unique_ptr<watch::LineProbe> recorder = watch::MakeLineProbe(app, options);
  watch::RoundView first = recorder->Discover();
  recorder->DrawTopology(first);
  if (first.failed || !first.drawing || first.drawing->empty()) {
    std::fprintf(stderr, "watch_bench: no line drawn (%s)\n", first.failure.c_str());
    return 1;
  }
  char folder[] = "/tmp/qm-watch-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) return 1;
  options.recordPath = std::string(folder) + "/record.json";
  std::ofstream(options.recordPath) << watch::DrawingDocument(*first.drawing).dump();
  const std::vector<watch::DrawnModule> drawn = *first.drawing;
  recorder.reset();

  Watched watched;
  watch::LineWatch lineWatch(
      std::make_unique<TimedProbe>(watch::MakeLineProbe(app, options), watched), options);
  std::string error;
  if (!lineWatch.Load(&error)) {
    std::fprintf(stderr, "watch_bench: %s\n", error.c_str());
    return 1;
  }
  lineWatch.OnSnapshot([&](const watch::LineSnapshot&) {
    std::lock_guard<std::mutex> hold(watched.lock);
    watched.roundCpuMs.push_back(CpuMs() - watched.roundStartCpu);
    ++watched.rounds;
    watched.changed.notify_all();
  });
  lineWatch.OnEvent([&](const watch::WatchEvent& event) {
    std::lock_guard<std::mutex> hold(watched.lock);
    watched.events.push_back(event);
  });
  lineWatch.Start();
  const auto waitRounds = [&](uint64_t until) {
    std::unique_lock<std::mutex> hold(watched.lock);
    watched.changed.wait_for(hold, std::chrono::milliseconds(intervalMs) * (until + 3),
                             [&] { return watched.rounds >= until; });
    return watched.rounds;
  };
  waitRounds(static_cast<uint64_t>(rounds));

  // A module in the middle of the drawing replaced by a factory-fresh one.
  const watch::DrawnModule victim = drawn[drawn.size() / 2];
  const uint32_t spare = 3900000 + victim.serial % 100000;
  uint64_t replacedAt = 0;
  {
    std::lock_guard<std::mutex> hold(watched.lock);
    replacedAt = watched.rounds;
  }
  const std::string answer = Control(
      control,
      nlohmann::json{{"cmd", "replace"}, {"module", victim.serial}, {"serial", spare}}.dump());
  if (answer.find("\"ok\":true") == std::string::npos &&
      answer.find("\"ok\": true") == std::string::npos) {
    std::fprintf(stderr, "watch_bench: replace refused: %s\n", answer.c_str());
  }
  uint64_t reportedIn = 0;
  for (uint64_t round = replacedAt + 1; round <= replacedAt + 4 && reportedIn == 0; ++round) {
    waitRounds(round);
    std::lock_guard<std::mutex> hold(watched.lock);
    for (const watch::WatchEvent& e : watched.events)
      if (e.kind == watch::EventKind::Replaced && e.serial == spare)
        reportedIn = round - replacedAt;
  }
  lineWatch.Stop();

  std::vector<double> cpu;
  {
    std::lock_guard<std::mutex> hold(watched.lock);
    cpu = watched.roundCpuMs;
  }
  const watch::LineSnapshot snapshot = lineWatch.Snapshot();
  double total = 0, worst = 0;
  for (double ms : cpu) {
    total += ms;
    worst = std::max(worst, ms);
  }
  const double mean = cpu.empty() ? 0 : total / static_cast<double>(cpu.size());
  std::printf("  modules answering %zu, recorded (drawn) %zu, rounds %zu\n",
              snapshot.present + snapshot.unrecorded.size(), snapshot.expected, cpu.size());
  std::printf("  round CPU mean %.1f ms, worst %.1f ms, interval %d ms\n", mean, worst, intervalMs);
  const double ratio = 100.0 * worst / intervalMs;
  std::printf("  round CPU / interval (worst round) %.2f %% / target < 5 %%: %s\n", ratio,
              ratio < 5.0 ? "met" : "MISSED");
  if (reportedIn == 0) {
    std::printf("  replaced module reported: not within 4 rounds / target <= 2 rounds: MISSED\n");
  } else {
    std::printf("  replaced module reported in round %llu / target <= 2 rounds: %s\n",
                static_cast<unsigned long long>(reportedIn), reportedIn <= 2 ? "met" : "MISSED");
  }
  std::remove(options.recordPath.c_str());
  ::rmdir(folder);
  return 0;
}
