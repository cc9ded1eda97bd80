#include "platform/posix/posix_threads.h"

#include <atomic>
#include <thread>

namespace corvane::posix {

namespace {
std::atomic<uint32_t> g_nextThreadId {1000};
thread_local uint32_t t_threadId = 0;
}  // namespace

bool PosixThreads::CreateThread(std::function<void()> body) {
    try {
        std::thread(std::move(body)).detach();
        return true;
    } catch (...) {
        return false;
    }
}

uint32_t PosixThreads::GetCurrentThreadId() {
    if (t_threadId == 0) t_threadId = g_nextThreadId.fetch_add(4);
    return t_threadId;
}

bool PosixThreads::PostQuit(uint32_t threadId) {
    if (threadId == 0) return false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quitPosted.insert(threadId);
    }
    m_changed.notify_all();
    return true;
}

void PosixThreads::RunMessageLoop() {
    const uint32_t self = GetCurrentThreadId();
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return m_quitPosted.count(self) != 0; });
    m_quitPosted.erase(self);
}

}  // namespace corvane::posix
