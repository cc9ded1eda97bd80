// RC2 block functions. At most 128 key bytes are used; the effective key length in bits is eight
// times the number of bytes used.
#pragma once

#include <cstdint>

namespace corvane {

struct Rc2State {
    uint16_t m_keys[64] = {};
};

// False for an empty key.
bool Rc2SetKey(Rc2State& state, const uint8_t* key, uint32_t keyLength);
void Rc2EncryptBlock(const Rc2State& state, const uint8_t in[8], uint8_t out[8]);
void Rc2DecryptBlock(const Rc2State& state, const uint8_t in[8], uint8_t out[8]);

}  // namespace corvane
