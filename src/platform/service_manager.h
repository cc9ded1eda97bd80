// The service control manager's database, as the install and uninstall verbs use it: open the
// manager, open, create, reconfigure, stop and delete a service. Handles are opaque; 0 is none.
// Every call returns 0 or a Windows error code. On Windows this is the service control manager;
// on POSIX the service is a systemd unit under the state root.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

using ScHandle = uintptr_t;  // 0 = none

// Access rights and values of the service configuration.
namespace ScAccess {
constexpr uint32_t ManagerAllAccess = 0xF003F;  // SC_MANAGER_ALL_ACCESS
// Standard rights plus query and change configuration, query status, enumerate dependents,
// start and stop.
constexpr uint32_t ServiceInstall = 0xF003F;
constexpr uint32_t ServiceAllAccess = 0xF01FF;  // SERVICE_ALL_ACCESS
constexpr uint32_t ServiceStop = 0x0020;        // SERVICE_STOP
constexpr uint32_t Delete = 0x10000;            // DELETE
}  // namespace ScAccess

namespace ScStart {
constexpr uint32_t AutoStart = 2;    // SERVICE_AUTO_START
constexpr uint32_t DemandStart = 3;  // SERVICE_DEMAND_START
}  // namespace ScStart

namespace ScErrorControl {
constexpr uint32_t Normal = 1;  // SERVICE_ERROR_NORMAL
}  // namespace ScErrorControl

// The configuration that the install verb registers. The account is always LocalSystem (no
// account name, no password) and the service depends on nothing. A new service gets no load
// order group; an updated one gets the empty group.
struct ServiceConfig {
    std::u16string serviceName;  // used by CreateService only
    std::u16string displayName;
    uint32_t serviceType = 0;
    uint32_t startType = 0;
    uint32_t errorControl = 0;
    // The program path. A path with a blank is registered between double quotes (an unquoted one
    // would let the manager run "C:\\Program.exe" first); a path without one as given.
    std::u16string binaryPath;
};

class IServiceManager {
public:
    virtual ~IServiceManager() = default;
    // OpenSCManagerW on the local machine's active database.
    virtual uint32_t OpenManager(uint32_t access, ScHandle& manager) = 0;
    // OpenServiceW: 1060 (ERROR_SERVICE_DOES_NOT_EXIST) when there is no such service.
    virtual uint32_t OpenService(ScHandle manager, std::u16string_view name, uint32_t access, ScHandle& service) = 0;
    // CreateServiceW with the configuration.
    virtual uint32_t CreateService(ScHandle manager, const ServiceConfig& config, uint32_t access,
                                   ScHandle& service) = 0;
    // ChangeServiceConfigW: type, start type, error control, binary path, empty load order
    // group, no tag, empty dependencies, account and password unchanged, display name.
    virtual uint32_t ChangeServiceConfig(ScHandle service, const ServiceConfig& config) = 0;
    // ChangeServiceConfig2W(SERVICE_CONFIG_DESCRIPTION).
    virtual uint32_t ChangeServiceDescription(ScHandle service, std::u16string_view description) = 0;
    // ControlService; the stop is requested, not waited for.
    virtual uint32_t ControlService(ScHandle service, uint32_t control) = 0;
    // DeleteService: the service is removed once it has stopped.
    virtual uint32_t DeleteService(ScHandle service) = 0;
    virtual void CloseServiceHandle(ScHandle handle) = 0;
};

}  // namespace corvane
