// The session-change control through the service's own objects: the control handler hands the
// change to the session worker and returns although a domain controller does not answer or a
// device worker holds the session table; once they let go, the changes are handled in the order
// Windows sent them.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

#include "service/ccorvane_app.h"
#include "service/service_objects.h"
#include "session/session_change_queue.h"
#include "session/session_codes.h"
#include "session/session_monitor.h"
#include "support/test_platform.h"

namespace corvane::test {
namespace {

// Holds whoever enters it until the test lets go.
class Gate {
public:
    void Enter() {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_nWaiting;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_bOpen; });
    }
    void Open() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bOpen = true;
        m_changed.notify_all();
    }
    // Whether someone entered within a few seconds.
    bool WaitForEntry() {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(5), [this] { return m_nWaiting > 0; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_bOpen = false;
    int m_nWaiting = 0;
};

enum class Holder { DomainController, SessionTable };

struct HeldCase {
    const char* label;
    Holder holder;
};
void PrintTo(const HeldCase& c, std::ostream* os) { *os << c.label; }

class SessionChangeControlTest : public ::testing::TestWithParam<HeldCase> {
protected:
    SessionChangeControlTest() {
        objects.Wire(app);
        OpenServiceMutexes(tp.Get(), app.Config());
        tp.sessions.now = tp.clock.GetSystemTimeAsFileTime();
        tp.sessions.Set(FakeSessions::UserSession(1, u"anna", u"CONTOSO"));
    }
    ~SessionChangeControlTest() override { tp.threads.JoinAll(); }

    uint32_t SessionChange(int32_t code) {
        WtsSessionNotification notification;
        notification.dwSessionId = 1;
        return app.ServiceCtrlHandler(Svc::ControlSessionChange, static_cast<uint32_t>(code), &notification);
    }
    int32_t LastEventOfAnna() {
        CUserLog copy;
        if (!objects.SessionMonitor().Table().CopyFirst([](const CUserLog& r) { return r.m_strUser == u"anna"; },
                                                         copy)) {
            return -1;
        }
        return copy.m_nLastEvent;
    }

    TestPlatform tp;
    // The application (with the configuration and its mutexes) outlives the service objects.
    CCorvaneApp app {tp.Get(), ServiceHooks {}};
    CServiceObjects objects {tp.Get()};
};

TEST_P(SessionChangeControlTest, TheHandlerReturnsWhileTheChangeIsHeldAndTheChangesKeepTheirOrder) {
    Gate gate;
    std::unique_ptr<MutexGuard> table;
    if (GetParam().holder == Holder::DomainController) {
        tp.sessions.onTrustEnumeration = [&] { gate.Enter(); };
    } else {
        table = std::make_unique<MutexGuard>(objects.SessionMonitor().Table().Mutex());
    }

    // Logon, lock, unlock: each control returns while its change cannot be handled yet. The
    // controls come from a thread of their own, so that a handler that blocks fails the test
    // instead of hanging it.
    std::mutex mutex;
    std::condition_variable returned;
    bool bReturned = false;
    std::thread dispatcher([&] {
        for (int32_t code : {WTS_SESSION_LOGON, WTS_SESSION_LOCK, WTS_SESSION_UNLOCK}) {
            EXPECT_EQ(SessionChange(code), WinError::Success) << code;
        }
        std::lock_guard<std::mutex> lock(mutex);
        bReturned = true;
        returned.notify_all();
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        EXPECT_TRUE(returned.wait_for(lock, std::chrono::seconds(10), [&] { return bReturned; }))
            << "the control handler waited for the held change";
    }
    EXPECT_EQ(LastEventOfAnna(), -1) << "nothing was handled while the change was held";
    if (GetParam().holder == Holder::DomainController) {
        EXPECT_TRUE(gate.WaitForEntry()) << "the trust lookup runs on the session worker";
    }

    gate.Open();
    table.reset();
    dispatcher.join();
    objects.SessionChanges().WaitIdle();
    // The unlock came last, so it is the record's last event.
    EXPECT_EQ(LastEventOfAnna(), WTS_SESSION_UNLOCK);
}

INSTANTIATE_TEST_SUITE_P(Held, SessionChangeControlTest,
                         ::testing::Values(HeldCase {"DomainControllerDoesNotAnswer", Holder::DomainController},
                                           HeldCase {"SessionTableHeldByADeviceWorker", Holder::SessionTable}),
                         [](const ::testing::TestParamInfo<HeldCase>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace corvane::test
