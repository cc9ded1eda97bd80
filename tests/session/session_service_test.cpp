// The session monitor inside the running service, on the simulated Windows of the POSIX build:
// the service program's own objects and control socket on a fresh state root, sessions driven
// as corvane-ctl drives them, and the table, the text event log and the audit rows checked.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "audit/audit_database.h"
#include "audit/audit_reader.h"
#include "device/device_map.h"
#include "platform/posix/control_protocol.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_sessions.h"
#include "platform/posix/state_root.h"
#include "platform/text.h"
#include "service/ccorvane_app.h"
#include "service/service_objects.h"
#include "session/event_log.h"
#include "session/session_actions.h"
#include "session/session_monitor.h"
#include "session_test_support.h"
#include "support/fake_clock.h"
#include "support/fake_threads.h"
#include "support/temp_dir.h"

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

class SessionServiceTest : public ::testing::Test {
protected:
    SessionServiceTest() {
        ::setenv("CORVANE_ROOT", dir.Path().c_str(), 1);
        root = posix::StateRoot::At(dir.Path());
        native = CreateNativePlatform();
        platform = native->Get();
        // Threads the test can join and a clock that does not make it wait for the start-up
        // enumeration; every other service is the POSIX backend's own.
        platform.threads = &threads;
        platform.clock = &fakeClock;
        users = std::make_unique<posix::SimSessionManager>(
            posix::SimSessionDirectory(root), clock, posix::NotifyServiceBySocket(root.ControlSocketPath()));
    }
    ~SessionServiceTest() override {
        if (main.joinable()) Stop();
        threads.JoinAll();
    }

    void Start() {
        objects = std::make_unique<CServiceObjects>(platform);
        app = std::make_unique<CCorvaneApp>(platform, ServiceHooks {});
        objects->Wire(*app);
        main = std::thread([this] { app->InitInstance(); });
        ASSERT_TRUE(WaitFor([&] {
            posix::ControlReply reply;
            return posix::SendControl(root.ControlSocketPath(), {Svc::ControlInterrogate, 0, 0}, reply) == 0 &&
                   reply.state == Svc::Running;
        }));
    }
    void Stop() {
        posix::ControlReply reply;
        posix::SendControl(root.ControlSocketPath(), {Svc::ControlStop, 0, 0}, reply);
        main.join();
        app->ExitInstance();
    }
    static bool WaitFor(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (done()) return true;
            std::this_thread::sleep_for(5ms);
        }
        return done();
    }
    std::unique_ptr<CUserLog> Record(std::u16string_view user) {
        auto copy = std::make_unique<CUserLog>();
        if (!objects->SessionMonitor().Table().CopyFirst([&](const CUserLog& r) { return r.m_strUser == user; }, *copy)) {
            return nullptr;
        }
        return copy;
    }
    // The event log's messages, without their time stamps.
    std::vector<std::string> LogLines() {
        std::ifstream in(root.SystemDir() + "/Zentik.Log");
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(in, line)) {
            if (lines.empty() && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // byte-order mark
            if (line.size() > 20) lines.push_back(line.substr(20));
        }
        return lines;
    }
    // event_type, user_name and desktop_type of every audit row.
    std::vector<std::string> AuditRows() {
        std::u16string directory, path;
        EXPECT_EQ(GetAuditDbPath(*platform.system, directory, path), 0u);
        std::vector<std::string> columns;
        std::vector<std::string> rows;
        ReadAuditRows(path, kAuditPassphrase, 0, [&](const std::vector<std::string>& c) { columns = c; },
                      [&](const AuditRowValues& row) {
                          std::string text;
                          for (const char* name : {"event_type", "user_name", "desktop_type"}) {
                              for (size_t i = 0; i < columns.size(); ++i) {
                                  if (columns[i] == name) text += (text.empty() ? "" : " ") + row[i].value_or("NULL");
                              }
                          }
                          rows.push_back(text);
                      });
        return rows;
    }

    TempDir dir;
    posix::StateRoot root;
    std::unique_ptr<NativePlatform> native;
    Platform platform;
    FakeThreads threads;
    FakeClock fakeClock;
    posix::PosixClock clock;
    std::unique_ptr<posix::SimSessionManager> users;
    std::unique_ptr<CCorvaneApp> app;  // holds the configuration, so it outlives the objects
    std::unique_ptr<CServiceObjects> objects;
    std::thread main;
};

