#pragma once
// The PC's MAC address and the broadcast MAC address of the simulator's frame tests.
#include "sim/line.h"

namespace sim::test_addresses {

inline const Mac kPcMac = {0x00, 0x50, 0x56, 0x01, 0x02, 0x03};
inline const Mac kBroadcast = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

}  // namespace sim::test_addresses
