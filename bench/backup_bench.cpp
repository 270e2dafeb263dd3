// A backup of 236 linesim modules against a backup of 1, in the same run: every module has its
// own job and thread, so the 236 should take little longer than the one (target ratio <= 1.5).
// Runs inside the lab's PC namespace against `linesim --generate 236,NETWORKS`, one linesim per
// network (tools/bench starts them); prints the median of each, their ratio, the aggregate
// throughput and the tool's own CPU per module. No file is written.
//
//   backup_bench [--modules 236] [--networks 1] [--rounds 5]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "backup/backup_run.h"
#include "backup/module_link.h"
#include "base/prompt.h"
#include "bench/generated_line.h"

namespace {

// The generated line's modules: addresses as the generator spreads them over the networks,
// serials from 1000001, firmware as the generator gives it (it sets how many registers a backup
// reads; the registers are read back from the modules).
std::vector<backup::ModuleInfo> GeneratedModules(int count, int networks) {
  std::vector<backup::ModuleInfo> modules;
  const std::vector<std::string> addresses = bench::GeneratedAddresses(count, networks);
  for (int i = 0; i < count; ++i) {
    backup::ModuleInfo m;
    m.serial = 1000001u + static_cast<uint32_t>(i);
    m.ipText = addresses[static_cast<size_t>(i)];
    m.maskText = "255.255.255.0";
    m.gatewayText = "0.0.0.0";
    m.firmwareVersion = bench::GeneratedFirmware(i);
    m.familyByte = 0x30;
    modules.push_back(m);
  }
  return modules;
}

double toolCpuOne = 0, toolCpuMany = 0;  // summed over the rounds

// One backup run; its wall time in ms, or a negative value when any module failed.
double Run(const std::vector<backup::ModuleInfo>& modules) {
  const double cpuBefore = bench::ProcessCpuMs();
  base::SilentPrompt prompt;
  base::NullProgress progress;
  const auto start = std::chrono::steady_clock::now();
  const backup::BackupRunResult run = backup::RunBackup(
      modules, [](const std::string& ip) { return backup::MakeModuleLink(ip); }, prompt, progress);
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  (modules.size() == 1 ? toolCpuOne : toolCpuMany) += bench::ProcessCpuMs() - cpuBefore;
  if (!run.writeFile) {
    std::fprintf(stderr, "backup_bench: %zu modules: %s\n", modules.size(),
                 run.failureText.c_str());
    return -1;
  }
  return took.count();
}

}  // namespace

int main(int argc, char** argv) {
  int count = 236;
  int networks = 1;
  int rounds = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--modules") == 0) count = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--networks") == 0) networks = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::atoi(argv[i + 1]);
  }
  if (count < 1 || networks < 1 || networks > 16 || count > 236 * networks || rounds < 1) {
    std::fprintf(stderr,
                 "usage: backup_bench [--modules 1..236 per network] [--networks 1..16] "
                 "[--rounds N]\n");
    return 2;
  }
  const auto all = GeneratedModules(count, networks);
  const std::vector<backup::ModuleInfo> one(all.begin(), all.begin() + 1);
  std::vector<double> single, many;
  // Alternating, so that both see the same state of the machine.
  for (int round = 0; round < rounds; ++round) {
    const bool oneFirst = round % 2 == 0;
    const double a = Run(oneFirst ? one : all);
    const double b = Run(oneFirst ? all : one);
    if (a < 0 || b < 0) return 1;
    single.push_back(oneFirst ? a : b);
    many.push_back(oneFirst ? b : a);
  }
  const double oneMs = bench::Median(single), manyMs = bench::Median(many);
  const double ratio = manyMs / oneMs;
  std::printf(
      "backup, %d modules on %d network(s), one linesim each, %d rounds (medians): 1 module %.0f "
      "ms, %d modules %.0f ms (%.0f modules/s)\n",
      count, networks, rounds, oneMs, count, manyMs, count / manyMs * 1e3);
  std::printf("  ratio %d/1: %.2f  target <= 1.5: %s\n", count, ratio,
              bench::Verdict(ratio <= 1.5));
  std::printf("  the tool's own CPU per module and round: %.1f ms (%.1f ms with 1 module)\n",
              toolCpuMany / rounds / count, toolCpuOne / rounds);
  return 0;
}
