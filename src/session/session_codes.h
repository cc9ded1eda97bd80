// The numbers the session monitor works with: the session-change codes Windows delivers with a
// session-change control, the states of a session record and the desktop kinds.
#pragma once

#include <cstdint>

namespace corvane {

// Session-change codes (WTSSESSION_NOTIFICATION); 0 is the start-up enumeration's "no event".
inline constexpr int32_t WTS_NO_EVENT = 0;
inline constexpr int32_t WTS_CONSOLE_CONNECT = 1;
inline constexpr int32_t WTS_CONSOLE_DISCONNECT = 2;
inline constexpr int32_t WTS_REMOTE_CONNECT = 3;
inline constexpr int32_t WTS_REMOTE_DISCONNECT = 4;
inline constexpr int32_t WTS_SESSION_LOGON = 5;
inline constexpr int32_t WTS_SESSION_LOGOFF = 6;
inline constexpr int32_t WTS_SESSION_LOCK = 7;
inline constexpr int32_t WTS_SESSION_UNLOCK = 8;
inline constexpr int32_t WTS_SESSION_REMOTE_CONTROL = 9;
inline constexpr int32_t WTS_SESSION_CREATE = 10;
inline constexpr int32_t WTS_SESSION_TERMINATE = 11;

// m_nState of a session record.
namespace SessionState {
constexpr int32_t Unknown = 0;
constexpr int32_t Active = 5;     // active and unlocked
constexpr int32_t LoggedOff = 6;
constexpr int32_t Locked = 7;     // locked or not active
}  // namespace SessionState

// m_nDesktop of a session record.
namespace DesktopKind {
constexpr int32_t Unknown = 0;
constexpr int32_t Console = 1;
constexpr int32_t RemoteDesktop = 2;
}  // namespace DesktopKind

// A session that has not yet been updated with session information.
inline constexpr int32_t kNoSessionId = -2;

}  // namespace corvane
