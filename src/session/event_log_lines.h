// The session lines of the text event log. Each starts "System:<computer name>|<session id>|
// DOMAIN\user|". Logon times are written as UTC text, or left empty when they cannot be converted.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace corvane {

struct EventLineSession {
    std::u16string_view strComputerName;
    int32_t nSession = 0;
    std::u16string_view strDomain;
    std::u16string_view strUser;
};

// A new session: "System:%s|%d|%s\\%s|Logon|%s|%s" with the desktop name and the logon time.
std::u16string FormatLogonLine(const EventLineSession& s, int32_t desktopKind, FileTime logonTime);
// A session found by the start-up enumeration: "System:%s|%d|%s\\%s|Logined(%s)|%s|%s|%s" with
// the "Logined" name of the record's state, the desktop name, the logon time and "Update" for a
// record that existed already or "Add" for a new one.
std::u16string FormatLoginedLine(const EventLineSession& s, int32_t state, int32_t desktopKind, FileTime logonTime,
                                 bool bExisted);
// A state change: "System:%s|%d|%s\\%s|Locked" for event 7, else "System:%s|%d|%s\\%s|%s|%s" with
// the state-change name of the event and the desktop name.
std::u16string FormatStateChangeLine(const EventLineSession& s, int32_t event, int32_t desktopKind);

}  // namespace corvane
