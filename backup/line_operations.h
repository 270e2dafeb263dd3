#pragma once
// The restore's line-wide requests through the discovery protocol on the selected adapter:
// Set NodeIP (0x20), Set First/Last (0x30), the reset broadcast and a new discovery.
#include <memory>

#include "backup/backup_run.h"

class CMRegApp;

namespace backup {

std::unique_ptr<LineOperations> MakeLineOperations(CMRegApp& app);
// The check of the backup run against the selected adapter's IPv4 settings.
ReachabilityCheck MakeReachabilityCheck(CMRegApp& app);

// The 16-byte reset request broadcast after a restore.
inline constexpr uint8_t kResetRequest[16] = {0xb0, 0x00, 0xcc, 0x08, 0x01, 0x00, 0x00, 0x80,
                                              0x4d, 0x47, 0x4d, 0x54, 0x00, 0x00, 0x00, 0x80};

}  // namespace backup
