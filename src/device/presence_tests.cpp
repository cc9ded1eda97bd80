#include "device/presence_tests.h"

namespace corvane {

bool OptionExpired(const CLogonOpt& option, SessionMatch match, FileTime now) {
    if (match == SessionMatch::ActionDone) return true;
    if (option.m_bHandled) return match == SessionMatch::None;
    return now - option.m_ftTime >= kOptionExpiry;
}

bool OfflineTest(IDeviceSessions& sessions, IClock& clock, CLogonOpt& option, const CDevTovrel& device,
                 uint32_t lossTick) {
    // An away option counts as away from the moment its device is lost.
    if (option.m_nOption < 0 && option.m_dwAwaySince == 0) option.m_dwAwaySince = clock.GetTickCount();
    const SessionMatch match = sessions.OfflineAction(option, device, lossTick);
    return OptionExpired(option, match, clock.GetSystemTimeAsFileTime());
}

}  // namespace corvane
