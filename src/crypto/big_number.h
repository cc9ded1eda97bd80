// CBigNumber: a non-negative integer of 32-bit limbs, least significant limb first, with the
// arithmetic the RSA engine needs. Operations that may allocate return false when memory runs
// out; nothing is thrown. The limbs are wiped before they are freed, since many numbers are key
// material.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

class CBigNumber {
public:
    CBigNumber() = default;
    virtual ~CBigNumber();
    CBigNumber(const CBigNumber&) = delete;
    CBigNumber& operator=(const CBigNumber&) = delete;

    const uint32_t* Limbs() const { return m_pLimbs; }
    uint32_t Used() const { return m_nUsed; }
    uint32_t Capacity() const { return m_nCapacity; }
    bool IsZero() const { return m_nUsed == 0; }
    bool IsOdd() const { return m_nUsed && (m_pLimbs[0] & 1); }
    bool IsOne() const { return m_nUsed == 1 && m_pLimbs[0] == 1; }
    bool Bit(uint32_t index) const;
    uint32_t BitLength() const;
    uint32_t ByteLength() const { return (BitLength() + 7) / 8; }
    uint32_t LowWord() const { return m_nUsed ? m_pLimbs[0] : 0; }

    // Grows the allocation to at least limbs (rounded up to an even count), keeping the value.
    bool Reserve(uint32_t limbs);
    // Makes room for limbs, zero-fills them and marks them used; Trim() afterwards.
    uint32_t* PrepareLimbs(uint32_t limbs);
    void Trim();
    void SetZero();
    bool SetWord(uint32_t word);
    bool CopyFrom(const CBigNumber& other);
    // Big-endian bytes in; leading zero bytes are allowed.
    bool SetBytes(const uint8_t* data, size_t length);
    // Big-endian bytes out, left-padded with zeros to length; false when the value needs more.
    bool WriteBytes(uint8_t* out, size_t length) const;
    // The DER INTEGER: 02, length, the value in (bit length + 8) / 8 bytes. Returns the encoded
    // size; writes only when out is given.
    size_t EncodeDerInteger(uint8_t* out) const;

    static int Compare(const CBigNumber& a, const CBigNumber& b);
    // r = a + b. r may be a or b.
    static bool Add(CBigNumber& r, const CBigNumber& a, const CBigNumber& b);
    bool AddWord(uint32_t word);
    // Subtracts a word; false (value unchanged) when the value is smaller than the word.
    bool SubWord(uint32_t word);
    // r = |a - b|, negative tells whether a < b. r may be a or b.
    static bool SubAbs(CBigNumber& r, const CBigNumber& a, const CBigNumber& b, bool& negative);
    // r = a * b (schoolbook) and r = a * a (with the squaring shortcut). r may be a or b.
    static bool Mul(CBigNumber& r, const CBigNumber& a, const CBigNumber& b);
    static bool Sqr(CBigNumber& r, const CBigNumber& a);
    // Long division after normalising the divisor: q = a / m and r = a mod m, either may be null.
    // False for m = 0. q and r may be a.
    static bool DivMod(CBigNumber* q, CBigNumber* r, const CBigNumber& a, const CBigNumber& m);
    static bool Mod(CBigNumber& r, const CBigNumber& a, const CBigNumber& m) { return DivMod(nullptr, &r, a, m); }
    // The remainder by a non-zero word.
    uint32_t ModWord(uint32_t word) const;
    bool ShiftRight(uint32_t bits);
    // r = a^-1 mod m by the extended Euclidean algorithm; exists is false when gcd(a, m) != 1.
    static bool ModInverse(CBigNumber& r, const CBigNumber& a, const CBigNumber& m, bool& exists);
    // r = base^exponent mod m for an odd m (Montgomery, sliding window). False for an even m.
    static bool ModExp(CBigNumber& r, const CBigNumber& base, const CBigNumber& exponent, const CBigNumber& m);
    // r = 2^power mod m for an odd m.
    static bool PowerOfTwoMod(CBigNumber& r, uint32_t power, const CBigNumber& m);

private:
    uint32_t* m_pLimbs = nullptr;
    uint32_t m_nUsed = 0;
    uint32_t m_nCapacity = 0;
};

}  // namespace corvane
