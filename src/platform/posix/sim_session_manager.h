// The simulated Windows session manager. Its sessions live in a file under the state root, so
// they outlive the service and are shared by the service and corvane-ctl; a file lock guards
// the file. Every change happens in the steps Windows takes, and each step's session-change
// notification is delivered (to the running service) before the next step begins, so the
// service sees the same intermediate states it would see on Windows. Changes are serialised
// machine-wide by a second lock that is held for a whole operation; readers take only the first.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/posix/sim_state.h"

namespace corvane::posix {

// Session-change codes as the simulated manager emits them (the values of WTSSESSION_NOTIFICATION).
namespace SimEvent {
constexpr uint32_t ConsoleConnect = 1;
constexpr uint32_t ConsoleDisconnect = 2;
constexpr uint32_t RemoteConnect = 3;
constexpr uint32_t RemoteDisconnect = 4;
constexpr uint32_t SessionLogon = 5;
constexpr uint32_t SessionLogoff = 6;
constexpr uint32_t SessionLock = 7;
constexpr uint32_t SessionUnlock = 8;
}  // namespace SimEvent

// Windows errors of the simulated manager.
namespace SimError {
constexpr uint32_t FileNotFound = 2;             // the program to start does not exist
constexpr uint32_t InvalidData = 13;            // the state file is damaged
constexpr uint32_t InvalidParameter = 87;
constexpr uint32_t ProcNotFound = 127;          // no process of that user in that session
constexpr uint32_t NoToken = 1008;              // no user logged on in the session
constexpr uint32_t NoLogonServers = 1311;       // no domain: the machine is in a workgroup
constexpr uint32_t InvalidState = 5023;         // the session is not in a state for this change
constexpr uint32_t WinStationNotFound = 7022;   // no such session
}  // namespace SimError

// Delivers one session-change control (code, session id) to the running service, if any.
using SimNotify = std::function<void(uint32_t eventType, uint32_t sessionId)>;

struct SimResult {
    uint32_t error = 0;
    std::string message;     // why it failed, for the control tool
    uint32_t sessionId = 0;  // the session a logon created
};

class SimSessionManager {
public:
    // `directory` holds the state file and its two locks; it is created on first use.
    SimSessionManager(std::string directory, IClock& clock, SimNotify notify);

    // Changes, as a user at the machine or a remote desktop client makes them. A logon of a user
    // whose session is disconnected reconnects that session (as Connect does) instead of
    // creating a second one; the result names it.
    SimResult Logon(std::string_view user, std::string_view domain, bool remote);
    SimResult Lock(uint32_t id);
    SimResult Unlock(uint32_t id);
    SimResult Disconnect(uint32_t id);
    // Reattaches a disconnected session: to the console or over remote desktop; SimDesktop::None
    // reattaches it where it was last.
    SimResult Connect(uint32_t id, int32_t desktop = SimDesktop::None);
    SimResult Logoff(uint32_t id);
    // Sets the time since the session's last input; a negative value makes the idle-time program
    // report that it cannot tell.
    SimResult SetIdle(uint32_t id, int64_t milliseconds);

    // The machine around the sessions.
    SimResult AddTrust(std::string_view netbios, std::string_view dns);
    SimResult ClearTrusts();
    SimResult SetOsVersion(uint32_t major, uint32_t minor);
    SimResult RecordShutdown();

    // The state as it is now (a fresh machine when there is no file yet). 0 or a Windows error.
    uint32_t Read(SimState& out);
    // Whether a session can be disconnected or logged off now (exists and has a user): 0 or an
    // error. The service checks this before it queues the change.
    uint32_t CheckUserSession(uint32_t id);

    const std::string& Directory() const { return m_directory; }

private:
    struct Notice {
        uint32_t eventType = 0;  // 0: nothing to deliver
        uint32_t sessionId = 0;
    };
    using Step = std::function<uint32_t(SimState& state, FileTime now, Notice& notice)>;

    // Runs the steps one by one under the change lock: each loads the state, changes it, saves
    // it and delivers its notice. Stops at the first step that fails.
    SimResult RunSteps(const std::vector<Step>& steps);
    // Runs a check on the current state under the change lock, then the steps it returns.
    SimResult Change(const std::function<SimResult(const SimState&, std::vector<Step>&)>& plan);
    // The steps that reattach the disconnected `session` (Connect's desktop argument): over remote
    // desktop it simply connects; on the console the present console session leaves first (a
    // logon screen ends, another user's session is locked and disconnected), then the session
    // connects at its lock screen and is unlocked.
    static void PlanReconnect(const SimState& state, const SimSession& session, int32_t desktop,
                              std::vector<Step>& steps);
    uint32_t LoadLocked(SimState& out);
    uint32_t SaveLocked(const SimState& state);

    std::string m_directory;
    std::string m_statePath;
    std::string m_stateLockPath;
    std::string m_changeLockPath;
    IClock& m_clock;
    SimNotify m_notify;
};

}  // namespace corvane::posix
