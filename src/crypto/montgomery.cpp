#include "crypto/montgomery.h"

#include <cstring>
#include <new>
#include <type_traits>

#include "crypto/montgomery_rows.h"
#include "crypto/secure_zero.h"

namespace corvane {

namespace {

template <typename Word>
struct Wide;
template <>
struct Wide<uint32_t> {
    using Type = uint64_t;
};
#if defined(__SIZEOF_INT128__)
template <>
struct Wide<uint64_t> {
    __extension__ typedef unsigned __int128 Type;
};
#endif

template <typename Word>
constexpr int kWordBits = 8 * sizeof(Word);

// A word array, wiped and freed on scope exit.
template <typename Word>
class CWords {
public:
    explicit CWords(size_t n) : m_n(n), m_p(new (std::nothrow) Word[n ? n : 1]()) {}
    ~CWords() {
        if (m_p) SecureZero(m_p, m_n * sizeof(Word));
        delete[] m_p;
    }
    CWords(const CWords&) = delete;
    CWords& operator=(const CWords&) = delete;
    Word* Get() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    size_t m_n;
    Word* m_p;
};

template <typename Word>
Word* AllocateWords(size_t n) {
    return new (std::nothrow) Word[n ? n : 1]();
}

template <typename Word>
void FreeWords(Word*& p, size_t n) {
    if (p) SecureZero(p, n * sizeof(Word));
    delete[] p;
    p = nullptr;
}

// Loads the number into exactly words machine words (it must fit).
template <typename Word>
void LoadWords(Word* out, size_t words, const CBigNumber& v) {
    std::memset(out, 0, words * sizeof(Word));
    constexpr size_t per = sizeof(Word) / sizeof(uint32_t);
    for (uint32_t i = 0; i < v.Used(); ++i) {
        out[i / per] |= static_cast<Word>(v.Limbs()[i]) << (32 * (i % per));
    }
}

template <typename Word>
bool StoreWords(CBigNumber& r, const Word* in, size_t words) {
    constexpr size_t per = sizeof(Word) / sizeof(uint32_t);
    uint32_t* limbs = r.PrepareLimbs(static_cast<uint32_t>(words * per));
    if (!limbs) return false;
    for (size_t i = 0; i < words * per; ++i) limbs[i] = static_cast<uint32_t>(in[i / per] >> (32 * (i % per)));
    r.Trim();
    return true;
}

// -n^-1 mod 2^bits by Newton's iteration: x = x (2 - n x) doubles the correct low bits.
template <typename Word>
Word NegativeInverse(Word n) {
    Word x = n;  // correct to 3 bits for odd n
    for (int i = 0; i < 6; ++i) x *= static_cast<Word>(2 - n * x);
    return static_cast<Word>(0 - x);
}

// Montgomery reduction: r = t * R^-1 mod n for t < n R, t of 2s words (destroyed).
template <typename Word, typename Row>
void Redc(Word* r, Word* t, const Word* n, Word n0, size_t s) {
    using D = typename Wide<Word>::Type;
    constexpr int W = kWordBits<Word>;
    Word top = 0;  // carry out of the word above the current row
    for (size_t i = 0; i < s; ++i) {
        const Word m = static_cast<Word>(t[i] * n0);
        const Word c = Row::MulAddRow(t + i, n, m, s);
        const D x = static_cast<D>(t[i + s]) + c + top;
        t[i + s] = static_cast<Word>(x);
        top = static_cast<Word>(x >> W);
    }
    // The result t[s..2s) + top R is below 2n: subtract n once when it is not below n.
    const Word* u = t + s;
    bool subtract = top != 0;
    if (!subtract) {
        subtract = true;  // equal counts as not below
        for (size_t j = s; j-- > 0;) {
            if (u[j] != n[j]) {
                subtract = u[j] > n[j];
                break;
            }
        }
    }
    if (subtract) {
        Word borrow = 0;
        for (size_t j = 0; j < s; ++j) {
            const Word uj = u[j];
            const Word d = static_cast<Word>(uj - n[j] - borrow);
            borrow = static_cast<Word>((uj < n[j]) || (uj == n[j] && borrow));
            r[j] = d;
        }
    } else {
        std::memcpy(r, u, s * sizeof(Word));
    }
}

// r = a * b * R^-1 mod n. a, b < n; r may alias a or b. t is scratch of 2s words.
template <typename Word, typename Row>
void MontMul(Word* r, const Word* a, const Word* b, const Word* n, Word n0, size_t s, Word* t) {
    std::memset(t, 0, 2 * s * sizeof(Word));
    for (size_t i = 0; i < s; ++i) t[i + s] = Row::MulAddRow(t + i, a, b[i], s);
    Redc<Word, Row>(r, t, n, n0, s);
}

// r = a * a * R^-1 mod n: the cross products once, doubled, plus the squares. t: 2s words.
template <typename Word, typename Row>
void MontSqr(Word* r, const Word* a, const Word* n, Word n0, size_t s, Word* t) {
    using D = typename Wide<Word>::Type;
    constexpr int W = kWordBits<Word>;
    std::memset(t, 0, 2 * s * sizeof(Word));
    for (size_t i = 0; i + 1 < s; ++i) t[i + s] = Row::MulAddRow(t + 2 * i + 1, a + i + 1, a[i], s - 1 - i);
    // One pass doubles the cross products (shifting left by one bit) and adds the squares a[i]^2
    // at words 2i and 2i + 1.
    Word carry = 0;
    Word shifted = 0;  // the bit shifted out of the word below
    for (size_t i = 0; i < s; ++i) {
        const Word lo = t[2 * i];
        const Word hi = t[2 * i + 1];
        const D sq = static_cast<D>(a[i]) * a[i];
        const D x = static_cast<D>(static_cast<Word>((lo << 1) | shifted)) + static_cast<Word>(sq) + carry;
        t[2 * i] = static_cast<Word>(x);
        const D y = static_cast<D>(static_cast<Word>((hi << 1) | (lo >> (W - 1)))) + static_cast<Word>(sq >> W) +
                    static_cast<Word>(x >> W);
        t[2 * i + 1] = static_cast<Word>(y);
        carry = static_cast<Word>(y >> W);
        shifted = hi >> (W - 1);
    }
    Redc<Word, Row>(r, t, n, n0, s);
}

}  // namespace

uint32_t ExponentWindow(uint32_t bits) {
    if (bits <= 5) return 0;
    if (bits <= 23) return 1;
    if (bits <= 80) return 2;
    if (bits <= 240) return 3;
    if (bits <= 672) return 4;
    if (bits <= 1792) return 5;
    return 6;
}

template <typename Word>
CMontgomeryT<Word>::~CMontgomeryT() {
    FreeWords(m_pN, m_nWords);
    FreeWords(m_pRR, m_nWords);
}

template <typename Word>
bool CMontgomeryT<Word>::Init(const CBigNumber& modulus) {
    FreeWords(m_pN, m_nWords);
    FreeWords(m_pRR, m_nWords);
    if (!modulus.IsOdd()) return false;
    constexpr size_t per = sizeof(Word) / sizeof(uint32_t);
    const size_t s = (modulus.Used() + per - 1) / per;
    CBigNumber rr;
    if (!CBigNumber::PowerOfTwoMod(rr, static_cast<uint32_t>(2 * kWordBits<Word> * s), modulus)) return false;
    if (!m_modulusCopy.CopyFrom(modulus)) return false;
    m_pN = AllocateWords<Word>(s);
    m_pRR = AllocateWords<Word>(s);
    if (!m_pN || !m_pRR) {
        FreeWords(m_pN, s);
        FreeWords(m_pRR, s);
        return false;
    }
    m_nWords = s;
    LoadWords(m_pN, s, modulus);
    LoadWords(m_pRR, s, rr);
    m_n0 = NegativeInverse(m_pN[0]);
    m_pModulus = &m_modulusCopy;
    return true;
}

template <typename Word>
bool CMontgomeryT<Word>::Exp(CBigNumber& r, const CBigNumber& base, const CBigNumber& exponent) const {
#if CORVANE_HAVE_ADX_ROW
    if constexpr (std::is_same_v<Word, uint64_t>) {
        static const bool adx = HasAdxRows();
        if (adx) return ExpWith<CAdxRow>(r, base, exponent);
    }
#endif
    return ExpWith<CPortableRow<Word>>(r, base, exponent);
}

template <typename Word>
bool CMontgomeryT<Word>::MulMod(CBigNumber& r, const CBigNumber& a, const CBigNumber& b) const {
#if CORVANE_HAVE_ADX_ROW
    if constexpr (std::is_same_v<Word, uint64_t>) {
        static const bool adx = HasAdxRows();
        if (adx) return MulModWith<CAdxRow>(r, a, b);
    }
#endif
    return MulModWith<CPortableRow<Word>>(r, a, b);
}

template <typename Word>
template <typename Row>
bool CMontgomeryT<Word>::MulModWith(CBigNumber& r, const CBigNumber& a, const CBigNumber& b) const {
    if (!IsReady()) return false;
    const CBigNumber& modulus = *m_pModulus;
    CBigNumber reducedA, reducedB;
    const CBigNumber* x = &a;
    const CBigNumber* y = &b;
    if (CBigNumber::Compare(a, modulus) >= 0) {
        if (!CBigNumber::Mod(reducedA, a, modulus)) return false;
        x = &reducedA;
    }
    if (CBigNumber::Compare(b, modulus) >= 0) {
        if (!CBigNumber::Mod(reducedB, b, modulus)) return false;
        y = &reducedB;
    }
    const size_t s = m_nWords;
    CWords<Word> scratch(2 * s), xw(s), yw(s);
    if (!scratch || !xw || !yw) return false;
    LoadWords(xw.Get(), s, *x);
    LoadWords(yw.Get(), s, *y);
    // (a b R^-1) (R^2) R^-1 = a b.
    MontMul<Word, Row>(xw.Get(), xw.Get(), yw.Get(), m_pN, m_n0, s, scratch.Get());
    MontMul<Word, Row>(xw.Get(), xw.Get(), m_pRR, m_pN, m_n0, s, scratch.Get());
    return StoreWords(r, xw.Get(), s);
}

template <typename Word>
template <typename Row>
bool CMontgomeryT<Word>::ExpWith(CBigNumber& r, const CBigNumber& base, const CBigNumber& exponent) const {
    if (!IsReady()) return false;
    const CBigNumber& modulus = *m_pModulus;
    const uint32_t bits = exponent.BitLength();
    if (bits == 0) {
        // x^0 = 1 (0 when the modulus is 1).
        return modulus.IsOne() ? (r.SetZero(), true) : r.SetWord(1);
    }
    CBigNumber reduced;
    const CBigNumber* x = &base;
    if (CBigNumber::Compare(base, modulus) >= 0) {
        if (!CBigNumber::Mod(reduced, base, modulus)) return false;
        x = &reduced;
    }
    if (bits == 1) return r.CopyFrom(*x);

    const size_t s = m_nWords;
    const Word* n = m_pN;
    CWords<Word> scratch(2 * s), acc(s), xw(s);
    if (!scratch || !acc || !xw) return false;
    Word* t = scratch.Get();
    LoadWords(xw.Get(), s, *x);
    // Into Montgomery form: x R = MontMul<Word, Row>(x, R^2).
    MontMul<Word, Row>(xw.Get(), xw.Get(), m_pRR, n, m_n0, s, t);

    uint32_t w = ExponentWindow(bits);
    Word* table = nullptr;
    for (;; --w) {
        table = AllocateWords<Word>((size_t {1} << w) * s);
        if (table || w == 0) break;
    }
    if (!table) return false;
    const size_t entries = size_t {1} << w;
    // table[i] = x^(2i + 1) in Montgomery form.
    std::memcpy(table, xw.Get(), s * sizeof(Word));
    if (entries > 1) {
        CWords<Word> square(s);
        if (!square) {
            FreeWords(table, entries * s);
            return false;
        }
        MontSqr<Word, Row>(square.Get(), xw.Get(), n, m_n0, s, t);
        for (size_t i = 1; i < entries; ++i) MontMul<Word, Row>(table + i * s, table + (i - 1) * s, square.Get(), n, m_n0, s, t);
    }

    const int k = static_cast<int>(w) + 1;
    Word* a = acc.Get();
    bool started = false;
    int i = static_cast<int>(bits) - 1;
    while (i >= 0) {
        if (!exponent.Bit(static_cast<uint32_t>(i))) {
            MontSqr<Word, Row>(a, a, n, m_n0, s, t);
            --i;
            continue;
        }
        int j = i - k + 1 > 0 ? i - k + 1 : 0;
        while (!exponent.Bit(static_cast<uint32_t>(j))) ++j;
        uint32_t value = 0;
        for (int b = i; b >= j; --b) value = (value << 1) | (exponent.Bit(static_cast<uint32_t>(b)) ? 1 : 0);
        const Word* entry = table + (value >> 1) * s;
        if (started) {
            for (int b = i; b >= j; --b) MontSqr<Word, Row>(a, a, n, m_n0, s, t);
            MontMul<Word, Row>(a, a, entry, n, m_n0, s, t);
        } else {
            std::memcpy(a, entry, s * sizeof(Word));
            started = true;
        }
        i = j - 1;
    }
    FreeWords(table, entries * s);
    // Out of Montgomery form: MontMul<Word, Row>(a, 1).
    CWords<Word> one(s);
    if (!one) return false;
    one.Get()[0] = 1;
    MontMul<Word, Row>(a, a, one.Get(), n, m_n0, s, t);
    return StoreWords(r, a, s);
}

template class CMontgomeryT<uint32_t>;
#if defined(__SIZEOF_INT128__)
template class CMontgomeryT<uint64_t>;
#endif

}  // namespace corvane
