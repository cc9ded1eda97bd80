#include "session/event_names.h"

#include <array>

namespace corvane {

namespace {
// Indexed by session-change code 1-11.
constexpr std::array<std::u16string_view, 11> kLoginedNames = {
    u"WTS_CONSOLE_CONNECT", u"WTS_CONSOLE_DISCONNECT", u"WTS_REMOTE_CONNECT",        u"WTS_REMOTE_DISCONNECT",
    u"WTS_SESSION_LOGON",   u"WTS_SESSION_LOGOFF",     u"WTS_SESSION_LOCK",          u"WTS_SESSION_UNLOCK",
    u"WTS_SESSION_REMOTE_CONTROL", u"WTS_SESSION_CREATE", u"WTS_SESSION_TERMINATE",
};
constexpr std::array<std::u16string_view, 11> kStateChangeNames = {
    u"Console Connect", u"Console Disconnect", u"Remote Connect", u"Remote Disconnect",
    u"Logon",           u"Logoff",             u"Locked",         u"Unlock",
    u"Remote Control",  u"Session Create",     u"Session Terminate",
};

bool IsSessionChangeCode(int32_t code) { return code >= 1 && code <= 11; }
}  // namespace

std::u16string_view LoginedEventName(int32_t code) {
    return IsSessionChangeCode(code) ? kLoginedNames[static_cast<size_t>(code - 1)] : u"UNKNOWN Event Type";
}

std::u16string_view StateChangeEventName(int32_t code) {
    return IsSessionChangeCode(code) ? kStateChangeNames[static_cast<size_t>(code - 1)] : u"Unknown Event";
}

std::u16string_view DesktopName(int32_t desktopKind) {
    switch (desktopKind) {
        case 1: return u"Console";
        case 2: return u"Remote Desktop";
        default: return u"Unknown Desktop";
    }
}

}  // namespace corvane
