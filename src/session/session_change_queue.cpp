#include "session/session_change_queue.h"

#include <chrono>

namespace corvane {

CSessionChangeQueue::CSessionChangeQueue(IThreads& threads, Handler handler, uint32_t waitMilliseconds)
    : m_threads(threads), m_handler(std::move(handler)), m_dwWaitMs(waitMilliseconds) {}

CSessionChangeQueue::~CSessionChangeQueue() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_bWorkerRunning; });
}

void CSessionChangeQueue::Post(uint32_t eventCode, const WtsSessionNotification* notification) {
    Change change;
    change.eventCode = eventCode;
    if (notification != nullptr) {
        change.bHasNotification = true;
        change.notification = *notification;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    // Nothing ahead of this change: the handler may wait for it. Otherwise the worker is already
    // held up, and waiting would only hold the handler up with it.
    const bool bCaughtUp = m_nHandled == m_nPosted;
    m_queue.push_back(change);
    const uint64_t ticket = ++m_nPosted;
    if (!m_bWorkerRunning) {
        m_bWorkerRunning = true;
        lock.unlock();
        const bool started = m_threads.CreateThread([this] { Drain(); });
        // Without a thread of its own the change is handled here, as it always could be.
        if (!started) Drain();
        lock.lock();
    }
    if (!bCaughtUp) return;
    m_changed.wait_for(lock, std::chrono::milliseconds(m_dwWaitMs), [&] { return m_nHandled >= ticket; });
}

void CSessionChangeQueue::WaitIdle() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_nHandled == m_nPosted && !m_bWorkerRunning; });
}

void CSessionChangeQueue::Drain() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_queue.empty()) {
        const Change change = m_queue.front();
        m_queue.pop_front();
        lock.unlock();
        m_handler(change.eventCode, change.bHasNotification ? &change.notification : nullptr);
        lock.lock();
        ++m_nHandled;
        m_changed.notify_all();
    }
    m_bWorkerRunning = false;
    m_changed.notify_all();
}

}  // namespace corvane
