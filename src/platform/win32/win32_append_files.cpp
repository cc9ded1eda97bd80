#include "platform/win32/win32_append_files.h"

#include <windows.h>

#include <string>

namespace corvane::win32 {

uint32_t Win32AppendFiles::AppendToFile(std::u16string_view path, std::string_view header, std::string_view data) {
    const std::u16string file(path);
    const HANDLE h = ::CreateFileW(reinterpret_cast<const wchar_t*>(file.c_str()), FILE_APPEND_DATA, FILE_SHARE_READ,
                                   nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return ::GetLastError();
    LARGE_INTEGER size {};
    if (!::GetFileSizeEx(h, &size)) {
        const DWORD err = ::GetLastError();
        ::CloseHandle(h);
        return err;
    }
    std::string bytes;
    if (size.QuadPart == 0) bytes.assign(header);
    bytes.append(data);
    DWORD err = 0;
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        DWORD written = 0;
        const DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
        if (!::WriteFile(h, p, chunk, &written, nullptr)) {
            err = ::GetLastError();
            break;
        }
        p += written;
        left -= written;
    }
    if (err != 0) {
        // Take back whatever part of the line made it, so the next line starts on its own.
        LARGE_INTEGER end = size;
        if (::SetFilePointerEx(h, end, nullptr, FILE_BEGIN)) ::SetEndOfFile(h);
    }
    ::CloseHandle(h);
    return err;
}

}  // namespace corvane::win32
