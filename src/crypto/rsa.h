// The RSA interface: raw RSA on the service's own engine, with DER import and export of PKCS#1
// keys and key generation. Padding is the callers' business. A context is only read after its
// creation, so one context may serve several threads at once.
#pragma once

#include <cstdint>

#include "crypto/crypto_status.h"
#include "crypto/random_source.h"

namespace corvane {

struct RsaHandleTag;
class CRsaBlinding;
using RsaHandle = RsaHandleTag*;

// A new key pair of bits bits with public exponent e, from the random source (the service passes
// the operating system's CSPRNG).
int32_t RsaGenerate(RsaHandle* handle, uint32_t bits, uint32_t e, const RandomSource& random);
// A context from DER of format 1 (RSAPublicKey) or 2 (RSAPrivateKey); the modulus bit length goes
// to bits when that pointer is given.
int32_t RsaImport(RsaHandle* handle, uint32_t* bits, uint32_t format, const uint8_t* der, uint32_t length);
// A format (1, 2) or component (129 n, 130 e, 131 p, 132 q). outLength is in/out; a null out asks
// for the size.
int32_t RsaExport(RsaHandle handle, uint32_t what, uint8_t* out, uint32_t* outLength);
// out = in^e mod n and out = in^d mod n, length bytes each; in and out may be the same buffer.
int32_t RsaPublic(RsaHandle handle, const uint8_t* in, uint32_t length, uint8_t* out);
int32_t RsaPrivate(RsaHandle handle, const uint8_t* in, uint32_t length, uint8_t* out);
// The private operation with the input blinded by a random value from `random` (the OS CSPRNG
// for the host key): the same result, in a time that does not depend on the input.
int32_t RsaPrivateBlinded(RsaHandle handle, const uint8_t* in, uint32_t length, uint8_t* out,
                          const RandomSource& random);
// The same with a blinding pair kept across the key's operations in `blinding` (for a key that
// serves many requests, such as the host key): the pair is squared for each use and drawn afresh
// from `random` every CRsaBlinding::kUsesPerPair uses (crypto/rsa_blinding.h).
int32_t RsaPrivateBlinded(RsaHandle handle, const uint8_t* in, uint32_t length, uint8_t* out,
                          const RandomSource& random, CRsaBlinding& blinding);
int32_t RsaDestroy(RsaHandle handle);

}  // namespace corvane
