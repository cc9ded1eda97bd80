// AES (128, 192 and 256-bit keys) block functions, table driven.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

struct AesState {
    uint32_t m_nRounds = 0;  // 10, 12 or 14
    uint32_t m_encrypt[60] = {};
    // Round keys of the equivalent inverse cipher (InvMixColumns folded in), in decryption order.
    uint32_t m_decrypt[60] = {};
};

// False for a key length other than 16, 24 or 32 bytes.
bool AesSetKey(AesState& state, const uint8_t* key, uint32_t keyLength);
void AesEncryptBlock(const AesState& state, const uint8_t in[16], uint8_t out[16]);
void AesDecryptBlock(const AesState& state, const uint8_t in[16], uint8_t out[16]);
// CBC over whole blocks, the chaining block carried in chain. in and out may be the same buffer.
void AesEncryptCbc(const AesState& state, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks);
void AesDecryptCbc(const AesState& state, uint8_t chain[16], const uint8_t* in, uint8_t* out, size_t blocks);

}  // namespace corvane
