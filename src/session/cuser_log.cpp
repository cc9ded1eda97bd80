#include "session/cuser_log.h"

#include "platform/text.h"
#include "session/identity.h"
#include "session/session_flags.h"

namespace corvane {

namespace {
constexpr std::u16string_view kConsoleStation = u"Console";
constexpr std::u16string_view kRdpStationPrefix = u"RDP-Tcp";

// The event a change reports: the start-up enumeration reports none; logon, logoff, lock and
// unlock report themselves; every other code reports the new state, or an unlock when a locked
// session has become active.
int32_t ReportedEvent(int32_t code, int32_t oldState, int32_t newState) {
    if (code == WTS_NO_EVENT) return 0;
    if (code == WTS_SESSION_LOGON || code == WTS_SESSION_LOGOFF || code == WTS_SESSION_LOCK ||
        code == WTS_SESSION_UNLOCK) {
        return code;
    }
    if (oldState == SessionState::Locked && newState == SessionState::Active) return WTS_SESSION_UNLOCK;
    return newState;
}
}  // namespace

int32_t DesktopOfWinStation(std::u16string_view winStation, int32_t current) {
    if (EqualsNoCase(winStation, kConsoleStation)) return DesktopKind::Console;
    if (winStation.size() >= kRdpStationPrefix.size() &&
        EqualsNoCase(winStation.substr(0, kRdpStationPrefix.size()), kRdpStationPrefix)) {
        return DesktopKind::RemoteDesktop;
    }
    return current;
}

void CUserLog::SetUser(std::u16string_view user, std::u16string_view domain, CIdentity& identity) {
    if (m_strUser == user && m_strDomain == domain && !m_strUpn.empty()) return;
    m_strUser = std::u16string(user);
    m_strDomain = std::u16string(domain);
    m_strUpn = identity.MakeRecordUpn(m_strUser, m_strDomain);
}

CUserLogChange CUserLog::Update(const WtsInfoEx* info, int32_t code, CIdentity& identity, bool bLockFlagsReversed) {
    CUserLogChange change;
    change.nOldState = m_nState;
    change.nOldSession = m_nSession;
    change.nOldDesktop = m_nDesktop;

    m_nLastEvent = code;
    m_nState = SessionState::Unknown;
    if (info != nullptr) {
        const bool unlocked = IsSessionUnlocked(info->SessionFlags, bLockFlagsReversed);
        m_nState = info->SessionState == WtsConnectState::Active && unlocked ? SessionState::Active
                                                                              : SessionState::Locked;
        m_nDesktop = DesktopOfWinStation(info->WinStationName, m_nDesktop);
        if (code != WTS_SESSION_LOGOFF) SetUser(info->UserName, info->DomainName, identity);
        m_strWinStation = info->WinStationName;
        m_ftLogon = info->LogonTime;
        if (m_nState == SessionState::Active && change.nOldState != SessionState::Active) {
            m_ftActive = info->CurrentTime;
        } else if (m_nState == SessionState::Locked && change.nOldState != SessionState::Locked) {
            m_ftLocked = info->CurrentTime;
        }
        m_ftUpdate = info->CurrentTime;
        m_nSession = static_cast<int32_t>(info->SessionId);
    }
    // A logoff ends the session whatever the query still reports about it, so that the logoff
    // is always recorded as the change it is.
    if (code == WTS_SESSION_LOGOFF) m_nState = SessionState::LoggedOff;

    change.nEvent = ReportedEvent(code, change.nOldState, m_nState);
    change.bChanged = m_nState != change.nOldState;
    change.bConsoleUserLeft = (m_nState == SessionState::LoggedOff || m_nState == SessionState::Locked) &&
                              change.nOldState == SessionState::Active && change.nOldDesktop == DesktopKind::Console;
    return change;
}

bool CUserLog::MatchesUpn(std::u16string_view upn, CIdentity& identity) const {
    return identity.MatchesUpn(upn, m_strUser, m_strDomain);
}

}  // namespace corvane
