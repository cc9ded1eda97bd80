// The algorithm table behind the cipher handles: key set-up, block and stream functions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

struct CipherAlgorithm {
    uint32_t m_nId;
    uint32_t m_nStream;     // 1 for a stream cipher
    uint8_t m_nBlockSize;   // 0 for a stream cipher
    // Allocates the algorithm state with its key schedule: 0 or a status.
    int32_t (*initialise)(void** state, const uint8_t* key, uint32_t keyLength);
    // One block; a status, 0 for success.
    int32_t (*encryptBlock)(const void* state, const uint8_t* in, uint8_t* out);
    int32_t (*decryptBlock)(const void* state, const uint8_t* in, uint8_t* out);
    // Wipes and frees the state: 0 or a status.
    int32_t (*release)(void* state);
    // Optional: CBC over whole blocks with the chaining block in chain (null: block by block).
    int32_t (*encryptCbc)(const void* state, uint8_t* chain, const uint8_t* in, uint8_t* out, size_t blocks);
    int32_t (*decryptCbc)(const void* state, uint8_t* chain, const uint8_t* in, uint8_t* out, size_t blocks);
    // Stream ciphers only.
    int32_t (*encryptStream)(void* state, const uint8_t* in, uint8_t* out, size_t length);
    int32_t (*decryptStream)(void* state, const uint8_t* in, uint8_t* out, size_t length);
};

// Null for an unknown identifier.
const CipherAlgorithm* FindCipherAlgorithm(uint32_t id);

}  // namespace corvane
