#include "platform/adapters.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstring>

namespace platform {
namespace {

struct Candidate {
  AdapterInfo info;
  bool hasMac = false;
  bool up = false;
  bool loopback = false;
};

Candidate& CandidateFor(std::vector<Candidate>& candidates, const char* name) {
  for (Candidate& candidate : candidates) {
    if (candidate.info.name == name) return candidate;
  }
  candidates.emplace_back();
  candidates.back().info.name = name;
  return candidates.back();
}

std::string DescriptionOf(const AdapterInfo& adapter) {
  if (adapter.addresses.empty()) return adapter.name;
  char text[INET_ADDRSTRLEN] = {};
  in_addr address{};
  address.s_addr = adapter.addresses.front().address;
  inet_ntop(AF_INET, &address, text, sizeof text);
  return adapter.name + " " + text;
}

}  // namespace

std::optional<std::vector<AdapterInfo>> ListAdapters() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return std::nullopt;
  // getifaddrs lists every interface's link entry first (in interface order), then the
  // addresses in the kernel's order for each interface (primary address first).
  std::vector<Candidate> candidates;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_name == nullptr) continue;
    Candidate& candidate = CandidateFor(candidates, entry->ifa_name);
    candidate.up = candidate.up || (entry->ifa_flags & IFF_UP) != 0;
    candidate.loopback = candidate.loopback || (entry->ifa_flags & IFF_LOOPBACK) != 0;
    if (entry->ifa_addr == nullptr) continue;
    if (entry->ifa_addr->sa_family == AF_PACKET) {
      const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
      if (link->sll_halen == 6) {
        std::memcpy(candidate.info.mac.data(), link->sll_addr, 6);
        candidate.hasMac = true;
      }
    } else if (entry->ifa_addr->sa_family == AF_INET) {
      Ipv4Entry address;
      address.address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr;
      if (entry->ifa_netmask != nullptr) {
        address.mask = reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr;
      }
      candidate.info.addresses.push_back(address);
    }
  }
  freeifaddrs(list);

  std::vector<AdapterInfo> adapters;
  for (Candidate& candidate : candidates) {
    if (!candidate.up || candidate.loopback || !candidate.hasMac) continue;
    candidate.info.description = DescriptionOf(candidate.info);
    adapters.push_back(std::move(candidate.info));
  }
  return adapters;
}

std::optional<AdapterInfo> FindAdapter(const std::string& name) {
  const std::optional<std::vector<AdapterInfo>> adapters = ListAdapters();
  if (!adapters) return std::nullopt;
  for (const AdapterInfo& adapter : *adapters) {
    if (adapter.name == name) return adapter;
  }
  return std::nullopt;
}

}  // namespace platform
