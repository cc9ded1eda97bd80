// One connection of the loopback stream channel: requests in, one reply each, until the client
// closes the connection or a receive fails. The connection runs on a thread of its own, counted
// in ActiveWorkerCount; it never checks the stop flag, because the stop sequence's Windows
// Sockets clean-up makes its pending receive fail.
#pragma once

#include "channel/stream_request_handler.h"
#include "platform/sockets.h"

namespace corvane {

// The time-out of each wait while a reply is sent.
inline constexpr int kStreamReplySendTimeoutMs = 10000;

// Serves requests on the connected socket until the peer closes it, a receive fails or memory
// runs out; the socket stays open (the caller closes it). `connection` starts plain.
void ServeStreamConnection(ISockets& sockets, CStreamRequestHandler& handler, SocketHandle s,
                           StreamConnectionState& connection);

}  // namespace corvane
