#include "session/session_actions.h"

#include <vector>

#include "wire/result_codes.h"
#include "platform/text.h"

namespace corvane {

CSessionActions::CSessionActions(Platform& platform, ISessionRecords& records)
    : m_platform(platform), m_records(records) {}

bool CSessionActions::OfflineAction(const CUserLog& session, CLogonOpt& option, const CDevTovrel& device,
                                    uint32_t lossTick) {
    // Session information older than the option cannot tell whether the user is still there.
    if (option.m_ftTime > session.m_ftUpdate + kOfflineOptionSlack) return false;
    option.m_bHandled = 1;

    if (option.m_nOption == LogonOption::None) return true;
    if (option.m_nOption != LogonOption::LockWhenOffline && option.m_nOption != LogonOption::LogoffWhenOffline) {
        return false;  // an away option: the away test deals with it
    }
    if (option.m_nOption == LogonOption::LockWhenOffline && session.m_nState == SessionState::Locked) return true;

    IClock& clock = *m_platform.clock;
    const uint32_t now = clock.GetTickCount();
    const uint32_t limit = DelayMilliseconds(option.m_nDelay);
    if (TicksSince(now, lossTick) < limit || TicksSince(now, option.m_dwActivityTick) < limit) return false;

    // A user who has been active within the delay keeps the session; a failed probe counts as idle.
    int32_t idle = -1;
    ProbeIdleTime(session.m_nSession, session.m_strUser, session.m_strDomain, &idle);
    if (idle >= 0 && static_cast<uint32_t>(idle) < limit) {
        option.m_dwActivityTick = now - static_cast<uint32_t>(idle);
        return false;
    }

    ISessions& sessions = *m_platform.sessions;
    const auto id = static_cast<uint32_t>(session.m_nSession);
    const uint32_t err = option.m_nOption == LogonOption::LockWhenOffline ? sessions.DisconnectSession(id)
                                                                          : sessions.LogoffSession(id);
    if (err != 0) return false;  // tried again at the next test
    m_records.OnOfflineAction(session, option, device);
    return true;
}

bool CSessionActions::AwayAction(const CUserLog& session, CLogonOpt& option, const CDevTovrel& device) {
    if (option.m_ftTime > session.m_ftUpdate + kAwayOptionSlack) return false;
    option.m_bHandled = 1;
    if (session.m_nState == SessionState::Locked) return true;
    ISessions& sessions = *m_platform.sessions;
    const auto id = static_cast<uint32_t>(session.m_nSession);
    if (sessions.QuerySessionInfo(id) != 0) return true;  // the session has ended
    if (sessions.DisconnectSession(id) != 0) return false;
    m_records.OnAwayAction(session, option, device);
    return true;
}

uint32_t CSessionActions::ProbeIdleTime(int32_t sessionId, std::u16string_view user, std::u16string_view domain,
                                        int32_t* exitCode) {
    ISessions& sessions = *m_platform.sessions;
    const auto id = static_cast<uint32_t>(sessionId);
    uint32_t processId = 0;
    if (uint32_t err = sessions.FindUserProcess(id, user, domain, processId)) return err;
    if (uint32_t err = sessions.TestUserToken(id)) return err;
    return sessions.RunIdleProgram(processId, exitCode);
}

uint32_t CSessionActions::TestLogoff() {
    ISessions& sessions = *m_platform.sessions;
    std::vector<WtsSessionEntry> entries;
    if (uint32_t err = sessions.EnumerateSessions(entries)) return err;
    bool matched = false;
    uint32_t lastError = 0;
    for (const auto& entry : entries) {
        std::u16string domain, user;
        if (sessions.QueryDomainName(entry.SessionId, domain) != 0) continue;
        if (sessions.QueryUserName(entry.SessionId, user) != 0) continue;
        if (!EqualsNoCase(domain, kTestLogoffDomain) || !EqualsNoCase(user, kTestLogoffUser)) continue;
        matched = true;
        if (uint32_t err = sessions.LogoffSession(entry.SessionId)) lastError = err;
    }
    if (!matched) return Result::UserSessionNotFound;
    return lastError;
}

uint32_t CSessionActions::ShutdownNow() { return m_platform.sessions->InitiateShutdown(); }

}  // namespace corvane
