#include "device/presence_tests.h"

#include <algorithm>

namespace corvane {

bool OptionExpired(const CLogonOpt& option, SessionMatch match, FileTime now) {
    if (match == SessionMatch::ActionDone) return true;
    if (option.m_bHandled) return match == SessionMatch::None;
    return now - option.m_ftTime >= kOptionExpiry;
}

bool OptionIsAway(const CLogonOpt& option, uint32_t now) {
    if (option.m_nOption >= 0) return false;
    const uint32_t delay = DelayMilliseconds(option.m_nDelay);
    if (option.m_dwAwaySince != 0 && TicksSince(now, option.m_dwAwaySince) > delay) return true;
    const uint32_t silence = delay > kAwaySilenceMilliseconds ? delay : kAwaySilenceMilliseconds;
    return TicksSince(now, option.m_dwLastSample) > silence;
}

uint32_t OfflineDelayLeft(const CLogonOpt& option, uint32_t lossTick, uint32_t now) {
    if (option.m_nOption != LogonOption::LockWhenOffline && option.m_nOption != LogonOption::LogoffWhenOffline)
        return kNoDuePoint;
    // The offline action's own rule: it waits while less than the delay has passed since either.
    const uint32_t limit = DelayMilliseconds(option.m_nDelay);
    auto left = [&](uint32_t since) {
        const uint32_t passed = TicksSince(now, since);
        return passed < limit ? limit - passed : 0u;
    };
    return std::max(left(lossTick), left(option.m_dwActivityTick));
}

bool OfflineDelayEndedBetween(const CLogonOpt& option, uint32_t lossTick, uint32_t since, uint32_t now) {
    if (OfflineDelayLeft(option, lossTick, now) != 0) return false;
    // A loss or an activity that came after `since` starts a delay that ended after it.
    const uint32_t window = TicksSince(now, since);
    if (TicksSince(now, lossTick) < window || TicksSince(now, option.m_dwActivityTick) < window) return true;
    return OfflineDelayLeft(option, lossTick, since) != 0;
}

uint32_t AwayDelayLeft(const CLogonOpt& option, uint32_t now) {
    if (option.m_nOption >= 0) return kNoDuePoint;
    if (OptionIsAway(option, now)) return 0;
    // Away once strictly more than the limit has passed.
    const uint32_t delay = DelayMilliseconds(option.m_nDelay);
    uint32_t left = kNoDuePoint;
    if (option.m_dwAwaySince != 0) left = delay - TicksSince(now, option.m_dwAwaySince) + 1;
    const uint32_t silence = delay > kAwaySilenceMilliseconds ? delay : kAwaySilenceMilliseconds;
    return std::min(left, silence - TicksSince(now, option.m_dwLastSample) + 1);
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
