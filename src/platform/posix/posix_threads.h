// Threads on POSIX: detached std::threads, small thread ids of our own, and a per-thread
// message queue that only knows WM_QUIT, which is all the service main thread's loop waits for.
#pragma once

#include <condition_variable>
#include <mutex>
#include <set>

#include "platform/threads.h"

namespace corvane::posix {

class PosixThreads final : public IThreads {
public:
    bool CreateThread(std::function<void()> body) override;
    uint32_t GetCurrentThreadId() override;
    bool PostQuit(uint32_t threadId) override;
    void RunMessageLoop() override;

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    // A quit posted before the thread enters its loop is kept, so it cannot be lost.
    std::set<uint32_t> m_quitPosted;
};

}  // namespace corvane::posix
