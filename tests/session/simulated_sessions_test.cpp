// The simulated session manager of the POSIX build: the notifications each change delivers and
// in which order, what the service sees between them, what it refuses, and the service's view
// of it (queries, the idle program, trusts, its own disconnect and logoff).
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <thread>

#include "platform/posix/posix_sessions.h"
#include "platform/posix/sim_state.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace corvane::test {
namespace {

namespace SimEvent = posix::SimEvent;
using posix::SimSessionManager;

struct Notice {
    uint32_t event;
    uint32_t session;
    bool operator==(const Notice&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Notice& n) { return os << "(" << n.event << "," << n.session << ")"; }

class SimulatedSessionsTest : public ::testing::Test {
protected:
    SimulatedSessionsTest()
        : manager(dir.Path("sim"), clock, [this](uint32_t event, uint32_t session) { OnNotice(event, session); }) {}

    void OnNotice(uint32_t event, uint32_t session) {
        // What the service would read while it handles the notification.
        posix::SimState state;
        ASSERT_EQ(manager.Read(state), 0u);
        const posix::SimSession* s = state.Find(session);
        std::lock_guard<std::mutex> lock(m_mutex);
        notices.push_back({event, session});
        seen.push_back(s ? (s->connectState == WtsConnectState::Active && s->flags == WtsSessionFlags::Unlock
                                ? "unlocked"
                                : s->connectState == WtsConnectState::Active ? "locked" : "not active")
                         : "gone");
        threads.push_back(std::this_thread::get_id());
    }
    std::vector<Notice> Take() {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto out = notices;
        notices.clear();
        seen.clear();
        threads.clear();
        return out;
    }

