#include "platform/win32/win32_service_host.h"

#include "platform/win32/win32_api.h"
#include <dbt.h>
#include <wtsapi32.h>

#include <atomic>
#include <string>

#include "platform/win32/win32_text.h"

namespace corvane::win32 {

namespace {

// The service main function the manager calls has no context argument: the host that started
// the dispatcher is reachable from it only through this pointer, which is set for exactly as
// long as StartServiceCtrlDispatcher runs.
std::atomic<Win32ServiceHost*> g_pDispatchingHost {nullptr};

void WINAPI ServiceMainEntry(DWORD, LPWSTR*) {
    if (Win32ServiceHost* host = g_pDispatchingHost.load()) host->RunServiceMain();
}

DWORD WINAPI HandlerEntry(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context) {
    return static_cast<Win32ServiceHost*>(context)->HandleControl(control, eventType, eventData);
}

// {53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}
constexpr GUID kGuidDevInterfaceVolume = {0x53F5630D, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

}  // namespace

bool Win32ServiceHost::StartServiceCtrlDispatcher(std::u16string_view serviceName,
                                                  std::function<void()> serviceMain) {
    Win32ServiceHost* expected = nullptr;
    if (!g_pDispatchingHost.compare_exchange_strong(expected, this)) return false;  // one dispatcher per process
    m_serviceMain = std::move(serviceMain);
    std::wstring name = Wide(serviceName);
    SERVICE_TABLE_ENTRYW table[] = {{name.data(), ServiceMainEntry}, {nullptr, nullptr}};
    const BOOL ok = ::StartServiceCtrlDispatcherW(table);
    g_pDispatchingHost.store(nullptr);
    return ok != FALSE;
}

void Win32ServiceHost::RunServiceMain() {
    if (m_serviceMain) m_serviceMain();
}

ServiceStatusHandle Win32ServiceHost::RegisterServiceCtrlHandlerEx(std::u16string_view serviceName,
                                                                   ServiceControlHandler handler) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_handler = std::move(handler);
    }
    const std::wstring name = Wide(serviceName);
    SERVICE_STATUS_HANDLE handle = ::RegisterServiceCtrlHandlerExW(name.c_str(), HandlerEntry, this);
    return reinterpret_cast<ServiceStatusHandle>(handle);
}

uint32_t Win32ServiceHost::HandleControl(uint32_t control, uint32_t eventType, void* eventData) {
    ServiceControlHandler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        handler = m_handler;
    }
    if (!handler) return ERROR_CALL_NOT_IMPLEMENTED;
    if (control == SERVICE_CONTROL_SESSIONCHANGE) {
        // The core reads the session notification in its own portable form.
        WtsSessionNotification notification;
        if (eventData) notification.dwSessionId = static_cast<const WTSSESSION_NOTIFICATION*>(eventData)->dwSessionId;
        return handler(control, eventType, &notification);
    }
    return handler(control, eventType, nullptr);
}

bool Win32ServiceHost::SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) {
    if (handle == 0) return false;
    SERVICE_STATUS native {};
    native.dwServiceType = status.dwServiceType;
    native.dwCurrentState = status.dwCurrentState;
    native.dwControlsAccepted = status.dwControlsAccepted;
    native.dwWin32ExitCode = status.dwWin32ExitCode;
    native.dwServiceSpecificExitCode = status.dwServiceSpecificExitCode;
    native.dwCheckPoint = status.dwCheckPoint;
    native.dwWaitHint = status.dwWaitHint;
    return ::SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(handle), &native) != FALSE;
}

bool Win32ServiceHost::RegisterDeviceNotification(ServiceStatusHandle handle) {
    if (handle == 0) return false;
    static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) >= 32, "the filter is registered with size 32");
    DEV_BROADCAST_DEVICEINTERFACE_W filter {};
    filter.dbcc_size = 32;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kGuidDevInterfaceVolume;
    // The notification handle is not kept: device events are accepted and ignored.
    return ::RegisterDeviceNotificationW(reinterpret_cast<HANDLE>(handle), &filter, DEVICE_NOTIFY_SERVICE_HANDLE) !=
           nullptr;
}

}  // namespace corvane::win32
