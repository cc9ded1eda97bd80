// Forwarding a phone's datagram to the logon component: the received datagram unchanged, then
// the sender's 16-byte sockaddr_in, sent to 127.0.0.1 on the component's datagram port. The
// header's length is left as it was, so the receiver finds the address at offset length + 8.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/socket_address.h"
#include "platform/sockets.h"

namespace corvane {

// 0 once handed to the network (send errors are not reported further); -1 when no port is known
// (0) or memory runs out.
int32_t ForwardDatagram(ISockets& sockets, uint16_t logonPortUdp, const uint8_t* datagram, size_t size,
                        const SockAddrIn& source);

}  // namespace corvane
