// What the login manager's view of a session means in the terms of the session seam: the connect
// state, lock flags and window station of a session, the session-change codes a change of its
// state stands for (in the order Windows delivers them), and the machine's Kerberos realm as the
// users' domain.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sessions.h"

namespace corvane::posix {

// The state of one login-manager session that the service cares about.
struct LogindView {
    bool active = false;  // the foreground session of its seat
    bool locked = false;  // LockedHint: its screen locker runs
    bool remote = false;  // a remote login (ssh, a remote desktop)
    std::string seat;     // empty for a session without a seat
};

// Session-change codes (WTSSESSION_NOTIFICATION values).
namespace LogindEvent {
constexpr uint32_t ConsoleConnect = 1;
constexpr uint32_t ConsoleDisconnect = 2;
constexpr uint32_t RemoteConnect = 3;
constexpr uint32_t RemoteDisconnect = 4;
constexpr uint32_t SessionLogon = 5;
constexpr uint32_t SessionLogoff = 6;
constexpr uint32_t SessionLock = 7;
constexpr uint32_t SessionUnlock = 8;
}  // namespace LogindEvent

// The session that stands for the Windows console: the active session of seat0.
bool IsConsole(const LogindView& view);
// WTS connect state: an active session is WTSActive; one that is not in the foreground of its
// seat (switched away from, or a remote session whose client went) is WTSDisconnected.
int32_t ConnectStateOf(const LogindView& view);
// WTS session flags: LockedHint true is locked, else unlocked.
int32_t SessionFlagsOf(const LogindView& view);
// The window station name: "Console" for the console, "RDP-Tcp#<id>" for a remote session, and
// empty for a local session in the background (the table then keeps the desktop kind it had).
std::u16string WinStationOf(const LogindView& view, uint32_t sessionId);

// A new session arrives with its user already signed in: the logon is all Windows would report
// with a user in it (its connect came earlier, on the logon screen, with no user).
std::vector<uint32_t> EventsForNewSession();
// A session that ended: the logoff, then the disconnect of its desktop.
std::vector<uint32_t> EventsForRemovedSession(const LogindView& last);
// The codes for a change of state, in Windows' order: a session that leaves is locked before it
// is disconnected; one that returns is connected before it is unlocked. Nothing when nothing
// the service tracks changed.
std::vector<uint32_t> EventsForChange(const LogindView& before, const LogindView& after);

// The default realm of a Kerberos configuration ("default_realm = CORP.EXAMPLE" in
// [libdefaults]); empty when there is none. Reads at most the first 64 KiB.
std::string DefaultRealmOf(std::string_view krb5Conf);
// The NetBIOS form of a realm: its first label, upper case, at most 15 characters.
std::string NetbiosOfRealm(std::string_view realm);

// Logind session ids are short strings ("3", "c2"). A numeric one keeps its number as the
// session id; any other gets one from this range, remembered for the life of the backend.
constexpr uint32_t kFirstMappedSessionId = 0x10000;

}  // namespace corvane::posix
