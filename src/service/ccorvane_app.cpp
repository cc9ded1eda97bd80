#include "service/ccorvane_app.h"

#include <atomic>
#include <memory>

#include "platform/text.h"
#include "service/program_folder.h"

namespace corvane {

namespace {
constexpr const char16_t* kFirewallDelete = u"netsh advfirewall firewall delete rule name=\"%s\" dir=in program=\"%s\"";
constexpr const char16_t* kFirewallAdd =
    u"netsh advfirewall firewall add rule name=\"%s\" dir=in program=\"%s\" action=allow enable=yes";

// Replaces each "%s" of the pattern with the program path.
std::u16string FillPath(std::u16string_view pattern, std::u16string_view path) {
    std::u16string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == u'%' && i + 1 < pattern.size() && pattern[i + 1] == u's') {
            out += path;
            ++i;
        } else {
            out.push_back(pattern[i]);
        }
    }
    return out;
}
}  // namespace

CCorvaneApp::CCorvaneApp(Platform& platform, ServiceHooks hooks) : m_platform(platform), m_hooks(std::move(hooks)) {}

ServiceStatus CCorvaneApp::CurrentStatus() {
    std::lock_guard<std::mutex> lock(m_statusMutex);
    return m_serviceStatus;
}

void CCorvaneApp::SetState(uint32_t state) {
    std::lock_guard<std::mutex> lock(m_statusMutex);
    m_serviceStatus.dwCurrentState = state;
}

void CCorvaneApp::ReportStatus() {
    ServiceStatus status;
    {
        std::lock_guard<std::mutex> lock(m_statusMutex);
        status = m_serviceStatus;
    }
    m_platform.serviceHost->SetServiceStatus(m_hServiceStatus, status);
}

bool CCorvaneApp::InitInstance() {
    m_platform.system->SetUserDefaultLocale();
    m_nExitCode = 0;

    const ServiceVerb verb = ScanCommandLineVerb(m_platform.system->GetCommandLine());
    if (verb != ServiceVerb::None) {
        const auto& action = verb == ServiceVerb::Uninstall ? m_hooks.UninstallService : m_hooks.InstallService;
        if (!action || action() == 0) m_nExitCode = -1;
        return false;
    }

    // The service control manager never runs a service twice. A second start is refused before
    // it touches anything the running service uses (firewall rule, registry, sockets, records).
    if (const uint32_t claim = m_platform.serviceHost->ClaimServiceInstance(kServiceName)) {
        m_platform.diagnostics->Writef("the service is already running (error %u); this start is refused", claim);
        m_nExitCode = static_cast<int>(claim);
        return false;
    }

    StartService();
    StopSequence();
    return false;
}

void CCorvaneApp::StartService() {
    // The service control manager starts the service in the system folder; the idle-time program
    // beside the service's program is found by bare name only from the program folder.
    if (const uint32_t err = EnterProgramFolder(*m_platform.system)) {
        m_platform.diagnostics->Writef("the program folder cannot be made the current directory (error %u)", err);
    }
    std::u16string programPath;
    if (m_platform.system->GetModuleFileName(programPath) == 0) {
        m_platform.system->RunCommand(FillPath(kFirewallDelete, programPath));
        m_platform.system->RunCommand(FillPath(kFirewallAdd, programPath));
    }

    OpenServiceMutexes(m_platform, m_config);
    LoadConfiguration(m_platform, m_config, m_hooks.LoadHostKey);
    if (m_hooks.ReportStartProblems) m_hooks.ReportStartProblems();

    {
        std::lock_guard<std::mutex> lock(m_statusMutex);
        m_serviceStatus = ServiceStatus {};
        m_serviceStatus.dwServiceType = Svc::Win32OwnProcessInteractive;
        m_serviceStatus.dwCurrentState = Svc::Stopped;
        m_serviceStatus.dwControlsAccepted =
            Svc::AcceptStop | Svc::AcceptShutdown | Svc::AcceptPowerEvent | Svc::AcceptSessionChange;
    }
    m_hServiceStatus = 0;
    m_bRunning = 1;

    m_platform.sockets->Startup();
    const bool dispatched = m_platform.serviceHost->StartServiceCtrlDispatcher(kServiceName, [this] { ServiceMain(); });
    m_bRunning = dispatched ? 1 : 0;
    m_nExitCode = dispatched ? 0 : -2;
    if (!dispatched) {
        m_platform.diagnostics->Write("the service dispatcher did not start (not started by the service manager)");
    }
}

