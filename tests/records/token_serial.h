// A token's device id as the service forms it: the 16 serial bytes read as a GUID, as text.
#pragma once

#include <cstring>
#include <string>

#include "platform/guid_text.h"

namespace corvane::test {

inline std::u16string TokenGuidText(const char* serial) {
    uint8_t b[16] = {};
    std::memcpy(b, serial, std::min<size_t>(std::strlen(serial), 16));
    Guid guid;
    guid.data1 = static_cast<uint32_t>(b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24);
    guid.data2 = static_cast<uint16_t>(b[4] | b[5] << 8);
    guid.data3 = static_cast<uint16_t>(b[6] | b[7] << 8);
    std::memcpy(guid.data4, b + 8, 8);
    return FormatGuid(guid);
}

}  // namespace corvane::test
