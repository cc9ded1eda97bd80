#include "platform/posix/logind_sessions.h"

#include <sys/utsname.h>
#include <systemd/sd-bus.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/file_time.h"
#include "platform/posix/logind_bus.h"
#include "platform/text.h"

namespace corvane::posix {

namespace {
constexpr uint32_t kNoToken = 1008;          // ERROR_NO_TOKEN: no user in the session
constexpr uint32_t kProcNotFound = 127;      // ERROR_PROC_NOT_FOUND
constexpr uint32_t kInvalidParameter = 87;   // ERROR_INVALID_PARAMETER
constexpr uint32_t kNoLogonServers = 1311;   // ERROR_NO_LOGON_SERVERS: no realm joined

FileTime UnixMicrosecondsToFileTime(uint64_t us) {
    return kFileTimeUnixEpoch + static_cast<FileTime>(us) * 10;
}
}  // namespace

LogindSessions::LogindSessions(std::string krb5ConfPath, std::u16string computerName, IClock& clock,
                               ControlNotify notify, DiagnosticLog* diagnostics)
    : m_krb5ConfPath(std::move(krb5ConfPath)),
      m_computerName(std::move(computerName)),
      m_clock(clock),
      m_pDiagnostics(diagnostics),
      m_watcher(std::make_unique<LogindWatcher>(
          std::move(notify), [this](const std::string& id) { return SessionIdOf(id); }, diagnostics)) {}

LogindSessions::~LogindSessions() {
    m_watcher.reset();
    std::vector<LockCheck> checks;
    {
        std::lock_guard<std::mutex> lock(m_checkMutex);
        checks.swap(m_checks);
    }
    for (auto& c : checks) c.thread.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bus) sd_bus_flush_close_unref(m_bus);
}

void LogindSessions::Start() { m_watcher->Start(); }

int LogindSessions::WithBus(const std::function<int(sd_bus*)>& call) {
    sd_bus* bus = Bus();
    if (!bus) return -ENOTCONN;
    int r = call(bus);
    if (r < 0 && IsBusGone(r)) {
        // The bus went away since the last call (a restarted bus): once more on a new connection.
        DropBus();
        bus = Bus();
        r = bus ? call(bus) : -ENOTCONN;
        if (r < 0 && IsBusGone(r)) DropBus();
    }
    return r;
}

sd_bus* LogindSessions::Bus() {
    if (m_bus == nullptr) {
        sd_bus* bus = nullptr;
        if (sd_bus_open_system(&bus) < 0) return nullptr;
        m_bus = bus;
    }
    return m_bus;
}

void LogindSessions::DropBus() {
    if (m_bus) sd_bus_flush_close_unref(m_bus);
    m_bus = nullptr;
}

uint32_t LogindSessions::SessionIdOf(const std::string& logindId) {
    std::lock_guard<std::mutex> lock(m_idMutex);
    if (auto it = m_idsByLogind.find(logindId); it != m_idsByLogind.end()) return it->second;
    uint32_t id = 0;
    const bool numeric = !logindId.empty() && logindId.size() <= 9 &&
                         std::all_of(logindId.begin(), logindId.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (numeric && std::stoul(logindId) < kFirstMappedSessionId) {
        id = static_cast<uint32_t>(std::stoul(logindId));
    } else {
        id = m_nextMappedId++;
    }
    m_idsByLogind[logindId] = id;
    m_logindById[id] = logindId;
    return id;
}

std::string LogindSessions::LogindId(uint32_t sessionId) {
    std::lock_guard<std::mutex> lock(m_idMutex);
    if (auto it = m_logindById.find(sessionId); it != m_logindById.end()) return it->second;
    // A numeric session the service has not seen listed yet is asked for by its own number.
    return sessionId < kFirstMappedSessionId ? std::to_string(sessionId) : std::string();
}

uint32_t LogindSessions::ReadSession(uint32_t sessionId, SessionProps& out) {
    const std::string id = LogindId(sessionId);
    if (id.empty()) return WinErrorOfBusCall(-ENXIO);
    std::lock_guard<std::mutex> lock(m_mutex);
    const int r = WithBus([&](sd_bus* bus) {
        std::string path;
        int rr = LogindSessionPath(bus, id, path);
        return rr < 0 ? rr : ReadLogindSession(bus, path, out);
    });
    return r < 0 ? WinErrorOfBusCall(r) : 0;
}

uint32_t LogindSessions::EnumerateSessions(std::vector<WtsSessionEntry>& out) {
    std::vector<LogindSessionRef> refs;
    std::vector<std::pair<uint32_t, SessionProps>> sessions;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const int r = WithBus([&](sd_bus* bus) {
            sessions.clear();
            const int rr = ListLogindSessions(bus, refs);
            if (rr < 0) return rr;
            for (const auto& ref : refs) {
                SessionProps props;
                if (ReadLogindSession(bus, ref.path, props) < 0) continue;  // ended meanwhile
                sessions.emplace_back(0, props);
                sessions.back().second.id = ref.id;
            }
            return 0;
        });
        if (r < 0) return WinErrorOfBusCall(r);
    }
    out.clear();
    for (auto& [id, props] : sessions) {
        id = SessionIdOf(props.id);
        out.push_back({id, WinStationOf(props.view, id), ConnectStateOf(props.view)});
    }
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.SessionId < b.SessionId; });
    return 0;
}

