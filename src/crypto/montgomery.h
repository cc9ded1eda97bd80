// Montgomery arithmetic modulo an odd number, and modular exponentiation with a sliding window.
// The arithmetic runs on machine words: 64-bit words with 128-bit products where the compiler has
// them, 32-bit words with 64-bit products otherwise. Both forms are built; tests compare them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/big_number.h"

namespace corvane {

// The window exponent for an exponent of the given bit length: the table holds 2^w odd powers
// and windows are w + 1 bits wide.
uint32_t ExponentWindow(uint32_t exponentBits);

template <typename Word>
class CMontgomeryT {
public:
    CMontgomeryT() = default;
    ~CMontgomeryT();
    CMontgomeryT(const CMontgomeryT&) = delete;
    CMontgomeryT& operator=(const CMontgomeryT&) = delete;

    // False for an even or zero modulus, or without memory.
    bool Init(const CBigNumber& modulus);
    bool IsReady() const { return m_pN != nullptr; }
    // r = base^exponent mod the modulus. The object is only read, so one instance may serve
    // several threads at once.
    bool Exp(CBigNumber& r, const CBigNumber& base, const CBigNumber& exponent) const;
    // r = a b mod the modulus with two Montgomery products and no division (r may be a or b).
    bool MulMod(CBigNumber& r, const CBigNumber& a, const CBigNumber& b) const;

private:
    template <typename Row>
    bool ExpWith(CBigNumber& r, const CBigNumber& base, const CBigNumber& exponent) const;
    template <typename Row>
    bool MulModWith(CBigNumber& r, const CBigNumber& a, const CBigNumber& b) const;

    size_t m_nWords = 0;
    Word* m_pN = nullptr;   // the modulus
    Word* m_pRR = nullptr;  // R^2 mod n, R = 2^(word bits * m_nWords)
    Word m_n0 = 0;          // -n^-1 mod 2^(word bits)
    const CBigNumber* m_pModulus = nullptr;
    CBigNumber m_modulusCopy;
};

#if defined(__SIZEOF_INT128__)
using CMontgomery = CMontgomeryT<uint64_t>;
#else
using CMontgomery = CMontgomeryT<uint32_t>;
#endif

}  // namespace corvane
