#include "support/fake_service_manager.h"

#include "platform/text.h"
#include "platform/types.h"

namespace corvane::test {

namespace {
constexpr uint32_t kErrorServiceExists = 1073;
}

uint32_t FakeServiceManager::OpenManager(uint32_t, ScHandle& manager) {
    std::lock_guard<std::mutex> lock(m_mutex);
    manager = 0;
    if (openManagerError) return openManagerError;
    manager = m_nextHandle++;
    m_handles[manager] = u"";
    return 0;
}

uint32_t FakeServiceManager::OpenService(ScHandle manager, std::u16string_view name, uint32_t access,
                                         ScHandle& service) {
    std::lock_guard<std::mutex> lock(m_mutex);
    service = 0;
    m_openAccess.push_back(access);
    auto it = m_handles.find(manager);
    if (it == m_handles.end() || !it->second.empty()) return WinError::InvalidHandle;
    const std::u16string key = ToUpper(name);
    if (!m_services.count(key)) return WinError::ServiceDoesNotExist;
    if (openServiceError) return openServiceError;
    service = m_nextHandle++;
    m_handles[service] = key;
    return 0;
}

uint32_t FakeServiceManager::CreateService(ScHandle manager, const ServiceConfig& config, uint32_t,
                                           ScHandle& service) {
    std::lock_guard<std::mutex> lock(m_mutex);
    service = 0;
    auto it = m_handles.find(manager);
    if (it == m_handles.end() || !it->second.empty()) return WinError::InvalidHandle;
    if (createError) return createError;
    const std::u16string key = ToUpper(config.serviceName);
    if (m_services.count(key)) return kErrorServiceExists;
    m_services[key].config = config;
    service = m_nextHandle++;
    m_handles[service] = key;
    return 0;
}

uint32_t FakeServiceManager::ChangeServiceConfig(ScHandle service, const ServiceConfig& config) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_handles.find(service);
    if (it == m_handles.end() || it->second.empty() || !m_services.count(it->second)) return WinError::InvalidHandle;
    if (changeConfigError) return changeConfigError;
    ServiceConfig& stored = m_services[it->second].config;
    const std::u16string name = stored.serviceName;  // the name cannot change
    stored = config;
    stored.serviceName = name;
    return 0;
}

uint32_t FakeServiceManager::ChangeServiceDescription(ScHandle service, std::u16string_view description) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_handles.find(service);
    if (it == m_handles.end() || it->second.empty() || !m_services.count(it->second)) return WinError::InvalidHandle;
    if (describeError) return describeError;
    m_services[it->second].description = std::u16string(description);
    return 0;
}

uint32_t FakeServiceManager::ControlService(ScHandle service, uint32_t control) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_handles.find(service);
    if (it == m_handles.end() || it->second.empty() || !m_services.count(it->second)) return WinError::InvalidHandle;
    m_services[it->second].controls.push_back(control);
    return 0;
}

uint32_t FakeServiceManager::DeleteService(ScHandle service) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_handles.find(service);
    if (it == m_handles.end() || it->second.empty() || !m_services.count(it->second)) return WinError::InvalidHandle;
    if (deleteError) return deleteError;
    m_services.erase(it->second);
    return 0;
}

void FakeServiceManager::CloseServiceHandle(ScHandle handle) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handles.erase(handle);
}

void FakeServiceManager::Add(const ServiceConfig& config, std::u16string description) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Service& service = m_services[ToUpper(config.serviceName)];
    service.config = config;
    service.description = std::move(description);
}

std::optional<FakeServiceManager::Service> FakeServiceManager::Find(std::u16string_view name) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_services.find(ToUpper(name));
    if (it == m_services.end()) return std::nullopt;
    return it->second;
}

size_t FakeServiceManager::OpenHandles() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_handles.size();
}

std::vector<uint32_t> FakeServiceManager::OpenServiceAccess() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_openAccess;
}

}  // namespace corvane::test
