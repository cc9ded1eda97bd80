// Conversion of a DER PKCS#1 RSAPrivateKey into the CryptoAPI private-key blob (PRIVATEKEYBLOB,
// RSA2, little-endian numbers), by which the host key pair is installed into a key container.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

// Blob layout for a modulus of L bytes (L even), H = L / 2: a 20-byte header (bType 7, bVersion 2,
// reserved 0, aiKeyAlg CALG_RSA_KEYX, magic "RSA2", bitlen 8 L, pubexp), then n (L), p, q, dP,
// dQ, qInv (H each) and d (L), each least significant byte first. Total 20 + 9 H bytes.
constexpr size_t PrivateKeyBlobSize(size_t modulusBytes) { return 20 + 9 * (modulusBytes / 2); }

// blobLength is in/out (capacity in, size needed out); a null blob asks for the size. Returns 0,
// 87 (ERROR_INVALID_PARAMETER) for a null blobLength or der, 234 (ERROR_MORE_DATA) for a short
// buffer, or NTE_BAD_DATA (0x80090005) for input it cannot convert. Never reads past der +
// derLength.
uint32_t RsaDerToPrivateKeyBlob(uint8_t* blob, uint32_t* blobLength, const uint8_t* der, uint32_t derLength);

}  // namespace corvane
