#include "session/shutdown_timer.h"

#include "wire/result_codes.h"

namespace corvane {

CShutdownTimer::CShutdownTimer(IClock& clock, IThreads& threads, std::function<uint32_t()> shutdownNow)
    : m_clock(clock), m_threads(threads), m_shutdownNow(std::move(shutdownNow)) {}

uint32_t CShutdownTimer::RemainingLocked(bool clamp) {
    const uint32_t elapsed = TicksSince(m_clock.GetTickCount(), m_startTick) / 1000;
    const uint32_t remaining = m_delay - elapsed;
    if (clamp && elapsed > m_delay) return 0;
    return remaining;
}

uint32_t CShutdownTimer::State() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state;
}

ShutdownOutcome CShutdownTimer::Start(uint32_t delaySeconds, std::function<bool()> isReplySent) {
    ShutdownOutcome outcome {0, delaySeconds};
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cancel = false;
    if (m_state == ShutdownTimerState::Running) {
        const uint32_t remaining = RemainingLocked(false);
        if (delaySeconds < remaining) {
            m_delay = delaySeconds;
            m_startTick = m_clock.GetTickCount();
        } else {
            outcome = {Result::EarlierShutdownExists, remaining};
        }
        return outcome;
    }
    m_state = ShutdownTimerState::Running;
    m_delay = delaySeconds;
    m_startTick = m_clock.GetTickCount();
    if (!m_threads.CreateThread([this, isReplySent = std::move(isReplySent)] { Run(isReplySent); })) {
        // Nothing counts down: say so rather than promise a shutdown.
        m_state = ShutdownTimerState::None;
        outcome.status = kErrorNotEnoughMemory;
    }
    return outcome;
}

ShutdownOutcome CShutdownTimer::Cancel(uint32_t delaySeconds) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_state != ShutdownTimerState::Running) return {Result::NoDelayedShutdown, delaySeconds};
        m_cancel = true;
    }
    // The worker notices within one check period; should it not (it never started its checks),
    // the countdown is stopped here: the worker checks the flag again before it shuts down.
    const uint32_t since = m_clock.GetTickCount();
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_state == ShutdownTimerState::Running &&
                TicksSince(m_clock.GetTickCount(), since) >= kShutdownCancelWaitMs) {
                m_state = ShutdownTimerState::Cancelled;
            }
            if (m_state == ShutdownTimerState::Cancelled) {
                const uint32_t remaining = RemainingLocked(true);
                m_delay = 0;
                return {0, remaining};
            }
            // The shutdown began before the cancel was seen: nothing was cancelled.
            if (m_state != ShutdownTimerState::Running) return {Result::NoDelayedShutdown, delaySeconds};
        }
        m_clock.Sleep(kShutdownCancelPollMs);
    }
}

ShutdownOutcome CShutdownTimer::Query(uint32_t delaySeconds) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state != ShutdownTimerState::Running) return {Result::NoDelayedShutdown, delaySeconds};
    return {0, RemainingLocked(true)};
}

bool CShutdownTimer::Check(uint32_t& result) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_state != ShutdownTimerState::Running) {
            // Stopped by a cancel that did not wait for this worker.
            result = kErrorCancelled;
            return true;
        }
        if (m_cancel) {
            m_state = ShutdownTimerState::Cancelled;
            result = kErrorCancelled;
            return true;
        }
        if (TicksSince(m_clock.GetTickCount(), m_startTick) / 1000 < m_delay) return false;
        m_state = ShutdownTimerState::ShutdownStarted;
    }
    result = m_shutdownNow ? m_shutdownNow() : Result::NteNotSupported;
    return true;
}

uint32_t CShutdownTimer::Run(const std::function<bool()>& isReplySent) {
    // The phone gets its reply before anything can shut the machine down.
    if (isReplySent) {
        const uint32_t since = m_clock.GetTickCount();
        while (!isReplySent() && TicksSince(m_clock.GetTickCount(), since) < kShutdownReplyWaitMs) {
            m_clock.Sleep(kShutdownReplyPollMs);
        }
    }
    m_clock.Sleep(kShutdownFirstCheckMs);
    uint32_t result = 0;
    while (!Check(result)) m_clock.Sleep(kShutdownCheckPeriodMs);
    return result;
}

}  // namespace corvane
