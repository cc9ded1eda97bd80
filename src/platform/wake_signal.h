// A wake-up that a sleeping worker waits on: Wake ends the sleep at once, or the next one when
// nobody sleeps yet, so that nothing set between a check and the sleep after it is missed. The
// clock decides how the wait passes (real time, or a test clock's own time).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace corvane {

class WakeSignal {
public:
    void Wake();
    // True when a wake was pending; it is taken.
    bool Consume();
    // Waits in real time until woken or `milliseconds` have passed; true when woken (the wake
    // is taken).
    bool WaitFor(uint32_t milliseconds);

private:
    std::mutex m_mutex;
    std::condition_variable m_woken;
    bool m_bPending = false;
};

}  // namespace corvane
