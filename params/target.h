#pragma once
// Which module a user means: the one parser of the module targets every program takes.
//
//   7                node number 1..236 of a network (address = network's first three bytes
//                    and node + 19); decimal, so "010" is node 10
//   192.168.202.26   an IPv4 address, four decimal parts 0..255
//   sn:3100107       a serial number (the module is looked up by discovery)
//
// A node number outside 1..236 is refused with the node screen's message; any other text
// that is none of the three is refused with a message that lists them.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace params {

using Ipv4Bytes = std::array<uint8_t, 4>;

struct ModuleTarget {
  enum class Kind { Node, Address, Serial };
  Kind kind = Kind::Node;
  int node = 0;         // Kind::Node
  Ipv4Bytes address{};  // Kind::Address (and a node once placed on a network)
  uint32_t serial = 0;  // Kind::Serial
  std::string refusal;  // why the text was refused; empty when it was taken

  bool Refused() const { return !refusal.empty(); }
};

ModuleTarget ParseTarget(std::string_view text);

// An IPv4 address of exactly four decimal parts 0..255 ("192.168.202.020" is .20). nullopt
// with *refusal set when the text is not one.
std::optional<Ipv4Bytes> ParseDottedAddress(std::string_view text, std::string* refusal);

// "%u.%u.%u.%u".
std::string AddressText(const Ipv4Bytes& address);
// The address of node `node` (1..236) in `network`.
Ipv4Bytes NodeAddress(const Ipv4Bytes& network, int node);

}  // namespace params
