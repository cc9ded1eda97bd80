// The simulated Windows machine's session manager state, as it lies on disk under the state
// root: the sessions (the services session, logon-screen sessions, user sessions, the remote
// desktop listener), which session holds the console, the trusted domains, the version that
// GetVersionExW reports and the shutdown requests made so far. One text line per item; names
// are percent-encoded so that any user or domain name survives the round trip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace corvane::posix {

// Desktop a simulated session was last attached to.
namespace SimDesktop {
constexpr int32_t None = 0;
constexpr int32_t Console = 1;
constexpr int32_t Remote = 2;
}  // namespace SimDesktop

struct SimSession {
    uint32_t id = 0;
    int32_t connectState = 0;  // WtsConnectState
    int32_t flags = 0;         // WtsSessionFlags as the session really is (never swapped)
    int32_t desktop = SimDesktop::None;
    bool idleKnown = true;  // false: the idle-time program cannot tell (exits with -1)
    FileTime logonTime = 0;
    FileTime connectTime = 0;
    FileTime disconnectTime = 0;
    FileTime lastInputTime = 0;
    std::string station;  // UTF-8
    std::string user;     // UTF-8, empty for a session without a logged-on user
    std::string domain;   // UTF-8
};

struct SimTrust {
    std::string netbios;  // UTF-8
    std::string dns;      // UTF-8
};

struct SimState {
    uint32_t nextId = 2;
    uint32_t nextRdp = 1;  // number of the next "RDP-Tcp#N" window station
    uint32_t consoleId = 1;
    uint32_t osMajor = 10;
    uint32_t osMinor = 0;
    std::vector<SimSession> sessions;
    std::vector<SimTrust> trusts;
    std::vector<FileTime> shutdowns;  // system time of each shutdown request

    // A machine just started: the services session 0, the logon screen on the console
    // (session 1) and the remote desktop listener.
    static SimState Fresh();

    SimSession* Find(uint32_t id);
    const SimSession* Find(uint32_t id) const;
};

inline constexpr size_t kSimMaxSessions = 65536;
inline constexpr size_t kSimMaxTrusts = 1024;
inline constexpr size_t kSimMaxShutdowns = 4096;
inline constexpr size_t kSimMaxName = 512;  // bytes of one decoded name

std::string SerializeSimState(const SimState& state);
// Parses the text of the state file; nothing when any line is malformed or a limit is exceeded.
std::optional<SimState> ParseSimState(std::string_view text);

// The encoding of one name field: "-" for an empty name, otherwise every byte outside
// [A-Za-z0-9._#@$] as %XX.
std::string EncodeSimName(std::string_view name);
std::optional<std::string> DecodeSimName(std::string_view field);

}  // namespace corvane::posix
