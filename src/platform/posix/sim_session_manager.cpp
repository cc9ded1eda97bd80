#include "platform/posix/sim_session_manager.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/posix/state_root.h"
#include "platform/sessions.h"
#include "platform/text.h"

namespace corvane::posix {

namespace {
constexpr FileTime kTicksPerMillisecond = 10000;

// An exclusive lock on a lock file for one scope. Each holder opens the file itself, so two
// threads of one process exclude each other as two processes do.
class FileLock {
public:
    explicit FileLock(const std::string& path) {
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (m_fd < 0) return;
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(m_fd);
                m_fd = -1;
                return;
            }
        }
    }
    ~FileLock() {
        if (m_fd >= 0) ::close(m_fd);  // closing the last descriptor releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    int Error() const { return m_fd >= 0 ? 0 : (errno ? errno : EIO); }

private:
    int m_fd = -1;
};

bool SameName(std::string_view a, std::string_view b) { return EqualsNoCase(Utf8ToUtf16(a), Utf8ToUtf16(b)); }

bool HasUser(const SimSession& s) { return !s.user.empty(); }

// A new logon-screen session on the console.
uint32_t NewLogonScreen(SimState& state) {
    SimSession screen;
    screen.id = state.nextId++;
    screen.connectState = WtsConnectState::Connected;
    screen.flags = WtsSessionFlags::Unknown;
    screen.desktop = SimDesktop::Console;
    screen.station = "Console";
    state.sessions.push_back(screen);
    state.consoleId = screen.id;
    return screen.id;
}

// The session leaves its station: the state a disconnect leaves, on the console or remotely.
void MarkDisconnected(SimState& state, uint32_t id, FileTime now) {
    if (SimSession* s = state.Find(id)) {
        s->connectState = WtsConnectState::Disconnected;
        s->station.clear();
        s->disconnectTime = now;
    }
}

void RemoveSession(SimState& state, uint32_t id) {
    for (auto it = state.sessions.begin(); it != state.sessions.end(); ++it) {
        if (it->id == id) {
            state.sessions.erase(it);
            return;
        }
    }
}

// The session with a user, or the error the change reports.
SimResult RequireUserSession(const SimState& state, uint32_t id, const SimSession*& out) {
    out = state.Find(id);
    if (out == nullptr) return {SimError::WinStationNotFound, "no session " + std::to_string(id), 0};
    if (!HasUser(*out)) return {SimError::InvalidState, "session " + std::to_string(id) + " has no logged-on user", 0};
    return {};
}

std::string Describe(uint32_t id, const char* what) { return "session " + std::to_string(id) + " " + what; }
}  // namespace

SimSessionManager::SimSessionManager(std::string directory, IClock& clock, SimNotify notify)
    : m_directory(std::move(directory)),
      m_statePath(m_directory + "/sessions.state"),
      m_stateLockPath(m_directory + "/state.lock"),
      m_changeLockPath(m_directory + "/change.lock"),
      m_clock(clock),
      m_notify(std::move(notify)) {}

uint32_t SimSessionManager::LoadLocked(SimState& out) {
    const int fd = ::open(m_statePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) return ErrnoToWinError(errno);
        out = SimState::Fresh();
        return 0;
    }
    std::string text;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    auto parsed = ParseSimState(text);
    if (!parsed) return SimError::InvalidData;
    out = std::move(*parsed);
    return 0;
}

uint32_t SimSessionManager::SaveLocked(const SimState& state) {
    // The file is replaced by a rename, so a reader sees the old or the new state, never half.
    const std::string text = SerializeSimState(state);
    const std::string tmp = m_statePath + ".new";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return ErrnoToWinError(errno);
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int err = errno;
            ::close(fd);
            return ErrnoToWinError(err ? err : EIO);
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0 || ::rename(tmp.c_str(), m_statePath.c_str()) != 0) return ErrnoToWinError(errno);
    return 0;
}

uint32_t SimSessionManager::Read(SimState& out) {
    if (int err = MakeDirectories(m_directory, 0755)) return ErrnoToWinError(err);
    FileLock lock(m_stateLockPath);
    if (lock.Error()) return ErrnoToWinError(lock.Error());
    return LoadLocked(out);
}

