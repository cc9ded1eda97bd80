#include "session/device_sessions.h"

#include "platform/text.h"

namespace corvane {

template <typename Act>
SessionMatch CDeviceSessions::WithSessionOf(const CLogonOpt& option, Act act) {
    MutexGuard lock(m_table.Mutex());
    for (const auto& record : m_table.Records()) {
        if (!EqualsNoCase(record->m_strUser, option.m_strUser) || !EqualsNoCase(record->m_strDomain, option.m_strDomain)) {
            continue;
        }
        return act(*record) ? SessionMatch::ActionDone : SessionMatch::ActionPending;
    }
    return SessionMatch::None;
}

SessionMatch CDeviceSessions::OfflineAction(CLogonOpt& option, const CDevTovrel& device, uint32_t lossTick) {
    return WithSessionOf(option, [&](const CUserLog& session) {
        return m_actions.OfflineAction(session, option, device, lossTick);
    });
}

SessionMatch CDeviceSessions::AwayAction(CLogonOpt& option, const CDevTovrel& device) {
    return WithSessionOf(option, [&](const CUserLog& session) { return m_actions.AwayAction(session, option, device); });
}

}  // namespace corvane
