// The service control manager on POSIX: an installed service is a systemd unit,
// <root>/etc/systemd/system/<name in lower case>.service, enabled for multi-user.target when it
// starts automatically. Stopping goes through the running service's control socket. systemd is
// told to reload only where it runs and the units are its own (state root "/").
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/posix/state_root.h"
#include "platform/service_manager.h"

namespace corvane::posix {

class PosixServiceManager final : public IServiceManager {
public:
    explicit PosixServiceManager(StateRoot root);

    uint32_t OpenManager(uint32_t access, ScHandle& manager) override;
    uint32_t OpenService(ScHandle manager, std::u16string_view name, uint32_t access, ScHandle& service) override;
    uint32_t CreateService(ScHandle manager, const ServiceConfig& config, uint32_t access, ScHandle& service) override;
    uint32_t ChangeServiceConfig(ScHandle service, const ServiceConfig& config) override;
    uint32_t ChangeServiceDescription(ScHandle service, std::u16string_view description) override;
    uint32_t ControlService(ScHandle service, uint32_t control) override;
    uint32_t DeleteService(ScHandle service) override;
    void CloseServiceHandle(ScHandle handle) override;

    std::string UnitDir() const { return m_root.Path("etc/systemd/system"); }
    std::string UnitPath(std::u16string_view serviceName) const;
    std::string WantsLinkPath(std::u16string_view serviceName) const;

    // The unit file for a configuration; descriptionLine is the "Description=" line to keep, or
    // empty for a new unit (which is described by its display name until a description is set).
    std::string FormatUnit(const ServiceConfig& config, const std::string& descriptionLine) const;
    // The text with its "Description=" line replaced.
    static std::string ReplaceDescription(const std::string& unit, const std::string& description);
    // Quotes a word for a unit file line: double quotes, backslash escapes, and "%" (and, for
    // command lines, "$") doubled so that systemd takes them literally.
    static std::string QuoteUnitWord(const std::string& word, bool commandLine);

private:
    struct Entry {
        bool isManager = false;
        std::u16string serviceName;
    };
    // The service name of a service handle, or false.
    bool ServiceOf(ScHandle handle, std::u16string& name);
    uint32_t ReadUnit(std::u16string_view serviceName, std::string& text) const;
    uint32_t WriteUnit(std::u16string_view serviceName, const std::string& text);
    // Enables the unit for multi-user.target when it starts automatically, disables it otherwise.
    uint32_t ChangeStartType(std::u16string_view serviceName, uint32_t startType);
    void ReloadSystemd() const;

    StateRoot m_root;
    std::mutex m_mutex;
    std::map<ScHandle, Entry> m_handles;
    ScHandle m_nextHandle = 0x100;
};

}  // namespace corvane::posix
