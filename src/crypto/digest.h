// The digest interface: MD2, MD5, SHA-1, SHA-224, SHA-256, SHA-384 and SHA-512 behind one handle.
// A digest context serves one message: create, update any number of times, final once, destroy.
#pragma once

#include <cstdint>

#include "crypto/crypto_status.h"

namespace corvane {

struct DigestHandleTag;
using DigestHandle = DigestHandleTag*;

int32_t DigestCreate(DigestHandle* handle, uint32_t algorithm);
int32_t DigestUpdate(DigestHandle handle, const uint8_t* data, uint32_t length);
// Writes the algorithm's digest size (DigestSize) to digest.
int32_t DigestFinal(DigestHandle handle, uint8_t* digest);
int32_t DigestDestroy(DigestHandle handle);

// The digest size in bytes of an algorithm identifier, 0 when unknown.
uint32_t DigestSize(uint32_t algorithm);

}  // namespace corvane
