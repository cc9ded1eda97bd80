// Windows Sockets on POSIX. Start-up and clean-up keep a reference count. Every socket made here
// is registered; the clean-up that releases the last reference shuts all of them down and marks
// them drained, so that blocked accept and receive calls return at once with WsaError::Intr (the
// POSIX form of draining Windows Sockets in the stop sequence). errno values come back as
// Windows Sockets codes.
#pragma once

#include <mutex>
#include <unordered_map>

#include "platform/sockets.h"

namespace corvane::posix {

class PosixSockets final : public ISockets {
public:
    int Startup() override;
    int Cleanup() override;

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

    // Sockets made elsewhere (not through Create or Accept) that Cleanup should drain too.
    void RegisterSocket(int fd);
    void UnregisterSocket(int fd);

private:
    bool Initialised();
    bool IsDrained(int fd);
    int Adopt(int fd, SocketHandle& out);
    // The Windows Sockets code for a failed call on `fd` with errno `err`.
    int Failure(int fd, int err);

    std::mutex m_mutex;
    int m_references = 0;
    std::unordered_map<int, bool> m_sockets;  // fd -> drained
};

}  // namespace corvane::posix
