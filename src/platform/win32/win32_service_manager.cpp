#include "platform/win32/win32_service_manager.h"

#include "platform/win32/win32_api.h"

#include <string>

#include "platform/win32/win32_text.h"

namespace corvane::win32 {

namespace {
SC_HANDLE Native(ScHandle handle) { return reinterpret_cast<SC_HANDLE>(handle); }
ScHandle Portable(SC_HANDLE handle) { return reinterpret_cast<ScHandle>(handle); }
// An empty dependency list: one empty string, ended by a second NUL.
constexpr wchar_t kNoDependencies[] = L"\0";
}  // namespace

std::u16string Win32ServiceManager::CommandLineForPath(std::u16string_view path) {
    const bool quoted = path.size() >= 2 && path.front() == u'"' && path.back() == u'"';
    if (quoted || path.find(u' ') == std::u16string_view::npos) return std::u16string(path);
    return u"\"" + std::u16string(path) + u"\"";
}

uint32_t Win32ServiceManager::OpenManager(uint32_t access, ScHandle& manager) {
    SC_HANDLE handle = ::OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, access);
    manager = Portable(handle);
    return handle ? 0 : ::GetLastError();
}

uint32_t Win32ServiceManager::OpenService(ScHandle manager, std::u16string_view name, uint32_t access,
                                          ScHandle& service) {
    const std::wstring wideName = Wide(name);
    SC_HANDLE handle = ::OpenServiceW(Native(manager), wideName.c_str(), access);
    service = Portable(handle);
    return handle ? 0 : ::GetLastError();
}

uint32_t Win32ServiceManager::CreateService(ScHandle manager, const ServiceConfig& config, uint32_t access,
                                            ScHandle& service) {
    const std::wstring name = Wide(config.serviceName);
    const std::wstring displayName = Wide(config.displayName);
    const std::wstring path = Wide(CommandLineForPath(config.binaryPath));
    // No load order group, no tag, no dependencies, LocalSystem (no account, no password).
    SC_HANDLE handle = ::CreateServiceW(Native(manager), name.c_str(), displayName.c_str(), access,
                                        config.serviceType, config.startType, config.errorControl, path.c_str(),
                                        nullptr, nullptr, kNoDependencies, nullptr, nullptr);
    service = Portable(handle);
    return handle ? 0 : ::GetLastError();
}

uint32_t Win32ServiceManager::ChangeServiceConfig(ScHandle service, const ServiceConfig& config) {
    const std::wstring displayName = Wide(config.displayName);
    const std::wstring path = Wide(CommandLineForPath(config.binaryPath));
    // The empty load order group, no tag, empty dependencies, account and password unchanged.
    const BOOL ok = ::ChangeServiceConfigW(Native(service), config.serviceType, config.startType,
                                           config.errorControl, path.c_str(), L"", nullptr, kNoDependencies,
                                           nullptr, nullptr, displayName.c_str());
    return ok ? 0 : ::GetLastError();
}

uint32_t Win32ServiceManager::ChangeServiceDescription(ScHandle service, std::u16string_view description) {
    std::wstring text = Wide(description);
    SERVICE_DESCRIPTIONW info;
    info.lpDescription = text.data();
    return ::ChangeServiceConfig2W(Native(service), SERVICE_CONFIG_DESCRIPTION, &info) ? 0 : ::GetLastError();
}

uint32_t Win32ServiceManager::ControlService(ScHandle service, uint32_t control) {
    SERVICE_STATUS status {};
    return ::ControlService(Native(service), control, &status) ? 0 : ::GetLastError();
}

uint32_t Win32ServiceManager::DeleteService(ScHandle service) {
    return ::DeleteService(Native(service)) ? 0 : ::GetLastError();
}

void Win32ServiceManager::CloseServiceHandle(ScHandle handle) {
    if (handle) ::CloseServiceHandle(Native(handle));
}

}  // namespace corvane::win32
