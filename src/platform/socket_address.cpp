#include "platform/socket_address.h"

namespace corvane {

void SockAddrIn::Encode(uint8_t* out) const {
    out[0] = static_cast<uint8_t>(family);
    out[1] = static_cast<uint8_t>(family >> 8);
    out[2] = static_cast<uint8_t>(port >> 8);
    out[3] = static_cast<uint8_t>(port);
    out[4] = static_cast<uint8_t>(address >> 24);
    out[5] = static_cast<uint8_t>(address >> 16);
    out[6] = static_cast<uint8_t>(address >> 8);
    out[7] = static_cast<uint8_t>(address);
    for (size_t i = 8; i < kSize; ++i) out[i] = 0;
}

SockAddrIn SockAddrIn::Decode(const uint8_t* in) {
    SockAddrIn a;
    a.family = static_cast<uint16_t>(in[0] | (in[1] << 8));
    a.port = static_cast<uint16_t>((in[2] << 8) | in[3]);
    a.address = (static_cast<uint32_t>(in[4]) << 24) | (static_cast<uint32_t>(in[5]) << 16) |
                (static_cast<uint32_t>(in[6]) << 8) | in[7];
    return a;
}

bool ParseIPv4(std::u16string_view text, uint32_t& address) {
    uint32_t result = 0;
    size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= text.size() || text[i] != u'.') return false;
            ++i;
        }
        const size_t start = i;
        uint32_t value = 0;
        while (i < text.size() && text[i] >= u'0' && text[i] <= u'9' && i - start < 3) {
            value = value * 10 + static_cast<uint32_t>(text[i] - u'0');
            ++i;
        }
        if (i == start || value > 255) return false;
        result = (result << 8) | value;
    }
    if (i != text.size()) return false;
    address = result;
    return true;
}

std::u16string FormatIPv4(uint32_t address) {
    std::u16string out;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const uint32_t part = (address >> shift) & 0xFF;
        if (shift != 24) out.push_back(u'.');
        if (part >= 100) out.push_back(static_cast<char16_t>(u'0' + part / 100));
        if (part >= 10) out.push_back(static_cast<char16_t>(u'0' + part / 10 % 10));
        out.push_back(static_cast<char16_t>(u'0' + part % 10));
    }
    return out;
}

}  // namespace corvane
