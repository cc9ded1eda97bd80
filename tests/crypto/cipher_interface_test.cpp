// The rules of the cipher handle interface: hold-back and padding, size queries, status codes,
// handle checks.
#include <gtest/gtest.h>

#include "cipher_test_util.h"
#include "crypto/digest.h"
#include "openssl_oracle.h"

namespace corvane::test {
namespace {

const Bytes kTwoKey = Hex("0123456789abcdef fedcba9876543210");

// A two-key triple DES context in CBC with PKCS#7 padding and a zero IV, as the service uses it.
class SessionCipher : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CipherCreate(&m_h, CipherAlg::Des, kTwoKey.data(), 16), 0);
        ASSERT_EQ(CipherReset(m_h), 0);
    }
    void TearDown() override {
        if (m_h) CipherDestroy(m_h);
    }
    int32_t Update(const Bytes& in, Bytes& out, bool encrypt, uint32_t capacity = 64) {
        out.assign(capacity, 0xEE);
        uint32_t n = capacity;
        const int32_t rc = CipherUpdate(m_h, in.data(), static_cast<uint32_t>(in.size()), out.data(), &n, encrypt);
        out.resize(rc == 0 ? n : 0);
        m_lastLength = n;
        return rc;
    }
    int32_t Final(Bytes& out, uint32_t capacity = 16) {
        out.assign(capacity, 0xEE);
        uint32_t n = capacity;
        const int32_t rc = CipherFinal(m_h, out.data(), &n);
        m_lastLength = n;
        out.resize(n <= capacity ? n : capacity);
        return rc;
    }
    CipherHandle m_h = nullptr;
    uint32_t m_lastLength = 0;
};

TEST_F(SessionCipher, FourBytesEncryptToOneBlockAllFromFinalAndDecryptBack) {
    Bytes out, last;
    ASSERT_EQ(Update(Hex("01020304"), out, true), 0);
    EXPECT_TRUE(out.empty());
    ASSERT_EQ(Final(last), 0);
    ASSERT_EQ(last.size(), 8u);
    EXPECT_EQ(last, *OpenSslCrypt(CipherAlg::Des, kTwoKey, true, true, true, Hex("01020304")));

    Bytes plain, tail;
    ASSERT_EQ(Update(last, plain, false), 0);
    EXPECT_TRUE(plain.empty()) << "the only block is held back for the padding check";
    ASSERT_EQ(Final(tail), 0);
    EXPECT_EQ(tail, Hex("01020304"));
}

TEST_F(SessionCipher, SixteenBytesGiveTwoBlocksFromUpdateAndAWholePaddingBlockFromFinal) {
    const Bytes msg = Hex("00112233445566778899aabbccddeeff");
    Bytes out, last;
    ASSERT_EQ(Update(msg, out, true), 0);
    EXPECT_EQ(out.size(), 16u);
    ASSERT_EQ(Final(last), 0);
    ASSERT_EQ(last.size(), 8u);
    Bytes all = out;
    all.insert(all.end(), last.begin(), last.end());
    const auto raw = OpenSslCrypt(CipherAlg::Des, kTwoKey, true, false, false, all);
    ASSERT_TRUE(raw);
    EXPECT_EQ(ToHex(*raw), ToHex(msg) + "0808080808080808");
}

TEST_F(SessionCipher, DecryptingTwoBlocksInOneUpdateReleasesOnlyTheFirst) {
    const Bytes cipher = *OpenSslCrypt(CipherAlg::Des, kTwoKey, true, true, true, Hex("0102030405060708090a"));
    ASSERT_EQ(cipher.size(), 16u);
    Bytes out, last;
    ASSERT_EQ(Update(cipher, out, false), 0);
    EXPECT_EQ(out, Hex("0102030405060708"));
    ASSERT_EQ(Final(last), 0);
    EXPECT_EQ(last, Hex("090a"));
}

TEST_F(SessionCipher, BadPaddingIsReportedAndTheRawBlockHandedOut) {
    const Bytes blocks[] = {Hex("0102030405060700"), Hex("0102030405060709"), Hex("0102030405060302")};
    for (const Bytes& plainBlock : blocks) {
        const Bytes cipher = *OpenSslCrypt(CipherAlg::Des, kTwoKey, true, false, true, plainBlock);
        Bytes out, last;
        ASSERT_EQ(Update(cipher, out, false), 0);
        EXPECT_EQ(Final(last), CryptoStatus::BadPadding) << ToHex(plainBlock);
        EXPECT_EQ(m_lastLength, 8u);
        EXPECT_EQ(last, plainBlock);
    }
}

