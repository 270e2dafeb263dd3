#pragma once
// ICMP echo to a module before connecting to it.
#include <cstddef>
#include <cstdint>

namespace platform {

// What an echo request carries. The defaults are the module pings': 32 bytes of 'E', TTL 10.
struct EchoOptions {
  uint8_t fillByte = 'E';
  size_t dataSize = 32;  // at most 1472 (one Ethernet frame)
  int ttl = 10;
};

// Sends one echo request to the IPv4 address (network order) and waits at most timeoutMs for
// the reply. Uses the unprivileged ICMP datagram socket where allowed, else a raw socket. A
// reply counts only when it answers this request and its data size and every data byte match.
// Returns true when the reply came; *roundTripMs gets the time taken.
bool PingIpv4(uint32_t addressNetworkOrder, uint32_t timeoutMs, uint32_t* roundTripMs = nullptr);
bool PingIpv4(uint32_t addressNetworkOrder, uint32_t timeoutMs, const EchoOptions& options,
              uint32_t* roundTripMs = nullptr);

}  // namespace platform
