#include "token/token_payload.h"

#include <cstring>

#include "wire/byte_order.h"

namespace corvane {

bool ReadTerminatedString(const uint8_t* data, size_t length, std::string_view& text) {
    if (data == nullptr || length == 0) return false;
    const void* nul = std::memchr(data, 0, length);
    if (nul == nullptr || static_cast<const uint8_t*>(nul) != data + length - 1) return false;
    text = std::string_view(reinterpret_cast<const char*>(data), length - 1);
    return true;
}

bool ReadStringPair(const uint8_t* data, size_t length, std::string_view& first, std::string_view& second) {
    if (data == nullptr || length < 2) return false;
    const void* nul = std::memchr(data, 0, length);
    if (nul == nullptr) return false;
    const size_t firstLength = static_cast<size_t>(static_cast<const uint8_t*>(nul) - data);
    if (!ReadTerminatedString(data + firstLength + 1, length - firstLength - 1, second)) return false;
    first = std::string_view(reinterpret_cast<const char*>(data), firstLength);
    return true;
}

std::vector<uint8_t> BuildTokenOperation(uint32_t slotId, uint16_t subOpcode, const uint8_t* data, size_t length) {
    std::vector<uint8_t> out(12 + length);
    WriteU32(out.data(), slotId);
    WriteU16(out.data() + 4, subOpcode);
    WriteU16(out.data() + 6, static_cast<uint16_t>(length));
    if (length) std::memcpy(out.data() + 12, data, length);
    return out;
}

}  // namespace corvane
