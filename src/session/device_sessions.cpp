#include "session/device_sessions.h"

#include "platform/text.h"

namespace corvane {

SessionMatch CDeviceSessions::OfflineAction(CLogonOpt& option, const CDevTovrel& device, uint32_t lossTick) {
    MutexGuard lock(m_table.Mutex());
    for (const auto& record : m_table.Records()) {
        if (!EqualsNoCase(record->m_strUser, option.m_strUser) || !EqualsNoCase(record->m_strDomain, option.m_strDomain)) {
            continue;
        }
        return m_actions.OfflineAction(*record, option, device, lossTick) ? SessionMatch::ActionDone
                                                                          : SessionMatch::ActionPending;
    }
    return SessionMatch::None;
}

}  // namespace corvane
