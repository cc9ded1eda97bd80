#include "platform/win32/win32_sockets.h"

#include "platform/win32/win32_api.h"

#include <ws2tcpip.h>

#include <climits>
#include <string>

namespace corvane::win32 {

namespace {

SOCKET Native(SocketHandle s) { return static_cast<SOCKET>(s); }

sockaddr_in ToNative(const SockAddrIn& a) {
    sockaddr_in sin {};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(a.port);
    sin.sin_addr.s_addr = htonl(a.address);
    return sin;
}

SockAddrIn FromNative(const sockaddr_in& sin) {
    return SockAddrIn {SockAddrIn::kFamilyInet, ntohs(sin.sin_port), ntohl(sin.sin_addr.s_addr)};
}

int LastError() { return ::WSAGetLastError(); }

// Send and receive sizes are int on Windows Sockets.
int Clamp(size_t size) { return size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size); }

}  // namespace

int Win32Sockets::Startup() {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data);
}

int Win32Sockets::Cleanup() { return ::WSACleanup() == 0 ? 0 : LastError(); }

int Win32Sockets::Create(SocketKind kind, SocketHandle& out) {
    const bool stream = kind == SocketKind::Stream;
    const SOCKET s = ::socket(AF_INET, stream ? SOCK_STREAM : SOCK_DGRAM, stream ? IPPROTO_TCP : IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        out = kInvalidSocket;
        return LastError();
    }
    out = static_cast<SocketHandle>(s);
    return 0;
}

int Win32Sockets::Close(SocketHandle s) {
    if (!IsValidSocket(s)) return WsaError::NotSock;
    return ::closesocket(Native(s)) == 0 ? 0 : LastError();
}

int Win32Sockets::ShutdownSocket(SocketHandle s, SocketShutdown how) {
    if (!IsValidSocket(s)) return WsaError::NotSock;
    const int native = how == SocketShutdown::Receive ? SD_RECEIVE : how == SocketShutdown::Send ? SD_SEND : SD_BOTH;
    return ::shutdown(Native(s), native) == 0 ? 0 : LastError();
}

int Win32Sockets::Bind(SocketHandle s, const SockAddrIn& local) {
    if (!IsValidSocket(s)) return WsaError::NotSock;
    const sockaddr_in sin = ToNative(local);
    return ::bind(Native(s), reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0 ? 0 : LastError();
}

int Win32Sockets::Listen(SocketHandle s, int backlog) {
    if (!IsValidSocket(s)) return WsaError::NotSock;
    return ::listen(Native(s), backlog) == 0 ? 0 : LastError();
}

int Win32Sockets::Accept(SocketHandle s, SocketHandle& out, SockAddrIn* peer) {
    out = kInvalidSocket;
    if (!IsValidSocket(s)) return WsaError::NotSock;
    sockaddr_in sin {};
    int len = sizeof sin;
    const SOCKET client = ::accept(Native(s), reinterpret_cast<sockaddr*>(&sin), &len);
    if (client == INVALID_SOCKET) return LastError();
    if (peer) *peer = FromNative(sin);
    out = static_cast<SocketHandle>(client);
    return 0;
}

int Win32Sockets::Connect(SocketHandle s, const SockAddrIn& remote) {
    if (!IsValidSocket(s)) return WsaError::NotSock;
    const sockaddr_in sin = ToNative(remote);
    return ::connect(Native(s), reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0 ? 0 : LastError();
}

int Win32Sockets::GetLocalAddress(SocketHandle s, SockAddrIn& out) {
    if (!IsValidSocket(s)) return WsaError::NotSock;
    sockaddr_in sin {};
    int len = sizeof sin;
    if (::getsockname(Native(s), reinterpret_cast<sockaddr*>(&sin), &len) != 0) return LastError();
    out = FromNative(sin);
    return 0;
}

int Win32Sockets::SetReceiveTimeout(SocketHandle s, uint32_t milliseconds) {
    if (!IsValidSocket(s)) return WsaError::NotSock;
    const DWORD value = milliseconds;
    return ::setsockopt(Native(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value), sizeof value) == 0
               ? 0
               : LastError();
}

int Win32Sockets::SetBroadcast(SocketHandle s, bool enable) {
    if (!IsValidSocket(s)) return WsaError::NotSock;
    const BOOL value = enable ? TRUE : FALSE;
    return ::setsockopt(Native(s), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&value), sizeof value) == 0
               ? 0
               : LastError();
}

int Win32Sockets::SetNonBlocking(SocketHandle s, bool enable) {
    if (!IsValidSocket(s)) return WsaError::NotSock;
    u_long mode = enable ? 1 : 0;
    return ::ioctlsocket(Native(s), FIONBIO, &mode) == 0 ? 0 : LastError();
}

int Win32Sockets::GetPendingError(SocketHandle s, int& error) {
    if (!IsValidSocket(s)) return WsaError::NotSock;
    int value = 0;
    int len = sizeof value;
    if (::getsockopt(Native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&value), &len) != 0) return LastError();
    error = value;
    return 0;
}

