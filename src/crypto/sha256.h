// SHA-224 and SHA-256 message digests (28 and 32 bytes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/block_buffer.h"

namespace corvane {

struct Sha256State {
    uint32_t m_h[8] = {};
    BlockBuffer<64> m_buffer;
};

void Sha224Init(Sha256State& state);
void Sha256Init(Sha256State& state);
void Sha256Update(Sha256State& state, const uint8_t* data, size_t length);
// Writes digestSize bytes: 28 for SHA-224, 32 for SHA-256.
void Sha256Final(Sha256State& state, uint8_t* digest, size_t digestSize);

extern const uint32_t kSha256RoundConstants[64];
// The compression function over whole 64-byte blocks, portable form.
void Sha256CompressPortable(uint32_t h[8], const uint8_t* blocks, size_t count);

}  // namespace corvane
