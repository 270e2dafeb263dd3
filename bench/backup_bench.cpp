// A backup of 100 linesim modules against a backup of 1, in the same run: every module has its
// own job and thread, so the 100 should take little longer than the one (target ratio <= 1.5).
// Runs inside the lab's PC namespace against `linesim --generate 100` (tools/bench starts
// both); prints the median of each and their ratio. No file is written.
//
//   backup_bench [--modules 100] [--rounds 5]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "backup/backup_run.h"
#include "backup/module_link.h"
#include "base/format.h"
#include "base/prompt.h"

namespace {

// The generated line's modules: hosts .20 upwards of 192.168.202.0/24, serials from 1000001,
// firmware and family as the generator spreads them (the registers and serials are read back
// from the modules, so only the serial and address must be right).
std::vector<backup::ModuleInfo> GeneratedModules(int count) {
  std::vector<backup::ModuleInfo> modules;
  for (int i = 0; i < count; ++i) {
    backup::ModuleInfo m;
    m.serial = 1000001u + static_cast<uint32_t>(i);
    m.ipText = base::Format("192.168.202.%d", 20 + i);
    m.maskText = "255.255.255.0";
    m.gatewayText = "0.0.0.0";
    m.firmwareVersion = 0x0401;  // 512 registers: the most a backup reads
    m.familyByte = 0x30;
    modules.push_back(m);
  }
  return modules;
}

// One backup run; its wall time in ms, or a negative value when any module failed.
double Run(const std::vector<backup::ModuleInfo>& modules) {
  base::SilentPrompt prompt;
  base::NullProgress progress;
  const auto start = std::chrono::steady_clock::now();
  const backup::BackupRunResult run = backup::RunBackup(
      modules, [](const std::string& ip) { return backup::MakeModuleLink(ip); }, prompt, progress);
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  if (!run.writeFile) {
    std::fprintf(stderr, "backup_bench: %zu modules: %s\n", modules.size(),
                 run.failureText.c_str());
    return -1;
  }
  return took.count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int count = 100;
  int rounds = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--modules") == 0) count = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::atoi(argv[i + 1]);
  }
  if (count < 1 || count > 236 || rounds < 1) {
    std::fprintf(stderr, "usage: backup_bench [--modules 1..236] [--rounds N]\n");
    return 2;
  }
  const auto all = GeneratedModules(count);
  const std::vector<backup::ModuleInfo> one(all.begin(), all.begin() + 1);
  std::vector<double> single, many;
  // Alternating, so that both see the same state of the machine.
  for (int round = 0; round < rounds; ++round) {
    const double a = Run(one);
    const double b = Run(all);
    if (a < 0 || b < 0) return 1;
    single.push_back(a);
    many.push_back(b);
  }
  const double ratio = Median(many) / Median(single);
  std::printf("backup of 1 module: %.0f ms, of %d modules: %.0f ms (medians of %d)\n",
              Median(single), count, Median(many), rounds);
  std::printf("ratio %d / 1: %.2f (target <= 1.5)\n", count, ratio);
  return 0;
}
