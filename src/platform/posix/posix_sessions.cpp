#include "platform/posix/posix_sessions.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "platform/posix/control_protocol.h"
#include "platform/text.h"

extern char** environ;

namespace corvane::posix {

namespace {
constexpr uint32_t kControlSessionChange = 14;
constexpr FileTime kTicksPerMillisecond = 10000;
constexpr uint32_t kProgramPollMilliseconds = 10;
}  // namespace

std::string SimSessionDirectory(const StateRoot& root) { return root.Path("var/lib/corvane/sim"); }

SimNotify NotifyServiceBySocket(std::string controlSocketPath) {
    return [path = std::move(controlSocketPath)](uint32_t eventType, uint32_t sessionId) {
        ControlReply reply;
        SendControl(path, ControlRequest {kControlSessionChange, eventType, sessionId}, reply);
    };
}

PosixSessions::PosixSessions(std::string simDirectory, IClock& clock, SimNotify notify, DiagnosticLog* diagnostics,
                             PosixIdleProgram idleProgram)
    : m_manager(std::move(simDirectory), clock, std::move(notify)),
      m_clock(clock),
      m_pDiagnostics(diagnostics),
      m_idleProgram(std::move(idleProgram)) {}

PosixSessions::~PosixSessions() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = true;
    }
    m_cv.notify_all();
    if (m_worker.joinable()) m_worker.join();
}

void PosixSessions::Enqueue(std::function<void()> change) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.push_back(std::move(change));
    if (!m_worker.joinable()) m_worker = std::thread([this] { WorkerLoop(); });
    m_cv.notify_all();
}

void PosixSessions::WorkerLoop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_bStop || !m_queue.empty(); });
        if (m_queue.empty()) return;  // stopping, and nothing is left to do
        auto change = std::move(m_queue.front());
        m_queue.pop_front();
        m_bBusy = true;
        lock.unlock();
        change();
        lock.lock();
        m_bBusy = false;
        m_cv.notify_all();
    }
}

void PosixSessions::WaitIdle() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait(lock, [this] { return m_queue.empty() && !m_bBusy; });
}

uint32_t PosixSessions::ReadSession(uint32_t sessionId, SimState& state, const SimSession*& session) {
    if (uint32_t err = m_manager.Read(state)) return err;
    session = state.Find(sessionId);
    return session ? 0 : SimError::WinStationNotFound;
}

uint32_t PosixSessions::EnumerateSessions(std::vector<WtsSessionEntry>& out) {
    SimState state;
    if (uint32_t err = m_manager.Read(state)) return err;
    std::sort(state.sessions.begin(), state.sessions.end(),
              [](const SimSession& a, const SimSession& b) { return a.id < b.id; });
    out.clear();
    for (const auto& s : state.sessions) out.push_back({s.id, Utf8ToUtf16(s.station), s.connectState});
    return 0;
}

uint32_t PosixSessions::QuerySessionInfoEx(uint32_t sessionId, WtsInfoEx& out) {
    SimState state;
    const SimSession* s = nullptr;
    if (uint32_t err = ReadSession(sessionId, state, s)) return err;
    out = WtsInfoEx {};
    out.SessionId = s->id;
    out.SessionState = s->connectState;
    out.SessionFlags = s->flags;
    // Windows 7 and Server 2008 R2 report the lock flags the wrong way round; so does the
    // simulated machine when it is set to that version.
    if (state.osMajor == 6 && state.osMinor == 1 &&
        (s->flags == WtsSessionFlags::Lock || s->flags == WtsSessionFlags::Unlock)) {
        out.SessionFlags = s->flags == WtsSessionFlags::Lock ? WtsSessionFlags::Unlock : WtsSessionFlags::Lock;
    }
    out.WinStationName = Utf8ToUtf16(s->station);
    out.UserName = Utf8ToUtf16(s->user);
    out.DomainName = Utf8ToUtf16(s->domain);
    out.LogonTime = s->logonTime;
    out.ConnectTime = s->connectTime;
    out.DisconnectTime = s->disconnectTime;
    out.LastInputTime = s->lastInputTime;
    out.CurrentTime = m_clock.GetSystemTimeAsFileTime();
    return 0;
}

uint32_t PosixSessions::QuerySessionInfo(uint32_t sessionId) {
    SimState state;
    const SimSession* s = nullptr;
    return ReadSession(sessionId, state, s);
}

uint32_t PosixSessions::QueryUserName(uint32_t sessionId, std::u16string& out) {
    SimState state;
    const SimSession* s = nullptr;
    if (uint32_t err = ReadSession(sessionId, state, s)) return err;
    out = Utf8ToUtf16(s->user);
    return 0;
}

