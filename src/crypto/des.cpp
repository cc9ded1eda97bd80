#include "crypto/des.h"

#include <array>

#include "crypto/secure_zero.h"

namespace corvane {

namespace {

constexpr uint8_t kSBoxes[8][64] = {
    {14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7, 0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8,
     4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0, 15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13},
    {15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10, 3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5,
     0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15, 13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9},
    {10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8, 13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1,
     13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7, 1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12},
    {7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15, 13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9,
     10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4, 3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14},
    {2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9, 14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6,
     4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14, 11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3},
    {12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11, 10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8,
     9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6, 4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13},
    {4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1, 13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6,
     1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2, 6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12},
    {13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7, 1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2,
     7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8, 2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11},
};

// The permutation P applied to the S-box outputs (bit numbers 1..32, most significant first).
constexpr uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1, 15, 23, 26, 5, 18, 31, 10,
                            2, 8, 24, 14, 32, 27, 3, 9, 19, 13, 30, 6, 22, 11, 4, 25};
constexpr uint8_t kPc1[56] = {57, 49, 41, 33, 25, 17, 9, 1, 58, 50, 42, 34, 26, 18, 10, 2, 59, 51, 43, 35,
                              27, 19, 11, 3, 60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7, 62, 54, 46, 38,
                              30, 22, 14, 6, 61, 53, 45, 37, 29, 21, 13, 5, 28, 20, 12, 4};
constexpr uint8_t kPc2[48] = {14, 17, 11, 24, 1, 5, 3, 28, 15, 6, 21, 10, 23, 19, 12, 4,
                              26, 8, 16, 7, 27, 20, 13, 2, 41, 52, 31, 37, 47, 55, 30, 40,
                              51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
constexpr uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// SP[i][v]: S-box i applied to the 6-bit group v (row from the outer bits, column from the inner
// four), placed in its nibble and passed through P. The eight results occupy disjoint bits.
using SpTables = std::array<std::array<uint32_t, 64>, 8>;
constexpr SpTables MakeSpTables() {
    SpTables sp {};
    for (int box = 0; box < 8; ++box) {
        for (int v = 0; v < 64; ++v) {
            const int row = ((v >> 4) & 2) | (v & 1);
            const int col = (v >> 1) & 15;
            const uint32_t pre = static_cast<uint32_t>(kSBoxes[box][row * 16 + col]) << (28 - 4 * box);
            uint32_t out = 0;
            for (int j = 0; j < 32; ++j) {
                if ((pre >> (32 - kP[j])) & 1) out |= 1u << (31 - j);
            }
            sp[box][v] = out;
        }
    }
    return sp;
}
constexpr SpTables kSp = MakeSpTables();

inline uint32_t RotateRight(uint32_t v, int n) { return (v >> n) | (v << (32 - n)); }

inline uint32_t LoadBigEndian(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}
inline void StoreBigEndian(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

inline void SwapBits(uint32_t& a, uint32_t& b, int shift, uint32_t mask) {
    const uint32_t t = ((a >> shift) ^ b) & mask;
    b ^= t;
    a ^= t << shift;
}

// Initial permutation as a sequence of bit-group swaps; the final permutation runs it backwards.
inline void InitialPermutation(uint32_t& l, uint32_t& r) {
    SwapBits(l, r, 4, 0x0f0f0f0f);
    SwapBits(l, r, 16, 0x0000ffff);
    SwapBits(r, l, 2, 0x33333333);
    SwapBits(r, l, 8, 0x00ff00ff);
    SwapBits(l, r, 1, 0x55555555);
}
inline void FinalPermutation(uint32_t& l, uint32_t& r) {
    SwapBits(l, r, 1, 0x55555555);
    SwapBits(r, l, 8, 0x00ff00ff);
    SwapBits(r, l, 2, 0x33333333);
    SwapBits(l, r, 16, 0x0000ffff);
    SwapBits(l, r, 4, 0x0f0f0f0f);
}

// The round function. The expansion E takes overlapping 6-bit windows of R; rotating R right by
// 3 puts the windows of S-boxes 1, 3, 5 and 7 in the four byte lanes, rotating by 7 those of
// 2, 4, 6 and 8, so each subkey word is XORed once and each group is read with a shift and mask.
inline uint32_t F(uint32_t r, const uint32_t* k) {
    const uint32_t x = RotateRight(r, 3) ^ k[0];
    const uint32_t y = RotateRight(r, 7) ^ k[1];
    return kSp[0][(x >> 24) & 0x3f] ^ kSp[2][(x >> 16) & 0x3f] ^ kSp[4][(x >> 8) & 0x3f] ^ kSp[6][x & 0x3f] ^
           kSp[7][(y >> 24) & 0x3f] ^ kSp[1][(y >> 16) & 0x3f] ^ kSp[3][(y >> 8) & 0x3f] ^ kSp[5][y & 0x3f];
}

// Sixteen rounds; on return l and r hold L16 and R16.
inline void Rounds16(uint32_t& l, uint32_t& r, const uint32_t (*k)[2]) {
    for (int i = 0; i < 16; i += 2) {
        l ^= F(r, k[i]);
        r ^= F(l, k[i + 1]);
    }
}

// The cipher on the two big-endian halves of a block, in place.
inline void ProcessWords(const DesState& state, const uint32_t (*keys)[2], uint32_t& left, uint32_t& right) {
    uint32_t l = left;
    uint32_t r = right;
    InitialPermutation(l, r);
    // Between two DES stages the final and initial permutations cancel; only the halves swap.
    for (uint32_t stage = 0; stage < state.m_nRounds; stage += 16) {
        if (stage) {
            const uint32_t t = l;
            l = r;
            r = t;
        }
        Rounds16(l, r, keys + stage);
    }
    FinalPermutation(r, l);
    left = r;
    right = l;
}

bool ProcessBlock(const DesState& state, const uint32_t (*keys)[2], const uint8_t* in, uint8_t* out) {
    if (state.m_nRounds == 0) return false;
    uint32_t l = LoadBigEndian(in);
    uint32_t r = LoadBigEndian(in + 4);
    ProcessWords(state, keys, l, r);
    StoreBigEndian(out, l);
    StoreBigEndian(out + 4, r);
    return true;
}

// The sixteen round keys of one 8-byte DES key, in encryption order.
void ScheduleKey(const uint8_t* key, uint32_t (*out)[2]) {
    uint64_t k = 0;
    for (int i = 0; i < 8; ++i) k = (k << 8) | key[i];
    uint32_t c = 0, d = 0;
    for (int i = 0; i < 28; ++i) c = (c << 1) | static_cast<uint32_t>((k >> (64 - kPc1[i])) & 1);
    for (int i = 28; i < 56; ++i) d = (d << 1) | static_cast<uint32_t>((k >> (64 - kPc1[i])) & 1);
    for (int round = 0; round < 16; ++round) {
        for (int s = 0; s < kShifts[round]; ++s) {
            c = ((c << 1) | (c >> 27)) & 0x0fffffff;
            d = ((d << 1) | (d >> 27)) & 0x0fffffff;
        }
        const uint64_t cd = (static_cast<uint64_t>(c) << 28) | d;
        uint32_t group[8] = {};
        for (int j = 0; j < 48; ++j) {
            const uint32_t bit = static_cast<uint32_t>((cd >> (56 - kPc2[j])) & 1);
            group[j / 6] |= bit << (5 - j % 6);
        }
        out[round][0] = group[0] << 24 | group[2] << 16 | group[4] << 8 | group[6];
        out[round][1] = group[7] << 24 | group[1] << 16 | group[3] << 8 | group[5];
    }
}

void CopyRounds(uint32_t (*dst)[2], const uint32_t (*src)[2], bool reversed) {
    for (int i = 0; i < 16; ++i) {
        const int from = reversed ? 15 - i : i;
        dst[i][0] = src[from][0];
        dst[i][1] = src[from][1];
    }
}

}  // namespace

void DesSetKey(DesState& state, const uint8_t* key, uint32_t keyLength) {
    state = DesState {};
    if (keyLength < 8) return;
    uint32_t k[3][16][2];
    ScheduleKey(key, k[0]);
    if (keyLength < 16) {
        state.m_nRounds = 16;
        CopyRounds(state.m_encrypt, k[0], false);
        CopyRounds(state.m_decrypt, k[0], true);
    } else {
        ScheduleKey(key + 8, k[1]);
        ScheduleKey(keyLength >= 24 ? key + 16 : key, k[2]);
        state.m_nRounds = 48;
        // EDE: encrypt with K1, decrypt with K2, encrypt with K3; decryption runs the reverse.
        CopyRounds(state.m_encrypt, k[0], false);
        CopyRounds(state.m_encrypt + 16, k[1], true);
        CopyRounds(state.m_encrypt + 32, k[2], false);
        CopyRounds(state.m_decrypt, k[2], true);
        CopyRounds(state.m_decrypt + 16, k[1], false);
        CopyRounds(state.m_decrypt + 32, k[0], true);
    }
    SecureZero(k, sizeof k);
}

bool DesEncryptBlock(const DesState& state, const uint8_t in[8], uint8_t out[8]) {
    return ProcessBlock(state, state.m_encrypt, in, out);
}

bool DesDecryptBlock(const DesState& state, const uint8_t in[8], uint8_t out[8]) {
    return ProcessBlock(state, state.m_decrypt, in, out);
}

bool DesEncryptCbc(const DesState& state, uint8_t chain[8], const uint8_t* in, uint8_t* out, size_t blocks) {
    if (state.m_nRounds == 0) return false;
    uint32_t c0 = LoadBigEndian(chain), c1 = LoadBigEndian(chain + 4);
    for (; blocks; --blocks, in += 8, out += 8) {
        c0 ^= LoadBigEndian(in);
        c1 ^= LoadBigEndian(in + 4);
        ProcessWords(state, state.m_encrypt, c0, c1);
        StoreBigEndian(out, c0);
        StoreBigEndian(out + 4, c1);
    }
    StoreBigEndian(chain, c0);
    StoreBigEndian(chain + 4, c1);
    return true;
}

bool DesDecryptCbc(const DesState& state, uint8_t chain[8], const uint8_t* in, uint8_t* out, size_t blocks) {
    if (state.m_nRounds == 0) return false;
    uint32_t c0 = LoadBigEndian(chain), c1 = LoadBigEndian(chain + 4);
    for (; blocks; --blocks, in += 8, out += 8) {
        const uint32_t x0 = LoadBigEndian(in), x1 = LoadBigEndian(in + 4);
        uint32_t w0 = x0, w1 = x1;
        ProcessWords(state, state.m_decrypt, w0, w1);
        StoreBigEndian(out, w0 ^ c0);
        StoreBigEndian(out + 4, w1 ^ c1);
        c0 = x0;
        c1 = x1;
    }
    StoreBigEndian(chain, c0);
    StoreBigEndian(chain + 4, c1);
    return true;
}

}  // namespace corvane
