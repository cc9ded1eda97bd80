// SHA-1 message digest (20 bytes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/block_buffer.h"

namespace corvane {

struct Sha1State {
    uint32_t m_h[5] = {};
    BlockBuffer<64> m_buffer;
};

void Sha1Init(Sha1State& state);
void Sha1Update(Sha1State& state, const uint8_t* data, size_t length);
void Sha1Final(Sha1State& state, uint8_t digest[20]);

// The compression function over whole 64-byte blocks, portable form.
void Sha1CompressPortable(uint32_t h[5], const uint8_t* blocks, size_t count);

}  // namespace corvane
