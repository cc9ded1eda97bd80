#include "crypto/aes.h"

#include <array>

namespace corvane {

namespace {

constexpr uint8_t Times2(uint8_t x) { return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1b : 0)); }

constexpr uint8_t GfMultiply(uint8_t a, uint8_t b) {
    uint8_t r = 0;
    while (b) {
        if (b & 1) r ^= a;
        a = Times2(a);
        b >>= 1;
    }
    return r;
}

struct SBoxes {
    std::array<uint8_t, 256> forward {};
    std::array<uint8_t, 256> inverse {};
};

// The S-box: multiplicative inverse in GF(2^8) followed by the affine map.
constexpr SBoxes MakeSBoxes() {
    SBoxes boxes {};
    for (int x = 0; x < 256; ++x) {
        uint8_t inv = 0;
        for (int y = 1; y < 256 && x; ++y) {
            if (GfMultiply(static_cast<uint8_t>(x), static_cast<uint8_t>(y)) == 1) {
                inv = static_cast<uint8_t>(y);
                break;
            }
        }
        uint8_t s = inv;
        for (int i = 1; i <= 4; ++i) s ^= static_cast<uint8_t>((inv << i) | (inv >> (8 - i)));
        s ^= 0x63;
        boxes.forward[x] = s;
        boxes.inverse[s] = static_cast<uint8_t>(x);
    }
    return boxes;
}
constexpr SBoxes kBoxes = MakeSBoxes();

using Table = std::array<uint32_t, 256>;
struct Tables {
    Table te[4] {};
    Table td[4] {};
};

constexpr uint32_t RotateRight(uint32_t v, int n) { return n ? (v >> n) | (v << (32 - n)) : v; }

// Te0[x] holds the MixColumns column of S[x] (2s, s, s, 3s); Td0 the InvMixColumns column of
// S^-1[x] (14, 9, 13, 11); the other three tables are byte rotations of the first.
constexpr Tables MakeTables() {
    Tables t {};
    for (int x = 0; x < 256; ++x) {
        const uint8_t s = kBoxes.forward[x];
        const uint32_t e = static_cast<uint32_t>(GfMultiply(s, 2)) << 24 | static_cast<uint32_t>(s) << 16 |
                           static_cast<uint32_t>(s) << 8 | GfMultiply(s, 3);
        const uint8_t si = kBoxes.inverse[x];
        const uint32_t d = static_cast<uint32_t>(GfMultiply(si, 14)) << 24 |
                           static_cast<uint32_t>(GfMultiply(si, 9)) << 16 |
                           static_cast<uint32_t>(GfMultiply(si, 13)) << 8 | GfMultiply(si, 11);
        for (int k = 0; k < 4; ++k) {
            t.te[k][x] = RotateRight(e, 8 * k);
            t.td[k][x] = RotateRight(d, 8 * k);
        }
    }
    return t;
}
constexpr Tables kTables = MakeTables();

inline uint32_t Load(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}
inline void Store(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

inline uint32_t SubWord(uint32_t w) {
    const auto& s = kBoxes.forward;
    return static_cast<uint32_t>(s[w >> 24]) << 24 | static_cast<uint32_t>(s[(w >> 16) & 0xff]) << 16 |
           static_cast<uint32_t>(s[(w >> 8) & 0xff]) << 8 | s[w & 0xff];
}

// InvMixColumns of one round-key word, through the decryption tables.
inline uint32_t InvMixColumn(uint32_t w) {
    const auto& s = kBoxes.forward;
    const auto& td = kTables.td;
    return td[0][s[w >> 24]] ^ td[1][s[(w >> 16) & 0xff]] ^ td[2][s[(w >> 8) & 0xff]] ^ td[3][s[w & 0xff]];
}

inline uint8_t Byte(uint32_t w, int index) { return static_cast<uint8_t>(w >> (24 - 8 * index)); }

}  // namespace

bool AesSetKey(AesState& state, const uint8_t* key, uint32_t keyLength) {
    if (keyLength != 16 && keyLength != 24 && keyLength != 32) return false;
    const uint32_t nk = keyLength / 4;
    state.m_nRounds = nk + 6;
    const uint32_t words = 4 * (state.m_nRounds + 1);
    uint32_t* w = state.m_encrypt;
    for (uint32_t i = 0; i < nk; ++i) w[i] = Load(key + 4 * i);
    uint8_t rcon = 1;
    for (uint32_t i = nk; i < words; ++i) {
        uint32_t t = w[i - 1];
        if (i % nk == 0) {
            t = SubWord((t << 8) | (t >> 24)) ^ (static_cast<uint32_t>(rcon) << 24);
            rcon = Times2(rcon);
        } else if (nk > 6 && i % nk == 4) {
            t = SubWord(t);
        }
        w[i] = w[i - nk] ^ t;
    }
    // Decryption keys: the encryption keys round by round in reverse, InvMixColumns applied to all
    // but the first and the last.
    uint32_t* d = state.m_decrypt;
    for (uint32_t round = 0; round <= state.m_nRounds; ++round) {
        for (int c = 0; c < 4; ++c) {
            const uint32_t k = w[4 * (state.m_nRounds - round) + c];
            d[4 * round + c] = (round == 0 || round == state.m_nRounds) ? k : InvMixColumn(k);
        }
    }
    return true;
}

