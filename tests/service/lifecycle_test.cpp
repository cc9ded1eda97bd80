#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "config/configuration.h"
#include "platform/registry.h"
#include "service/ccorvane_app.h"
#include "service/program_folder.h"
#include "support/test_platform.h"

namespace corvane {
namespace {

class LifecycleTest : public ::testing::Test {
protected:
    test::TestPlatform tp;
    ServiceHooks hooks;
    std::mutex eventsMutex;
    std::vector<std::string> events;

    void Record(const std::string& e) {
        std::lock_guard<std::mutex> lock(eventsMutex);
        events.push_back(e);
    }
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> lock(eventsMutex);
        return events;
    }

    // Hooks that record the order in which the lifecycle calls them; channel threads that set
    // their stopped flags as the real ones do.
    void RecordingHooks() {
        hooks.InitP11 = [this] { Record("InitP11"); return 0u; };
        hooks.LoadBleLibrary = [this] { Record("LoadBleLibrary"); return 0u; };
        auto channel = [this](const char* name, std::atomic<int32_t> CCorvaneApp::*flag) {
            return [this, name, flag](CCorvaneApp& app) {
                app.*flag = 0;
                Record(name);
                while (!app.m_bStop) tp.clock.Sleep(100);
                app.*flag = 1;
            };
        };
        hooks.DatagramThread = channel("DatagramThread", &CCorvaneApp::m_bUdpStopped);
        hooks.StreamListenerThread = channel("StreamListenerThread", &CCorvaneApp::m_bTcpStopped);
        hooks.RadioMonitorThread = channel("RadioMonitorThread", &CCorvaneApp::m_bRadioStopped);
        hooks.EnumerateSessions = [this] { Record("EnumerateSessions"); return true; };
        hooks.FinP11 = [this] { Record("FinP11"); };
        hooks.RequestStopDevices = [this] { Record("RequestStopDevices"); };
        hooks.BleLibraryLoaded = [] { return true; };
        hooks.StopBle = [this] { Record("StopBle"); };
        hooks.FreeNetworkDevices = [this] { Record("FreeNetworkDevices"); };
        hooks.FreeDeviceMap = [this] { Record("FreeDeviceMap"); };
        hooks.FreeSessionTable = [this] { Record("FreeSessionTable"); };
    }

    // Runs InitInstance on its own thread, as the process main thread would.
    struct Run {
        CCorvaneApp app;
        std::thread main;
        Run(Platform& p, ServiceHooks h) : app(p, std::move(h)) {
            main = std::thread([this] { app.InitInstance(); });
        }
        int Finish() {
            main.join();
            return app.ExitInstance();
        }
        // Workers the application started (the session enumeration 2 s after RUNNING) may still be
        // on their way out; they use the application, so it must outlive them.
        ~Run() {
            if (auto* threads = dynamic_cast<test::FakeThreads*>(app.GetPlatform().threads)) threads->JoinAll();
        }
    };
};

TEST_F(LifecycleTest, StartsWorkersInOrderReportsRunningAndStopsCleanly) {
    RecordingHooks();
    Run run(tp.Get(), hooks);
    ASSERT_TRUE(tp.serviceHost.WaitForState(Svc::Running));
    const ServiceStatus running = tp.serviceHost.LastStatus();
    EXPECT_EQ(running.dwServiceType, 0x110u);
    EXPECT_EQ(running.dwControlsAccepted, 0xC5u);
    EXPECT_TRUE(tp.serviceHost.deviceNotificationRegistered);
    EXPECT_EQ(tp.serviceHost.dispatchedName, u"Corvane");

    EXPECT_EQ(tp.serviceHost.Control(Svc::ControlStop), 0u);
    EXPECT_EQ(run.Finish(), 0);
    EXPECT_EQ(tp.serviceHost.ReportedStates(),
              (std::vector<uint32_t> {Svc::StartPending, Svc::Running, Svc::StopPending, Svc::Stopped}));

    const auto e = Events();
    ASSERT_GE(e.size(), 2u);
    EXPECT_EQ(e[0], "InitP11");
    EXPECT_EQ(e[1], "LoadBleLibrary");
    // Channel threads may be scheduled late; the stop steps keep their own order.
    const std::vector<std::string> stopSteps {"FinP11", "RequestStopDevices", "StopBle", "FreeNetworkDevices",
                                              "FreeDeviceMap", "FreeSessionTable"};
    std::vector<std::string> seen;
    for (const auto& name : e) {
        if (std::find(stopSteps.begin(), stopSteps.end(), name) != stopSteps.end()) seen.push_back(name);
    }
    EXPECT_EQ(seen, stopSteps);
    // The firewall rule is replaced at every start, named after the program path.
    const auto commands = tp.system.Commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0], u"netsh advfirewall firewall delete rule name=\"C:\\Program Files\\Corvane\\corvane.exe\" "
                           u"dir=in program=\"C:\\Program Files\\Corvane\\corvane.exe\"");
    EXPECT_NE(commands[1].find(u"add rule"), std::u16string::npos);
    // The idle-time program beside the service's program is found by bare name from there.
    EXPECT_EQ(tp.system.currentDirectory, u"C:\\Program Files\\Corvane\\");
}

