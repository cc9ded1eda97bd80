#include "platform/posix/posix_sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/posix/posix_socket_errors.h"
#include "platform/text.h"

namespace corvane::posix {

namespace {

bool ToFd(SocketHandle s, int& fd) {
    if (!IsValidSocket(s) || s < 0 || s > INT_MAX) return false;
    fd = static_cast<int>(s);
    return true;
}

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

bool IsNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK) != 0;
}

}  // namespace

int PosixSockets::Startup() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_references;
    return 0;
}

int PosixSockets::Cleanup() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_references == 0) return WsaError::NotInitialised;
    if (--m_references == 0) {
        // Shutting a socket down wakes every thread blocked on it; the drained mark turns what
        // those calls then return into WsaError::Intr.
        for (auto& [fd, drained] : m_sockets) {
            drained = true;
            ::shutdown(fd, SHUT_RDWR);
        }
    }
    return 0;
}

void PosixSockets::RegisterSocket(int fd) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sockets[fd] = false;
}

void PosixSockets::UnregisterSocket(int fd) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sockets.erase(fd);
}

bool PosixSockets::Initialised() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_references > 0;
}

bool PosixSockets::IsDrained(int fd) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_sockets.find(fd);
    return it != m_sockets.end() && it->second;
}

int PosixSockets::Failure(int fd, int err) {
    if (IsDrained(fd)) return WsaError::Intr;
    // A blocking receive that ran out its SO_RCVTIMEO reports a time-out, as Windows Sockets does.
    if ((err == EAGAIN || err == EWOULDBLOCK) && !IsNonBlocking(fd)) return WsaError::TimedOut;
    return ErrnoToWsaError(err);
}

int PosixSockets::Adopt(int fd, SocketHandle& out) {
    // Descriptor 0 would read as an invalid socket; move it out of the way.
    if (fd == 0) {
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
        const int err = errno;
        ::close(fd);
        if (moved < 0) return ErrnoToWsaError(err);
        fd = moved;
    }
    RegisterSocket(fd);
    out = fd;
    return 0;
}

int PosixSockets::Create(SocketKind kind, SocketHandle& out) {
    out = kInvalidSocket;
    if (!Initialised()) return WsaError::NotInitialised;
    const bool stream = kind == SocketKind::Stream;
    const int fd = ::socket(AF_INET, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC,
                            stream ? IPPROTO_TCP : IPPROTO_UDP);
    if (fd < 0) return ErrnoToWsaError(errno);
    if (stream) {
        // Windows lets a listener bind a port that still has connections in TIME_WAIT; on Linux
        // that takes SO_REUSEADDR (which, for TCP, still refuses a second listener).
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    return Adopt(fd, out);
}

int PosixSockets::Close(SocketHandle s) {
    int fd;
    if (!ToFd(s, fd)) return WsaError::NotSock;
    UnregisterSocket(fd);
    return ::close(fd) == 0 ? 0 : ErrnoToWsaError(errno);
}

int PosixSockets::ShutdownSocket(SocketHandle s, SocketShutdown how) {
    int fd;
    if (!ToFd(s, fd)) return WsaError::NotSock;
    const int native = how == SocketShutdown::Receive ? SHUT_RD : how == SocketShutdown::Send ? SHUT_WR : SHUT_RDWR;
    return ::shutdown(fd, native) == 0 ? 0 : Failure(fd, errno);
}

int PosixSockets::Bind(SocketHandle s, const SockAddrIn& local) {
    int fd;
    if (!ToFd(s, fd)) return WsaError::NotSock;
    const sockaddr_in sin = ToNative(local);
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0 ? 0 : Failure(fd, errno);
}

int PosixSockets::Listen(SocketHandle s, int backlog) {
    int fd;
    if (!ToFd(s, fd)) return WsaError::NotSock;
    return ::listen(fd, backlog) == 0 ? 0 : Failure(fd, errno);
}

int PosixSockets::Accept(SocketHandle s, SocketHandle& out, SockAddrIn* peer) {
    out = kInvalidSocket;
    int fd;
    if (!ToFd(s, fd)) return WsaError::NotSock;
    sockaddr_in sin {};
    socklen_t len = sizeof sin;
    int client;
    do {
        client = ::accept4(fd, reinterpret_cast<sockaddr*>(&sin), &len, SOCK_CLOEXEC);
    } while (client < 0 && errno == EINTR && !IsDrained(fd));
    if (client < 0) return Failure(fd, errno);
    // An accepted socket inherits the listener's blocking mode, as with Windows Sockets.
    if (IsNonBlocking(fd)) ::fcntl(client, F_SETFL, ::fcntl(client, F_GETFL) | O_NONBLOCK);
    if (peer) *peer = FromNative(sin);
    return Adopt(client, out);
}

int PosixSockets::Connect(SocketHandle s, const SockAddrIn& remote) {
    int fd;
    if (!ToFd(s, fd)) return WsaError::NotSock;
    const sockaddr_in sin = ToNative(remote);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0) return 0;
    // An interrupted connect goes on in the background, like one in progress.
    if (errno == EINTR) return WsaError::WouldBlock;
    return Failure(fd, errno);
}

int PosixSockets::GetLocalAddress(SocketHandle s, SockAddrIn& out) {
    int fd;
    if (!ToFd(s, fd)) return WsaError::NotSock;
    sockaddr_in sin {};
    socklen_t len = sizeof sin;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0) return Failure(fd, errno);
    out = FromNative(sin);
    return 0;
}