    TempDir dir;
    FakeClock clock;
    SimSessionManager manager;
    std::mutex m_mutex;
    std::vector<Notice> notices;
    std::vector<std::string> seen;
    std::vector<std::thread::id> threads;
};

TEST_F(SimulatedSessionsTest, EachChangeDeliversTheNotificationsWindowsSendsInItsOrder) {
    struct Step {
        const char* label;
        std::function<posix::SimResult(SimSessionManager&)> change;
        std::vector<Notice> expected;
    };
    const std::vector<Step> steps = {
        {"console logon takes over the logon screen's session", [](auto& m) { return m.Logon("anna", "CONTOSO", false); },
         {{SimEvent::SessionLogon, 1}}},
        {"remote desktop logon connects, then logs on", [](auto& m) { return m.Logon("bob", "CONTOSO", true); },
         {{SimEvent::RemoteConnect, 2}, {SimEvent::SessionLogon, 2}}},
        {"lock", [](auto& m) { return m.Lock(1); }, {{SimEvent::SessionLock, 1}}},
        {"unlock", [](auto& m) { return m.Unlock(1); }, {{SimEvent::SessionUnlock, 1}}},
        {"console disconnect brings a new logon screen", [](auto& m) { return m.Disconnect(1); },
         {{SimEvent::ConsoleDisconnect, 1}, {SimEvent::ConsoleConnect, 3}}},
        {"reconnect to the console ends the logon screen and unlocks", [](auto& m) { return m.Connect(1); },
         {{SimEvent::ConsoleDisconnect, 3}, {SimEvent::ConsoleConnect, 1}, {SimEvent::SessionUnlock, 1}}},
        {"remote disconnect", [](auto& m) { return m.Disconnect(2); }, {{SimEvent::RemoteDisconnect, 2}}},
        {"remote reconnect", [](auto& m) { return m.Connect(2); }, {{SimEvent::RemoteConnect, 2}}},
        {"switch user: lock, disconnect, new logon screen, logon",
         [](auto& m) { return m.Logon("carl", "CONTOSO", false); },
         {{SimEvent::SessionLock, 1}, {SimEvent::ConsoleDisconnect, 1}, {SimEvent::ConsoleConnect, 4},
          {SimEvent::SessionLogon, 4}}},
        {"console logoff: logoff, disconnect, new logon screen", [](auto& m) { return m.Logoff(4); },
         {{SimEvent::SessionLogoff, 4}, {SimEvent::ConsoleDisconnect, 4}, {SimEvent::ConsoleConnect, 5}}},
        {"remote logoff", [](auto& m) { return m.Logoff(2); },
         {{SimEvent::SessionLogoff, 2}, {SimEvent::RemoteDisconnect, 2}}},
        {"logoff of a disconnected session", [](auto& m) { return m.Logoff(1); }, {{SimEvent::SessionLogoff, 1}}},
        {"dora logs on at the logon screen", [](auto& m) { return m.Logon("dora", "CONTOSO", false); },
         {{SimEvent::SessionLogon, 5}}},
        {"dora's session is disconnected from the console", [](auto& m) { return m.Disconnect(5); },
         {{SimEvent::ConsoleDisconnect, 5}, {SimEvent::ConsoleConnect, 6}}},
        {"her logon at the new logon screen reconnects her session: screen out, hers in, unlocked",
         [](auto& m) { return m.Logon("DORA", "contoso", false); },
         {{SimEvent::ConsoleDisconnect, 6}, {SimEvent::ConsoleConnect, 5}, {SimEvent::SessionUnlock, 5}}},
        {"disconnected again", [](auto& m) { return m.Disconnect(5); },
         {{SimEvent::ConsoleDisconnect, 5}, {SimEvent::ConsoleConnect, 7}}},
        {"her remote desktop logon reconnects it remotely", [](auto& m) { return m.Logon("dora", "CONTOSO", true); },
         {{SimEvent::RemoteConnect, 5}}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.label);
        const posix::SimResult result = step.change(manager);
        EXPECT_EQ(result.error, 0u) << result.message;
        EXPECT_EQ(Take(), step.expected);
    }
}

TEST_F(SimulatedSessionsTest, ServiceSeesTheStateOfEachStepWhenItsNotificationArrives) {
    manager.Logon("anna", "CONTOSO", false);
    manager.Disconnect(1);
    Take();
    manager.Connect(1);
    std::lock_guard<std::mutex> lock(m_mutex);
    EXPECT_EQ(seen, (std::vector<std::string> {"gone", "locked", "unlocked"}));
}

TEST_F(SimulatedSessionsTest, LogonOfAUserWithADisconnectedSessionGivesThatSessionBack) {
    ASSERT_EQ(manager.Logon("dave", "CONTOSO", false).sessionId, 1u);
    ASSERT_EQ(manager.Disconnect(1).error, 0u);  // as the service locks it when his phone goes
    const posix::SimResult back = manager.Logon("dave", "CONTOSO", false);
    ASSERT_EQ(back.error, 0u) << back.message;
    EXPECT_EQ(back.sessionId, 1u);

    posix::SimState state;
    ASSERT_EQ(manager.Read(state), 0u);
    EXPECT_EQ(state.consoleId, 1u);
    size_t withUser = 0;
    for (const auto& s : state.sessions) withUser += s.user.empty() ? 0 : 1;
    EXPECT_EQ(withUser, 1u);
    const posix::SimSession* dave = state.Find(1);
    ASSERT_NE(dave, nullptr);
    EXPECT_EQ(dave->connectState, WtsConnectState::Active);
    EXPECT_EQ(dave->flags, WtsSessionFlags::Unlock);
    EXPECT_EQ(dave->station, "Console");
    EXPECT_EQ(state.Find(2), nullptr);  // the logon screen that stood in for him has ended
}

TEST_F(SimulatedSessionsTest, ChangesThatDoNotFitTheSessionAreRefused) {
    manager.Logon("anna", "CONTOSO", false);
    manager.Logon("bob", "CONTOSO", true);
    manager.Lock(1);
    Take();
    struct Case {
        const char* label;
        std::function<posix::SimResult(SimSessionManager&)> change;
        uint32_t error;
    };
    const Case cases[] = {
        {"lock of a locked session", [](auto& m) { return m.Lock(1); }, posix::SimError::InvalidState},
        {"unlock of an unlocked session", [](auto& m) { return m.Unlock(2); }, posix::SimError::InvalidState},
        {"connect of a connected session", [](auto& m) { return m.Connect(2); }, posix::SimError::InvalidState},
        {"a second session for the same user", [](auto& m) { return m.Logon("ANNA", "contoso", true); },
         posix::SimError::InvalidState},
        {"a session without a user", [](auto& m) { return m.Lock(0); }, posix::SimError::InvalidState},
        {"an unknown session", [](auto& m) { return m.Logoff(77); }, posix::SimError::WinStationNotFound},
        {"a logon without a domain", [](auto& m) { return m.Logon("dora", "", false); },
         posix::SimError::InvalidParameter},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const posix::SimResult result = c.change(manager);
        EXPECT_EQ(result.error, c.error);
        EXPECT_FALSE(result.message.empty());
    }
    EXPECT_TRUE(Take().empty());
}

TEST_F(SimulatedSessionsTest, SessionsOutliveTheManagerThatMadeThem) {
    ASSERT_EQ(manager.Logon("anna", "CONTOSO", false).sessionId, 1u);
    SimSessionManager later(dir.Path("sim"), clock, {});
    posix::SimState state;
    ASSERT_EQ(later.Read(state), 0u);
    ASSERT_NE(state.Find(1), nullptr);
    EXPECT_EQ(state.Find(1)->user, "anna");
}

TEST_F(SimulatedSessionsTest, DamagedStateFileIsReportedNotGuessed) {
    manager.Logon("anna", "CONTOSO", false);
    std::ofstream(dir.Path("sim/sessions.state")) << "corvane-sim-sessions 1\nsession 1 oops\n";
    posix::SimState state;
    EXPECT_EQ(manager.Read(state), posix::SimError::InvalidData);
    EXPECT_EQ(manager.Lock(1).error, posix::SimError::InvalidData);
}

TEST(SimStateTest, RoundTripKeepsEveryFieldAndAnyName) {
    posix::SimState state = posix::SimState::Fresh();
    posix::SimSession s;
    s.id = 7;
    s.connectState = WtsConnectState::Disconnected;
    s.flags = WtsSessionFlags::Lock;
    s.desktop = posix::SimDesktop::Remote;
    s.idleKnown = false;
    s.logonTime = 1;
    s.connectTime = 2;
    s.disconnectTime = 3;
    s.lastInputTime = 4;
    s.user = "J\xC3\xBCrgen M%ller-2";
    s.domain = "CONTOSO";
    state.sessions.push_back(s);
    state.trusts.push_back({"CONTOSO", "contoso.com"});
    state.shutdowns.push_back(99);
    state.osMajor = 6;
    state.osMinor = 1;

    auto parsed = posix::ParseSimState(posix::SerializeSimState(state));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(posix::SerializeSimState(*parsed), posix::SerializeSimState(state));
    const posix::SimSession* back = parsed->Find(7);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->user, s.user);
    EXPECT_EQ(back->station, "");
    EXPECT_FALSE(back->idleKnown);
}

TEST(SimStateTest, MalformedTextIsRejected) {
    const std::string good = posix::SerializeSimState(posix::SimState::Fresh());
    const char* cases[] = {
        "",
        "corvane-sim-sessions 2\nmachine 2 1 1 10 0\n",
        "corvane-sim-sessions 1\n",  // no machine line
        "corvane-sim-sessions 1\nmachine 2 1 1 10\n",
        "corvane-sim-sessions 1\nmachine 2 1 1 10 0\nmachine 2 1 1 10 0\n",
        "corvane-sim-sessions 1\nmachine 2 1 1 10 0\nsession 1 0 1 1 1 0 0 0 0 Console a\n",
        "corvane-sim-sessions 1\nmachine 2 1 1 10 0\nsession 1 0 1 1 2 0 0 0 0 Console a b\n",
        "corvane-sim-sessions 1\nmachine 2 1 1 10 0\nsession 1 0 1 1 1 0 0 0 0 Con%4 a b\n",
        "corvane-sim-sessions 1\nmachine 2 1 1 10 0\nsession 1 0 1 1 1 0 0 0 0 Con sole a b\n",
        "corvane-sim-sessions 1\nmachine 2 1 1 10 0\nsession 1 0 1 1 1 x 0 0 0 Console a b\n",
        "corvane-sim-sessions 1\nmachine 99999999999 1 1 10 0\n",
        "corvane-sim-sessions 1\nmachine 2 1 1 10 0\ntrust A\n",
        "corvane-sim-sessions 1\nmachine 2 1 1 10 0\nreboot now\n",
        "corvane-sim-sessions 1\nmachine 2 1 1 10 0\nsession 1 0 1 1 1 0 0 0 0 - - -\nsession 1 0 1 1 1 0 0 0 0 - - -\n",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(posix::ParseSimState(text));
    }
    EXPECT_TRUE(posix::ParseSimState(good));
}

class PosixSessionsTest : public SimulatedSessionsTest {
protected:
    PosixSessionsTest()
        : diagnostics([this](std::string_view line) {
              std::lock_guard<std::mutex> lock(m_mutex);
              lines.emplace_back(line);
          }),
          sessions(dir.Path("sim"), clock, [this](uint32_t e, uint32_t s) { OnNotice(e, s); }, &diagnostics) {}
    DiagnosticLog diagnostics;
    std::vector<std::string> lines;
    posix::PosixSessions sessions;
};

TEST_F(PosixSessionsTest, SessionInformationAsWindowsReportsIt) {
    const FileTime logon = clock.GetSystemTimeAsFileTime();
    manager.Logon("anna", "CONTOSO", false);
    clock.Advance(3000);
    WtsInfoEx info;
    ASSERT_EQ(sessions.QuerySessionInfoEx(1, info), 0u);
    EXPECT_EQ(info.SessionId, 1u);
    EXPECT_EQ(info.SessionState, WtsConnectState::Active);
    EXPECT_EQ(info.SessionFlags, WtsSessionFlags::Unlock);
    EXPECT_EQ(info.WinStationName, u"Console");
    EXPECT_EQ(info.UserName, u"anna");
    EXPECT_EQ(info.DomainName, u"CONTOSO");
    EXPECT_EQ(info.LogonTime, logon);
    EXPECT_EQ(info.CurrentTime, logon + 3 * 10000000LL);
    EXPECT_EQ(sessions.QuerySessionInfoEx(9, info), posix::SimError::WinStationNotFound);

    std::vector<WtsSessionEntry> all;
    ASSERT_EQ(sessions.EnumerateSessions(all), 0u);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].SessionId, 0u);
    EXPECT_EQ(all[2].SessionId, 65536u);
    EXPECT_EQ(all[2].State, WtsConnectState::Listen);

    manager.SetOsVersion(6, 1);
    ASSERT_EQ(sessions.QuerySessionInfoEx(1, info), 0u);
    EXPECT_EQ(info.SessionFlags, WtsSessionFlags::Lock);  // reversed, as Windows 7 reports it
    uint32_t major = 0, minor = 0;
    sessions.GetOsVersion(major, minor);
    EXPECT_EQ(major * 10 + minor, 61u);
}

