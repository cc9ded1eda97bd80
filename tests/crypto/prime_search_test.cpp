// The probable-prime test and the sieved search for the next prime, against OpenSSL's primality check.
#include <gtest/gtest.h>

#include <openssl/bn.h>

#include "crypto/rsa_keygen.h"
#include "rsa_test_util.h"

namespace corvane::test {
namespace {

bool OpenSslIsPrime(const CBigNumber& v, BN_CTX* ctx) {
    Bytes bytes(v.ByteLength());
    v.WriteBytes(bytes.data(), bytes.size());
    BIGNUM* bn = BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr);
    const bool prime = BN_check_prime(bn, ctx, nullptr) == 1;
    BN_free(bn);
    return prime;
}

TEST(PrimeSearch, BaseTwoTestSeparatesPrimesFromComposites) {
    struct Case {
        const char* label;
        const char* hex;
        bool prime;
    };
    const Case cases[] = {
        {"65537", "010001", true},
        {"2^61 - 1", "1fffffffffffffff", true},
        {"2^127 - 1", "7fffffffffffffffffffffffffffffff", true},
        {"prime 1 mod 8: 17", "11", true},
        {"prime 7 mod 8: 23", "17", true},
        {"341, a base-2 Fermat pseudoprime", "0155", false},
        {"561, a Carmichael number", "0231", false},
        {"(2^61 - 1)(2^31 - 1)", "0fffffffbfffffff80000001", false},
    };
    for (const auto& c : cases) {
        CBigNumber n;
        const Bytes bytes = Hex(c.hex);
        ASSERT_TRUE(n.SetBytes(bytes.data(), bytes.size()));
        bool passes = !c.prime;
        ASSERT_TRUE(PassesBaseTwoTest(n, passes));
        EXPECT_EQ(passes, c.prime) << c.label;
    }
}

TEST(PrimeSearch, FindsTheNextPrimeThatIsNotOneModuloE) {
    BN_CTX* ctx = BN_CTX_new();
    const RandomSource random = SeededRandom(11);
    for (uint32_t e : {3u, 65537u}) {
        for (int i = 0; i < 3; ++i) {
            CBigNumber start, x, y;
            ASSERT_TRUE(RandomOddNumber(start, 192, random));
            EXPECT_EQ(start.BitLength(), 192u);
            EXPECT_TRUE(start.Bit(190) && start.IsOdd());
            ASSERT_TRUE(x.CopyFrom(start));
            ASSERT_EQ(NextProbablePrime(x, e, 4, random), 0);
            EXPECT_TRUE(OpenSslIsPrime(x, ctx));
            EXPECT_NE(x.ModWord(e), 1u);
            // Every odd number skipped on the way is composite or one modulo e.
            ASSERT_TRUE(y.CopyFrom(start));
            while (CBigNumber::Compare(y, x) < 0) {
                EXPECT_TRUE(!OpenSslIsPrime(y, ctx) || y.ModWord(e) == 1);
                ASSERT_TRUE(y.AddWord(2));
            }
        }
    }
    BN_CTX_free(ctx);
}

}  // namespace
}  // namespace corvane::test