void CCorvaneApp::ServiceMain() {
    // The thread that runs ServiceMain becomes the service main thread. Its id is known before
    // the handler is registered, so a stop that arrives during the start is never lost.
    m_dwMainThreadId = m_platform.threads->GetCurrentThreadId();
    SetState(Svc::StartPending);
    m_hServiceStatus = m_platform.serviceHost->RegisterServiceCtrlHandlerEx(
        kServiceName, [this](uint32_t control, uint32_t eventType, void* eventData) {
            return ServiceCtrlHandler(control, eventType, eventData);
        });
    if (m_hServiceStatus == 0) return;
    ReportStatus();
    m_platform.serviceHost->RegisterDeviceNotification(m_hServiceStatus);
    {
        std::lock_guard<std::mutex> lock(m_statusMutex);
        m_serviceStatus.dwWin32ExitCode = 0;
        m_serviceStatus.dwCheckPoint = 0;
        m_serviceStatus.dwWaitHint = 0;
    }
    RunService();
    SetState(Svc::Stopped);
    ReportStatus();
}

void CCorvaneApp::ReportUnwiredHooks() {
    // A step whose subsystem is not built is skipped; say so once, at start, rather than run as
    // if it had worked.
    const std::pair<bool, const char*> steps[] = {
        {!m_hooks.LoadHostKey, "host key (LoadHostKey)"},
        {!m_hooks.InitP11, "PKCS#11 binding (InitP11, FinP11)"},
        {!m_hooks.LoadBleLibrary, "BLE library (LoadBleLibrary)"},
        {!m_hooks.DatagramThread, "command datagram channel (DatagramThread)"},
        {!m_hooks.StreamListenerThread, "loopback stream channel (StreamListenerThread)"},
        {!m_hooks.RadioMonitorThread, "radio monitor (RadioMonitorThread)"},
        {!m_hooks.EnumerateSessions, "session enumeration (EnumerateSessions)"},
        {!m_hooks.OnSessionChange, "session-change handling (OnSessionChange)"},
        {!m_hooks.SendStatusNotification, "status notification to the logon component (SendStatusNotification)"},
        {!m_hooks.RequestStopDevices, "device stop (RequestStopDevices)"},
        {!m_hooks.BleLibraryLoaded || !m_hooks.StopBle, "BLE service stop (BleLibraryLoaded, StopBle)"},
    };
    for (const auto& [missing, name] : steps) {
        if (missing) m_platform.diagnostics->Writef("not in this build: %s; skipped", name);
    }
    if (m_hooks.UnwiredParts) {
        for (const std::string& part : m_hooks.UnwiredParts()) {
            m_platform.diagnostics->Writef("not in this build: %s; skipped", part.c_str());
        }
    }
}

void CCorvaneApp::RunService() {
    m_dwMainThreadId = m_platform.threads->GetCurrentThreadId();
    if (m_bRunning == 0) return;
    ReportUnwiredHooks();
    if (m_hooks.InitP11) m_hooks.InitP11();
    if (m_hooks.LoadBleLibrary) m_hooks.LoadBleLibrary();
    for (auto* body : {&m_hooks.DatagramThread, &m_hooks.StreamListenerThread, &m_hooks.RadioMonitorThread}) {
        if (*body) m_platform.threads->CreateThread([this, body] { (*body)(*this); });
    }
    // The shipper starts before the service reports that it runs: a reload control, which can
    // come as soon as it runs, then always finds the shipper started.
    if (m_hooks.StartAuditShipper) m_hooks.StartAuditShipper();
    SetState(Svc::Running);
    ReportStatus();
    if (m_hooks.EnumerateSessions) {
        m_platform.threads->CreateThread([this] {
            m_platform.clock->Sleep(kEnumerateDelayMilliseconds);
            // A service stopped within the first two seconds does not enumerate any more.
            if (m_bStop == 0) m_hooks.EnumerateSessions();
        });
    }
    m_platform.threads->RunMessageLoop();
}

