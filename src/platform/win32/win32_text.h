// UTF-16 at the Win32 boundary: char16_t and wchar_t are both 16-bit on Windows, so the service's
// strings pass to the wide API calls as they are.
#pragma once

#include "platform/win32/win32_api.h"

#include <string>
#include <string_view>

namespace corvane::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wide characters are UTF-16 on Windows");

// A NUL-terminated copy for an API call.
inline std::wstring Wide(std::u16string_view text) {
    return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

inline std::u16string FromWide(const wchar_t* text, size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

inline std::u16string FromWide(const wchar_t* text) { return text ? FromWide(text, wcslen(text)) : std::u16string(); }

}  // namespace corvane::win32