TEST(ProgramFolder, IsTheProgramPathUpToItsLastSeparator) {
    const struct {
        const char16_t* modulePath;
        uint32_t moduleError;
        uint32_t result;
        const char16_t* folder;
    } cases[] = {
        {u"C:\\Program Files\\Corvane\\corvane.exe", 0, 0, u"C:\\Program Files\\Corvane\\"},
        {u"C:\\corvane.exe", 0, 0, u"C:\\"},  // the drive's root, not the drive's current directory
        {u"/opt/corvane/bin/corvane", 0, 0, u"/opt/corvane/bin/"},
        {u"corvane.exe", 0, 161, u""},
        {u"", 5, 5, u""},
    };
    for (const auto& c : cases) {
        test::FakeSystem system("");
        system.modulePath = c.modulePath;
        system.moduleError = c.moduleError;
        EXPECT_EQ(EnterProgramFolder(system), c.result);
        EXPECT_EQ(system.currentDirectory, c.folder);
    }
}

TEST_F(LifecycleTest, ControlsAreAnsweredAsTheManagerExpects) {
    std::atomic<int> sessionChanges {0};
    std::atomic<uint32_t> lastSession {0};
    hooks.OnSessionChange = [&](uint32_t code, const WtsSessionNotification* n) {
        ++sessionChanges;
        lastSession = n ? n->dwSessionId : 0;
    };
    Run run(tp.Get(), hooks);
    ASSERT_TRUE(tp.serviceHost.WaitForState(Svc::Running));
    const struct {
        const char* label;
        uint32_t control;
        uint32_t eventType;
        uint32_t expected;
    } cases[] = {
        {"interrogate", Svc::ControlInterrogate, 0, 0},
        {"device event", Svc::ControlDeviceEvent, 0, 0},
        {"pause", Svc::ControlPause, 0, 120},
        {"continue", Svc::ControlContinue, 0, 120},
        {"parameter change", Svc::ControlParamChange, 0, 120},
        {"zero", 0, 0, 120},
        {"suspend", Svc::ControlPowerEvent, Svc::PbtApmSuspend, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(tp.serviceHost.Control(c.control, c.eventType), c.expected) << c.label;
    EXPECT_EQ(run.app.BleRestartRequested, 0);  // suspend changes nothing
    EXPECT_EQ(tp.serviceHost.Control(Svc::ControlPowerEvent, Svc::PbtApmResumeAutomatic), 0u);
    EXPECT_EQ(run.app.BleRestartRequested, 1);
    EXPECT_EQ(tp.serviceHost.Control(Svc::ControlSessionChange, 7, 3), 0u);
    EXPECT_EQ(sessionChanges, 1);
    EXPECT_EQ(lastSession, 3u);
    EXPECT_EQ(tp.serviceHost.Control(Svc::ControlShutdown), 0u);
    EXPECT_EQ(run.Finish(), 0);
}

TEST_F(LifecycleTest, TheServicesOwnControlsGoToTheirHookAndTheShipperRunsWhileTheServiceRuns) {
    std::vector<uint32_t> userControls;
    std::vector<std::string> shipper;
    hooks.OnUserControl = [&](uint32_t control) {
        userControls.push_back(control);
        return control == 200;
    };
    hooks.StartAuditShipper = [&] { shipper.push_back("start"); };
    hooks.StopAuditShipper = [&] { shipper.push_back("stop"); };
    Run run(tp.Get(), hooks);
    ASSERT_TRUE(tp.serviceHost.WaitForState(Svc::Running));
    EXPECT_EQ(shipper, std::vector<std::string>({"start"}));
    const struct {
        const char* label;
        uint32_t control;
        uint32_t expected;
    } cases[] = {
        {"reload", 200, 0},
        {"own but unknown", 201, 120},
        {"lowest own", 128, 120},
        {"not an own control", 127, 120},
        {"beyond the own range", 256, 120},
    };
    for (const auto& c : cases) EXPECT_EQ(tp.serviceHost.Control(c.control), c.expected) << c.label;
    EXPECT_EQ(userControls, std::vector<uint32_t>({200, 201, 128}));
    EXPECT_EQ(tp.serviceHost.Control(Svc::ControlStop), 0u);
    EXPECT_EQ(run.Finish(), 0);
    EXPECT_EQ(shipper, std::vector<std::string>({"start", "stop"}));
}

TEST_F(LifecycleTest, DispatcherFailureStartsNoWorkerAndExitsWithMinusTwo) {
    RecordingHooks();
    tp.serviceHost.dispatcherFails = true;
    CCorvaneApp app(tp.Get(), hooks);
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.ExitInstance(), -2);
    EXPECT_EQ(tp.threads.Started(), 0u);
    EXPECT_EQ(app.m_bUdpStopped, 1);
    EXPECT_EQ(app.m_bTcpStopped, 1);
    EXPECT_EQ(app.m_bRadioStopped, 1);
    EXPECT_LT(tp.clock.SleptMilliseconds(), 100u);  // the stop sequence did not wait
    EXPECT_TRUE(tp.serviceHost.ReportedStates().empty());
}

// A second start while the service runs: refused with 1056 and one diagnostic line, before the
// firewall rule, the mutexes, the configuration or the dispatcher are touched.
TEST_F(LifecycleTest, ASecondStartIsRefusedWithServiceAlreadyRunningAndTouchesNothing) {
    RecordingHooks();
    hooks.LoadHostKey = [this] { Record("LoadHostKey"); return 0u; };
    hooks.SendStatusNotification = [this](const uint8_t*, size_t) { Record("SendStatusNotification"); };
    tp.serviceHost.claimResult = WinError::ServiceAlreadyRunning;
    CCorvaneApp app(tp.Get(), hooks);
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.ExitInstance(), 1056);
    EXPECT_EQ(tp.serviceHost.claims, 1);
    EXPECT_TRUE(tp.system.Commands().empty()) << "the firewall rule stays as the running service left it";
    EXPECT_TRUE(tp.serviceHost.ReportedStates().empty());
    EXPECT_TRUE(tp.serviceHost.dispatchedName.empty());
    EXPECT_EQ(tp.threads.Started(), 0u);
    EXPECT_EQ(Events(), (std::vector<std::string> {"FreeNetworkDevices", "FreeDeviceMap", "FreeSessionTable"}));
    EXPECT_EQ(app.Config().m_hDevTovrelMutex, nullptr);
    const auto lines = tp.DiagnosticLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("already running (error 1056)"), std::string::npos) << lines[0];
}

