// Upload of a 377,512-byte image to one linesim module: our TFTP client against Debian's
// tftp-hpa client, same server, same bytes on the wire (tftp-hpa is given the file with the
// two check bytes our client appends). Runs inside the lab's PC namespace against linesim
// (tools/bench starts both); prints the ratio of the two median times. The tftp-hpa figure
// includes starting its process (a few milliseconds).
//
//   tftp_bench --address 192.168.202.20 [--benchmark_... options]
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "comm/tftp_client.h"

namespace {

std::string moduleAddress = "192.168.202.20";
constexpr size_t kImageSize = 377512;
constexpr const char* kRemoteName = "BrevantrixUX_4_18.bin";
std::string folder;     // temporary, removed at the end
std::string imagePath;  // the image
std::string sentPath;   // the image with its check bytes, for tftp-hpa

void OurClient(benchmark::State& state) {
  for (auto _ : state) {
    CTFTPClient client;
    int result = client.Put(imagePath, kRemoteName, moduleAddress, 69);
    while (result == CTFTPClient::kGoOn) result = client.ContinuePut();
    if (result != CTFTPClient::kDone) {
      state.SkipWithError(client.GetLastError());
      break;
    }
    state.counters["retransmissions"] = client.GetRetransmissions();
  }
}

void TftpHpa(benchmark::State& state) {
  for (auto _ : state) {
    const pid_t child = fork();
    if (child == 0) {
      const int null = open("/dev/null", O_WRONLY);
      if (null >= 0) dup2(null, STDOUT_FILENO);
      execl("/usr/bin/tftp", "tftp", "-m", "binary", moduleAddress.c_str(), "-c", "put",
            sentPath.c_str(), kRemoteName, static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
      state.SkipWithError("tftp-hpa failed");
      break;
    }
  }
}

// Five uploads each, the two clients interleaved; the medians are compared.
BENCHMARK(OurClient)->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(TftpHpa)->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_None) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        medians[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> medians;
};

bool MakeFiles() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qm-tftp-bench-XXXXXX";
  if (!mkdtemp(pattern.data())) return false;
  folder = pattern;
  imagePath = folder + "/image.bin";
  sentPath = folder + "/image-with-crc.bin";
  std::vector<uint8_t> image(kImageSize);
  uint32_t seed = 7;
  for (uint8_t& byte : image) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(seed >> 16);
  }
  std::ofstream(imagePath, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
  const uint16_t crc = tftp::Crc16Modbus(image.data(), image.size());
  image.push_back(static_cast<uint8_t>(crc));
  image.push_back(static_cast<uint8_t>(crc >> 8));
  std::ofstream(sentPath, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
  return true;
}

void RemoveFiles() {
  std::remove(imagePath.c_str());
  std::remove(sentPath.c_str());
  rmdir(folder.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> rest;
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  for (int k = 0; k < argc; ++k) {
    if (std::strcmp(argv[k], "--address") == 0 && k + 1 < argc) {
      moduleAddress = argv[++k];
    } else {
      rest.push_back(argv[k]);
    }
  }
  rest.insert(rest.begin() + 1, interleave);
  if (!MakeFiles()) {
    std::fprintf(stderr, "tftp_bench: no temporary folder\n");
    return 1;
  }
  int restCount = static_cast<int>(rest.size());
  benchmark::Initialize(&restCount, rest.data());
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  RemoveFiles();
  const auto ours = reporter.medians.find("OurClient");
  const auto theirs = reporter.medians.find("TftpHpa");
  if (ours == reporter.medians.end() || theirs == reporter.medians.end() || theirs->second <= 0) {
    std::fprintf(stderr, "tftp_bench: no result for both clients\n");
    return 1;
  }
  std::printf(
      "tftp upload: %zu bytes to %s: ours %.1f ms, tftp-hpa %.1f ms; ratio ours/tftp-hpa = %.3f "
      "(target <= 1.00)\n",
      kImageSize, moduleAddress.c_str(), ours->second, theirs->second,
      ours->second / theirs->second);
  return 0;
}
