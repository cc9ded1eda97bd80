// The login-manager session backend against a login manager that is not the machine's: a
// dbus-daemon of the test's own with python3-dbusmock's logind template (logind_mock.py), whose
// address only this test process is given. The mock records the calls it receives; the checks
// read its call log. Skipped where dbus-daemon or python3-dbusmock is missing.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_time.h"
#include "platform/posix/logind_sessions.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace corvane::posix {
namespace {

std::string RunCommand(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[512];
        while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

class LogindSessionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (RunCommand("command -v dbus-daemon >/dev/null && /usr/bin/python3 -c 'import dbusmock' 2>/dev/null && echo yes") !=
            "yes\n") {
            GTEST_SKIP() << "dbus-daemon or python3-dbusmock is not installed: the backend is not tested here";
        }
        m_bus = m_dir.Path("bus");
        ASSERT_NE(Mock("start").find("unix:path="), std::string::npos) << "the mock login manager did not start";
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + m_bus + "/system_bus_socket").c_str(), 1);
    }
    void TearDown() override {
        m_sessions.reset();
        if (!m_bus.empty()) Mock("stop");
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    std::string Mock(const std::string& args) {
        return RunCommand("/usr/bin/python3 " CORVANE_LOGIND_MOCK " " + args.substr(0, args.find(' ')) + " " + m_bus +
                   (args.find(' ') == std::string::npos ? "" : args.substr(args.find(' '))) + " 2>&1");
    }
    LogindSessions& Sessions(const std::string& krb5Conf = "") {
        std::string path = m_dir.Path("krb5.conf");
        if (!krb5Conf.empty()) std::ofstream(path) << krb5Conf;
        m_sessions = std::make_unique<LogindSessions>(
            path, u"TESTPC", m_clock, [](uint32_t, uint32_t, uint32_t, uint32_t&) { return true; }, &m_diagnostics);
        return *m_sessions;
    }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> lock(m_linesMutex);
        return m_lines;
    }

    test::TempDir m_dir;
    std::string m_bus;
    test::FakeClock m_clock;
    std::mutex m_linesMutex;
    std::vector<std::string> m_lines;
    DiagnosticLog m_diagnostics {[this](std::string_view line) {
        std::lock_guard<std::mutex> lock(m_linesMutex);
        m_lines.emplace_back(line);
    }};
    std::unique_ptr<LogindSessions> m_sessions;
};

TEST_F(LogindSessionsTest, SessionsAsWindowsSessions) {
    Mock("add 2 alice 1000");
    Mock("add c3 bob 1001 --remote");
    Mock("add 4 gdm 120 --class greeter --inactive");
    LogindSessions& s = Sessions("[libdefaults]\n default_realm = CORP.EXAMPLE\n");

    std::vector<WtsSessionEntry> list;
    ASSERT_EQ(s.EnumerateSessions(list), 0u);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].SessionId, 2u);
    EXPECT_EQ(list[0].WinStationName, u"Console");
    EXPECT_EQ(list[0].State, WtsConnectState::Active);
    EXPECT_EQ(list[1].SessionId, 4u);
    EXPECT_EQ(list[1].State, WtsConnectState::Disconnected);
    EXPECT_EQ(list[2].SessionId, kFirstMappedSessionId);  // "c3" is not a number
    EXPECT_EQ(list[2].WinStationName, u"RDP-Tcp#65536");

    WtsInfoEx info;
    ASSERT_EQ(s.QuerySessionInfoEx(2, info), 0u);
    EXPECT_EQ(info.UserName, u"alice");
    EXPECT_EQ(info.DomainName, u"CORP");
    EXPECT_EQ(info.SessionFlags, WtsSessionFlags::Unlock);
    EXPECT_GT(info.LogonTime, kFileTimeUnixEpoch);
    EXPECT_EQ(info.CurrentTime, m_clock.GetSystemTimeAsFileTime());
    std::vector<DomainTrust> trusts;
    ASSERT_EQ(s.EnumerateDomainTrusts(trusts), 0u);
    ASSERT_EQ(trusts.size(), 1u);
    EXPECT_EQ(trusts[0].DnsDomainName, u"corp.example");

    // The greeter's session has no user, like the logon screen; a session that is gone fails.
    std::u16string user = u"x";
    ASSERT_EQ(s.QueryUserName(4, user), 0u);
    EXPECT_EQ(user, u"");
    EXPECT_EQ(s.TestUserToken(4), 1008u);
    EXPECT_EQ(s.QuerySessionInfo(99), 7022u);
}