TEST_F(LifecycleTest, AFirstStartClaimsTheServiceOnce) {
    RecordingHooks();
    tp.serviceHost.dispatcherFails = true;
    CCorvaneApp app(tp.Get(), hooks);
    app.InitInstance();
    EXPECT_EQ(tp.serviceHost.claims, 1);
    EXPECT_EQ(app.ExitInstance(), -2);
}

// A step whose subsystem is not built is named once at start, not skipped in silence.
TEST_F(LifecycleTest, EveryUnwiredStepWritesOneDiagnosticLineAtStart) {
    RecordingHooks();
    hooks.LoadHostKey = [] { return 0u; };
    hooks.OnSessionChange = [](uint32_t, const WtsSessionNotification*) {};
    hooks.RadioMonitorThread = nullptr;                                // not built
    hooks.UnwiredParts = [] { return std::vector<std::string> {"remote logoff (0x3015)"}; };
    Run run(tp.Get(), hooks);
    ASSERT_TRUE(tp.serviceHost.WaitForState(Svc::Running));
    tp.serviceHost.Control(Svc::ControlStop);
    run.Finish();
    std::vector<std::string> unwired;
    for (const std::string& line : tp.DiagnosticLines()) {
        if (line.rfind("not in this build: ", 0) == 0) unwired.push_back(line);
    }
    EXPECT_EQ(unwired, (std::vector<std::string> {
                           "not in this build: radio monitor (RadioMonitorThread); skipped",
                           "not in this build: status notification to the logon component (SendStatusNotification); skipped",
                           "not in this build: remote logoff (0x3015); skipped",
                       }));
}