uint32_t SimSessionManager::CheckUserSession(uint32_t id) {
    SimState state;
    if (uint32_t err = Read(state)) return err;
    const SimSession* session = nullptr;
    return RequireUserSession(state, id, session).error;
}

SimResult SimSessionManager::RunSteps(const std::vector<Step>& steps) {
    for (const auto& step : steps) {
        Notice notice;
        {
            FileLock lock(m_stateLockPath);
            if (lock.Error()) return {ErrnoToWinError(lock.Error()), "cannot lock the session state", 0};
            SimState state;
            if (uint32_t err = LoadLocked(state)) return {err, "the session state cannot be read", 0};
            if (uint32_t err = step(state, m_clock.GetSystemTimeAsFileTime(), notice)) return {err, "", 0};
            if (uint32_t err = SaveLocked(state)) return {err, "the session state cannot be written", 0};
        }
        // Delivered with the state lock free: the service reads the state while it handles it.
        if (notice.eventType != 0 && m_notify) m_notify(notice.eventType, notice.sessionId);
    }
    return {};
}

SimResult SimSessionManager::Change(const std::function<SimResult(const SimState&, std::vector<Step>&)>& plan) {
    if (int err = MakeDirectories(m_directory, 0755)) return {ErrnoToWinError(err), "cannot create " + m_directory, 0};
    FileLock change(m_changeLockPath);
    if (change.Error()) return {ErrnoToWinError(change.Error()), "cannot lock the session manager", 0};
    SimState snapshot;
    {
        FileLock lock(m_stateLockPath);
        if (uint32_t err = LoadLocked(snapshot)) return {err, "the session state cannot be read", 0};
    }
    std::vector<Step> steps;
    SimResult planned = plan(snapshot, steps);
    if (planned.error) return planned;
    SimResult ran = RunSteps(steps);
    if (ran.error) return ran;
    return planned;
}

SimResult SimSessionManager::Logon(std::string_view userIn, std::string_view domainIn, bool remote) {
    const std::string user(userIn), domain(domainIn);
    if (user.empty() || domain.empty() || user.size() > kSimMaxName || domain.size() > kSimMaxName) {
        return {SimError::InvalidParameter, "a logon needs a user and a domain", 0};
    }
    auto target = std::make_shared<uint32_t>(0);
    SimResult result = Change([&](const SimState& state, std::vector<Step>& steps) -> SimResult {
        for (const auto& s : state.sessions) {
            if (!HasUser(s) || !SameName(s.user, user) || !SameName(s.domain, domain)) continue;
            if (s.connectState == WtsConnectState::Disconnected) {
                // A user who signs in while their session is disconnected gets that session
                // back, here or over remote desktop, and no second one.
                *target = s.id;
                PlanReconnect(state, s, remote ? SimDesktop::Remote : SimDesktop::Console, steps);
                return {0, "", 0};
            }
            return {SimError::InvalidState,
                    domain + "\\" + user + " already has session " + std::to_string(s.id) + ", which is connected", 0};
        }
        auto signIn = [user, domain, target](SimState& st, FileTime now, Notice& n) -> uint32_t {
            SimSession* s = st.Find(*target);
            if (!s) return SimError::WinStationNotFound;
            s->user = user;
            s->domain = domain;
            s->connectState = WtsConnectState::Active;
            s->flags = WtsSessionFlags::Unlock;
            s->logonTime = s->connectTime = s->lastInputTime = now;
            s->idleKnown = true;
            n = {SimEvent::SessionLogon, s->id};
            return 0;
        };
        if (remote) {
            // The client connects first (logon UI, no user yet), then the user signs in.
            steps.push_back([target](SimState& st, FileTime now, Notice& n) -> uint32_t {
                SimSession s;
                s.id = *target = st.nextId++;
                s.connectState = WtsConnectState::Connected;
                s.flags = WtsSessionFlags::Unknown;
                s.desktop = SimDesktop::Remote;
                s.station = "RDP-Tcp#" + std::to_string(st.nextRdp++);
                s.connectTime = now;
                st.sessions.push_back(s);
                n = {SimEvent::RemoteConnect, s.id};
                return 0;
            });
            steps.push_back(signIn);
            return {0, "", 0};
        }
        const SimSession* console = state.Find(state.consoleId);
        if (console && HasUser(*console)) {
            // Switch user: the console user's session is locked and disconnected, and a new
            // logon screen takes the console.
            const uint32_t old = console->id;
            if (console->connectState == WtsConnectState::Active && console->flags == WtsSessionFlags::Unlock) {
                steps.push_back([old](SimState& st, FileTime, Notice& n) -> uint32_t {
                    if (SimSession* s = st.Find(old)) s->flags = WtsSessionFlags::Lock;
                    n = {SimEvent::SessionLock, old};
                    return 0;
                });
            }
            steps.push_back([old, target](SimState& st, FileTime now, Notice& n) -> uint32_t {
                MarkDisconnected(st, old, now);
                *target = NewLogonScreen(st);
                n = {SimEvent::ConsoleDisconnect, old};
                return 0;
            });
            steps.push_back([target](SimState&, FileTime, Notice& n) -> uint32_t {
                n = {SimEvent::ConsoleConnect, *target};
                return 0;
            });
        } else if (console) {
            *target = console->id;
        } else {
            steps.push_back([target](SimState& st, FileTime, Notice& n) -> uint32_t {
                *target = NewLogonScreen(st);
                n = {SimEvent::ConsoleConnect, *target};
                return 0;
            });
        }
        steps.push_back(signIn);
        return {0, "", 0};
    });
    if (result.error == 0) result.sessionId = *target;
    return result;
}

