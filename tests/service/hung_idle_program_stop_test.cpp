// The whole stop of the service while the idle-time program hangs: a device worker runs the
// offline test of a user whose phone has gone, its idle probe starts the platform's own idle-time
// program (one that never exits) with the session table held, and a stop control arrives. The
// probe gives the program up after its bound and ends it, the worker sees the stop, and the stop
// sequence and ExitInstance (which waits for the session table) finish inside the stop budget,
// with no worker abandoned. On POSIX the simulated machine starts the program; under Wine the
// real CreateProcessAsUserW does.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "device/device_map.h"
#include "device/device_worker.h"
#include "device/presence_tests.h"
#include "platform/text.h"
#include "service/ccorvane_app.h"
#include "service/service_objects.h"
#include "session/device_sessions.h"
#include "session/session_change_queue.h"
#include "session/session_codes.h"
#include "session/session_monitor.h"
#include "support/test_platform.h"
#ifdef _WIN32
#include "platform/win32/win32_api.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_sessions.h"
#include "platform/win32/win32_system.h"
#include "service/program_folder.h"
#else
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_sessions.h"
#endif

namespace corvane::test {
namespace {

using SteadyClock = std::chrono::steady_clock;

// The probe gives the program up long before the stop stops waiting for workers.
static_assert(kIdleProgramWaitMilliseconds < kStopWaitMilliseconds);
// The bound this test gives the probe, shorter than the service's so that the test is quick.
constexpr uint32_t kTestProbeBoundMs = 1000;

#ifdef _WIN32
using RealClock = win32::Win32Clock;
#else
using RealClock = posix::PosixClock;
#endif

// The test machine's sessions, whose idle probe is the platform's own with a hung program: on
// POSIX the simulated machine's, under Wine the Win32 backend's (its session calls are stubs
// there, so the probe is given this process as the user's).
class HungIdleSessions final : public ISessions {
public:
    HungIdleSessions(FakeSessions& fake, const std::string& root, IClock& clock)
        : m_fake(fake)
#ifdef _WIN32
          , m_probe(kTestProbeBoundMs)
#else
          , m_probe(root + "/sim", clock, [](uint32_t, uint32_t) {}, nullptr,
                    posix::PosixIdleProgram {CORVANE_HUNG_IDLE_PROGRAM, kTestProbeBoundMs})
#endif
    {
#ifdef _WIN32
        (void)root;
        (void)clock;
#else
        m_probe.Manager().Logon("anna", "CONTOSO", false);
#endif
    }

    uint32_t EnumerateSessions(std::vector<WtsSessionEntry>& out) override { return m_fake.EnumerateSessions(out); }
    uint32_t QuerySessionInfoEx(uint32_t id, WtsInfoEx& out) override { return m_fake.QuerySessionInfoEx(id, out); }
    uint32_t QuerySessionInfo(uint32_t id) override { return m_fake.QuerySessionInfo(id); }
    uint32_t QueryUserName(uint32_t id, std::u16string& out) override { return m_fake.QueryUserName(id, out); }
    uint32_t QueryDomainName(uint32_t id, std::u16string& out) override { return m_fake.QueryDomainName(id, out); }
    uint32_t DisconnectSession(uint32_t id) override { return m_fake.DisconnectSession(id); }
    uint32_t LogoffSession(uint32_t id) override { return m_fake.LogoffSession(id); }
    uint32_t EnumerateDomainTrusts(std::vector<DomainTrust>& out) override { return m_fake.EnumerateDomainTrusts(out); }
    void GetOsVersion(uint32_t& major, uint32_t& minor) override { m_fake.GetOsVersion(major, minor); }
    uint32_t InitiateShutdown() override { return m_fake.InitiateShutdown(); }

    uint32_t FindUserProcess(uint32_t id, std::u16string_view user, std::u16string_view domain,
                             uint32_t& processId) override {
#ifdef _WIN32
        (void)id, (void)user, (void)domain;
        processId = ::GetCurrentProcessId();
        return 0;
#else
        return m_probe.FindUserProcess(id, user, domain, processId);
#endif
    }
    uint32_t TestUserToken(uint32_t id) override {
#ifdef _WIN32
        (void)id;
        return 0;
#else
        return m_probe.TestUserToken(id);
#endif
    }
    uint32_t RunIdleProgram(uint32_t processId, int32_t* exitCode) override {
        ++probesStarted;
        const uint32_t rc = m_probe.RunIdleProgram(processId, exitCode);
        uint32_t none = kNoResultValue;
        firstResult.compare_exchange_strong(none, rc);
        ++probesEnded;
        return rc;
    }

