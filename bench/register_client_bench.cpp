// Register reads from one module: our register client against libmodbus, 10,000 reads of 25
// registers each (40..64), in one run. Runs inside the lab's PC namespace against linesim
// (tools/bench starts both); prints the ratio of the two median times.
//
//   register_client_bench --address 192.168.202.21 [--benchmark_... options]
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <modbus.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "comm/blocking_socket.h"

namespace {

std::string moduleAddress = "192.168.202.21";
constexpr int kReads = 10000;
constexpr uint16_t kFirst = 40;
constexpr uint16_t kCount = 25;

void OurClient(benchmark::State& state) {
  CBlockingSocket client;
  client._Connect(moduleAddress, 502, false);
  uint16_t words[kCount];
  for (auto _ : state) {
    if (client.ReadMultiplyRegisters(kFirst, kCount, words) != 1) {
      state.SkipWithError("unmatched answer");
      break;
    }
    benchmark::DoNotOptimize(words);
  }
}

void Libmodbus(benchmark::State& state) {
  modbus_t* context = modbus_new_tcp(moduleAddress.c_str(), 502);
  if (context == nullptr || modbus_connect(context) != 0) {
    state.SkipWithError("libmodbus could not connect");
    if (context != nullptr) modbus_free(context);
    return;
  }
  modbus_set_slave(context, 1);
  modbus_set_response_timeout(context, 3, 0);
  uint16_t words[kCount];
  for (auto _ : state) {
    if (modbus_read_registers(context, kFirst - 1, kCount, words) != kCount) {
      state.SkipWithError(modbus_strerror(errno));
      break;
    }
    benchmark::DoNotOptimize(words);
  }
  modbus_close(context);
  modbus_free(context);
}

// Five rounds of 10,000 reads each, the rounds of the two clients interleaved (so that a busy
// phase of the machine meets both alike); the medians are compared.
BENCHMARK(OurClient)->Iterations(kReads)->Repetitions(5)->Unit(benchmark::kMicrosecond);
BENCHMARK(Libmodbus)->Iterations(kReads)->Repetitions(5)->Unit(benchmark::kMicrosecond);

// Keeps the median real time per benchmark for the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_None) {}  // plain text: the output goes to logs
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        medians[run.run_name.function_name] = run.GetAdjustedRealTime();
        cpuMedians[run.run_name.function_name] = run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> medians;
  std::map<std::string, double> cpuMedians;
};

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
  rest.insert(rest.begin() + 1, interleave);  // options given later win
  int restCount = static_cast<int>(rest.size());
  benchmark::Initialize(&restCount, rest.data());
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const auto ours = reporter.medians.find("OurClient");
  const auto theirs = reporter.medians.find("Libmodbus");
  if (ours == reporter.medians.end() || theirs == reporter.medians.end() || theirs->second <= 0) {
    std::fprintf(stderr, "register_client_bench: no result for both clients\n");
    return 1;
  }
  const double cpuOurs = reporter.cpuMedians["OurClient"];
  const double cpuTheirs = reporter.cpuMedians["Libmodbus"];
  std::printf(
      "register client: %d reads of %d registers from %s: ours %.1f us, libmodbus %.1f us"
      " per read; ratio ours/libmodbus = %.3f (target <= 1.10); CPU time ratio %.3f\n",
      kReads, kCount, moduleAddress.c_str(), ours->second, theirs->second,
      ours->second / theirs->second, cpuTheirs > 0 ? cpuOurs / cpuTheirs : 0.0);
  return 0;
}
