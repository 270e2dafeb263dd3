#pragma once
// ICMP echo to a module before connecting to it.
#include <cstdint>

namespace platform {

// Sends one echo request to the IPv4 address (network order) and waits at most timeoutMs for
// the reply. Uses the unprivileged ICMP datagram socket where allowed, else a raw socket.
// Returns true when the reply came; *roundTripMs gets the time taken.
bool PingIpv4(uint32_t addressNetworkOrder, uint32_t timeoutMs, uint32_t* roundTripMs = nullptr);

}  // namespace platform
