// The service control manager's side of a running service: the dispatcher, the control handler
// registration, status reports and device-interface notifications.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace corvane {

using ServiceStatusHandle = uintptr_t;  // 0 = none

// HandlerEx: control code, event type, event data (a WtsSessionNotification for session changes).
using ServiceControlHandler = std::function<uint32_t(uint32_t control, uint32_t eventType, void* eventData)>;
// A question about what the running service knows ("devices", "sessions"): true with the answer's
// lines, false for a question the service does not know.
using ServiceQueryHandler = std::function<bool(std::string_view question, std::vector<std::string>& lines)>;

class IServiceHost {
public:
    virtual ~IServiceHost() = default;
    // Before anything of the service runs: 0 when this process may run the service, or 1056
    // (ERROR_SERVICE_ALREADY_RUNNING) when it already runs. The claim lasts as long as the
    // process. (The service control manager never starts a service twice, so on Windows this is
    // always 0; where starting the program is the start, the claim is what refuses a second one.)
    virtual uint32_t ClaimServiceInstance(std::u16string_view serviceName) = 0;
    // StartServiceCtrlDispatcherW with one entry. Blocks until the service has stopped; false when
    // the process was not started by the service control manager.
    virtual bool StartServiceCtrlDispatcher(std::u16string_view serviceName, std::function<void()> serviceMain) = 0;
    // RegisterServiceCtrlHandlerExW; 0 on failure.
    virtual ServiceStatusHandle RegisterServiceCtrlHandlerEx(std::u16string_view serviceName,
                                                             ServiceControlHandler handler) = 0;
    virtual bool SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) = 0;
    // RegisterDeviceNotificationW for the volume device-interface class on the status handle.
    virtual bool RegisterDeviceNotification(ServiceStatusHandle handle) = 0;
    // Where a control tool asks what the service knows. Windows has no such channel (its tools
    // read the service through the stream channel), so by default the handler is not used.
    virtual void SetQueryHandler(ServiceQueryHandler handler) { (void)handler; }
};

}  // namespace corvane
