// The service control manager for tests: the dispatcher runs ServiceMain on a thread and returns
// when it has returned; tests deliver controls with Control() and read every status reported.
#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/service_host.h"

namespace corvane::test {

class FakeServiceHost final : public IServiceHost {
public:
    uint32_t ClaimServiceInstance(std::u16string_view) override {
        ++claims;
        return claimResult;
    }
    bool StartServiceCtrlDispatcher(std::u16string_view serviceName, std::function<void()> serviceMain) override;
    ServiceStatusHandle RegisterServiceCtrlHandlerEx(std::u16string_view serviceName,
                                                     ServiceControlHandler handler) override;
    bool SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) override;
    bool RegisterDeviceNotification(ServiceStatusHandle handle) override;
    void SetQueryHandler(ServiceQueryHandler handler) override { m_queryHandler = std::move(handler); }
    // Asks the registered question handler as a control tool would; false when none is set or
    // it does not know the question.
    bool Ask(std::string_view question, std::vector<std::string>& lines) {
        return m_queryHandler && m_queryHandler(question, lines);
    }

    // Delivers a control as the manager would (1061 when no handler is registered yet).
    uint32_t Control(uint32_t control, uint32_t eventType = 0, uint32_t sessionId = 0);
    // Waits (real time, bounded) until the given state has been reported.
    bool WaitForState(uint32_t state, int timeoutMs = 5000);
    std::vector<uint32_t> ReportedStates() const;
    ServiceStatus LastStatus() const;

    uint32_t claimResult = 0;           // 1056: the service already runs
    int claims = 0;
    bool dispatcherFails = false;       // as when started from a console
    bool registrationFails = false;
    bool deviceNotificationRegistered = false;
    std::u16string dispatchedName;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    ServiceControlHandler m_handler;
    ServiceQueryHandler m_queryHandler;
    std::vector<ServiceStatus> m_statuses;
};

}  // namespace corvane::test
