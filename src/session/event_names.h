// Names of session-change codes and desktop kinds in the text event log.
#pragma once

#include <cstdint>
#include <string_view>

namespace corvane {

// The name in "Logined" lines: "WTS_SESSION_LOCK" for 7; "UNKNOWN Event Type" for codes outside 1-11.
std::u16string_view LoginedEventName(int32_t code);
// The name in state-change lines: "Locked" for 7; "Unknown Event" for codes outside 1-11.
std::u16string_view StateChangeEventName(int32_t code);
// "Console" for desktop kind 1, "Remote Desktop" for 2, "Unknown Desktop" otherwise.
std::u16string_view DesktopName(int32_t desktopKind);

}  // namespace corvane
