#include "crypto/sha1.h"

#include "crypto/sha_extensions.h"

namespace corvane {

void Sha1CompressPortable(uint32_t h[5], const uint8_t* blocks, size_t count) {
    for (; count; --count, blocks += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = LoadBe32(blocks + 4 * i);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        auto step = [&](uint32_t f, uint32_t k, uint32_t wi) {
            const uint32_t t = Rotl32(a, 5) + f + e + k + wi;
            e = d;
            d = c;
            c = Rotl32(b, 30);
            b = a;
            a = t;
        };
        auto schedule = [&](int i) {
            const uint32_t v = Rotl32(w[(i + 13) & 15] ^ w[(i + 8) & 15] ^ w[(i + 2) & 15] ^ w[i & 15], 1);
            w[i & 15] = v;
            return v;
        };
        for (int i = 0; i < 16; ++i) step(d ^ (b & (c ^ d)), 0x5a827999, w[i]);
        for (int i = 16; i < 20; ++i) step(d ^ (b & (c ^ d)), 0x5a827999, schedule(i));
        for (int i = 20; i < 40; ++i) step(b ^ c ^ d, 0x6ed9eba1, schedule(i));
        for (int i = 40; i < 60; ++i) step((b & c) | (d & (b | c)), 0x8f1bbcdc, schedule(i));
        for (int i = 60; i < 80; ++i) step(b ^ c ^ d, 0xca62c1d6, schedule(i));
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
}

namespace {
void Compress(uint32_t h[5], const uint8_t* blocks, size_t count) {
    if (HasShaExtensions()) {
        Sha1CompressShaExtensions(h, blocks, count);
    } else {
        Sha1CompressPortable(h, blocks, count);
    }
}
}  // namespace

void Sha1Init(Sha1State& state) {
    state = Sha1State {};
    state.m_h[0] = 0x67452301;
    state.m_h[1] = 0xefcdab89;
    state.m_h[2] = 0x98badcfe;
    state.m_h[3] = 0x10325476;
    state.m_h[4] = 0xc3d2e1f0;
}

void Sha1Update(Sha1State& state, const uint8_t* data, size_t length) {
    state.m_buffer.Feed(data, length, [&](const uint8_t* b, size_t n) { Compress(state.m_h, b, n); });
}

void Sha1Final(Sha1State& state, uint8_t digest[20]) {
    state.m_buffer.Finish(8, true, [&](const uint8_t* b, size_t n) { Compress(state.m_h, b, n); });
    for (int i = 0; i < 5; ++i) StoreBe32(digest + 4 * i, state.m_h[i]);
}

}  // namespace corvane
