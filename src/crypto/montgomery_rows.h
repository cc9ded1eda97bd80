// The inner loop of the big-number multiplications: t[0..n) += a[0..n) * b, returning the carry
// word. The portable form works on any word size; on x86-64 processors with BMI2 and ADX a form
// with two independent carry chains (MULX, ADCX, ADOX) is used for 64-bit words.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

template <typename Word>
Word MulAddRowPortable(Word* t, const Word* a, Word b, size_t n);

// True when the two-carry-chain row can run on this processor (x86-64 with BMI2 and ADX).
bool HasAdxRows();

// The row kernels as types, so that the Montgomery code is instantiated once per kernel and the
// choice is made once per exponentiation.
template <typename Word>
struct CPortableRow {
    static Word MulAddRow(Word* t, const Word* a, Word b, size_t n) { return MulAddRowPortable(t, a, b, n); }
};

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define CORVANE_HAVE_ADX_ROW 1
// Only to be used when HasAdxRows() is true.
// One limb of the unrolled rows: word k of a times b, added to word k of t with the previous high
// half. Even limbs leave their high half in hi, odd limbs in carry, so no register moves.
#define CORVANE_ADX_LIMB_EVEN(k)                    \
    "mulx 8*(" #k ")(%[a]), %[lo], %[hi]\n\t"          \
    "adcx 8*(" #k ")(%[t]), %[lo]\n\t"                 \
    "adox %[carry], %[lo]\n\t"                       \
    "movq %[lo], 8*(" #k ")(%[t])\n\t"
#define CORVANE_ADX_LIMB_ODD(k)                     \
    "mulx 8*(" #k ")(%[a]), %[lo], %[carry]\n\t"       \
    "adcx 8*(" #k ")(%[t]), %[lo]\n\t"                 \
    "adox %[hi], %[lo]\n\t"                          \
    "movq %[lo], 8*(" #k ")(%[t])\n\t"
#define CORVANE_ADX_LIMBS_8(base)                                                                        \
    CORVANE_ADX_LIMB_EVEN(base + 0) CORVANE_ADX_LIMB_ODD(base + 1) CORVANE_ADX_LIMB_EVEN(base + 2)      \
        CORVANE_ADX_LIMB_ODD(base + 3) CORVANE_ADX_LIMB_EVEN(base + 4) CORVANE_ADX_LIMB_ODD(base + 5) \
            CORVANE_ADX_LIMB_EVEN(base + 6) CORVANE_ADX_LIMB_ODD(base + 7)

struct CAdxRow {
    static inline uint64_t MulAddRow(uint64_t* t, const uint64_t* a, uint64_t b, size_t n) {
        // The sizes of 1024-bit and 2048-bit moduli run fully unrolled.
        if (n == 16) return Unrolled16(t, a, b);
        if (n == 32) {
            const uint64_t carry = Unrolled16(t, a, b);
            return Unrolled16(t + 16, a + 16, b, carry);
        }
        return Loop(t, a, b, n);
    }

    // Sixteen limbs; carry is the high word brought in from limbs below (0 for a row's start). The
    // flags are folded into the returned carry word.
    static inline uint64_t Unrolled16(uint64_t* t, const uint64_t* a, uint64_t b, uint64_t carry = 0) {
        uint64_t lo, hi;
        __asm__ volatile(
            "xorl %k[lo], %k[lo]\n\t"  // clears CF and OF
            CORVANE_ADX_LIMBS_8(0) CORVANE_ADX_LIMBS_8(8)
            "movl $0, %k[lo]\n\t"
            "adcx %[lo], %[carry]\n\t"
            "adox %[lo], %[carry]\n\t"
            : [carry] "+r"(carry), [lo] "=&r"(lo), [hi] "=&r"(hi)
            : [t] "r"(t), [a] "r"(a), "d"(b)
            : "cc", "memory");
        return carry;
    }

    static inline uint64_t Loop(uint64_t* t, const uint64_t* a, uint64_t b, size_t n) {
        // rdx = b for MULX. The low halves are added with ADCX (carry flag chain) and the previous
        // high half with ADOX (overflow flag chain), so the two additions do not wait on each other.
        // The loop counter runs in rcx with LEA and JRCXZ, which leave both flags alone.
        uint64_t lo, hi, carry = 0;
        size_t blocks = n / 4;
        size_t rest = n % 4;
        __asm__ volatile(
            "xorl %k[lo], %k[lo]\n\t"  // clears CF and OF
            "jrcxz 2f\n"
            "1:\n\t"
            "mulx 0(%[a]), %[lo], %[hi]\n\t"
            "adcx 0(%[t]), %[lo]\n\t"
            "adox %[carry], %[lo]\n\t"
            "movq %[lo], 0(%[t])\n\t"
            "mulx 8(%[a]), %[lo], %[carry]\n\t"
            "adcx 8(%[t]), %[lo]\n\t"
            "adox %[hi], %[lo]\n\t"
            "movq %[lo], 8(%[t])\n\t"
            "mulx 16(%[a]), %[lo], %[hi]\n\t"
            "adcx 16(%[t]), %[lo]\n\t"
            "adox %[carry], %[lo]\n\t"
            "movq %[lo], 16(%[t])\n\t"
            "mulx 24(%[a]), %[lo], %[carry]\n\t"
            "adcx 24(%[t]), %[lo]\n\t"
            "adox %[hi], %[lo]\n\t"
            "movq %[lo], 24(%[t])\n\t"
            "leaq 32(%[a]), %[a]\n\t"
            "leaq 32(%[t]), %[t]\n\t"
            "leaq -1(%%rcx), %%rcx\n\t"
            "jrcxz 2f\n\t"
            "jmp 1b\n"
            "2:\n\t"
            "movq %[rest], %%rcx\n\t"
            "jrcxz 4f\n"
            "3:\n\t"
            "mulx 0(%[a]), %[lo], %[hi]\n\t"
            "adcx 0(%[t]), %[lo]\n\t"
            "adox %[carry], %[lo]\n\t"
            "movq %[lo], 0(%[t])\n\t"
            "movq %[hi], %[carry]\n\t"
            "leaq 8(%[a]), %[a]\n\t"
            "leaq 8(%[t]), %[t]\n\t"
            "leaq -1(%%rcx), %%rcx\n\t"
            "jrcxz 4f\n\t"
            "jmp 3b\n"
            "4:\n\t"
            // carry += CF + OF (the true carry word always fits).
            "movl $0, %k[lo]\n\t"
            "adcx %[lo], %[carry]\n\t"
            "adox %[lo], %[carry]\n\t"
            : [t] "+r"(t), [a] "+r"(a), [carry] "+r"(carry), [lo] "=&r"(lo), [hi] "=&r"(hi), "+c"(blocks)
            : "d"(b), [rest] "r"(rest)
            : "cc", "memory");
        return carry;
    }
};
#endif

}  // namespace corvane
