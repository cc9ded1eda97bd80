// Wiping of key material that the compiler may not optimise away.
#pragma once

#include <cstddef>

namespace corvane {

void SecureZero(void* data, size_t size);

}  // namespace corvane