std::u16string LogindSessions::DomainOfUsers() {
    std::ifstream in(m_krb5ConfPath, std::ios::binary);
    if (in) {
        std::string text(64 * 1024, '\0');
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<size_t>(in.gcount()));
        const std::string realm = DefaultRealmOf(text);
        if (!realm.empty()) return AsciiToUtf16(NetbiosOfRealm(realm));
    }
    return m_computerName;
}

uint32_t LogindSessions::QuerySessionInfoEx(uint32_t sessionId, WtsInfoEx& out) {
    SessionProps s;
    if (uint32_t err = ReadSession(sessionId, s)) return err;
    out = WtsInfoEx {};
    out.SessionId = sessionId;
    out.SessionState = ConnectStateOf(s.view);
    out.SessionFlags = SessionFlagsOf(s.view);
    out.WinStationName = WinStationOf(s.view, sessionId);
    out.UserName = Utf8ToUtf16(s.user);
    out.DomainName = s.user.empty() ? std::u16string() : DomainOfUsers();
    out.LogonTime = s.timestampUs ? UnixMicrosecondsToFileTime(s.timestampUs) : 0;
    out.ConnectTime = out.LogonTime;
    out.LastInputTime = s.idleHint && s.idleSinceUs ? UnixMicrosecondsToFileTime(s.idleSinceUs) : 0;
    out.CurrentTime = m_clock.GetSystemTimeAsFileTime();
    return 0;
}

uint32_t LogindSessions::QuerySessionInfo(uint32_t sessionId) {
    SessionProps s;
    return ReadSession(sessionId, s);
}

uint32_t LogindSessions::QueryUserName(uint32_t sessionId, std::u16string& out) {
    SessionProps s;
    if (uint32_t err = ReadSession(sessionId, s)) return err;
    out = Utf8ToUtf16(s.user);
    return 0;
}

uint32_t LogindSessions::QueryDomainName(uint32_t sessionId, std::u16string& out) {
    SessionProps s;
    if (uint32_t err = ReadSession(sessionId, s)) return err;
    out = s.user.empty() ? std::u16string() : DomainOfUsers();
    return 0;
}

uint32_t LogindSessions::CallManager(const char* method, const std::string& argument) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string message;
    const int r = WithBus([&](sd_bus* bus) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        int rr = argument.empty()
                     // PowerOff(false): not interactive, the service has no one to ask; polkit
                     // decides from its rules.
                     ? sd_bus_call_method(bus, kLogindService, kLogindPath, kLogindManager, method, &error, nullptr,
                                          "b", 0)
                     : sd_bus_call_method(bus, kLogindService, kLogindPath, kLogindManager, method, &error, nullptr,
                                          "s", argument.c_str());
        if (rr < 0) {
            if (sd_bus_error_has_name(&error, "org.freedesktop.login1.NoSuchSession")) rr = -ENXIO;
            message = error.message ? error.message : std::strerror(-rr);
        }
        sd_bus_error_free(&error);
        return rr;
    });
    if (r < 0) {
        if (m_pDiagnostics) m_pDiagnostics->Writef("logind: %s(%s) failed: %s", method, argument.c_str(), message.c_str());
        return WinErrorOfBusCall(r);
    }
    return 0;
}

