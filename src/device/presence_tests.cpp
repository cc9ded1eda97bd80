#include "device/presence_tests.h"

namespace corvane {

bool OptionExpired(const CLogonOpt& option, SessionMatch match, FileTime now) {
    if (match == SessionMatch::ActionDone) return true;
    if (option.m_bHandled) return match == SessionMatch::None;
    return now - option.m_ftTime >= kOptionExpiry;
}

bool OptionIsAway(const CLogonOpt& option, uint32_t now) {
    if (option.m_nOption >= 0) return false;
    const uint32_t delay = option.m_nDelay > 0 ? static_cast<uint32_t>(option.m_nDelay) * 1000 : 0;
    if (option.m_dwAwaySince != 0 && TicksSince(now, option.m_dwAwaySince) > delay) return true;
    const uint32_t silence = delay > kAwaySilenceMilliseconds ? delay : kAwaySilenceMilliseconds;
    return TicksSince(now, option.m_dwLastSample) > silence;
}

bool AwayTest(IDeviceSessions& sessions, IClock& clock, CLogonOpt& option, const CDevTovrel& device) {
    if (!OptionIsAway(option, clock.GetTickCount())) return false;
    const SessionMatch match = sessions.AwayAction(option, device);
    return OptionExpired(option, match, clock.GetSystemTimeAsFileTime());
}

bool OfflineTest(IDeviceSessions& sessions, IClock& clock, CLogonOpt& option, const CDevTovrel& device,
                 uint32_t lossTick) {
    // An away option counts as away from the moment its device is lost.
    if (option.m_nOption < 0 && option.m_dwAwaySince == 0) option.m_dwAwaySince = clock.GetTickCount();
    const SessionMatch match = sessions.OfflineAction(option, device, lossTick);
    return OptionExpired(option, match, clock.GetSystemTimeAsFileTime());
}

}  // namespace corvane
