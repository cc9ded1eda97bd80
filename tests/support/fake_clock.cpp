#include "support/fake_clock.h"

#include <thread>

namespace corvane::test {

FakeClock::FakeClock()
    : m_tick(1000), m_system(CalendarToFileTime({2026, 1, 4, 1, 0, 0, 0, 0})), m_localOffset(3600 * kFileTimePerSecond) {}

FileTime FakeClock::GetSystemTimeAsFileTime() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_system;
}

void FakeClock::Sleep(uint32_t milliseconds) {
    ++m_sleeps;
    m_slept += milliseconds;
    Advance(milliseconds);
    if (onSleep) onSleep(m_tick.load());
    // Let other threads run, as a real sleep would.
    std::this_thread::yield();
}

void FakeClock::Advance(uint32_t milliseconds) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tick += milliseconds;
    m_system += static_cast<FileTime>(milliseconds) * 10000;
}

void FakeClock::SetSystemTime(FileTime utc) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_system = utc;
}

}  // namespace corvane::test
