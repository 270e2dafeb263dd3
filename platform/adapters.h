#pragma once
// The PC's network adapters as the operating system lists them.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

using MacAddress = std::array<uint8_t, 6>;

struct Ipv4Entry {
  uint32_t address = 0;  // network order
  uint32_t mask = 0;     // network order
};

struct AdapterInfo {
  std::string name;         // interface name, also the capture device name
  std::string description;  // interface name with its first IPv4 address, e.g. "eth0 192.168.202.10"
  MacAddress mac{};
  std::vector<Ipv4Entry> addresses;  // every IPv4 address configured, in the system's order
};

// Every interface that is up, not loopback and has a 6-byte hardware address.
// Returns nullopt when the system query itself fails.
std::optional<std::vector<AdapterInfo>> ListAdapters();
std::optional<AdapterInfo> FindAdapter(const std::string& name);

}  // namespace platform
