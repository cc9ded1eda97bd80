// Walks the DER of certificates' extensions and of CRLs one element at a time, on the service's
// one DER reader (its length rules): each element with where it starts and how long it is whole,
// and the dotted text of object identifiers. Only single-byte tags exist in what is read here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane {

namespace DerTag {
constexpr uint8_t Integer = 0x02;
constexpr uint8_t BitString = 0x03;
constexpr uint8_t OctetString = 0x04;
constexpr uint8_t Null = 0x05;
constexpr uint8_t Oid = 0x06;
constexpr uint8_t Utf8String = 0x0C;
constexpr uint8_t UtcTime = 0x17;
constexpr uint8_t GeneralizedTime = 0x18;
constexpr uint8_t Sequence = 0x30;
constexpr uint8_t Set = 0x31;
constexpr uint8_t ContextExplicit0 = 0xA0;
}  // namespace DerTag

struct DerItem {
    uint8_t tag = 0;
    const uint8_t* start = nullptr;  // the tag byte
    const uint8_t* data = nullptr;   // the contents
    size_t length = 0;               // of the contents
    size_t total = 0;                // tag, length and contents
};

class DerReader {
public:
    DerReader(const uint8_t* data, size_t size) : m_p(data), m_end(data + size) {}
    explicit DerReader(const DerItem& constructed) : DerReader(constructed.data, constructed.length) {}

    bool AtEnd() const { return m_p == m_end; }
    // The next item, or false (and nothing consumed) when the bytes do not hold a whole one.
    bool Next(DerItem& item);
    // The next item when it has this tag.
    bool Next(uint8_t tag, DerItem& item);
    // The tag of the next item without consuming it; 0 at the end.
    uint8_t PeekTag() const { return m_p < m_end ? *m_p : 0; }

private:
    const uint8_t* m_p;
    const uint8_t* m_end;
};

// The dotted text of an OBJECT IDENTIFIER's contents; empty when malformed.
std::string DecodeOid(const uint8_t* data, size_t length);

}  // namespace corvane
