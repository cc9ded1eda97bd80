// The blinding pair kept across a key's private operations: the results are the plain
// operation's, the random source is drawn once per round of uses, a pair never serves another
// key, without randomness a used-up pair is not replaced by an unblinded operation, and one pair
// serves several threads. The modular product it squares with is checked on its own.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "crypto/big_number.h"
#include "crypto/montgomery.h"
#include "crypto/rsa.h"
#include "crypto/rsa_blinding.h"
#include "crypto/rsa_test_util.h"

namespace corvane::test {
namespace {

// Two 1024-bit keys, made once for the program from fixed seeds.
RsaHandle Key(int which) {
    static RsaHandle keys[2] = {};
    if (!keys[which]) {
        EXPECT_EQ(RsaGenerate(&keys[which], 1024, 65537, SeededRandom(500 + which)), 0);
    }
    return keys[which];
}

constexpr uint32_t kLength = 128;

Bytes Block(TestRandom& rnd) {
    Bytes x = rnd.Take(kLength);
    x[0] &= 0x3F;  // below the modulus
    return x;
}

Bytes Plain(RsaHandle key, const Bytes& x) {
    Bytes y(kLength);
    EXPECT_EQ(RsaPrivate(key, x.data(), kLength, y.data()), 0);
    return y;
}

// A seeded source that counts its draws and can be switched off.
struct CountingSource {
    RandomSource inner = SeededRandom(77);
    std::atomic<int> draws {0};
    std::atomic<bool> failing {false};
    RandomSource Source() {
        return [this](uint8_t* buffer, size_t size) {
            ++draws;
            return failing ? uint32_t {1} : inner(buffer, size);
        };
    }
};

TEST(RsaBlinding, KeptPairGivesThePlainResultAndIsDrawnOncePerRound) {
    CountingSource counting;
    const RandomSource source = counting.Source();
    CRsaBlinding blinding;
    TestRandom rnd(31);
    const uint32_t operations = 2 * CRsaBlinding::kUsesPerPair + 1;
    for (uint32_t i = 0; i < operations; ++i) {
        Bytes x = Block(rnd);
        if (i == 1) std::fill(x.begin(), x.end(), 0);  // zero stays zero
        Bytes y(kLength);
        ASSERT_EQ(RsaPrivateBlinded(Key(0), x.data(), kLength, y.data(), source, blinding), 0) << i;
        ASSERT_EQ(ToHex(y), ToHex(Plain(Key(0), x))) << i;
        EXPECT_EQ(counting.draws.load(), static_cast<int>(i / CRsaBlinding::kUsesPerPair + 1)) << i;
    }
    // In place, as the callers work.
    Bytes x = Block(rnd);
    const Bytes expected = Plain(Key(0), x);
    ASSERT_EQ(RsaPrivateBlinded(Key(0), x.data(), kLength, x.data(), source, blinding), 0);
    EXPECT_EQ(ToHex(x), ToHex(expected));
}

TEST(RsaBlinding, APairIsNeverUsedWithAnotherKey) {
    CountingSource counting;
    const RandomSource source = counting.Source();
    CRsaBlinding blinding;
    TestRandom rnd(32);
    for (int which : {0, 1, 0}) {
        const int before = counting.draws.load();
        const Bytes x = Block(rnd);
        Bytes y(kLength);
        ASSERT_EQ(RsaPrivateBlinded(Key(which), x.data(), kLength, y.data(), source, blinding), 0);
        EXPECT_EQ(ToHex(y), ToHex(Plain(Key(which), x)));
        EXPECT_EQ(counting.draws.load(), before + 1) << "a fresh pair for key " << which;
    }
}

TEST(RsaBlinding, WithoutRandomnessAUsedUpPairFailsTheOperation) {
    CountingSource counting;
    const RandomSource source = counting.Source();
    CRsaBlinding blinding;
    TestRandom rnd(33);
    const Bytes x = Block(rnd);
    const Bytes expected = Plain(Key(0), x);
    Bytes y(kLength);
    counting.failing = true;
    EXPECT_EQ(RsaPrivateBlinded(Key(0), x.data(), kLength, y.data(), source, blinding), CryptoStatus::InternalFailure);
    counting.failing = false;
    ASSERT_EQ(RsaPrivateBlinded(Key(0), x.data(), kLength, y.data(), source, blinding), 0);
    counting.failing = true;
    for (uint32_t use = 2; use <= CRsaBlinding::kUsesPerPair; ++use) {
        ASSERT_EQ(RsaPrivateBlinded(Key(0), x.data(), kLength, y.data(), source, blinding), 0) << use;
        EXPECT_EQ(ToHex(y), ToHex(expected));
    }
    EXPECT_EQ(RsaPrivateBlinded(Key(0), x.data(), kLength, y.data(), source, blinding), CryptoStatus::InternalFailure);
    EXPECT_EQ(RsaPrivateBlinded(Key(0), x.data(), 3, y.data(), source, blinding), CryptoStatus::RsaBadLength);
}

TEST(RsaBlinding, OnePairServesSeveralThreads) {
    CountingSource counting;
    const RandomSource source = counting.Source();
    CRsaBlinding blinding;
    // Inputs and their plain results, made before the threads start.
    TestRandom rnd(34);
    std::vector<Bytes> inputs, expected;
    for (int i = 0; i < 24; ++i) {
        inputs.push_back(Block(rnd));
        expected.push_back(Plain(Key(0), inputs.back()));
    }
    std::atomic<int> wrong {0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (size_t i = 0; i < inputs.size(); ++i) {
                const size_t k = (i + static_cast<size_t>(t) * 5) % inputs.size();
                Bytes y(kLength);
                if (RsaPrivateBlinded(Key(0), inputs[k].data(), kLength, y.data(), source, blinding) != 0 ||
                    y != expected[k]) {
                    ++wrong;
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(counting.draws.load(), static_cast<int>((4 * inputs.size() + CRsaBlinding::kUsesPerPair - 1) /
                                                      CRsaBlinding::kUsesPerPair));
}

// The product the pair is squared and applied with, against the division-based one, for inputs
// below the modulus and at or above it.
TEST(RsaBlinding, MontgomeryProductMatchesMultiplyThenDivide) {
    TestRandom rnd(35);
    for (size_t bytes : {8u, 64u, 128u, 256u}) {
        Bytes nBytes = rnd.Take(bytes);
        nBytes[0] |= 0x80;
        nBytes.back() |= 1;
        CBigNumber n;
        ASSERT_TRUE(n.SetBytes(nBytes.data(), nBytes.size()));
        CMontgomery mont;
        ASSERT_TRUE(mont.Init(n));
        for (size_t aSize : {bytes - 1, bytes, bytes + 3}) {
            SCOPED_TRACE(testing::Message() << bytes << "-byte modulus, " << aSize << "-byte factor");
            const Bytes aBytes = rnd.Take(aSize), bBytes = rnd.Take(bytes - 1);
            CBigNumber a, b, product, expected, got;
            ASSERT_TRUE(a.SetBytes(aBytes.data(), aBytes.size()) && b.SetBytes(bBytes.data(), bBytes.size()));
            ASSERT_TRUE(CBigNumber::Mul(product, a, b) && CBigNumber::Mod(expected, product, n));
            ASSERT_TRUE(mont.MulMod(got, a, b));
            EXPECT_EQ(CBigNumber::Compare(got, expected), 0);
            // Squared in place, as the pair is.
            ASSERT_TRUE(CBigNumber::Sqr(product, a) && CBigNumber::Mod(expected, product, n));
            ASSERT_TRUE(mont.MulMod(a, a, a));
            EXPECT_EQ(CBigNumber::Compare(a, expected), 0);
        }
    }
}

}  // namespace
}  // namespace corvane::test
