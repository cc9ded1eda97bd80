// MD5 message digest (16 bytes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/block_buffer.h"

namespace corvane {

struct Md5State {
    uint32_t m_h[4] = {};
    BlockBuffer<64> m_buffer;
};

void Md5Init(Md5State& state);
void Md5Update(Md5State& state, const uint8_t* data, size_t length);
void Md5Final(Md5State& state, uint8_t digest[16]);

}  // namespace corvane
