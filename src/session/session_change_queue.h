// The session-change controls, taken off the control handler's thread. Handling a change asks for
// the domain trusts (a domain controller may take its time) and waits for the session table,
// which a device worker holds while the idle-time program runs; the service control manager
// wants its handler back within 30 s and delivers stop and shutdown on that same thread. The
// handler therefore only queues the change; one worker handles the queued changes in the order
// Windows sent them, so the table, the event log and the audit trail keep that order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "platform/threads.h"
#include "platform/types.h"

namespace corvane {

// How long the control handler waits for its change to be handled when nothing was queued ahead
// of it. A change is normally done within milliseconds, so callers see it handled when the
// control returns; a slow domain controller or a held session table costs the handler at most
// this long, and only once until the worker has caught up.
inline constexpr uint32_t kSessionChangeWaitMilliseconds = 1000;

class CSessionChangeQueue {
public:
    using Handler = std::function<void(uint32_t eventCode, const WtsSessionNotification* notification)>;

    CSessionChangeQueue(IThreads& threads, Handler handler, uint32_t waitMilliseconds = kSessionChangeWaitMilliseconds);
    // Waits until the worker has handled what is queued (tests build and drop queues).
    ~CSessionChangeQueue();
    CSessionChangeQueue(const CSessionChangeQueue&) = delete;
    CSessionChangeQueue& operator=(const CSessionChangeQueue&) = delete;

    // On the control handler's thread: queues the change (the notification is copied) and returns
    // once it has been handled, or after the wait, or at once when earlier changes are still
    // waiting to be handled.
    void Post(uint32_t eventCode, const WtsSessionNotification* notification);
    // Blocks until every queued change has been handled.
    void WaitIdle();

private:
    struct Change {
        uint32_t eventCode = 0;
        bool bHasNotification = false;
        WtsSessionNotification notification;
    };
    void Drain();

    IThreads& m_threads;
    Handler m_handler;
    const uint32_t m_dwWaitMs;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Change> m_queue;      // guarded by m_mutex
    uint64_t m_nPosted = 0;          // guarded by m_mutex
    uint64_t m_nHandled = 0;         // guarded by m_mutex
    bool m_bWorkerRunning = false;   // guarded by m_mutex
};

}  // namespace corvane
