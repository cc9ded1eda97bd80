#include "channel/socket_helpers.h"

#include <cstring>

#include "wire/msg_header.h"
#include "platform/types.h"

namespace corvane {

int CreateSocket(ISockets& sockets, SocketKind kind, SocketHandle& out) {
    int rc = sockets.Create(kind, out);
    if (rc == WsaError::NotInitialised) {
        sockets.Startup();
        rc = sockets.Create(kind, out);
    }
    return rc;
}

int WaitSocket(ISockets& sockets, SocketHandle s, SocketWait direction, int timeoutMs) {
    if (timeoutMs <= 0) timeoutMs = kDefaultSocketWaitMs;
    SelectResult result;
    if (int rc = sockets.Select(s, direction, timeoutMs / 1000, (timeoutMs % 1000) * 1000L, result)) return rc;
    if (!result.ready && !result.exceptional) return WsaError::TimedOut;
    if (result.exceptional) {
        int pending = 0;
        if (int rc = sockets.GetPendingError(s, pending)) return rc;
        return pending;
    }
    return 0;
}

int ResolveHost(ISockets& sockets, std::u16string_view host, SockAddrIn& out) {
    out = SockAddrIn {};
    uint32_t address = 0;
    if (!ParseIPv4(host, address)) {
        int rc = sockets.ResolveIPv4(host, address);
        if (rc == WsaError::NotInitialised) {
            sockets.Startup();
            rc = sockets.ResolveIPv4(host, address);
        }
        if (rc) return rc;
    }
    out.address = address;
    return 0;
}

int ConnectLoopback(ISockets& sockets, SocketHandle& out, uint16_t port) {
    out = kInvalidSocket;
    SockAddrIn remote;
    if (int rc = ResolveHost(sockets, u"127.0.0.1", remote)) return rc;
    remote.port = port;
    SocketHandle s = kInvalidSocket;
    if (int rc = CreateSocket(sockets, SocketKind::Stream, s)) return rc;
    int rc = sockets.SetNonBlocking(s, true);
    if (rc == 0) {
        rc = sockets.Connect(s, remote);
        if (rc == WsaError::WouldBlock) rc = 0;
    }
    if (rc == 0) rc = WaitSocket(sockets, s, SocketWait::Write, kDefaultSocketWaitMs);
    if (rc != 0) {
        CloseSocket(sockets, s);
        return rc;
    }
    out = s;
    return 0;
}

int ReceiveExact(ISockets& sockets, uint8_t* buffer, size_t count, SocketHandle s, int timeoutMs) {
    if (!IsValidSocket(s)) return WsaError::NotSock;
    size_t done = 0;
    while (done < count) {
        if (timeoutMs > 0) {
            if (int rc = WaitSocket(sockets, s, SocketWait::Read, timeoutMs)) return rc;
        }
        size_t received = 0;
        if (int rc = sockets.Receive(s, buffer + done, count - done, received)) return rc;
        if (received == 0) return WsaError::ConnReset;
        done += received;
    }
    return 0;
}

int SendAll(ISockets& sockets, const uint8_t* data, size_t count, SocketHandle s, int timeoutMs) {
    if (!IsValidSocket(s)) return WsaError::NotSock;
    size_t done = 0;
    while (done < count) {
        if (int rc = WaitSocket(sockets, s, SocketWait::Write, timeoutMs)) return rc;
        size_t sent = 0;
        if (int rc = sockets.Send(s, data + done, count - done, sent)) return rc;
        done += sent;
    }
    return 0;
}

void CloseSocket(ISockets& sockets, SocketHandle s) {
    if (!IsValidSocket(s)) return;
    sockets.ShutdownSocket(s, SocketShutdown::Both);
    sockets.Close(s);
}

int ReceiveMessage(ISockets& sockets, uint8_t*& message, size_t& totalSize, SocketHandle s, ReplyArena& arena,
                   int timeoutMs) {
    message = nullptr;
    totalSize = 0;
    if (!IsValidSocket(s)) return WsaError::NotSock;
    uint8_t header[MsgHeader::kSize];
    if (int rc = ReceiveExact(sockets, header, sizeof header, s, timeoutMs)) return rc;
    const uint16_t length = MsgHeader::Decode(header, sizeof header)->length;
    uint8_t* block = arena.Allocate(static_cast<size_t>(length) + MsgHeader::kSize + 2);
    if (block == nullptr) return static_cast<int>(WinError::NotEnoughMemory);
    std::memcpy(block, header, sizeof header);
    if (int rc = ReceiveExact(sockets, block + MsgHeader::kSize, length, s, timeoutMs)) {
        arena.Forget(block);
        return rc;
    }
    message = block;
    totalSize = static_cast<size_t>(length) + MsgHeader::kSize;
    return 0;
}

int SendDatagram(ISockets& sockets, const uint8_t* data, size_t size, std::u16string_view address, uint16_t port) {
    SocketHandle s = kInvalidSocket;
    if (int rc = CreateSocket(sockets, SocketKind::Datagram, s)) return rc;
    int rc = sockets.SetBroadcast(s, true);
    SockAddrIn to;
    if (rc == 0 && !ParseIPv4(address, to.address)) rc = WsaError::Inval;
    if (rc == 0) {
        to.port = port;
        size_t sent = 0;
        rc = sockets.SendTo(s, data, size, to, sent);
    }
    CloseSocket(sockets, s);
    return rc;
}

}  // namespace corvane
