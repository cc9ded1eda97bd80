// Small helpers for the crypto tests and fuzz targets: hex text and reproducible random bytes.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::test {

using Bytes = std::vector<uint8_t>;

inline Bytes Hex(std::string_view text) {
    Bytes out;
    int high = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else continue;  // spaces and separators
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

inline std::string ToHex(const uint8_t* data, size_t size) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 15]);
    }
    return out;
}
inline std::string ToHex(const Bytes& data) { return ToHex(data.data(), data.size()); }

inline Bytes Ascii(std::string_view text) { return Bytes(text.begin(), text.end()); }

// A seeded generator, so that a failing differential case can be reproduced.
class TestRandom {
public:
    explicit TestRandom(uint64_t seed) : m_engine(seed) {}
    Bytes Take(size_t n) {
        Bytes out(n);
        for (auto& b : out) b = static_cast<uint8_t>(m_engine());
        return out;
    }
    size_t Below(size_t n) { return n ? static_cast<size_t>(m_engine() % n) : 0; }

private:
    std::mt19937_64 m_engine;
};

}  // namespace corvane::test
