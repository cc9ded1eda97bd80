#include "crypto/der_reader.h"

namespace corvane {

namespace {
constexpr size_t kMaxLengthBytes = 4;
}

bool CDerReader::Length(size_t& length) {
    if (m_p >= m_end) return false;
    const uint8_t first = *m_p++;
    if (first < 0x80) {
        length = first;
        return true;
    }
    const size_t k = first & 0x7F;
    if (k == 0 || k > kMaxLengthBytes || static_cast<size_t>(m_end - m_p) < k) return false;
    length = 0;
    for (size_t i = 0; i < k; ++i) length = (length << 8) | *m_p++;
    return true;
}

bool CDerReader::Element(int requiredTag, const uint8_t*& value, size_t& length) {
    if (m_p >= m_end) return false;
    const uint8_t* const start = m_p;
    const uint8_t tag = *m_p++;
    size_t declared = 0;
    if ((requiredTag >= 0 && tag != requiredTag) || !Length(declared) ||
        declared > static_cast<size_t>(m_end - m_p)) {
        m_p = start;
        return false;
    }
    value = m_p;
    length = declared;
    m_p += declared;
    return true;
}

bool CDerReader::StrippedInteger(const uint8_t*& value, size_t& length) {
    if (!Integer(value, length)) return false;
    while (length && *value == 0) {
        ++value;
        --length;
    }
    return true;
}

}  // namespace corvane
