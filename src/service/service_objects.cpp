#include "service/service_objects.h"

#include "audit/audit_database.h"
#include "audit/audit_log.h"
#include "device/device_map.h"
#include "service/service_install.h"
#include "session/event_log.h"
#include "session/session_actions.h"
#include "session/session_monitor.h"
#include "session/session_records.h"

namespace corvane {

CServiceObjects::CServiceObjects(Platform& platform)
    : m_platform(platform), m_texts(platform.system->GetUserDefaultUILanguage(), *platform.systemMessages) {}

CServiceObjects::~CServiceObjects() = default;

void CServiceObjects::Wire(CCorvaneApp& app) {
    ServiceHooks& hooks = app.Hooks();
    Configuration& config = app.Config();
    m_pEventLog = std::make_unique<CEventLog>(m_platform);
    m_pAuditDb = std::make_unique<CAuditDatabase>(m_platform);
    m_pAuditLog = std::make_unique<CAuditLog>(*m_pAuditDb, *m_platform.clock, config);
    m_pDevices = std::make_unique<DeviceMap>(config);
    m_pSessionRecords = std::make_unique<CSessionRecords>(*m_pEventLog, *m_pAuditLog, config);
    m_pSessionMonitor = std::make_unique<CSessionMonitor>(m_platform, config, *m_pDevices, *m_pSessionRecords);
    m_pSessionActions = std::make_unique<CSessionActions>(m_platform, *m_pSessionRecords);

    // Installation verbs.
    hooks.InstallService = [this] {
        return InstallService(m_platform, m_texts.GetText(TextId::ServiceDescription, u""));
    };
    hooks.UninstallService = [this] { return UninstallService(m_platform); };
    // Configuration: LoadHostKey.
    // Workers started by RunService: InitP11, LoadBleLibrary, DatagramThread, StreamListenerThread,
    // RadioMonitorThread.
    hooks.EnumerateSessions = [this] { return m_pSessionMonitor->EnumerateSessions(); };
    // Control handler.
    hooks.OnSessionChange = [this](uint32_t eventType, const WtsSessionNotification* notification) {
        m_pSessionMonitor->OnSessionChange(eventType, notification);
    };
    // Stop sequence: SendStatusNotification, FinP11, BleLibraryLoaded, StopBle.
    hooks.RequestStopDevices = [this] { m_pDevices->ForEach([](CDevTovrel& device) { device.RequestStop(); }); };
    // ExitInstance: FreeNetworkDevices.
    hooks.FreeDeviceMap = [this] { m_pDevices->Clear(); };
    hooks.FreeSessionTable = [this] { m_pSessionMonitor->FreeSessionTable(); };
}

}  // namespace corvane
