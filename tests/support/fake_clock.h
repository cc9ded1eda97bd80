// A clock that stands still until a test advances it, or until a thread sleeps on it: Sleep(ms)
// moves the tick count and the system time forward by ms, so loops with delays of 2 s, 13 s,
// 30 s or 601 s run in microseconds.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "platform/clock.h"
#include "platform/file_time.h"

namespace corvane::test {

class FakeClock final : public IClock {
public:
    // Starts at tick 1000 and 2026-01-01 00:00:00 UTC, one hour east of UTC.
    FakeClock();

    uint32_t GetTickCount() override { return m_tick.load(); }
    FileTime GetSystemTimeAsFileTime() override;
    FileTime ToLocalFileTime(FileTime utc) override { return utc + m_localOffset; }
    void Sleep(uint32_t milliseconds) override;

    void Advance(uint32_t milliseconds);
    void SetTick(uint32_t tick) { m_tick = tick; }
    void SetSystemTime(FileTime utc);
    void SetLocalOffsetSeconds(int64_t seconds) { m_localOffset = seconds * kFileTimePerSecond; }
    // Called on the sleeping thread after each Sleep has advanced the clock (set before threads run).
    std::function<void(uint32_t tick)> onSleep;
    uint64_t SleepCount() const { return m_sleeps.load(); }
    uint64_t SleptMilliseconds() const { return m_slept.load(); }

private:
    std::atomic<uint32_t> m_tick;
    std::mutex m_mutex;
    FileTime m_system;
    FileTime m_localOffset;
    std::atomic<uint64_t> m_sleeps {0};
    std::atomic<uint64_t> m_slept {0};
};

}  // namespace corvane::test
