#include "crypto/big_number.h"

#include <cstring>
#include <new>

#include "crypto/montgomery.h"
#include "crypto/secure_zero.h"

namespace corvane {

namespace {

// A scratch array of limbs, wiped and freed on scope exit.
class CScratch {
public:
    explicit CScratch(size_t limbs) : m_nLimbs(limbs), m_p(new (std::nothrow) uint32_t[limbs ? limbs : 1]()) {}
    ~CScratch() {
        if (m_p) SecureZero(m_p, m_nLimbs * sizeof(uint32_t));
        delete[] m_p;
    }
    CScratch(const CScratch&) = delete;
    CScratch& operator=(const CScratch&) = delete;
    uint32_t* Get() { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    size_t m_nLimbs;
    uint32_t* m_p;
};

int CountLeadingZeros(uint32_t v) {
    if (!v) return 32;
    return __builtin_clz(v);
}

}  // namespace

CBigNumber::~CBigNumber() {
    if (m_pLimbs) SecureZero(m_pLimbs, m_nCapacity * sizeof(uint32_t));
    delete[] m_pLimbs;
}

bool CBigNumber::Bit(uint32_t index) const {
    const uint32_t limb = index / 32;
    return limb < m_nUsed && ((m_pLimbs[limb] >> (index % 32)) & 1);
}

uint32_t CBigNumber::BitLength() const {
    if (!m_nUsed) return 0;
    return 32 * (m_nUsed - 1) + (32 - CountLeadingZeros(m_pLimbs[m_nUsed - 1]));
}

bool CBigNumber::Reserve(uint32_t limbs) {
    if (limbs <= m_nCapacity) return true;
    const uint32_t capacity = (limbs + 1) & ~1u;
    auto* p = new (std::nothrow) uint32_t[capacity]();
    if (!p) return false;
    if (m_pLimbs) {
        std::memcpy(p, m_pLimbs, m_nCapacity * sizeof(uint32_t));
        SecureZero(m_pLimbs, m_nCapacity * sizeof(uint32_t));
        delete[] m_pLimbs;
    }
    m_pLimbs = p;
    m_nCapacity = capacity;
    return true;
}

uint32_t* CBigNumber::PrepareLimbs(uint32_t limbs) {
    if (!Reserve(limbs ? limbs : 1)) return nullptr;
    if (m_nCapacity) std::memset(m_pLimbs, 0, m_nCapacity * sizeof(uint32_t));
    m_nUsed = limbs;
    return m_pLimbs;
}

void CBigNumber::Trim() {
    while (m_nUsed && m_pLimbs[m_nUsed - 1] == 0) --m_nUsed;
}

void CBigNumber::SetZero() {
    if (m_pLimbs) std::memset(m_pLimbs, 0, m_nCapacity * sizeof(uint32_t));
    m_nUsed = 0;
}

bool CBigNumber::SetWord(uint32_t word) {
    if (!PrepareLimbs(1)) return false;
    m_pLimbs[0] = word;
    Trim();
    return true;
}

bool CBigNumber::CopyFrom(const CBigNumber& other) {
    if (&other == this) return true;
    if (!PrepareLimbs(other.m_nUsed)) return false;
    if (other.m_nUsed) std::memcpy(m_pLimbs, other.m_pLimbs, other.m_nUsed * sizeof(uint32_t));
    return true;
}

bool CBigNumber::SetBytes(const uint8_t* data, size_t length) {
    while (length && *data == 0) {
        ++data;
        --length;
    }
    if (length > 0x3FFFFFFFu) return false;
    const uint32_t limbs = static_cast<uint32_t>((length + 3) / 4);
    if (!PrepareLimbs(limbs)) return false;
    for (size_t i = 0; i < length; ++i) {
        const size_t pos = length - 1 - i;  // byte significance
        m_pLimbs[pos / 4] |= static_cast<uint32_t>(data[i]) << (8 * (pos % 4));
    }
    Trim();
    return true;
}

bool CBigNumber::WriteBytes(uint8_t* out, size_t length) const {
    const size_t needed = ByteLength();
    if (needed > length) return false;
    if (length > needed) std::memset(out, 0, length - needed);
    for (size_t pos = 0; pos < needed; ++pos) {
        out[length - 1 - pos] = static_cast<uint8_t>(m_pLimbs[pos / 4] >> (8 * (pos % 4)));
    }
    return true;
}

size_t CBigNumber::EncodeDerInteger(uint8_t* out) const {
    const size_t valueLength = (BitLength() + 8) / 8;
    size_t header = 2;
    if (valueLength >= 0x80) {
        for (size_t v = valueLength; v; v >>= 8) ++header;
    }
    if (out) {
        out[0] = 0x02;
        if (valueLength < 0x80) {
            out[1] = static_cast<uint8_t>(valueLength);
        } else {
            const size_t k = header - 2;
            out[1] = static_cast<uint8_t>(0x80 + k);
            for (size_t i = 0; i < k; ++i) out[2 + i] = static_cast<uint8_t>(valueLength >> (8 * (k - 1 - i)));
        }
        WriteBytes(out + header, valueLength);
    }
    return header + valueLength;
}

int CBigNumber::Compare(const CBigNumber& a, const CBigNumber& b) {
    if (a.m_nUsed != b.m_nUsed) return a.m_nUsed < b.m_nUsed ? -1 : 1;
    for (uint32_t i = a.m_nUsed; i-- > 0;) {
        if (a.m_pLimbs[i] != b.m_pLimbs[i]) return a.m_pLimbs[i] < b.m_pLimbs[i] ? -1 : 1;
    }
    return 0;
}

bool CBigNumber::Add(CBigNumber& r, const CBigNumber& a, const CBigNumber& b) {
    const CBigNumber& big = a.m_nUsed >= b.m_nUsed ? a : b;
    const CBigNumber& small = a.m_nUsed >= b.m_nUsed ? b : a;
    const uint32_t n = big.m_nUsed;
    // Reserve may move r's limbs; a and b may be r, so reserve before taking pointers.
    if (!r.Reserve(n + 1)) return false;
    const uint32_t* pb = big.m_pLimbs;
    const uint32_t* ps = small.m_pLimbs;
    const uint32_t ns = small.m_nUsed;
    uint64_t carry = 0;
    for (uint32_t i = 0; i < n; ++i) {
        carry += static_cast<uint64_t>(pb[i]) + (i < ns ? ps[i] : 0);
        r.m_pLimbs[i] = static_cast<uint32_t>(carry);
        carry >>= 32;
    }
    r.m_pLimbs[n] = static_cast<uint32_t>(carry);
    for (uint32_t i = n + 1; i < r.m_nUsed; ++i) r.m_pLimbs[i] = 0;
    r.m_nUsed = n + 1;
    r.Trim();
    return true;
}

bool CBigNumber::AddWord(uint32_t word) {
    if (!Reserve(m_nUsed + 1)) return false;
    uint64_t carry = word;
    for (uint32_t i = 0; carry; ++i) {
        if (i == m_nUsed) {
            m_pLimbs[m_nUsed++] = 0;
        }
        carry += m_pLimbs[i];
        m_pLimbs[i] = static_cast<uint32_t>(carry);
        carry >>= 32;
    }
    return true;
}

bool CBigNumber::SubWord(uint32_t word) {
    if (m_nUsed == 0) return word == 0;
    if (m_nUsed == 1 && m_pLimbs[0] < word) return false;
    uint32_t borrow = word;
    for (uint32_t i = 0; borrow && i < m_nUsed; ++i) {
        const uint32_t before = m_pLimbs[i];
        m_pLimbs[i] = before - borrow;
        borrow = before < borrow ? 1 : 0;
    }
    Trim();
    return true;
}

bool CBigNumber::SubAbs(CBigNumber& r, const CBigNumber& a, const CBigNumber& b, bool& negative) {
    negative = Compare(a, b) < 0;
    const CBigNumber& big = negative ? b : a;
    const CBigNumber& small = negative ? a : b;
    const uint32_t n = big.m_nUsed;
    if (!r.Reserve(n)) return false;
    const uint32_t* pb = big.m_pLimbs;
    const uint32_t* ps = small.m_pLimbs;
    const uint32_t ns = small.m_nUsed;
    uint32_t borrow = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint64_t d = static_cast<uint64_t>(pb[i]) - (i < ns ? ps[i] : 0) - borrow;
        r.m_pLimbs[i] = static_cast<uint32_t>(d);
        borrow = static_cast<uint32_t>(d >> 63);
    }
    for (uint32_t i = n; i < r.m_nUsed; ++i) r.m_pLimbs[i] = 0;
    r.m_nUsed = n;
    r.Trim();
    return true;
}

bool CBigNumber::Mul(CBigNumber& r, const CBigNumber& a, const CBigNumber& b) {
    if (&a == &b) return Sqr(r, a);
    const uint32_t na = a.m_nUsed, nb = b.m_nUsed;
    if (!na || !nb) {
        r.SetZero();
        return true;
    }
    CScratch t(na + nb);
    if (!t) return false;
    uint32_t* pt = t.Get();
    for (uint32_t i = 0; i < na; ++i) {
        uint64_t carry = 0;
        const uint64_t ai = a.m_pLimbs[i];
        for (uint32_t j = 0; j < nb; ++j) {
            carry += ai * b.m_pLimbs[j] + pt[i + j];
            pt[i + j] = static_cast<uint32_t>(carry);
            carry >>= 32;
        }
        pt[i + nb] = static_cast<uint32_t>(carry);
    }
    uint32_t* out = r.PrepareLimbs(na + nb);
    if (!out) return false;
    std::memcpy(out, pt, (na + nb) * sizeof(uint32_t));
    r.Trim();
    return true;
}

bool CBigNumber::Sqr(CBigNumber& r, const CBigNumber& a) {
    const uint32_t n = a.m_nUsed;
    if (!n) {
        r.SetZero();
        return true;
    }
    CScratch t(2 * n);
    if (!t) return false;
    uint32_t* pt = t.Get();
    const uint32_t* pa = a.m_pLimbs;
    // The cross products once, doubled by a shift, then the squares on the diagonal.
    for (uint32_t i = 0; i < n; ++i) {
        uint64_t carry = 0;
        const uint64_t ai = pa[i];
        for (uint32_t j = i + 1; j < n; ++j) {
            carry += ai * pa[j] + pt[i + j];
            pt[i + j] = static_cast<uint32_t>(carry);
            carry >>= 32;
        }
        pt[i + n] = static_cast<uint32_t>(carry);
    }
    uint32_t top = 0;
    for (uint32_t i = 0; i < 2 * n; ++i) {
        const uint32_t v = pt[i];
        pt[i] = (v << 1) | top;
        top = v >> 31;
    }
    uint64_t carry = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint64_t sq = static_cast<uint64_t>(pa[i]) * pa[i];
        carry += static_cast<uint64_t>(pt[2 * i]) + static_cast<uint32_t>(sq);
        pt[2 * i] = static_cast<uint32_t>(carry);
        carry >>= 32;
        carry += static_cast<uint64_t>(pt[2 * i + 1]) + (sq >> 32);
        pt[2 * i + 1] = static_cast<uint32_t>(carry);
        carry >>= 32;
    }
    uint32_t* out = r.PrepareLimbs(2 * n);
    if (!out) return false;
    std::memcpy(out, pt, 2 * n * sizeof(uint32_t));
    r.Trim();
    return true;
}

