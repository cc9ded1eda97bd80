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
