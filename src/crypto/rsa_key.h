// CRSA: one RSA key of the engine, with the raw public and private operations. The key never
// changes after it has been set up, and the operations work on temporaries, so one key may serve
// several threads at once.
#pragma once

#include <cstdint>
#include <functional>

#include "crypto/big_number.h"
#include "crypto/montgomery.h"
#include "crypto/random_source.h"

namespace corvane {

class CRsaBlinding;

class CRSA {
public:
    CRSA() = default;
    virtual ~CRSA() = default;
    CRSA(const CRSA&) = delete;
    CRSA& operator=(const CRSA&) = delete;

    CBigNumber m_bnN;
    CBigNumber m_bnE;
    CBigNumber m_bnD;
    CBigNumber m_bnP;
    CBigNumber m_bnQ;
    CBigNumber m_bnDP;    // d mod (p - 1)
    CBigNumber m_bnDQ;    // d mod (q - 1)
    CBigNumber m_bnQInv;  // q^-1 mod p
    uint8_t m_bHasCrt = 0;      // p, q, dP, dQ and qInv present
    uint8_t m_bHasPrivate = 0;  // n and d present
    uint8_t m_bHasPublic = 0;   // n and e present

    // Prepares the Montgomery constants of n, p and q once the numbers are set. An even or zero
    // modulus (possible in an imported key) is left unprepared; operations on it then fail.
    // False only without memory.
    bool Prepare();

    // out = in^e mod n, length bytes (the modulus length). Status codes of the RSA interface.
    int32_t Public(const uint8_t* in, uint32_t length, uint8_t* out) const;
    // out = in^d mod n, through the CRT when the key has its CRT numbers.
    int32_t Private(const uint8_t* in, uint32_t length, uint8_t* out) const;
    // The same result with the input blinded: a fresh r from `random` (invertible modulo n) turns
    // x into x r^e mod n before the exponentiation, and r^-1 takes it out of the result. The time
    // the exponentiation takes then tells nothing about x, which a peer may have chosen. Needs e;
    // without it, or when the source fails, the operation fails (as the plain one fails inside).
    int32_t PrivateBlinded(const uint8_t* in, uint32_t length, uint8_t* out, const RandomSource& random) const;
    // The same with the blinding factors for this operation taken from `blinding`, which keeps a
    // pair across operations and draws from `random` only now and then (crypto/rsa_blinding.h).
    int32_t PrivateBlinded(const uint8_t* in, uint32_t length, uint8_t* out, const RandomSource& random,
                           CRsaBlinding& blinding) const;

    // A fresh blinding pair: a = r^e mod n and aInverse = r^-1 mod n for an r from `random`.
    // False when the key lacks n or e, the source fails, or no invertible r turns up.
    bool DrawBlinding(const RandomSource& random, CBigNumber& a, CBigNumber& aInverse) const;
    // r = a b mod n (a and b below n), without a division.
    bool MulModN(CBigNumber& r, const CBigNumber& a, const CBigNumber& b) const { return m_montN.MulMod(r, a, b); }

private:
    // Gives the blinding factors of one operation.
    using BlindingFactors = std::function<bool(CBigNumber& a, CBigNumber& aInverse)>;
    int32_t PrivateOperation(const uint8_t* in, uint32_t length, uint8_t* out, const BlindingFactors* blinding) const;
    int32_t PrivateNumber(const CBigNumber& x, CBigNumber& m, int32_t failed) const;
    int32_t PrivateCrt(const CBigNumber& x, CBigNumber& m) const;

    CMontgomery m_montN;
    CMontgomery m_montP;
    CMontgomery m_montQ;
};

}  // namespace corvane