SimResult SimSessionManager::Lock(uint32_t id) {
    return Change([id](const SimState& state, std::vector<Step>& steps) -> SimResult {
        const SimSession* s = nullptr;
        if (SimResult r = RequireUserSession(state, id, s); r.error) return r;
        if (s->connectState != WtsConnectState::Active || s->flags != WtsSessionFlags::Unlock) {
            return {SimError::InvalidState, Describe(id, "is not an active unlocked session"), 0};
        }
        steps.push_back([id](SimState& st, FileTime, Notice& n) -> uint32_t {
            st.Find(id)->flags = WtsSessionFlags::Lock;
            n = {SimEvent::SessionLock, id};
            return 0;
        });
        return {};
    });
}

SimResult SimSessionManager::Unlock(uint32_t id) {
    return Change([id](const SimState& state, std::vector<Step>& steps) -> SimResult {
        const SimSession* s = nullptr;
        if (SimResult r = RequireUserSession(state, id, s); r.error) return r;
        if (s->connectState != WtsConnectState::Active || s->flags == WtsSessionFlags::Unlock) {
            return {SimError::InvalidState,
                    Describe(id, s->connectState == WtsConnectState::Active
                                     ? "is not locked"
                                     : "is disconnected (reattach it with 'session connect')"),
                    0};
        }
        steps.push_back([id](SimState& st, FileTime now, Notice& n) -> uint32_t {
            SimSession* s = st.Find(id);
            s->flags = WtsSessionFlags::Unlock;
            s->lastInputTime = now;
            s->idleKnown = true;
            n = {SimEvent::SessionUnlock, id};
            return 0;
        });
        return {};
    });
}

SimResult SimSessionManager::Disconnect(uint32_t id) {
    return Change([id](const SimState& state, std::vector<Step>& steps) -> SimResult {
        const SimSession* s = nullptr;
        if (SimResult r = RequireUserSession(state, id, s); r.error) return r;
        if (s->connectState == WtsConnectState::Disconnected) return {};  // nothing to do, as on Windows
        const bool onConsole = state.consoleId == id;
        auto screen = std::make_shared<uint32_t>(0);
        steps.push_back([id, onConsole, screen](SimState& st, FileTime now, Notice& n) -> uint32_t {
            SimSession* s = st.Find(id);
            s->connectState = WtsConnectState::Disconnected;
            s->flags = WtsSessionFlags::Lock;
            s->station.clear();
            s->disconnectTime = now;
            if (onConsole) *screen = NewLogonScreen(st);
            n = {onConsole ? SimEvent::ConsoleDisconnect : SimEvent::RemoteDisconnect, id};
            return 0;
        });
        if (onConsole) {
            steps.push_back([screen](SimState&, FileTime, Notice& n) -> uint32_t {
                n = {SimEvent::ConsoleConnect, *screen};
                return 0;
            });
        }
        return {};
    });
}

