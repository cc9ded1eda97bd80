#include "platform/win32/win32_clock.h"

#include "platform/win32/win32_api.h"

namespace corvane::win32 {

namespace {
FILETIME ToFiletime(FileTime value) {
    const auto bits = static_cast<uint64_t>(value);
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(bits);
    ft.dwHighDateTime = static_cast<DWORD>(bits >> 32);
    return ft;
}

FileTime FromFiletime(const FILETIME& ft) {
    return static_cast<FileTime>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}
}  // namespace

uint32_t Win32Clock::GetTickCount() { return ::GetTickCount(); }

FileTime Win32Clock::GetSystemTimeAsFileTime() {
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    return FromFiletime(ft);
}

FileTime Win32Clock::ToLocalFileTime(FileTime utc) {
    const FILETIME in = ToFiletime(utc);
    FILETIME out;
    if (!::FileTimeToLocalFileTime(&in, &out)) return utc;
    return FromFiletime(out);
}

void Win32Clock::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace corvane::win32
