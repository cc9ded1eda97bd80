#include "session/event_log_lines.h"

#include "platform/text.h"
#include "wire/time_text.h"
#include "session/event_names.h"

namespace corvane {

namespace {
constexpr int32_t kEventLock = 7;

// "System:<computer>|<session>|DOMAIN\user"
std::string SessionPrefix(const EventLineSession& s) {
    return FormatUtf8("System:%s|%d|%s\\%s", Utf16ToUtf8(s.strComputerName).c_str(), s.nSession,
                      Utf16ToUtf8(s.strDomain).c_str(), Utf16ToUtf8(s.strUser).c_str());
}

std::string U8(std::u16string_view text) { return Utf16ToUtf8(text); }
}  // namespace

std::u16string FormatLogonLine(const EventLineSession& s, int32_t desktopKind, FileTime logonTime) {
    return Utf8ToUtf16(FormatUtf8("%s|Logon|%s|%s", SessionPrefix(s).c_str(), U8(DesktopName(desktopKind)).c_str(),
                                  U8(FormatFileTime(logonTime)).c_str()));
}

std::u16string FormatLoginedLine(const EventLineSession& s, int32_t state, int32_t desktopKind, FileTime logonTime,
                                 bool bExisted) {
    return Utf8ToUtf16(FormatUtf8("%s|Logined(%s)|%s|%s|%s", SessionPrefix(s).c_str(),
                                  U8(LoginedEventName(state)).c_str(), U8(DesktopName(desktopKind)).c_str(),
                                  U8(FormatFileTime(logonTime)).c_str(), bExisted ? "Update" : "Add"));
}

std::u16string FormatStateChangeLine(const EventLineSession& s, int32_t event, int32_t desktopKind) {
    if (event == kEventLock) {
        return Utf8ToUtf16(FormatUtf8("%s|%s", SessionPrefix(s).c_str(), U8(StateChangeEventName(event)).c_str()));
    }
    return Utf8ToUtf16(FormatUtf8("%s|%s|%s", SessionPrefix(s).c_str(), U8(StateChangeEventName(event)).c_str(),
                                  U8(DesktopName(desktopKind)).c_str()));
}

}  // namespace corvane
