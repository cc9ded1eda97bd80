#include "crypto/sha_extensions.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define CORVANE_SHA_EXTENSIONS 1
#include <cpuid.h>
#include <immintrin.h>
#endif

#include <utility>

#include "crypto/sha256.h"

namespace corvane {

#if CORVANE_SHA_EXTENSIONS

namespace {

bool DetectShaExtensions() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool ssse3 = (c >> 9) & 1;
    const bool sse41 = (c >> 19) & 1;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    const bool sha = (b >> 29) & 1;
    return ssse3 && sse41 && sha;
}

#define CORVANE_SHA_TARGET __attribute__((target("sha,ssse3,sse4.1")))

// One group of four SHA-1 rounds (G = 0..19). The message words of the next groups are prepared
// in the four registers m[0..3] while the rounds run.
template <int G>
CORVANE_SHA_TARGET inline void Sha1Group(__m128i& abcd, __m128i& e0, __m128i& e1, __m128i (&m)[4]) {
    __m128i& cur = (G % 2 == 0) ? e0 : e1;
    __m128i& other = (G % 2 == 0) ? e1 : e0;
    if constexpr (G == 0) {
        cur = _mm_add_epi32(cur, m[0]);
    } else {
        cur = _mm_sha1nexte_epu32(cur, m[G & 3]);
    }
    other = abcd;
    if constexpr (G >= 3 && G <= 18) m[(G + 1) & 3] = _mm_sha1msg2_epu32(m[(G + 1) & 3], m[G & 3]);
    abcd = _mm_sha1rnds4_epu32(abcd, cur, G / 5);
    if constexpr (G >= 1 && G <= 16) m[(G - 1) & 3] = _mm_sha1msg1_epu32(m[(G - 1) & 3], m[G & 3]);
    if constexpr (G >= 2 && G <= 17) m[(G + 2) & 3] = _mm_xor_si128(m[(G + 2) & 3], m[G & 3]);
}

template <int... G>
CORVANE_SHA_TARGET inline void Sha1Groups(__m128i& abcd, __m128i& e0, __m128i& e1, __m128i (&m)[4],
                                          std::integer_sequence<int, G...>) {
    (Sha1Group<G>(abcd, e0, e1, m), ...);
}

// One group of four SHA-256 rounds (G = 0..15).
template <int G>
CORVANE_SHA_TARGET inline void Sha256Group(__m128i& state0, __m128i& state1, __m128i (&m)[4]) {
    const __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kSha256RoundConstants + 4 * G));
    __m128i msg = _mm_add_epi32(m[G & 3], k);
    state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
    if constexpr (G >= 3 && G <= 14) {
        __m128i& next = m[(G + 1) & 3];
        next = _mm_add_epi32(next, _mm_alignr_epi8(m[G & 3], m[(G - 1) & 3], 4));
        next = _mm_sha256msg2_epu32(next, m[G & 3]);
    }
    msg = _mm_shuffle_epi32(msg, 0x0E);
    state0 = _mm_sha256rnds2_epu32(state0, state1, msg);
    if constexpr (G >= 1 && G <= 12) m[(G - 1) & 3] = _mm_sha256msg1_epu32(m[(G - 1) & 3], m[G & 3]);
}

template <int... G>
CORVANE_SHA_TARGET inline void Sha256Groups(__m128i& state0, __m128i& state1, __m128i (&m)[4],
                                            std::integer_sequence<int, G...>) {
    (Sha256Group<G>(state0, state1, m), ...);
}

}  // namespace

bool HasShaExtensions() {
    static const bool has = DetectShaExtensions();
    return has;
}

CORVANE_SHA_TARGET void Sha1CompressShaExtensions(uint32_t h[5], const uint8_t* blocks, size_t count) {
    const __m128i mask = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), 0x1B);
    __m128i e0 = _mm_set_epi32(static_cast<int>(h[4]), 0, 0, 0);
    for (; count; --count, blocks += 64) {
        const __m128i abcdSave = abcd;
        const __m128i eSave = e0;
        __m128i e1;
        __m128i m[4];
        for (int i = 0; i < 4; ++i) {
            m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), mask);
        }
        Sha1Groups(abcd, e0, e1, m, std::make_integer_sequence<int, 20> {});
        e0 = _mm_sha1nexte_epu32(e0, eSave);
        abcd = _mm_add_epi32(abcd, abcdSave);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h), _mm_shuffle_epi32(abcd, 0x1B));
    h[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

CORVANE_SHA_TARGET void Sha256CompressShaExtensions(uint32_t h[8], const uint8_t* blocks, size_t count) {
    const __m128i mask = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), 0xB1);      // CDAB
    __m128i state1 = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 4)), 0x1B);  // EFGH
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);     // ABEF
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);          // CDGH
    for (; count; --count, blocks += 64) {
        const __m128i save0 = state0;
        const __m128i save1 = state1;
        __m128i m[4];
        for (int i = 0; i < 4; ++i) {
            m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), mask);
        }
        Sha256Groups(state0, state1, m, std::make_integer_sequence<int, 16> {});
        state0 = _mm_add_epi32(state0, save0);
        state1 = _mm_add_epi32(state1, save1);
    }
    tmp = _mm_shuffle_epi32(state0, 0x1B);        // FEBA
    state1 = _mm_shuffle_epi32(state1, 0xB1);     // DCHG
    state0 = _mm_blend_epi16(tmp, state1, 0xF0);  // DCBA
    state1 = _mm_alignr_epi8(state1, tmp, 8);     // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h + 4), state1);
}

#else

bool HasShaExtensions() { return false; }
void Sha1CompressShaExtensions(uint32_t*, const uint8_t*, size_t) {}
void Sha256CompressShaExtensions(uint32_t*, const uint8_t*, size_t) {}

#endif

}  // namespace corvane
