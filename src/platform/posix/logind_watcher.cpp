#include "platform/posix/logind_watcher.h"

#include <fcntl.h>
#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstring>
#include <set>

#include "platform/posix/logind_bus.h"
#include "platform/types.h"

namespace corvane::posix {

// sd-bus calls these with the watcher as user data; a handler's result of 0 lets other
// handlers of the same message run.
struct LogindWatcherCallbacks {
    static int OnSessionNew(sd_bus_message* m, void* w, sd_bus_error*) {
        static_cast<LogindWatcher*>(w)->OnSessionNew(m);
        return 0;
    }
    static int OnSessionRemoved(sd_bus_message* m, void* w, sd_bus_error*) {
        static_cast<LogindWatcher*>(w)->OnSessionRemoved(m);
        return 0;
    }
    static int OnPropertiesChanged(sd_bus_message* m, void* w, sd_bus_error*) {
        static_cast<LogindWatcher*>(w)->OnPropertiesChanged(m);
        return 0;
    }
    static int OnManagerOwner(sd_bus_message* m, void* w, sd_bus_error*) {
        static_cast<LogindWatcher*>(w)->OnManagerOwner(m);
        return 0;
    }
    static int OnPrepareForSleep(sd_bus_message* m, void* w, sd_bus_error*) {
        static_cast<LogindWatcher*>(w)->OnPrepareForSleep(m);
        return 0;
    }
};

LogindWatcher::LogindWatcher(ControlNotify notify, std::function<uint32_t(const std::string&)> sessionIdOf,
                             DiagnosticLog* diagnostics)
    : m_notify(std::move(notify)), m_sessionIdOf(std::move(sessionIdOf)), m_pDiagnostics(diagnostics) {}

LogindWatcher::~LogindWatcher() {
    m_bStop = true;
    if (m_stopPipe[1] >= 0) (void)!::write(m_stopPipe[1], "x", 1);
    if (m_thread.joinable()) m_thread.join();
    for (int fd : m_stopPipe) {
        if (fd >= 0) ::close(fd);
    }
}

void LogindWatcher::Start() {
    if (m_thread.joinable()) return;
    if (::pipe2(m_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        if (m_pDiagnostics) m_pDiagnostics->Write("logind: no pipe for the session watcher; session changes are not seen");
        return;
    }
    m_thread = std::thread([this] { Run(); });
}

bool LogindWatcher::WaitForStop(int milliseconds) {
    pollfd p {m_stopPipe[0], POLLIN, 0};
    ::poll(&p, 1, milliseconds);
    return m_bStop;
}

void LogindWatcher::Deliver(const std::vector<uint32_t>& events, const std::string& logindId) {
    const uint32_t sessionId = m_sessionIdOf(logindId);
    for (uint32_t e : events) {
        uint32_t result = 0;
        if (!m_notify(Svc::ControlSessionChange, e, sessionId, result) && m_pDiagnostics) {
            m_pDiagnostics->Writef("logind: session change %u of session %s (%u) reached no service", e,
                                   logindId.c_str(), sessionId);
        }
    }
}

void LogindWatcher::Run() {
    bool everConnected = false;
    bool reportedLoss = false;
    while (!m_bStop) {
        sd_bus* bus = nullptr;
        int r = sd_bus_open_system(&bus);
        if (r >= 0) r = Subscribe(bus);
        if (r >= 0) {
            m_bus = bus;
            if (reportedLoss && m_pDiagnostics) m_pDiagnostics->Write("logind: the system bus is back; watching sessions again");
            reportedLoss = false;
            Resync(bus, everConnected);
            everConnected = true;
            r = Serve(bus);
            m_bus = nullptr;
        }
        if (bus) sd_bus_flush_close_unref(bus);
        if (m_bStop) break;
        if (!reportedLoss && m_pDiagnostics) {
            m_pDiagnostics->Writef("logind: %s the system bus (%s); trying again every %d ms",
                                   everConnected ? "lost" : "cannot reach", std::strerror(r < 0 ? -r : EPIPE),
                                   kReconnectMilliseconds);
            reportedLoss = true;
        }
        WaitForStop(kReconnectMilliseconds);
    }
}

int LogindWatcher::Subscribe(sd_bus* bus) {
    int r = sd_bus_match_signal(bus, nullptr, kLogindService, kLogindPath, kLogindManager, "SessionNew",
                                LogindWatcherCallbacks::OnSessionNew, this);
    if (r >= 0) {
        r = sd_bus_match_signal(bus, nullptr, kLogindService, kLogindPath, kLogindManager, "SessionRemoved",
                                LogindWatcherCallbacks::OnSessionRemoved, this);
    }
    if (r >= 0) {
        r = sd_bus_match_signal(bus, nullptr, kLogindService, kLogindPath, kLogindManager, "PrepareForSleep",
                                LogindWatcherCallbacks::OnPrepareForSleep, this);
    }
    if (r >= 0) {
        r = sd_bus_add_match(bus, nullptr,
                             "type='signal',sender='org.freedesktop.login1',"
                             "interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',"
                             "path_namespace='/org/freedesktop/login1/session'",
                             LogindWatcherCallbacks::OnPropertiesChanged, this);
    }
    if (r >= 0) {
        // The login manager itself restarting (or starting after the service) is noticed too.
        r = sd_bus_add_match(bus, nullptr,
                             "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                             "member='NameOwnerChanged',arg0='org.freedesktop.login1'",
                             LogindWatcherCallbacks::OnManagerOwner, this);
    }
    return r;
}

void LogindWatcher::Resync(sd_bus* bus, bool deliver) {
    std::vector<LogindSessionRef> refs;
    if (ListLogindSessions(bus, refs) < 0) return;
    std::map<std::string, Known> now;
    for (const auto& ref : refs) {
        LogindSessionProps props;
        if (ReadLogindSession(bus, ref.path, props) < 0) continue;
        now[ref.path] = {ref.id, props.view};
    }
    if (deliver) {
        for (const auto& [path, old] : m_known) {
            if (!now.count(path)) Deliver(EventsForRemovedSession(old.view), old.id);
        }
        for (const auto& [path, cur] : now) {
            auto it = m_known.find(path);
            Deliver(it == m_known.end() ? EventsForNewSession() : EventsForChange(it->second.view, cur.view), cur.id);
        }
    }
    m_known = std::move(now);
}

int LogindWatcher::Serve(sd_bus* bus) {
    for (;;) {
        if (m_bStop) return 0;
        int r = sd_bus_process(bus, nullptr);
        if (r < 0) return r;
        if (!sd_bus_is_open(bus)) return -ECONNRESET;
        if (r > 0) continue;
        const int fd = sd_bus_get_fd(bus);
        const int events = sd_bus_get_events(bus);
        if (fd < 0 || events < 0) return fd < 0 ? fd : events;
        uint64_t usec = UINT64_MAX;
        sd_bus_get_timeout(bus, &usec);
        int timeoutMs = 1000;
        if (usec != UINT64_MAX) {
            timespec ts {};
            ::clock_gettime(CLOCK_MONOTONIC, &ts);
            const uint64_t nowUs = static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
            timeoutMs = usec <= nowUs ? 0 : static_cast<int>(std::min<uint64_t>((usec - nowUs + 999) / 1000, 1000));
        }
        pollfd fds[2] = {{fd, static_cast<short>(events), 0}, {m_stopPipe[0], POLLIN, 0}};
        if (::poll(fds, 2, timeoutMs) < 0 && errno != EINTR) return -errno;
        if (fds[1].revents & POLLIN) return 0;
    }
}

void LogindWatcher::OnSessionNew(sd_bus_message* m) {
    LogindWatcher* self = this;
    const char *id = nullptr, *path = nullptr;
    if (sd_bus_message_read(m, "so", &id, &path) < 0) return;
    LogindSessionProps props;
    if (self->m_bus) (void)ReadLogindSession(self->m_bus, path, props);
    self->m_known[path] = {id, props.view};
    self->Deliver(EventsForNewSession(), id);
    return;
}

void LogindWatcher::OnSessionRemoved(sd_bus_message* m) {
    LogindWatcher* self = this;
    const char *id = nullptr, *path = nullptr;
    if (sd_bus_message_read(m, "so", &id, &path) < 0) return;
    LogindView last;
    if (auto it = self->m_known.find(path); it != self->m_known.end()) {
        last = it->second.view;
        self->m_known.erase(it);
    }
    self->Deliver(EventsForRemovedSession(last), id);
    return;
}

void LogindWatcher::OnPropertiesChanged(sd_bus_message* m) {
    LogindWatcher* self = this;
    const char* path = sd_bus_message_get_path(m);
    const char* iface = nullptr;
    if (!path || sd_bus_message_read(m, "s", &iface) < 0 || std::strcmp(iface, kLogindSession) != 0) return;
    auto it = self->m_known.find(path);
    if (it == self->m_known.end()) {
        // A session that appeared without its SessionNew: learn it, deliver nothing yet.
        LogindSessionProps props;
        if (self->m_bus && ReadLogindSession(self->m_bus, path, props) >= 0) {
            self->m_known[path] = {props.id, props.view};
        }
        return;
    }
    LogindView after = it->second.view;
    bool mentioned = false;
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sv}") < 0) return;
    while (sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
        const char* name = nullptr;
        if (sd_bus_message_read_basic(m, 's', &name) < 0) return;
        bool* target = std::strcmp(name, "Active") == 0       ? &after.active
                       : std::strcmp(name, "LockedHint") == 0 ? &after.locked
                                                              : nullptr;
        char type = 0;
        const char* contents = nullptr;
        if (target && sd_bus_message_peek_type(m, &type, &contents) >= 0 && contents && std::strcmp(contents, "b") == 0) {
            int b = 0;
            if (sd_bus_message_read(m, "v", "b", &b) < 0) return;
            *target = b != 0;
            mentioned = true;
        } else if (sd_bus_message_skip(m, "v") < 0) {
            return;
        }
        if (sd_bus_message_exit_container(m) < 0) return;
    }
    (void)sd_bus_message_exit_container(m);
    // Properties named only as invalidated: read them.
    std::set<std::string> invalidated;
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "s") >= 0) {
        const char* name = nullptr;
        while (sd_bus_message_read_basic(m, 's', &name) > 0) invalidated.insert(name);
    }
    if ((invalidated.count("Active") || invalidated.count("LockedHint")) && self->m_bus) {
        LogindSessionProps props;
        if (ReadLogindSession(self->m_bus, path, props) >= 0) {
            after.active = props.view.active;
            after.locked = props.view.locked;
            mentioned = true;
        }
    }
    if (!mentioned) return;
    const LogindView before = it->second.view;
    it->second.view = after;
    const std::string id = it->second.id;
    self->Deliver(EventsForChange(before, after), id);
    return;
}