TEST_F(PosixSessionsTest, IdleProgramReportsTheIdleTimeOfTheSessionsUserOnly) {
    manager.Logon("anna", "CONTOSO", false);
    manager.SetIdle(1, 42000);
    clock.Advance(1000);
    uint32_t pid = 0;
    EXPECT_EQ(sessions.FindUserProcess(1, u"bob", u"CONTOSO", pid), posix::SimError::ProcNotFound);
    EXPECT_EQ(sessions.FindUserProcess(2, u"anna", u"CONTOSO", pid), posix::SimError::ProcNotFound);
    ASSERT_EQ(sessions.FindUserProcess(1, u"ANNA", u"contoso", pid), 0u);
    EXPECT_EQ(sessions.TestUserToken(1), 0u);
    EXPECT_EQ(sessions.TestUserToken(0), posix::SimError::NoToken);
    int32_t idle = 0;
    ASSERT_EQ(sessions.RunIdleProgram(pid, &idle), 0u);
    EXPECT_EQ(idle, 43000);
    manager.SetIdle(1, -1);
    ASSERT_EQ(sessions.RunIdleProgram(pid, &idle), 0u);
    EXPECT_EQ(idle, -1);
    manager.Unlock(1);  // refused (not locked); input times change only with real input
    manager.Lock(1);
    manager.Unlock(1);
    ASSERT_EQ(sessions.RunIdleProgram(pid, &idle), 0u);
    EXPECT_EQ(idle, 0);
}

