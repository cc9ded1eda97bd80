#include "crypto/secure_zero.h"

#include <cstring>

namespace corvane {

void SecureZero(void* data, size_t size) {
    if (!data || size == 0) return;
    std::memset(data, 0, size);
    // The barrier tells the compiler the zeroed bytes are still observed, so the store stays even
    // when the memory is freed right afterwards.
#if defined(__GNUC__) || defined(__clang__)
    __asm__ __volatile__("" : : "r"(data) : "memory");
#else
    volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) p[i] = 0;
#endif
}

}  // namespace corvane