TEST_F(SessionServiceTest, SessionsOfASimulatedDayReachTheTableTheEventLogAndTheAuditTrail) {
    // anna logged on before the service started: its start-up enumeration finds her.
    ASSERT_EQ(users->Logon("anna", "CONTOSO", false).sessionId, 1u);
    Start();
    ASSERT_TRUE(WaitFor([&] { return Record(u"anna") != nullptr; }));
    EXPECT_EQ(Record(u"anna")->m_nState, SessionState::Active);

    ASSERT_EQ(users->Lock(1).error, 0u);
    EXPECT_EQ(Record(u"anna")->m_nState, SessionState::Locked);  // handled before the change returns
    ASSERT_EQ(users->Unlock(1).error, 0u);
    EXPECT_EQ(Record(u"anna")->m_nState, SessionState::Active);
    EXPECT_EQ(objects->SessionMonitor().LogonState().GetConsoleUser(), u"anna@CONTOSO");

    const uint32_t bob = users->Logon("bob", "CONTOSO", true).sessionId;
    ASSERT_TRUE(Record(u"bob"));
    EXPECT_EQ(Record(u"bob")->m_nDesktop, DesktopKind::RemoteDesktop);
    ASSERT_EQ(users->Logoff(bob).error, 0u);
    EXPECT_FALSE(Record(u"bob"));

    // The service locks anna itself (her phone has gone): the disconnect comes back to it as
    // notifications, asynchronously.
    {
        FakeDevice phone(*platform.clock, u"phone-1");
        CLogonOpt option;
        option.m_strUser = u"anna";
        option.m_strDomain = u"CONTOSO";
        option.m_nOption = LogonOption::LockWhenOffline;
        CSessionTable& table = objects->SessionMonitor().Table();
        MutexGuard lock(table.Mutex());
        CUserLog* anna = table.FindLastByUser(u"anna", u"CONTOSO");
        ASSERT_NE(anna, nullptr);
        option.m_ftTime = anna->m_ftUpdate;
        EXPECT_TRUE(objects->SessionActions().OfflineAction(*anna, option, phone, platform.clock->GetTickCount()));
    }
    ASSERT_TRUE(WaitFor([&] { return Record(u"anna")->m_nState == SessionState::Locked; }));
    static_cast<posix::PosixSessions*>(platform.sessions)->WaitIdle();
    Stop();
    EXPECT_EQ(objects->SessionMonitor().Table().Count(), 0u);  // ExitInstance emptied it

    const std::vector<std::string> lines = LogLines();
    const std::string computer = Utf16ToUtf8(app->Config().g_strComputerName);
    const std::vector<std::string> expected = {
        "System:" + computer + "|1|CONTOSO\\anna|Logined(WTS_SESSION_LOGON)|Console|",
        "System:" + computer + "|1|CONTOSO\\anna|Locked",
        "System:" + computer + "|1|CONTOSO\\anna|Unlock|Console",
        "System:" + computer + "|" + std::to_string(bob) + "|CONTOSO\\bob|Logon|Remote Desktop|",
        "System:" + computer + "|" + std::to_string(bob) + "|CONTOSO\\bob|Logoff|Remote Desktop",
        "Zentik:" + computer + "|CONTOSO\\anna|Offline Locked",
        "System:" + computer + "|1|CONTOSO\\anna|Locked",
    };
    ASSERT_EQ(lines.size(), expected.size()) << ::testing::PrintToString(lines);
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(lines[i].substr(0, expected[i].size()), expected[i]) << lines[i];
    }
    EXPECT_NE(lines[0].find("|Add"), std::string::npos);

    EXPECT_EQ(AuditRows(), (std::vector<std::string> {"7 anna 1", "8 anna 1", "5 bob 2", "6 bob 2", "121 anna NULL",
                                                      "7 anna 1"}));
}

}  // namespace
}  // namespace corvane::test
