// The session seam on a Linux desktop: the login manager's sessions (systemd-logind over the
// system bus, through sd-bus) seen as Windows sessions. Queries ask the login manager each time;
// the lock is a request to the session's screen locker, the log off ends the session, the
// shutdown powers the machine off (the login manager asks polkit). The idle probe reads the
// session's idle hint: a session that never sets it counts as active, so that a user who may be
// typing is never locked for idleness. Session changes and sleep arrive as signals, which a
// watcher turns into the service's session-change and power controls.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/diagnostic_log.h"
#include "platform/posix/logind_bus.h"
#include "platform/posix/logind_events.h"
#include "platform/posix/logind_watcher.h"
#include "platform/sessions.h"

typedef struct sd_bus sd_bus;

namespace corvane::posix {

class LogindSessions final : public ISessions {
public:
    // `krb5ConfPath`: where the machine's Kerberos configuration names its realm (the users'
    // domain when the machine has joined one). `notify` receives the controls for the service.
    LogindSessions(std::string krb5ConfPath, std::u16string computerName, IClock& clock, ControlNotify notify,
                   DiagnosticLog* diagnostics);
    ~LogindSessions() override;
    LogindSessions(const LogindSessions&) = delete;
    LogindSessions& operator=(const LogindSessions&) = delete;

    // Connects the watcher; controls flow from then on.
    void Start();

    uint32_t EnumerateSessions(std::vector<WtsSessionEntry>& out) override;
    uint32_t QuerySessionInfoEx(uint32_t sessionId, WtsInfoEx& out) override;
    uint32_t QuerySessionInfo(uint32_t sessionId) override;
    uint32_t QueryUserName(uint32_t sessionId, std::u16string& out) override;
    uint32_t QueryDomainName(uint32_t sessionId, std::u16string& out) override;
    uint32_t DisconnectSession(uint32_t sessionId) override;
    uint32_t LogoffSession(uint32_t sessionId) override;
    uint32_t FindUserProcess(uint32_t sessionId, std::u16string_view user, std::u16string_view domain,
                             uint32_t& processId) override;
    uint32_t TestUserToken(uint32_t sessionId) override;
    uint32_t RunIdleProgram(uint32_t processId, int32_t* exitCode) override;
    uint32_t EnumerateDomainTrusts(std::vector<DomainTrust>& out) override;
    void GetOsVersion(uint32_t& major, uint32_t& minor) override;
    uint32_t InitiateShutdown() override;

    // How long after a lock request the locker must have raised LockedHint before a diagnostic
    // line says the session stays open.
    static constexpr uint32_t kLockCheckMilliseconds = 3000;
    // Probed "processes": one per session, numbered from here.
    static constexpr uint32_t kFirstProcessId = 10000;

private:
    using SessionProps = LogindSessionProps;
    // The bus for calls, opened (again) when needed; null when there is none. Caller holds m_mutex.
    sd_bus* Bus();
    void DropBus();  // after a call failed because the bus went away
    // Runs the call on the bus, and once more on a fresh connection when the bus had gone away.
    // Caller holds m_mutex. The call's result: 0 or a negative errno.
    int WithBus(const std::function<int(sd_bus*)>& call);
    // Calls a method of the manager object with one string argument (PowerOff: none, and its
    // flag false); 0 or a Windows error.
    uint32_t CallManager(const char* method, const std::string& argument);
    uint32_t ReadSession(uint32_t sessionId, SessionProps& out);
    // 0 when the session exists and has a user; 7022 or 1008 (no user) otherwise.
    uint32_t CheckUserSession(uint32_t sessionId);
    std::string LogindId(uint32_t sessionId);  // empty when unknown
    uint32_t SessionIdOf(const std::string& logindId);
    std::u16string DomainOfUsers();
    void CheckLockedLater(uint32_t sessionId);

    std::string m_krb5ConfPath;
    std::u16string m_computerName;
    IClock& m_clock;
    DiagnosticLog* m_pDiagnostics;
    std::mutex m_mutex;
    sd_bus* m_bus = nullptr;                            // guarded by m_mutex
    std::map<std::string, uint32_t> m_idsByLogind;      // guarded by m_idMutex
    std::map<uint32_t, std::string> m_logindById;       // guarded by m_idMutex
    uint32_t m_nextMappedId = kFirstMappedSessionId;    // guarded by m_idMutex
    std::mutex m_idMutex;
    struct LockCheck {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::mutex m_checkMutex;
    std::vector<LockCheck> m_checks;  // lock checks started and not yet joined, guarded by m_checkMutex
    std::unique_ptr<LogindWatcher> m_watcher;
};

}  // namespace corvane::posix