TEST_F(SessionCipher, BadPaddingWithShortCapacityStoresTheBlockSizeAndCopiesNothing) {
    const Bytes cipher = *OpenSslCrypt(CipherAlg::Des, kTwoKey, true, false, true, Hex("0102030405060700"));
    Bytes out;
    ASSERT_EQ(Update(cipher, out, false), 0);
    uint8_t buf[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    uint32_t n = sizeof buf;
    EXPECT_EQ(CipherFinal(m_h, buf, &n), CryptoStatus::BadPadding);
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(buf[0], 0xEE);
}

TEST_F(SessionCipher, EncryptingAfterAnUnfinishedDecryptionFailsWithDirectionChanged) {
    Bytes out;
    ASSERT_EQ(Update(Hex("0011223344556677"), out, false), 0);
    EXPECT_EQ(Update(Hex("00"), out, true), CryptoStatus::DirectionChanged);
    // CipherReset leaves the direction; CipherRestart clears it.
    ASSERT_EQ(CipherReset(m_h), 0);
    EXPECT_EQ(Update(Hex("00"), out, true), CryptoStatus::DirectionChanged);
    ASSERT_EQ(CipherRestart(m_h), 0);
    EXPECT_EQ(Update(Hex("00"), out, true), 0);
}

TEST_F(SessionCipher, FinalRestartsSoTheNextMessageStartsFromTheIv) {
    const Bytes msg = Ascii("same message, twice");
    const CipherRun first = FeedMessage(m_h, msg, true);
    const CipherRun second = FeedMessage(m_h, msg, true);
    ASSERT_EQ(first.status, 0);
    EXPECT_EQ(first.out, second.out);
    const CipherRun back = FeedMessage(m_h, first.out, false);
    ASSERT_EQ(back.status, 0);
    EXPECT_EQ(back.out, msg);
}

TEST_F(SessionCipher, SizeQueriesReportWholeBlocksAndTheFinalBlock) {
    uint32_t n = 0;
    ASSERT_EQ(CipherUpdate(m_h, nullptr, 13, nullptr, &n, true), 0);
    EXPECT_EQ(n, 8u);
    Bytes out;
    ASSERT_EQ(Update(Hex("010203"), out, true), 0);
    ASSERT_EQ(CipherUpdate(m_h, nullptr, 13, nullptr, &n, true), 0);
    EXPECT_EQ(n, 16u) << "3 pending + 13 = two whole blocks";
    ASSERT_EQ(CipherFinal(m_h, nullptr, &n), 0);
    EXPECT_EQ(n, 8u);
}

TEST_F(SessionCipher, ShortCapacitiesAreRefusedWithTheNeededLength) {
    Bytes out;
    // 20 bytes encrypt to two whole blocks now; room for one is refused with the size needed.
    EXPECT_EQ(Update(Bytes(20, 1), out, true, 8), CryptoStatus::BufferTooSmall);
    EXPECT_EQ(m_lastLength, 16u);
    // The refusal changed nothing: the same call with room succeeds and matches OpenSSL.
    ASSERT_EQ(Update(Bytes(20, 1), out, true, 16), 0);
    Bytes last;
    EXPECT_EQ(Final(last, 7), CryptoStatus::BufferTooSmall);

    ASSERT_EQ(CipherRestart(m_h), 0);
    const Bytes cipher = *OpenSslCrypt(CipherAlg::Des, kTwoKey, true, true, true, Hex("0102030405"));
    ASSERT_EQ(Update(cipher, out, false), 0);
    EXPECT_EQ(Final(last, 4), CryptoStatus::BufferTooSmall);
    EXPECT_EQ(m_lastLength, 5u) << "the plaintext length is stored";
}

TEST_F(SessionCipher, PendingBytesWithRoomForLessThanABlockAreRefusedWithoutALength) {
    Bytes out;
    ASSERT_EQ(Update(Hex("0102"), out, true), 0);
    EXPECT_EQ(Update(Bytes(10, 3), out, true, 7), CryptoStatus::BufferTooSmall);
    EXPECT_EQ(m_lastLength, 7u);
}

TEST_F(SessionCipher, InPlaceUpdatesWithPendingBytesMatchSeparateBuffers) {
    TestRandom rnd(7);
    const Bytes msg = rnd.Take(77);
    const CipherRun expected = FeedMessage(m_h, msg, true);
    ASSERT_EQ(expected.status, 0);
    // Same message, fed as 5 + 72 bytes, each call working in place in one buffer.
    Bytes buf(msg.size() + 16);
    std::copy(msg.begin(), msg.end(), buf.begin());
    uint32_t n1 = 5, n2 = 72 + 16, n3 = 16;
    ASSERT_EQ(CipherUpdate(m_h, buf.data(), 5, buf.data(), &n1, true), 0);
    EXPECT_EQ(n1, 0u);
    ASSERT_EQ(CipherUpdate(m_h, buf.data() + 5, 72, buf.data(), &n2, true), 0);
    ASSERT_EQ(n2, 72u);
    ASSERT_EQ(CipherFinal(m_h, buf.data() + n2, &n3), 0);
    buf.resize(n2 + n3);
    EXPECT_EQ(buf, expected.out);
}

TEST(CipherArguments, StatusCodesForBadArguments) {
    CipherHandle h = nullptr;
    const Bytes key(16, 1);
    EXPECT_EQ(CipherCreate(nullptr, CipherAlg::Aes, key.data(), 16), CryptoStatus::NullPointer);
    EXPECT_EQ(CipherCreate(&h, 2, key.data(), 16), CryptoStatus::UnknownAlgorithm);
    EXPECT_EQ(CipherCreate(&h, CipherAlg::Aes, nullptr, 16), CryptoStatus::NullPointer);
    EXPECT_EQ(CipherCreate(&h, CipherAlg::Aes, key.data(), 20), CryptoStatus::BadAesKeyLength);
    ASSERT_EQ(CipherCreate(&h, CipherAlg::Aes, key.data(), 16), 0);
    uint8_t out[32];
    uint32_t n = sizeof out;
    EXPECT_EQ(CipherUpdate(h, key.data(), 16, nullptr, nullptr, true), CryptoStatus::InvalidArguments);
    EXPECT_EQ(CipherUpdate(h, nullptr, 16, out, &n, true), CryptoStatus::InvalidArguments);
    EXPECT_EQ(CipherFinal(h, nullptr, nullptr), CryptoStatus::InvalidArguments);
    EXPECT_EQ(CipherDestroy(h), 0);
}

TEST(CipherArguments, EcbWithoutPaddingRefusesAPartialLastBlock) {
    CipherHandle h = nullptr;
    const Bytes key(8, 0x5A);
    ASSERT_EQ(CipherCreate(&h, CipherAlg::Des, key.data(), 8), 0);
    uint8_t out[16];
    uint32_t n = sizeof out;
    ASSERT_EQ(CipherUpdate(h, key.data(), 3, out, &n, true), 0);
    EXPECT_EQ(n, 0u);
    n = sizeof out;
    EXPECT_EQ(CipherFinal(h, out, &n), CryptoStatus::NotWholeBlocks);
    EXPECT_EQ(n, 0u);
    // Final restarted the context: a whole block now goes through.
    n = sizeof out;
    ASSERT_EQ(CipherUpdate(h, key.data(), 8, out, &n, true), 0);
    EXPECT_EQ(n, 8u);
    n = sizeof out;
    EXPECT_EQ(CipherFinal(h, out, &n), 0);
    CipherDestroy(h);
}

TEST(CipherArguments, TripleDesWithAKeyShorterThanEightBytesIsCreatedButCannotProcess) {
    CipherHandle h = nullptr;
    const Bytes key(7, 1);
    ASSERT_EQ(CipherCreate(&h, CipherAlg::Des, key.data(), 7), 0);
    uint8_t out[16];
    uint32_t n = sizeof out;
    EXPECT_EQ(CipherUpdate(h, key.data(), 7, out, &n, true), 0) << "a partial block is only held";
    n = sizeof out;
    EXPECT_EQ(CipherUpdate(h, out, 8, out, &n, true), CryptoStatus::InvalidHandle);
    EXPECT_EQ(CipherDestroy(h), 0);
}

TEST(CipherArguments, Rc4WritesAsItReadsAndChecksTheCapacity) {
    CipherHandle h = nullptr;
    const Bytes key = Ascii("Key");
    ASSERT_EQ(CipherCreate(&h, CipherAlg::Rc4, key.data(), 3), 0);
    EXPECT_EQ(CipherReset(h), 0);  // nothing to do for a stream cipher
    const Bytes msg = Ascii("Plaintext");
    uint8_t out[16];
    uint32_t n = 4;
    EXPECT_EQ(CipherUpdate(h, msg.data(), 9, out, &n, true), CryptoStatus::BufferTooSmall);
    n = 0;
    ASSERT_EQ(CipherUpdate(h, msg.data(), 9, nullptr, &n, true), 0);
    EXPECT_EQ(n, 9u);
    n = sizeof out;
    ASSERT_EQ(CipherUpdate(h, msg.data(), 9, out, &n, true), 0);
    EXPECT_EQ(ToHex(out, n), "bbf316e8d940af0ad3");
    n = 99;
    EXPECT_EQ(CipherFinal(h, out, &n), 0);
    EXPECT_EQ(n, 0u);
    CipherDestroy(h);
}

TEST(CipherHandles, NullStaleAndForeignHandlesAreRefused) {
    CipherHandle h = nullptr;
    const Bytes key(16, 7);
    uint8_t out[16];
    uint32_t n = sizeof out;
    EXPECT_EQ(CipherUpdate(nullptr, key.data(), 8, out, &n, true), CryptoStatus::InvalidHandle);
    EXPECT_EQ(CipherReset(nullptr), CryptoStatus::InvalidHandle);

    ASSERT_EQ(CipherCreate(&h, CipherAlg::Aes, key.data(), 16), 0);
    ASSERT_EQ(CipherDestroy(h), 0);
    EXPECT_EQ(CipherUpdate(h, key.data(), 8, out, &n, true), CryptoStatus::InvalidHandle);
    EXPECT_EQ(CipherFinal(h, out, &n), CryptoStatus::InvalidHandle);
    EXPECT_EQ(CipherRestart(h), CryptoStatus::InvalidHandle);
    EXPECT_EQ(CipherDestroy(h), CryptoStatus::InvalidHandle);

    DigestHandle d = nullptr;
    ASSERT_EQ(DigestCreate(&d, DigestAlg::Sha256), 0);
    EXPECT_EQ(CipherReset(reinterpret_cast<CipherHandle>(d)), CryptoStatus::InvalidHandle);
    EXPECT_EQ(CipherDestroy(reinterpret_cast<CipherHandle>(d)), CryptoStatus::InvalidHandle);
    // The raw record address (a handle without its bias) is no handle either.
    ASSERT_EQ(CipherCreate(&h, CipherAlg::Aes, key.data(), 16), 0);
    EXPECT_EQ(CipherReset(reinterpret_cast<CipherHandle>(reinterpret_cast<uintptr_t>(h) - 0x2CF10)),
              CryptoStatus::InvalidHandle);
    EXPECT_EQ(CipherDestroy(h), 0);
    EXPECT_EQ(DigestDestroy(d), 0);
}

TEST(DigestInterface, StatusCodes) {
    DigestHandle d = nullptr;
    EXPECT_EQ(DigestCreate(nullptr, DigestAlg::Sha1), CryptoStatus::NullPointer);
    EXPECT_EQ(DigestCreate(&d, 104), CryptoStatus::UnknownAlgorithm);
    EXPECT_EQ(DigestUpdate(nullptr, nullptr, 0), CryptoStatus::InvalidHandle);
    ASSERT_EQ(DigestCreate(&d, DigestAlg::Sha1), 0);
    EXPECT_EQ(DigestUpdate(d, nullptr, 3), CryptoStatus::NullPointer);
    EXPECT_EQ(DigestFinal(d, nullptr), CryptoStatus::NullPointer);
    EXPECT_EQ(DigestDestroy(d), 0);
    uint8_t digest[20];
    EXPECT_EQ(DigestFinal(d, digest), CryptoStatus::InvalidHandle);
    EXPECT_EQ(DigestDestroy(d), CryptoStatus::InvalidHandle);
}

}  // namespace
}  // namespace corvane::test
