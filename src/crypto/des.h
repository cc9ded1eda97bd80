// DES and triple DES (EDE) block functions. The key length picks the variant: 8 to 15 bytes single
// DES with the first 8, 16 to 23 two-key triple DES (K1, K2, K1), 24 or more three-key (K1, K2, K3).
// Parity bits are ignored.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

struct DesState {
    // Rounds per block: 16 for single DES, 48 for triple DES, 0 for a key shorter than 8 bytes,
    // on which every block operation fails.
    uint32_t m_nRounds = 0;
    // Round keys in the order they are applied, for each direction: two words per round holding
    // the eight 6-bit subkey groups in the byte lanes the round function reads them from.
    uint32_t m_encrypt[48][2] = {};
    uint32_t m_decrypt[48][2] = {};
};

void DesSetKey(DesState& state, const uint8_t* key, uint32_t keyLength);
// Both return false, leaving out untouched, when the state holds no key (it was too short).
bool DesEncryptBlock(const DesState& state, const uint8_t in[8], uint8_t out[8]);
bool DesDecryptBlock(const DesState& state, const uint8_t in[8], uint8_t out[8]);
// CBC over whole blocks, the chaining block carried in chain; in and out may be the same buffer.
// False as above.
bool DesEncryptCbc(const DesState& state, uint8_t chain[8], const uint8_t* in, uint8_t* out, size_t blocks);
bool DesDecryptCbc(const DesState& state, uint8_t chain[8], const uint8_t* in, uint8_t* out, size_t blocks);

}  // namespace corvane
