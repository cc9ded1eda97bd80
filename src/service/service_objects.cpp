#include "service/service_objects.h"

namespace corvane {

CServiceObjects::CServiceObjects(Platform& platform) : m_platform(platform) {}

void CServiceObjects::Wire(CCorvaneApp& app) {
    ServiceHooks& hooks = app.Hooks();
    (void)hooks;
    // Installation verbs: InstallService / UninstallService.
    // Configuration: LoadHostKey.
    // Workers started by RunService: InitP11, LoadBleLibrary, DatagramThread, StreamListenerThread,
    // RadioMonitorThread, EnumerateSessions.
    // Control handler: OnSessionChange.
    // Stop sequence: SendStatusNotification, FinP11, RequestStopDevices, BleLibraryLoaded, StopBle.
    // ExitInstance: FreeNetworkDevices, FreeDeviceMap, FreeSessionTable.
}

}  // namespace corvane
