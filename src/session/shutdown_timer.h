// The delayed shutdown a phone can start, shorten, cancel or query: one timer per process. Its
// worker first waits (at most ten seconds) until the connection that started it has written its
// reply and is back to waiting for its next request, then two seconds more, then checks every
// 100 ms for a cancel and for the end of the delay, and shuts the machine down when the delay
// has passed.
// A later start with a shorter delay restarts the countdown; a cancel stops it. The fields are
// shared by every phone connection and the worker, so they are kept under a lock.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

#include "platform/clock.h"
#include "platform/threads.h"

namespace corvane {

namespace ShutdownTimerState {
constexpr uint32_t None = 0;
constexpr uint32_t Running = 1;
constexpr uint32_t Cancelled = 2;
constexpr uint32_t ShutdownStarted = 3;
}  // namespace ShutdownTimerState

inline constexpr uint32_t kErrorCancelled = 1223;        // ERROR_CANCELLED
inline constexpr uint32_t kErrorNotEnoughMemory = 8;     // ERROR_NOT_ENOUGH_MEMORY
inline constexpr uint32_t kShutdownReplyPollMs = 10;
inline constexpr uint32_t kShutdownReplyWaitMs = 10000;
inline constexpr uint32_t kShutdownFirstCheckMs = 2000;
inline constexpr uint32_t kShutdownCheckPeriodMs = 100;
inline constexpr uint32_t kShutdownCancelPollMs = 10;
// How long a cancel waits for the worker to take notice before it stops the countdown itself.
inline constexpr uint32_t kShutdownCancelWaitMs = 10000;

// What a request did: its result code and the seconds its reply reports.
struct ShutdownOutcome {
    uint32_t status = 0;
    uint32_t seconds = 0;
};

class CShutdownTimer {
public:
    CShutdownTimer(IClock& clock, IThreads& threads, std::function<uint32_t()> shutdownNow);
    CShutdownTimer(const CShutdownTimer&) = delete;
    CShutdownTimer& operator=(const CShutdownTimer&) = delete;

    // Operation 1: starts the countdown, or restarts a running one when `delaySeconds` is shorter
    // than what remains (0x20000027 and the remaining seconds otherwise). A new worker first
    // waits until `isReplySent` (of the requesting connection) answers true.
    ShutdownOutcome Start(uint32_t delaySeconds, std::function<bool()> isReplySent = {});
    // Operation 2: stops a running countdown and reports the seconds that were left; 0x20000025
    // when none is running.
    ShutdownOutcome Cancel(uint32_t delaySeconds);
    // Operation 3: the seconds left of a running countdown; 0x20000025 when none is running.
    ShutdownOutcome Query(uint32_t delaySeconds);

    uint32_t State();
    // The worker's body (run on its own thread; exposed so a test can run it where it likes):
    // 1223 when cancelled, else the shutdown's result.
    uint32_t Run(const std::function<bool()>& isReplySent = {});
    // One check of the worker: true when the countdown has ended, with its result in `result`.
    bool Check(uint32_t& result);

private:
    // Whole seconds left, in unsigned 32-bit arithmetic; clamped to 0 when the subtraction wraps.
    uint32_t RemainingLocked(bool clamp);

    IClock& m_clock;
    IThreads& m_threads;
    std::function<uint32_t()> m_shutdownNow;
    std::mutex m_mutex;
    uint32_t m_state = ShutdownTimerState::None;
    uint32_t m_startTick = 0;
    uint32_t m_delay = 0;
    bool m_cancel = false;
};

}  // namespace corvane
