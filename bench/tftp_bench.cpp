// Upload of a 377,512-byte image to one linesim module: our TFTP client against Debian's
// tftp-hpa client, same server, same bytes on the wire (tftp-hpa is given the file with the
// two check bytes our client appends). Runs inside the lab's PC namespace against linesim
// (tools/bench starts both); prints the ratio of the two median times. The tftp-hpa figure
// includes starting its process (a few milliseconds).
//
//   tftp_bench --address 192.168.202.20 [--pairs 21]
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
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

// One upload by our client; its wall time in ms, or a negative value on failure.
double OurUpload(uint32_t* retransmissions) {
  const auto start = std::chrono::steady_clock::now();
  CTFTPClient client;
  int result = client.Put(imagePath, kRemoteName, moduleAddress, 69);
  while (result == CTFTPClient::kGoOn) result = client.ContinuePut();
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  *retransmissions += client.GetRetransmissions();
  if (result != CTFTPClient::kDone) {
    std::fprintf(stderr, "tftp_bench: our upload failed: %s\n", client.GetLastError());
    return -1;
  }
  return took.count();
}

// One upload by tftp-hpa (its process start included); wall time in ms, negative on failure.
double TheirUpload() {
  const auto start = std::chrono::steady_clock::now();
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
    std::fprintf(stderr, "tftp_bench: tftp-hpa failed\n");
    return -1;
  }
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  return took.count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

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
  int pairs = 21;
  for (int k = 1; k < argc; ++k) {
    if (std::strcmp(argv[k], "--address") == 0 && k + 1 < argc)
      moduleAddress = argv[++k];
    else if (std::strcmp(argv[k], "--pairs") == 0 && k + 1 < argc)
      pairs = std::atoi(argv[++k]);
  }
  if (pairs < 1 || !MakeFiles()) {
    std::fprintf(stderr, "tftp_bench: no temporary folder or no pairs\n");
    return 1;
  }
  // The uploads run in pairs, the order alternating, so that a busy moment of the machine
  // meets both clients alike; the medians and the median of the pairs' ratios are printed.
  std::vector<double> ours, theirs, ratios;
  uint32_t retransmissions = 0;
  bool ok = true;
  for (int pair = 0; pair < pairs && ok; ++pair) {
    double a = 0, b = 0;
    if (pair % 2 == 0) {
      a = OurUpload(&retransmissions);
      b = TheirUpload();
    } else {
      b = TheirUpload();
      a = OurUpload(&retransmissions);
    }
    ok = a > 0 && b > 0;
    if (!ok) break;
    ours.push_back(a);
    theirs.push_back(b);
    ratios.push_back(a / b);
  }
  RemoveFiles();
  if (!ok) return 1;
  // The headline ratio is the median of the pairs' ratios: the two uploads of a pair meet the
  // same load of the machine, which the ratio of the two medians does not cancel.
  std::printf(
      "tftp upload: %zu bytes to %s, %d pairs: ours median %.1f ms (best %.1f), tftp-hpa median "
      "%.1f ms (best %.1f), our retransmissions %u; ratio ours/tftp-hpa = %.3f (median of the "
      "pairs' ratios; ratio of the medians %.3f, of the bests %.3f; target <= 1.00)\n",
      kImageSize, moduleAddress.c_str(), pairs, Median(ours),
      *std::min_element(ours.begin(), ours.end()), Median(theirs),
      *std::min_element(theirs.begin(), theirs.end()), retransmissions, Median(ratios),
      Median(ours) / Median(theirs),
      *std::min_element(ours.begin(), ours.end()) /
          *std::min_element(theirs.begin(), theirs.end()));
  return 0;
}
