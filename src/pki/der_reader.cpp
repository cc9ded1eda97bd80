#include "pki/der_reader.h"

#include "crypto/der_reader.h"

namespace corvane {

bool DerReader::Next(DerItem& item) {
    // Multi-byte tags are not used by anything the service reads.
    if (m_p >= m_end || (*m_p & 0x1F) == 0x1F) return false;
    CDerReader reader(m_p, m_end);
    const uint8_t* value = nullptr;
    size_t length = 0;
    if (!reader.Element(-1, value, length)) return false;
    item.tag = *m_p;
    item.start = m_p;
    item.data = value;
    item.length = length;
    item.total = static_cast<size_t>(value + length - m_p);
    m_p = value + length;
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
