// RSA key pairs for the tests of the phone link: made once per test program from a fixed seed
// (key generation is the slow part), handed out as DER and as handles.
#pragma once

#include <cstdint>
#include <vector>

#include "crypto/rsa.h"

namespace corvane::test {

struct TestKeyPair {
    RsaHandle handle = nullptr;     // private and public parts
    std::vector<uint8_t> publicDer; // RSAPublicKey
    uint32_t bits = 0;
};

// A pair of the given size (512 to 2048 bits), the same for every call in one program.
const TestKeyPair& PhoneTestKey(uint32_t bits);

// A DER RSAPublicKey of no real key pair: an odd modulus of `modulusBytes` significant bytes and
// a public exponent of `exponentBytes` (the top bytes 0xFF, the last one 0x01). For the size rules
// of the keyed channels; the public operation under it is well defined but slow for big values.
std::vector<uint8_t> RawPublicKeyDer(size_t modulusBytes, size_t exponentBytes);

}  // namespace corvane::test
