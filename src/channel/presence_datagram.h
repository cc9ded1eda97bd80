// The presence datagram of a phone on the local network (0x0001 announce, 0x0002 withdraw):
//   0  8  MsgHeader
//   8  2  device port
//  10  4  device value
//  14 40  device ID, UTF-8, NUL-terminated within the slot (unterminated when full)
//  54  n  device name, UTF-8, NUL-terminated
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane {

struct PresenceDatagram {
    uint16_t port = 0;
    uint32_t value = 0;
    std::u16string id;
    std::u16string name;
};

// Reads a whole presence datagram (header included, `size` bytes). False when it is too short,
// when the name has no terminator inside the datagram, or when the ID is empty or would not fit
// its 40-byte slot again in the network device list.
bool DecodePresence(const uint8_t* datagram, size_t size, PresenceDatagram& out);

}  // namespace corvane
