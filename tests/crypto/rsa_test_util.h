// Random sources and DER building blocks for the RSA tests.
#pragma once

#include <memory>
#include <random>
#include <vector>

#include "crypto/random_source.h"
#include "crypto_test_util.h"

namespace corvane::test {

// A deterministic random source: the same seed gives the same bytes, so a generated key can be
// reproduced.
inline RandomSource SeededRandom(uint64_t seed) {
    auto engine = std::make_shared<std::mt19937_64>(seed);
    return [engine](uint8_t* buffer, size_t size) {
        for (size_t i = 0; i < size; ++i) buffer[i] = static_cast<uint8_t>((*engine)());
        return uint32_t {0};
    };
}

// DER TLV with a definite length.
inline Bytes DerElement(uint8_t tag, const Bytes& value) {
    Bytes out {tag};
    const size_t n = value.size();
    if (n < 0x80) {
        out.push_back(static_cast<uint8_t>(n));
    } else if (n < 0x100) {
        out.insert(out.end(), {0x81, static_cast<uint8_t>(n)});
    } else {
        out.insert(out.end(), {0x82, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
    }
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

// A DER INTEGER of an unsigned big-endian value (a 00 byte added when the top bit is set).
inline Bytes DerInteger(Bytes value) {
    while (value.size() > 1 && value[0] == 0) value.erase(value.begin());
    if (value.empty() || (value[0] & 0x80)) value.insert(value.begin(), 0);
    return DerElement(0x02, value);
}

inline Bytes DerSequence(const std::vector<Bytes>& elements) {
    Bytes content;
    for (const auto& e : elements) content.insert(content.end(), e.begin(), e.end());
    return DerElement(0x30, content);
}

}  // namespace corvane::test