void AesEncryptBlock(const AesState& state, const uint8_t in[16], uint8_t out[16]) {
    const auto& te0 = kTables.te[0];
    const auto& te1 = kTables.te[1];
    const auto& te2 = kTables.te[2];
    const auto& te3 = kTables.te[3];
    const uint32_t* rk = state.m_encrypt;
    uint32_t s0 = Load(in) ^ rk[0];
    uint32_t s1 = Load(in + 4) ^ rk[1];
    uint32_t s2 = Load(in + 8) ^ rk[2];
    uint32_t s3 = Load(in + 12) ^ rk[3];
    for (uint32_t round = 1; round < state.m_nRounds; ++round) {
        rk += 4;
        const uint32_t t0 = te0[s0 >> 24] ^ te1[(s1 >> 16) & 0xff] ^ te2[(s2 >> 8) & 0xff] ^ te3[s3 & 0xff] ^ rk[0];
        const uint32_t t1 = te0[s1 >> 24] ^ te1[(s2 >> 16) & 0xff] ^ te2[(s3 >> 8) & 0xff] ^ te3[s0 & 0xff] ^ rk[1];
        const uint32_t t2 = te0[s2 >> 24] ^ te1[(s3 >> 16) & 0xff] ^ te2[(s0 >> 8) & 0xff] ^ te3[s1 & 0xff] ^ rk[2];
        const uint32_t t3 = te0[s3 >> 24] ^ te1[(s0 >> 16) & 0xff] ^ te2[(s1 >> 8) & 0xff] ^ te3[s2 & 0xff] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    const auto& s = kBoxes.forward;
    const uint32_t state0[4] = {s0, s1, s2, s3};
    for (int c = 0; c < 4; ++c) {
        const uint32_t v = static_cast<uint32_t>(s[Byte(state0[c], 0)]) << 24 |
                           static_cast<uint32_t>(s[Byte(state0[(c + 1) & 3], 1)]) << 16 |
                           static_cast<uint32_t>(s[Byte(state0[(c + 2) & 3], 2)]) << 8 |
                           s[Byte(state0[(c + 3) & 3], 3)];
        Store(out + 4 * c, v ^ rk[c]);
    }
}

void AesDecryptBlock(const AesState& state, const uint8_t in[16], uint8_t out[16]) {
    const auto& td0 = kTables.td[0];
    const auto& td1 = kTables.td[1];
    const auto& td2 = kTables.td[2];
    const auto& td3 = kTables.td[3];
    const uint32_t* rk = state.m_decrypt;
    uint32_t s0 = Load(in) ^ rk[0];
    uint32_t s1 = Load(in + 4) ^ rk[1];
    uint32_t s2 = Load(in + 8) ^ rk[2];
    uint32_t s3 = Load(in + 12) ^ rk[3];
    for (uint32_t round = 1; round < state.m_nRounds; ++round) {
        rk += 4;
        const uint32_t t0 = td0[s0 >> 24] ^ td1[(s3 >> 16) & 0xff] ^ td2[(s2 >> 8) & 0xff] ^ td3[s1 & 0xff] ^ rk[0];
        const uint32_t t1 = td0[s1 >> 24] ^ td1[(s0 >> 16) & 0xff] ^ td2[(s3 >> 8) & 0xff] ^ td3[s2 & 0xff] ^ rk[1];
        const uint32_t t2 = td0[s2 >> 24] ^ td1[(s1 >> 16) & 0xff] ^ td2[(s0 >> 8) & 0xff] ^ td3[s3 & 0xff] ^ rk[2];
        const uint32_t t3 = td0[s3 >> 24] ^ td1[(s2 >> 16) & 0xff] ^ td2[(s1 >> 8) & 0xff] ^ td3[s0 & 0xff] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    const auto& si = kBoxes.inverse;
    const uint32_t state0[4] = {s0, s1, s2, s3};
    for (int c = 0; c < 4; ++c) {
        const uint32_t v = static_cast<uint32_t>(si[Byte(state0[c], 0)]) << 24 |
                           static_cast<uint32_t>(si[Byte(state0[(c + 3) & 3], 1)]) << 16 |
                           static_cast<uint32_t>(si[Byte(state0[(c + 2) & 3], 2)]) << 8 |
                           si[Byte(state0[(c + 1) & 3], 3)];
        Store(out + 4 * c, v ^ rk[c]);
    }
}

}  // namespace corvane
