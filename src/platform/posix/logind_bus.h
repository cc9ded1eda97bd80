// The few sd-bus exchanges with the login manager that both the session backend and its watcher
// need: the list of sessions, one session's properties, and what a failed call means.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/logind_events.h"

typedef struct sd_bus sd_bus;

namespace corvane::posix {

inline constexpr const char* kLogindService = "org.freedesktop.login1";
inline constexpr const char* kLogindPath = "/org/freedesktop/login1";
inline constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";
inline constexpr const char* kLogindSession = "org.freedesktop.login1.Session";

struct LogindSessionProps {
    std::string id;
    std::string user;
    std::string state;  // "online", "active" or "closing"
    std::string sessionClass;  // "user" for a user's own session; "greeter", "lock-screen", ...
    LogindView view;
    uint64_t timestampUs = 0;  // when the session began (microseconds since 1970)
    bool idleHint = false;
    uint64_t idleSinceUs = 0;  // when the idle hint last changed (microseconds since 1970)
};

struct LogindSessionRef {
    std::string id;
    std::string path;
};

// ListSessions. 0 or a negative errno.
int ListLogindSessions(sd_bus* bus, std::vector<LogindSessionRef>& out);
// GetSession: the object path of a session. 0 or a negative errno (a session that does not
// exist fails).
int LogindSessionPath(sd_bus* bus, const std::string& id, std::string& path);
// All properties of the session object that the service maps. 0 or a negative errno.
int ReadLogindSession(sd_bus* bus, const std::string& path, LogindSessionProps& out);
// Whether a failed call means the connection itself is gone (and must be opened afresh).
bool IsBusGone(int error);
// The Windows error that stands for a failed call: no such session, access denied, or a lost
// connection (the session manager is unavailable).
uint32_t WinErrorOfBusCall(int error);

}  // namespace corvane::posix
