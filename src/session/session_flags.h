// Reading WTSINFOEXW's SessionFlags. Windows 6.1 (Windows 7, Server 2008 R2) reports lock and
// unlock the wrong way round, so there the two values are swapped before they are read.
#pragma once

#include <cstdint>

#include "platform/sessions.h"

namespace corvane {

inline bool ReportsLockFlagsReversed(uint32_t major, uint32_t minor) { return major == 6 && minor == 1; }

// Whether the flags say "unlocked", after the correction; values other than lock and unlock
// (the unknown state) are never swapped.
inline bool IsSessionUnlocked(int32_t flags, bool bLockFlagsReversed) {
    if (bLockFlagsReversed && (flags == WtsSessionFlags::Lock || flags == WtsSessionFlags::Unlock)) {
        flags = flags == WtsSessionFlags::Lock ? WtsSessionFlags::Unlock : WtsSessionFlags::Lock;
    }
    return flags == WtsSessionFlags::Unlock;
}

}  // namespace corvane