TEST_F(PosixSessionsTest, TrustsComeFromTheSimulatedListAndNoneMeansNoDomain) {
    std::vector<DomainTrust> trusts;
    EXPECT_EQ(sessions.EnumerateDomainTrusts(trusts), posix::SimError::NoLogonServers);
    manager.AddTrust("CONTOSO", "contoso.com");
    manager.AddTrust("contoso", "corp.contoso.com");  // replaces
    manager.AddTrust("FABRIKAM", "fabrikam.net");
    ASSERT_EQ(sessions.EnumerateDomainTrusts(trusts), 0u);
    ASSERT_EQ(trusts.size(), 2u);
    EXPECT_EQ(trusts[0].NetbiosDomainName, u"CONTOSO");
    EXPECT_EQ(trusts[0].DnsDomainName, u"corp.contoso.com");
    manager.ClearTrusts();
    EXPECT_EQ(sessions.EnumerateDomainTrusts(trusts), posix::SimError::NoLogonServers);
}

TEST_F(PosixSessionsTest, ServiceDisconnectAndLogoffAnnounceThemselvesLaterOnAnotherThread) {
    manager.Logon("anna", "CONTOSO", false);
    manager.Logon("bob", "CONTOSO", true);
    Take();
    EXPECT_EQ(sessions.DisconnectSession(9), posix::SimError::WinStationNotFound);
    EXPECT_EQ(sessions.LogoffSession(0), posix::SimError::InvalidState);

    ASSERT_EQ(sessions.DisconnectSession(1), 0u);
    ASSERT_EQ(sessions.LogoffSession(2), 0u);
    sessions.WaitIdle();

    std::lock_guard<std::mutex> lock(m_mutex);
    EXPECT_EQ(notices, (std::vector<Notice> {{SimEvent::ConsoleDisconnect, 1},
                                             {SimEvent::ConsoleConnect, 3},
                                             {SimEvent::SessionLogoff, 2},
                                             {SimEvent::RemoteDisconnect, 2}}));
    for (const auto& id : threads) EXPECT_NE(id, std::this_thread::get_id());
    EXPECT_EQ(seen[0], "not active");  // disconnected: locked from the service's point of view
}

TEST_F(PosixSessionsTest, ShutdownIsRecordedAndLoggedButNothingIsPoweredOff) {
    EXPECT_EQ(sessions.InitiateShutdown(), 0u);
    posix::SimState state;
    ASSERT_EQ(manager.Read(state), 0u);
    ASSERT_EQ(state.shutdowns.size(), 1u);
    EXPECT_EQ(state.shutdowns[0], clock.GetSystemTimeAsFileTime());
    std::lock_guard<std::mutex> lock(m_mutex);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("shutdown"), std::string::npos);
}

}  // namespace
}  // namespace corvane::test
