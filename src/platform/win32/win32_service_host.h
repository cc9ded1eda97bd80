// The service control manager's side on Windows: StartServiceCtrlDispatcherW,
// RegisterServiceCtrlHandlerExW, SetServiceStatus and the volume device-interface notification.
#pragma once

#include <mutex>

#include "platform/service_host.h"

namespace corvane::win32 {

class Win32ServiceHost final : public IServiceHost {
public:
    // The service control manager never starts a running service again: always 0.
    uint32_t ClaimServiceInstance(std::u16string_view serviceName) override { return 0; }
    bool StartServiceCtrlDispatcher(std::u16string_view serviceName, std::function<void()> serviceMain) override;
    ServiceStatusHandle RegisterServiceCtrlHandlerEx(std::u16string_view serviceName,
                                                     ServiceControlHandler handler) override;
    bool SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) override;
    bool RegisterDeviceNotification(ServiceStatusHandle handle) override;

    // Called by the manager on the dispatcher's thread.
    void RunServiceMain();
    uint32_t HandleControl(uint32_t control, uint32_t eventType, void* eventData);

private:
    std::function<void()> m_serviceMain;
    std::mutex m_mutex;
    ServiceControlHandler m_handler;  // guarded by m_mutex
};

}  // namespace corvane::win32