SimResult SimSessionManager::Connect(uint32_t id, int32_t desktop) {
    return Change([id, desktop](const SimState& state, std::vector<Step>& steps) -> SimResult {
        const SimSession* s = nullptr;
        if (SimResult r = RequireUserSession(state, id, s); r.error) return r;
        if (s->connectState != WtsConnectState::Disconnected) {
            return {SimError::InvalidState, Describe(id, "is not disconnected"), 0};
        }
        PlanReconnect(state, *s, desktop, steps);
        return {};
    });
}

void SimSessionManager::PlanReconnect(const SimState& state, const SimSession& session, int32_t desktop,
                                      std::vector<Step>& steps) {
    const uint32_t id = session.id;
    const int32_t where = desktop != SimDesktop::None ? desktop
                          : session.desktop == SimDesktop::Remote ? SimDesktop::Remote
                                                                  : SimDesktop::Console;
    if (where == SimDesktop::Remote) {
        steps.push_back([id](SimState& st, FileTime now, Notice& n) -> uint32_t {
            SimSession* s = st.Find(id);
            s->connectState = WtsConnectState::Active;
            s->flags = WtsSessionFlags::Unlock;
            s->desktop = SimDesktop::Remote;
            s->station = "RDP-Tcp#" + std::to_string(st.nextRdp++);
            s->connectTime = s->lastInputTime = now;
            s->idleKnown = true;
            n = {SimEvent::RemoteConnect, id};
            return 0;
        });
        return;
    }
    // The console's present session leaves it: another user's session is locked and
    // disconnected, a logon screen simply ends.
    if (const SimSession* console = state.Find(state.consoleId)) {
        const uint32_t old = console->id;
        if (HasUser(*console)) {
            if (console->connectState == WtsConnectState::Active && console->flags == WtsSessionFlags::Unlock) {
                steps.push_back([old](SimState& st, FileTime, Notice& n) -> uint32_t {
                    if (SimSession* c = st.Find(old)) c->flags = WtsSessionFlags::Lock;
                    n = {SimEvent::SessionLock, old};
                    return 0;
                });
            }
            steps.push_back([old](SimState& st, FileTime now, Notice& n) -> uint32_t {
                MarkDisconnected(st, old, now);
                n = {SimEvent::ConsoleDisconnect, old};
                return 0;
            });
        } else {
            steps.push_back([old](SimState& st, FileTime, Notice& n) -> uint32_t {
                RemoveSession(st, old);
                n = {SimEvent::ConsoleDisconnect, old};
                return 0;
            });
        }
    }
    // The session comes back at its lock screen, and the user unlocks it.
    steps.push_back([id](SimState& st, FileTime now, Notice& n) -> uint32_t {
        SimSession* s = st.Find(id);
        s->connectState = WtsConnectState::Active;
        s->flags = WtsSessionFlags::Lock;
        s->desktop = SimDesktop::Console;
        s->station = "Console";
        s->connectTime = now;
        st.consoleId = id;
        n = {SimEvent::ConsoleConnect, id};
        return 0;
    });
    steps.push_back([id](SimState& st, FileTime now, Notice& n) -> uint32_t {
        SimSession* s = st.Find(id);
        s->flags = WtsSessionFlags::Unlock;
        s->lastInputTime = now;
        s->idleKnown = true;
        n = {SimEvent::SessionUnlock, id};
        return 0;
    });
}

