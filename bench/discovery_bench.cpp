// A full discovery of one adapter with 236 modules behind it (linesim --generate 236). Runs in
// the lab's PC namespace (tools/bench starts the lab and linesim). Reports whether every module
// was found and the processing overhead: the time a discovery takes beyond what its rules
// prescribe (the sends and their 5/10 ms pauses, then collecting until 300 ms after the last
// answer or the end of the window).
//
//   discovery_bench [--modules 236] [--benchmark_... options]
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "discovery/discover.h"
#include "discovery/mreg_app.h"

namespace {

using Clock = std::chrono::steady_clock;
using Micros = std::chrono::duration<double, std::micro>;

size_t expectedModules = 236;

// The libpcap driver with the times of the sends, of the last answer taken and of the close.
struct Timeline {
  Clock::time_point firstSend{}, lastSend{}, lastAnswer{}, closing{}, closed{};
  double openMicros = 0;
  bool sent = false, answered = false;
  uint32_t sequence = 0;
};

class TimedHandle : public platform::CaptureHandle {
 public:
  TimedHandle(std::unique_ptr<platform::CaptureHandle> inner, Timeline* timeline)
      : inner_(std::move(inner)), timeline_(timeline) {}
  ~TimedHandle() override {
    timeline_->closing = Clock::now();
    inner_.reset();
    timeline_->closed = Clock::now();
  }
  bool Send(const uint8_t* frame, size_t length) override {
    const bool ok = inner_->Send(frame, length);
    const auto now = Clock::now();
    if (!timeline_->sent) timeline_->firstSend = now;
    timeline_->sent = true;
    timeline_->lastSend = now;
    if (length >= 50)
      timeline_->sequence =
          frame[46] | frame[47] << 8 | frame[48] << 16 | uint32_t{frame[49]} << 24;
    return ok;
  }
  bool Read(std::vector<uint8_t>& frame, uint32_t timeoutMs) override {
    if (!inner_->Read(frame, timeoutMs)) return false;
    const auto answer =
        discovery::ParseCapturedAnswer(frame.data(), frame.size(), discovery::kDiscoverPort);
    if (answer && answer->packet.sequence == timeline_->sequence &&
        answer->packet.code == discovery::kPacketDiscoverAnswer) {
      timeline_->lastAnswer = Clock::now();
      timeline_->answered = true;
    }
    return true;
  }
  std::string LastError() const override { return inner_->LastError(); }

 private:
  std::unique_ptr<platform::CaptureHandle> inner_;
  Timeline* timeline_;
};

class TimedDriver : public platform::CaptureDriver {
 public:
  explicit TimedDriver(Timeline* timeline)
      : inner_(platform::MakePcapDriver()), timeline_(timeline) {}
  platform::CaptureDeviceList ListDevices() override { return inner_->ListDevices(); }
  std::unique_ptr<platform::CaptureHandle> Open(const std::string& device, int snapLength,
                                                bool promiscuous, std::string* error) override {
    const auto start = Clock::now();
    auto handle = inner_->Open(device, snapLength, promiscuous, error);
    timeline_->openMicros = Micros(Clock::now() - start).count();
    if (!handle) return nullptr;
    return std::make_unique<TimedHandle>(std::move(handle), timeline_);
  }

 private:
  std::unique_ptr<platform::CaptureDriver> inner_;
  Timeline* timeline_;
};

void Discovery(benchmark::State& state, bool fast) {
  double overheadSum = 0, totalSum = 0, lateSum = 0, closeSum = 0, openSum = 0;
  size_t found = 0;
  int runs = 0;
  for (auto _ : state) {
    Timeline timeline;
    TimedDriver driver(&timeline);
    CMRegApp app;
    app.SetCaptureDriver(&driver);
    app.discoverDone = fast ? 0 : 1;
    const auto start = Clock::now();
    const int result = app.Discover(true, nullptr);
    const auto end = Clock::now();
    if (result != 1 || !timeline.sent) {
      state.SkipWithError("no discovery ran (capture rights? lab?)");
      break;
    }
    // Where the rules end the collection.
    const auto window =
        std::chrono::milliseconds(fast ? discovery::kFastCollectMs : discovery::kNormalCollectMs);
    auto ruleEnd = timeline.lastSend + window;
    const auto byAnswers = timeline.answered ? timeline.lastAnswer + std::chrono::milliseconds(300)
                                             : timeline.lastSend + std::chrono::milliseconds(700);
    if (byAnswers < ruleEnd) ruleEnd = byAnswers;
    const double prescribed = Micros(ruleEnd - timeline.firstSend).count();
    const double total = Micros(end - start).count();
    state.SetIterationTime(total / 1e6);
    overheadSum += total - prescribed;
    lateSum += Micros(timeline.closing - ruleEnd).count();
    closeSum += Micros(timeline.closed - timeline.closing).count();
    openSum += timeline.openMicros;
    totalSum += total;
    const AdapterPtr adapter = app.SelectedAdapter();
    found = adapter ? adapter->NodeCount() : 0;
    ++runs;
    if (found != expectedModules) {
      state.SkipWithError(("found " + std::to_string(found) + " modules").c_str());
      break;
    }
  }
  if (runs == 0) return;
  state.counters["found"] = static_cast<double>(found);
  state.counters["total_ms"] = totalSum / runs / 1000;
  state.counters["overhead_ms"] = overheadSum / runs / 1000;
  state.counters["end_late_ms"] = lateSum / runs / 1000;
  state.counters["close_ms"] = closeSum / runs / 1000;
  state.counters["open_ms"] = openSum / runs / 1000;
  state.counters["own_ms"] = (overheadSum - openSum - closeSum) / runs / 1000;
  std::printf(
      "discovery (%s) of %zu modules: found %zu, %.1f ms in all, %.2f ms beyond the "
      "prescribed sends and collection: opening the capture %.2f ms, closing it %.2f ms (the "
      "kernel's packet socket set-up and tear-down), the rest %.2f ms; the collection ended "
      "%.2f ms after its rule\n",
      fast ? "fast" : "normal", expectedModules, found, totalSum / runs / 1000,
      overheadSum / runs / 1000, openSum / runs / 1000, closeSum / runs / 1000,
      (overheadSum - openSum - closeSum) / runs / 1000, lateSum / runs / 1000);
  std::fflush(stdout);
}

void FastDiscovery(benchmark::State& state) {
  Discovery(state, true);
}
void NormalDiscovery(benchmark::State& state) {
  Discovery(state, false);
}

BENCHMARK(FastDiscovery)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(NormalDiscovery)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// Discovery broadcasts on every adapter it finds: only inside a named network namespace (a
// lab's), never in the namespace of this machine's own network.
bool InNamedNetworkNamespace() {
  struct stat mine {};
  if (stat("/proc/self/ns/net", &mine) != 0) return false;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/run/netns", error)) {
    struct stat named {};
    if (stat(entry.path().c_str(), &named) == 0 && named.st_ino == mine.st_ino &&
        named.st_dev == mine.st_dev) {
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> rest;
  for (int k = 0; k < argc; ++k) {
    if (std::strcmp(argv[k], "--modules") == 0 && k + 1 < argc) {
      expectedModules = std::strtoul(argv[++k], nullptr, 10);
    } else {
      rest.push_back(argv[k]);
    }
  }
  if (!InNamedNetworkNamespace()) {
    std::fprintf(stderr,
                 "discovery_bench: run it in a lab's PC namespace (tools/bench does), never on "
                 "this machine's own network\n");
    return 2;
  }
  int restCount = static_cast<int>(rest.size());
  benchmark::Initialize(&restCount, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
