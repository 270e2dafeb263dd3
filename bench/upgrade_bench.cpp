// The upgrade's upload stage: a 377,512-byte firmware file to 100 linesim modules at once (one
// upload thread per module, as the upgrade runs them) against the same file to 1 module, in the
// same run. The file is named for version 99.99, so that no version test runs; the stage ends
// when the last thread has finished (the run is then stopped before its reset request).
// Prints the ratio of the median times (target <= 1.3). Runs inside the lab's PC namespace
// against `linesim --generate 100` (tools/bench starts both).
//
//   upgrade_bench [--modules 100] [--rounds 5]
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "config/firmware_upgrade.h"
#include "discovery/mreg_app.h"
#include "platform/tick.h"

namespace {

constexpr size_t kFileSize = 377512;
constexpr const char* kFileName = "Brevantrix_99_99.bin";

// Times the upload stage and stops the run when it is over.
class StageTimer : public config::UpgradeListener {
 public:
  void Line(int, const std::string& text) override {
    if (text.find("FTP upload OK") != std::string::npos) ok_.fetch_add(1);
    if (text.find("... Error") != std::string::npos) {
      std::lock_guard guard(mutex_);
      if (errors_.size() < 5) errors_.push_back(text);
    }
  }
  void Stage(const std::string& text) override {
    if (text == "upload") start_ = platform::GetTickCount();
    if (text == "reset" || text == "verify") {
      end_ = platform::GetTickCount();
      if (uploader_) uploader_->Abort();
    }
  }
  void Attach(config::FirmwareUploader* uploader) { uploader_ = uploader; }
  uint32_t Ms() const { return end_ - start_; }
  int Ok() const { return ok_.load(); }
  std::vector<std::string> Errors() {
    std::lock_guard guard(mutex_);
    return errors_;
  }

 private:
  config::FirmwareUploader* uploader_ = nullptr;
  uint32_t start_ = 0;
  uint32_t end_ = 0;
  std::atomic<int> ok_{0};
  std::mutex mutex_;
  std::vector<std::string> errors_;
};

std::string address(int index) {
  const int host = 20 + index;
  return "192.168.202." + std::to_string(host);
}

// CPU time of this process (the tool's side: the upload threads and their clients), in ms.
double ToolCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}
double toolCpuOne = 0, toolCpuMany = 0;  // summed over the rounds

// One upload stage to `count` modules; its time in ms, negative when a module failed.
double Stage(CMRegApp& app, const std::string& path, int count) {
  const double cpuBefore = ToolCpuMs();
  std::vector<std::string> modules;
  for (int i = 0; i < count; ++i) modules.push_back(address(i));
  StageTimer timer;
  config::UpgradeOptions options;
  options.resetWaitMs = 600000;  // never reached: the stage's end stops the run
  config::FirmwareUploader uploader(app, timer, options);
  timer.Attach(&uploader);
  uploader.Run(path, modules);
  (count == 1 ? toolCpuOne : toolCpuMany) += ToolCpuMs() - cpuBefore;
  if (timer.Ok() != count) {
    std::fprintf(stderr, "upgrade_bench: %d of %d uploads ended well\n", timer.Ok(), count);
    for (const auto& line : timer.Errors()) std::fprintf(stderr, "  %s\n", line.c_str());
    return -1;
  }
  return timer.Ms();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int count = 100;
  int rounds = 5;
  for (int k = 1; k < argc; ++k) {
    if (std::strcmp(argv[k], "--modules") == 0 && k + 1 < argc)
      count = std::atoi(argv[++k]);
    else if (std::strcmp(argv[k], "--rounds") == 0 && k + 1 < argc)
      rounds = std::atoi(argv[++k]);
  }
  if (count < 1 || count > 200 || rounds < 1) {
    std::fprintf(stderr, "upgrade_bench: --modules 1..200, --rounds >= 1\n");
    return 2;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/qm-upgrade-bench-XXXXXX";
  if (!mkdtemp(folder.data())) return 1;
  const std::string path = folder + "/" + kFileName;
  {
    std::vector<char> bytes(kFileSize);
    uint32_t seed = 11;
    for (char& byte : bytes) {
      seed = seed * 1103515245u + 12345u;
      byte = static_cast<char>(seed >> 16);
    }
    const uint32_t header = 0xE59FF018u;  // the base family's first word
    std::memcpy(bytes.data(), &header, 4);
    std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size());
  }
  CMRegApp app;
  // Alternating, so that a busy moment of the machine meets both alike.
  std::vector<double> one, many;
  bool ok = true;
  for (int round = 0; round < rounds && ok; ++round) {
    const double a = round % 2 ? Stage(app, path, count) : Stage(app, path, 1);
    const double b = round % 2 ? Stage(app, path, 1) : Stage(app, path, count);
    ok = a >= 0 && b >= 0;
    (round % 2 ? many : one).push_back(a);
    (round % 2 ? one : many).push_back(b);
  }
  std::remove(path.c_str());
  rmdir(folder.c_str());
  if (!ok) return 1;
  std::printf(
      "firmware upload: %zu bytes, %d rounds: 1 module median %.0f ms (best %.0f), %d modules "
      "median %.0f ms (best %.0f); ratio %d/1 = %.2f (of the bests %.2f; target <= 1.3); the "
      "tool's own CPU per module and round: %.1f ms with 1 module, %.1f ms with %d\n",
      kFileSize, rounds, Median(one), *std::min_element(one.begin(), one.end()), count,
      Median(many), *std::min_element(many.begin(), many.end()), count, Median(many) / Median(one),
      *std::min_element(many.begin(), many.end()) / *std::min_element(one.begin(), one.end()),
      toolCpuOne / rounds, toolCpuMany / rounds / count, count);
  return 0;
}