// The cleared status notice at stop reaches the logon component before the sockets are drained
// (draining them first cut it off), and a component that never answers holds the stop up for
// kStopNoticeWaitMilliseconds only.
TEST_F(LifecycleTest, TheStopNoticeIsSentBeforeTheSocketsAreDrainedAndWaitedForBoundedly) {
    const struct {
        const char* label;
        uint32_t answerAfter;  // fake milliseconds into the stop; 0 never
    } cases[] = {{"slow component", 500}, {"silent component", 0}};
    for (const auto& c : cases) {
        test::TestPlatform platform;
        platform.registry.CreateKey(kLogonOptionsKey);
        ASSERT_EQ(RegSetDword(platform.registry, kLogonOptionsKey, kLogonPortTcpValue, 6001), 0u) << c.label;
        events.clear();
        RecordingHooks();
        hooks.EnumerateSessions = nullptr;  // its delay would move the clock on its own
        // Each fake sleep also takes a real millisecond, so that the notice's thread gets to run
        // while the stop sequence waits for it.
        platform.clock.onSleep = [](uint32_t) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
        std::vector<std::string> e;
        std::atomic<uint32_t> stopTick {0};
        std::atomic<bool> release {false};
        std::atomic<uint32_t> finTick {0};
        hooks.FinP11 = [&] {
            finTick = platform.clock.GetTickCount();
            Record("FinP11");
        };
        hooks.SendStatusNotification = [&](const uint8_t* status, size_t size) {
            EXPECT_EQ(std::count(status, status + size, 0), static_cast<long>(size)) << c.label;
            // Only the stop sequence moves this clock now: the answer comes once it has waited.
            while (!release.load() &&
                   (c.answerAfter == 0 || platform.clock.GetTickCount() - stopTick.load() < c.answerAfter)) {
                std::this_thread::yield();
            }
            Record("SendStatusNotification");
        };
        {
            Run run(platform.Get(), hooks);
            struct Releaser {  // lets the notice end before the run joins its thread, on every way out
                std::atomic<bool>& flag;
                ~Releaser() { flag = true; }
            } releaser {release};
            ASSERT_TRUE(platform.serviceHost.WaitForState(Svc::Running)) << c.label;
            stopTick = platform.clock.GetTickCount();
            platform.serviceHost.Control(Svc::ControlStop);
            run.Finish();
            e = Events();
        }
        const auto notice = std::find(e.begin(), e.end(), "SendStatusNotification");
        const auto fin = std::find(e.begin(), e.end(), "FinP11");
        ASSERT_NE(fin, e.end()) << c.label;
        if (c.answerAfter != 0) {
            EXPECT_LT(notice - e.begin(), fin - e.begin()) << c.label;
        } else {
            EXPECT_EQ(notice, e.end()) << c.label << ": the stop went on without the answer";
            EXPECT_GE(finTick.load() - stopTick.load(), kStopNoticeWaitMilliseconds) << c.label;
        }
    }
}

