// MD2 message digest (16 bytes).
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

struct Md2State {
    uint8_t m_x[48] = {};
    uint8_t m_checksum[16] = {};
    uint8_t m_buffer[16] = {};
    size_t m_nUsed = 0;
};

void Md2Init(Md2State& state);
void Md2Update(Md2State& state, const uint8_t* data, size_t length);
void Md2Final(Md2State& state, uint8_t digest[16]);

}  // namespace corvane
