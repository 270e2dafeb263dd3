#include "platform/capture_rights.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace platform {
namespace {

constexpr int kCapNetAdmin = 12;
constexpr int kCapNetRaw = 13;

std::string ExecutablePath() {
  std::vector<char> buffer(4096);
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return "<Programm>";
  return std::string(buffer.data(), static_cast<size_t>(length));
}

}  // namespace

// The effective capability set decides: root normally holds every capability, but a root
// whose capabilities were dropped (a restricted container) cannot capture. Only when the set
// cannot be read does root alone count.
bool HasCaptureRights() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 7, "CapEff:") != 0) continue;
    char* end = nullptr;
    const std::string hex = line.substr(7);
    const uint64_t effective = std::strtoull(hex.c_str(), &end, 16);
    if (end == hex.c_str()) break;
    const uint64_t needed = (uint64_t{1} << kCapNetRaw) | (uint64_t{1} << kCapNetAdmin);
    return (effective & needed) == needed;
  }
  return geteuid() == 0;
}

std::string CaptureRightsHelp() {
  const std::string program = ExecutablePath();
  // Installed from the package: the rights come with the group, not with setcap.
  if (program.rfind("/usr/lib/quillmar/", 0) == 0) {
    return "Zum Senden und Empfangen der Netzwerkpakete braucht das Programm die Rechte "
           "CAP_NET_RAW und CAP_NET_ADMIN.\nBitte als root starten oder sich einmalig in die "
           "Gruppe quillmar aufnehmen lassen und neu anmelden:\n  sudo adduser $USER quillmar";
  }
  return "Zum Senden und Empfangen der Netzwerkpakete braucht das Programm die Rechte "
         "CAP_NET_RAW und CAP_NET_ADMIN.\nBitte als root starten oder die Rechte einmalig "
         "vergeben:\n  sudo setcap cap_net_raw,cap_net_admin+eip " +
         program;
}

}  // namespace platform
