#pragma once
namespace platform {

// Flushes the IPv4 neighbour (ARP) cache of every interface, as "arp -d *" does.
// Returns false when the system refused.
bool FlushNeighbourCache();

}  // namespace platform
