#include "crypto/rsa_keygen.h"

#include <cstring>
#include <vector>

#include "crypto/crypto_status.h"
#include "crypto/montgomery.h"
#include "crypto/secure_zero.h"

namespace corvane {

namespace {

constexpr uint32_t kSieveWindow = 16384;  // odd candidates per window
constexpr uint32_t kSmallPrimeLimit = 65536;
constexpr int kAttempts = 11;
// Draws of q per attempt. A working source lands far enough from p at the first draw or the
// second; a source that keeps repeating itself (a broken generator) must not hang the start.
constexpr int kQDraws = 64;

// Bitmap of the odd numbers below 65536 (bit i stands for 2i + 1), set for composites, built by
// sieving with the odd primes below 256.
void BuildOddCompositeTable(uint8_t (&table)[4096]) {
    std::memset(table, 0, sizeof table);
    table[0] |= 1;  // 1 is not a prime
    for (uint32_t p = 3; p < 256; p += 2) {
        if (table[p / 2 / 8] & (1u << (p / 2 % 8))) continue;
        for (uint32_t m = p * p; m < kSmallPrimeLimit; m += 2 * p) table[m / 2 / 8] |= static_cast<uint8_t>(1u << (m / 2 % 8));
    }
}

// Strikes the candidates x + 2i (i < window) that are divisible by p, given r = x mod p.
void StrikeMultiples(std::vector<uint8_t>& struck, uint32_t p, uint32_t r) {
    // x + 2i = 0 (mod p)  <=>  i = (p - r) * 2^-1 (mod p), and 2^-1 = (p + 1) / 2.
    const uint64_t i0 = (static_cast<uint64_t>((p - r) % p) * ((p + 1) / 2)) % p;
    for (uint64_t i = i0; i < kSieveWindow; i += p) struck[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
}

uint32_t MillerRabinRoundsFor(uint32_t bits) {
    if (bits >= 1024) return 5;
    if (bits >= 512) return 7;
    return 10;
}

// One Miller-Rabin round with base a: n - 1 = 2^s d, d odd.
bool MillerRabinRound(const CMontgomery& mont, const CBigNumber& n, const CBigNumber& nMinusOne, const CBigNumber& d,
                      uint32_t s, const CBigNumber& a, bool& passes) {
    CBigNumber y, square;
    if (!mont.Exp(y, a, d)) return false;
    passes = y.IsOne() || CBigNumber::Compare(y, nMinusOne) == 0;
    for (uint32_t i = 1; i < s && !passes; ++i) {
        if (!CBigNumber::Sqr(square, y) || !CBigNumber::Mod(y, square, n)) return false;
        if (y.IsOne()) return true;  // a non-trivial square root of 1: composite
        passes = CBigNumber::Compare(y, nMinusOne) == 0;
    }
    return true;
}

// Miller-Rabin rounds with bases drawn uniformly enough from [2, n - 2]. Returns a status.
int32_t PassesMillerRabin(const CBigNumber& n, uint32_t rounds, const RandomSource& random, bool& passes) {
    passes = true;
    if (!rounds) return CryptoStatus::Ok;
    CMontgomery mont;
    CBigNumber nMinusOne, d, nMinusThree, a, raw;
    if (!mont.Init(n) || !nMinusOne.CopyFrom(n) || !nMinusOne.SubWord(1) || !d.CopyFrom(nMinusOne) ||
        !nMinusThree.CopyFrom(n) || !nMinusThree.SubWord(3)) {
        return CryptoStatus::NoMemory;
    }
    uint32_t s = 0;
    while (!d.Bit(s)) ++s;
    if (!d.ShiftRight(s)) return CryptoStatus::NoMemory;
    std::vector<uint8_t> bytes(n.ByteLength() + 8);
    for (uint32_t round = 0; round < rounds && passes; ++round) {
        if (!random || random(bytes.data(), bytes.size()) != 0) return CryptoStatus::KeyGenerationFailed;
        if (!raw.SetBytes(bytes.data(), bytes.size()) || !CBigNumber::Mod(a, raw, nMinusThree) || !a.AddWord(2)) {
            return CryptoStatus::NoMemory;
        }
        if (!MillerRabinRound(mont, n, nMinusOne, d, s, a, passes)) return CryptoStatus::NoMemory;
    }
    SecureZero(bytes.data(), bytes.size());
    return CryptoStatus::Ok;
}

}  // namespace

bool RandomOddNumber(CBigNumber& out, uint32_t bits, const RandomSource& random) {
    if (bits < 2 || !random) return false;
    const size_t length = (bits + 7) / 8;
    std::vector<uint8_t> bytes(length);
    if (random(bytes.data(), length) != 0) return false;
    const uint32_t topBits = bits - 8 * static_cast<uint32_t>(length - 1);  // 1..8 bits in the top byte
    bytes[0] &= static_cast<uint8_t>(0xFF >> (8 - topBits));
    // The two most significant bits, so that a product of two such numbers has the full length.
    const uint32_t high = bits - 1, second = bits - 2;
    bytes[length - 1 - high / 8] |= static_cast<uint8_t>(1u << (high % 8));
    bytes[length - 1 - second / 8] |= static_cast<uint8_t>(1u << (second % 8));
    bytes[length - 1] |= 1;
    const bool ok = out.SetBytes(bytes.data(), length);
    SecureZero(bytes.data(), length);
    return ok;
}

bool PassesBaseTwoTest(const CBigNumber& n, bool& passes) {
    passes = false;
    const uint32_t residue = n.LowWord() & 7;
    CBigNumber exponent, two, y, nMinusOne;
    if (!exponent.CopyFrom(n) || !exponent.SubWord(1) || !nMinusOne.CopyFrom(exponent)) return false;
    // n = 1 (mod 8): 2^((n-1)/4) = +-1; otherwise 2^((n-1)/2) = (2/n), which is -1 for n = 3, 5
    // (mod 8) and 1 for n = 7 (mod 8).
    if (!exponent.ShiftRight(residue == 1 ? 2 : 1) || !two.SetWord(2)) return false;
    if (!CBigNumber::ModExp(y, two, exponent, n)) return false;
    const bool isOne = y.IsOne();
    const bool isMinusOne = CBigNumber::Compare(y, nMinusOne) == 0;
    switch (residue) {
        case 3:
        case 5: passes = isMinusOne; break;
        case 7: passes = isOne; break;
        case 1: passes = isOne || isMinusOne; break;
        default: passes = false; break;
    }
    return true;
}

int32_t NextProbablePrime(CBigNumber& x, uint32_t e, uint32_t extraRounds, const RandomSource& random) {
    std::vector<uint8_t> struck(kSieveWindow / 8);
    CBigNumber candidate;
    for (;;) {
        // The table of small primes is rebuilt for every window, in a local buffer.
        uint8_t composite[4096];
        BuildOddCompositeTable(composite);
        std::fill(struck.begin(), struck.end(), 0);
        // Remainders are taken two primes at a time: x mod (p1 p2) fits a word.
        uint32_t pending = 0;
        for (uint32_t p = 3; p < kSmallPrimeLimit; p += 2) {
            if (composite[p / 2 / 8] & (1u << (p / 2 % 8))) continue;
            if (!pending) {
                pending = p;
                continue;
            }
            const uint32_t r = x.ModWord(pending * p);
            StrikeMultiples(struck, pending, r % pending);
            StrikeMultiples(struck, p, r % p);
            pending = 0;
        }
        if (pending) StrikeMultiples(struck, pending, x.ModWord(pending));
        if (e) {
            // Strike y = 1 (mod e), so that e does not divide y - 1.
            const uint64_t r = x.ModWord(e);
            const uint64_t i0 = ((1 + e - r) % e) * ((static_cast<uint64_t>(e) + 1) / 2) % e;
            for (uint64_t i = i0; i < kSieveWindow; i += e) struck[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
        }
        for (uint32_t i = 0; i < kSieveWindow; ++i) {
            if (struck[i / 8] & (1u << (i % 8))) continue;
            if (!candidate.CopyFrom(x) || !candidate.AddWord(2 * i)) return CryptoStatus::NoMemory;
            bool passes = false;
            if (!PassesBaseTwoTest(candidate, passes)) return CryptoStatus::NoMemory;
            if (!passes) continue;
            if (int32_t rc = PassesMillerRabin(candidate, extraRounds, random, passes)) return rc;
            if (!passes) continue;
            return x.CopyFrom(candidate) ? CryptoStatus::Ok : CryptoStatus::NoMemory;
        }
        if (!x.AddWord(2 * kSieveWindow)) return CryptoStatus::NoMemory;
    }
}

namespace {

// One attempt; a status, or KeyGenerationFailed when this attempt's numbers do not make a key.
int32_t Attempt(CRSA& key, uint32_t bits, uint32_t e, const RandomSource& random) {
    CBigNumber& p = key.m_bnP;
    CBigNumber& q = key.m_bnQ;
    if (!key.m_bnE.SetWord(e)) return CryptoStatus::NoMemory;
    const uint32_t pBits = (bits + 1) / 2;
    const uint32_t qBits = bits / 2;
    if (!RandomOddNumber(p, pBits, random)) return CryptoStatus::KeyGenerationFailed;
    if (int32_t rc = NextProbablePrime(p, e, MillerRabinRoundsFor(pBits), random)) return rc;
    CBigNumber distance;
    bool farEnough = false;
    for (int draw = 0; draw < kQDraws && !farEnough; ++draw) {
        if (!RandomOddNumber(q, qBits, random)) return CryptoStatus::KeyGenerationFailed;
        bool negative = false;
        if (!CBigNumber::SubAbs(distance, q, p, negative)) return CryptoStatus::NoMemory;
        farEnough = distance.BitLength() + 5 >= qBits;
    }
    if (!farEnough) return CryptoStatus::KeyGenerationFailed;
    if (int32_t rc = NextProbablePrime(q, e, MillerRabinRoundsFor(qBits), random)) return rc;
    if (CBigNumber::Compare(p, q) < 0) {
        CBigNumber t;
        if (!t.CopyFrom(p) || !p.CopyFrom(q) || !q.CopyFrom(t)) return CryptoStatus::NoMemory;
    }
    if (CBigNumber::Compare(p, q) == 0) return CryptoStatus::KeyGenerationFailed;
    CBigNumber pMinusOne, qMinusOne, phi;
    bool exists = false;
    if (!CBigNumber::Mul(key.m_bnN, p, q) || !pMinusOne.CopyFrom(p) || !pMinusOne.SubWord(1) ||
        !qMinusOne.CopyFrom(q) || !qMinusOne.SubWord(1) || !CBigNumber::Mul(phi, pMinusOne, qMinusOne) ||
        !CBigNumber::ModInverse(key.m_bnD, key.m_bnE, phi, exists)) {
        return CryptoStatus::NoMemory;
    }
    if (!exists) return CryptoStatus::KeyGenerationFailed;
    if (!CBigNumber::Mod(key.m_bnDP, key.m_bnD, pMinusOne) || !CBigNumber::Mod(key.m_bnDQ, key.m_bnD, qMinusOne) ||
        !CBigNumber::ModInverse(key.m_bnQInv, q, p, exists)) {
        return CryptoStatus::NoMemory;
    }
    if (!exists) return CryptoStatus::KeyGenerationFailed;
    key.m_bHasCrt = key.m_bHasPrivate = key.m_bHasPublic = 1;
    return key.Prepare() ? CryptoStatus::Ok : CryptoStatus::NoMemory;
}

}  // namespace

int32_t GenerateRsaKey(CRSA& key, uint32_t bits, uint32_t e, const RandomSource& random) {
    if (bits < 128 || bits > 16384 || e < 3 || (e & 1) == 0 || !random) return CryptoStatus::InvalidArguments;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const int32_t rc = Attempt(key, bits, e, random);
        if (rc == CryptoStatus::Ok || rc == CryptoStatus::NoMemory) return rc;
        key.m_bHasCrt = key.m_bHasPrivate = key.m_bHasPublic = 0;
    }
    return CryptoStatus::KeyGenerationFailed;
}

}  // namespace corvane
