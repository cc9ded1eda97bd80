// One reader for the DER the service takes in (PKCS#1 RSA keys, from the registry, the CSP and
// tokens), with one rule for lengths: below 0x80 the byte itself; otherwise 0x80 + k followed by
// k big-endian length bytes, k from 1 to 4. The indefinite form (0x80 alone) and longer length
// fields are malformed. Every read is bounded by the end of the input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

class CDerReader {
public:
    CDerReader(const uint8_t* p, const uint8_t* end) : m_p(p), m_end(end) {}

    // A length at the current position; false when it is malformed or runs past the end.
    bool Length(size_t& length);
    // One element (tag, length, value) that ends within the input; with requiredTag < 0 the tag
    // is not examined. On success the reader stands after the element.
    bool Element(int requiredTag, const uint8_t*& value, size_t& length);
    // An INTEGER element, its value as stored.
    bool Integer(const uint8_t*& value, size_t& length) { return Element(0x02, value, length); }
    // An INTEGER element with the leading 0x00 bytes of its value skipped.
    bool StrippedInteger(const uint8_t*& value, size_t& length);

    const uint8_t* Position() const { return m_p; }
    const uint8_t* End() const { return m_end; }
    bool AtEnd() const { return m_p == m_end; }

private:
    const uint8_t* m_p;
    const uint8_t* m_end;
};

}  // namespace corvane
