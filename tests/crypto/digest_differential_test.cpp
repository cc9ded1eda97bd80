// Random messages, fed in random pieces, through every digest OpenSSL also has; and the SHA
// instruction path against the portable compression function.
#include <gtest/gtest.h>

#include "crypto/digest.h"
#include "crypto/sha1.h"
#include "crypto/sha256.h"
#include "crypto/sha_extensions.h"
#include "crypto_test_util.h"
#include "openssl_oracle.h"

namespace corvane::test {
namespace {

TEST(DigestDifferential, MatchesOpenSslForRandomMessagesAndSplits) {
    const uint32_t algorithms[] = {DigestAlg::Sha1,   DigestAlg::Md5,    DigestAlg::Sha224,
                                   DigestAlg::Sha256, DigestAlg::Sha384, DigestAlg::Sha512};
    TestRandom rnd(20240611);
    for (uint32_t algorithm : algorithms) {
        for (int iteration = 0; iteration < 40; ++iteration) {
            const Bytes msg = rnd.Take(rnd.Below(iteration < 20 ? 300 : 3000));
            DigestHandle h = nullptr;
            ASSERT_EQ(DigestCreate(&h, algorithm), 0);
            size_t offset = 0;
            while (offset < msg.size()) {
                const size_t n = 1 + rnd.Below(msg.size() - offset);
                ASSERT_EQ(DigestUpdate(h, msg.data() + offset, static_cast<uint32_t>(n)), 0);
                offset += n;
            }
            Bytes digest(DigestSize(algorithm));
            ASSERT_EQ(DigestFinal(h, digest.data()), 0);
            ASSERT_EQ(DigestDestroy(h), 0);
            EXPECT_EQ(ToHex(digest), ToHex(OpenSslDigest(algorithm, msg)))
                << "algorithm " << algorithm << ", " << msg.size() << " bytes";
        }
    }
}

TEST(DigestDifferential, ShaInstructionsAgreeWithThePortableCompression) {
    if (!HasShaExtensions()) GTEST_SKIP() << "no SHA instructions on this processor";
    TestRandom rnd(99);
    for (size_t blocks = 1; blocks <= 5; ++blocks) {
        const Bytes data = rnd.Take(64 * blocks);
        uint32_t a1[5] = {1, 2, 3, 4, 5}, b1[5] = {1, 2, 3, 4, 5};
        Sha1CompressPortable(a1, data.data(), blocks);
        Sha1CompressShaExtensions(b1, data.data(), blocks);
        EXPECT_EQ(ToHex(reinterpret_cast<uint8_t*>(a1), 20), ToHex(reinterpret_cast<uint8_t*>(b1), 20));
        uint32_t a2[8] = {8, 7, 6, 5, 4, 3, 2, 1}, b2[8] = {8, 7, 6, 5, 4, 3, 2, 1};
        Sha256CompressPortable(a2, data.data(), blocks);
        Sha256CompressShaExtensions(b2, data.data(), blocks);
        EXPECT_EQ(ToHex(reinterpret_cast<uint8_t*>(a2), 32), ToHex(reinterpret_cast<uint8_t*>(b2), 32));
    }
}

}  // namespace
}  // namespace corvane::test
