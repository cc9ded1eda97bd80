#include "support/fake_threads.h"

namespace corvane::test {

bool FakeThreads::CreateThread(std::function<void()> body) {
    if (failCreate) return false;
    for (int left = failNext.load(); left > 0;) {
        if (failNext.compare_exchange_weak(left, left - 1)) return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_started;
    m_threads.emplace_back(std::move(body));
    return true;
}

void FakeThreads::JoinAll() {
    for (;;) {
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            threads.swap(m_threads);
        }
        if (threads.empty()) return;
        for (auto& t : threads) t.join();
    }
}

size_t FakeThreads::Started() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_started;
}

}  // namespace corvane::test