TEST_F(LogindSessionsTest, WithoutARealmTheDomainIsTheMachine) {
    Mock("add 2 alice 1000");
    LogindSessions& s = Sessions();
    std::u16string domain;
    ASSERT_EQ(s.QueryDomainName(2, domain), 0u);
    EXPECT_EQ(domain, u"TESTPC");
    std::vector<DomainTrust> trusts;
    EXPECT_EQ(s.EnumerateDomainTrusts(trusts), 1311u);  // no logon servers: not joined
}

TEST_F(LogindSessionsTest, ActionsReachTheLoginManager) {
    Mock("add 2 alice 1000");
    Mock("add c3 bob 1001 --remote");
    Mock("add 4 gdm 120 --class greeter");
    LogindSessions& s = Sessions();
    std::vector<WtsSessionEntry> list;
    ASSERT_EQ(s.EnumerateSessions(list), 0u);  // learns "c3"'s number

    EXPECT_EQ(s.DisconnectSession(2), 0u);
    EXPECT_EQ(s.LogoffSession(kFirstMappedSessionId), 0u);
    EXPECT_EQ(s.InitiateShutdown(), 0u);
    // Refused before anything is asked: a session that does not exist, one without a user.
    EXPECT_EQ(s.DisconnectSession(99), 7022u);
    EXPECT_EQ(s.LogoffSession(4), 1008u);

    EXPECT_EQ(Mock("calls LockSession"), "2\n");
    EXPECT_EQ(Mock("calls TerminateSession"), "c3\n");
    EXPECT_EQ(Mock("calls PowerOff"), "0\n");  // not interactive
    // The mock has no screen locker: LockedHint stays false, and the service says so.
    for (int i = 0; i < 200 && Lines().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(Lines().size(), 1u);
    EXPECT_NE(Lines()[0].find("session 2 was asked to lock but its LockedHint is still false"), std::string::npos)
        << Lines()[0];
}

TEST_F(LogindSessionsTest, IdleTimeFromTheIdleHint) {
    const uint64_t sinceUs = 1767225600ull * 1000000u;  // 2026-01-01 00:00:00 UTC
    Mock("add 2 alice 1000 --idle-since-us " + std::to_string(sinceUs));
    Mock("add 3 bob 1001");  // never sets the hint
    LogindSessions& s = Sessions();
    m_clock.SetSystemTime(kFileTimeUnixEpoch + static_cast<FileTime>(sinceUs) * 10 + 4 * kFileTimePerSecond);

    uint32_t pid = 0;
    ASSERT_EQ(s.FindUserProcess(2, u"ALICE", u"testpc", pid), 0u);
    int32_t idle = -1;
    ASSERT_EQ(s.RunIdleProgram(pid, &idle), 0u);
    EXPECT_EQ(idle, 4000);

    ASSERT_EQ(s.FindUserProcess(3, u"bob", u"TESTPC", pid), 0u);
    ASSERT_EQ(s.RunIdleProgram(pid, &idle), 0u);
    EXPECT_EQ(idle, 0) << "a session without an idle hint counts as active";

    EXPECT_EQ(s.FindUserProcess(2, u"alice", u"OTHER", pid), 127u);
    EXPECT_EQ(s.FindUserProcess(99, u"alice", u"TESTPC", pid), 127u);
    EXPECT_EQ(s.RunIdleProgram(LogindSessions::kFirstProcessId + 99, &idle), 87u);  // the session has ended
}

}  // namespace
}  // namespace corvane::posix
