// What the logon component stand-in does for a relayed request on the simulated session manager:
// a logon logs the user on at the console, an unlock unlocks the console session, a re-logon
// does whichever of the two the console needs. At the logon screen, each of the three brings back
// the user's disconnected session (it is reconnected to the console and unlocked) instead of
// starting a second one. The result is the status of the reply to the
// relay and of the logon result report.
#pragma once

#include <cstdint>

#include "platform/posix/sim_session_manager.h"
#include "relayed_logon.h"

namespace corvane::logon {

// 0, or the service's result code for the refusal: 0x20000024 another user is logged on at the
// console, 0x20000022 the console is locked by another user, 0x20000026 the user is not logged
// on; otherwise the session manager's own error.
uint32_t CarryOut(posix::SimSessionManager& sessions, const RelayedLogon& request);

}  // namespace corvane::logon
