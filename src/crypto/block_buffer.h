// Buffering of the Merkle-Damgard digests (MD5, SHA-1, SHA-2): input is gathered into whole
// blocks for the compression function, and the final block carries the 0x80 marker and the
// message length in bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace corvane {

template <size_t BlockSize>
struct BlockBuffer {
    uint8_t m_data[BlockSize] = {};
    size_t m_nUsed = 0;
    uint64_t m_nTotal = 0;  // bytes fed so far

    // compress(const uint8_t* blocks, size_t count) consumes whole blocks.
    template <typename Compress>
    void Feed(const uint8_t* data, size_t length, Compress&& compress) {
        m_nTotal += length;
        if (m_nUsed) {
            const size_t take = length < BlockSize - m_nUsed ? length : BlockSize - m_nUsed;
            std::memcpy(m_data + m_nUsed, data, take);
            m_nUsed += take;
            data += take;
            length -= take;
            if (m_nUsed < BlockSize) return;
            compress(m_data, 1);
            m_nUsed = 0;
        }
        if (length >= BlockSize) {
            compress(data, length / BlockSize);
            data += length / BlockSize * BlockSize;
            length %= BlockSize;
        }
        if (length) {
            std::memcpy(m_data, data, length);
            m_nUsed = length;
        }
    }

    // Appends the padding and the bit length (lengthBytes wide, big- or little-endian).
    template <typename Compress>
    void Finish(size_t lengthBytes, bool bigEndianLength, Compress&& compress) {
        const uint64_t bits = m_nTotal * 8;
        m_data[m_nUsed++] = 0x80;
        if (m_nUsed > BlockSize - lengthBytes) {
            std::memset(m_data + m_nUsed, 0, BlockSize - m_nUsed);
            compress(m_data, 1);
            m_nUsed = 0;
        }
        std::memset(m_data + m_nUsed, 0, BlockSize - m_nUsed);
        for (size_t i = 0; i < 8 && i < lengthBytes; ++i) {
            const uint8_t byte = static_cast<uint8_t>(bits >> (8 * i));
            if (bigEndianLength) {
                m_data[BlockSize - 1 - i] = byte;
            } else {
                m_data[BlockSize - lengthBytes + i] = byte;
            }
        }
        compress(m_data, 1);
        m_nUsed = 0;
    }
};

inline uint32_t LoadBe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}
inline uint64_t LoadBe64(const uint8_t* p) { return static_cast<uint64_t>(LoadBe32(p)) << 32 | LoadBe32(p + 4); }
inline uint32_t LoadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[3]) << 24 | static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
}
inline void StoreBe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}
inline void StoreBe64(uint8_t* p, uint64_t v) {
    StoreBe32(p, static_cast<uint32_t>(v >> 32));
    StoreBe32(p + 4, static_cast<uint32_t>(v));
}
inline void StoreLe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
inline uint32_t Rotl32(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }
inline uint32_t Rotr32(uint32_t v, int n) { return (v >> n) | (v << (32 - n)); }
inline uint64_t Rotr64(uint64_t v, int n) { return (v >> n) | (v << (64 - n)); }

}  // namespace corvane
