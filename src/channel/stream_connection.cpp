#include "channel/stream_connection.h"

#include <cstring>
#include <new>

#include "channel/socket_helpers.h"

namespace corvane {

namespace {
constexpr size_t kTrailingZeros = 2;

// Receives one request into the arena: 0 with the message, or the receive's error (a closed
// connection, a drained socket) or 0x8009000E without memory.
int ReceiveRequest(ISockets& sockets, SocketHandle s, ReplyArena& arena, uint8_t*& request) {
    uint8_t header[MsgHeader::kSize];
    if (int rc = ReceiveExact(sockets, header, sizeof header, s, -1)) return rc;
    const MsgHeader decoded = *MsgHeader::Decode(header, sizeof header);
    request = arena.Allocate(MsgHeader::kSize + decoded.length + kTrailingZeros);
    if (request == nullptr) return static_cast<int>(StreamStatus::NteNoMemory);
    std::memcpy(request, header, sizeof header);
    if (decoded.length == 0) return 0;
    return ReceiveExact(sockets, request + MsgHeader::kSize, decoded.length, s, -1);
}
}  // namespace

void ServeStreamConnection(ISockets& sockets, CStreamRequestHandler& handler, SocketHandle s,
                           StreamConnectionState& connection) {
    ReplyArena arena;
    for (;;) {
        uint8_t* request = nullptr;
        try {
            if (ReceiveRequest(sockets, s, arena, request) != 0) break;
            const StreamReply reply = handler.HandleRequest(connection, request, arena);
            // A failed send is not reported further; the next receive finds a broken connection.
            SendAll(sockets, reply.data, reply.size, s, kStreamReplySendTimeoutMs);
        } catch (const std::bad_alloc&) {
            // The arena could not remember one more block: the connection ends like any other
            // out-of-memory case.
            break;
        }
        arena.Release();
    }
    arena.Release();
}

}  // namespace corvane