bool CBigNumber::DivMod(CBigNumber* q, CBigNumber* r, const CBigNumber& a, const CBigNumber& m) {
    if (m.IsZero()) return false;
    if (Compare(a, m) < 0) {
        if (r && !r->CopyFrom(a)) return false;
        if (q) q->SetZero();
        return true;
    }
    const uint32_t n = m.m_nUsed;
    const uint32_t na = a.m_nUsed;
    // Normalise: shift both so the divisor's top limb has its high bit set.
    const int shift = CountLeadingZeros(m.m_pLimbs[n - 1]);
    CScratch ub(na + 1), vb(n), qb(na - n + 1);
    if (!ub || !vb || !qb) return false;
    uint32_t* u = ub.Get();
    uint32_t* v = vb.Get();
    uint32_t* qd = qb.Get();
    for (uint32_t i = 0; i < n; ++i) {
        v[i] = (m.m_pLimbs[i] << shift) | (shift && i ? m.m_pLimbs[i - 1] >> (32 - shift) : 0);
    }
    for (uint32_t i = 0; i < na; ++i) {
        u[i] = (a.m_pLimbs[i] << shift) | (shift && i ? a.m_pLimbs[i - 1] >> (32 - shift) : 0);
    }
    u[na] = shift ? a.m_pLimbs[na - 1] >> (32 - shift) : 0;

    if (n == 1) {
        uint64_t rem = 0;
        for (uint32_t i = na + 1; i-- > 0;) {
            const uint64_t cur = (rem << 32) | u[i];
            if (i < na) qd[i] = static_cast<uint32_t>(cur / v[0]);
            rem = cur % v[0];
        }
        u[0] = static_cast<uint32_t>(rem);
        for (uint32_t i = 1; i <= na; ++i) u[i] = 0;
    } else {
        // Knuth's algorithm D.
        for (uint32_t j = na - n + 1; j-- > 0;) {
            const uint64_t top = (static_cast<uint64_t>(u[j + n]) << 32) | u[j + n - 1];
            uint64_t qhat = top / v[n - 1];
            uint64_t rhat = top % v[n - 1];
            while (qhat >> 32 || qhat * v[n - 2] > ((rhat << 32) | u[j + n - 2])) {
                --qhat;
                rhat += v[n - 1];
                if (rhat >> 32) break;
            }
            // u[j..j+n] -= qhat * v
            int64_t borrow = 0;
            uint64_t carry = 0;
            for (uint32_t i = 0; i < n; ++i) {
                const uint64_t p = qhat * v[i] + carry;
                carry = p >> 32;
                const int64_t t = static_cast<int64_t>(u[i + j]) - borrow - static_cast<int64_t>(p & 0xFFFFFFFFu);
                u[i + j] = static_cast<uint32_t>(t);
                borrow = t < 0 ? 1 : 0;
            }
            const int64_t t = static_cast<int64_t>(u[j + n]) - borrow - static_cast<int64_t>(carry);
            u[j + n] = static_cast<uint32_t>(t);
            if (t < 0) {
                // qhat was one too large: add the divisor back.
                --qhat;
                uint64_t c = 0;
                for (uint32_t i = 0; i < n; ++i) {
                    c += static_cast<uint64_t>(u[i + j]) + v[i];
                    u[i + j] = static_cast<uint32_t>(c);
                    c >>= 32;
                }
                u[j + n] += static_cast<uint32_t>(c);
            }
            qd[j] = static_cast<uint32_t>(qhat);
        }
    }
    if (q) {
        uint32_t* out = q->PrepareLimbs(na - n + 1);
        if (!out) return false;
        std::memcpy(out, qd, (na - n + 1) * sizeof(uint32_t));
        q->Trim();
    }
    if (r) {
        uint32_t* out = r->PrepareLimbs(n);
        if (!out) return false;
        for (uint32_t i = 0; i < n; ++i) {
            out[i] = (u[i] >> shift) | (shift && i + 1 < n + 1 ? u[i + 1] << (32 - shift) : 0);
        }
        r->Trim();
    }
    return true;
}