int PosixSockets::SetReceiveTimeout(SocketHandle s, uint32_t milliseconds) {
    int fd;
    if (!ToFd(s, fd)) return WsaError::NotSock;
    timeval tv {};
    tv.tv_sec = static_cast<time_t>(milliseconds / 1000);
    tv.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
    return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 ? 0 : Failure(fd, errno);
}

int PosixSockets::SetBroadcast(SocketHandle s, bool enable) {
    int fd;
    if (!ToFd(s, fd)) return WsaError::NotSock;
    const int on = enable ? 1 : 0;
    return ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0 ? 0 : Failure(fd, errno);
}

int PosixSockets::SetNonBlocking(SocketHandle s, bool enable) {
    int fd;
    if (!ToFd(s, fd)) return WsaError::NotSock;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return Failure(fd, errno);
    const int wanted = enable ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return ::fcntl(fd, F_SETFL, wanted) == 0 ? 0 : Failure(fd, errno);
}

int PosixSockets::GetPendingError(SocketHandle s, int& error) {
    int fd;
    if (!ToFd(s, fd)) return WsaError::NotSock;
    int value = 0;
    socklen_t len = sizeof value;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &value, &len) != 0) return Failure(fd, errno);
    error = ErrnoToWsaError(value);
    return 0;
}

int PosixSockets::Select(SocketHandle s, SocketWait direction, long seconds, long microseconds,
                         SelectResult& result) {
    result = SelectResult {};
    int fd;
    if (!ToFd(s, fd)) return WsaError::NotSock;
    if (seconds < 0 || microseconds < 0) return WsaError::Inval;
    const long long total = static_cast<long long>(seconds) * 1000 + (microseconds + 999) / 1000;
    const int timeout = total > INT_MAX ? INT_MAX : static_cast<int>(total);
    pollfd p {fd, static_cast<short>(direction == SocketWait::Read ? POLLIN : POLLOUT), 0};
    int n;
    do {
        n = ::poll(&p, 1, timeout);
    } while (n < 0 && errno == EINTR && !IsDrained(fd));
    if (n < 0) return Failure(fd, errno);
    if (IsDrained(fd)) return WsaError::Intr;
    if (p.revents & POLLNVAL) return WsaError::NotSock;
    // A failed non-blocking connect shows as an error condition: the exception set of select.
    result.exceptional = (p.revents & POLLERR) != 0;
    const short readyMask = direction == SocketWait::Read ? (POLLIN | POLLHUP) : POLLOUT;
    result.ready = !result.exceptional && (p.revents & readyMask) != 0;
    return 0;
}

int PosixSockets::Send(SocketHandle s, const void* data, size_t size, size_t& sent) {
    sent = 0;
    int fd;
    if (!ToFd(s, fd)) return WsaError::NotSock;
    ssize_t n;
    do {
        n = ::send(fd, data, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR && !IsDrained(fd));
    if (n < 0) return Failure(fd, errno);
    sent = static_cast<size_t>(n);
    return 0;
}

int PosixSockets::Receive(SocketHandle s, void* buffer, size_t size, size_t& received) {
    received = 0;
    int fd;
    if (!ToFd(s, fd)) return WsaError::NotSock;
    ssize_t n;
    do {
        n = ::recv(fd, buffer, size, 0);
    } while (n < 0 && errno == EINTR && !IsDrained(fd));
    if (n < 0) return Failure(fd, errno);
    if (n == 0 && size > 0 && IsDrained(fd)) return WsaError::Intr;
    received = static_cast<size_t>(n);
    return 0;
}

int PosixSockets::SendTo(SocketHandle s, const void* data, size_t size, const SockAddrIn& to, size_t& sent) {
    sent = 0;
    int fd;
    if (!ToFd(s, fd)) return WsaError::NotSock;
    const sockaddr_in sin = ToNative(to);
    ssize_t n;
    do {
        n = ::sendto(fd, data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sin), sizeof sin);
    } while (n < 0 && errno == EINTR && !IsDrained(fd));
    if (n < 0) return Failure(fd, errno);
    sent = static_cast<size_t>(n);
    return 0;
}

int PosixSockets::ReceiveFrom(SocketHandle s, void* buffer, size_t size, size_t& received, SockAddrIn& from) {
    received = 0;
    int fd;
    if (!ToFd(s, fd)) return WsaError::NotSock;
    sockaddr_in sin {};
    socklen_t len;
    ssize_t n;
    do {
        len = sizeof sin;
        n = ::recvfrom(fd, buffer, size, 0, reinterpret_cast<sockaddr*>(&sin), &len);
    } while (n < 0 && errno == EINTR && !IsDrained(fd));
    if (n < 0) return Failure(fd, errno);
    // A drained socket reads as shut down (0 bytes); an empty datagram reads the same, so ask.
    if (n == 0 && IsDrained(fd)) return WsaError::Intr;
    received = static_cast<size_t>(n);
    from = FromNative(sin);
    return 0;
}

int PosixSockets::ResolveIPv4(std::u16string_view host, uint32_t& address) {
    if (!Initialised()) return WsaError::NotInitialised;
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* list = nullptr;
    const std::string name = Utf16ToUtf8(host);
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (rc != 0) return rc == EAI_SYSTEM ? ErrnoToWsaError(errno) : AddrInfoErrorToWsaError(rc);
    int result = WsaError::HostNotFound;
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
            address = ntohl(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr);
            result = 0;
            break;
        }
    }
    ::freeaddrinfo(list);
    return result;
}

}  // namespace corvane::posix