uint32_t LogindSessions::CheckUserSession(uint32_t sessionId) {
    SessionProps s;
    if (uint32_t err = ReadSession(sessionId, s)) return err;
    return s.user.empty() ? kNoToken : 0;
}

uint32_t LogindSessions::DisconnectSession(uint32_t sessionId) {
    // As Windows refuses a session that does not exist or has no user, before anything is asked.
    if (uint32_t err = CheckUserSession(sessionId)) return err;
    const std::string id = LogindId(sessionId);
    if (uint32_t err = CallManager("LockSession", id)) return err;
    CheckLockedLater(sessionId);
    return 0;
}

void LogindSessions::CheckLockedLater(uint32_t sessionId) {
    // The lock is a request to the session's screen locker; without one the session stays open,
    // which only its LockedHint shows. Say so, since nothing else will.
    std::lock_guard<std::mutex> lock(m_checkMutex);
    // Checks that have finished are joined here, so that their number stays small.
    for (auto it = m_checks.begin(); it != m_checks.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = m_checks.erase(it);
        } else {
            ++it;
        }
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread check([this, sessionId, done] {
        m_clock.Sleep(kLockCheckMilliseconds);
        SessionProps s;
        if (ReadSession(sessionId, s) == 0 && !s.view.locked && m_pDiagnostics) {
            m_pDiagnostics->Writef("logind: session %s was asked to lock but its LockedHint is still false after %u ms; "
                                   "without a screen locker the session stays open",
                                   s.id.c_str(), kLockCheckMilliseconds);
        }
        done->store(true);
    });
    m_checks.push_back({std::move(check), std::move(done)});
}

uint32_t LogindSessions::LogoffSession(uint32_t sessionId) {
    if (uint32_t err = CheckUserSession(sessionId)) return err;
    return CallManager("TerminateSession", LogindId(sessionId));
}

uint32_t LogindSessions::FindUserProcess(uint32_t sessionId, std::u16string_view user, std::u16string_view domain,
                                         uint32_t& processId) {
    SessionProps s;
    if (uint32_t err = ReadSession(sessionId, s)) return err == 7022 ? kProcNotFound : err;
    if (s.user.empty() || !EqualsNoCase(Utf8ToUtf16(s.user), user) || !EqualsNoCase(DomainOfUsers(), domain)) {
        return kProcNotFound;
    }
    processId = kFirstProcessId + sessionId;
    return 0;
}

uint32_t LogindSessions::TestUserToken(uint32_t sessionId) { return CheckUserSession(sessionId); }

uint32_t LogindSessions::RunIdleProgram(uint32_t processId, int32_t* exitCode) {
    if (processId < kFirstProcessId) return kInvalidParameter;
    SessionProps s;
    if (ReadSession(processId - kFirstProcessId, s) != 0) return kInvalidParameter;  // the session has ended
    if (exitCode) {
        if (!s.idleHint) {
            // Not idle, or a desktop that never reports idleness: either way the user may be
            // typing now, so the answer is "no idle time".
            *exitCode = 0;
        } else {
            const FileTime since = UnixMicrosecondsToFileTime(s.idleSinceUs);
            const FileTime idleMs = (m_clock.GetSystemTimeAsFileTime() - since) / 10000;
            *exitCode = static_cast<int32_t>(std::clamp<FileTime>(idleMs, 0, INT32_MAX));
        }
    }
    return 0;
}

uint32_t LogindSessions::EnumerateDomainTrusts(std::vector<DomainTrust>& out) {
    std::ifstream in(m_krb5ConfPath, std::ios::binary);
    std::string realm;
    if (in) {
        std::string text(64 * 1024, '\0');
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<size_t>(in.gcount()));
        realm = DefaultRealmOf(text);
    }
    if (realm.empty()) return kNoLogonServers;
    std::string dns = realm;
    for (auto& c : dns) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    out.clear();
    out.push_back({AsciiToUtf16(NetbiosOfRealm(realm)), AsciiToUtf16(dns)});
    return 0;
}

void LogindSessions::GetOsVersion(uint32_t& major, uint32_t& minor) {
    // Not Windows 6.1: the lock flags are used as reported.
    major = 10;
    minor = 0;
}

uint32_t LogindSessions::InitiateShutdown() { return CallManager("PowerOff", {}); }

}  // namespace corvane::posix