uint32_t CBigNumber::ModWord(uint32_t word) const {
    uint64_t rem = 0;
    for (uint32_t i = m_nUsed; i-- > 0;) rem = ((rem << 32) | m_pLimbs[i]) % word;
    return static_cast<uint32_t>(rem);
}

bool CBigNumber::ShiftRight(uint32_t bits) {
    const uint32_t limbs = bits / 32;
    const uint32_t shift = bits % 32;
    if (limbs >= m_nUsed) {
        SetZero();
        return true;
    }
    const uint32_t n = m_nUsed - limbs;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t lo = m_pLimbs[i + limbs];
        const uint32_t hi = i + limbs + 1 < m_nUsed ? m_pLimbs[i + limbs + 1] : 0;
        m_pLimbs[i] = shift ? (lo >> shift) | (hi << (32 - shift)) : lo;
    }
    for (uint32_t i = n; i < m_nUsed; ++i) m_pLimbs[i] = 0;
    m_nUsed = n;
    Trim();
    return true;
}

bool CBigNumber::ModInverse(CBigNumber& r, const CBigNumber& a, const CBigNumber& m, bool& exists) {
    exists = false;
    if (m.IsZero()) return true;
    // Extended Euclid: r0 = m, r1 = a mod m, t0 = 0, t1 = 1; while r1 != 0: q = r0 / r1,
    // (r0, r1) = (r1, r0 - q r1), (t0, t1) = (t1, t0 - q t1). The coefficients alternate in sign
    // and never exceed m in size, so only their magnitudes are kept, t0 + q t1, with the sign of
    // the newest one flipping each step: no reduction modulo m inside the loop.
    CBigNumber r0, r1, t0, t1, quotient, rem, product, next;
    bool t1Negative = false;
    if (!r0.CopyFrom(m) || !Mod(r1, a, m) || !t1.SetWord(1)) return false;
    while (!r1.IsZero()) {
        if (!DivMod(&quotient, &rem, r0, r1)) return false;
        if (!Mul(product, quotient, t1) || !Add(next, t0, product)) return false;
        if (!r0.CopyFrom(r1) || !r1.CopyFrom(rem) || !t0.CopyFrom(t1) || !t1.CopyFrom(next)) return false;
        t1Negative = !t1Negative;
    }
    // t0 is the coefficient of the last step; its sign is the opposite of t1's.
    const bool t0Negative = !t1Negative;
    if (!r0.IsOne()) return true;
    CBigNumber reduced;
    if (!Mod(reduced, t0, m)) return false;
    if (t0Negative && !reduced.IsZero()) {
        bool negative = false;
        if (!SubAbs(r, m, reduced, negative)) return false;
    } else if (!r.CopyFrom(reduced)) {
        return false;
    }
    exists = true;
    return true;
}

bool CBigNumber::ModExp(CBigNumber& r, const CBigNumber& base, const CBigNumber& exponent, const CBigNumber& m) {
    CMontgomery mont;
    if (!mont.Init(m)) return false;
    return mont.Exp(r, base, exponent);
}

bool CBigNumber::PowerOfTwoMod(CBigNumber& r, uint32_t power, const CBigNumber& m) {
    if (m.IsZero()) return false;
    CBigNumber p;
    uint32_t* limbs = p.PrepareLimbs(power / 32 + 1);
    if (!limbs) return false;
    limbs[power / 32] = 1u << (power % 32);
    return Mod(r, p, m);
}

}  // namespace corvane
