#include "crypto/montgomery_rows.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define CORVANE_ADX_ROWS 1
#include <cpuid.h>
#endif

namespace corvane {

namespace {
template <typename Word>
struct Wide;
template <>
struct Wide<uint32_t> {
    using Type = uint64_t;
};
#if defined(__SIZEOF_INT128__)
template <>
struct Wide<uint64_t> {
    __extension__ typedef unsigned __int128 Type;
};
#endif
}  // namespace

template <typename Word>
Word MulAddRowPortable(Word* t, const Word* a, Word b, size_t n) {
    using D = typename Wide<Word>::Type;
    Word carry = 0;
    for (size_t j = 0; j < n; ++j) {
        const D x = static_cast<D>(a[j]) * b + t[j] + carry;
        t[j] = static_cast<Word>(x);
        carry = static_cast<Word>(x >> (8 * sizeof(Word)));
    }
    return carry;
}

template uint32_t MulAddRowPortable<uint32_t>(uint32_t*, const uint32_t*, uint32_t, size_t);
#if defined(__SIZEOF_INT128__)
template uint64_t MulAddRowPortable<uint64_t>(uint64_t*, const uint64_t*, uint64_t, size_t);
#endif

#if CORVANE_ADX_ROWS

bool HasAdxRows() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    const bool bmi2 = (b >> 8) & 1;
    const bool adx = (b >> 19) & 1;
    return bmi2 && adx;
}

#else

bool HasAdxRows() { return false; }

#endif

}  // namespace corvane
