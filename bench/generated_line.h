#pragma once
// What the benchmarks against `linesim --generate N,NETWORKS` share: the modules' addresses as
// the generator spreads them (one linesim per network serves them, one network per lab
// adapter), the CPU time of this process, and tftp-hpa's client run for many modules at once
// as the baseline of what the line's servers give.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

// The addresses of a generated line's modules in serial order: network k (0-based) is
// 192.168.(202 + k).0/24 and holds an even share of the modules from host .20 upwards (.11
// upwards past .254), as sim/line.cpp's generator places them.
inline std::vector<std::string> GeneratedAddresses(int modules, int networks) {
  std::vector<std::string> addresses;
  int made = 0;
  for (int net = 0; net < networks && made < modules; ++net) {
    const int here = (modules - made + (networks - net) - 1) / (networks - net);
    for (int i = 0; i < here; ++i, ++made) {
      int host = i + 20;
      if (host > 254) host = 11 + (host - 255);
      addresses.push_back("192.168." + std::to_string(202 + net) + "." + std::to_string(host));
    }
  }
  return addresses;
}

// The firmware version (major << 8 | minor) of the generated line's module `index`, in serial
// order: the generator's cycle of eight versions.
inline uint16_t GeneratedFirmware(int index) {
  static const uint16_t kFirmware[] = {0x040C, 0x040E, 0x040A, 0x0313,
                                       0x0414, 0x040E, 0x0401, 0x0410};
  return kFirmware[index % 8];
}

// CPU time (user + system) of this process so far, in ms: the tool's own work, its threads
// included.
inline double ProcessCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// One tftp-hpa client per address, all started at once, each putting `localPath` as `remote`
// (in binary mode); the wall time until the last has ended, in ms, and the clients' CPU time
// in *clientCpuMs. Negative when a client failed.
inline double ParallelTftpHpaPut(const std::vector<std::string>& addresses,
                                 const std::string& localPath, const std::string& remote,
                                 double* clientCpuMs) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<pid_t> children;
  for (const std::string& address : addresses) {
    const pid_t child = fork();
    if (child == 0) {
      const int null = open("/dev/null", O_WRONLY);
      if (null >= 0) dup2(null, STDOUT_FILENO);
      execl("/usr/bin/tftp", "tftp", "-m", "binary", address.c_str(), "-c", "put",
            localPath.c_str(), remote.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    if (child > 0) children.push_back(child);
  }
  bool ok = children.size() == addresses.size();
  *clientCpuMs = 0;
  for (const pid_t child : children) {
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
      ok = false;
    }
    *clientCpuMs += (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                    (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  }
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  if (!ok) std::fprintf(stderr, "bench: a tftp-hpa client failed\n");
  return ok ? took.count() : -1;
}

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

inline const char* Verdict(bool met) {
  return met ? "met" : "MISSED";
}

}  // namespace bench
