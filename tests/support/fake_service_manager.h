// The service control manager for tests: an in-memory database of services, every control that
// was sent, the handles still open, and a failure to inject for each call.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/service_manager.h"

namespace corvane::test {

class FakeServiceManager final : public IServiceManager {
public:
    struct Service {
        ServiceConfig config;
        std::u16string description;
        std::vector<uint32_t> controls;  // every control sent, in order
    };

    uint32_t OpenManager(uint32_t access, ScHandle& manager) override;
    uint32_t OpenService(ScHandle manager, std::u16string_view name, uint32_t access, ScHandle& service) override;
    uint32_t CreateService(ScHandle manager, const ServiceConfig& config, uint32_t access, ScHandle& service) override;
    uint32_t ChangeServiceConfig(ScHandle service, const ServiceConfig& config) override;
    uint32_t ChangeServiceDescription(ScHandle service, std::u16string_view description) override;
    uint32_t ControlService(ScHandle service, uint32_t control) override;
    uint32_t DeleteService(ScHandle service) override;
    void CloseServiceHandle(ScHandle handle) override;

    // Puts a service in the database, as an earlier install would have.
    void Add(const ServiceConfig& config, std::u16string description = {});
    std::optional<Service> Find(std::u16string_view name) const;
    size_t OpenHandles() const;
    // The access masks requested by OpenService, in order.
    std::vector<uint32_t> OpenServiceAccess() const;

    // Windows error codes to fail the calls with (0: succeed).
    uint32_t openManagerError = 0;
    uint32_t openServiceError = 0;  // for a service that exists
    uint32_t createError = 0;
    uint32_t changeConfigError = 0;
    uint32_t describeError = 0;
    uint32_t deleteError = 0;

private:
    mutable std::mutex m_mutex;
    std::map<std::u16string, Service> m_services;  // by name in upper case
    std::map<ScHandle, std::u16string> m_handles;  // manager handles map to ""
    std::vector<uint32_t> m_openAccess;
    ScHandle m_nextHandle = 0x10;
};

}  // namespace corvane::test
