// The service control manager's side on POSIX. Running the program is the POSIX form of being
// started by the manager: the dispatcher succeeds and runs ServiceMain on a thread of its own,
// while the calling thread serves controls, as the dispatcher thread does on Windows. SIGTERM and
// SIGINT deliver SERVICE_CONTROL_STOP; SIGHUP (log rotation) leaves the service running; every
// other control arrives on the control socket.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "platform/service_host.h"

namespace corvane::posix {

class PosixServiceHost final : public IServiceHost {
public:
    // `instanceLockPath`: the file whose lock marks the state root as served by a running
    // service (empty: no claim is made).
    PosixServiceHost(std::string controlSocketPath, std::string instanceLockPath);
    ~PosixServiceHost() override;

    // An exclusive lock on the instance lock file, held until the process ends: a second start
    // on the same state root gets 1056, whatever network namespace it runs in. A lock file that
    // cannot be created (a state root that cannot be written) is reported and no claim is made.
    uint32_t ClaimServiceInstance(std::u16string_view serviceName) override;

    bool StartServiceCtrlDispatcher(std::u16string_view serviceName, std::function<void()> serviceMain) override;
    ServiceStatusHandle RegisterServiceCtrlHandlerEx(std::u16string_view serviceName,
                                                     ServiceControlHandler handler) override;
    bool SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) override;
    bool RegisterDeviceNotification(ServiceStatusHandle handle) override;
    // Questions arrive on the control socket beside the controls and are answered on the same
    // thread.
    void SetQueryHandler(ServiceQueryHandler handler) override;

    uint32_t ReportedState() const { return m_state.load(); }
    // Runs as the dispatcher starts, before ServiceMain: what the backend starts only for a
    // running service (and not for a verb or a refused second start).
    void SetDispatcherStartHook(std::function<void()> hook) { m_startHook = std::move(hook); }

private:
    uint32_t Deliver(uint32_t control, uint32_t eventType, uint32_t sessionId);
    static void NotifySystemd(uint32_t state);
    int OpenControlSocket();
    void ServeConnection(int fd);
    std::string Answer(const std::string& question);

    std::string m_socketPath;
    std::string m_instanceLockPath;
    int m_instanceLockFd = -1;
    std::mutex m_mutex;
    ServiceControlHandler m_handler;  // guarded by m_mutex
    ServiceQueryHandler m_queryHandler;  // guarded by m_mutex
    std::atomic<uint32_t> m_state {0};
    std::function<void()> m_startHook;
};

}  // namespace corvane::posix
