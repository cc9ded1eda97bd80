// The application object: the whole life of the service runs inside InitInstance (verb handling,
// firewall rule, mutexes, configuration, the dispatcher, the stop sequence); ExitInstance frees
// the shared tables and gives the process exit code.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "config/configuration.h"
#include "platform/platform.h"
#include "service/service_hooks.h"
#include "service/service_names.h"

namespace corvane {

inline constexpr uint32_t kStopWaitMilliseconds = 15000;
// How long the stop sequence lets the cleared status notice reach the logon component before it
// drains the sockets.
inline constexpr uint32_t kStopNoticeWaitMilliseconds = 2000;
inline constexpr uint32_t kEnumerateDelayMilliseconds = 2000;
inline constexpr size_t kBleStatusSize = 28;

enum class ServiceVerb { None, Install, Uninstall };

// Scans a whole command line for a verb after '-' or '/': the rest of the line after the
// delimiter must equal "Uninstall" or "Install", ignoring case.
ServiceVerb ScanCommandLineVerb(std::u16string_view commandLine);

class CCorvaneApp {
public:
    CCorvaneApp(Platform& platform, ServiceHooks hooks);

    bool InitInstance();  // always false
    int ExitInstance();   // m_nExitCode

    void ServiceMain();
    void RunService();
    uint32_t ServiceCtrlHandler(uint32_t control, uint32_t eventType, void* eventData);

    Platform& GetPlatform() { return m_platform; }
    Configuration& Config() { return m_config; }
    ServiceHooks& Hooks() { return m_hooks; }
    ServiceStatus CurrentStatus();

    // Fields of the application, as the lifecycle uses them.
    int32_t m_nExitCode = -1;
    ServiceStatusHandle m_hServiceStatus = 0;
    ServiceStatus m_serviceStatus;  // guarded by m_statusMutex once the dispatcher runs
    std::atomic<uint32_t> m_dwMainThreadId {0};
    std::atomic<int32_t> m_bRunning {0};
    std::atomic<int32_t> m_bStop {0};
    std::atomic<int32_t> m_bUdpStopped {1};
    std::atomic<int32_t> m_bTcpStopped {1};
    std::atomic<int32_t> m_bRadioStopped {1};
    std::atomic<intptr_t> m_sockTcpListen {-1};
    std::atomic<intptr_t> m_sockUdp {-1};

    // Process-wide values owned by the application.
    // Device workers and channel-serving threads count themselves here (interlocked).
    std::atomic<int32_t> ActiveWorkerCount {0};
    // Set by a resume from sleep and by the logon component; read by the radio monitor.
    std::atomic<int32_t> BleRestartRequested {0};
    std::array<uint8_t, kBleStatusSize> BleStatus {};

private:
    // One diagnostic line per step whose subsystem is not in this build.
    void ReportUnwiredHooks();
    void StartService();
    void StopSequence();
    void SetState(uint32_t state);
    void ReportStatus();

    Platform& m_platform;
    ServiceHooks m_hooks;
    Configuration m_config;
    std::mutex m_statusMutex;
};

}  // namespace corvane
