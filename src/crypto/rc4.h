// RC4 stream cipher.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

struct Rc4State {
    uint8_t m_s[256] = {};
    uint8_t m_i = 0;
    uint8_t m_j = 0;
};

// False for an empty key.
bool Rc4SetKey(Rc4State& state, const uint8_t* key, uint32_t keyLength);
// XORs the keystream into the data (encryption and decryption are the same operation). in and out
// may be the same buffer.
void Rc4Process(Rc4State& state, const uint8_t* in, uint8_t* out, size_t length);

}  // namespace corvane
