// The upgrade's upload stage: a 377,512-byte firmware file to 100 linesim modules at once (one
// upload thread per module, as the upgrade runs them), against the same bytes put by as many
// tftp-hpa clients at once to the same modules (what the line's servers give), and against the
// upload to 1 module, in alternating rounds of one run. The file is named for version 99.99, so
// that no version test runs; the stage ends when the last thread has finished (the run is then
// stopped before its reset request). Prints the ratio of our median time to tftp-hpa's (target
// <= 1.3), the aggregate throughputs, and the tool's own CPU per module. Runs inside the lab's
// PC namespace against `linesim --generate 100,NETWORKS`, one linesim per network (tools/bench
// starts them).
//
//   upgrade_bench [--modules 100] [--networks 1] [--rounds 5]
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

#include "bench/generated_line.h"
#include "comm/tftp_client.h"
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

double toolCpuOne = 0, toolCpuMany = 0;  // summed over the rounds

// One upload stage to `modules`; its time in ms, negative when a module failed.
double Stage(CMRegApp& app, const std::string& path, const std::vector<std::string>& modules) {
  const double cpuBefore = bench::ProcessCpuMs();
  const int count = static_cast<int>(modules.size());
  StageTimer timer;
  config::UpgradeOptions options;
  options.resetWaitMs = 600000;  // never reached: the stage's end stops the run
  config::FirmwareUploader uploader(app, timer, options);
  timer.Attach(&uploader);
  uploader.Run(path, modules);
  (count == 1 ? toolCpuOne : toolCpuMany) += bench::ProcessCpuMs() - cpuBefore;
  if (timer.Ok() != count) {
    std::fprintf(stderr, "upgrade_bench: %d of %d uploads ended well\n", timer.Ok(), count);
    for (const auto& line : timer.Errors()) std::fprintf(stderr, "  %s\n", line.c_str());
    return -1;
  }
  return timer.Ms();
}

}  // namespace

int main(int argc, char** argv) {
  int count = 100;
  int networks = 1;
  int rounds = 5;
  for (int k = 1; k < argc; ++k) {
    if (std::strcmp(argv[k], "--modules") == 0 && k + 1 < argc)
      count = std::atoi(argv[++k]);
    else if (std::strcmp(argv[k], "--networks") == 0 && k + 1 < argc)
      networks = std::atoi(argv[++k]);
    else if (std::strcmp(argv[k], "--rounds") == 0 && k + 1 < argc)
      rounds = std::atoi(argv[++k]);
  }
  if (count < 1 || count > 200 || networks < 1 || networks > 16 || rounds < 1) {
    std::fprintf(stderr, "upgrade_bench: --modules 1..200, --networks 1..16, --rounds >= 1\n");
    return 2;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/qm-upgrade-bench-XXXXXX";
  if (!mkdtemp(folder.data())) return 1;
  const std::string path = folder + "/" + kFileName;
  // tftp-hpa is given the bytes our client sends: the file and its two check bytes.
  const std::string sentPath = folder + "/with-crc.bin";
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
    const uint16_t crc =
        tftp::Crc16Modbus(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    bytes.push_back(static_cast<char>(crc & 0xFF));
    bytes.push_back(static_cast<char>(crc >> 8));
    std::ofstream(sentPath, std::ios::binary).write(bytes.data(), bytes.size());
  }
  const std::vector<std::string> all = bench::GeneratedAddresses(count, networks);
  const std::vector<std::string> first(all.begin(), all.begin() + 1);
  CMRegApp app;
  // Alternating, so that a busy moment of the machine meets all three alike.
  std::vector<double> one, many, theirs;
  double theirCpu = 0;
  bool ok = true;
  for (int round = 0; round < rounds && ok; ++round) {
    for (int step = 0; step < 3 && ok; ++step) {
      const int which = (round + step) % 3;
      double ms = -1;
      if (which == 0) {
        ms = Stage(app, path, first);
        one.push_back(ms);
      } else if (which == 1) {
        ms = Stage(app, path, all);
        many.push_back(ms);
      } else {
        double cpu = 0;
        ms = bench::ParallelTftpHpaPut(all, sentPath, kFileName, &cpu);
        theirCpu += cpu;
        theirs.push_back(ms);
      }
      ok = ms >= 0;
    }
  }
  std::remove(path.c_str());
  std::remove(sentPath.c_str());
  rmdir(folder.c_str());
  if (!ok) return 1;
  const double oursMs = bench::Median(many);
  const double theirsMs = bench::Median(theirs);
  const double ratio = oursMs / theirsMs;
  const double megabytes = static_cast<double>(kFileSize) * count / 1e6;
  std::printf(
      "firmware upload, %zu bytes to %d modules on %d network(s), one linesim each, %d rounds "
      "(medians):\n",
      kFileSize, count, networks, rounds);
  std::printf("  ours %.0f ms (%.1f MB/s), %d tftp-hpa clients at once %.0f ms (%.1f MB/s)\n",
              oursMs, megabytes / oursMs * 1e3, count, theirsMs, megabytes / theirsMs * 1e3);
  std::printf("  ratio ours/tftp-hpa, %d modules: %.2f  target <= 1.3: %s\n", count, ratio,
              bench::Verdict(ratio <= 1.3));
  std::printf(
      "  CPU per module and round: the tool %.1f ms (%.1f ms with 1 module), tftp-hpa's clients "
      "%.1f ms\n",
      toolCpuMany / rounds / count, toolCpuOne / rounds, theirCpu / rounds / count);
  std::printf("  1 module %.0f ms; ratio %d/1 = %.2f\n", bench::Median(one), count,
              oursMs / bench::Median(one));
  return 0;
}
