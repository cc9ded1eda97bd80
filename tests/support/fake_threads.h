// Threads for tests: real threads, but joined when the fake is destroyed, so that no worker
// outlives the objects of a test. The message loop is the POSIX one.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/posix/posix_threads.h"

namespace corvane::test {

class FakeThreads final : public IThreads {
public:
    ~FakeThreads() override { JoinAll(); }
    bool CreateThread(std::function<void()> body) override;
    uint32_t GetCurrentThreadId() override { return m_queue.GetCurrentThreadId(); }
    bool PostQuit(uint32_t threadId) override { return m_queue.PostQuit(threadId); }
    void RunMessageLoop() override { m_queue.RunMessageLoop(); }

    void JoinAll();
    size_t Started() const;
    bool failCreate = false;
    // How many of the next CreateThread calls fail (then they succeed again).
    std::atomic<int> failNext {0};

private:
    posix::PosixThreads m_queue;
    mutable std::mutex m_mutex;
    std::vector<std::thread> m_threads;
    size_t m_started = 0;
};

}  // namespace corvane::test
