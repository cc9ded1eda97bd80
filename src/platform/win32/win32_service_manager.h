// The service control manager: OpenSCManagerW, OpenServiceW, CreateServiceW,
// ChangeServiceConfigW, ChangeServiceConfig2W, ControlService, DeleteService.
#pragma once

#include <string>

#include "platform/service_manager.h"

namespace corvane::win32 {

class Win32ServiceManager final : public IServiceManager {
public:
    uint32_t OpenManager(uint32_t access, ScHandle& manager) override;
    uint32_t OpenService(ScHandle manager, std::u16string_view name, uint32_t access, ScHandle& service) override;
    uint32_t CreateService(ScHandle manager, const ServiceConfig& config, uint32_t access, ScHandle& service) override;
    uint32_t ChangeServiceConfig(ScHandle service, const ServiceConfig& config) override;
    uint32_t ChangeServiceDescription(ScHandle service, std::u16string_view description) override;
    uint32_t ControlService(ScHandle service, uint32_t control) override;
    uint32_t DeleteService(ScHandle service) override;
    void CloseServiceHandle(ScHandle handle) override;

    // The service's command line for a program path. A path with a blank is quoted: unquoted, the
    // manager would try "C:\Program.exe" first, a file that any user able to write to C:\ could
    // plant and have run as LocalSystem.
    static std::u16string CommandLineForPath(std::u16string_view path);
};

}  // namespace corvane::win32