int Win32Sockets::Select(SocketHandle s, SocketWait direction, long seconds, long microseconds,
                         SelectResult& result) {
    result = SelectResult {};
    if (!IsValidSocket(s)) return WsaError::NotSock;
    fd_set ready;
    fd_set except;
    FD_ZERO(&ready);
    FD_ZERO(&except);
    FD_SET(Native(s), &ready);
    FD_SET(Native(s), &except);
    timeval tv {};
    tv.tv_sec = seconds;
    tv.tv_usec = microseconds;
    const bool read = direction == SocketWait::Read;
    const int n = ::select(0, read ? &ready : nullptr, read ? nullptr : &ready, &except, &tv);
    if (n == SOCKET_ERROR) return LastError();
    result.ready = FD_ISSET(Native(s), &ready) != 0;
    result.exceptional = FD_ISSET(Native(s), &except) != 0;
    return 0;
}

int Win32Sockets::Send(SocketHandle s, const void* data, size_t size, size_t& sent) {
    sent = 0;
    if (!IsValidSocket(s)) return WsaError::NotSock;
    const int n = ::send(Native(s), static_cast<const char*>(data), Clamp(size), 0);
    if (n == SOCKET_ERROR) return LastError();
    sent = static_cast<size_t>(n);
    return 0;
}

int Win32Sockets::Receive(SocketHandle s, void* buffer, size_t size, size_t& received) {
    received = 0;
    if (!IsValidSocket(s)) return WsaError::NotSock;
    const int n = ::recv(Native(s), static_cast<char*>(buffer), Clamp(size), 0);
    if (n == SOCKET_ERROR) return LastError();
    received = static_cast<size_t>(n);
    return 0;
}

int Win32Sockets::SendTo(SocketHandle s, const void* data, size_t size, const SockAddrIn& to, size_t& sent) {
    sent = 0;
    if (!IsValidSocket(s)) return WsaError::NotSock;
    const sockaddr_in sin = ToNative(to);
    const int n = ::sendto(Native(s), static_cast<const char*>(data), Clamp(size), 0,
                           reinterpret_cast<const sockaddr*>(&sin), sizeof sin);
    if (n == SOCKET_ERROR) return LastError();
    sent = static_cast<size_t>(n);
    return 0;
}

int Win32Sockets::ReceiveFrom(SocketHandle s, void* buffer, size_t size, size_t& received, SockAddrIn& from) {
    received = 0;
    if (!IsValidSocket(s)) return WsaError::NotSock;
    sockaddr_in sin {};
    int len = sizeof sin;
    const int n = ::recvfrom(Native(s), static_cast<char*>(buffer), Clamp(size), 0, reinterpret_cast<sockaddr*>(&sin), &len);
    if (n == SOCKET_ERROR) return LastError();
    received = static_cast<size_t>(n);
    from = FromNative(sin);
    return 0;
}

int Win32Sockets::ResolveIPv4(std::u16string_view host, uint32_t& address) {
    const std::wstring name(reinterpret_cast<const wchar_t*>(host.data()), host.size());
    ADDRINFOW hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    ADDRINFOW* list = nullptr;
    if (const int rc = ::GetAddrInfoW(name.c_str(), nullptr, &hints, &list)) return rc;
    int result = WsaError::HostNotFound;
    for (ADDRINFOW* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
            address = ntohl(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr);
            result = 0;
            break;
        }
    }
    ::FreeAddrInfoW(list);
    return result;
}

}  // namespace corvane::win32
