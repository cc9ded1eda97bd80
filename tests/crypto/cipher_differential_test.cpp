// Random keys and messages through every cipher, mode and padding case, fed in random chunks and
// compared with OpenSSL.
#include <gtest/gtest.h>

#include "cipher_test_util.h"
#include "openssl_oracle.h"

namespace corvane::test {
namespace {

struct CipherCase {
    const char* label;
    uint32_t algorithm;
    size_t minKey;
    size_t maxKey;
    size_t block;  // 0 for a stream cipher
};

const CipherCase kCases[] = {
    {"des", CipherAlg::Des, 8, 15, 8},
    {"tdes2", CipherAlg::Des, 16, 23, 8},
    {"tdes3", CipherAlg::Des, 24, 40, 8},
    {"aes128", CipherAlg::Aes, 16, 16, 16},
    {"aes192", CipherAlg::Aes, 24, 24, 16},
    {"aes256", CipherAlg::Aes, 32, 32, 16},
    {"rc2", CipherAlg::Rc2, 1, 140, 8},
    {"rc4", CipherAlg::Rc4, 1, 64, 0},
};

std::vector<size_t> RandomChunks(TestRandom& rnd, size_t total) {
    std::vector<size_t> chunks;
    size_t used = 0;
    while (used < total && rnd.Below(4)) {
        const size_t n = rnd.Below(total - used + 1);
        chunks.push_back(n);
        used += n;
    }
    return chunks;
}

class CipherDifferential : public ::testing::TestWithParam<CipherCase> {};

TEST_P(CipherDifferential, MatchesOpenSslInEveryModeAndChunking) {
    const CipherCase& c = GetParam();
    TestRandom rnd(0xC0FFEE ^ c.algorithm ^ (c.minKey << 8));
    for (int iteration = 0; iteration < 60; ++iteration) {
        const Bytes key = rnd.Take(c.minKey + rnd.Below(c.maxKey - c.minKey + 1));
        const bool cbc = c.block && rnd.Below(2);
        const size_t length = cbc || !c.block ? rnd.Below(100) : c.block * rnd.Below(12);
        const Bytes msg = rnd.Take(length);
        SCOPED_TRACE(testing::Message() << c.label << " key " << ToHex(key) << (cbc ? " cbc" : " ecb") << " msg "
                                        << ToHex(msg));
        const auto expected = OpenSslCrypt(c.algorithm, key, cbc, cbc, true, msg);
        ASSERT_TRUE(expected);
        const CipherRun enc = RunCipher(c.algorithm, key, cbc, true, msg, RandomChunks(rnd, msg.size()));
        ASSERT_EQ(enc.status, 0);
        EXPECT_EQ(ToHex(enc.out), ToHex(*expected));
        const CipherRun dec = RunCipher(c.algorithm, key, cbc, false, *expected, RandomChunks(rnd, expected->size()));
        ASSERT_EQ(dec.status, 0);
        EXPECT_EQ(ToHex(dec.out), ToHex(msg));
    }
}

// Block ciphers only: a stream cipher has no padding.
class CipherPaddingDifferential : public ::testing::TestWithParam<CipherCase> {};

TEST_P(CipherPaddingDifferential, CorruptedCiphertextIsRefusedWhereOpenSslRefusesIt) {
    const CipherCase& c = GetParam();
    TestRandom rnd(0xBADBAD ^ c.algorithm ^ c.minKey);
    for (int iteration = 0; iteration < 40; ++iteration) {
        const Bytes key = rnd.Take(c.minKey + rnd.Below(c.maxKey - c.minKey + 1));
        Bytes cipher = rnd.Take(c.block * (1 + rnd.Below(4)));
        const auto expected = OpenSslCrypt(c.algorithm, key, true, true, false, cipher);
        const CipherRun dec = RunCipher(c.algorithm, key, true, false, cipher, RandomChunks(rnd, cipher.size()));
        if (expected) {
            EXPECT_EQ(dec.status, 0);
            EXPECT_EQ(ToHex(dec.out), ToHex(*expected));
        } else {
            EXPECT_EQ(dec.status, CryptoStatus::BadPadding);
        }
    }
}

std::string CaseName(const ::testing::TestParamInfo<CipherCase>& info) { return info.param.label; }

INSTANTIATE_TEST_SUITE_P(AllCiphers, CipherDifferential, ::testing::ValuesIn(kCases), CaseName);
INSTANTIATE_TEST_SUITE_P(BlockCiphers, CipherPaddingDifferential, ::testing::ValuesIn(kCases, kCases + 7), CaseName);

}  // namespace
}  // namespace corvane::test
