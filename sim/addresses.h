#pragma once
// Adds and removes the modules' IPv4 addresses on the line-side interface (netlink), so that
// the kernel answers ARP and ICMP echo for live modules only. Addresses shared by several
// modules are counted: the address goes when its last module goes.
#include <cstdint>
#include <map>
#include <string>

namespace sim {

class InterfaceAddresses {
 public:
  // An empty interface name makes every call a no-op (loopback unit tests).
  explicit InterfaceAddresses(std::string ifname);
  ~InterfaceAddresses();  // removes every address it added
  InterfaceAddresses(const InterfaceAddresses&) = delete;
  InterfaceAddresses& operator=(const InterfaceAddresses&) = delete;

  bool Open(std::string* error);
  bool Add(uint32_t address, int prefixLength);  // address in network order
  bool Remove(uint32_t address, int prefixLength);
  void RemoveAll();
  const std::string& LastError() const { return lastError_; }

 private:
  bool Request(int type, uint32_t address, int prefixLength);

  std::string ifname_;
  int ifindex_ = 0;
  int socket_ = -1;
  uint32_t sequence_ = 1;
  std::map<std::pair<uint32_t, int>, int> uses_;
  std::string lastError_;
};

}  // namespace sim
