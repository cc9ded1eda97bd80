// The session seam on POSIX: the service's view of the simulated session manager. Queries read
// the simulated sessions; the service's own disconnect and log off are checked at once and then
// carried out on a worker of their own, so that their notifications reach the service
// asynchronously, as Windows delivers them, never from inside the caller.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/diagnostic_log.h"
#include "platform/posix/sim_session_manager.h"
#include "platform/posix/state_root.h"
#include "platform/sessions.h"

namespace corvane::posix {

// Where the simulated session manager keeps its state under the state root.
std::string SimSessionDirectory(const StateRoot& root);
// Delivers each notification as a session-change control on the service's control socket;
// a service that is not running misses it, as a stopped service does on Windows.
SimNotify NotifyServiceBySocket(std::string controlSocketPath);

// A program that the simulated machine starts at each idle probe, as Windows starts
// "UserIdleTime.exe" in the user's session, and waits for at most `waitMs` before it ends it. The
// idle time still comes from the simulated session (an exit status cannot carry it here); the
// program only makes the probe take as long as a real one, or hang as a broken one would. The
// service never sets one; tests do.
struct PosixIdleProgram {
    std::string path;
    uint32_t waitMs = kIdleProgramWaitMilliseconds;
};

class PosixSessions final : public ISessions {
public:
    PosixSessions(std::string simDirectory, IClock& clock, SimNotify notify, DiagnosticLog* diagnostics,
                  PosixIdleProgram idleProgram = {});
    ~PosixSessions() override;  // carries out the queued changes, then ends the worker
    PosixSessions(const PosixSessions&) = delete;
    PosixSessions& operator=(const PosixSessions&) = delete;

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

    SimSessionManager& Manager() { return m_manager; }
    // Blocks until every change the service has asked for has been made and announced.
    void WaitIdle();

    // Simulated processes: each user session runs one process of its user, numbered from here.
    static constexpr uint32_t kFirstProcessId = 10000;

private:
    uint32_t ReadSession(uint32_t sessionId, SimState& state, const SimSession*& session);
    void Enqueue(std::function<void()> change);
    void WorkerLoop();
    // Starts the idle program and waits for it within its bound: 0, or kIdleProgramTimedOut
    // after ending one that hung, or the error of starting it.
    uint32_t RunProgram();

    SimSessionManager m_manager;
    IClock& m_clock;
    DiagnosticLog* m_pDiagnostics;
    PosixIdleProgram m_idleProgram;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_queue;  // guarded by m_mutex
    bool m_bBusy = false;                       // guarded by m_mutex
    bool m_bStop = false;                       // guarded by m_mutex
    std::thread m_worker;                       // started with the first change
};

}  // namespace corvane::posix
