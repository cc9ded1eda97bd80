// SHA-384 and SHA-512 message digests (48 and 64 bytes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/block_buffer.h"

namespace corvane {

struct Sha512State {
    uint64_t m_h[8] = {};
    BlockBuffer<128> m_buffer;
};

void Sha384Init(Sha512State& state);
void Sha512Init(Sha512State& state);
void Sha512Update(Sha512State& state, const uint8_t* data, size_t length);
// Writes digestSize bytes: 48 for SHA-384, 64 for SHA-512.
void Sha512Final(Sha512State& state, uint8_t* digest, size_t digestSize);

}  // namespace corvane
