#include "service/service_install.h"

#include "platform/service_manager.h"
#include "service/service_names.h"

namespace corvane {

namespace {

// Closes a service control manager handle when the verb returns, whichever way it returns.
class CScHandle {
public:
    explicit CScHandle(IServiceManager& manager) : m_manager(manager) {}
    ~CScHandle() {
        if (m_hHandle) m_manager.CloseServiceHandle(m_hHandle);
    }
    CScHandle(const CScHandle&) = delete;
    CScHandle& operator=(const CScHandle&) = delete;
    ScHandle& Ref() { return m_hHandle; }
    ScHandle Get() const { return m_hHandle; }

private:
    IServiceManager& m_manager;
    ScHandle m_hHandle = 0;
};

void Fail(Platform& platform, std::u16string_view text, const char* reason, uint32_t error) {
    if (platform.diagnostics) platform.diagnostics->Writef("%s (error %u)", reason, error);
    platform.system->ShowMessage(text, kMessageCaption);
}

}  // namespace

int InstallService(Platform& platform, std::u16string_view description) {
    std::u16string strPath;
    if (uint32_t rc = platform.system->GetModuleFileName(strPath)) {
        // Registering a wrong binary path would leave a service that cannot start.
        Fail(platform, kMsgCannotOpenCreate, "the program path is unknown", rc);
        return 0;
    }

    IServiceManager* pManager = platform.serviceManager;
    if (!pManager) {
        Fail(platform, kMsgCannotOpenManager, "there is no service manager", WinError::NotSupported);
        return 0;
    }
    CScHandle hManager(*pManager);
    if (uint32_t rc = pManager->OpenManager(ScAccess::ManagerAllAccess, hManager.Ref())) {
        Fail(platform, kMsgCannotOpenManager, "the service manager cannot be opened", rc);
        return 0;
    }

    ServiceConfig config;
    config.serviceName = std::u16string(kServiceName);
    config.displayName = std::u16string(kServiceDisplayName);
    config.serviceType = Svc::Win32OwnProcessInteractive;
    config.startType = ScStart::AutoStart;
    config.errorControl = ScErrorControl::Normal;
    config.binaryPath = strPath;

    CScHandle hService(*pManager);
    const uint32_t openRc =
        pManager->OpenService(hManager.Get(), kServiceName, ScAccess::ServiceInstall, hService.Ref());
    if (openRc == 0) {
        if (uint32_t rc = pManager->ChangeServiceConfig(hService.Get(), config)) {
            Fail(platform, kMsgCannotUpdate, "the service configuration cannot be changed", rc);
            return 0;
        }
    } else {
        const uint32_t rc = pManager->CreateService(hManager.Get(), config, ScAccess::ServiceAllAccess, hService.Ref());
        if (rc != 0 || hService.Get() == 0) {
            Fail(platform, kMsgCannotOpenCreate, "the service cannot be created", rc ? rc : openRc);
            return 0;
        }
    }

    // The description is a courtesy to the administrator; a failure does not undo the install.
    if (uint32_t rc = pManager->ChangeServiceDescription(hService.Get(), description)) {
        if (platform.diagnostics) {
            platform.diagnostics->Writef("the service description cannot be set (error %u)", rc);
        }
    }
    return 1;
}

int UninstallService(Platform& platform) {
    IServiceManager* pManager = platform.serviceManager;
    if (!pManager) {
        Fail(platform, kMsgCannotOpenManager, "there is no service manager", WinError::NotSupported);
        return 0;
    }
    CScHandle hManager(*pManager);
    if (uint32_t rc = pManager->OpenManager(ScAccess::ManagerAllAccess, hManager.Ref())) {
        Fail(platform, kMsgCannotOpenManager, "the service manager cannot be opened", rc);
        return 0;
    }
    CScHandle hService(*pManager);
    if (uint32_t rc = pManager->OpenService(hManager.Get(), kServiceName, ScAccess::ServiceStop | ScAccess::Delete,
                                            hService.Ref())) {
        Fail(platform, kMsgCannotOpenService, "the service cannot be opened", rc);
        return 0;
    }
    // The stop is requested and not waited for: the manager removes the service once it has
    // stopped.
    pManager->ControlService(hService.Get(), Svc::ControlStop);
    if (uint32_t rc = pManager->DeleteService(hService.Get())) {
        if (platform.diagnostics) platform.diagnostics->Writef("the service cannot be deleted (error %u)", rc);
        return 0;
    }
    return 1;
}

}  // namespace corvane
