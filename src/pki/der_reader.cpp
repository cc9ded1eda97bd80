#include "pki/der_reader.h"

namespace corvane {

bool DerReader::Next(DerItem& item) {
    const size_t left = static_cast<size_t>(m_end - m_p);
    if (left < 2) return false;
    const uint8_t tag = m_p[0];
    // Multi-byte tags are not used by anything the service reads.
    if ((tag & 0x1F) == 0x1F) return false;
    size_t header = 2;
    size_t length = m_p[1];
    if (length & 0x80) {
        const size_t count = length & 0x7F;
        // 0x80 is the indefinite form, which DER does not allow.
        if (count == 0 || count > 4 || left < 2 + count) return false;
        length = 0;
        for (size_t i = 0; i < count; ++i) length = (length << 8) | m_p[2 + i];
        header += count;
    }
    if (length > left - header) return false;
    item.tag = tag;
    item.start = m_p;
    item.data = m_p + header;
    item.length = length;
    item.total = header + length;
    m_p += item.total;
    return true;
}

bool DerReader::Next(uint8_t tag, DerItem& item) {
    if (PeekTag() != tag || AtEnd()) return false;
    return Next(item);
}

std::string DecodeOid(const uint8_t* data, size_t length) {
    if (length == 0 || length > 128 || (data[length - 1] & 0x80)) return {};
    std::string text;
    uint64_t value = 0;
    bool first = true;
    for (size_t i = 0; i < length; ++i) {
        // A component never starts with the padding byte 0x80.
        if (value == 0 && data[i] == 0x80) return {};
        if (value > (UINT64_MAX >> 7)) return {};
        value = (value << 7) | (data[i] & 0x7F);
        if (data[i] & 0x80) continue;
        if (first) {
            const uint64_t top = value < 40 ? 0 : value < 80 ? 1 : 2;
            text = std::to_string(top) + "." + std::to_string(value - top * 40);
            first = false;
        } else {
            text += "." + std::to_string(value);
        }
        value = 0;
    }
    return text;
}

}  // namespace corvane
