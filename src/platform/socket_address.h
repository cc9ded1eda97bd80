// IPv4 socket addresses as the channels see them, and their dotted text. The 16-byte wire form
// is the Windows sockaddr_in: family 2 (little-endian), port and address in network order, eight
// zero bytes. Fields here are kept in host order; Encode and Decode do the conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

struct SockAddrIn {
    static constexpr size_t kSize = 16;
    static constexpr uint16_t kFamilyInet = 2;  // AF_INET
    static constexpr uint32_t kAny = 0;               // 0.0.0.0
    static constexpr uint32_t kLoopback = 0x7F000001;  // 127.0.0.1

    uint16_t family = kFamilyInet;
    uint16_t port = 0;     // host order
    uint32_t address = 0;  // host order: 127.0.0.1 is 0x7F000001

    static SockAddrIn Inet(uint32_t address, uint16_t port) { return SockAddrIn {kFamilyInet, port, address}; }

    // Writes the 16-byte sockaddr_in; reads one back (the eight trailing bytes are ignored).
    void Encode(uint8_t* out) const;
    static SockAddrIn Decode(const uint8_t* in);

    bool operator==(const SockAddrIn&) const = default;
};

// Strict dotted-decimal IPv4 text ("192.168.1.20"), as InetPton accepts it: four decimal parts of
// 0-255, no leading sign, no other characters. False for anything else.
bool ParseIPv4(std::u16string_view text, uint32_t& address);
// "a.b.c.d" for a host-order address (at most 15 characters).
std::u16string FormatIPv4(uint32_t address);

}  // namespace corvane
