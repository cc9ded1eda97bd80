// The presence tests a device worker runs on its logon options while the device is lost: the
// offline test finds the option's session and lets the session side act on it, and the expiry
// rule drops options whose session is gone or that have waited too long. The sessions live above
// the devices, so the worker reaches them through IDeviceSessions, which the session monitor
// fills.
#pragma once

#include <cstdint>

#include "device/cdev_tovrel.h"
#include "device/clogon_opt.h"
#include "platform/clock.h"

namespace corvane {

// An option that never met its session is dropped 601 s after its time.
inline constexpr FileTime kOptionExpiry = 6010000000;

// What a presence test found when it looked for the option's session.
enum class SessionMatch {
    None,          // no session of the option's user and domain
    ActionDone,    // the session's action dealt with the option (drop it)
    ActionPending  // the session's action left the option in place
};

class IDeviceSessions {
public:
    virtual ~IDeviceSessions() = default;
    // Under the session-table mutex: the first session of the option's user and domain (ignoring
    // case), and the offline action on it (which may lock or log it off, and updates the
    // option's handled flag and activity tick). Called with no device lock held.
    virtual SessionMatch OfflineAction(CLogonOpt& option, const CDevTovrel& device, uint32_t lossTick) = 0;
    // Under the session-table mutex: the away action (a lock) on the first session of the
    // option's user and domain, for an option whose signal stayed weak or silent.
    virtual SessionMatch AwayAction(CLogonOpt& option, const CDevTovrel& device) = 0;
};

// The expiry rule: whether an option is dropped after its session's action did not deal with it.
bool OptionExpired(const CLogonOpt& option, SessionMatch match, FileTime now);

// A signal-strength option with no sample for longer than this (or than its delay, if longer) is
// away: a phone that stops reporting its signal is treated as gone.
inline constexpr uint32_t kAwaySilenceMilliseconds = 30000;

// Whether a signal-strength option (negative threshold) is away at tick `now`: below its
// threshold for more than its delay, or silent for too long. Options of 0 and above never are.
bool OptionIsAway(const CLogonOpt& option, uint32_t now);

// Due points of the tests, so that a worker can run a test at the very moment an option's delay
// ends rather than at the next beat of its cadence. kNoDuePoint: the option waits for no delay.
inline constexpr uint32_t kNoDuePoint = 0xFFFFFFFF;

// Milliseconds from `now` until the offline action may act on the option of a device lost at
// `lossTick` (lock and log-off options): its delay has then passed since the loss and since the
// user's last known activity. 0 when it has passed already.
uint32_t OfflineDelayLeft(const CLogonOpt& option, uint32_t lossTick, uint32_t now);

// Whether that point came after tick `since` and no later than `now`: a test that ran at `since`
// came too early for it, and one is due now.
bool OfflineDelayEndedBetween(const CLogonOpt& option, uint32_t lossTick, uint32_t since, uint32_t now);

// Milliseconds from `now` until a signal-strength option turns away (OptionIsAway) if no sample
// comes meanwhile; 0 when it is away already.
uint32_t AwayDelayLeft(const CLogonOpt& option, uint32_t now);

// The away test of one option of a phone, run on every worker cycle: true when the option is to
// be deleted.
bool AwayTest(IDeviceSessions& sessions, IClock& clock, CLogonOpt& option, const CDevTovrel& device);

// The offline test of one option of a lost device (lost at `lossTick`): true when the option is
// to be deleted.
bool OfflineTest(IDeviceSessions& sessions, IClock& clock, CLogonOpt& option, const CDevTovrel& device,
                 uint32_t lossTick);

}  // namespace corvane
