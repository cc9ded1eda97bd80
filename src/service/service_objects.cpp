#include "service/service_objects.h"

#include "service/service_install.h"

namespace corvane {

CServiceObjects::CServiceObjects(Platform& platform)
    : m_platform(platform), m_texts(platform.system->GetUserDefaultUILanguage(), *platform.systemMessages) {}

void CServiceObjects::Wire(CCorvaneApp& app) {
    ServiceHooks& hooks = app.Hooks();
    // Installation verbs.
    hooks.InstallService = [this] {
        return InstallService(m_platform, m_texts.GetText(TextId::ServiceDescription, u""));
    };
    hooks.UninstallService = [this] { return UninstallService(m_platform); };
    // Configuration: LoadHostKey.
    // Workers started by RunService: InitP11, LoadBleLibrary, DatagramThread, StreamListenerThread,
    // RadioMonitorThread, EnumerateSessions.
    // Control handler: OnSessionChange.
    // Stop sequence: SendStatusNotification, FinP11, RequestStopDevices, BleLibraryLoaded, StopBle.
    // ExitInstance: FreeNetworkDevices, FreeDeviceMap, FreeSessionTable.
}

}  // namespace corvane
