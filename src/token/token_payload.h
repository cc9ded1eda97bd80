// Readers of the narrow strings in token operation data. Every reader checks the sub-length
// before it reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace corvane {

// One NUL-terminated string filling the data exactly: sub-length = string length + 1.
bool ReadTerminatedString(const uint8_t* data, size_t length, std::string_view& text);
// Two NUL-terminated strings filling the data exactly: sub-length = both lengths + 2.
bool ReadStringPair(const uint8_t* data, size_t length, std::string_view& first, std::string_view& second);

// The payload of a token operation request (0x7011): u32 slot id, u16 sub-opcode, u16
// sub-length, four unused bytes, then the operation data. Used by the clients of the request.
std::vector<uint8_t> BuildTokenOperation(uint32_t slotId, uint16_t subOpcode, const uint8_t* data, size_t length);

}  // namespace corvane