SimResult SimSessionManager::Logoff(uint32_t id) {
    return Change([id](const SimState& state, std::vector<Step>& steps) -> SimResult {
        const SimSession* s = nullptr;
        if (SimResult r = RequireUserSession(state, id, s); r.error) return r;
        const bool onConsole = state.consoleId == id;
        const bool remoteActive = !onConsole && s->connectState == WtsConnectState::Active;
        auto screen = std::make_shared<uint32_t>(0);
        // The session is gone by the time the logoff is announced.
        steps.push_back([id, onConsole, screen](SimState& st, FileTime, Notice& n) -> uint32_t {
            RemoveSession(st, id);
            if (onConsole) *screen = NewLogonScreen(st);
            n = {SimEvent::SessionLogoff, id};
            return 0;
        });
        if (onConsole) {
            steps.push_back([id](SimState&, FileTime, Notice& n) -> uint32_t {
                n = {SimEvent::ConsoleDisconnect, id};
                return 0;
            });
            steps.push_back([screen](SimState&, FileTime, Notice& n) -> uint32_t {
                n = {SimEvent::ConsoleConnect, *screen};
                return 0;
            });
        } else if (remoteActive) {
            steps.push_back([id](SimState&, FileTime, Notice& n) -> uint32_t {
                n = {SimEvent::RemoteDisconnect, id};
                return 0;
            });
        }
        return {};
    });
}

SimResult SimSessionManager::SetIdle(uint32_t id, int64_t milliseconds) {
    return Change([id, milliseconds](const SimState& state, std::vector<Step>& steps) -> SimResult {
        const SimSession* s = nullptr;
        if (SimResult r = RequireUserSession(state, id, s); r.error) return r;
        steps.push_back([id, milliseconds](SimState& st, FileTime now, Notice&) -> uint32_t {
            SimSession* s = st.Find(id);
            s->idleKnown = milliseconds >= 0;
            if (milliseconds >= 0) s->lastInputTime = now - milliseconds * kTicksPerMillisecond;
            return 0;
        });
        return {};
    });
}

SimResult SimSessionManager::AddTrust(std::string_view netbiosIn, std::string_view dnsIn) {
    const std::string netbios(netbiosIn), dns(dnsIn);
    if (netbios.empty() || dns.empty() || netbios.size() > kSimMaxName || dns.size() > kSimMaxName) {
        return {SimError::InvalidParameter, "a trust needs a NetBIOS name and a DNS name", 0};
    }
    return Change([netbios, dns](const SimState&, std::vector<Step>& steps) -> SimResult {
        steps.push_back([netbios, dns](SimState& st, FileTime, Notice&) -> uint32_t {
            for (auto& t : st.trusts) {
                if (SameName(t.netbios, netbios)) {
                    t.dns = dns;
                    return 0;
                }
            }
            if (st.trusts.size() >= kSimMaxTrusts) return SimError::InvalidParameter;
            st.trusts.push_back({netbios, dns});
            return 0;
        });
        return {};
    });
}

SimResult SimSessionManager::ClearTrusts() {
    return Change([](const SimState&, std::vector<Step>& steps) -> SimResult {
        steps.push_back([](SimState& st, FileTime, Notice&) -> uint32_t {
            st.trusts.clear();
            return 0;
        });
        return {};
    });
}

SimResult SimSessionManager::SetOsVersion(uint32_t major, uint32_t minor) {
    return Change([major, minor](const SimState&, std::vector<Step>& steps) -> SimResult {
        steps.push_back([major, minor](SimState& st, FileTime, Notice&) -> uint32_t {
            st.osMajor = major;
            st.osMinor = minor;
            return 0;
        });
        return {};
    });
}

SimResult SimSessionManager::RecordShutdown() {
    return Change([](const SimState&, std::vector<Step>& steps) -> SimResult {
        steps.push_back([](SimState& st, FileTime now, Notice&) -> uint32_t {
            if (st.shutdowns.size() >= kSimMaxShutdowns) st.shutdowns.erase(st.shutdowns.begin());
            st.shutdowns.push_back(now);
            return 0;
        });
        return {};
    });
}

}  // namespace corvane::posix
