#include "support/fake_service_host.h"

#include <chrono>
#include <thread>

namespace corvane::test {

bool FakeServiceHost::StartServiceCtrlDispatcher(std::u16string_view serviceName, std::function<void()> serviceMain) {
    if (dispatcherFails) return false;
    dispatchedName = serviceName;
    std::thread main(std::move(serviceMain));
    main.join();
    return true;
}

ServiceStatusHandle FakeServiceHost::RegisterServiceCtrlHandlerEx(std::u16string_view, ServiceControlHandler handler) {
    if (registrationFails) return 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handler = std::move(handler);
    return 7;
}

bool FakeServiceHost::SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) {
    if (handle == 0) return false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_statuses.push_back(status);
    }
    m_changed.notify_all();
    return true;
}

bool FakeServiceHost::RegisterDeviceNotification(ServiceStatusHandle handle) {
    deviceNotificationRegistered = handle != 0;
    return deviceNotificationRegistered;
}

uint32_t FakeServiceHost::Control(uint32_t control, uint32_t eventType, uint32_t sessionId) {
    ServiceControlHandler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        handler = m_handler;
    }
    if (!handler) return 1061;
    WtsSessionNotification notification;
    notification.dwSessionId = sessionId;
    return handler(control, eventType, control == 14 ? &notification : nullptr);
}

bool FakeServiceHost::WaitForState(uint32_t state, int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (const auto& s : m_statuses) {
            if (s.dwCurrentState == state) return true;
        }
        return false;
    });
}

std::vector<uint32_t> FakeServiceHost::ReportedStates() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint32_t> states;
    for (const auto& s : m_statuses) states.push_back(s.dwCurrentState);
    return states;
}

ServiceStatus FakeServiceHost::LastStatus() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_statuses.empty() ? ServiceStatus {} : m_statuses.back();
}

}  // namespace corvane::test
