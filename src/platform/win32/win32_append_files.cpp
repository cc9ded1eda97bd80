#include "platform/win32/win32_append_files.h"

#include <windows.h>

#include <string>

namespace corvane::win32 {

namespace {
uint32_t WriteWithWriteFile(void* file, const char* data, uint32_t size, uint32_t& written) {
    DWORD done = 0;
    const BOOL ok = ::WriteFile(static_cast<HANDLE>(file), data, size, &done, nullptr);
    written = done;
    return ok ? 0 : ::GetLastError();
}
}  // namespace

Win32AppendFiles::Win32AppendFiles() : m_write(WriteWithWriteFile) {}

uint32_t Win32AppendFiles::AppendToFile(std::u16string_view path, std::string_view header, std::string_view data) {
    const std::u16string file(path);
    const HANDLE h = ::CreateFileW(reinterpret_cast<const wchar_t*>(file.c_str()), FILE_APPEND_DATA | FILE_WRITE_DATA,
                                   FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return ::GetLastError();
    LARGE_INTEGER size {};
    if (!::GetFileSizeEx(h, &size) || !::SetFilePointerEx(h, size, nullptr, FILE_BEGIN)) {
        const DWORD err = ::GetLastError();
        ::CloseHandle(h);
        return err;
    }
    std::string bytes;
    if (size.QuadPart == 0) bytes.assign(header);
    bytes.append(data);
    uint32_t err = 0;
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        uint32_t written = 0;
        const uint32_t chunk = left > 0x10000000 ? 0x10000000 : static_cast<uint32_t>(left);
        err = m_write(h, p, chunk, written);
        if (err == 0 && written == 0) err = ERROR_WRITE_FAULT;
        if (err != 0) break;
        p += written;
        left -= written;
    }
    if (err != 0) {
        // Take back whatever part of the line made it, so the next line starts on its own.
        if (::SetFilePointerEx(h, size, nullptr, FILE_BEGIN)) ::SetEndOfFile(h);
    }
    ::CloseHandle(h);
    return err;
}

}  // namespace corvane::win32
