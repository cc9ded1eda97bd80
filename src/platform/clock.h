// Time through the seam: the wrapping millisecond tick count that every delay and time-out
// compares by unsigned subtraction, the system time as FILETIME, local time, and sleeping (also a
// sleep that a WakeSignal ends early). Tests replace it with a fake clock that advances on demand
// and on sleep.
#pragma once

#include <cstdint>

#include "platform/types.h"
#include "platform/wake_signal.h"

namespace corvane {

class IClock {
public:
    virtual ~IClock() = default;
    // Milliseconds since start, wrapping at 2^32 (GetTickCount).
    virtual uint32_t GetTickCount() = 0;
    // Current UTC time (GetSystemTimeAsFileTime).
    virtual FileTime GetSystemTimeAsFileTime() = 0;
    // The same instant shifted into the local time zone (FileTimeToLocalFileTime).
    virtual FileTime ToLocalFileTime(FileTime utc) = 0;
    // Blocks the calling thread (Sleep). A fake clock advances instead of waiting.
    virtual void Sleep(uint32_t milliseconds) = 0;
    // Sleeps up to `milliseconds`, ending at once when `wake` is woken (a wake given before the
    // call counts); true when woken. A clock that cannot be woken mid-sleep (a test clock, whose
    // sleeps pass at once) keeps this default: a pending wake skips the sleep, else it sleeps.
    virtual bool SleepUntilWoken(WakeSignal& wake, uint32_t milliseconds) {
        if (wake.Consume()) return true;
        Sleep(milliseconds);
        return wake.Consume();
    }
};

// Milliseconds elapsed from `since` to `now`, correct across the 49.7-day wrap.
inline uint32_t TicksSince(uint32_t now, uint32_t since) { return now - since; }

}  // namespace corvane
