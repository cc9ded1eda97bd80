// The source of random bytes for key generation. The library has no randomness of its own: the
// service hands in the operating system's CSPRNG (ISystem::GenRandom), tests may hand in a
// deterministic source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace corvane {

// Fills size bytes at buffer; returns 0, or a non-zero error when no random bytes are available.
using RandomSource = std::function<uint32_t(uint8_t* buffer, size_t size)>;

}  // namespace corvane
