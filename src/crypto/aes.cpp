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

constexpr uint8_t RotateLeft8(uint8_t v, int n) { return static_cast<uint8_t>((v << n) | (v >> (8 - n))); }

// The S-box: multiplicative inverse in GF(2^8) followed by the affine map. p runs through the
// powers of the generator 3 while q runs through the powers of its inverse, so q = p^-1 at every
// step.
constexpr SBoxes MakeSBoxes() {
    SBoxes boxes {};
    uint8_t p = 1, q = 1;
    do {
        p = static_cast<uint8_t>(p ^ (p << 1) ^ ((p & 0x80) ? 0x1B : 0));
        q = static_cast<uint8_t>(q ^ (q << 1));
        q = static_cast<uint8_t>(q ^ (q << 2));
        q = static_cast<uint8_t>(q ^ (q << 4));
        if (q & 0x80) q = static_cast<uint8_t>(q ^ 0x09);
        const uint8_t s = static_cast<uint8_t>(q ^ RotateLeft8(q, 1) ^ RotateLeft8(q, 2) ^ RotateLeft8(q, 3) ^
                                               RotateLeft8(q, 4) ^ 0x63);
        boxes.forward[p] = s;
        boxes.inverse[s] = p;
    } while (p != 1);
    boxes.forward[0] = 0x63;
    boxes.inverse[0x63] = 0;
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

namespace {

// The cipher on four big-endian state words, in place.
inline void EncryptWords(const AesState& state, uint32_t& w0, uint32_t& w1, uint32_t& w2, uint32_t& w3) {
    const auto& te0 = kTables.te[0];
    const auto& te1 = kTables.te[1];
    const auto& te2 = kTables.te[2];
    const auto& te3 = kTables.te[3];
    const uint32_t* rk = state.m_encrypt;
    uint32_t s0 = w0 ^ rk[0], s1 = w1 ^ rk[1], s2 = w2 ^ rk[2], s3 = w3 ^ rk[3];
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
    // The last round has no MixColumns: each table entry holds the plain S-box value in one byte
    // (te2 in the top byte, te3 in the second, te0 in the third, te1 in the low byte).
    w0 = (te2[s0 >> 24] & 0xff000000) ^ (te3[(s1 >> 16) & 0xff] & 0x00ff0000) ^ (te0[(s2 >> 8) & 0xff] & 0x0000ff00) ^
         (te1[s3 & 0xff] & 0x000000ff) ^ rk[0];
    w1 = (te2[s1 >> 24] & 0xff000000) ^ (te3[(s2 >> 16) & 0xff] & 0x00ff0000) ^ (te0[(s3 >> 8) & 0xff] & 0x0000ff00) ^
         (te1[s0 & 0xff] & 0x000000ff) ^ rk[1];
    w2 = (te2[s2 >> 24] & 0xff000000) ^ (te3[(s3 >> 16) & 0xff] & 0x00ff0000) ^ (te0[(s0 >> 8) & 0xff] & 0x0000ff00) ^
         (te1[s1 & 0xff] & 0x000000ff) ^ rk[2];
    w3 = (te2[s3 >> 24] & 0xff000000) ^ (te3[(s0 >> 16) & 0xff] & 0x00ff0000) ^ (te0[(s1 >> 8) & 0xff] & 0x0000ff00) ^
         (te1[s2 & 0xff] & 0x000000ff) ^ rk[3];
}

inline void DecryptWords(const AesState& state, uint32_t& w0, uint32_t& w1, uint32_t& w2, uint32_t& w3) {
    const auto& td0 = kTables.td[0];
    const auto& td1 = kTables.td[1];
    const auto& td2 = kTables.td[2];
    const auto& td3 = kTables.td[3];
    const uint32_t* rk = state.m_decrypt;
    uint32_t s0 = w0 ^ rk[0], s1 = w1 ^ rk[1], s2 = w2 ^ rk[2], s3 = w3 ^ rk[3];
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
    auto last = [&si](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
        return static_cast<uint32_t>(si[a >> 24]) << 24 | static_cast<uint32_t>(si[(b >> 16) & 0xff]) << 16 |
               static_cast<uint32_t>(si[(c >> 8) & 0xff]) << 8 | si[d & 0xff];
    };
    w0 = last(s0, s3, s2, s1) ^ rk[0];
    w1 = last(s1, s0, s3, s2) ^ rk[1];
    w2 = last(s2, s1, s0, s3) ^ rk[2];
    w3 = last(s3, s2, s1, s0) ^ rk[3];
}

}  // namespace

void AesEncryptBlock(const AesState& state, const uint8_t in[16], uint8_t out[16]) {
    uint32_t w0 = Load(in), w1 = Load(in + 4), w2 = Load(in + 8), w3 = Load(in + 12);
    EncryptWords(state, w0, w1, w2, w3);
    Store(out, w0);
    Store(out + 4, w1);
    Store(out + 8, w2);
    Store(out + 12, w3);
}

void AesDecryptBlock(const AesState& state, const uint8_t in[16], uint8_t out[16]) {
    uint32_t w0 = Load(in), w1 = Load(in + 4), w2 = Load(in + 8), w3 = Load(in + 12);
    DecryptWords(state, w0, w1, w2, w3);
    Store(out, w0);
    Store(out + 4, w1);
    Store(out + 8, w2);
    Store(out + 12, w3);
}

void AesEncryptCbc(const AesState& state, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks) {
    uint32_t c0 = Load(chain), c1 = Load(chain + 4), c2 = Load(chain + 8), c3 = Load(chain + 12);
    for (; blocks; --blocks, in += 16, out += 16) {
        c0 ^= Load(in);
        c1 ^= Load(in + 4);
        c2 ^= Load(in + 8);
        c3 ^= Load(in + 12);
        EncryptWords(state, c0, c1, c2, c3);
        Store(out, c0);
        Store(out + 4, c1);
        Store(out + 8, c2);
        Store(out + 12, c3);
    }
    Store(chain, c0);
    Store(chain + 4, c1);
    Store(chain + 8, c2);
    Store(chain + 12, c3);
}

void AesDecryptCbc(const AesState& state, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks) {
    uint32_t c0 = Load(chain), c1 = Load(chain + 4), c2 = Load(chain + 8), c3 = Load(chain + 12);
    for (; blocks; --blocks, in += 16, out += 16) {
        const uint32_t x0 = Load(in), x1 = Load(in + 4), x2 = Load(in + 8), x3 = Load(in + 12);
        uint32_t w0 = x0, w1 = x1, w2 = x2, w3 = x3;
        DecryptWords(state, w0, w1, w2, w3);
        Store(out, w0 ^ c0);
        Store(out + 4, w1 ^ c1);
        Store(out + 8, w2 ^ c2);
        Store(out + 12, w3 ^ c3);
        c0 = x0;
        c1 = x1;
        c2 = x2;
        c3 = x3;
    }
    Store(chain, c0);
    Store(chain + 4, c1);
    Store(chain + 8, c2);
    Store(chain + 12, c3);
}

}  // namespace corvane
