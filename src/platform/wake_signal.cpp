#include "platform/wake_signal.h"

#include <chrono>

namespace corvane {

void WakeSignal::Wake() {
    // Notified under the lock: the woken thread may end the object's owner as soon as it runs,
    // and must not run before this call has let go of the object.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bPending = true;
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
