#include "platform/win32/win32_system_messages.h"

#include <windows.h>

namespace corvane::win32 {

bool Win32SystemMessages::FormatSystemMessage(uint32_t code, std::u16string& out) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) {
        if (buffer) ::LocalFree(buffer);
        return false;
    }
    out.assign(reinterpret_cast<const char16_t*>(buffer), length);
    ::LocalFree(buffer);
    return true;
}

}  // namespace corvane::win32
