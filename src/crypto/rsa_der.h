// DER import and export of RSA keys: RSAPublicKey (format 1), RSAPrivateKey (format 2), and the
// single components n, e, p and q.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/rsa_key.h"

namespace corvane {

// Fills key from DER of format 1 or 2 and sets its flags: 0, -207 for another format, -209 for
// malformed DER, -102 without memory.
int32_t ImportRsaDer(CRSA& key, uint32_t format, const uint8_t* der, size_t length);
// The significant bytes of the modulus and the public exponent of a DER RSAPublicKey, read without
// building a key (no number is made, no Montgomery context prepared): 0, or -209 for DER that
// ImportRsaDer would not take as format 1.
int32_t RsaPublicDerSizes(const uint8_t* der, size_t length, size_t* modulusBytes, size_t* exponentBytes);
// Writes a format or component. outLength is in/out; a null out asks for the size.
int32_t ExportRsa(const CRSA& key, uint32_t what, uint8_t* out, uint32_t* outLength);

}  // namespace corvane
