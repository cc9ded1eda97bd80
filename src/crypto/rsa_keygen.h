// RSA key generation: random odd starting points, a sieve over windows of candidates and the
// base-2 probable-prime test, followed by Miller-Rabin rounds with random bases.
#pragma once

#include <cstdint>

#include "crypto/big_number.h"
#include "crypto/random_source.h"
#include "crypto/rsa_key.h"

namespace corvane {

// Fills key with a new key pair of bits bits and public exponent e (odd, at least 3). Up to 11
// attempts: 0, -206 when all fail or randomness is unavailable, -102 without memory, -108 for
// unusable arguments.
int32_t GenerateRsaKey(CRSA& key, uint32_t bits, uint32_t e, const RandomSource& random);

// The parts, for tests.
// A random number of exactly bits bits with its two top bits and bit 0 set. False when the
// source fails or memory runs out.
bool RandomOddNumber(CBigNumber& out, uint32_t bits, const RandomSource& random);
// Base 2, Euler criterion with the Jacobi symbol of 2, for an odd n > 3.
bool PassesBaseTwoTest(const CBigNumber& n, bool& passes);
// The next probable prime from the odd start x (x itself included), skipping candidates y with
// y = 1 (mod e) when e is not 0. Each candidate that passes the base-2 test also has to pass
// extraRounds Miller-Rabin rounds with random bases. 0, -102 or -206 (randomness failed).
int32_t NextProbablePrime(CBigNumber& x, uint32_t e, uint32_t extraRounds, const RandomSource& random);

}  // namespace corvane
