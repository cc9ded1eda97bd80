// Turns the login manager's signals into the service's controls: SessionNew, SessionRemoved and
// the changes of a session's Active and LockedHint become session-change controls in Windows'
// order; PrepareForSleep becomes the suspend and resume power events. (A session's own Lock and
// Unlock signals are requests to its screen locker, not its state: LockedHint is the state.) It runs on a thread of its
// own with a bus connection of its own. A bus that goes away is one diagnostic line and a
// reconnect once a second; after the reconnect, what changed meanwhile is delivered as if it had
// been signalled.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "platform/diagnostic_log.h"
#include "platform/posix/logind_events.h"

typedef struct sd_bus sd_bus;
typedef struct sd_bus_message sd_bus_message;

namespace corvane::posix {

// Delivers one control (code, event type, session id) to the running service: true with the
// handler's result, false when no service took it.
using ControlNotify =
    std::function<bool(uint32_t control, uint32_t eventType, uint32_t sessionId, uint32_t& result)>;

class LogindWatcher {
public:
    LogindWatcher(ControlNotify notify, std::function<uint32_t(const std::string& logindId)> sessionIdOf,
                  DiagnosticLog* diagnostics);
    ~LogindWatcher();  // stops the thread
    LogindWatcher(const LogindWatcher&) = delete;
    LogindWatcher& operator=(const LogindWatcher&) = delete;

    void Start();

    static constexpr int kReconnectMilliseconds = 1000;

private:
    struct Known {
        std::string id;
        LogindView view;
    };
    void Run();
    int Subscribe(sd_bus* bus);
    // Reads every session; delivers what differs from the sessions known before (nothing on
    // the first connection).
    void Resync(sd_bus* bus, bool deliver);
    int Serve(sd_bus* bus);  // until the bus fails (negative) or the watcher stops (0)
    bool WaitForStop(int milliseconds);
    void Deliver(const std::vector<uint32_t>& events, const std::string& logindId);

    // Signal handlers, on the watcher thread; the bus callbacks in the source file call them.
    friend struct LogindWatcherCallbacks;
    void OnSessionNew(sd_bus_message* m);
    void OnSessionRemoved(sd_bus_message* m);
    void OnPropertiesChanged(sd_bus_message* m);
    void OnPrepareForSleep(sd_bus_message* m);
    void OnManagerOwner(sd_bus_message* m);

    ControlNotify m_notify;
    std::function<uint32_t(const std::string&)> m_sessionIdOf;
    DiagnosticLog* m_pDiagnostics;
    sd_bus* m_bus = nullptr;               // the watcher thread's connection while it has one
    std::map<std::string, Known> m_known;  // by object path; the watcher thread's only
    int m_stopPipe[2] = {-1, -1};
    std::atomic<bool> m_bStop {false};
    std::thread m_thread;
};

}  // namespace corvane::posix