    static constexpr uint32_t kNoResultValue = 0xFFFFFFFF;
    std::atomic<int> probesStarted {0};
    std::atomic<int> probesEnded {0};
    std::atomic<uint32_t> firstResult {kNoResultValue};

private:
    FakeSessions& m_fake;
#ifdef _WIN32
    win32::Win32Sessions m_probe;
#else
    posix::PosixSessions m_probe;
#endif
};

// A phone that has gone: its worker runs the offline test of its options until it is stopped.
class CGonePhone final : public CDevTovrel {
public:
    CGonePhone(IClock& clock, IDeviceSessions& sessions, DeviceWorkerHost& host)
        : CDevTovrel(clock, u"gone-phone", u"phone", DeviceKind::BluetoothPhone),
          m_clock(clock),
          m_sessions(sessions),
          m_host(host) {}
    void StartWorker() override { StartDeviceWorker(*this, m_host); }
    uint32_t Run() override {
        const uint32_t lossTick = m_clock.GetTickCount();
        while (!IsStopping()) {
            for (CLogonOpt option : CopyLogonOptions()) OfflineTest(m_sessions, m_clock, option, *this, lossTick);
            m_clock.Sleep(50);
        }
        return 0;
    }

private:
    IClock& m_clock;
    IDeviceSessions& m_sessions;
    DeviceWorkerHost& m_host;
};

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = SteadyClock::now() + limit;
    while (!done()) {
        if (SteadyClock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class HungIdleProgramStopTest : public ::testing::Test {
protected:
    HungIdleProgramStopTest() : sessions(tp.sessions, tp.Root(), clock) {
#ifdef _WIN32
        // hung\UserIdleTime.exe beside the test program never exits; the service looks for the
        // program in its current directory.
        EXPECT_EQ(ProgramFolder(system, folder), 0u);
        EXPECT_EQ(system.SetCurrentDirectory(folder + u"hung"), 0u);
#endif
        // Real time: the probe's bound and the stop's budget are what this test is about.
        tp.Get().clock = &clock;
        tp.Get().sessions = &sessions;
        tp.sessions.now = clock.GetSystemTimeAsFileTime();
        tp.sessions.Set(FakeSessions::UserSession(1, u"anna", u"CONTOSO"));
        app = std::make_unique<CCorvaneApp>(tp.Get(), ServiceHooks {});
        objects = std::make_unique<CServiceObjects>(tp.Get());
        objects->Wire(*app);
    }
    ~HungIdleProgramStopTest() override {
        // A test that failed before its stop still stops the service it started.
        if (main.joinable()) {
            tp.serviceHost.Control(Svc::ControlStop);
            main.join();
        }
        tp.threads.JoinAll();
#ifdef _WIN32
        system.SetCurrentDirectory(folder);
#endif
    }

#ifdef _WIN32
    win32::Win32System system;
    std::u16string folder;
#endif
    TestPlatform tp;
    RealClock clock;
    HungIdleSessions sessions;
    std::unique_ptr<CCorvaneApp> app;  // holds the configuration, so it outlives the objects
    std::unique_ptr<CServiceObjects> objects;
    std::thread main;
};

TEST_F(HungIdleProgramStopTest, AStopCompletesWithinItsBudgetWhileTheIdleProgramHangs) {
    main = std::thread([this] { app->InitInstance(); });
    ASSERT_TRUE(tp.serviceHost.WaitForState(Svc::Running));
    ASSERT_EQ(tp.serviceHost.Control(Svc::ControlSessionChange, WTS_SESSION_LOGON, 1), WinError::Success);
    objects->SessionChanges().WaitIdle();

    CDeviceSessions deviceSessions(objects->SessionMonitor().Table(), objects->SessionActions());
    DeviceWorkerHost host {tp.threads, objects->Devices(), app->ActiveWorkerCount};
    AddLogonOptionToCreated(objects->Devices(), new CGonePhone(clock, deviceSessions, host), u"anna", u"CONTOSO",
                            LogonOption::LockWhenOffline, 0);
    ASSERT_TRUE(WaitUntil([&] { return sessions.probesStarted.load() > 0; }, std::chrono::seconds(5)))
        << "the offline test never probed the user's idle time";

    // The stop arrives while the probe waits for the hung program, with the session table held.
    const auto start = SteadyClock::now();
    ASSERT_EQ(tp.serviceHost.Control(Svc::ControlStop), WinError::Success);
    main.join();
    app->ExitInstance();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();

    const uint32_t probe = sessions.firstResult.load();
    if (probe != kIdleProgramTimedOut && probe != 0) {
        GTEST_SKIP() << "the idle-time program could not be started here (error " << probe
                     << "); the stop took " << elapsed << " ms";
    }
    EXPECT_EQ(probe, kIdleProgramTimedOut) << "the hung program was given up after the bound";
    EXPECT_LT(elapsed, static_cast<long long>(kStopWaitMilliseconds));
    EXPECT_EQ(app->ActiveWorkerCount.load(), 0) << "the device worker ended; none was abandoned";
    for (const std::string& line : tp.DiagnosticLines()) EXPECT_EQ(line.find("abandoned"), std::string::npos) << line;
    EXPECT_EQ(sessions.probesStarted.load(), sessions.probesEnded.load()) << "no probe is left running";
    std::printf("the stop completed %lld ms after the control, the idle-time program hanging\n",
                static_cast<long long>(elapsed));
}

}  // namespace
}  // namespace corvane::test