TEST_F(LifecycleTest, StopSequenceGivesUpAfterFifteenSecondsOnAWorkerThatNeverEnds) {
    std::atomic<bool> release {false};
    hooks.DatagramThread = [&](CCorvaneApp& app) {
        app.m_bUdpStopped = 0;
        while (!release) std::this_thread::yield();  // ignores the stop flag
    };
    Run run(tp.Get(), hooks);
    // Let the worker go on every way out of this test, before the run joins it.
    struct Releaser {
        std::atomic<bool>& flag;
        ~Releaser() { flag = true; }
    } releaser {release};
    ASSERT_TRUE(tp.serviceHost.WaitForState(Svc::Running));
    // The stop must find the worker running; a thread scheduled late would not have said so yet.
    for (int i = 0; i < 5000 && run.app.m_bUdpStopped != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(run.app.m_bUdpStopped, 0);
    const uint32_t before = tp.clock.GetTickCount();
    tp.serviceHost.Control(Svc::ControlStop);
    run.main.join();
    const uint32_t waited = tp.clock.GetTickCount() - before;
    EXPECT_GE(waited, kStopWaitMilliseconds);
    EXPECT_LT(waited, kStopWaitMilliseconds + 2000 + 1000);
    EXPECT_EQ(run.app.ExitInstance(), 0);
    release = true;
    const auto lines = tp.DiagnosticLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("abandoned"), std::string::npos);
}

TEST_F(LifecycleTest, ActiveWorkersHoldTheStopUntilTheyEnd) {
    std::atomic<uint32_t> stopAt {0};
    std::atomic<CCorvaneApp*> app {nullptr};
    // A device worker that ends 3 s (of the clock) after the stop flag is set.
    tp.clock.onSleep = [&](uint32_t tick) {
        CCorvaneApp* a = app.load();
        if (!a || !a->m_bStop) return;
        uint32_t expected = 0;
        stopAt.compare_exchange_strong(expected, tick);
        if (tick - stopAt.load() >= 3000) a->ActiveWorkerCount = 0;
    };
    Run run(tp.Get(), hooks);
    ASSERT_TRUE(tp.serviceHost.WaitForState(Svc::Running));
    run.app.ActiveWorkerCount = 1;
    app = &run.app;
    tp.serviceHost.Control(Svc::ControlStop);
    EXPECT_EQ(run.Finish(), 0);
    const uint32_t waited = tp.clock.GetTickCount() - stopAt.load();
    EXPECT_GE(waited, 3000u);
    EXPECT_LT(waited, 3500u);
}

TEST_F(LifecycleTest, StopDuringStartIsNotLost) {
    // The handler is registered before the workers start; a stop arriving at once still ends the
    // message loop.
    hooks.InitP11 = [this] {
        EXPECT_EQ(tp.serviceHost.Control(Svc::ControlStop), 0u);
        return 0u;
    };
    Run run(tp.Get(), hooks);
    EXPECT_EQ(run.Finish(), 0);
    EXPECT_EQ(tp.serviceHost.ReportedStates().back(), Svc::Stopped);
}

TEST_F(LifecycleTest, HandlerRegistrationFailureReportsNothingAndStillStops) {
    tp.serviceHost.registrationFails = true;
    CCorvaneApp app(tp.Get(), hooks);
    app.InitInstance();
    EXPECT_EQ(app.ExitInstance(), 0);
    EXPECT_TRUE(tp.serviceHost.ReportedStates().empty());
}

TEST_F(LifecycleTest, VerbsRunInsteadOfTheServiceAndSetTheExitCode) {
    const struct {
        const char* label;
        const char16_t* line;
        int installResult;
        int uninstallResult;
        int expectedExit;
    } cases[] = {
        {"install succeeds", u"corvane.exe /install", 1, 1, 0},
        {"install fails", u"corvane.exe -Install", 0, 1, -1},
        {"uninstall succeeds", u"corvane.exe -uninstall", 1, 5, 0},
        {"uninstall fails", u"corvane.exe /UNINSTALL", 1, 0, -1},
    };
    for (const auto& c : cases) {
        test::TestPlatform local;
        local.system.commandLine = c.line;
        ServiceHooks h;
        int installs = 0, uninstalls = 0;
        h.InstallService = [&] { ++installs; return c.installResult; };
        h.UninstallService = [&] { ++uninstalls; return c.uninstallResult; };
        CCorvaneApp app(local.Get(), h);
        EXPECT_FALSE(app.InitInstance()) << c.label;
        EXPECT_EQ(app.ExitInstance(), c.expectedExit) << c.label;
        EXPECT_EQ(installs + uninstalls, 1) << c.label;
        EXPECT_TRUE(local.system.Commands().empty()) << c.label;  // no firewall rule, no service
        EXPECT_TRUE(local.serviceHost.ReportedStates().empty()) << c.label;
    }
}

}  // namespace
}  // namespace corvane