uint32_t CCorvaneApp::ServiceCtrlHandler(uint32_t control, uint32_t eventType, void* eventData) {
    switch (control) {
        case Svc::ControlStop:
        case Svc::ControlShutdown:
            SetState(Svc::StopPending);
            ReportStatus();
            m_platform.threads->PostQuit(m_dwMainThreadId);
            return WinError::Success;
        case Svc::ControlInterrogate:
        case Svc::ControlDeviceEvent:
            return WinError::Success;
        case Svc::ControlPowerEvent:
            if (eventType == Svc::PbtApmResumeAutomatic) BleRestartRequested = 1;
            return WinError::Success;
        case Svc::ControlSessionChange:
            if (m_hooks.OnSessionChange) {
                m_hooks.OnSessionChange(eventType, static_cast<const WtsSessionNotification*>(eventData));
            }
            return WinError::Success;
        default:
            // Controls 128-255 are the service's own (sc control Corvane N).
            if (control >= 128 && control <= 255 && m_hooks.OnUserControl && m_hooks.OnUserControl(control)) {
                return WinError::Success;
            }
            return WinError::CallNotImplemented;
    }
}

void CCorvaneApp::StopSequence() {
    m_bStop = 1;
    // The shipper ends its session with the collector while the sockets still work.
    if (m_hooks.StopAuditShipper) m_hooks.StopAuditShipper();

    // Tell the logon component that no Bluetooth service is available any more. The notice has a
    // thread of its own, so that a component that never answers cannot hold the stop up; the
    // sockets are drained only once it is done, or after kStopNoticeWaitMilliseconds, because
    // draining them first would cut the notice off and leave the component believing the
    // Bluetooth service still runs.
    BleStatus.fill(0);
    if (m_hooks.SendStatusNotification && m_config.g_wLogonPortTcp.load() != 0) {
        auto sent = std::make_shared<std::atomic<bool>>(false);
        if (m_platform.threads->CreateThread([this, sent] {
                m_hooks.SendStatusNotification(BleStatus.data(), BleStatus.size());
                sent->store(true);
            })) {
            const uint32_t start = m_platform.clock->GetTickCount();
            while (!sent->load() && TicksSince(m_platform.clock->GetTickCount(), start) < kStopNoticeWaitMilliseconds) {
                m_platform.clock->Sleep(10);
            }
        }
    }

    // Release every socket reference so that blocked accept and receive calls return.
    while (m_platform.sockets->Cleanup() == 0) m_platform.clock->Sleep(10);

    if (m_hooks.FinP11) m_hooks.FinP11();
    if (m_hooks.RequestStopDevices) {
        MutexGuard lock(m_config.m_hDevTovrelMutex);
        m_hooks.RequestStopDevices();
    }
    if (m_hooks.BleLibraryLoaded && m_hooks.BleLibraryLoaded() && m_hooks.StopBle) m_hooks.StopBle();

    const uint32_t start = m_platform.clock->GetTickCount();
    while (TicksSince(m_platform.clock->GetTickCount(), start) < kStopWaitMilliseconds) {
        if (m_bUdpStopped && m_bTcpStopped && m_bRadioStopped && ActiveWorkerCount == 0) return;
        m_platform.clock->Sleep(100);
    }
    m_platform.diagnostics->Writef("workers still running after %u ms; abandoned", kStopWaitMilliseconds);
}

int CCorvaneApp::ExitInstance() {
    if (m_hooks.FreeNetworkDevices) {
        MutexGuard lock(m_config.m_hDevNetMutex);
        m_hooks.FreeNetworkDevices();
    }
    if (m_hooks.FreeDeviceMap) {
        MutexGuard lock(m_config.m_hDevTovrelMutex);
        m_hooks.FreeDeviceMap();
    }
    if (m_hooks.FreeSessionTable) {
        MutexGuard lock(m_config.m_hUserLogMutex);
        m_hooks.FreeSessionTable();
    }
    return m_nExitCode;
}

}  // namespace corvane
