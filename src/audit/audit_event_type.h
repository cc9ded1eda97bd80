// The event codes of the audit table's event_type column.
#pragma once

#include <cstdint>

namespace corvane {

constexpr int32_t EVENT_TYPE_INVALID = 0;
// Session changes, numbered as the session-change notifications are.
constexpr int32_t EVENT_TYPE_CONSOLE_CONNECT = 1;
constexpr int32_t EVENT_TYPE_CONSOLE_DISCONNECT = 2;
constexpr int32_t EVENT_TYPE_REMOTE_CONNECT = 3;
constexpr int32_t EVENT_TYPE_REMOTE_DISCONNECT = 4;
constexpr int32_t EVENT_TYPE_SESSION_LOGON = 5;
constexpr int32_t EVENT_TYPE_SESSION_LOGOFF = 6;
constexpr int32_t EVENT_TYPE_SESSION_LOCK = 7;
constexpr int32_t EVENT_TYPE_SESSION_UNLOCK = 8;
constexpr int32_t EVENT_TYPE_SESSION_REMOTE_CONTROL = 9;
constexpr int32_t EVENT_TYPE_SESSION_CREATE = 10;
constexpr int32_t EVENT_TYPE_SESSION_TERMINATE = 11;
// Logons through the service: 100 + the request kind (1 logon, 2 unlock, 3 re-logon).
constexpr int32_t EVENT_TYPE_VSC_LOGON = 101;
constexpr int32_t EVENT_TYPE_VSC_UNLOCK = 102;
constexpr int32_t EVENT_TYPE_VSC_RELOGON = 103;
// Session control by a phone: 110 + the operation (1 logoff, 2 lock, 3 disconnect).
constexpr int32_t EVENT_TYPE_CTRL_LOGOFF = 111;
constexpr int32_t EVENT_TYPE_CTRL_LOCK = 112;
constexpr int32_t EVENT_TYPE_CTRL_DISCONNECT = 113;
// Presence actions: 120 + the offline option (1 lock, 2 log off); the away lock.
constexpr int32_t EVENT_TYPE_OFFLINE_LOCK = 121;
constexpr int32_t EVENT_TYPE_OFFLINE_LOGOFF = 122;
constexpr int32_t EVENT_TYPE_AWAY_LOCK = 123;
// Shutdown requests by a phone: 130 + the operation (1 shutdown, 2 cancel). Queries get no row.
constexpr int32_t EVENT_TYPE_SHUTDOWN_EXEC = 131;
constexpr int32_t EVENT_TYPE_SHUTDOWN_CANCEL = 132;
constexpr int32_t EVENT_TYPE_SHUTDOWN_QUERY = 133;

}  // namespace corvane
