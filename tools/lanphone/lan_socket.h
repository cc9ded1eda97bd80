// The stand-ins' side of the network: one UDP socket through the platform's Windows Sockets
// seam, bound to a port, that sends datagrams and receives them with a deadline.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/sockets.h"

namespace corvane::lan {

struct Received {
    std::vector<uint8_t> data;
    SockAddrIn from;
};

class LanSocket {
public:
    explicit LanSocket(ISockets& sockets);
    ~LanSocket();
    LanSocket(const LanSocket&) = delete;
    LanSocket& operator=(const LanSocket&) = delete;

    // Binds address:port (port 0: any free port). 0 or a Windows Sockets error.
    int Open(uint32_t address, uint16_t port);
    int SendTo(const std::vector<uint8_t>& datagram, const SockAddrIn& to);
    // The next datagram within `timeoutMs`, or nothing.
    std::optional<Received> Receive(uint32_t timeoutMs);

private:
    ISockets& m_sockets;
    SocketHandle m_socket = kInvalidSocket;
};

// "a.b.c.d" or a name, as an IPv4 address; nothing when it cannot be resolved.
std::optional<uint32_t> ResolveAddress(ISockets& sockets, const std::string& host);
// Lower-case hexadecimal of the bytes.
std::string Hex(const uint8_t* data, size_t size);
// Hexadecimal text (pairs, optional blanks) as bytes; nothing when malformed.
std::optional<std::vector<uint8_t>> ParseHex(const std::string& text);
// Decimal or 0x-prefixed hexadecimal; a leading minus gives the 32-bit two's complement.
std::optional<uint32_t> ParseNumber(const std::string& text);

}  // namespace corvane::lan
