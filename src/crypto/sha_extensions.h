// SHA-1 and SHA-256 compression with the x86 SHA instructions, used when the processor has them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

// True when the processor offers the SHA extensions (with SSSE3 and SSE4.1); checked once.
bool HasShaExtensions();
// Only to be called when HasShaExtensions() is true.
void Sha1CompressShaExtensions(uint32_t h[5], const uint8_t* blocks, size_t count);
void Sha256CompressShaExtensions(uint32_t h[8], const uint8_t* blocks, size_t count);

}  // namespace corvane
