// The session actions on the fake clock: when the offline and away actions act, when they wait,
// and the idle probe, test logoff and shutdown.
#include "wire/result_codes.h"
#include "session_test_support.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace corvane::test {
namespace {

class SessionActionsTest : public SessionFixture {
protected:
    SessionActionsTest() : actions(tp.Get(), records), device(tp.clock, u"phone-1") {
        session.m_strUser = u"anna";
        session.m_strDomain = u"CONTOSO";
        session.m_nSession = 2;
        session.m_nState = SessionState::Active;
        session.m_ftUpdate = tp.clock.GetSystemTimeAsFileTime();
        option.m_strUser = u"anna";
        option.m_strDomain = u"CONTOSO";
        option.m_ftTime = session.m_ftUpdate;
        AddSession(2, u"anna", u"CONTOSO");
    }
    uint32_t SecondsAgo(uint32_t seconds) { return tp.clock.GetTickCount() - seconds * 1000; }

    CSessionActions actions;
    FakeDevice device;
    CUserLog session;
    CLogonOpt option;
};

TEST_F(SessionActionsTest, LogoffAfterDelayThirtyWaitsForLossAndForAnIdleUser) {
    option.m_nOption = LogonOption::LogoffWhenOffline;
    option.m_nDelay = 30;
    tp.clock.Advance(100000);  // the machine has been up a while
    const uint32_t lossTick = SecondsAgo(20);

    EXPECT_FALSE(actions.OfflineAction(session, option, device, lossTick));  // lost 20 s ago
    EXPECT_EQ(tp.sessions.idleProbes, 0);

    tp.clock.Advance(20000);  // lost 40 s ago; the user typed 5 s ago
    tp.sessions.idleMilliseconds = 5000;
    EXPECT_FALSE(actions.OfflineAction(session, option, device, lossTick));
    EXPECT_EQ(option.m_dwActivityTick, SecondsAgo(5));
    EXPECT_TRUE(tp.sessions.LoggedOff().empty());

    tp.clock.Advance(30000);
    tp.sessions.idleMilliseconds = 35000;
    EXPECT_TRUE(actions.OfflineAction(session, option, device, lossTick));
    EXPECT_EQ(tp.sessions.LoggedOff(), std::vector<uint32_t> {2});
    auto offline = records.Of("offline");
    ASSERT_EQ(offline.size(), 1u);
    EXPECT_EQ(offline[0].event, 122);
    EXPECT_EQ(option.m_bHandled, 1u);
}

TEST_F(SessionActionsTest, MissingIdleProgramCountsAsIdleAndTheSessionIsLocked) {
    option.m_nOption = LogonOption::LockWhenOffline;
    option.m_nDelay = 10;
    tp.clock.Advance(100000);
    tp.sessions.idleProgramError = 2;  // UserIdleTime.exe is not there

    EXPECT_TRUE(actions.OfflineAction(session, option, device, SecondsAgo(10)));
    EXPECT_EQ(tp.sessions.Disconnected(), std::vector<uint32_t> {2});
    ASSERT_EQ(records.Of("offline").size(), 1u);
    EXPECT_EQ(records.Of("offline")[0].event, 121);
}

// A delay beyond what the tick count can measure: 49.7 days and a second, whose milliseconds
// wrap 32 bits to 704. The session is not locked early; the longest measurable delay stands in.
TEST_F(SessionActionsTest, ADelayBeyondTheTickRangeNeverLocksEarly) {
    option.m_nOption = LogonOption::LockWhenOffline;
    option.m_nDelay = 4294968;
    tp.sessions.idleProgramError = 2;  // no idle time known: the user counts as idle
    struct Case {
        uint32_t lostFor;
        bool locked;
    } cases[] = {{1000, false}, {86400000, false}, {kLongestDelayMilliseconds - 1, false}, {kLongestDelayMilliseconds, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lostFor);
        tp.clock.SetTick(0x20000000);
        const uint32_t lossTick = tp.clock.GetTickCount();
        option.m_dwActivityTick = lossTick;
        tp.clock.SetTick(lossTick + c.lostFor);
        EXPECT_EQ(actions.OfflineAction(session, option, device, lossTick), c.locked);
    }
    EXPECT_EQ(tp.sessions.Disconnected().size(), 1u);
}

TEST_F(SessionActionsTest, OfflineActionOutcomes) {
    struct Case {
        const char* label;
        int32_t option;
        int32_t state;
        FileTime optionAfterUpdate;  // how much later than the session's last update the option is
        uint32_t disconnectError;
        bool result;
        bool handled;
        size_t disconnects;
        size_t recorded;
    };
    const Case cases[] = {
        {"option 0 is dropped", LogonOption::None, SessionState::Active, 0, 0, true, true, 0, 0},
        {"away option is not for the offline action", -70, SessionState::Active, 0, 0, false, true, 0, 0},
        {"already locked is dropped without acting", LogonOption::LockWhenOffline, SessionState::Locked, 0, 0, true,
         true, 0, 0},
        {"option 20 s newer than the session waits", LogonOption::LockWhenOffline, SessionState::Active,
         20 * kSecond, 0, false, false, 0, 0},
        {"option 10 s newer than the session acts", LogonOption::LockWhenOffline, SessionState::Active, 10 * kSecond,
         0, true, true, 1, 1},
        {"failed disconnect keeps the option", LogonOption::LockWhenOffline, SessionState::Active, 0, 5, false, true,
         0, 0},
    };
    tp.clock.Advance(100000);
    tp.sessions.idleMilliseconds = 600000;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        FakeSessions sessions;
        sessions.Set(FakeSessions::UserSession(2, u"anna", u"CONTOSO"));
        sessions.idleMilliseconds = 600000;
        sessions.disconnectError = c.disconnectError;
        Platform platform = tp.Get();
        platform.sessions = &sessions;
        RecordingRecords recorded;
        CSessionActions local(platform, recorded);
        CLogonOpt o = option;
        o.m_nOption = c.option;
        o.m_ftTime = session.m_ftUpdate + c.optionAfterUpdate;
        CUserLog s = session;
        s.m_nState = c.state;
        EXPECT_EQ(local.OfflineAction(s, o, device, SecondsAgo(60)), c.result);
        EXPECT_EQ(o.m_bHandled == 1, c.handled);
        EXPECT_EQ(sessions.Disconnected().size(), c.disconnects);
        EXPECT_EQ(recorded.Events().size(), c.recorded);
    }
}

