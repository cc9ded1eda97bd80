// A blinding pair kept for one RSA key across its private operations. Drawing a blinding value
// costs a modular inverse, as much again as the private operation itself; a key that serves many
// requests (the host key) keeps the pair a = r^e mod n, aInverse = r^-1 mod n instead, squares
// both factors for each further use (a^2 and aInverse^2 are again such a pair, for r^2), and
// draws a fresh r from the random source every kUsesPerPair uses. One object may serve several
// threads at once: the pair is only read and advanced under its mutex, and each operation works
// on its own copy of it.
#pragma once

#include <cstdint>
#include <mutex>

#include "crypto/big_number.h"
#include "crypto/random_source.h"

namespace corvane {

class CRSA;

class CRsaBlinding {
public:
    // Uses of one drawn pair, the first included.
    static constexpr uint32_t kUsesPerPair = 32;

    CRsaBlinding() = default;
    CRsaBlinding(const CRsaBlinding&) = delete;
    CRsaBlinding& operator=(const CRsaBlinding&) = delete;

    // The factors for one operation with `key`: the next pair, or a fresh one from `random` when
    // the current pair is used up or belongs to another modulus. False when the source fails or
    // the arithmetic runs out of memory; the next call then draws afresh.
    bool Next(const CRSA& key, const RandomSource& random, CBigNumber& a, CBigNumber& aInverse);

private:
    std::mutex m_mutex;
    CBigNumber m_bnA;
    CBigNumber m_bnAInverse;
    CBigNumber m_bnModulus;  // of the key the pair was drawn for
    uint32_t m_nUses = 0;    // uses of the current pair; 0: none drawn
};

}  // namespace corvane
