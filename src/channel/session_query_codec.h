// Reading a network phone's session query (0x3014); its layout is in wire/session_query_layout.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "wire/session_query_layout.h"

namespace corvane {

struct SessionQuery {
    const uint8_t* deviceIdSlot = nullptr;  // the 40 identifier bytes, inside the datagram
    std::u16string deviceId;
    std::string principalUtf8;              // without its NUL
    std::u16string principal;
};

// Checks and reads a whole session query of `size` bytes: size = length + 8 and length = 40 +
// strlen(principal name) + 1. False otherwise.
bool DecodeSessionQuery(const uint8_t* datagram, size_t size, SessionQuery& out);

}  // namespace corvane
