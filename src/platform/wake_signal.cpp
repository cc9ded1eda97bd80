#include "platform/wake_signal.h"

#include <chrono>

namespace corvane {

void WakeSignal::Wake() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bPending = true;
    }
    m_woken.notify_all();
}

bool WakeSignal::Consume() {
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool pending = m_bPending;
    m_bPending = false;
    return pending;
}

bool WakeSignal::WaitFor(uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_woken.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_bPending; });
    const bool pending = m_bPending;
    m_bPending = false;
    return pending;
}

}  // namespace corvane
