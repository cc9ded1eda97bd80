#include "crypto/rc4.h"

namespace corvane {

bool Rc4SetKey(Rc4State& state, const uint8_t* key, uint32_t keyLength) {
    if (keyLength == 0) return false;
    for (int i = 0; i < 256; ++i) state.m_s[i] = static_cast<uint8_t>(i);
    uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
        j = static_cast<uint8_t>(j + state.m_s[i] + key[i % keyLength]);
        const uint8_t t = state.m_s[i];
        state.m_s[i] = state.m_s[j];
        state.m_s[j] = t;
    }
    state.m_i = 0;
    state.m_j = 0;
    return true;
}

void Rc4Process(Rc4State& state, const uint8_t* in, uint8_t* out, size_t length) {
    uint8_t i = state.m_i;
    uint8_t j = state.m_j;
    uint8_t* s = state.m_s;
    for (size_t n = 0; n < length; ++n) {
        i = static_cast<uint8_t>(i + 1);
        const uint8_t si = s[i];
        j = static_cast<uint8_t>(j + si);
        const uint8_t sj = s[j];
        s[i] = sj;
        s[j] = si;
        out[n] = static_cast<uint8_t>(in[n] ^ s[static_cast<uint8_t>(si + sj)]);
    }
    state.m_i = i;
    state.m_j = j;
}

}  // namespace corvane
