#include "platform/guid_text.h"

#include <cstdio>

#include "platform/text.h"

namespace corvane {

std::u16string FormatGuid(const Guid& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1, g.data2,
                  g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6],
                  g.data4[7]);
    return AsciiToUtf16(buf);
}

namespace {
int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

bool ReadHex(std::u16string_view t, size_t pos, size_t digits, uint64_t& out) {
    out = 0;
    for (size_t i = 0; i < digits; ++i) {
        const int v = HexValue(t[pos + i]);
        if (v < 0) return false;
        out = (out << 4) | static_cast<uint64_t>(v);
    }
    return true;
}
}  // namespace

std::optional<Guid> ParseGuid(std::u16string_view t) {
    if (t.size() != 38 || t[0] != u'{' || t[37] != u'}') return std::nullopt;
    if (t[9] != u'-' || t[14] != u'-' || t[19] != u'-' || t[24] != u'-') return std::nullopt;
    Guid g;
    uint64_t v = 0;
    if (!ReadHex(t, 1, 8, v)) return std::nullopt;
    g.data1 = static_cast<uint32_t>(v);
    if (!ReadHex(t, 10, 4, v)) return std::nullopt;
    g.data2 = static_cast<uint16_t>(v);
    if (!ReadHex(t, 15, 4, v)) return std::nullopt;
    g.data3 = static_cast<uint16_t>(v);
    const size_t bytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(t, bytePos[i], 2, v)) return std::nullopt;
        g.data4[i] = static_cast<uint8_t>(v);
    }
    return g;
}

}  // namespace corvane