TEST_F(SessionActionsTest, AwayActionOutcomes) {
    struct Case {
        const char* label;
        int32_t state;
        FileTime optionAfterUpdate;
        bool sessionGone;
        uint32_t disconnectError;
        bool result;
        size_t disconnects;
        size_t recorded;
    };
    const Case cases[] = {
        {"locks an active session", SessionState::Active, 0, false, 0, true, 1, 1},
        {"option 3 s newer acts", SessionState::Active, 3 * kSecond, false, 0, true, 1, 1},
        {"option 4 s newer waits", SessionState::Active, 4 * kSecond, false, 0, false, 0, 0},
        {"already locked is dropped", SessionState::Locked, 0, false, 0, true, 0, 0},
        {"a session that has just ended is dropped", SessionState::Active, 0, true, 0, true, 0, 0},
        {"failed disconnect keeps the option", SessionState::Active, 0, false, 5, false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        FakeSessions sessions;
        if (!c.sessionGone) sessions.Set(FakeSessions::UserSession(2, u"anna", u"CONTOSO"));
        sessions.disconnectError = c.disconnectError;
        Platform platform = tp.Get();
        platform.sessions = &sessions;
        RecordingRecords recorded;
        CSessionActions local(platform, recorded);
        CLogonOpt o = option;
        o.m_nOption = -70;
        o.m_ftTime = session.m_ftUpdate + c.optionAfterUpdate;
        CUserLog s = session;
        s.m_nState = c.state;
        EXPECT_EQ(local.AwayAction(s, o, device), c.result);
        EXPECT_EQ(sessions.Disconnected().size(), c.disconnects);
        ASSERT_EQ(recorded.Events().size(), c.recorded);
        if (c.recorded) EXPECT_EQ(recorded.Events()[0].event, 123);
    }
}

TEST_F(SessionActionsTest, IdleProbeNeedsAProcessOfThatUserInThatSession) {
    int32_t idle = -1;
    tp.sessions.idleMilliseconds = 1234;
    EXPECT_EQ(actions.ProbeIdleTime(2, u"ANNA", u"contoso", &idle), 0u);
    EXPECT_EQ(idle, 1234);
    idle = -1;
    EXPECT_EQ(actions.ProbeIdleTime(2, u"bob", u"CONTOSO", &idle), kErrorProcNotFound);
    EXPECT_EQ(actions.ProbeIdleTime(9, u"anna", u"CONTOSO", &idle), kErrorProcNotFound);
    EXPECT_EQ(idle, -1);
}

TEST_F(SessionActionsTest, TestLogoffLogsOffTheTestAccountOnly) {
    EXPECT_EQ(actions.TestLogoff(), Result::UserSessionNotFound);
    AddSession(5, u"user1", u"VEXMOR81", u"RDP-Tcp#3");
    AddSession(6, u"User1", u"Vexmor81", u"", WtsConnectState::Disconnected);
    EXPECT_EQ(actions.TestLogoff(), 0u);
    EXPECT_EQ(tp.sessions.LoggedOff(), (std::vector<uint32_t> {5, 6}));
    tp.sessions.logoffError = 5;
    EXPECT_EQ(actions.TestLogoff(), 5u);
    tp.sessions.enumerateError = 1722;
    EXPECT_EQ(actions.TestLogoff(), 1722u);
}

TEST_F(SessionActionsTest, ShutdownNowAsksTheMachineOnce) {
    EXPECT_EQ(actions.ShutdownNow(), 0u);
    EXPECT_EQ(tp.sessions.shutdowns, 1);
    tp.sessions.shutdownError = 1314;
    EXPECT_EQ(actions.ShutdownNow(), 1314u);
}

// A session change may wait on a domain controller (its trust lookup) or on the disk (its event
// line and audit row). Meanwhile it holds no lock that a device worker's offline test needs: the
// offline test takes the session table and its action locks the session.
TEST_F(SessionActionsTest, AnOfflineActionRunsWhileASessionChangeWaits) {
    enum class Wait { ForTrusts, ForTheEventLine };
    for (Wait wait : {Wait::ForTrusts, Wait::ForTheEventLine}) {
        SCOPED_TRACE(wait == Wait::ForTrusts ? "trust lookup blocks" : "event line blocks");
        tp.clock.Advance(100000);
        tp.sessions.idleMilliseconds = 600000;
        Notify(WTS_SESSION_LOGON, 2);
        std::promise<void> entered, release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<bool> armed {true};
        auto block = [&] {
            if (armed.exchange(false)) {
                entered.set_value();
                released.wait();
            }
        };
        if (wait == Wait::ForTrusts) {
            tp.sessions.onTrustEnumeration = block;
        } else {
            records.onRecord = [&](const RecordedEvent& e) {
                if (e.kind == "change") block();
            };
        }
        AddSession(2, u"anna", u"CONTOSO", u"Console", WtsConnectState::Active, WtsSessionFlags::Lock);
        std::thread change([&] { Notify(WTS_SESSION_LOCK, 2); });
        if (entered.get_future().wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            release.set_value();
            change.join();
            FAIL() << "the session change never waited";
        }

        const size_t disconnectsBefore = tp.sessions.Disconnected().size();
        auto offline = std::async(std::launch::async, [&] {
            MutexGuard lock(monitor->Table().Mutex());
            CLogonOpt o = option;
            o.m_nOption = LogonOption::LockWhenOffline;
            o.m_ftTime = session.m_ftUpdate + 10 * kSecond;
            return actions.OfflineAction(session, o, device, SecondsAgo(60));
        });
        const bool ranMeanwhile = offline.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        release.set_value();
        change.join();
        tp.sessions.onTrustEnumeration = nullptr;
        records.onRecord = nullptr;
        EXPECT_TRUE(ranMeanwhile) << "the offline action waited for the session change";
        EXPECT_TRUE(offline.get());
        EXPECT_EQ(tp.sessions.Disconnected().size(), disconnectsBefore + 1);
        Notify(WTS_SESSION_LOGOFF, 2);
        AddSession(2, u"anna", u"CONTOSO");
    }
}

}  // namespace
}  // namespace corvane::test
