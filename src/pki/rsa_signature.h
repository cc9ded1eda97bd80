// RSA signature checks of the key proof on the service's own engine: the public operation with a
// DER RSAPublicKey, and the PKCS#1 v1.5 type-1 block around the signed data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane {

// The public operation on a big-endian signature: 0 with the block; 0x20000001 when the key does
// not import, its modulus is not exactly as long as the signature or the operation fails;
// 0x20000002 when the signature's value is not below the modulus (no signature of that key can
// be: a signer holding another key of the same size gives such values).
uint32_t RsaPublicBlock(const std::vector<uint8_t>& publicKeyDer, const uint8_t* signature, size_t length,
                        std::vector<uint8_t>& block);

// The block is 0x00 0x01, at least eight 0xFF, 0x00, then exactly `data`.
bool IsPkcs1Type1Block(const std::vector<uint8_t>& block, const uint8_t* data, size_t length);

}  // namespace corvane
