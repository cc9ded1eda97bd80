// The socket helpers every network path of the service uses: bounded waits, exact receives,
// whole sends, framed message receipt, a loopback connect and a one-shot datagram send. Each
// reports failure as a Windows Sockets error code (0 for success) and never throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "wire/reply_arena.h"
#include "platform/sockets.h"

namespace corvane {

// WaitSocket's time-out when it is given 0 or less, and the time-out of ConnectLoopback.
inline constexpr int kDefaultSocketWaitMs = 10000;

// socket(AF_INET, ...); when Windows Sockets is not initialised yet, WSAStartup(2.2) and once
// more.
int CreateSocket(ISockets& sockets, SocketKind kind, SocketHandle& out);

// One select for reading or writing (always also for an exception), `timeoutMs` <= 0 meaning
// 10000 ms. 0 ready; WsaError::TimedOut; the select error; the socket's pending error when it is
// reported as exceptional.
int WaitSocket(ISockets& sockets, SocketHandle s, SocketWait direction, int timeoutMs);

// Dotted IPv4 text as it is, anything else through the resolver (IPv4 results only).
int ResolveHost(ISockets& sockets, std::u16string_view host, SockAddrIn& out);

// A non-blocking TCP connection to 127.0.0.1:port, completed within 10000 ms. The socket stays
// non-blocking; on failure it is closed and `out` is invalid.
int ConnectLoopback(ISockets& sockets, SocketHandle& out, uint16_t port);

// Receives exactly `count` bytes. A time-out above 0 waits before each receive; otherwise the
// receive blocks. A peer that closes gives WsaError::ConnReset.
int ReceiveExact(ISockets& sockets, uint8_t* buffer, size_t count, SocketHandle s, int timeoutMs);

// Sends every byte, waiting (with the WaitSocket rule for the time-out) before each send.
int SendAll(ISockets& sockets, const uint8_t* data, size_t count, SocketHandle s, int timeoutMs);

// Shuts a valid socket down in both directions and closes it; errors are ignored.
void CloseSocket(ISockets& sockets, SocketHandle s);

// Receives one framed message: the 8-byte header, then its `length` payload bytes, into a block
// of `length` + 10 zeroed bytes from the arena (two zero bytes follow the payload, so a payload
// that ends in a string is always terminated). `totalSize` is `length` + 8. On failure the block
// is taken back out of the arena.
int ReceiveMessage(ISockets& sockets, uint8_t*& message, size_t& totalSize, SocketHandle s, ReplyArena& arena,
                   int timeoutMs);

// Sends one datagram (broadcast allowed) from a fresh socket to address:port and closes that
// socket on every path. Address text that is not dotted IPv4 gives WsaError::Inval, nothing sent.
int SendDatagram(ISockets& sockets, const uint8_t* data, size_t size, std::u16string_view address, uint16_t port);

}  // namespace corvane