uint32_t PosixSessions::QueryDomainName(uint32_t sessionId, std::u16string& out) {
    SimState state;
    const SimSession* s = nullptr;
    if (uint32_t err = ReadSession(sessionId, state, s)) return err;
    out = Utf8ToUtf16(s->domain);
    return 0;
}

uint32_t PosixSessions::DisconnectSession(uint32_t sessionId) {
    if (uint32_t err = m_manager.CheckUserSession(sessionId)) return err;
    Enqueue([this, sessionId] { m_manager.Disconnect(sessionId); });
    return 0;
}

uint32_t PosixSessions::LogoffSession(uint32_t sessionId) {
    if (uint32_t err = m_manager.CheckUserSession(sessionId)) return err;
    Enqueue([this, sessionId] { m_manager.Logoff(sessionId); });
    return 0;
}

uint32_t PosixSessions::FindUserProcess(uint32_t sessionId, std::u16string_view user, std::u16string_view domain,
                                        uint32_t& processId) {
    SimState state;
    if (uint32_t err = m_manager.Read(state)) return err;
    const SimSession* s = state.Find(sessionId);
    if (s == nullptr || s->user.empty() || !EqualsNoCase(Utf8ToUtf16(s->user), user) ||
        !EqualsNoCase(Utf8ToUtf16(s->domain), domain)) {
        return SimError::ProcNotFound;
    }
    processId = kFirstProcessId + sessionId;
    return 0;
}

uint32_t PosixSessions::TestUserToken(uint32_t sessionId) {
    SimState state;
    const SimSession* s = nullptr;
    if (uint32_t err = ReadSession(sessionId, state, s)) return err;
    return s->user.empty() ? SimError::NoToken : 0;
}

uint32_t PosixSessions::RunIdleProgram(uint32_t processId, int32_t* exitCode) {
    if (processId < kFirstProcessId) return SimError::InvalidParameter;
    SimState state;
    const SimSession* s = nullptr;
    if (ReadSession(processId - kFirstProcessId, state, s) != 0 || s->user.empty()) {
        return SimError::InvalidParameter;  // the process has ended: OpenProcess fails
    }
    if (exitCode && !m_idleProgram.path.empty()) {
        if (const uint32_t err = RunProgram()) return err;
    }
    if (exitCode) {
        if (!s->idleKnown) {
            *exitCode = -1;
        } else {
            const FileTime idle = (m_clock.GetSystemTimeAsFileTime() - s->lastInputTime) / kTicksPerMillisecond;
            *exitCode = static_cast<int32_t>(std::clamp<FileTime>(idle, 0, INT32_MAX));
        }
    }
    return 0;
}

uint32_t PosixSessions::RunProgram() {
    char* argv[] = {m_idleProgram.path.data(), nullptr};
    pid_t child = 0;
    if (const int err = ::posix_spawn(&child, m_idleProgram.path.c_str(), nullptr, nullptr, argv, environ)) {
        return err == ENOENT ? SimError::FileNotFound : SimError::InvalidParameter;
    }
    const uint32_t start = m_clock.GetTickCount();
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child || (done < 0 && errno != EINTR)) return 0;
        if (TicksSince(m_clock.GetTickCount(), start) >= m_idleProgram.waitMs) break;
        m_clock.Sleep(kProgramPollMilliseconds);
    }
    // A program that hangs is ended: the probe's caller holds the session table meanwhile.
    ::kill(child, SIGKILL);
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (m_pDiagnostics) {
        m_pDiagnostics->Writef("simulated machine: the idle-time program did not exit within %u ms; ended",
                               m_idleProgram.waitMs);
    }
    return kIdleProgramTimedOut;
}

uint32_t PosixSessions::EnumerateDomainTrusts(std::vector<DomainTrust>& out) {
    SimState state;
    if (uint32_t err = m_manager.Read(state)) return err;
    // A machine without trusts is not in a domain: there is no domain controller to ask.
    if (state.trusts.empty()) return SimError::NoLogonServers;
    out.clear();
    for (const auto& t : state.trusts) out.push_back({Utf8ToUtf16(t.netbios), Utf8ToUtf16(t.dns)});
    return 0;
}

void PosixSessions::GetOsVersion(uint32_t& major, uint32_t& minor) {
    SimState state;
    if (m_manager.Read(state) != 0) state = SimState::Fresh();
    major = state.osMajor;
    minor = state.osMinor;
}

uint32_t PosixSessions::InitiateShutdown() {
    const SimResult result = m_manager.RecordShutdown();
    if (result.error) return result.error;
    if (m_pDiagnostics) {
        m_pDiagnostics->Write("simulated machine: shutdown requested (no delay, no restart); nothing is powered off");
    }
    return 0;
}

}  // namespace corvane::posix
