#include "channel/datagram_forward.h"

#include <cstring>
#include <memory>
#include <new>

#include "wire/result_codes.h"
#include "channel/socket_helpers.h"

namespace corvane {

int32_t ForwardDatagram(ISockets& sockets, uint16_t logonPortUdp, const uint8_t* datagram, size_t size,
                        const SockAddrIn& source) {
    if (logonPortUdp == 0) return Result::DatagramDropped;
    const size_t total = size + SockAddrIn::kSize;
    std::unique_ptr<uint8_t[]> envelope(new (std::nothrow) uint8_t[total]());
    if (!envelope) return Result::DatagramDropped;
    std::memcpy(envelope.get(), datagram, size);
    source.Encode(envelope.get() + size);
    SendDatagram(sockets, envelope.get(), total, u"127.0.0.1", logonPortUdp);
    return 0;
}

}  // namespace corvane
