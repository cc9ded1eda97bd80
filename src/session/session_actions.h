// The actions the service takes on a user's session without that user asking: locking or
// logging it off when the user's device has gone (offline action), locking it when the phone's
// signal stayed weak (away action), asking the session how long its user has been idle, logging
// off the fixed test account, and shutting the machine down. Locking means disconnecting the
// session, which for the console brings up the locked logon screen.
#pragma once

#include <cstdint>
#include <string_view>

#include "device/cdev_tovrel.h"
#include "device/clogon_opt.h"
#include "platform/platform.h"
#include "session/cuser_log.h"
#include "session/session_records.h"

namespace corvane {

// The session information must be at most this much older than an option for an action to use it.
inline constexpr FileTime kOfflineOptionSlack = 100000000;  // 10 s
inline constexpr FileTime kAwayOptionSlack = 30000000;      // 3 s
// The fixed test account of the test logoff.
inline constexpr std::u16string_view kTestLogoffDomain = u"Vexmor81";
inline constexpr std::u16string_view kTestLogoffUser = u"User1";
inline constexpr uint32_t kErrorProcNotFound = 127;

class CSessionActions {
public:
    CSessionActions(Platform& platform, ISessionRecords& records);

    // Called by the offline test with the session table mutex held. True: the option has been
    // dealt with and is dropped; false: it stays and is tested again.
    bool OfflineAction(const CUserLog& session, CLogonOpt& option, const CDevTovrel& device, uint32_t lossTick);
    // Called by the away test with the session table mutex held; same meaning.
    bool AwayAction(const CUserLog& session, CLogonOpt& option, const CDevTovrel& device);
    // Runs the idle-time program in the user's session: 0 when it ran (its exit code, the
    // milliseconds since the user's last input, goes to `exitCode`), else a Windows error.
    uint32_t ProbeIdleTime(int32_t sessionId, std::u16string_view user, std::u16string_view domain, int32_t* exitCode);
    // Logs off every session of the test account: 0x20000013 when there is none.
    uint32_t TestLogoff();
    // Shuts the machine down at once: 0 or a Windows error.
    uint32_t ShutdownNow();

private:
    Platform& m_platform;
    ISessionRecords& m_records;
};

}  // namespace corvane
