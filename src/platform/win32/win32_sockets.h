// Windows Sockets 2.2. Each successful Startup takes one reference; Cleanup releases one, and the
// last release makes blocked socket calls of every thread fail (WSAEINTR).
#pragma once

#include "platform/sockets.h"

namespace corvane::win32 {

class Win32Sockets final : public ISockets {
public:
    int Startup() override;  // WSAStartup(2.2)
    int Cleanup() override;  // WSACleanup

    int Create(SocketKind kind, SocketHandle& out) override;
    int Close(SocketHandle s) override;
    int ShutdownSocket(SocketHandle s, SocketShutdown how) override;
    int Bind(SocketHandle s, const SockAddrIn& local) override;
    int Listen(SocketHandle s, int backlog) override;
    int Accept(SocketHandle s, SocketHandle& out, SockAddrIn* peer) override;
    int Connect(SocketHandle s, const SockAddrIn& remote) override;
    int GetLocalAddress(SocketHandle s, SockAddrIn& out) override;
    int SetReceiveTimeout(SocketHandle s, uint32_t milliseconds) override;
    int SetBroadcast(SocketHandle s, bool enable) override;
    int SetNonBlocking(SocketHandle s, bool enable) override;
    int GetPendingError(SocketHandle s, int& error) override;
    int Select(SocketHandle s, SocketWait direction, long seconds, long microseconds, SelectResult& result) override;
    int Send(SocketHandle s, const void* data, size_t size, size_t& sent) override;
    int Receive(SocketHandle s, void* buffer, size_t size, size_t& received) override;
    int SendTo(SocketHandle s, const void* data, size_t size, const SockAddrIn& to, size_t& sent) override;
    int ReceiveFrom(SocketHandle s, void* buffer, size_t size, size_t& received, SockAddrIn& from) override;
    int ResolveIPv4(std::u16string_view host, uint32_t& address) override;
};

}  // namespace corvane::win32
