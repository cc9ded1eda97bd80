// A logon option: what happens to one user's Windows session when the device that user logged
// on with goes away. Owned by the device that holds it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace corvane {

// Values of m_nOption besides the negative signal-strength thresholds.
namespace LogonOption {
constexpr int32_t None = 0;
constexpr int32_t LockWhenOffline = 1;
constexpr int32_t LogoffWhenOffline = 2;
}  // namespace LogonOption

// The longest delay the tick count can measure. Spans of ticks are compared by unsigned 32-bit
// subtraction, which reaches at most 2^32 - 1 ms (about 49.7 days) before it wraps round to
// small values; a longer delay is cut to that, less five minutes, so that a test running every
// second or two (or held up a while by a transmission in progress) still meets it before the
// span wraps.
inline constexpr uint32_t kLongestDelayMilliseconds = 0xFFFFFFFFu - 300000u;

// An option's delay in milliseconds: computed in 64 bits (seconds × 1000 no longer fits 32 bits
// beyond 49.7 days, and would wrap to a short delay that fires at once), then cut to the longest
// the tick count can measure, so that it never fires early. No delay below 0.
inline uint32_t DelayMilliseconds(int32_t seconds) {
    if (seconds <= 0) return 0;
    const uint64_t ms = static_cast<uint64_t>(seconds) * 1000u;
    return ms > kLongestDelayMilliseconds ? kLongestDelayMilliseconds : static_cast<uint32_t>(ms);
}

struct CLogonOpt {
    std::u16string m_strUser;    // compared ignoring case
    std::u16string m_strDomain;  // compared ignoring case
    // 0 nothing, 1 lock (disconnect), 2 log off, negative: away lock below this signal in dBm.
    int32_t m_nOption = LogonOption::None;
    int32_t m_nDelay = 0;            // seconds of grace before the action
    uint32_t m_dwActivityTick = 0;   // tick of the user's last known input (set by the offline action)
    FileTime m_ftTime = 0;           // system time of creation or last refresh
    uint32_t m_bHandled = 0;         // 1 once an action has matched the option to a session
    uint32_t m_dwAwaySince = 0;      // tick at which the signal first fell below the threshold
    uint32_t m_dwLastSample = 0;     // tick of the last signal-strength sample
};

}  // namespace corvane
