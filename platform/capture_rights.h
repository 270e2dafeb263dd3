#pragma once
#include <string>

namespace platform {

// True when this process may capture and send raw frames (root, or CAP_NET_RAW and
// CAP_NET_ADMIN in its effective set).
bool HasCaptureRights();
// How to grant the rights on this system, for the recovery message.
std::string CaptureRightsHelp();

}  // namespace platform
