// The cipher interface: DES and triple DES, AES, RC2 and RC4 behind one handle. A block cipher
// context starts in ECB without padding; CipherReset switches it to CBC with PKCS#7 padding and a
// zero IV, the form every user of the service works in. A message is fed with CipherUpdate and
// completed with CipherFinal, after which the context is ready for the next message.
#pragma once

#include <cstdint>

#include "crypto/crypto_status.h"

namespace corvane {

struct CipherHandleTag;
using CipherHandle = CipherHandleTag*;

// Creates a context with the key schedule: mode word 1, direction none, zero IV.
int32_t CipherCreate(CipherHandle* handle, uint32_t algorithm, const uint8_t* key, uint32_t keyLength);
// CBC with PKCS#7 padding, zero IV, nothing pending; the direction is left as it is.
int32_t CipherReset(CipherHandle handle);
// Feeds input. outLength is in/out (capacity in, bytes written out) and may be null; a null out
// with outLength given is a size query. A block cipher holds back a partial block, and, when
// decrypting with padding, the last whole block too, for CipherFinal.
int32_t CipherUpdate(CipherHandle handle, const uint8_t* in, uint32_t inLength, uint8_t* out, uint32_t* outLength,
                     bool encrypt);
// Completes the message (adds or checks the padding) and restarts the context.
int32_t CipherFinal(CipherHandle handle, uint8_t* out, uint32_t* outLength);
// Starts a new message without changing the mode: chaining block = IV, nothing pending, direction none.
int32_t CipherRestart(CipherHandle handle);
// Releases the context; its record is zeroed first.
int32_t CipherDestroy(CipherHandle handle);

}  // namespace corvane
