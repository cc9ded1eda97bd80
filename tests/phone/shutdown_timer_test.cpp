// The delayed-shutdown timer on the fake clock: the countdown fires once its delay has passed,
// a cancel seen by the running worker stops it, remaining times wrap and clamp as they should,
// and a worker that cannot start or a failing shutdown is reported.
#include <gtest/gtest.h>

#include <thread>

#include "phone/remote_session_support.h"
#include "session/shutdown_timer.h"
#include "support/fake_clock.h"
#include "support/fake_threads.h"

namespace corvane::test {
namespace {

TEST(ShutdownTimer, FiresOnceTheDelayHasPassedOnTheFakeClock) {
    const struct {
        uint32_t delay;
    } cases[] = {{0}, {1}, {5}, {61}};
    for (const auto& c : cases) {
        FakeClock clock;
        HeldThreads threads;
        uint32_t firedAt = 0;
        int shutdowns = 0;
        CShutdownTimer timer(clock, threads, [&] {
            ++shutdowns;
            firedAt = clock.GetTickCount();
            return 0u;
        });
        const uint32_t start = clock.GetTickCount();
        EXPECT_EQ(timer.Start(c.delay).status, 0u);
        ASSERT_EQ(threads.Count(), 1u);
        threads.bodies[0]();
        EXPECT_EQ(shutdowns, 1) << c.delay;
        EXPECT_EQ(timer.State(), ShutdownTimerState::ShutdownStarted);
        // The first check comes 2 s after the start, then one every 100 ms.
        const uint32_t due = std::max(c.delay * 1000, kShutdownFirstCheckMs);
        EXPECT_GE(firedAt - start, due) << c.delay;
        EXPECT_LT(firedAt - start, due + kShutdownCheckPeriodMs) << c.delay;
        // After a completed shutdown a new request starts a new countdown.
        EXPECT_EQ(timer.Query(7).status, 0x20000025u);
        EXPECT_EQ(timer.Start(9).status, 0u);
        EXPECT_EQ(threads.Count(), 2u);
    }
}

TEST(ShutdownTimer, TheCountdownWaitsUntilTheRequestingConnectionHasSentItsReply) {
    constexpr uint32_t kNever = UINT32_MAX;
    const struct {
        const char* label;
        uint32_t sentAfterMs;  // when the connection is back to waiting for its next request
        uint32_t firstCheckMs;  // the first check, after that wait and the two seconds after it
    } cases[] = {
        {"reply already sent", 0, kShutdownFirstCheckMs},
        {"reply sent after 3005 ms", 3005, 3010 + kShutdownFirstCheckMs},
        {"reply never sent: the wait ends after 10 s", kNever, kShutdownReplyWaitMs + kShutdownFirstCheckMs},
    };
    for (const auto& c : cases) {
        FakeClock clock;
        HeldThreads threads;
        uint32_t firedAt = 0;
        CShutdownTimer timer(clock, threads, [&] {
            firedAt = clock.GetTickCount();
            return 0u;
        });
        const uint32_t start = clock.GetTickCount();
        int asked = 0;
        ASSERT_EQ(timer.Start(0, [&] {
            ++asked;
            return c.sentAfterMs != kNever && clock.GetTickCount() - start >= c.sentAfterMs;
        }).status, 0u);
        ASSERT_EQ(threads.Count(), 1u);
        threads.bodies[0]();
        EXPECT_GT(asked, 0) << c.label;
        EXPECT_EQ(firedAt - start, c.firstCheckMs) << c.label;
    }
}

TEST(ShutdownTimer, ACancelStopsARunningWorkerBeforeItShutsDown) {
    FakeClock clock;
    FakeThreads threads;
    int shutdowns = 0;
    CShutdownTimer timer(clock, threads, [&] {
        ++shutdowns;
        return 0u;
    });
    ASSERT_EQ(timer.Start(100000).status, 0u);
    const ShutdownOutcome cancelled = timer.Cancel(0);
    threads.JoinAll();
    EXPECT_EQ(cancelled.status, 0u);
    EXPECT_GT(cancelled.seconds, 0u);
    EXPECT_LE(cancelled.seconds, 100000u);
    EXPECT_EQ(timer.State(), ShutdownTimerState::Cancelled);
    EXPECT_EQ(shutdowns, 0);
    EXPECT_EQ(timer.Cancel(3).status, 0x20000025u);
}

TEST(ShutdownTimer, RemainingTimesClampWhenReportedAndWrapWhenCompared) {
    FakeClock clock;
    HeldThreads threads;
    CShutdownTimer timer(clock, threads, [] { return 0u; });
    ASSERT_EQ(timer.Start(5).status, 0u);
    clock.Advance(12000);  // the worker has not looked yet: 7 s past the delay
    EXPECT_EQ(timer.Query(0).seconds, 0u);
    // Compared unclamped, what remains has wrapped round and any delay is shorter: a restart.
    const ShutdownOutcome restarted = timer.Start(3);
    EXPECT_EQ(restarted.status, 0u);
    EXPECT_EQ(restarted.seconds, 3u);
    clock.Advance(1000);
    const ShutdownOutcome refused = timer.Start(3);
    EXPECT_EQ(refused.status, 0x20000027u);
    EXPECT_EQ(refused.seconds, 2u);
    EXPECT_EQ(threads.Count(), 1u);
}

TEST(ShutdownTimer, FailuresAreReported) {
    FakeClock clock;
    HeldThreads threads;
    threads.failCreate = true;
    CShutdownTimer timer(clock, threads, [] { return 1115u; });  // ERROR_SHUTDOWN_IN_PROGRESS
    EXPECT_EQ(timer.Start(30).status, kErrorNotEnoughMemory);
    EXPECT_EQ(timer.State(), ShutdownTimerState::None);
    threads.failCreate = false;
    ASSERT_EQ(timer.Start(1).status, 0u);
    EXPECT_EQ(timer.Run(), 1115u);
}

}  // namespace
}  // namespace corvane::test