void LogindWatcher::OnManagerOwner(sd_bus_message* m) {
    const char *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &oldOwner, &newOwner) < 0) return;
    if (newOwner && *newOwner && m_bus) {
        if (m_pDiagnostics) m_pDiagnostics->Write("logind: the login manager is (back) on the bus; reading its sessions");
        Resync(m_bus, true);
    }
}

void LogindWatcher::OnPrepareForSleep(sd_bus_message* m) {
    LogindWatcher* self = this;
    int sleeping = 0;
    if (sd_bus_message_read(m, "b", &sleeping) < 0) return;
    const uint32_t event = sleeping ? Svc::PbtApmSuspend : Svc::PbtApmResumeAutomatic;
    uint32_t result = 0;
    const bool delivered = self->m_notify(Svc::ControlPowerEvent, event, 0, result);
    if (self->m_pDiagnostics) {
        if (delivered) {
            self->m_pDiagnostics->Writef("logind: PrepareForSleep(%s) delivered as power event %u (%s), result %u",
                                         sleeping ? "true" : "false", event, sleeping ? "suspend" : "resume", result);
        } else {
            self->m_pDiagnostics->Writef("logind: PrepareForSleep(%s) reached no service", sleeping ? "true" : "false");
        }
    }
    return;
}

}  // namespace corvane::posix
