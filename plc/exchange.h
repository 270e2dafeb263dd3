#pragma once
// One PLC data request carried out to its end for callers that wait for it (the command line):
// queued, submitted, awaited and taken out of the queue again. Blocks for SubmitRequest's
// pause plus the answer: never call it on a GUI thread.
#include <cstdint>

#include "plc/request_manager.h"

namespace plc {

// The request as it ended: state 4, 5, 0x8001 or 0x8002 (0x8002 also when no state came within
// `waitMs` of the submission, which the manager's own time-out makes rare).
CTagRequest RunRequest(CRequestManager& manager, CTagRequest request, uint32_t waitMs = 2000);

// True for the states a request ends in.
inline bool IsFinalState(uint32_t state) {
  return state == kStateAnswered || state == kStateError || state == kStateSendFailed ||
         state == kStateNoAnswer;
}

}  // namespace plc
