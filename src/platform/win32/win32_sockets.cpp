#include "platform/win32/win32_sockets.h"

#include "platform/win32/win32_api.h"

namespace corvane::win32 {

int Win32Sockets::Startup() {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data);
}

int Win32Sockets::Cleanup() { return ::WSACleanup() == 0 ? 0 : ::WSAGetLastError(); }

}  // namespace corvane::win32
